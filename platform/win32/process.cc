// Detached processes and the console.
#include <io.h>

#include <csignal>

#include "platform/win32/win32.h"

namespace rvx::os {

uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

std::string ExecutablePath() {
  char path[MAX_PATH];
  const DWORD length = ::GetModuleFileNameA(nullptr, path, sizeof path);
  if (length == 0 || length >= sizeof path) return "";
  return std::string(path, length);
}

namespace {

// One argument as the C runtime splits a command line: backslashes double
// only where a quote follows them.
std::string Quote(const std::string& arg) {
  std::string out = "\"";
  size_t backslashes = 0;
  for (char c : arg) {
    if (c == '\\') {
      ++backslashes;
      continue;
    }
    out.append(c == '"' ? 2 * backslashes + 1 : backslashes, '\\');
    backslashes = 0;
    out += c;
  }
  out.append(2 * backslashes, '\\');
  return out + "\"";
}

}  // namespace

uint32_t StartDetachedProcess(const std::vector<std::string>& args) {
  if (args.empty()) return 0;
  std::string command_line;
  for (const std::string& a : args) command_line += (command_line.empty() ? "" : " ") + Quote(a);
  STARTUPINFOA startup = {};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION info = {};
  // No inherited handles: the caller's pipes close when the caller ends.
  if (!::CreateProcessA(args[0].c_str(), command_line.data(), nullptr, nullptr, FALSE,
                        DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP, nullptr, nullptr, &startup,
                        &info)) {
    return 0;
  }
  ::CloseHandle(info.hThread);
  ::CloseHandle(info.hProcess);
  return info.dwProcessId;
}

bool StderrIsTerminal() { return ::_isatty(2) != 0; }

bool ProcessAlive(uint32_t id) {
  if (id == 0) return false;
  HANDLE process = ::OpenProcess(SYNCHRONIZE, FALSE, id);
  if (process == nullptr) return ::GetLastError() == ERROR_ACCESS_DENIED;
  const bool running = ::WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  ::CloseHandle(process);
  return running;
}

std::vector<int> TerminationSignals() { return {SIGINT, SIGBREAK, SIGTERM}; }

}  // namespace rvx::os
