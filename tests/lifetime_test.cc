// Loading and unloading against the rest of the process and other processes:
// calls of other threads overlapping Load/Unload, and the shared section
// outliving an Unload.

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr u32 kMarker = 0x5EC7104E;
constexpr int32_t kPosition = 1234;

class LifetimeTest : public LibraryTest {};

TEST_F(LifetimeTest, CallsOfOtherThreadsOverlappingLoadAndUnloadCompleteOrFailCleanly) {
  // No watchers: each Unload would wait out their grace period.
  process().seams.Fail(OsCall::kCreateThread);
  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0}, calls{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&] {
      while (!stop) {
        const int32_t position = RVX406A_GetCommandPos(0, 0);
        if (position != 0 && position != kPosition) ++unexpected;
        RVX406A_SetCommandPos(0, 0, kPosition);
        ++calls;
      }
    });
  }
  for (int cycle = 0; cycle < 200; ++cycle) {
    ASSERT_EQ(RVX406A_LoadDevice(), 0) << cycle;
    RVX406A_UnloadDevice();
  }
  stop = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(unexpected, 0);
  EXPECT_GT(calls, 0);
}

RVX_TEST_CHILD(ReadSectionMarker) {
  if (RVX406A_LoadDevice() != 0) return 2;
  u32 marker;
  memcpy(&marker, process().shared->reserved0, sizeof marker);
  RVX406A_UnloadDevice();
  return marker == kMarker ? 0 : marker == 0 ? 1 : 3;
}

TEST_F(LifetimeTest, SectionOutlivesUnloadWhileThisProcessKeepsItsView) {
  // The child creates the mutex afresh, so it is a first loader, yet it finds
  // the section this process left mapped rather than a new zeroed one.
  Load();
  memcpy(shared().reserved0, &kMarker, sizeof kMarker);
  RVX406A_UnloadDevice();
  EXPECT_EQ(RunChild("ReadSectionMarker"), 0);
  Load();
  EXPECT_EQ(RunChild("ReadSectionMarker"), 0);
}

// Signals the parent through a file once its first load holds the library
// mutex, then dies there.
RVX_TEST_CHILD(DieInFirstLoad) {
  os::SetEnv("RVX_TEST_FLAG", args.at(0).c_str());
  process().seams.in_first_load = [] {
    WriteFile(os::GetEnv("RVX_TEST_FLAG"), "in");
    os::Sleep(300);
    std::_Exit(3);
  };
  RVX406A_LoadDevice();
  return 0;
}

TEST_F(LifetimeTest, AProcessTakingOverFromAFirstLoaderThatDiedLoadsTheFilesItself) {
  const std::string flag = install_dir_ + "in_first_load";
  const ChildProcess child = StartChild("DieInFirstLoad", {flag});
  for (int waited = 0; ReadFile(flag).empty() && waited < 10000; ++waited) os::Sleep(1);
  // Opens the mutex while the child holds it, then waits for it.
  ASSERT_EQ(RVX406A_LoadDevice(), 0);
  EXPECT_EQ(WaitChild(child), 3);
  EXPECT_TRUE(process().first_loader);
  EXPECT_GT(process().seams.files_opened, 0u);
}

}  // namespace
}  // namespace rvx::test
