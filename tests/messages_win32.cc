// The test window on Windows: a message-only window whose window procedure
// hands every message to the test's procedure.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr char kClassName[] = "RvxTestWindow";

LRESULT CALLBACK ForwardingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  const auto proc = reinterpret_cast<TestWindowProc>(::GetWindowLongPtrA(window, GWLP_USERDATA));
  // Messages of the window's own life go to the default procedure.
  if (proc == nullptr || message < WM_USER) {
    return ::DefWindowProcA(window, message, wparam, lparam);
  }
  proc(window, message, wparam, lparam);
  return 0;
}

}  // namespace

void* CreateTestWindow(TestWindowProc proc) {
  static const ATOM window_class = [] {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = ForwardingProc;
    wc.hInstance = ::GetModuleHandleA(nullptr);
    wc.lpszClassName = kClassName;
    return ::RegisterClassA(&wc);
  }();
  if (window_class == 0 || proc == nullptr) return nullptr;
  HWND window = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                  ::GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr) {
    ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(proc));
  }
  return window;
}

void DestroyTestWindow(void* window) { ::DestroyWindow(static_cast<HWND>(window)); }

bool PostTestMessage(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return ::PostMessageA(static_cast<HWND>(window), message, wparam, lparam) != FALSE;
}

void PostTestQuitMessage(int exit_code) { ::PostQuitMessage(exit_code); }

bool TakeTestMessage(TestMessage* msg) {
  MSG taken;
  if (!::PeekMessageA(&taken, nullptr, 0, 0, PM_REMOVE)) return false;
  *msg = TestMessage{taken.hwnd, taken.message, taken.wParam, taken.lParam};
  return true;
}

}  // namespace rvx::test
