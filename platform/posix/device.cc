// The board driver's device nodes and loadable modules.
#include <dlfcn.h>
#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/platform.h"

namespace rvx::os {
namespace {

// A descriptor travels as descriptor + 1, so that descriptor 0 is not null.
Handle FromFd(int fd) { return reinterpret_cast<Handle>(static_cast<intptr_t>(fd) + 1); }
int ToFd(Handle handle) { return static_cast<int>(reinterpret_cast<intptr_t>(handle) - 1); }

}  // namespace

std::string DevicePath(uint32_t board) { return "/dev/rvxPciBrd" + std::to_string(board); }

Handle OpenDevice(uint32_t board) {
  const int fd = open(DevicePath(board).c_str(), O_RDWR | O_CLOEXEC);
  return fd < 0 ? nullptr : FromFd(fd);
}

std::string DeviceOpenFailure(uint32_t board) {
  const int fd = open(DevicePath(board).c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  close(fd);
  return "";
}

int DeviceControl(Handle device, uint32_t code, void* in, uint32_t in_size, void* out,
                  uint32_t out_size, uint32_t* bytes_returned) {
  if (bytes_returned != nullptr) *bytes_returned = 0;
  if (device == nullptr) return 0;
  // The driver works in place on the in buffer, as the requests share one
  // buffer for both directions.
  if (ioctl(ToFd(device), static_cast<unsigned long>(code), in) < 0) return 0;  // NOLINT
  if (out != nullptr && out != in && in != nullptr) {
    std::memcpy(out, in, std::min(in_size, out_size));
  }
  if (bytes_returned != nullptr) *bytes_returned = out_size;
  return 1;
}

void CloseDevice(Handle device) {
  if (device != nullptr) close(ToFd(device));
}

Handle LoadModule(const char* path) {
  return path == nullptr ? nullptr : dlopen(path, RTLD_NOW | RTLD_LOCAL);
}

void* ModuleSymbol(Handle module, const char* name) {
  return module == nullptr || name == nullptr ? nullptr : dlsym(module, name);
}

std::string ModuleLoadFailure(const char* path) {
  // dlerror names the file and the reason (no such file, permission
  // denied, wrong architecture, a missing dependency).
  dlerror();
  if (dlopen(path, RTLD_NOW | RTLD_LOCAL) != nullptr) return "";
  const char* why = dlerror();
  return why != nullptr ? why : "not loadable";
}

const char* LibraryFileName() { return "librvxMApiBrd.so"; }

}  // namespace rvx::os
