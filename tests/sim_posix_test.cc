// The simulated boards' clock around an interrupt that a forwarder of
// another process has to pass on; that process is stopped and killed here.
#include <signal.h>
#include <sys/types.h>

#include <tuple>

#include "tests/support.h"

namespace rvx::test {
namespace {

RVX_TEST_CHILD(ForwardingProcess) {
  if (RVX406A_LoadDevice() < 0) return 1;  // its board events start its forwarder
  WriteFile(args[0], "ready");
  for (;;) os::Sleep(100);  // until killed
}

using BoardClockTest = LibraryTest;

// Microseconds of the boards' time that pass over `ms` of the machine's
// after an interrupt is raised.
uint64_t PassingAfterAnInterrupt(uint32_t ms) {
  const uint64_t before = sim::Now();
  sim::RaiseInterrupt(0, 0x01);
  os::Sleep(ms);
  return sim::Now() - before;
}

// The boards stand at an interrupt while the one forwarder that would pass
// it on cannot run, for at most 20 ms, and no longer once its process has
// ended.
TEST_F(BoardClockTest, StandsAtAnInterruptWhileItsForwarderCannotRunAtMost20Ms) {
  sim::Reset(sim::Config{});  // real time
  const std::string ready = install_dir_ + "ready";
  const ChildProcess child = StartChild("ForwardingProcess", {ready});
  for (u32 start = os::TickCount(); ReadFile(ready).empty() && os::TickCount() - start < 10000;) {
    os::Sleep(5);
  }
  ASSERT_EQ(ReadFile(ready), "ready");
  ASSERT_EQ(kill(static_cast<pid_t>(child.id), SIGSTOP), 0);
  const uint64_t raised = sim::Now();
  const uint64_t stood = PassingAfterAnInterrupt(10);
  os::Sleep(30);  // past the longest stand
  const uint64_t went_on = sim::Now() - raised;
  kill(static_cast<pid_t>(child.id), SIGKILL);
  WaitChild(child);
  const uint64_t ended = PassingAfterAnInterrupt(10);
  EXPECT_LT(stood, 2000u);
  EXPECT_GT(went_on, 10000u);  // 40 ms less the 20 ms stand
  EXPECT_LT(went_on, 30000u);
  EXPECT_GE(ended, 10000u);
}

}  // namespace
}  // namespace rvx::test
