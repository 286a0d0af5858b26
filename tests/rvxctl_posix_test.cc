// Ctrl-C during a move of the command-line tool: the axis is brought to a
// decelerating stop before the tool exits.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <string>

#include "platform/platform.h"
#include "tests/support.h"
#include "tools/sim_keeper.h"

extern char** environ;

namespace rvx::test {
namespace {

class RvxctlInterruptTest : public LibraryTest {};

std::string Tool(const std::string& args, int* status = nullptr) {
  std::string output;
  const int code = RunCommand(std::string(RVX_CTL_PATH) + " " + args, &output);
  if (status != nullptr) *status = code;
  return output;
}

TEST_F(RvxctlInterruptTest, SigintStopsTheMoveItStarted) {
  // A kept board runs in real time, so the move lasts 100 s unless stopped.
  ASSERT_NE(Tool("sim start").find("simulated board started"), std::string::npos);
  const std::string out = install_dir_ + "move.txt";
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  char* argv[] = {const_cast<char*>(RVX_CTL_PATH),
                  const_cast<char*>("--sim"),
                  const_cast<char*>("move"),
                  const_cast<char*>("0"),
                  const_cast<char*>("1"),
                  const_cast<char*>("1000000"),
                  nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, RVX_CTL_PATH, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  bool busy = false;
  for (int i = 0; i < 200 && !busy; ++i) {
    busy = Tool("--sim status 0 1").find("BUSY") != std::string::npos;
    if (!busy) os::Sleep(25);
  }
  EXPECT_TRUE(busy) << "the move did not start";
  kill(pid, SIGINT);
  int wait_status = 0;
  ASSERT_EQ(waitpid(pid, &wait_status, 0), pid);
  ASSERT_TRUE(WIFEXITED(wait_status));
  EXPECT_EQ(WEXITSTATUS(wait_status), 130);
  EXPECT_NE(ReadFile(out).find("interrupted: board 0 axis 1 stopped by a decelerating stop\n"
                               "board 0 axis 1: command "),
            std::string::npos)
      << ReadFile(out);
  const std::string after = Tool("--sim status 0 1");
  int command = 0;
  EXPECT_EQ(after.find("BUSY"), std::string::npos) << after;
  ASSERT_EQ(sscanf(after.substr(after.find('\n') + 1).c_str(), "%*u %*u %*x %d", &command), 1);
  EXPECT_GT(command, 0);
  EXPECT_LT(command, 1000000);
  Tool("sim stop");
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

}  // namespace
}  // namespace rvx::test
