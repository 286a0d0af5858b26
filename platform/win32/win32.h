// Private to platform/win32: the Windows headers, then platform.h.
//
// <windows.h> defines macros that rename several functions (CreateEvent to
// CreateEventA, PostMessage to PostMessageA, ...) which platform.h declares
// under the same names in rvx::os. The macros are removed here, so every
// win32 file calls the A-suffixed functions by name and qualifies Win32 calls
// with :: (an unqualified Sleep would find rvx::os::Sleep).
#ifndef RVX_PLATFORM_WIN32_WIN32_H_
#define RVX_PLATFORM_WIN32_WIN32_H_

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
#include <winver.h>

#undef CreateEvent
#undef DispatchMessage
#undef GetFileAttributes
#undef PeekMessage
#undef PostMessage
#undef SetFileAttributes

#include "platform/platform.h"

#endif  // RVX_PLATFORM_WIN32_WIN32_H_
