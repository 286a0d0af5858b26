// Machine architecture, environment and fixed paths.
#include <sys/utsname.h>

#include <cstdlib>
#include <cstring>

#include "platform/platform.h"

namespace rvx::os {

uint16_t NativeArchitecture() {
  utsname name;
  if (uname(&name) != 0) return 0xFFFF;
  // The kernel's machine, not this build's: a 32-bit process on a 64-bit
  // kernel reports x64, as GetNativeSystemInfo does.
  struct Known {
    const char* machine;
    uint16_t architecture;
  };
  static constexpr Known kKnown[] = {
      {"x86_64", 9}, {"amd64", 9}, {"aarch64", 12}, {"arm64", 12}, {"ia64", 6},
      {"i386", 0},   {"i486", 0},  {"i586", 0},     {"i686", 0},
  };
  for (const Known& known : kKnown) {
    if (std::strcmp(name.machine, known.machine) == 0) return known.architecture;
  }
  return 0xFFFF;
}

std::string GetEnv(const char* name) {
  const char* value = name == nullptr ? nullptr : std::getenv(name);
  return value == nullptr ? std::string() : std::string(value);
}

char PathSeparator() { return '/'; }

const char* DefaultInstallDir() { return "/opt/orbelan/kinetra/"; }

}  // namespace rvx::os
