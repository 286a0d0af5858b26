// Detached processes and the terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>

#include "platform/platform.h"

namespace rvx::os {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

bool ProcessRunning(uint32_t pid) {
  if (pid == 0 || (kill(static_cast<pid_t>(pid), 0) != 0 && errno != EPERM)) return false;
  // A zombie answers kill() but has ended.
  std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
  std::string line;
  if (!std::getline(stat, line)) return true;  // no /proc: kill() has the last word
  const size_t close = line.rfind(')');
  return close == std::string::npos || close + 2 >= line.size() ||
         (line[close + 2] != 'Z' && line[close + 2] != 'X');
}

std::string ExecutablePath() {
  char path[PATH_MAX];
  const ssize_t length = readlink("/proc/self/exe", path, sizeof path - 1);
  if (length <= 0) return "";
  return std::string(path, static_cast<size_t>(length));
}

uint32_t StartDetachedProcess(const std::vector<std::string>& args) {
  if (args.empty()) return 0;
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int report[2];
  if (pipe(report) != 0) return 0;
  // Twice forked: the middle process ends at once, so the program is
  // nobody's child here and leaves no zombie behind however long we run.
  const pid_t middle = fork();
  if (middle == 0) {
    close(report[0]);
    setsid();
    const pid_t program = fork();
    if (program == 0) {
      close(report[1]);
      const int null = open("/dev/null", O_RDWR);
      for (int fd = 0; fd < 3; ++fd) dup2(null, fd);
      if (null > 2) close(null);
      execv(argv[0], argv.data());
      _exit(127);
    }
    const int32_t id = program > 0 ? program : 0;
    ssize_t written = write(report[1], &id, sizeof id);
    _exit(written == sizeof id ? 0 : 1);
  }
  close(report[1]);
  int32_t id = 0;
  if (middle < 0 || read(report[0], &id, sizeof id) != sizeof id) id = 0;
  close(report[0]);
  if (middle > 0) waitpid(middle, nullptr, 0);
  return static_cast<uint32_t>(id);
}

bool StderrIsTerminal() { return isatty(2) == 1; }

std::vector<int> TerminationSignals() { return {SIGINT, SIGHUP, SIGTERM}; }

}  // namespace rvx::os
