// A setter or a getter called N times against the counting driver module at
// log level 0, for scripts/call-instructions to count the library's
// instructions per call under callgrind (collected inside the loop only).
//   call_loop setter|getter N   (RVX_DRIVER, RVX_INSTALL_DIR set by the script)
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "include/rvx406a.h"

extern "C" {

// Named so that callgrind can collect exactly these (--toggle-collect).
__attribute__((noinline)) void rvx_setter_loop(long n) {
  for (long i = 0; i < n; ++i) RVX406A_SetSvAlm(0, 0, static_cast<uint16_t>(i & 1), 0);
}

__attribute__((noinline)) void rvx_getter_loop(long n) {
  uint16_t enable = 0, logic = 0;
  for (long i = 0; i < n; ++i) RVX406A_GetSvAlm(0, 0, &enable, &logic);
}
}

int main(int argc, char** argv) {
  if (argc != 3 || (strcmp(argv[1], "setter") != 0 && strcmp(argv[1], "getter") != 0)) {
    fprintf(stderr, "usage: call_loop setter|getter N\n");
    return 2;
  }
  const long n = strtol(argv[2], nullptr, 10);
  const int32_t loaded = RVX406A_LoadDevice();
  if (loaded < 0) {
    fprintf(stderr, "RVX406A_LoadDevice: %d\n", loaded);
    return 1;
  }
  if (argv[1][0] == 's') {
    rvx_setter_loop(n);
  } else {
    rvx_getter_loop(n);
  }
  const int32_t result = RVX406A_GetErrorCode();
  RVX406A_UnloadDevice();
  if (result != 0) {
    fprintf(stderr, "%s: %d\n", argv[1], result);
    return 1;
  }
  return 0;
}
