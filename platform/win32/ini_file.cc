// INI files and file attributes: the Windows private-profile functions.
#include <io.h>

#include "platform/win32/win32.h"

namespace rvx::os {

int32_t ReadIniInt(const char* section, const char* key, int32_t default_value, const char* path) {
  // The UINT carries the signed value ("-5" reads as 0xFFFFFFFB).
  return static_cast<int32_t>(::GetPrivateProfileIntA(section, key, default_value, path));
}

bool WriteIniString(const char* section, const char* key, const char* value, const char* path) {
  return ::WritePrivateProfileStringA(section, key, value, path) != FALSE;
}

bool SetFileAttributes(const char* path, uint32_t attributes) {
  return ::SetFileAttributesA(path, attributes) != FALSE;
}

uint32_t GetFileAttributes(const char* path) {
  const DWORD attributes = ::GetFileAttributesA(path);
  return attributes == INVALID_FILE_ATTRIBUTES ? 0 : attributes;
}

bool SyncFile(FILE* file) {
  if (fflush(file) != 0) return false;
  const HANDLE handle = reinterpret_cast<HANDLE>(_get_osfhandle(_fileno(file)));
  return handle != INVALID_HANDLE_VALUE && ::FlushFileBuffers(handle) != FALSE;
}

bool MoveFileOver(const char* from, const char* to) {
  return ::MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != FALSE;
}

}  // namespace rvx::os
