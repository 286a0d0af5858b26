// Loading when an operating-system call fails: the result code, the log line,
// and nothing left held, so that another process and a later load succeed.
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>

#include "core/board_setup.h"
#include "platform/platform.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

// Entries of a /proc listing of this process (open descriptors, mapped
// regions); -1 where the system has none.
long ProcEntries(const char* path, bool lines) {
  std::error_code error;
  if (!lines) {
    long count = 0;
    for (std::filesystem::directory_iterator it(path, error), end; !error && it != end;
         it.increment(error)) {
      ++count;
    }
    return error ? -1 : count;
  }
  std::ifstream in(path);
  if (!in) return -1;
  long count = 0;
  for (std::string line; std::getline(in, line);) ++count;
  return count;
}

RVX_TEST_CHILD(LoadAndUnloadOnce) {
  const int32_t highest = RVX406A_LoadDevice();
  RVX406A_UnloadDevice();
  return highest == 0 ? 0 : 1;
}

class LoadFailureTest : public LibraryTest {};

TEST_F(LoadFailureTest, EachFailingCallEndsCleanly) {
  struct Case {
    const char* name;
    OsCall call;
    int32_t returned;
    std::vector<std::string> log;
  };
  const Case kCases[] = {
      {"mutex",
       OsCall::kCreateMutex,
       ERR_CREATE_KERNEL_DRIVER_FAIL,
       {" RV =  -101 : RVX406A_LoadDevice (1, 4)"}},
      {"section",
       OsCall::kOpenSection,
       ERR_CREATE_MEM_FAIL,
       {" RV =  -102 : RVX406A_LoadDevice (1, 4)"}},
      // The factory settings stand in for an unreadable parameter file.
      {"parameter file",
       OsCall::kOpenParameterFile,
       0,
       {" RV =     0 : RVX406A_LoadDevice (1, 4)"}},
      {"log file", OsCall::kOpenLogFile, 0, {}},
      // The board works without its watcher.
      {"thread", OsCall::kCreateThread, 0, {" RV =     0 : RVX406A_LoadDevice (1, 4)"}},
  };
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
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
    process().seams.Fail(c.call);
    EXPECT_EQ(RVX406A_LoadDevice(), c.returned);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.returned);
    EXPECT_EQ(LoggedCalls(), c.log);
    if (c.returned != 0) {
      EXPECT_EQ(process().event[0].load(), nullptr);
      EXPECT_EQ(process().watcher[0], nullptr);
      // What a failed load keeps it reuses: a second one holds no more.
      const long descriptors = ProcEntries("/proc/self/fd", false);
      const long regions = ProcEntries("/proc/self/maps", true);
      EXPECT_EQ(RVX406A_LoadDevice(), c.returned);
      EXPECT_EQ(ProcEntries("/proc/self/fd", false), descriptors);
      EXPECT_EQ(ProcEntries("/proc/self/maps", true), regions);
    } else {
      EXPECT_EQ(process().watcher[0] != nullptr, c.call != OsCall::kCreateThread);
      if (c.call == OsCall::kOpenParameterFile) {
        EXPECT_EQ(axis_block(0, 0).em6, kDefaultEm6);
      }
      RVX406A_UnloadDevice();
    }
    // The library mutex is free for another process, and a load succeeds.
    process().seams = ProcessSeams{};
    EXPECT_EQ(RunChild("LoadAndUnloadOnce"), 0);
    EXPECT_EQ(RVX406A_LoadDevice(), 0);
    EXPECT_NE(process().watcher[0], nullptr);
    RVX406A_UnloadDevice();
  }
}

}  // namespace
}  // namespace rvx::test
