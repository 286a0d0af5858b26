// The POSIX operating-system layer: named objects across processes, profile
// files, events and threads, window messages and PE version resources.
#include <fcntl.h>
#include <poll.h>
#include <sched.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "gtest/gtest.h"
#include "include/rvx406a.h"
#include "platform/platform.h"

namespace rvx::os {
namespace {

// A unique object name for this process and test, removed again at the end.
class ShmName {
 public:
  ShmName() {
    static int counter = 0;
    name_ = "rvxpt-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
    Unlink();
  }
  ~ShmName() { Unlink(); }
  const char* c_str() const { return name_.c_str(); }
  std::string path() const { return "/" + name_; }

 private:
  void Unlink() const {
    shm_unlink(path().c_str());
    shm_unlink((path() + ".guard").c_str());
  }
  std::string name_;
};

// Runs `body` in a forked child; its exit code, or -1 when it had to be killed
// after `timeout_ms` (a hang).
int RunInChild(const std::function<int()>& body, int timeout_ms = 5000) {
  const pid_t pid = fork();
  if (pid == 0) _exit(body());
  for (int waited = 0; waited < timeout_ms; waited += 10) {
    int status;
    if (waitpid(pid, &status, WNOHANG) == pid) return WIFEXITED(status) ? WEXITSTATUS(status) : -2;
    usleep(10000);
  }
  kill(pid, SIGKILL);
  waitpid(pid, nullptr, 0);
  return -1;
}

bool Readable(int fd, int timeout_ms) {
  pollfd p{fd, POLLIN, 0};
  return poll(&p, 1, timeout_ms) == 1;
}

// ---- Named mutex ----

TEST(NamedMutexTest, FirstCreatorOwnsItAndOthersFindItExisting) {
  ShmName name;
  bool existed = true;
  Handle first = CreateNamedMutex(name.c_str(), true, &existed);
  ASSERT_NE(first, nullptr);
  EXPECT_FALSE(existed);
  Handle second = CreateNamedMutex(name.c_str(), true, &existed);
  ASSERT_NE(second, nullptr);
  EXPECT_TRUE(existed);

  // Owned twice now (initial ownership and one wait); another process gets
  // in only after both releases.
  ASSERT_TRUE(WaitMutex(first));
  int acquired[2];
  ASSERT_EQ(pipe(acquired), 0);
  const pid_t child = fork();
  if (child == 0) {
    bool child_existed = false;
    Handle mine = CreateNamedMutex(name.c_str(), true, &child_existed);
    const bool ok = mine != nullptr && child_existed && WaitMutex(mine);
    const char byte = ok ? 1 : 0;
    _exit(write(acquired[1], &byte, 1) == 1 ? 0 : 1);
  }
  EXPECT_FALSE(Readable(acquired[0], 200));
  ReleaseMutex(first);
  EXPECT_FALSE(Readable(acquired[0], 200));
  ReleaseMutex(first);
  ASSERT_TRUE(Readable(acquired[0], 5000));
  char byte = 0;
  EXPECT_EQ(read(acquired[0], &byte, 1), 1);
  EXPECT_EQ(byte, 1);
  waitpid(child, nullptr, 0);
  close(acquired[0]);
  close(acquired[1]);
  CloseMutex(second);
  CloseMutex(first);
}

TEST(NamedMutexTest, GoneWhenTheLastHolderLeaves) {
  struct Case {
    const char* what;
    std::function<void(const ShmName&)> leave_behind;
  };
  const Case cases[] = {
      {"closed by its only holder",
       [](const ShmName& name) {
         bool existed;
         Handle h = CreateNamedMutex(name.c_str(), true, &existed);
         ReleaseMutex(h);
         CloseMutex(h);
       }},
      {"holder died owning it",
       [](const ShmName& name) {
         EXPECT_EQ(RunInChild([&] {
                     bool existed;
                     return CreateNamedMutex(name.c_str(), true, &existed) ? 0 : 1;
                   }),
                   0);
       }},
      {"stale object full of garbage, nobody holds it",
       [](const ShmName& name) {
         const int fd = shm_open(name.path().c_str(), O_RDWR | O_CREAT, 0600);
         const std::vector<char> junk(sizeof(pthread_mutex_t), '\xFF');
         ASSERT_EQ(write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
         close(fd);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShmName name;
    c.leave_behind(name);
    bool existed = true;
    Handle h = CreateNamedMutex(name.c_str(), false, &existed);
    ASSERT_NE(h, nullptr);
    EXPECT_FALSE(existed);
    // Fresh means usable at once, also by another process.
    EXPECT_EQ(RunInChild([&] {
                bool e;
                Handle other = CreateNamedMutex(name.c_str(), false, &e);
                return other != nullptr && e && WaitMutex(other) ? 0 : 1;
              }),
              0);
    EXPECT_TRUE(WaitMutex(h));
    ReleaseMutex(h);
    CloseMutex(h);
  }
}

TEST(NamedMutexTest, OwnerDyingDoesNotHangTheOthers) {
  ShmName name;
  bool existed;
  Handle mine = CreateNamedMutex(name.c_str(), false, &existed);
  ASSERT_NE(mine, nullptr);
  // The child takes the mutex recursively and dies holding it.
  ASSERT_EQ(RunInChild([&] {
              bool e;
              Handle h = CreateNamedMutex(name.c_str(), false, &e);
              return h != nullptr && WaitMutex(h) && WaitMutex(h) ? 0 : 1;
            }),
            0);
  // Waited on in a child, so that a hang fails the test instead of stalling it.
  EXPECT_EQ(RunInChild([&] { return WaitMutex(mine) ? 0 : 1; }), 0);
  EXPECT_TRUE(WaitMutex(mine));
  ReleaseMutex(mine);
  // Recovered for good: a third process takes and gives it back normally.
  EXPECT_EQ(RunInChild([&] { return WaitMutex(mine) ? (ReleaseMutex(mine), 0) : 1; }), 0);
  CloseMutex(mine);
}

TEST(NamedMutexTest, ExactlyOneOfSimultaneousCreatorsIsFirst) {
  constexpr int kProcesses = 6;
  for (int round = 0; round < 5; ++round) {
    ShmName name;
    int start[2], results[2], done[2];
    ASSERT_EQ(pipe(start), 0);
    ASSERT_EQ(pipe(results), 0);
    ASSERT_EQ(pipe(done), 0);
    std::vector<pid_t> children;
    for (int i = 0; i < kProcesses; ++i) {
      const pid_t pid = fork();
      if (pid == 0) {
        close(start[1]);
        close(done[1]);
        char byte;
        (void)read(start[0], &byte, 1);  // returns when the parent closes it
        bool existed = true;
        Handle h = CreateNamedMutex(name.c_str(), true, &existed);
        byte = h == nullptr ? 'x' : existed ? 'e' : 'f';
        if (write(results[1], &byte, 1) != 1) _exit(1);
        (void)read(done[0], &byte, 1);  // hold it until every process has reported
        _exit(0);
      }
      children.push_back(pid);
    }
    close(start[0]);
    close(start[1]);
    std::string reports;
    while (reports.size() < kProcesses && Readable(results[0], 5000)) {
      char byte;
      if (read(results[0], &byte, 1) == 1) reports += byte;
    }
    close(done[1]);
    for (pid_t pid : children) waitpid(pid, nullptr, 0);
    for (int fd : {results[0], results[1], done[0]}) close(fd);
    EXPECT_EQ(reports.size(), static_cast<size_t>(kProcesses));
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 'f'), 1) << reports;
    EXPECT_EQ(std::count(reports.begin(), reports.end(), 'e'), kProcesses - 1) << reports;
  }
}

// Processes that keep creating, taking and closing one mutex must never see a
// half-made one nor both believe they created it: no increment is lost.
TEST(NamedMutexTest, ChurningProcessesStayExclusive) {
  ShmName mutex_name, counter_name;
  Section counter = CreateOrOpenSection(counter_name.c_str(), sizeof(uint32_t));
  ASSERT_NE(counter.view, nullptr);
  auto* count = static_cast<volatile uint32_t*>(counter.view);
  constexpr int kProcesses = 4, kRounds = 400;
  std::vector<pid_t> children;
  for (int i = 0; i < kProcesses; ++i) {
    const pid_t pid = fork();
    if (pid == 0) {
      for (int round = 0; round < kRounds; ++round) {
        bool existed;
        Handle m = CreateNamedMutex(mutex_name.c_str(), false, &existed);
        if (m == nullptr || !WaitMutex(m)) _exit(1);
        const uint32_t seen = *count;
        sched_yield();
        *count = seen + 1;
        ReleaseMutex(m);
        CloseMutex(m);
      }
      _exit(0);
    }
    children.push_back(pid);
  }
  for (pid_t pid : children) {
    int status = -1;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(*count, static_cast<uint32_t>(kProcesses * kRounds));
  CloseSection(counter.handle);
}

// ---- Named section ----

constexpr size_t kSectionSize = 85424;

bool AllZero(const void* view, size_t size) {
  const auto* bytes = static_cast<const unsigned char*>(view);
  return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; });
}

TEST(NamedSectionTest, CreatorZeroFillsAndOthersShareItsBytes) {
  ShmName name;
  Section first = CreateOrOpenSection(name.c_str(), kSectionSize);
  ASSERT_NE(first.handle, nullptr);
  ASSERT_NE(first.view, nullptr);
  EXPECT_TRUE(first.created);
  EXPECT_TRUE(AllZero(first.view, kSectionSize));
  auto* bytes = static_cast<unsigned char*>(first.view);
  bytes[0] = 0x11;
  bytes[kSectionSize - 1] = 0x22;

  // The object holds exactly the section's bytes, under the name as given.
  const int fd = shm_open(name.path().c_str(), O_RDONLY, 0);
  struct stat st;
  ASSERT_EQ(fstat(fd, &st), 0);
  EXPECT_EQ(st.st_size, static_cast<off_t>(kSectionSize));
  close(fd);

  EXPECT_EQ(RunInChild([&] {
              Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
              if (s.view == nullptr || s.created) return 1;
              auto* b = static_cast<unsigned char*>(s.view);
              if (b[0] != 0x11 || b[kSectionSize - 1] != 0x22) return 2;
              b[100] = 0x33;
              return 0;
            }),
            0);
  EXPECT_EQ(bytes[100], 0x33);
  FlushView(first.view, kSectionSize);

  // Another view in the same process: the same bytes at another address.
  Section second = CreateOrOpenSection(name.c_str(), kSectionSize);
  ASSERT_NE(second.view, nullptr);
  EXPECT_FALSE(second.created);
  EXPECT_NE(second.view, first.view);
  EXPECT_EQ(static_cast<unsigned char*>(second.view)[100], 0x33);
  CloseSection(second.handle);
  CloseSection(first.handle);
}

TEST(NamedSectionTest, LeftoverWithoutHolderIsCreatedAfresh) {
  struct Case {
    const char* what;
    std::function<void(const ShmName&)> leave_behind;
  };
  const Case cases[] = {
      {"stale object nobody holds",
       [](const ShmName& name) {
         const int fd = shm_open(name.path().c_str(), O_RDWR | O_CREAT, 0600);
         const std::vector<char> junk(kSectionSize + 7, '\xAB');
         ASSERT_EQ(write(fd, junk.data(), junk.size()), static_cast<ssize_t>(junk.size()));
         close(fd);
       }},
      {"its only holder died",
       [](const ShmName& name) {
         EXPECT_EQ(RunInChild([&] {
                     Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
                     if (s.view == nullptr) return 1;
                     std::memset(s.view, 0xCD, kSectionSize);
                     return 0;
                   }),
                   0);
       }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    ShmName name;
    c.leave_behind(name);
    Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
    ASSERT_NE(s.view, nullptr);
    EXPECT_TRUE(s.created);
    EXPECT_TRUE(AllZero(s.view, kSectionSize));
    CloseSection(s.handle);
  }
}

TEST(NamedSectionTest, MappedViewKeepsItAliveAfterClose) {
  ShmName name;
  Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
  ASSERT_NE(s.view, nullptr);
  static_cast<unsigned char*>(s.view)[7] = 0x77;
  CloseSection(s.handle);
  EXPECT_EQ(static_cast<unsigned char*>(s.view)[7], 0x77);  // still mapped
  EXPECT_EQ(RunInChild([&] {
              Section other = CreateOrOpenSection(name.c_str(), kSectionSize);
              return other.view != nullptr && !other.created &&
                             static_cast<unsigned char*>(other.view)[7] == 0x77
                         ? 0
                         : 1;
            }),
            0);
}

TEST(NamedSectionTest, LiveSectionSmallerThanAskedIsRefused) {
  ShmName name;
  Section small = CreateOrOpenSection(name.c_str(), 64);
  ASSERT_NE(small.view, nullptr);
  Section big = CreateOrOpenSection(name.c_str(), kSectionSize);
  EXPECT_EQ(big.handle, nullptr);
  EXPECT_EQ(big.view, nullptr);
  CloseSection(small.handle);
}

// ---- Profile files ----

class ProfileFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char dir[] = "/tmp/rvxprofileXXXXXX";
    ASSERT_NE(mkdtemp(dir), nullptr);
    dir_ = dir;
    path_ = dir_ + "/RVXPRM0.DAT";
  }
  void TearDown() override {
    chmod(path_.c_str(), 0644);
    unlink(path_.c_str());
    rmdir(dir_.c_str());
  }
  void Write(const std::string& text) {
    unlink(path_.c_str());
    std::ofstream(path_, std::ios::binary) << text;
  }
  std::string Read() const {
    std::ifstream file(path_, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
  }
  std::string dir_, path_;
};

TEST_F(ProfileFileTest, GetProfileInt) {
  struct Case {
    const char* file;  // null: no file
    const char* section;
    const char* key;
    int32_t expected;
  };
  const Case cases[] = {
      {"[0-AXIS]\r\nPOS_ACC=123\r\n", "0-axis", "pos_acc", 123},
      {"[ 0-AXIS ]\nPOS_ACC = -45 \n", "0-AXIS", "POS_ACC", -45},
      {"[A]\n+SOFTLIMIT=1073741823.000000\n", "A", "+SOFTLIMIT", 1073741823},
      {"[A]\nK=  +7x\n", "A", "K", 7},
      {"[A]\nK=abc\n", "A", "K", 0},
      {"[A]\nK=-\n", "A", "K", 0},
      {"[A]\nK=4294967295\n", "A", "K", -1},
      {"[A]\nK=\n", "A", "K", -99},  // empty value counts as absent
      {"[A]\nK=1\nK=2\n", "A", "K", 1},
      {"[A]\nX=1\n[B]\nK=2\n", "A", "K", -99},
      {"[A]\nX=1\n[B]\nK=2\n[A]\nK=3\n", "A", "K", -99},  // only the first [A] counts
      {"K=5\n[A]\n", "A", "K", -99},
      {"[A]\nKEY=5\n", "A", "K", -99},
      {"[A]\nK=5", "A", "K", 5},  // no final line end
      {nullptr, "A", "K", -99},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.file ? c.file : "(no file)");
    if (c.file != nullptr) {
      Write(c.file);
    } else {
      unlink(path_.c_str());
    }
    EXPECT_EQ(GetProfileInt(c.section, c.key, -99, path_.c_str()), c.expected);
  }
}

TEST_F(ProfileFileTest, WriteProfileStringRewritesOneKey) {
  struct Case {
    const char* before;  // null: no file
    const char* section;
    const char* key;
    const char* value;
    const char* after;
  };
  const Case cases[] = {
      {nullptr, "VERSION", "VER", "1.0", "[VERSION]\r\nVER=1.0\r\n"},
      {"[A]\nx=1\nKey=2\ny=3\n[B]\nKey=9\n", "a", "KEY", "5",
       "[A]\r\nx=1\r\nKey=5\r\ny=3\r\n[B]\r\nKey=9\r\n"},
      {"[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"[A]\nx=1\n", "B", "k", "v", "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
      {"; note\n[A]\nnot a key\n x = 1\n", "A", "x", "-7",
       "; note\r\n[A]\r\nnot a key\r\nx=-7\r\n"},
      {"[A]\nx=1", "A", "y", "2", "[A]\r\nx=1\r\ny=2\r\n"},
      {"[A]\n", "A", "y", "", "[A]\r\ny=\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.before ? c.before : "(no file)");
    if (c.before != nullptr) {
      Write(c.before);
    } else {
      unlink(path_.c_str());
    }
    EXPECT_TRUE(WriteProfileString(c.section, c.key, c.value, path_.c_str()));
    EXPECT_EQ(Read(), c.after);
  }
}

TEST_F(ProfileFileTest, WrittenValuesReadBack) {
  unlink(path_.c_str());
  for (int32_t value : {0, 1, -1, 2147483647, -2147483647 - 1}) {
    ASSERT_TRUE(
        WriteProfileString("1-AXIS", "HOMEOFFSET", std::to_string(value).c_str(), path_.c_str()));
    EXPECT_EQ(GetProfileInt("1-AXIS", "HOMEOFFSET", 12345, path_.c_str()), value);
  }
  EXPECT_EQ(Read(), "[1-AXIS]\r\nHOMEOFFSET=-2147483648\r\n");
}

TEST_F(ProfileFileTest, ReadOnlyFileIsNotRewritten) {
  EXPECT_EQ(GetFileAttributes(path_.c_str()), 0u);
  EXPECT_FALSE(SetFileAttributes(path_.c_str(), kFileAttributeNormal));
  Write("[A]\nx=1\n");
  EXPECT_EQ(GetFileAttributes(path_.c_str()), kFileAttributeNormal);

  // Read-only and system, as a save leaves the parameter file.
  ASSERT_TRUE(SetFileAttributes(path_.c_str(), kFileAttributeReadOnly | kFileAttributeSystem));
  EXPECT_EQ(GetFileAttributes(path_.c_str()), kFileAttributeReadOnly);
  EXPECT_FALSE(WriteProfileString("A", "x", "2", path_.c_str()));
  EXPECT_EQ(Read(), "[A]\nx=1\n");
  EXPECT_EQ(GetProfileInt("A", "x", 0, path_.c_str()), 1);

  ASSERT_TRUE(SetFileAttributes(path_.c_str(), kFileAttributeNormal));
  EXPECT_EQ(GetFileAttributes(path_.c_str()), kFileAttributeNormal);
  EXPECT_TRUE(WriteProfileString("A", "x", "2", path_.c_str()));
  EXPECT_EQ(GetProfileInt("A", "x", 0, path_.c_str()), 2);
}

TEST_F(ProfileFileTest, MissingDirectoryFailsTheWrite) {
  EXPECT_FALSE(WriteProfileString("A", "x", "1", (dir_ + "/missing/f.ini").c_str()));
}

// ---- Events and threads ----

struct Waiter {
  Handle event;
  std::atomic<int> wakes{0};
  std::atomic<bool> stop{false};
};

uint32_t CountWakes(void* arg) {
  auto* w = static_cast<Waiter*>(arg);
  while (!w->stop && WaitEvent(w->event)) ++w->wakes;
  return 0;
}

bool EventuallyEquals(const std::atomic<int>& value, int expected) {
  for (int i = 0; i < 500 && value != expected; ++i) Sleep(10);
  return value == expected;
}

TEST(OsEventTest, AutoResetOneWakePerSignal) {
  Waiter waiter;
  waiter.event = CreateEvent();
  // A signal before anyone waits is kept; two are one.
  SetEvent(waiter.event);
  SetEvent(waiter.event);
  Handle thread = CreateThread(CountWakes, &waiter);
  ASSERT_NE(thread, nullptr);
  EXPECT_TRUE(EventuallyEquals(waiter.wakes, 1));
  Sleep(100);
  EXPECT_EQ(waiter.wakes, 1);
  SetEvent(waiter.event);
  EXPECT_TRUE(EventuallyEquals(waiter.wakes, 2));
  waiter.stop = true;
  SetEvent(waiter.event);
  EXPECT_TRUE(WaitThread(thread, UINT32_MAX));
  CloseThread(thread);
  CloseEvent(waiter.event);
  EXPECT_EQ(EventValue(nullptr), 0u);
}

uint32_t WaitOnce(void* event) { return WaitEvent(event) ? 0 : 1; }

TEST(OsThreadTest, WaitTimesOutWhileRunningAndTerminateEndsIt) {
  Handle event = CreateEvent();
  Handle thread = CreateThread(WaitOnce, event);
  ASSERT_NE(thread, nullptr);
  const uint32_t before = TickCount();
  EXPECT_FALSE(WaitThread(thread, 100));
  EXPECT_GE(static_cast<uint32_t>(TickCount() - before), 100u);
  EXPECT_TRUE(SetThreadPriority(thread, 1));
  EXPECT_TRUE(SetThreadPriority(thread, 0));

  TerminateThread(thread);
  EXPECT_TRUE(WaitThread(thread, 5000));
  CloseThread(thread);

  // The cancelled wait left the event usable: a new waiter is woken.
  Handle second = CreateThread(WaitOnce, event);
  SetEvent(event);
  EXPECT_TRUE(WaitThread(second, 5000));
  CloseThread(second);
  CloseEvent(event);
  EXPECT_FALSE(SetThreadPriority(nullptr, 1));
}

TEST(OsClockTest, TickAndLocalTime) {
  const uint32_t start = TickCount();
  Sleep(50);
  const uint32_t elapsed = TickCount() - start;
  EXPECT_GE(elapsed, 50u);
  EXPECT_LT(elapsed, 2000u);

  const LocalTime now = GetLocalTime();
  tm fields{};
  fields.tm_year = now.year - 1900;
  fields.tm_mon = now.month - 1;
  fields.tm_mday = now.day;
  fields.tm_hour = now.hour;
  fields.tm_min = now.minute;
  fields.tm_sec = now.second;
  fields.tm_isdst = -1;
  EXPECT_LE(std::labs(static_cast<long>(mktime(&fields) - time(nullptr))), 2);
  EXPECT_LT(now.millisecond, 1000);
}

// ---- System, devices, modules ----

TEST(OsSystemTest, EnvironmentArchitectureDevicesModules) {
  setenv("RVX_PT_VAR", "x/y", 1);
  EXPECT_EQ(GetEnv("RVX_PT_VAR"), "x/y");
  unsetenv("RVX_PT_VAR");
  EXPECT_EQ(GetEnv("RVX_PT_VAR"), "");
#if defined(__x86_64__)
  EXPECT_EQ(NativeArchitecture(), 9);
#elif defined(__aarch64__)
  EXPECT_EQ(NativeArchitecture(), 12);
#endif
  EXPECT_EQ(OpenDevice(4000000000u), nullptr);
  uint8_t record[16] = {};
  uint32_t returned = 7;
  EXPECT_EQ(DeviceControl(nullptr, 0xE0003828, record, 16, record, 16, &returned), 0);
  EXPECT_EQ(returned, 0u);

  Handle libm = LoadModule("libm.so.6");
  ASSERT_NE(libm, nullptr);
  auto* cosine = reinterpret_cast<double (*)(double)>(ModuleSymbol(libm, "cos"));
  ASSERT_NE(cosine, nullptr);
  EXPECT_EQ(cosine(0.0), 1.0);
  EXPECT_EQ(ModuleSymbol(libm, "no_such_symbol_here"), nullptr);
  EXPECT_EQ(LoadModule("/nonexistent/module.so"), nullptr);
}

// ---- Window messages ----

struct Seen {
  void* hwnd;
  uint32_t message;
  uintptr_t wparam;
  intptr_t lparam;
};
thread_local std::vector<Seen> seen;
void Record(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  seen.push_back({hwnd, message, wparam, lparam});
}

TEST(WindowMessageTest, PostedFromAnotherThreadQueuesOnTheOwner) {
  void* window = rvx_create_window(Record);
  ASSERT_NE(window, nullptr);
  bool poster_saw_any = true;
  std::thread poster([&] {
    for (uintptr_t i = 0; i < 3; ++i) EXPECT_TRUE(PostMessage(window, 0x400 + i, i, -1));
    Message m;
    poster_saw_any = PeekMessage(&m);
  });
  poster.join();
  EXPECT_FALSE(poster_saw_any);

  seen.clear();
  Message m;
  for (uintptr_t i = 0; i < 3; ++i) {
    ASSERT_TRUE(PeekMessage(&m));
    EXPECT_EQ(m.window, window);
    EXPECT_EQ(m.message, 0x400 + i);  // in order
    DispatchMessage(m);
  }
  EXPECT_FALSE(PeekMessage(&m));
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].hwnd, window);
  EXPECT_EQ(seen[2].message, 0x402u);
  EXPECT_EQ(seen[2].wparam, 2u);
  EXPECT_EQ(seen[2].lparam, -1);
  rvx_destroy_window(window);
}

TEST(WindowMessageTest, QuitIsAThreadMessageOfTheCaller) {
  void* window = rvx_create_window(Record);
  std::thread other([] { PostQuitMessage(3); });
  other.join();
  Message m;
  EXPECT_FALSE(PeekMessage(&m));

  rvx_post_quit_message(7);
  RVX_MSG msg;
  ASSERT_EQ(rvx_get_message(&msg, 0), 1);
  EXPECT_EQ(msg.hwnd, nullptr);
  EXPECT_EQ(msg.message, RVX_WM_QUIT);
  EXPECT_EQ(msg.wparam, 7u);
  seen.clear();
  rvx_dispatch_message(&msg);
  EXPECT_TRUE(seen.empty());
  rvx_destroy_window(window);
}

TEST(WindowMessageTest, GetMessageWaitsUpToTheTimeout) {
  void* window = rvx_create_window(Record);
  RVX_MSG msg;
  uint32_t start = TickCount();
  EXPECT_EQ(rvx_get_message(&msg, 60), 0);
  EXPECT_GE(static_cast<uint32_t>(TickCount() - start), 60u);

  std::thread late([window] {
    Sleep(50);
    rvx_post_message(window, 0x401, 5, 6);
  });
  start = TickCount();
  ASSERT_EQ(rvx_get_message(&msg, 5000), 1);
  EXPECT_LT(static_cast<uint32_t>(TickCount() - start), 4000u);
  EXPECT_EQ(msg.message, 0x401u);
  EXPECT_EQ(msg.lparam, 6);
  late.join();
  rvx_destroy_window(window);
}

TEST(WindowMessageTest, DestroyedOrOrphanedWindowsTakeNothing) {
  void* window = rvx_create_window(Record);
  ASSERT_EQ(rvx_post_message(window, 0x400, 0, 0), 1);
  rvx_destroy_window(window);
  Message m;
  EXPECT_FALSE(PeekMessage(&m));  // the pending message went with it
  EXPECT_EQ(rvx_post_message(window, 0x400, 0, 0), 0);
  EXPECT_FALSE(PostMessage(nullptr, 0x400, 0, 0));

  void* orphan = nullptr;
  std::thread owner([&] { orphan = rvx_create_window(Record); });
  owner.join();
  ASSERT_NE(orphan, nullptr);
  EXPECT_EQ(rvx_post_message(orphan, 0x400, 0, 0), 0);
  EXPECT_EQ(rvx_create_window(nullptr), nullptr);
}

TEST(WindowMessageTest, ManyPostersOneOwner) {
  void* window = rvx_create_window(Record);
  constexpr int kThreads = 4, kEach = 200;
  std::vector<std::thread> posters;
  for (int t = 0; t < kThreads; ++t) {
    posters.emplace_back([window, t] {
      for (int i = 0; i < kEach; ++i) rvx_post_message(window, 0x400, t, i);
    });
  }
  std::vector<int> next(kThreads, 0);
  RVX_MSG msg;
  for (int got = 0; got < kThreads * kEach; ++got) {
    ASSERT_EQ(rvx_get_message(&msg, 5000), 1);
    EXPECT_EQ(msg.lparam, next[msg.wparam]++);  // each poster's order is kept
  }
  for (std::thread& t : posters) t.join();
  rvx_destroy_window(window);
}

// ---- Version resource ----

void Put16(std::vector<uint8_t>* out, uint32_t v) {
  out->push_back(v & 0xFF);
  out->push_back(v >> 8 & 0xFF);
}
void Put32(std::vector<uint8_t>* out, uint32_t v) {
  Put16(out, v & 0xFFFF);
  Put16(out, v >> 16);
}
void Patch32(std::vector<uint8_t>* out, size_t at, uint32_t v) {
  for (int i = 0; i < 4; ++i) (*out)[at + i] = v >> (8 * i) & 0xFF;
}
void Pad4(std::vector<uint8_t>* out) {
  while (out->size() % 4 != 0) out->push_back(0);
}

// A node of VS_VERSIONINFO: text values are UTF-16 with a terminator.
struct VersionNode {
  std::u16string key;
  std::u16string text;          // wType 1
  std::vector<uint8_t> binary;  // wType 0 when not empty
  std::vector<VersionNode> children;

  void Emit(std::vector<uint8_t>* out) const {
    Pad4(out);
    const size_t start = out->size();
    const bool is_text = binary.empty();
    Put16(out, 0);
    Put16(out, is_text ? (text.empty() ? 0 : text.size() + 1) : binary.size());
    Put16(out, is_text ? 1 : 0);
    for (char16_t c : key) Put16(out, c);
    Put16(out, 0);
    Pad4(out);
    if (!is_text) out->insert(out->end(), binary.begin(), binary.end());
    if (!text.empty()) {
      for (char16_t c : text) Put16(out, c);
      Put16(out, 0);
    }
    for (const VersionNode& child : children) child.Emit(out);
    const size_t length = out->size() - start;
    (*out)[start] = length & 0xFF;
    (*out)[start + 1] = length >> 8;
  }
};

std::vector<uint8_t> VersionInfo() {
  std::vector<uint8_t> fixed;
  Put32(&fixed, 0xFEEF04BD);
  fixed.resize(52);
  VersionNode root{u"VS_VERSION_INFO", u"", fixed, {}};
  root.children.push_back({u"StringFileInfo",
                           u"",
                           {},
                           {{u"041204B0",
                             u"",
                             {},
                             {{u"CompanyName", u"Orbelan", {}, {}},
                              {u"FileVersion", u"2, 0, 1, 15", {}, {}},
                              {u"Comments", u"\u03A9 \U0001F600", {}, {}},
                              {u"Empty", u"", {}, {}}}}}});
  root.children.push_back(
      {u"VarFileInfo", u"", {}, {{u"Translation", u"", {0x12, 0x04, 0xB0, 0x04}, {}}}});
  std::vector<uint8_t> out;
  root.Emit(&out);
  return out;
}

// A minimal PE image whose one section, .rsrc, holds an RT_VERSION resource.
std::vector<uint8_t> BuildPe(bool pe32_plus) {
  const std::vector<uint8_t> version = VersionInfo();
  constexpr uint32_t kRsrcRva = 0x1000, kRawPointer = 0x200, kVersionAt = 0x58;
  std::vector<uint8_t> rsrc;
  const auto directory = [&](uint32_t id, uint32_t target) {
    for (int i = 0; i < 3; ++i) Put32(&rsrc, 0);
    Put16(&rsrc, 0);  // named entries
    Put16(&rsrc, 1);  // id entries
    Put32(&rsrc, id);
    Put32(&rsrc, target);
  };
  directory(16, 0x80000018);  // type RT_VERSION
  directory(1, 0x80000030);   // name VS_VERSION_INFO
  directory(0x0412, 0x48);    // language, then the data entry
  Put32(&rsrc, kRsrcRva + kVersionAt);
  Put32(&rsrc, version.size());
  Put32(&rsrc, 0);
  Put32(&rsrc, 0);
  rsrc.resize(kVersionAt);
  rsrc.insert(rsrc.end(), version.begin(), version.end());
  const uint32_t raw_size = (rsrc.size() + 0x1FF) & ~0x1FFu;

  std::vector<uint8_t> pe(0x40, 0);
  pe[0] = 'M';
  pe[1] = 'Z';
  Patch32(&pe, 0x3C, 0x40);
  const uint32_t optional_size = pe32_plus ? 240 : 224;
  Put32(&pe, 0x00004550);
  Put16(&pe, pe32_plus ? 0x8664 : 0x14C);
  Put16(&pe, 1);  // sections
  for (int i = 0; i < 3; ++i) Put32(&pe, 0);
  Put16(&pe, optional_size);
  Put16(&pe, 0x2022);
  const size_t optional = pe.size();
  pe.resize(optional + optional_size, 0);
  pe[optional] = 0x0B;
  pe[optional + 1] = pe32_plus ? 0x02 : 0x01;
  const size_t directories = optional + (pe32_plus ? 112 : 96);
  Patch32(&pe, directories - 4, 16);
  Patch32(&pe, directories + 2 * 8, kRsrcRva);
  Patch32(&pe, directories + 2 * 8 + 4, rsrc.size());
  const char name[8] = {'.', 'r', 's', 'r', 'c'};
  pe.insert(pe.end(), name, name + 8);
  Put32(&pe, rsrc.size());
  Put32(&pe, kRsrcRva);
  Put32(&pe, raw_size);
  Put32(&pe, kRawPointer);
  for (int i = 0; i < 3; ++i) Put32(&pe, 0);
  Put32(&pe, 0x40000040);
  pe.resize(kRawPointer, 0);
  pe.insert(pe.end(), rsrc.begin(), rsrc.end());
  pe.resize(kRawPointer + raw_size, 0);
  return pe;
}

class VersionResourceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    char path[] = "/tmp/rvxversionXXXXXX";
    const int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    path_ = path;
  }
  void TearDown() override { unlink(path_.c_str()); }
  void Write(const std::vector<uint8_t>& bytes, size_t size) {
    std::ofstream(path_, std::ios::binary | std::ios::trunc)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(size));
  }
  std::string path_;
};

TEST_F(VersionResourceTest, FindsStringValues) {
  struct Case {
    const char* sub_block;
    bool found;
    const char* value;
  };
  const Case cases[] = {
      {"\\StringFileInfo\\041204B0\\FileVersion", true, "2, 0, 1, 15"},
      {"\\stringfileinfo\\041204b0\\fileversion", true, "2, 0, 1, 15"},
      {"\\StringFileInfo\\041204B0\\CompanyName", true, "Orbelan"},
      {"\\StringFileInfo\\041204B0\\Comments", true, "\u03A9 \U0001F600"},
      {"\\StringFileInfo\\041204B0\\Empty", true, ""},
      {"\\StringFileInfo\\040904B0\\FileVersion", false, ""},
      {"\\StringFileInfo\\041204B0\\ProductName", false, ""},
      {"\\StringFileInfo\\041204B0\\File", false, ""},
      {"\\VarFileInfo\\Translation", false, ""},
      {"\\StringFileInfo\\041204B0", false, ""},
  };
  for (bool pe32_plus : {true, false}) {
    const std::vector<uint8_t> pe = BuildPe(pe32_plus);
    Write(pe, pe.size());
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.sub_block) + (pe32_plus ? " PE32+" : " PE32"));
      std::string value = "untouched";
      EXPECT_EQ(GetFileVersionString(path_.c_str(), c.sub_block, &value), c.found);
      EXPECT_EQ(value, c.found ? c.value : "untouched");
    }
  }
}

TEST_F(VersionResourceTest, NotAVersionedPeFile) {
  std::string value;
  const std::string text = "MZ but not much more than that, really";
  Write(std::vector<uint8_t>(text.begin(), text.end()), text.size());
  EXPECT_FALSE(
      GetFileVersionString(path_.c_str(), "\\StringFileInfo\\041204B0\\FileVersion", &value));
  EXPECT_FALSE(GetFileVersionString("/nonexistent/x.dll", "\\StringFileInfo\\041204B0\\FileVersion",
                                    &value));
  EXPECT_FALSE(GetFileVersionString("/proc/self/exe", "\\StringFileInfo\\041204B0\\FileVersion",
                                    &value));  // ELF
}

// Every truncation and every single-byte corruption either fails or gives what
// the damaged bytes say; under the sanitizers this also proves no bad access.
TEST_F(VersionResourceTest, DamagedFilesAreSafe) {
  const std::vector<uint8_t> pe = BuildPe(true);
  const std::string kTrue = "2, 0, 1, 15";
  const char* kSub = "\\StringFileInfo\\041204B0\\FileVersion";
  std::vector<uint8_t> utf16;
  for (char c : kTrue) Put16(&utf16, static_cast<uint8_t>(c));
  const size_t value_at =
      std::search(pe.begin(), pe.end(), utf16.begin(), utf16.end()) - pe.begin();
  ASSERT_LT(value_at, pe.size());
  const size_t data_end =
      pe.size() -
      (std::find_if(pe.rbegin(), pe.rend(), [](uint8_t b) { return b != 0; }) - pe.rbegin());
  std::string value;
  for (size_t size = 0; size <= pe.size(); size += 5) {
    SCOPED_TRACE(size);
    Write(pe, size);
    const bool found = GetFileVersionString(path_.c_str(), kSub, &value);
    EXPECT_EQ(found, size >= data_end);
    if (found) {
      EXPECT_EQ(value, kTrue);
    }
  }
  for (size_t at = 0; at < data_end; ++at) {
    SCOPED_TRACE(at);
    std::vector<uint8_t> bad = pe;
    bad[at] ^= 0xFF;
    Write(bad, bad.size());
    if (!GetFileVersionString(path_.c_str(), kSub, &value)) continue;
    if (at >= value_at && at < value_at + utf16.size() + 2) {  // with the terminator
      EXPECT_NE(value, kTrue);  // the value really comes from those bytes
    } else {
      EXPECT_EQ(kTrue.rfind(value, 0), 0u) << value;  // at most cut short by a length
    }
  }
}

TEST_F(VersionResourceTest, DllBuiltByMingw) {
  if (std::system("command -v x86_64-w64-mingw32-windres >/dev/null 2>&1 && "
                  "command -v x86_64-w64-mingw32-gcc >/dev/null 2>&1") != 0) {
    GTEST_SKIP() << "mingw-w64 is not installed";
  }
  const std::string base = path_ + "-dll";
  std::ofstream(base + ".rc") << "1 VERSIONINFO\nFILEVERSION 3,1,4,1\nBEGIN\n"
                                 " BLOCK \"StringFileInfo\"\n BEGIN\n  BLOCK \"041204B0\"\n"
                                 "  BEGIN\n   VALUE \"FileVersion\", \"3, 1, 4, 1\"\n"
                                 "   VALUE \"ProductName\", \"Kinetra\"\n  END\n END\n"
                                 " BLOCK \"VarFileInfo\"\n BEGIN\n"
                                 "  VALUE \"Translation\", 0x0412, 0x04B0\n END\nEND\n";
  std::ofstream(base + ".c") << "int rvx_probe(void) { return 1; }\n";
  const std::string build = "x86_64-w64-mingw32-windres " + base + ".rc -O coff -o " + base +
                            ".o && x86_64-w64-mingw32-gcc -shared " + base + ".c " + base +
                            ".o -o " + base + ".dll";
  const bool built = std::system(build.c_str()) == 0;
  std::string value;
  if (built) {
    EXPECT_TRUE(GetFileVersionString((base + ".dll").c_str(),
                                     "\\StringFileInfo\\041204B0\\FileVersion", &value));
    EXPECT_EQ(value, "3, 1, 4, 1");
    EXPECT_TRUE(GetFileVersionString((base + ".dll").c_str(),
                                     "\\StringFileInfo\\041204B0\\ProductName", &value));
    EXPECT_EQ(value, "Kinetra");
  }
  for (const char* ext : {".rc", ".c", ".o", ".dll"}) unlink((base + ext).c_str());
  ASSERT_TRUE(built) << build;
}

}  // namespace
}  // namespace rvx::os
