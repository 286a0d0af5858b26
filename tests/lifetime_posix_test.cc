// What loading holds and leaves behind on POSIX: descriptors and mappings
// across Load/Unload cycles, objects in /dev/shm, and a first loader killed
// while loading.
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "tests/support.h"

namespace rvx::test {
namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr int kCycles = 300;  // sanitizers make each cycle far slower
#else
constexpr int kCycles = 2000;  // each Unload pumps messages for 5 ms
#endif

// Exit codes: 0 all cycles held steady; 2 no limit; 3 a load failed; 4 grew.
RVX_TEST_CHILD(CycleLoads) {
  const rlimit limit{64, 64};
  if (setrlimit(RLIMIT_NOFILE, &limit) != 0) return 2;
  // Without watchers each Unload spares its grace period; they hold no
  // descriptor of their own.
  process().seams.Fail(OsCall::kCreateThread);
  std::pair<long, long> held;
  for (int cycle = 0; cycle < std::stoi(args.at(0)); ++cycle) {
    if (RVX406A_LoadDevice() != 0) return 3;
    RVX406A_UnloadDevice();
    if (cycle == 0) held = Held();
  }
  return Held() == held ? 0 : 4;
}

class PosixLifetimeTest : public LibraryTest {};

TEST_F(PosixLifetimeTest, LoadUnloadCyclesHoldNoMoreDescriptorsOrMappings) {
  EXPECT_EQ(RunChild("CycleLoads", {std::to_string(kCycles)}), 0);
}

// Loads in the namespace args[0], then unloads and exits, exits still
// loaded, or is killed.
RVX_TEST_CHILD(LoadInNamespace) {
  os::SetEnv("RVX_IPC_NAMESPACE", args.at(0).c_str());
  const int32_t loaded = RVX406A_LoadDevice();
  if (args.at(1) == "kill") raise(SIGKILL);
  if (args.at(1) == "unload") RVX406A_UnloadDevice();
  // A normal exit, with the handlers a returning child skips.
  std::exit(loaded < 0 ? 100 - loaded : loaded);  // a child's code is never negative
}

Strings ObjectsOf(const std::string& ipc_namespace) {
  Strings names;
  for (const auto& entry : std::filesystem::directory_iterator("/dev/shm")) {
    const std::string name = entry.path().filename().string();
    if (name.rfind(ipc_namespace, 0) == 0) names.push_back(name);
  }
  return names;
}

TEST_F(PosixLifetimeTest, TheLastProcessOfANamespaceLeavesNothingInDevShm) {
  struct Case {
    const char* name;
    Strings runs;  // how each process in turn ends
    size_t left;   // objects left after the last one
  };
  const Case kCases[] = {
      {"unloaded", {"unload"}, 0},
      {"exits loaded", {"exit"}, 0},
      {"two in turn", {"unload", "exit"}, 0},
      // mutex, load marker, section and the simulator's lock and boards,
      // each with a guard
      {"killed", {"kill"}, 10},
      {"killed, then a clean run", {"kill", "unload"}, 0},
  };
  int n = 0;
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string ipc_namespace = ns_ + "shm" + std::to_string(++n) + "_";
    for (const std::string& run : c.runs) {
      EXPECT_EQ(RunChild("LoadInNamespace", {ipc_namespace, run}), run == "kill" ? 137 : 0);
    }
    EXPECT_EQ(ObjectsOf(ipc_namespace).size(), c.left);
    for (const std::string& name : ObjectsOf(ipc_namespace)) {
      os::RemoveNamedObject(name.c_str());
    }
  }
}

TEST_F(PosixLifetimeTest, ObjectsAreTheOwnersAndARefusalIsLoggedWithNameAndReason) {
  Load();
  for (const char* name :
       {"5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635", "B83F0D57-2E6A-4C19-A4D8-51F7E902C3BA"}) {
    struct stat st;
    ASSERT_EQ(stat(("/dev/shm/" + ns_ + name).c_str(), &st), 0) << name;
    EXPECT_EQ(st.st_mode & 0777, 0600u) << name;
  }
  ClearLog();
  // A name the system cannot hold.
  EXPECT_EQ(RunChild("LoadInNamespace", {"no/such/", "unload"}),
            100 - ERR_CREATE_KERNEL_DRIVER_FAIL);
  EXPECT_THAT(LoggedCalls(),
              ::testing::ElementsAre(
                  " RVX406A_LoadDevice: \"/no/such/5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635.guard\" "
                  "shm_open: Invalid argument"));
}

}  // namespace
}  // namespace rvx::test
