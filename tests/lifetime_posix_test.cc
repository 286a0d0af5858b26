// What loading holds and leaves behind on POSIX: descriptors and mappings
// across Load/Unload cycles, objects in /dev/shm, and a first loader killed
// while loading.
#include <gmock/gmock.h>
#include <sys/resource.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "tests/support.h"

namespace rvx::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCycles = 300;  // sanitizers make each cycle far slower
#else
constexpr int kCycles = 2000;  // each Unload pumps messages for 5 ms
#endif

long OpenDescriptors() {
  long count = 0;
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    count += entry.exists() ? 1 : 0;
  }
  return count;
}

long SharedMappings() {
  std::ifstream in("/proc/self/maps");
  long count = 0;
  for (std::string line; std::getline(in, line);) count += line.find("/dev/shm/") != line.npos;
  return count;
}

// Exit codes: 0 all cycles held steady; 2 no limit; 3 a load failed; 4 grew.
RVX_TEST_CHILD(CycleLoads) {
  const rlimit limit{64, 64};
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
  // Without watchers each Unload spares its grace period; they hold no
  // descriptor of their own.
  process().seams.Fail(OsCall::kCreateThread);
  long descriptors = 0, mappings = 0;
  for (int cycle = 0; cycle < std::stoi(args.at(0)); ++cycle) {
    if (RVX406A_LoadDevice() != 0) return 3;
    RVX406A_UnloadDevice();
    if (cycle == 0) {
      descriptors = OpenDescriptors();
      mappings = SharedMappings();
    }
  }
  return OpenDescriptors() == descriptors && SharedMappings() == mappings ? 0 : 4;
}

class PosixLifetimeTest : public LibraryTest {};

TEST_F(PosixLifetimeTest, LoadUnloadCyclesHoldNoMoreDescriptorsOrMappings) {
  EXPECT_EQ(RunChild("CycleLoads", {std::to_string(kCycles)}), 0);
}

}  // namespace
}  // namespace rvx::test
