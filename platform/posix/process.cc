// Detached processes and the terminal.
#include <fcntl.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>

#include "platform/platform.h"

namespace rvx::os {

uint32_t CurrentProcessId() { return static_cast<uint32_t>(getpid()); }

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

// A process of another user exists too, though it may not be signalled. A
// zombie has ended: where nobody reaps orphans (a container's first process
// need not), it would otherwise look alive for ever.
bool ProcessAlive(uint32_t id) {
  if (id == 0 || id > INT_MAX) return false;
  if (kill(static_cast<pid_t>(id), 0) != 0 && errno != EPERM) return false;
  char path[32], stat[128] = "";
  snprintf(path, sizeof path, "/proc/%u/stat", id);
  FILE* file = fopen(path, "r");
  if (file == nullptr) return true;  // no /proc: kill's answer stands
  const size_t n = fread(stat, 1, sizeof stat - 1, file);
  fclose(file);
  stat[n] = '\0';
  const char* name_end = strrchr(stat, ')');  // the state follows the name
  return name_end == nullptr || name_end[1] != ' ' || name_end[2] != 'Z';
}

std::vector<int> TerminationSignals() { return {SIGINT, SIGHUP, SIGTERM}; }

}  // namespace rvx::os
