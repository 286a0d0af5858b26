// The POSIX operating-system layer: named objects across processes, profile
// files, events and threads, window messages and PE version resources.
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <new>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "gtest/gtest.h"
#include "include/rvx406a.h"
#include "platform/platform.h"

namespace rvx::os {
namespace {

constexpr size_t kSectionSize = 85424;

// A unique object name for this process and test, removed again at the end.
struct ShmName {
  ~ShmName() { RemoveNamedObject(c_str()); }
  const char* c_str() const { return name.c_str(); }
  static inline int counter = 0;
  const std::string name = "rvxpt-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
};

// Runs `body` in a forked child: its exit code, or -1 when it was still running after
// `timeout_s` or crashed.
template <typename Body>
int RunInChild(Body body, unsigned timeout_s = 5) {
  const pid_t pid = fork();
  if (pid == 0) _exit((alarm(timeout_s), body()));
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(NamedMutexTest, FirstCreatorOwnsItRecursivelyAndDeadOwnersDoNotHangOthers) {
  ShmName name;
  bool existed = true;
  const auto take = [&] {  // opens the mutex, finds it existing and takes it
    Handle h = CreateNamedMutex(name.c_str(), false, &existed);
    return h != nullptr && existed && WaitMutex(h) ? 0 : 1;
  };
  // What a dead process leaves behind, even owned, counts as absent.
  ASSERT_EQ(RunInChild([&] { return CreateNamedMutex(name.c_str(), true, &existed) ? 0 : 1; }), 0);
  Handle first = CreateNamedMutex(name.c_str(), true, &existed);
  EXPECT_FALSE(existed);
  Handle second = CreateNamedMutex(name.c_str(), true, &existed);  // exists: not owned
  EXPECT_TRUE(existed);
  ASSERT_TRUE(WaitMutex(first));       // owned twice now
  EXPECT_EQ(RunInChild(take, 1), -1);  // a hang
  ReleaseMutex(first);
  EXPECT_EQ(RunInChild(take, 1), -1);  // still owned once
  ReleaseMutex(first);
  EXPECT_EQ(RunInChild(take), 0);  // which dies owning it; children wait, as they may hang
  EXPECT_EQ(RunInChild([&] { return WaitMutex(first) ? 0 : 1; }), 0);  // dies owning it too
  EXPECT_EQ(RunInChild([&] { return WaitMutex(first) ? (ReleaseMutex(first), 0) : 1; }), 0);
  EXPECT_EQ(RunInChild(take), 0);  // recovered for good
  CloseMutex(second);
  CloseMutex(first);
}

TEST(NamedMutexTest, RacingProcessesAgreeOnOneMutex) {
  struct Shared {
    std::atomic<int> stage{0}, first{0}, existing{0};
    int count = 0;
  };
  void* memory =
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
  auto* s = new (memory) Shared;
  ShmName name;
  for (int i = 0; i < 4; ++i) {  // creating it all at once: exactly one is first
    if (fork() != 0) continue;
    while (s->stage == 0) sched_yield();
    bool existed = true;
    Handle m = CreateNamedMutex(name.c_str(), true, &existed);
    ++(existed ? s->existing : s->first);
    while (s->stage == 1) usleep(1000);  // holding it until every process is in
    if (!existed) ReleaseMutex(m);
    _exit(0);
  }
  s->stage = 1;
  for (int i = 0; i < 500 && s->first + s->existing < 4; ++i) usleep(10000);
  EXPECT_EQ(s->first, 1);
  EXPECT_EQ(s->existing, 3);
  s->stage = 2;
  for (int i = 0, status = 0; i < 4; ++i) EXPECT_TRUE(wait(&status) > 0 && status == 0);
  for (int i = 0; i < 4; ++i) {  // making, taking and closing it over and over
    if (fork() != 0) continue;
    alarm(20);  // a hang fails
    for (int round = 0; round < 400; ++round) {
      Handle m = CreateNamedMutex(name.c_str(), false, nullptr);
      if (m == nullptr || !WaitMutex(m)) _exit(1);
      const int seen = s->count;
      sched_yield();
      s->count = seen + 1;  // no increment is lost
      ReleaseMutex(m);
      CloseMutex(m);
    }
    _exit(0);
  }
  for (int i = 0, status = 0; i < 4; ++i) EXPECT_TRUE(wait(&status) > 0 && status == 0);
  EXPECT_EQ(s->count, 1600);
  munmap(memory, sizeof(Shared));
}

TEST(NamedSectionTest, CreatorZeroFillsAndOtherProcessesShareIt) {
  ShmName name;
  const std::vector<char> zeros(kSectionSize);
  // A dead process leaves it scribbled on: as nobody holds it, it counts as absent.
  ASSERT_EQ(RunInChild([&] {
              const Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
              if (!s.created || memcmp(s.view, zeros.data(), kSectionSize) != 0) return 1;
              memset(s.view, 0xCD, kSectionSize);
              return 0;
            }),
            0);
  const Section first = CreateOrOpenSection(name.c_str(), kSectionSize);
  ASSERT_NE(first.view, nullptr);
  EXPECT_TRUE(first.created);
  EXPECT_EQ(memcmp(first.view, zeros.data(), kSectionSize), 0);
  auto* bytes = static_cast<unsigned char*>(first.view);
  bytes[0] = 0x11;
  bytes[kSectionSize - 1] = 0x22;
  CloseSection(first.handle);  // the view alone keeps it alive
  EXPECT_EQ(RunInChild([&] {
              const Section s = CreateOrOpenSection(name.c_str(), kSectionSize);
              auto* b = static_cast<unsigned char*>(s.view);
              if (s.created || b[0] != 0x11 || b[kSectionSize - 1] != 0x22) return 1;
              b[100] = 0x33;
              return 0;
            }),
            0);
  EXPECT_EQ(bytes[100], 0x33);
  // A live section smaller than asked for would fault on access.
  EXPECT_EQ(CreateOrOpenSection(name.c_str(), kSectionSize + 4096).view, nullptr);
}

const std::string kIni = "/tmp/rvxpt-" + std::to_string(getpid()) + ".ini";

// Replaces the file with `text`, or removes it when null.
void PutIni(const char* text) {
  unlink(kIni.c_str());
  if (text != nullptr) std::ofstream(kIni, std::ios::binary) << text;
}

std::string IniText() {
  std::ifstream file(kIni, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), {}};
}

TEST(ProfileFileTest, ReadIniInt) {
  const std::tuple<const char*, const char*, int32_t> cases[] = {
      // file (null: none), key
      {"[0-AXIS]\r\nPOS_ACC=123\r\n", "pos_acc", 123},
      {"[ 0-axis ]\nPOS_ACC = -45 \n", "POS_ACC", -45},
      {"[0-AXIS]\nK=  +7.5x\n", "K", 7},
      {"[0-AXIS]\nK=abc\n", "K", 0},
      {"[0-AXIS]\nK=4294967295\n", "K", -1},
      {"[0-AXIS]\nK=\n", "K", -99},  // an empty value counts as absent
      {"[0-AXIS]\nK=1\nK=2\n", "K", 1},
      {"[0-AXIS]\nX=1\n[B]\nK=2\n[0-AXIS]\nK=3\n", "K", -99},  // only the first section counts
      {"K=5\n[0-AXIS]\nKEY=5", "K", -99},
      {nullptr, "K", -99},
  };
  for (const auto& [file, key, expected] : cases) {
    SCOPED_TRACE(file ? file : "(no file)");
    PutIni(file);
    EXPECT_EQ(ReadIniInt("0-Axis", key, -99, kIni.c_str()), expected);
  }
}

TEST(ProfileFileTest, WriteProfileStringRewritesOneKey) {
  const std::tuple<const char*, const char*, const char*, const char*, const char*> cases[] = {
      // before (null: no file), section, key, value, after
      {nullptr, "VERSION", "VER", "1.0", "[VERSION]\r\nVER=1.0\r\n"},
      {"[A]\nx=1\nKey=2\ny=3\n[B]\nKey=9\n", "a", "KEY", "5",
       "[A]\r\nx=1\r\nKey=5\r\ny=3\r\n[B]\r\nKey=9\r\n"},
      {"[A]\r\nx=1\r\n\r\n[B]\r\ny=2\r\n", "A", "z", "3",
       "[A]\r\nx=1\r\nz=3\r\n\r\n[B]\r\ny=2\r\n"},
      {"[A]\nx=1", "B", "k", "v", "[A]\r\nx=1\r\n[B]\r\nk=v\r\n"},
      {"; note\n[A]\nnot a key\n x = 1\n", "A", "x", "", "; note\r\n[A]\r\nnot a key\r\nx=\r\n"},
  };
  for (const auto& [before, section, key, value, after] : cases) {
    SCOPED_TRACE(before ? before : "(no file)");
    PutIni(before);
    EXPECT_TRUE(WriteIniString(section, key, value, kIni.c_str()));
    EXPECT_EQ(IniText(), after);
  }
}

TEST(ProfileFileTest, ReadOnlyFileIsNotRewritten) {
  PutIni("[A]\nx=1\n");
  // Read-only and system, as a save leaves the parameter file; refused even to root.
  ASSERT_TRUE(SetFileAttributes(kIni.c_str(), kFileAttributeReadOnly | kFileAttributeSystem));
  EXPECT_EQ(GetFileAttributes(kIni.c_str()), kFileAttributeReadOnly);
  EXPECT_FALSE(WriteIniString("A", "x", "2", kIni.c_str()));
  EXPECT_EQ(IniText(), "[A]\nx=1\n");
  ASSERT_TRUE(SetFileAttributes(kIni.c_str(), kFileAttributeNormal));
  EXPECT_EQ(GetFileAttributes(kIni.c_str()), kFileAttributeNormal);
  EXPECT_TRUE(WriteIniString("A", "x", "2", kIni.c_str()));
  EXPECT_FALSE(WriteIniString("A", "x", "1", "/tmp/rvxpt-missing-dir/f.ini"));
  unlink(kIni.c_str());
  EXPECT_EQ(GetFileAttributes(kIni.c_str()), 0u);
}

uint32_t WaitOnce(void* event) { return WaitEvent(event) ? 0 : 1; }

TEST(OsThreadTest, AutoResetEventWaitTimeOutAndTerminate) {
  Handle event = CreateEvent();
  SetEvent(event);  // kept until someone waits; two signals are one
  SetEvent(event);
  EXPECT_TRUE(WaitEvent(event));
  Handle thread = CreateThread(WaitOnce, event);
  const uint32_t before = TickCount();
  EXPECT_FALSE(WaitThread(thread, 100));  // the event has reset itself
  const uint32_t waited = TickCount() - before;
  EXPECT_TRUE(waited >= 100 && waited < 5000) << waited;
  TerminateThread(thread);
  EXPECT_TRUE(WaitThread(thread, 5000));
  CloseThread(thread);
  // The cancelled wait left the event usable: a new waiter is woken.
  thread = CreateThread(WaitOnce, event);
  SetEvent(event);
  EXPECT_TRUE(WaitThread(thread, 5000));
  CloseThread(thread);
  CloseEvent(event);

  const time_t now = time(nullptr);
  const LocalTime t = GetLocalTime();
  tm local;
  localtime_r(&now, &local);
  EXPECT_EQ(t.month * 100 + t.day, (local.tm_mon + 1) * 100 + local.tm_mday);  // racy at midnight
}

thread_local std::vector<RVX_MSG> seen;
void Record(void* hwnd, uint32_t message, uintptr_t wparam, intptr_t lparam) {
  seen.push_back({hwnd, message, wparam, lparam});
}

TEST(WindowMessageTest, EachThreadTakesItsOwnMessagesInOrder) {
  void* window = rvx_create_window(Record);
  void* orphan = nullptr;
  bool poster_got_only_its_quit = false;
  std::thread([&] {
    for (uintptr_t i = 0; i < 3; ++i) PostMessage(window, 0x400 + i, i, -1);
    PostQuitMessage(3);  // a thread message of the poster
    Message m;
    poster_got_only_its_quit = PeekMessage(&m) && m.message == kWmQuit && !PeekMessage(&m);
    orphan = rvx_create_window(Record);  // goes when this thread ends
  }).join();
  EXPECT_TRUE(poster_got_only_its_quit);
  EXPECT_EQ(rvx_post_message(orphan, 0x400, 0, 0), 0);
  rvx_post_quit_message(7);
  seen.clear();
  RVX_MSG msg;
  for (uint32_t i = 0; i < 4; ++i) {
    ASSERT_EQ(rvx_get_message(&msg, 0), 1);
    EXPECT_EQ(msg.hwnd, i < 3 ? window : nullptr);
    EXPECT_EQ(msg.message, i < 3 ? 0x400 + i : RVX_WM_QUIT);
    EXPECT_EQ(msg.wparam, i < 3 ? i : 7);
    rvx_dispatch_message(&msg);  // WM_QUIT goes to no window
  }
  ASSERT_EQ(seen.size(), 3u);
  EXPECT_EQ(seen[2].hwnd, window);
  EXPECT_EQ(seen[2].lparam, -1);

  ASSERT_EQ(rvx_post_message(window, 0x400, 0, 0), 1);
  rvx_destroy_window(window);  // with the message still pending
  EXPECT_EQ(rvx_post_message(window, 0x400, 0, 0), 0);
  const uint32_t start = TickCount();
  EXPECT_EQ(rvx_get_message(&msg, 60), 0);  // waits for the time-out
  EXPECT_GE(static_cast<uint32_t>(TickCount() - start), 60u);
}

using Bytes = std::vector<uint8_t>;

void Put(Bytes* out, std::initializer_list<uint64_t> values, int width = 4) {
  for (uint64_t v : values) {
    for (int i = 0; i < width; ++i) out->push_back(v >> 8 * i & 0xFF);
  }
}

// A VS_VERSIONINFO node: its value is `binary`, else `text` in UTF-16; parts aligned to 4.
Bytes Node(const std::u16string& key, const std::u16string& text, const Bytes& binary = {},
           std::vector<Bytes> parts = {}) {
  Bytes b, value = binary;
  for (char16_t c : text.empty() ? text : text + u'\0') Put(&value, {c}, 2);
  Put(&b, {0, binary.empty() ? value.size() / 2 : value.size(), binary.empty()}, 2);
  for (char16_t c : key + u'\0') Put(&b, {c}, 2);
  parts.insert(parts.begin(), value);
  for (const Bytes& part : parts) {
    b.resize((b.size() + 3) & ~3u);
    b.insert(b.end(), part.begin(), part.end());
  }
  b[0] = b.size() & 0xFF;
  b[1] = b.size() >> 8;
  return b;
}

// A minimal PE image; its second section, .rsrc at 0x1000, holds an RT_VERSION resource.
Bytes BuildPe(bool pe32_plus) {
  const Bytes info =
      Node(u"VS_VERSION_INFO", u"", Bytes(52),
           {Node(u"StringFileInfo", u"", {},
                 {Node(u"041204B0", u"", {},
                       {Node(u"CompanyName", u"Orbelan"), Node(u"FileVersion", u"2, 0, 1, 15"),
                        Node(u"Comments", u"\u03A9 \u20AC \U0001F600"), Node(u"Empty", u"")})}),
            Node(u"VarFileInfo", u"", {}, {Node(u"Translation", u"", {0x12, 0x04, 0xB0, 0x04})})});
  // Type, name and language directories of one id entry each, then the data entry.
  Bytes rsrc;
  Put(&rsrc, {0, 0, 0, 1 << 16, 16, 0x80000018, 0, 0, 0, 1 << 16, 1, 0x80000030});
  Put(&rsrc, {0, 0, 0, 1 << 16, 0x412, 0x48, 0x1058, info.size(), 0, 0});
  rsrc.insert(rsrc.end(), info.begin(), info.end());
  const uint64_t size = rsrc.size(), optional_size = pe32_plus ? 240 : 224;
  Bytes pe = {'M', 'Z'};
  pe.resize(0x3C);
  Put(&pe, {0x40, 0x4550});
  Put(&pe, {pe32_plus ? 0x8664u : 0x14Cu, 2, 0, 0, 0, 0, 0, 0, optional_size, 0x2022}, 2);
  const size_t optional = pe.size();
  Put(&pe, {pe32_plus ? 0x20Bu : 0x10Bu}, 2);
  pe.resize(optional + (pe32_plus ? 108 : 92));
  Put(&pe, {16, 0, 0, 0, 0, 0x1000, size});  // data directories; the third is the resources
  pe.resize(optional + optional_size + 40);  // after an empty first section
  Put(&pe, {0x7273722E, 0x63, size, 0x1000, size, 0x200, 0, 0, 0, 0x40000040});  // ".rsrc"
  pe.resize(0x200);
  pe.insert(pe.end(), rsrc.begin(), rsrc.end());
  return pe;
}

constexpr char kFileVersion[] = "\\StringFileInfo\\041204B0\\FileVersion";
const std::string kDll = "/tmp/rvxpt-" + std::to_string(getpid()) + ".dll";

// Looks the value up in the first `size` bytes of `file`.
bool Lookup(const Bytes& file, size_t size, const char* sub_block, std::string* value) {
  std::ofstream(kDll, std::ios::binary | std::ios::trunc)
      .write(reinterpret_cast<const char*>(file.data()), static_cast<std::streamsize>(size));
  return GetFileVersionString(kDll.c_str(), sub_block, value);
}

TEST(VersionResourceTest, FindsStringValues) {
  const std::pair<const char*, const char*> cases[] = {
      // sub-block, value (null: not found)
      {kFileVersion, "2, 0, 1, 15"},
      {"\\stringfileinfo\\041204b0\\fileversion", "2, 0, 1, 15"},
      {"\\StringFileInfo\\041204B0\\Comments", "\u03A9 \u20AC \U0001F600"},
      {"\\StringFileInfo\\041204B0\\Empty", ""},
      {"\\StringFileInfo\\040904B0\\FileVersion", nullptr},
      {"\\StringFileInfo\\041204B0\\File", nullptr},
      {"\\VarFileInfo\\Translation", nullptr},
      {"\\StringFileInfo\\041204B0", nullptr},
  };
  for (const bool pe32_plus : {true, false}) {
    const Bytes pe = BuildPe(pe32_plus);
    for (const auto& [sub_block, expected] : cases) {
      SCOPED_TRACE(std::string(sub_block) + (pe32_plus ? " PE32+" : " PE32"));
      std::string value = "untouched";
      EXPECT_EQ(Lookup(pe, pe.size(), sub_block, &value), expected != nullptr);
      EXPECT_EQ(value, expected ? expected : "untouched");
    }
  }
}

// Every truncation fails and every single-byte corruption either fails or
// gives what the damaged bytes say; the sanitizers prove no bad access.
TEST(VersionResourceTest, DamagedFilesAreSafe) {
  const Bytes pe = BuildPe(true);
  const std::string kTrue = "2, 0, 1, 15";
  Bytes utf16;
  for (char c : kTrue + '\0') Put(&utf16, {static_cast<unsigned char>(c)}, 2);
  const size_t value_at =
      std::search(pe.begin(), pe.end(), utf16.begin(), utf16.end()) - pe.begin();
  std::string value;
  for (size_t size = 0; size < pe.size(); size += 3) {
    EXPECT_FALSE(Lookup(pe, size, kFileVersion, &value)) << size;
  }
  for (size_t at = 0; at < pe.size(); ++at) {
    Bytes bad = pe;
    bad[at] ^= 0xFF;
    if (!Lookup(bad, bad.size(), kFileVersion, &value)) continue;
    if (at >= value_at && at < value_at + utf16.size()) {
      EXPECT_NE(value, kTrue) << at;  // the value really comes from those bytes
    } else {
      EXPECT_EQ(kTrue.rfind(value, 0), 0u) << at << ": " << value;  // at most cut short
    }
  }
  unlink(kDll.c_str());
}

}  // namespace
}  // namespace rvx::os
