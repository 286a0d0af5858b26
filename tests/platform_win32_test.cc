// What only Windows has: the version resource of the built library, read by
// GetFileVersionInfoA (which does not load the hand-built images of the POSIX
// reader's test).
#include "platform/win32/win32.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

class Win32VersionTest : public LibraryTest {};

TEST_F(Win32VersionTest, BuiltLibraryCarriesTheProjectVersion) {
  std::string text;
  ASSERT_TRUE(
      os::GetFileVersionString(RVX_LIBRARY_PATH, "\\StringFileInfo\\041204B0\\FileVersion", &text));
  EXPECT_EQ(text, RVX_FILE_VERSION);
  EXPECT_FALSE(
      os::GetFileVersionString(RVX_LIBRARY_PATH, "\\StringFileInfo\\040904B0\\FileVersion", &text));
  Load();
  EXPECT_EQ(RVX406A_GetDllVersion(RVX_LIBRARY_PATH), RVX_VERSION_NUMBER);  // 1000001 for 1.0.0.1
  const std::string plain = install_dir_ + "plain.dll";
  WriteFile(plain, "MZ");
  EXPECT_EQ(RVX406A_GetDllVersion(plain.c_str()), 0u);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
}

TEST(Win32ThreadTest, AboveNormalIsThatPriority) {
  os::Handle event = os::CreateEvent();
  os::Handle thread = os::CreateThread([](void* e) { return os::WaitEvent(e) ? 0u : 1u; }, event);
  EXPECT_TRUE(os::SetThreadPriority(thread, 1));
  EXPECT_EQ(::GetThreadPriority(thread), THREAD_PRIORITY_ABOVE_NORMAL);
  EXPECT_TRUE(os::SetThreadPriority(thread, 0));
  EXPECT_EQ(::GetThreadPriority(thread), THREAD_PRIORITY_NORMAL);
  os::SetEvent(event);
  EXPECT_TRUE(os::WaitThread(thread, 5000));
  os::CloseThread(thread);
  os::CloseEvent(event);
}

}  // namespace
}  // namespace rvx::test
