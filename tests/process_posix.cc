// Child processes, commands and the test window with POSIX calls (the window
// is the library's own).
#include <sys/wait.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "tests/support.h"

namespace rvx::test {
namespace {

// The exit code of a wait status; 128 + the signal for a killed process.
int ExitCode(int status) {
  return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

}  // namespace

int CurrentProcessId() { return static_cast<int>(getpid()); }

HeldResources Held() {
  HeldResources held{std::distance(std::filesystem::directory_iterator("/proc/self/fd"), {}), 0};
  std::ifstream in("/proc/self/maps");
  for (std::string line; std::getline(in, line);)
    held.second += line.find("/dev/shm/") != line.npos;
  return held;
}

ChildProcess StartChild(const std::string& name, const std::vector<std::string>& args) {
  std::vector<std::string> words = {"/proc/self/exe", kChildFlag + name};
  words.insert(words.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& w : words) argv.push_back(w.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    execv("/proc/self/exe", argv.data());
    _exit(126);
  }
  return ChildProcess{pid > 0 ? pid : 0};
}

int WaitChild(ChildProcess child) {
  const pid_t pid = static_cast<pid_t>(child.id);
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid) return -1;
  return ExitCode(status);
}

int RunCommand(const std::string& command, std::string* output) {
  output->clear();
  FILE* pipe = popen((command + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[512];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
  const int status = pclose(pipe);
  return status == -1 ? -1 : ExitCode(status);
}

void* CreateTestWindow(TestWindowProc proc) { return rvx_create_window(proc); }

void DestroyTestWindow(void* window) { rvx_destroy_window(window); }

}  // namespace rvx::test
