// A move of the command-line tool stopped from outside: by Ctrl-C, which
// the tool answers with a decelerating stop, or by another run's stop.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>

#include "tests/support.h"
#include "tools/sim_keeper.h"

extern char** environ;

namespace rvx::test {
namespace {

class RvxctlInterruptTest : public LibraryTest {};

// The command position of board 0 axis 1 as the tool reports it.
int CommandPosition() {
  const std::string status = RunTool("--sim status 0 1").second;
  int position = 0;
  EXPECT_EQ(sscanf(status.substr(status.find('\n') + 1).c_str(), "%*u %*u %*x %d", &position), 1)
      << status;
  return position;
}

// A move stopped before its target ends with a status that says so: 130 and
// a decelerating stop for Ctrl-C, 1 when a stop command from another run
// ended it.
TEST_F(RvxctlInterruptTest, AMoveStoppedShortIsNoCleanEnd) {
  // A kept board runs in real time, so the move lasts 100 s unless stopped.
  ASSERT_NE(RunTool("sim start").second.find("simulated board started"), std::string::npos);
  const std::string out = install_dir_ + "move.txt";
  // How the move is stopped (a signal, or else a command), exit status, report.
  const std::tuple<int, const char*, int, const char*> cases[] = {
      {SIGINT, "", 130, "interrupted: board 0 axis 1 stopped by a decelerating stop\n"},
      {0, "--sim stop 0 1", 1, "Inc_Move ended: ERR_SUCCESS (0)\nboard 0 axis 1 stopped at "},
  };
  for (const auto& [signal, stop, status, report] : cases) {
    SCOPED_TRACE(report);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const char* argv[] = {RVX_CTL_PATH, "--sim", "move", "0", "1", "1000000", nullptr};
    pid_t pid = 0;
    ASSERT_EQ(posix_spawn(&pid, RVX_CTL_PATH, &actions, nullptr, const_cast<char**>(argv), environ),
              0);
    posix_spawn_file_actions_destroy(&actions);
    const int start = CommandPosition();
    bool busy = false;
    for (int i = 0; i < 200 && !busy; ++i) {
      busy = RunTool("--sim status 0 1").second.find("BUSY") != std::string::npos;
      if (!busy) os::Sleep(25);
    }
    EXPECT_TRUE(busy) << "the move did not start";
    if (signal != 0) kill(pid, signal);
    if (signal == 0) RunTool(stop);
    int wait_status = 0;
    ASSERT_EQ(waitpid(pid, &wait_status, 0), pid);
    ASSERT_TRUE(WIFEXITED(wait_status));
    EXPECT_EQ(WEXITSTATUS(wait_status), status);
    EXPECT_NE(ReadFile(out).find(report), std::string::npos) << ReadFile(out);
    // Standing, somewhere on the way.
    EXPECT_EQ(RunTool("--sim status 0 1").second.find("BUSY"), std::string::npos);
    const int end = CommandPosition();
    EXPECT_GT(end, start);
    EXPECT_LT(end, start + 1000000);
  }
  RunTool("sim stop");
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

}  // namespace
}  // namespace rvx::test
