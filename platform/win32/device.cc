// The board driver's device and loadable driver modules.
#include <cstdio>

#include "platform/win32/win32.h"

namespace rvx::os {

Handle OpenDevice(uint32_t board) {
  char path[32];
  std::snprintf(path, sizeof(path), "\\\\.\\rvxPciBrd%u", static_cast<unsigned>(board));
  HANDLE device =
      ::CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  return device == INVALID_HANDLE_VALUE ? nullptr : device;
}

int DeviceControl(Handle device, uint32_t code, void* in, uint32_t in_size, void* out,
                  uint32_t out_size, uint32_t* bytes_returned) {
  // Without an OVERLAPPED, DeviceIoControl requires somewhere to write the count.
  DWORD returned = 0;
  const BOOL ok = ::DeviceIoControl(device, code, in, in_size, out, out_size, &returned, nullptr);
  if (bytes_returned != nullptr) *bytes_returned = returned;
  return ok;
}

void CloseDevice(Handle device) {
  if (device != nullptr) ::CloseHandle(device);
}

Handle LoadModule(const char* path) { return ::LoadLibraryA(path); }

void* ModuleSymbol(Handle module, const char* name) {
  if (module == nullptr) return nullptr;
  return reinterpret_cast<void*>(::GetProcAddress(static_cast<HMODULE>(module), name));
}

}  // namespace rvx::os
