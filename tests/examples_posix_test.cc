// The C example as a user runs it: it waits for its move without taking a
// whole core.
#include <spawn.h>
#include <sys/wait.h>

#include "tests/support.h"

extern char** environ;

namespace rvx::test {
namespace {

#ifdef RVX_EXAMPLE_C_PATH
class ExampleTest : public LibraryTest {};

TEST_F(ExampleTest, TheCExamplePausesBetweenPolls) {
  // Real time, so that the move takes its 0.17 s; a poll reads the chip's
  // status, so the trace counts the polls.
  sim::Config config;
  sim::Reset(config);
  sim::StartTrace();
  const char* argv[] = {RVX_EXAMPLE_C_PATH, nullptr};
  pid_t pid = 0;
  const uint64_t start = os::MonotonicMicros();
  ASSERT_EQ(
      posix_spawn(&pid, RVX_EXAMPLE_C_PATH, nullptr, nullptr, const_cast<char**>(argv), environ),
      0);
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  const double seconds = static_cast<double>(os::MonotonicMicros() - start) * 1e-6;
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  size_t status_reads = 0;
  for (const std::string& request : Requests(sim::Trace())) status_reads += request == "RR0";
  sim::StopTrace();
  EXPECT_GT(seconds, 0.15);  // the move ran in real time
  // A few status reads per poll, a poll every 5 ms: some hundreds at most.
  EXPECT_LT(status_reads, 1000u) << seconds << " s";
}
#endif

}  // namespace
}  // namespace rvx::test
