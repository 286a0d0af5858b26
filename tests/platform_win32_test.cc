// The Windows layer against the real Win32 calls, where the rest of the suite
// does not reach them: named objects seen from a second process, profile
// files and attributes on disk, the message queue, and the version resource
// of the built library.
#include <filesystem>
#include <string>

// The Windows headers without the macros that rename rvx::os functions.
#include "platform/win32/win32.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

namespace fs = std::filesystem;

// Names of the objects shared with the children, unique per test process.
std::string ObjectName(const char* what) {
  return "rvxwin" + std::to_string(CurrentProcessId()) + "_" + what;
}
constexpr size_t kSectionSize = 85424;

// ---- Named mutex and section across processes ----

// args: mutex name, section name. Exit code 0 when both existed and the
// section carries the parent's bytes; then answers in the section.
RVX_TEST_CHILD(OpenTheParentsObjects) {
  bool existed = false;
  os::Handle mutex = os::CreateNamedMutex(args.at(0).c_str(), true, &existed);
  if (mutex == nullptr) return 2;
  if (!existed) return 3;
  const os::Section section = os::CreateOrOpenSection(args.at(1).c_str(), kSectionSize);
  if (section.view == nullptr) return 4;
  if (section.created) return 5;
  unsigned char* bytes = static_cast<unsigned char*>(section.view);
  if (bytes[0] != 0xA5 || bytes[kSectionSize - 1] != 0x5A) return 6;
  bytes[1] = 0x3C;
  os::FlushView(section.view, kSectionSize);
  os::CloseSection(section.handle);
  os::CloseMutex(mutex);
  return 0;
}

// args: mutex name. Takes the mutex and dies owning it.
RVX_TEST_CHILD(DieOwningTheMutex) {
  os::Handle mutex = os::CreateNamedMutex(args.at(0).c_str(), false, nullptr);
  if (mutex == nullptr || !os::WaitMutex(mutex)) return 2;
  ::ExitProcess(0);
}

// args: mutex name, section name. Exit code 0 when neither exists any more
// and a new section reads as zeros.
RVX_TEST_CHILD(FindNoObjects) {
  bool existed = true;
  os::Handle mutex = os::CreateNamedMutex(args.at(0).c_str(), false, &existed);
  if (mutex == nullptr) return 2;
  if (existed) return 3;
  const os::Section section = os::CreateOrOpenSection(args.at(1).c_str(), kSectionSize);
  if (section.view == nullptr) return 4;
  if (!section.created) return 5;
  if (static_cast<unsigned char*>(section.view)[0] != 0) return 6;
  os::CloseSection(section.handle);
  os::CloseMutex(mutex);
  return 0;
}

TEST(Win32NamedObjectsTest, AnotherProcessOpensTheSameMutexAndSection) {
  const std::string mutex_name = ObjectName("mutex");
  const std::string section_name = ObjectName("section");
  bool existed = true;
  os::Handle mutex = os::CreateNamedMutex(mutex_name.c_str(), true, &existed);
  ASSERT_NE(mutex, nullptr);
  EXPECT_FALSE(existed);
  const os::Section section = os::CreateOrOpenSection(section_name.c_str(), kSectionSize);
  ASSERT_NE(section.view, nullptr);
  EXPECT_TRUE(section.created);
  unsigned char* bytes = static_cast<unsigned char*>(section.view);
  EXPECT_EQ(bytes[0], 0);
  bytes[0] = 0xA5;
  bytes[kSectionSize - 1] = 0x5A;

  // The child opens both while this process holds the mutex: a child that
  // waited for it would hang, so it only asks for initial ownership, which
  // an existing mutex does not grant.
  EXPECT_EQ(RunChild("OpenTheParentsObjects", {mutex_name, section_name}), 0);
  EXPECT_EQ(bytes[1], 0x3C);

  // Held recursively by this process: a second wait returns at once.
  EXPECT_TRUE(os::WaitMutex(mutex));
  os::ReleaseMutex(mutex);
  os::ReleaseMutex(mutex);

  // The section outlives its handle while the view is mapped; after the
  // last handle of each object is closed, both are gone.
  os::CloseSection(section.handle);
  ::UnmapViewOfFile(section.view);
  os::CloseMutex(mutex);
  EXPECT_EQ(RunChild("FindNoObjects", {mutex_name, section_name}), 0);
}

TEST(Win32NamedObjectsTest, AMutexLeftByADeadOwnerCountsAsAcquired) {
  const std::string name = ObjectName("abandoned");
  os::Handle mutex = os::CreateNamedMutex(name.c_str(), false, nullptr);
  ASSERT_NE(mutex, nullptr);
  ASSERT_EQ(RunChild("DieOwningTheMutex", {name}), 0);
  EXPECT_TRUE(os::WaitMutex(mutex));
  // Owned now: other processes would wait until it is released.
  os::ReleaseMutex(mutex);
  os::CloseMutex(mutex);
}

// ---- Profile files and attributes ----

class Win32ProfileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = MakeTempDir();
    ASSERT_FALSE(dir_.empty());
    // An absolute path: a bare file name would be looked up in the Windows folder.
    path_ = dir_ + "RVXPRM0.DAT";
  }
  void TearDown() override {
    ::SetFileAttributesA(path_.c_str(), FILE_ATTRIBUTE_NORMAL);
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string dir_;
  std::string path_;
};

TEST_F(Win32ProfileTest, ReadsIntegersLikeGetPrivateProfileInt) {
  EXPECT_EQ(os::ReadIniInt("AXIS0", "RANGE", 8000, path_.c_str()), 8000);  // no file
  WriteFile(path_,
            "[VERSION]\r\nVER=1.0\r\n[Axis0]\r\nRange=1200\r\nMULTIPLE=-5\r\n"
            "HOMEMODE=12abc\r\nEMPTY=\r\n");
  EXPECT_EQ(os::ReadIniInt("AXIS0", "RANGE", 0, path_.c_str()), 1200);
  EXPECT_EQ(os::ReadIniInt("axis0", "multiple", 0, path_.c_str()), -5);
  EXPECT_EQ(os::ReadIniInt("AXIS0", "HOMEMODE", 0, path_.c_str()), 12);
  EXPECT_EQ(os::ReadIniInt("VERSION", "VER", 0, path_.c_str()), 1);
  EXPECT_EQ(os::ReadIniInt("AXIS0", "MISSING", -77, path_.c_str()), -77);
  EXPECT_EQ(os::ReadIniInt("AXIS1", "RANGE", 33, path_.c_str()), 33);
}

TEST_F(Win32ProfileTest, WritesOneKeyAndKeepsTheRest) {
  ASSERT_TRUE(os::WriteIniString("AXIS0", "RANGE", "8000", path_.c_str()));
  ASSERT_TRUE(os::WriteIniString("AXIS0", "MULTIPLE", "2", path_.c_str()));
  ASSERT_TRUE(os::WriteIniString("AXIS1", "RANGE", "100", path_.c_str()));
  ASSERT_TRUE(os::WriteIniString("axis0", "range", "-300", path_.c_str()));
  EXPECT_EQ(os::ReadIniInt("AXIS0", "RANGE", 0, path_.c_str()), -300);
  EXPECT_EQ(os::ReadIniInt("AXIS0", "MULTIPLE", 0, path_.c_str()), 2);
  EXPECT_EQ(os::ReadIniInt("AXIS1", "RANGE", 0, path_.c_str()), 100);
  const std::string text = ReadFile(path_);
  EXPECT_NE(text.find("[AXIS1]"), std::string::npos) << text;
  // The rewritten key appears once.
  EXPECT_EQ(text.find("300"), text.rfind("300")) << text;
}

TEST_F(Win32ProfileTest, ReadOnlyAttributeRoundTrips) {
  EXPECT_EQ(os::GetFileAttributes(path_.c_str()), 0u);  // missing
  WriteFile(path_, "[A]\r\nB=1\r\n");
  const uint32_t plain = os::GetFileAttributes(path_.c_str());
  EXPECT_NE(plain, 0u);
  EXPECT_EQ(plain & os::kFileAttributeReadOnly, 0u);
  ASSERT_TRUE(os::SetFileAttributes(path_.c_str(), os::kFileAttributeReadOnly));
  EXPECT_EQ(os::GetFileAttributes(path_.c_str()) & os::kFileAttributeReadOnly, 1u);
  // The profile is still readable.
  EXPECT_EQ(os::ReadIniInt("A", "B", 0, path_.c_str()), 1);
  ASSERT_TRUE(os::SetFileAttributes(path_.c_str(), os::kFileAttributeNormal));
  EXPECT_EQ(os::GetFileAttributes(path_.c_str()) & os::kFileAttributeReadOnly, 0u);
  ASSERT_TRUE(os::WriteIniString("A", "B", "2", path_.c_str()));
  EXPECT_EQ(os::ReadIniInt("A", "B", 0, path_.c_str()), 2);
  EXPECT_FALSE(os::SetFileAttributes((dir_ + "missing.dat").c_str(), os::kFileAttributeNormal));
}

// ---- Window messages ----

// What the window procedure of the test window last received.
struct Received {
  HWND window = nullptr;
  UINT message = 0;
  WPARAM wparam = 0;
  LPARAM lparam = 0;
};
Received& LastReceived() {
  static Received received;
  return received;
}

LRESULT CALLBACK RecordingProc(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message >= WM_APP) {
    LastReceived() = {window, message, wparam, lparam};
    return 0;
  }
  return ::DefWindowProcA(window, message, wparam, lparam);
}

// A message-only window of a class whose procedure records what it is sent.
class Win32MessageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    WNDCLASSA window_class = {};
    window_class.lpfnWndProc = RecordingProc;
    window_class.hInstance = ::GetModuleHandleA(nullptr);
    window_class.lpszClassName = kClassName;
    ::RegisterClassA(&window_class);
    window_ = ::CreateWindowExA(0, kClassName, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                                window_class.hInstance, nullptr);
    ASSERT_NE(window_, nullptr);
    LastReceived() = {};
    os::Message stale;
    while (os::PeekMessage(&stale)) {
    }
  }
  void TearDown() override {
    if (window_ != nullptr) ::DestroyWindow(window_);
  }
  static constexpr char kClassName[] = "RvxTestRecorder";
  HWND window_ = nullptr;
};

TEST_F(Win32MessageTest, PostedMessageIsPeekedAndDispatched) {
  os::Message msg = {};
  EXPECT_FALSE(os::PeekMessage(&msg));  // empty queue
  ASSERT_TRUE(os::PostMessage(window_, WM_APP + 3, 0xBEEF, -42));
  ASSERT_TRUE(os::PeekMessage(&msg));
  EXPECT_EQ(msg.window, window_);
  EXPECT_EQ(msg.message, static_cast<uint32_t>(WM_APP + 3));
  EXPECT_EQ(msg.wparam, 0xBEEFu);
  EXPECT_EQ(msg.lparam, -42);
  EXPECT_FALSE(os::PeekMessage(&msg));  // removed
  os::DispatchMessage(msg);
  EXPECT_EQ(LastReceived().window, window_);
  EXPECT_EQ(LastReceived().message, static_cast<UINT>(WM_APP + 3));
  EXPECT_EQ(LastReceived().wparam, 0xBEEFu);
  EXPECT_EQ(LastReceived().lparam, -42);
}

TEST_F(Win32MessageTest, QuitMessageCarriesTheExitCode) {
  os::PostQuitMessage(7);
  os::Message msg = {};
  ASSERT_TRUE(os::PeekMessage(&msg));
  EXPECT_EQ(msg.message, os::kWmQuit);
  EXPECT_EQ(msg.window, nullptr);
  EXPECT_EQ(msg.wparam, 7u);
}

TEST_F(Win32MessageTest, PostingToNoWindowFails) {
  ::DestroyWindow(window_);
  EXPECT_FALSE(os::PostMessage(window_, WM_APP, 0, 0));
  window_ = nullptr;
}

// ---- The version resource of the built library ----

constexpr char kFileVersionKey[] = "\\StringFileInfo\\041204B0\\FileVersion";

TEST(Win32VersionTest, BuiltLibraryCarriesTheProjectVersion) {
  std::string text;
  ASSERT_TRUE(os::GetFileVersionString(RVX_LIBRARY_PATH, kFileVersionKey, &text));
  EXPECT_EQ(text, RVX_FILE_VERSION);
  EXPECT_FALSE(
      os::GetFileVersionString(RVX_LIBRARY_PATH, "\\StringFileInfo\\040904B0\\FileVersion", &text));
}

class Win32LibraryVersionTest : public LibraryTest {};

TEST_F(Win32LibraryVersionTest, GetDllVersionOfTheBuiltLibrary) {
  Load();
  EXPECT_EQ(RVX406A_GetDllVersion(RVX_LIBRARY_PATH), RVX_VERSION_NUMBER);  // 1000001 for 1.0.0.1
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  // A file without a version resource.
  const std::string plain = install_dir_ + "plain.dll";
  WriteFile(plain, "MZ");
  EXPECT_EQ(RVX406A_GetDllVersion(plain.c_str()), 0u);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
}

}  // namespace
}  // namespace rvx::test
