#include "core/process.h"

namespace rvx {

Process& process() {
  static Process instance;
  return instance;
}

}  // namespace rvx
