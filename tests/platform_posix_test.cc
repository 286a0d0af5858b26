// What only POSIX has: the PE reader behind version strings, thread
// priorities, message waits with a time-out, and what loading holds and
// leaves behind (descriptors, mappings, objects in /dev/shm).
#include <fcntl.h>
#include <pthread.h>
#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "interp/events.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

// The version resource of a PE file built by VersionedPe.
TEST(PosixVersionResourceTest, FindsStringValuesAndSurvivesDamage) {
  const std::string path = MakeTempDir() + "v.dll", kTrue = "2, 0, 1, 15";
  const std::string pe = VersionedPe(u"041204B0", {{u"FileVersion", u"2, 0, 1, 15"},
                                                   {u"Comments", u"\u03A9 \u20AC \U0001F600"},
                                                   {u"Empty", u""}});
  const auto lookup = [&](const std::string& file, const char* sub_block, std::string* value) {
    WriteFile(path, file);
    return os::GetFileVersionString(path.c_str(), sub_block, value);
  };
  const std::pair<const char*, const char*> cases[] = {
      {"\\stringfileinfo\\041204b0\\fileversion", "2, 0, 1, 15"},
      {"\\StringFileInfo\\041204B0\\Comments", "\u03A9 \u20AC \U0001F600"},
      {"\\StringFileInfo\\041204B0\\Empty", ""},
      {"\\StringFileInfo\\040904B0\\FileVersion", nullptr},
      {"\\StringFileInfo\\041204B0\\File", nullptr},
      {"\\StringFileInfo\\041204B0", nullptr}};
  for (const auto& [sub_block, expected] : cases) {
    std::string value = "untouched";
    EXPECT_EQ(lookup(pe, sub_block, &value), expected != nullptr) << sub_block;
    EXPECT_EQ(value, expected ? expected : "untouched") << sub_block;
  }
  // Every truncation fails; every single-byte corruption fails or gives what
  // the damaged bytes say. The sanitizers prove that no access goes astray.
  const char* const key = "\\StringFileInfo\\041204B0\\FileVersion";
  std::string utf16, value;
  for (char c : kTrue + '\0') utf16 += {c, '\0'};
  const size_t value_at = pe.find(utf16);
  for (size_t size = 0; size < pe.size(); size += 3) {
    EXPECT_FALSE(lookup(pe.substr(0, size), key, &value)) << size;
  }
  for (size_t at = 0; at < pe.size(); ++at) {
    std::string bad = pe;
    bad[at] = static_cast<char>(~bad[at]);
    if (!lookup(bad, key, &value)) continue;
    if (at >= value_at && at < value_at + utf16.size()) {
      EXPECT_NE(value, kTrue) << at;
    } else {
      EXPECT_EQ(kTrue.rfind(value, 0), 0u) << at << ": " << value;  // at most cut short
    }
  }
  RemoveTree(path.substr(0, path.rfind('/')));
}

struct Scheduling {
  std::atomic<int> step{0};  // the test's step the thread is to look at
  std::atomic<int> seen{0};  // the step it looked at last
  int policy[3] = {}, nice[3] = {}, realtime[3] = {};
};

// Above normal is a real-time class where the system grants one, else a
// lower nice value, never a higher one; time-critical is a real-time class
// too, yet below above normal, so that a thread it wakes on its processor
// preempts it; normal goes back to the class and nice value the thread
// started with.
TEST(PosixThreadTest, PrioritiesTakeARealTimeClassWhereAllowedAndGiveItBack) {
  Scheduling s;
  const int normal = getpriority(PRIO_PROCESS, 0);  // a new thread starts with it
  os::Handle thread = os::CreateThread(
      [](void* arg) -> uint32_t {
        auto* s = static_cast<Scheduling*>(arg);
        for (int step = 1; step <= 3; ++step) {
          while (s->step != step) os::Sleep(1);
          s->policy[step - 1] = sched_getscheduler(0);
          s->nice[step - 1] = getpriority(PRIO_PROCESS, 0);  // this thread's own
          sched_param param{};
          sched_getparam(0, &param);
          s->realtime[step - 1] = param.sched_priority;
          s->seen = step;
        }
        return 0;
      },
      &s);
  const bool realtime = sched_get_priority_min(SCHED_FIFO) >= 0 && geteuid() == 0;
  for (const int priority : {1, 2, 0}) {
    EXPECT_TRUE(os::SetThreadPriority(thread, priority));
    const int step = s.step + 1;
    s.step = step;
    while (s.seen != step) os::Sleep(1);
    const int i = step - 1;
    if (priority == 0) {
      EXPECT_EQ(s.policy[i], SCHED_OTHER);
      EXPECT_EQ(s.nice[i], normal);
    } else if (realtime) {
      EXPECT_EQ(s.policy[i], SCHED_FIFO) << priority;
    } else {
      EXPECT_LE(s.nice[i], normal) << priority;
    }
  }
  if (realtime) {
    EXPECT_GT(s.realtime[1], 0);              // time-critical
    EXPECT_GT(s.realtime[0], s.realtime[1]);  // above normal
    EXPECT_EQ(s.realtime[2], 0);
  }
  ASSERT_TRUE(os::WaitThread(thread, 5000));
  os::CloseThread(thread);
}

// A thread kept to each processor it may use runs there and only there,
// and is given back every processor it had; a processor beyond the system's
// reach changes nothing.
TEST(PosixThreadTest, AThreadKeptToAProcessorRunsThereAndIsGivenBackTheRest) {
  std::thread([] {
    cpu_set_t before;
    ASSERT_EQ(sched_getaffinity(0, sizeof before, &before), 0);
    std::vector<int> processors;
    for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
      if (CPU_ISSET(cpu, &before)) processors.push_back(cpu);
    }
    ASSERT_FALSE(processors.empty());
    for (const int cpu : processors) {
      ASSERT_TRUE(os::RunOnProcessor(cpu)) << cpu;
      cpu_set_t now;
      ASSERT_EQ(sched_getaffinity(0, sizeof now, &now), 0);
      EXPECT_EQ(CPU_COUNT(&now), 1) << cpu;
      EXPECT_TRUE(CPU_ISSET(cpu, &now)) << cpu;
      EXPECT_EQ(os::CurrentProcessor(), cpu);
    }
    EXPECT_FALSE(os::RunOnProcessor(CPU_SETSIZE));
    EXPECT_EQ(os::CurrentProcessor(), processors.back());
    ASSERT_TRUE(os::RunOnProcessor(-1));
    cpu_set_t after;
    ASSERT_EQ(sched_getaffinity(0, sizeof after, &after), 0);
    EXPECT_TRUE(CPU_EQUAL(&before, &after));
  }).join();
}

double ThreadCpuSeconds() {
  timespec used{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &used);
  return static_cast<double>(used.tv_sec) + static_cast<double>(used.tv_nsec) * 1e-9;
}

// The locks of the simulator's and the watchers' tables exclude each other's
// takers, and a taker that finds one held sleeps until it is let go instead
// of burning its processor: the waiter's processor time stays far below the
// time the holder keeps the lock.
template <typename Lock>
void ExpectLockSleepsWhenHeld(const char* name) {
  SCOPED_TRACE(name);
  Lock lock;
  std::atomic<bool> waiting{false};
  double waited = 0, burnt = 0;
  lock.lock();
  std::thread waiter([&] {
    const double cpu = ThreadCpuSeconds();
    const uint64_t start = os::MonotonicMicros();
    waiting = true;
    lock.lock();
    waited = static_cast<double>(os::MonotonicMicros() - start) * 1e-6;
    burnt = ThreadCpuSeconds() - cpu;
    lock.unlock();
  });
  while (!waiting) os::Sleep(1);
  os::Sleep(200);
  lock.unlock();
  waiter.join();
  EXPECT_GE(waited, 0.19);
  EXPECT_LT(burnt, 0.05) << "of " << waited << " s waited";

  // Four takers adding without atomics lose nothing.
  uint64_t total = 0;
  std::vector<std::thread> takers;
  for (int t = 0; t < 4; ++t) {
    takers.emplace_back([&] {
      for (int i = 0; i < 20000; ++i) {
        lock.lock();
        total = total + 1;
        lock.unlock();
      }
    });
  }
  for (std::thread& taker : takers) taker.join();
  EXPECT_EQ(total, 80000u);
}

// A board's chip lock as the lock of one process's threads: each thread
// holds its own register sequence.
class ChipLock {
 public:
  void lock() { Held().emplace(io_); }
  void unlock() { Held().reset(); }

 private:
  static std::optional<BoardIo::Sequence>& Held() {
    static thread_local std::optional<BoardIo::Sequence> sequence;
    return sequence;
  }
  u32 word_ = 0;
  BoardIo io_{nullptr, nullptr, &word_, os::CurrentProcessId()};
};

TEST(PosixThreadTest, ATakerOfAHeldTableLockSleepsAndTakersExcludeEachOther) {
  ExpectLockSleepsWhenHeld<os::WordLock>("os::WordLock");
  ExpectLockSleepsWhenHeld<SpinLock>("SpinLock");
}

TEST(PosixChipLockTest, ATakerOfAHeldChipLockSleepsAndTakersExcludeEachOther) {
  ExpectLockSleepsWhenHeld<ChipLock>("chip lock");
}

// The watcher runs at a real-time priority above the forwarder's, and the
// forwarder is kept to the watcher's processor; any caller may raise its
// thread above the threads of normal priority. A waiter that finds the lock
// held by a thread it preempted on its processor must let it finish, be the
// holder of normal or of lower real-time priority. Should the waiter keep
// the processor, a watchdog lifts the holder above it after half a second,
// so that a fault fails the test instead of hanging it.
template <typename Lock>
void ExpectRealTimeWaiterLetsItsHolderFinish(const char* name) {
  const int processor = os::CurrentProcessor();
  ASSERT_GE(processor, 0);
  for (const int holder_priority : {0, 5}) {  // 0: normal
    SCOPED_TRACE(std::string(name) + ", holder's real-time priority " +
                 std::to_string(holder_priority));
    Lock lock;
    std::atomic<bool> refused{false}, started{false}, done{false};
    std::atomic<uint64_t> waited{0};
    std::thread holder([&] {
      sched_param low{};
      low.sched_priority = holder_priority;
      if (!os::RunOnProcessor(processor) ||
          pthread_setschedparam(pthread_self(), holder_priority > 0 ? SCHED_FIFO : SCHED_OTHER,
                                &low) != 0) {
        refused = true;
        return;
      }
      lock.lock();
      std::thread waiter([&] {  // on the holder's processor, as its creator
        sched_param high{};
        high.sched_priority = 10;
        if (pthread_setschedparam(pthread_self(), SCHED_FIFO, &high) != 0) {  // preempts it
          refused = true;
          return;
        }
        const uint64_t start = os::MonotonicMicros();
        started = true;
        lock.lock();
        waited = os::MonotonicMicros() - start;
        lock.unlock();
        done = true;
      });
      // Same priority until the waiter raises its own: let it run.
      while (!started && !refused) sched_yield();
      lock.unlock();
      waiter.join();
    });
    const pthread_t holder_thread = holder.native_handle();
    for (int ms = 0; ms < 500 && !done && !refused; ++ms) os::Sleep(1);
    if (!done && !refused) {
      sched_param top{};
      top.sched_priority = 20;
      pthread_setschedparam(holder_thread, SCHED_FIFO, &top);
    }
    holder.join();
    if (refused) GTEST_SKIP() << "no real-time class granted here";
    EXPECT_TRUE(done);
    EXPECT_LT(waited.load(), 100000u) << "microseconds";
  }
}

TEST(PosixThreadTest, AHigherPriorityWaiterLetsAPreemptedHolderOnItsProcessorFinish) {
  ExpectRealTimeWaiterLetsItsHolderFinish<os::WordLock>("os::WordLock");
}

// The chip lock's release wakes no one, so a real-time taker must nap.
TEST(PosixChipLockTest, ARealTimeTakerLetsANormalHolderOnItsProcessorFinish) {
  ExpectRealTimeWaiterLetsItsHolderFinish<ChipLock>("chip lock");
}

std::atomic<u32> driver_wakes{0};
void CountWake(uint32_t board, uint32_t kind) { driver_wakes += (board + 1) * 16 + kind; }

// The value the library hands over with 0xE0003878 is a descriptor that a
// driver signals as eventfd_signal() would: adding to the counter. Two
// signals before the watcher looks are one wake, as for an auto-reset event.
class PosixBoardEventTest : public LibraryTest {};

TEST_F(PosixBoardEventTest, ADriverWritingTheRegisteredDescriptorWakesTheWatcher) {
  sim::StartTrace();
  Load();
  uint64_t value = 0;
  for (const sim::Request& r : sim::Trace()) {
    if (r.code == ioctl::kRegisterEvent) value = r.value;
  }
  const int fd = static_cast<int>(value);
  char link[64] = "";
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  ASSERT_GT(readlink(proc.c_str(), link, sizeof link - 1), 0);
  EXPECT_STREQ(link, "anon_inode:[eventfd]");

  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void*>(&CountWake), 0);
  RVX406A_SetEventEnable(0, 1);
  sim::SetEventByte(0, 10, 0x01);  // the cause the watcher reads: motion
  driver_wakes = 0;
  const uint64_t two = 2;  // two interrupts signalled before the watcher looks
  ASSERT_EQ(write(fd, &two, sizeof two), 8);
  for (u32 start = os::TickCount(); driver_wakes == 0 && os::TickCount() - start < 3000;) {
    os::Sleep(1);
  }
  os::Sleep(50);
  EXPECT_EQ(driver_wakes.load(), 16u);
  RVX406A_UnloadDevice();
  EXPECT_LT(fcntl(fd, F_GETFD), 0) << "unloading closes the event";
}

void Ignore(void*, uint32_t, uintptr_t, intptr_t) {}

TEST(PosixMessageTest, WindowsEndWithTheirThreadAndWaitsTimeOut) {
  void* orphan = nullptr;
  std::thread([&] { orphan = rvx_create_window(Ignore); }).join();
  EXPECT_EQ(rvx_post_message(orphan, 0x400, 0, 0), 0);
  void* window = rvx_create_window(Ignore);
  rvx_post_quit_message(7);
  ASSERT_EQ(rvx_post_message(window, 0x400, 0, 0), 1);
  rvx_destroy_window(window);  // with its message still pending
  RVX_MSG msg;
  ASSERT_EQ(rvx_get_message(&msg, 0), 1);
  EXPECT_EQ(msg.message, RVX_WM_QUIT);
  const uint32_t start = os::TickCount();
  EXPECT_EQ(rvx_get_message(&msg, 60), 0);
  EXPECT_GE(static_cast<uint32_t>(os::TickCount() - start), 60u);
}

class PosixLifetimeTest : public LibraryTest {};

TEST_F(PosixLifetimeTest, LoadUnloadCyclesHoldNoMoreDescriptorsOrMappings) {
  // Without watchers each Unload spares its grace period; they hold no
  // descriptor of their own.
  process().seams.Fail(OsCall::kCreateThread);
  HeldResources held;
  for (int cycle = 0; cycle < 300; ++cycle) {
    ASSERT_EQ(RVX406A_LoadDevice(), 0) << cycle;
    RVX406A_UnloadDevice();
    if (cycle == 0) held = Held();
  }
  EXPECT_EQ(Held(), held);
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
  // How each process in turn ends; the objects left after the last one.
  const std::pair<Strings, size_t> kCases[] = {
      {{"unload"}, 0},
      {{"exit"}, 0},
      {{"unload", "exit"}, 0},
      // mutex, load marker, section and the simulator's lock and boards,
      // each with a guard
      {{"kill"}, 10},
      {{"kill", "unload"}, 0},
  };
  const std::string ipc_namespace = ns_ + "shm_";
  for (const auto& [runs, left] : kCases) {
    SCOPED_TRACE(Joined(runs));
    for (const std::string& run : runs) {
      EXPECT_EQ(RunChild("LoadInNamespace", {ipc_namespace, run}), run == "kill" ? 137 : 0);
    }
    EXPECT_EQ(ObjectsOf(ipc_namespace).size(), left);
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
