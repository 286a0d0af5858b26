// INI files and file attributes: the Windows private-profile functions.
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

}  // namespace rvx::os
