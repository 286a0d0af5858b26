// The board driver's device and loadable driver modules.
#include <cstdio>
#include <string>

#include "platform/win32/win32.h"

namespace rvx::os {

namespace {

// The text of a system error code, without its closing line break.
std::string SystemMessage(DWORD code) {
  char text[512] = "";
  const DWORD n = ::FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                   nullptr, code, 0, text, sizeof text, nullptr);
  std::string message(text, n);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                              message.back() == ' ' || message.back() == '.')) {
    message.pop_back();
  }
  char number[32];
  std::snprintf(number, sizeof number, "error %lu", static_cast<unsigned long>(code));
  return message.empty() ? number : message + " (" + number + ")";
}

}  // namespace

std::string DevicePath(uint32_t board) { return "\\\\.\\rvxPciBrd" + std::to_string(board); }

std::string DeviceOpenFailure(uint32_t board) {
  Handle device = OpenDevice(board);
  if (device != nullptr) {
    CloseDevice(device);
    return "";
  }
  return SystemMessage(::GetLastError());
}

std::string ModuleLoadFailure(const char* path) {
  HMODULE module = ::LoadLibraryA(path);
  if (module != nullptr) return "";
  return SystemMessage(::GetLastError());
}

const char* LibraryFileName() { return "rvxMApiBrd.dll"; }

Handle OpenDevice(uint32_t board) {
  HANDLE device = ::CreateFileA(DevicePath(board).c_str(), GENERIC_READ | GENERIC_WRITE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_ATTRIBUTE_NORMAL, nullptr);
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
