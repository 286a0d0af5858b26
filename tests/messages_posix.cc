// The test window on POSIX: the library's own window functions.
#include "include/rvx406a.h"
#include "tests/support.h"

namespace rvx::test {

void* CreateTestWindow(TestWindowProc proc) { return rvx_create_window(proc); }

void DestroyTestWindow(void* window) { rvx_destroy_window(window); }

bool PostTestMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return rvx_post_message(window, message, wparam, lparam) != 0;
}

void PostTestQuitMessage(int exit_code) { rvx_post_quit_message(exit_code); }

bool TakeTestMessage(TestMessage* msg) {
  RVX_MSG taken;
  if (!rvx_get_message(&taken, 0)) return false;
  *msg = TestMessage{taken.hwnd, taken.message, taken.wparam, taken.lparam};
  return true;
}

}  // namespace rvx::test
