// The command-line tool where POSIX shows what Windows does not: a move
// stopped by signals or another run's stop, the keeper's start, devices and
// the environment of a run.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>

#include <csignal>
#include <future>

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

// A move stopped before its target ends with a status that says so: 128 +
// the signal and a decelerating stop for Ctrl-C, a closed terminal (SIGHUP)
// and SIGTERM, also when the signal comes again and again while the tool
// stops and unloads; 1 when a stop command from another run ended it.
TEST_F(RvxctlInterruptTest, AMoveStoppedShortIsNoCleanEnd) {
  // A kept board runs in real time, so the move lasts 100 s unless stopped.
  ASSERT_NE(RunTool("sim start").second.find("simulated board started"), std::string::npos);
  const std::string out = install_dir_ + "move.txt";
  const char* stopped = "interrupted: board 0 axis 1 stopped by a decelerating stop\n";
  // How the move is stopped (a signal, repeated until the tool ends, or else
  // a command), exit status, report.
  const std::tuple<int, bool, const char*, int, const char*> cases[] = {
      {SIGINT, false, "", 130, stopped},
      {SIGTERM, false, "", 143, stopped},
      {SIGHUP, false, "", 129, stopped},
      {SIGINT, true, "", 130, stopped},
      {0, false, "--sim stop 0 1", 1,
       "Inc_Move ended: ERR_SUCCESS (0)\nboard 0 axis 1 stopped at "},
  };
  for (const auto& [signal, repeated, stop, status, report] : cases) {
    SCOPED_TRACE(std::to_string(signal) + (repeated ? " repeated" : ""));
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
    pid_t ended = 0;
    while ((ended = waitpid(pid, &wait_status, repeated ? WNOHANG : 0)) == 0) {
      kill(pid, signal);
      os::Sleep(1);
    }
    ASSERT_EQ(ended, pid);
    ASSERT_TRUE(WIFEXITED(wait_status)) << "ended by signal " << WTERMSIG(wait_status);
    EXPECT_EQ(WEXITSTATUS(wait_status), status);
    EXPECT_NE(ReadFile(out).find(report), std::string::npos) << ReadFile(out);
    EXPECT_NE(ReadFile(out).find("board 0 axis 1: command "), std::string::npos) << ReadFile(out);
    // Standing, somewhere on the way.
    EXPECT_EQ(RunTool("--sim status 0 1").second.find("BUSY"), std::string::npos);
    const int end = CommandPosition();
    EXPECT_GT(end, start);
    EXPECT_LT(end, start + 1000000);
  }
  RunTool("sim stop");
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

// A keeper that ends before it serves is noticed at once, not after the
// start's time limit; while one starts, another start and the status name
// its process.
TEST_F(RvxctlInterruptTest, KeeperStartsSayWhatHappened) {
  const uint32_t begin = os::TickCount();
  EXPECT_EQ(rvxctl::StartKeeper({"/bin/sh", "-c", "exit 3"}), 1);
  EXPECT_LT(os::TickCount() - begin, 2000u);
  // Two seconds of starting that end without a board.
  auto slow = std::async(std::launch::async, [] {
    return rvxctl::StartKeeper({"/bin/sleep", "2"});
  });
  uint32_t keeper = 0, starter = 0;
  for (int i = 0; i < 400 && (keeper == 0 || keeper == os::CurrentProcessId()); ++i) {
    os::Sleep(2);
    keeper = rvxctl::StartingKeeper(&starter);
  }
  EXPECT_EQ(starter, os::CurrentProcessId());
  ASSERT_NE(keeper, 0u);
  ASSERT_NE(keeper, os::CurrentProcessId());
  const std::string starting =
      "a simulated board is starting (process " + std::to_string(keeper) + ")\n";
  for (const char* args : {"sim start", "sim status"}) {
    SCOPED_TRACE(args);
    const auto [status, output] = RunTool(args);
    EXPECT_EQ(status, 1);
    EXPECT_NE(output.find(starting), std::string::npos) << output;
  }
  EXPECT_EQ(slow.get(), 1);
  EXPECT_EQ(rvxctl::StartingKeeper(&starter), 0u);
  EXPECT_NE(RunTool("sim start").second.find("simulated board started"), std::string::npos);
  RunTool("sim stop");
  os::RemoveNamedObject((ns_ + rvxctl::kKeeperSectionName).c_str());
}

// A segment file is read only when it is a regular file: a device could be
// read for ever.
class RvxctlPosixTest : public LibraryTest {};

TEST_F(RvxctlPosixTest, SegmentFilesAreRegularFiles) {
  const auto [status, output] = RunTool("--sim conti 0 0,1 /dev/zero");
  EXPECT_EQ(status, 2);
  EXPECT_NE(output.find("rvxctl: /dev/zero is not a segment file: not a regular file\n"),
            std::string::npos)
      << output;
}

// A program meets RVX_SIM when it creates the boards of a namespace: a text
// that cannot be used builds none.
TEST_F(RvxctlPosixTest, AnUnusableMachineTextBuildsNoBoard) {
  const std::string fresh = "RVX_IPC_NAMESPACE=" + ns_ + "fresh- ";
  std::string output;
  EXPECT_EQ(RunCommand(fresh + "RVX_SIM='boards=2 axis0.1.near=5' " RVX_CTL_PATH " load", &output),
            1);
  EXPECT_NE(output.find("RVX_SIM: bad value \"5\" for axis0.1.near; no simulated board\n"),
            std::string::npos)
      << output;
  EXPECT_NE(output.find("LoadDevice: ERR_DEVICE_LOAD (-1)"), std::string::npos) << output;
  EXPECT_EQ(
      RunCommand(fresh + "RVX_SIM='boards=2 axis0.1.near=5:6' " RVX_CTL_PATH " load", &output), 0);
  EXPECT_NE(output.find("boards: 2, axes: 8"), std::string::npos) << output;
}

}  // namespace
}  // namespace rvx::test
