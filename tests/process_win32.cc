// Child processes, commands and the test window (message-only, its window
// procedure handing every message to the test's) with Win32 calls.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "tests/support.h"

namespace rvx::test {
namespace {

// One command-line argument; the arguments of this suite's children hold no
// quotes and end in no backslash.
std::string Quote(const std::string& arg) { return "\"" + arg + "\""; }

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

int CurrentProcessId() { return static_cast<int>(::GetCurrentProcessId()); }

// Handles as the system counts them: the host descriptors behind them come and
// go with the system's own caches (wine keeps one per handle it has used).
HeldResources Held() {
  DWORD handles = 0;
  ::GetProcessHandleCount(::GetCurrentProcess(), &handles);
  return {static_cast<long>(handles), 0};
}

ChildProcess StartChild(const std::string& name, const std::vector<std::string>& args) {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return {};
  std::string command_line = Quote(path) + " " + Quote(kChildFlag + name);
  for (const std::string& arg : args) command_line += " " + Quote(arg);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // Handles are inherited so that the child writes to the same output.
  if (!::CreateProcessA(path, command_line.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                        &startup, &info)) {
    return {};
  }
  ::CloseHandle(info.hThread);
  return ChildProcess{reinterpret_cast<intptr_t>(info.hProcess)};
}

int WaitChild(ChildProcess child) {
  HANDLE process = reinterpret_cast<HANDLE>(child.id);
  if (process == nullptr) return -1;
  DWORD code = 0;
  const bool ended = ::WaitForSingleObject(process, INFINITE) == WAIT_OBJECT_0 &&
                     ::GetExitCodeProcess(process, &code);
  ::CloseHandle(process);
  return ended ? static_cast<int>(code) : -1;
}

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  // The interpreter (cmd /c) strips one pair of outer quotes; the extra pair
  // keeps a quoted program path intact.
  FILE* pipe = ::_popen(("\"" + command + " 2>&1\"").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  return ::_pclose(pipe);
}

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

}  // namespace rvx::test
