// Loading when an operating-system call fails: the result code, the log line,
// and nothing left held, so that another process and a later load succeed.

#include <tuple>

#include "core/board_setup.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

class LoadFailureTest : public LibraryTest {};

TEST_F(LoadFailureTest, EachFailingCallEndsCleanly) {
  // The failing call, the result, whether the loading call logs its line (the
  // log file failing loses it). The factory settings stand in for an unreadable
  // parameter file; the board works without its watcher.
  const std::tuple<OsCall, int32_t, bool> kCases[] = {
      {OsCall::kCreateMutex, ERR_CREATE_KERNEL_DRIVER_FAIL, true},
      {OsCall::kOpenSection, ERR_CREATE_MEM_FAIL, true},
      {OsCall::kOpenParameterFile, 0, true},
      {OsCall::kOpenLogFile, 0, false},
      {OsCall::kCreateThread, 0, true}};
  for (const auto& [call, returned, logged] : kCases) {
    SCOPED_TRACE(static_cast<int>(call));
    // A fresh world, loaded once so that the log level is known, then left
    // as a first loader finds it; its parameter file shows whether it is read.
    TearDown();
    SetUp();
    WriteFile(ParameterPath(0), "[0-AXIS]\r\nMCX_EM6=4660\r\n");
    Load();
    RVX406A_UnloadDevice();
    os::RemoveNamedObject((ns_ + "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635").c_str());
    process().first_loader = true;
    ClearLog();
    process().seams.Fail(call);
    EXPECT_EQ(RVX406A_LoadDevice(), returned);
    EXPECT_EQ(RVX406A_GetErrorCode(), returned);
    EXPECT_EQ(LoggedCalls(), logged ? Strings{Logged(returned, "LoadDevice (1, 4)")} : Strings{});
    if (returned != 0) {
      EXPECT_EQ(process().event[0].load(), nullptr);
      EXPECT_EQ(process().watcher[0], nullptr);
      // What a failed load keeps it reuses: a second one holds no more.
      const HeldResources held = Held();
      EXPECT_EQ(RVX406A_LoadDevice(), returned);
      EXPECT_EQ(Held(), held);
    } else {
      EXPECT_EQ(process().watcher[0] != nullptr, call != OsCall::kCreateThread);
      EXPECT_EQ(axis_block(0, 0).em6 == kDefaultEm6, call == OsCall::kOpenParameterFile);
      RVX406A_UnloadDevice();
    }
    // The library mutex is free for another process, and a load succeeds.
    process().seams = ProcessSeams{};
    EXPECT_EQ(RunChild("LoadThroughModule"), 0);
    EXPECT_EQ(RVX406A_LoadDevice(), 0);
    EXPECT_NE(process().watcher[0], nullptr);
    RVX406A_UnloadDevice();
  }
}

}  // namespace
}  // namespace rvx::test
