#include <stdlib.h>
#include <sys/mman.h>

#include <string>

#include "platform/platform.h"

namespace rvx::os {

void RemoveNamedObject(const char* name) {
  const std::string object = std::string("/") + name;
  shm_unlink(object.c_str());
  shm_unlink((object + ".guard").c_str());
}

void SetEnv(const char* name, const char* value) { setenv(name, value, 1); }

}  // namespace rvx::os
