// What only the POSIX layer does itself: the PE reader behind version strings,
// thread priorities, and message waits with a time-out.
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <string>
#include <thread>

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

struct Niceness {
  std::atomic<bool> go{false};
  std::atomic<int> value{0};
};

// Above normal is a lower nice value, where the system allows it; never a higher one.
TEST(PosixThreadTest, AboveNormalPriorityNeverLowersTheThread) {
  Niceness n;
  const int normal = getpriority(PRIO_PROCESS, 0);  // a new thread starts with it
  os::Handle thread = os::CreateThread(
      [](void* arg) -> uint32_t {
        auto* n = static_cast<Niceness*>(arg);
        while (!n->go) os::Sleep(1);
        n->value = getpriority(PRIO_PROCESS, 0);  // this thread's own
        return 0;
      },
      &n);
  EXPECT_TRUE(os::SetThreadPriority(thread, 1));
  n.go = true;
  ASSERT_TRUE(os::WaitThread(thread, 5000));
  os::CloseThread(thread);
  EXPECT_LE(n.value, normal);
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

}  // namespace
}  // namespace rvx::test
