#include <stdlib.h>

#include "platform/platform.h"

namespace rvx::os {

// Windows removes a named object with its last handle.
void RemoveNamedObject(const char*) {}

void SetEnv(const char* name, const char* value) { _putenv_s(name, value); }

}  // namespace rvx::os
