// The calling thread's window message queue.
#include "platform/win32/win32.h"

namespace rvx::os {

bool PeekMessage(Message* msg) {
  MSG peeked;
  if (!::PeekMessageA(&peeked, nullptr, 0, 0, PM_REMOVE)) return false;
  msg->window = peeked.hwnd;
  msg->message = peeked.message;
  msg->wparam = peeked.wParam;
  msg->lparam = peeked.lParam;
  return true;
}

void DispatchMessage(const Message& msg) {
  MSG native = {};
  native.hwnd = static_cast<HWND>(msg.window);
  native.message = msg.message;
  native.wParam = msg.wparam;
  native.lParam = msg.lparam;
  // Time and cursor position of the message just peeked on this thread.
  native.time = static_cast<DWORD>(::GetMessageTime());
  const DWORD pos = ::GetMessagePos();
  native.pt.x = static_cast<SHORT>(LOWORD(pos));
  native.pt.y = static_cast<SHORT>(HIWORD(pos));
  ::TranslateMessage(&native);
  ::DispatchMessageA(&native);
}

void PostQuitMessage(int exit_code) { ::PostQuitMessage(exit_code); }

bool PostMessage(Handle window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  return ::PostMessageA(static_cast<HWND>(window), message, wparam, lparam) != FALSE;
}

}  // namespace rvx::os
