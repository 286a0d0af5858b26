// Processor architecture, environment, install location, version resources.
#include <cstring>
#include <vector>

#include "platform/win32/win32.h"

namespace rvx::os {

uint16_t NativeArchitecture() {
  // GetNativeSystemInfo is looked up, not linked, so that systems without it
  // still load the library; GetSystemInfo then answers.
  using GetNativeSystemInfoFn = void(WINAPI*)(LPSYSTEM_INFO);
  SYSTEM_INFO info = {};
  HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
  FARPROC proc = kernel32 != nullptr ? ::GetProcAddress(kernel32, "GetNativeSystemInfo") : nullptr;
  if (proc != nullptr) {
    // Through void(*)() because casts between unrelated function types warn.
    reinterpret_cast<GetNativeSystemInfoFn>(reinterpret_cast<void (*)()>(proc))(&info);
  } else {
    ::GetSystemInfo(&info);
  }
  return info.wProcessorArchitecture;
}

std::string GetEnv(const char* name) {
  std::string value;
  DWORD size = ::GetEnvironmentVariableA(name, nullptr, 0);  // with the terminator
  while (size > 0) {
    value.resize(size);
    const DWORD length = ::GetEnvironmentVariableA(name, value.data(), size);
    if (length < size) {  // fitted (or vanished: length 0)
      value.resize(length);
      return value;
    }
    size = length;  // grew meanwhile
  }
  return {};
}

char PathSeparator() { return '\\'; }

const char* DefaultInstallDir() { return "C:\\Program Files\\Orbelan\\Kinetra\\"; }

bool GetFileVersionString(const char* path, const char* sub_block, std::string* value) {
  constexpr DWORD kMaxVersionInfo = 4096;
  DWORD ignored = 0;
  DWORD size = ::GetFileVersionInfoSizeA(path, &ignored);
  if (size == 0) return false;
  if (size > kMaxVersionInfo) size = kMaxVersionInfo;
  std::vector<char> info(size);
  if (!::GetFileVersionInfoA(path, 0, size, info.data())) return false;

  void* text = nullptr;
  UINT length = 0;
  if (!::VerQueryValueA(info.data(), sub_block, &text, &length) || text == nullptr) return false;
  // `length` counts characters, the terminator included.
  const char* begin = static_cast<const char*>(text);
  const void* end = std::memchr(begin, '\0', length);
  value->assign(begin, end != nullptr ? static_cast<const char*>(end) : begin + length);
  return true;
}

}  // namespace rvx::os
