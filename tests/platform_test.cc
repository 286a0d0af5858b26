// The operating-system layer's contract, checked alike on every system: named
// objects across processes, profile files, events and threads, window messages.
#include "platform/platform.h"

#include <atomic>
#include <ctime>
#include <thread>

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr size_t kSectionSize = 85424;

struct Probe {
  os::Handle mutex;
  std::atomic<bool> taken{false};
};

// args: mutex name, and "close" to close it again at once. 0: taken (and
// the process dies owning it) or closed; 1: held by another process; 2: the
// mutex did not exist. Other tests probe with it too.
RVX_TEST_CHILD(ProbeMutex) {
  Probe probe;
  bool existed = false;
  probe.mutex = os::CreateNamedMutex(args.at(0).c_str(), false, &existed);
  if (probe.mutex == nullptr || !existed) return 2;
  if (args.size() > 1) return os::CloseMutex(probe.mutex), 0;
  os::Handle thread = os::CreateThread(
      [](void* arg) -> uint32_t {
        auto* p = static_cast<Probe*>(arg);
        p->taken = os::WaitMutex(p->mutex);
        return 0;
      },
      &probe);
  return os::WaitThread(thread, 300) && probe.taken ? 0 : 1;
}

// args: section name, "leave" or "share". leave: creates the section and
// scribbles on it; share: finds the parent's bytes and answers in byte 100.
RVX_TEST_CHILD(UseSection) {
  const os::Section s = os::CreateOrOpenSection(args.at(0).c_str(), kSectionSize);
  auto* bytes = static_cast<unsigned char*>(s.view);
  if (bytes == nullptr) return 2;
  if (args.at(1) == "leave") {
    if (!s.created || bytes[kSectionSize - 1] != 0) return 3;
    memset(bytes, 0xCD, kSectionSize);
    return 0;
  }
  if (s.created || bytes[0] != 0x11 || bytes[kSectionSize - 1] != 0x22) return 4;
  bytes[100] = 0x33;
  os::FlushView(s.view, kSectionSize);
  os::CloseSection(s.handle);
  return 0;
}

std::string ObjectName(const char* what) {
  return "rvxpt" + std::to_string(CurrentProcessId()) + what;
}

TEST(PlatformTest, NamedMutexAndSectionAcrossProcesses) {
  const std::string name = ObjectName("mutex"), section_name = ObjectName("section");
  // What a dead process leaves behind counts as absent.
  ASSERT_EQ(RunChild("UseSection", {section_name, "leave"}), 0);
  bool existed = true;
  os::Handle first = os::CreateNamedMutex(name.c_str(), true, &existed);
  EXPECT_FALSE(existed);
  os::Handle second = os::CreateNamedMutex(name.c_str(), true, &existed);  // not owned twice
  EXPECT_TRUE(existed);
  ASSERT_TRUE(os::WaitMutex(first));  // recursive: owned twice now
  // The probe's exit code after each step: every probe also closes its handle.
  EXPECT_EQ(RunChild("ProbeMutex", {name}), 1);
  os::ReleaseMutex(first);
  EXPECT_EQ(RunChild("ProbeMutex", {name}), 1);
  os::ReleaseMutex(first);
  EXPECT_EQ(RunChild("ProbeMutex", {name}), 0);  // which died owning it
  EXPECT_TRUE(os::WaitMutex(first));             // a dead owner's mutex counts as acquired
  os::ReleaseMutex(first);
  EXPECT_EQ(RunChild("ProbeMutex", {name}), 0);  // recovered for good
  os::CloseMutex(first);                         // the creator goes, the other holder keeps it
  EXPECT_EQ(RunChild("ProbeMutex", {name, "close"}), 0);
  EXPECT_EQ(RunChild("ProbeMutex", {name, "close"}), 0);  // closing a handle removes nothing
  os::CloseMutex(second);
  EXPECT_EQ(RunChild("ProbeMutex", {name}), 2);  // gone with its last holder
  os::RemoveNamedObject(name.c_str());           // the probe ended holding a new one

  const os::Section section = os::CreateOrOpenSection(section_name.c_str(), kSectionSize);
  auto* bytes = static_cast<unsigned char*>(section.view);
  ASSERT_NE(bytes, nullptr);
  EXPECT_TRUE(section.created);
  EXPECT_EQ(bytes[0] | bytes[kSectionSize - 1], 0);
  bytes[0] = 0x11;
  bytes[kSectionSize - 1] = 0x22;
  EXPECT_EQ(RunChild("UseSection", {section_name, "share"}), 0);
  EXPECT_EQ(bytes[100], 0x33);
  os::CloseSection(section.handle);
  os::RemoveNamedObject(section_name.c_str());
}

// args: mutex name, section name. Each round takes the mutex twice (nested),
// gives one take back, bumps the section's first word without an atomic step
// and gives the last take back.
constexpr int kBumps = 2000;  // by each process
RVX_TEST_CHILD(BumpUnderMutex) {
  os::Handle mutex = os::CreateNamedMutex(args.at(0).c_str(), false, nullptr);
  const os::Section s = os::CreateOrOpenSection(args.at(1).c_str(), kSectionSize);
  if (mutex == nullptr || s.view == nullptr) return 2;
  auto* word = static_cast<volatile uint32_t*>(s.view);
  for (int round = 0; round < kBumps; ++round) {
    if (!os::WaitMutex(mutex) || !os::WaitMutex(mutex)) return 3;
    os::ReleaseMutex(mutex);
    const uint32_t seen = *word;
    if (round % 64 == 0) os::Sleep(1);  // outlasts the waiters' spinning
    *word = seen + 1;
    os::ReleaseMutex(mutex);
  }
  os::CloseSection(s.handle);
  os::CloseMutex(mutex);
  return 0;
}

// Contended takes spin before they wait: no bump may be lost, and nested
// takes must give the mutex up only with their last release.
TEST(PlatformTest, ContendedNamedMutexLosesNoUpdate) {
  constexpr int kProcesses = 3;
  const std::string name = ObjectName("bump"), section_name = name + "-counter";
  os::Handle mutex = os::CreateNamedMutex(name.c_str(), false, nullptr);  // keeps both alive
  const os::Section section = os::CreateOrOpenSection(section_name.c_str(), kSectionSize);
  ASSERT_NE(section.view, nullptr);
  std::vector<ChildProcess> children;
  for (int k = 0; k < kProcesses; ++k) {
    children.push_back(StartChild("BumpUnderMutex", {name, section_name}));
  }
  for (const ChildProcess& child : children) EXPECT_EQ(WaitChild(child), 0);
  EXPECT_EQ(*static_cast<uint32_t*>(section.view), uint32_t(kProcesses * kBumps));
  ASSERT_TRUE(os::WaitMutex(mutex));  // nobody kept it
  os::ReleaseMutex(mutex);
  os::CloseSection(section.handle);
  os::CloseMutex(mutex);
  os::RemoveNamedObject(section_name.c_str());
  os::RemoveNamedObject(name.c_str());
}

// Reading and writing existing files is pinned against the parsed document
// by IniDocumentTest, the read-only attribute by ParamFileTest.
TEST(PlatformTest, MissingIniFiles) {
  const std::string dir = MakeTempDir(), path = dir + "RVXPRM0.DAT";
  ASSERT_FALSE(dir.empty());
  EXPECT_EQ(os::ReadIniInt("0-Axis", "K", -99, path.c_str()), -99);
  EXPECT_EQ(os::GetFileAttributes(path.c_str()), 0u);
  EXPECT_FALSE(os::SetFileAttributes(path.c_str(), os::kFileAttributeNormal));
  ASSERT_TRUE(os::WriteIniString("AXIS1", "RANGE", "-300", path.c_str()));
  EXPECT_EQ(os::GetFileAttributes(path.c_str()) & os::kFileAttributeReadOnly, 0u);
  RemoveTree(dir);
}

TEST(PlatformTest, AutoResetEventsThreadsAndTime) {
  const os::ThreadProc WaitOnce = [](void* e) { return os::WaitEvent(e) ? 0u : 1u; };
  os::Handle event = os::CreateEvent();
  os::SetEvent(event);  // kept until someone waits; two signals are one
  os::SetEvent(event);
  EXPECT_TRUE(os::WaitEvent(event));
  os::Handle thread = os::CreateThread(WaitOnce, event);
  const uint32_t before = os::TickCount();
  EXPECT_FALSE(os::WaitThread(thread, 100));  // the event has reset itself
  const uint32_t waited = os::TickCount() - before;
  EXPECT_TRUE(waited >= 90 && waited < 5000) << waited;
  os::TerminateThread(thread);
  EXPECT_TRUE(os::WaitThread(thread, 5000));
  os::CloseThread(thread);
  thread = os::CreateThread(WaitOnce, event);  // the cancelled wait left the event usable
  os::SetEvent(event);
  EXPECT_TRUE(os::WaitThread(thread, 5000));
  os::CloseThread(thread);
  os::CloseEvent(event);

  const time_t now = time(nullptr);
  const tm* local = localtime(&now);
  const os::LocalTime t = os::GetLocalTime();
  EXPECT_EQ(t.year * 10000 + t.month * 100 + t.day,  // racy at midnight
            (local->tm_year + 1900) * 10000 + (local->tm_mon + 1) * 100 + local->tm_mday);
}

// A wait on a word, round by round: the spinning and yielding rounds return
// at once whatever the nap, the napping ones sleep until the nap ends or the
// word changes, and a word that changed before the wait is not slept on.
TEST(PlatformTest, AWaitOnAWordSpinsThenYieldsThenNapsUntilTheWordChanges) {
  constexpr uint64_t kLong = 5000000, kNap = 60000;  // microseconds
  struct Case {
    const char* what;
    os::Backoff backoff;
    uint32_t round;
    uint32_t seen;       // the word holds 7 when the wait begins
    bool changed_later;  // another thread stores 9 and wakes after 30 ms
    uint64_t min_us, max_us;
  };
  const Case cases[] = {
      {"the first spinning round", {2, 3, kLong}, 0, 7, false, 0, 500000},
      {"the last spinning round", {2, 3, kLong}, 1, 7, false, 0, 500000},
      {"the first yielding round", {2, 3, kLong}, 2, 7, false, 0, 500000},
      {"the last yielding round", {2, 3, kLong}, 4, 7, false, 0, 500000},
      {"the first napping round", {2, 3, kNap}, 5, 7, false, kNap - 5000, 1500000},
      {"a late napping round", {2, 3, kNap}, 100000, 7, false, kNap - 5000, 1500000},
      {"no spinning or yielding", {0, 0, kNap}, 0, 7, false, kNap - 5000, 1500000},
      {"a word changed before", {0, 0, kLong}, 0, 8, false, 0, 500000},
      {"a word changed during the nap", {2, 3, kLong}, 5, 7, true, 25000, 2500000},
  };
  for (const Case& c : cases) {
    std::atomic<uint32_t> word{7};
    std::thread changer;
    if (c.changed_later) {
      changer = std::thread([&word] {
        os::Sleep(30);
        word = 9;
        os::WakeSharedWord(&word);
      });
    }
    const uint64_t start = os::MonotonicMicros();
    os::WaitOnWord(&word, c.seen, c.round, c.backoff);
    const uint64_t took = os::MonotonicMicros() - start;
    if (changer.joinable()) changer.join();
    EXPECT_GE(took, c.min_us) << c.what;
    EXPECT_LT(took, c.max_us) << c.what;
  }
}

std::vector<os::Message>& Dispatched() {
  static std::vector<os::Message> messages;
  return messages;
}
void Record(void* window, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  Dispatched().push_back({window, message, wparam, lparam});
}

TEST(PlatformTest, EachThreadTakesItsOwnMessagesInOrder) {
  void* window = CreateTestWindow(Record);
  ASSERT_NE(window, nullptr);
  os::Message msg;
  while (os::PeekMessage(&msg)) {
  }
  bool poster_got_only_its_quit = false;
  std::thread([&] {
    for (uintptr_t i = 0; i < 3; ++i) os::PostMessage(window, 0x400 + i, i, -1);
    os::PostQuitMessage(3);  // a thread message of the poster
    poster_got_only_its_quit =
        os::PeekMessage(&msg) && msg.message == os::kWmQuit && !os::PeekMessage(&msg);
  }).join();
  EXPECT_TRUE(poster_got_only_its_quit);
  os::PostQuitMessage(7);
  Dispatched().clear();
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_TRUE(os::PeekMessage(&msg));
    EXPECT_EQ(msg.window, i < 3 ? window : nullptr);
    EXPECT_EQ(msg.message, i < 3 ? 0x400 + i : os::kWmQuit);
    EXPECT_EQ(msg.wparam, i < 3 ? i : 7u);
    os::DispatchMessage(msg);  // the quit message goes to no window
  }
  EXPECT_FALSE(os::PeekMessage(&msg));
  ASSERT_EQ(Dispatched().size(), 3u);
  EXPECT_EQ(Dispatched()[2].window, window);
  EXPECT_EQ(Dispatched()[2].wparam, 2u);
  EXPECT_EQ(Dispatched()[2].lparam, -1);
  DestroyTestWindow(window);
  EXPECT_FALSE(os::PostMessage(window, 0x400, 0, 0));
}

}  // namespace
}  // namespace rvx::test
