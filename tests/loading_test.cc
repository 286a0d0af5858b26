// Board loading and unloading: identification, the bus test, first-loader
// semantics, the shared section across processes, calls of other threads
// overlapping Load/Unload, and failing operating-system calls.

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "core/board_setup.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

sim::Config BoardList(std::initializer_list<sim::BoardConfig> boards) {
  sim::Config config;
  config.board_count = static_cast<uint32_t>(boards.size());
  int n = 0;
  for (const sim::BoardConfig& b : boards) config.board[n++] = b;
  return config;
}

using LoadingTest = LibraryTest;

TEST_F(LoadingTest, IdentificationByTypeCodeAndModuleBits) {
  // Type code, module bits, result, channels (16 per fitted module).
  const std::tuple<uint8_t, uint8_t, i32, u32> cases[] = {
      {1, 0x0, 0, 16},
      {1, 0x7, 0, 64},
      {1, 0x5, ERR_UPBOARD_LOAD, 0},  // modules 2 and 4 without 3
      {1, 0x2, ERR_UPBOARD_LOAD, 0},  // module 3 without 2
      {3, 0x0, 0, 0},
      {3, 0xF, 0, 64},
      {3, 0x1, 0, 16},
      {2, 0x0, ERR_HW_TYPE, 0},
      {0, 0x0, ERR_HW_TYPE, 0}};
  for (const auto& [type, bits, result, channels] : cases) {
    sim::BoardConfig board;
    board.type_code = type;
    board.module_bits = bits;
    ResetBoards(BoardList({board}));
    EXPECT_EQ(RVX406A_LoadDevice(), result) << int(type) << "/" << int(bits);
    const BoardRecord& r = process().table.board[0];
    EXPECT_EQ(std::make_pair(r.di_count, r.do_count), std::make_pair(channels, channels));
    for (u32 m = 0; m < 4; ++m) EXPECT_EQ(r.module_present[m], m < channels / 16 ? 1u : 0u);
    if (result == 0) {
      const AxisBlock& a = axis_block(0, 0);
      EXPECT_EQ(std::make_tuple(a.di_count, a.board_kind, a.axis_count),
                std::make_tuple(channels, 196u, 4u));
    } else {
      EXPECT_EQ(process().table.count, 0u);
    }
    RVX406A_UnloadDevice();
  }
}

TEST_F(LoadingTest, LoadResultsWatchersAndTheLogLine) {
  sim::BoardConfig missing;
  missing.present = false;
  sim::Config eight, nine;
  eight.board_count = 8;
  nine.board_count = 9;  // usable, but without watchers
  // Boards, architecture (-1: the machine's), result, boards loaded, a board reset and its result.
  const std::tuple<sim::Config, int, i32, u32, u16, i32> cases[] = {
      {BoardList({{}}), 0, ERR_SUPPORT_PROCESS, 0, 0, ERR_DEVICE_LOAD},  // 32-bit x86
      {BoardList({missing}), -1, ERR_DEVICE_LOAD, 0, 0, ERR_DEVICE_LOAD},
      {BoardList({{}, missing, {}}), -1, 0, 1, 1, ERR_BOARD_NUMBER},  // enumeration stops
      {BoardList({{}, {}}), -1, 1, 2, 1, ERR_SUCCESS},
      {eight, -1, 7, 8, 7, ERR_SUCCESS},
      {nine, -1, 8, 9, 8, ERR_SUCCESS}};
  for (const auto& [boards, architecture, result, count, board, reset] : cases) {
    ResetBoards(boards);
    process().seams.architecture = architecture;
    ClearLog();
    EXPECT_EQ(RVX406A_LoadDevice(), result);
    EXPECT_EQ(process().table.count, count);
    for (u32 b = 0; b < 9; ++b) EXPECT_EQ(process().watcher[b] != nullptr, b < count && count <= 8);
    if (count == 2) {
      EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =     0 : RVX406A_LoadDevice (2, 8)"));
    }
    RVX406A_Reset(board);
    EXPECT_EQ(RVX406A_GetErrorCode(), reset);
    RVX406A_UnloadDevice();
  }
}

TEST_F(LoadingTest, BusTestFailureWritesTheKeptValueBack) {
  sim::BoardConfig stuck;
  stuck.stuck_bus_bits = 1u << 5;
  ResetBoards(BoardList({stuck}));
  sim::SetLocal(0, local::kBusTest, 0x12345678);
  sim::StartTrace();
  EXPECT_EQ(RVX406A_LoadDevice(), ERR_DEVICE_PCI_BUS);
  EXPECT_EQ(process().table.count, 0u);
  Strings bus;
  for (const std::string& w : TracedWrites()) {
    if (w.rfind("L48=", 0) == 0) bus.push_back(w);
  }
  // Bits 0..4 pass both halves; bit 5 fails at once; the kept value returns.
  ASSERT_EQ(bus.size(), 12u);
  EXPECT_THAT(Strings({bus[0], bus[1], bus[10], bus[11]}),
              ElementsAre("L48=00000001", "L48=00000000", "L48=00000020", "L48=12345678"));
  RVX406A_UnloadDevice();
  stuck.stuck_bus_bits = 1u << 31;  // the top bit is tested too
  ResetBoards(BoardList({stuck}));
  EXPECT_EQ(RVX406A_LoadDevice(), ERR_DEVICE_PCI_BUS);
}

TEST_F(LoadingTest, LoadProgramsTheBoardAndUnloadReleasesItButKeepsTheCount) {
  ResetBoards(BoardList({{}, {}}));
  sim::SetLocal(0, local::kServoRun, 0xFFFF);
  sim::StartTrace();
  Load();
  const Strings requests = Requests(sim::Trace());
  EXPECT_EQ(requests.front(), "C:E0003800");            // board configuration first
  EXPECT_EQ(requests.back(), "C:E0003878");             // then the event, last
  EXPECT_EQ(sim::Local(0, local::kServoRun), 0xFEFFu);  // servo-run output off
  os::PostQuitMessage(3);
  sim::StartTrace();
  RVX406A_UnloadDevice();
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_THAT(Requests(sim::Trace()), ElementsAre("C:E0003890", "C:E0003890"));  // events off
  os::Message quit;  // the unload's message pump hands a quit message on
  EXPECT_TRUE(os::PeekMessage(&quit) && quit.message == os::kWmQuit);
  EXPECT_EQ(process().table.count, 2u);
  EXPECT_EQ(process().watcher[0], nullptr);
  EXPECT_EQ(process().event[1].load(), nullptr);
  RVX406A_Reset(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_HANDLE);
  // The view stays: calls after unloading still read the log level.
  EXPECT_THAT(LoggedCalls().back(), ::testing::HasSubstr("RVX406A_Reset (1)"));
  EXPECT_EQ(RVX406A_LoadDevice(), 1);  // loading again rebuilds everything
  RVX406A_Reset(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
}

// A second process joins: no bus test, no parameter load, the same numbering,
// and the first process's settings in the section.
RVX_TEST_CHILD(JoinAndReport) {
  sim::StartTrace();
  if (RVX406A_LoadDevice() != 1 || process().first_loader) return 10;
  for (const std::string& w : TracedWrites()) {
    if (w.rfind("L48=", 0) == 0 || w.rfind("WR1=", 0) == 0) return 11;
  }
  const SharedSection& s = *process().shared;
  const bool same =
      s.board[1].axis[2].range == 321 && s.log_level == 3 && s.board[1].axis[0].di_count == 32;
  return same ? 0 : 13;
}

TEST_F(LoadingTest, SecondProcessJoinsTheFirstOnesState) {
  sim::BoardConfig with_module2;
  with_module2.module_bits = 1;
  ResetBoards(BoardList({{}, with_module2}));
  Load();
  axis_block(1, 2).range = 321;
  shared().log_level = 3;
  EXPECT_EQ(RunChild("JoinAndReport"), 0);
  EXPECT_EQ(axis_block(1, 2).range, 321);
}

// Joins while the parent holds the boards, leaves, waits for the parent to
// leave too (args: the flag it writes, the flag it waits for), then loads
// again: still a joiner, so no bus test and no parameter file.
RVX_TEST_CHILD(JoinLeaveAndReturn) {
  if (RVX406A_LoadDevice() != 0 || process().first_loader) return 10;
  RVX406A_UnloadDevice();
  WriteFile(args.at(0), "left");
  for (int waited = 0; ReadFile(args.at(1)).empty(); ++waited) {
    if (waited == 10000) return 11;
    os::Sleep(1);
  }
  const u32 opened = process().seams.files_opened;
  sim::StartTrace();
  if (RVX406A_LoadDevice() != 0 || process().first_loader) return 12;
  for (const std::string& w : TracedWrites()) {
    if (w.rfind("L48=", 0) == 0 || w.rfind("WR1=", 0) == 0) return 13;
  }
  return process().seams.files_opened == opened ? 0 : 14;
}

TEST_F(LoadingTest, AProcessThatOnceJoinedStaysAJoinerAfterEveryoneLeft) {
  const std::string child_left = install_dir_ + "child_left";
  const std::string parent_left = install_dir_ + "parent_left";
  Load();
  const ChildProcess child = StartChild("JoinLeaveAndReturn", {child_left, parent_left});
  for (int waited = 0; ReadFile(child_left).empty() && waited < 10000; ++waited) os::Sleep(1);
  RVX406A_UnloadDevice();
  WriteFile(parent_left, "left");
  EXPECT_EQ(WaitChild(child), 0);
}

// Loads, then stays alive until both loaders have loaded: each leaves a file
// in the folder args[0], named without its trailing separator.
RVX_TEST_CHILD(LoadAndTellFirst) {
  if (RVX406A_LoadDevice() != 0) return 2;
  const bool first = process().first_loader;
  WriteFile(args[0] + "/" + std::to_string(CurrentProcessId()), "");
  for (int waited = 0; waited < 20000; waited += 10) {
    const auto files = std::filesystem::directory_iterator(args[0]);
    if (std::distance(begin(files), end(files)) >= 2) break;
    os::Sleep(10);
  }
  return first ? 1 : 0;
}

TEST_F(LoadingTest, OfTwoSimultaneousLoadersExactlyOneIsFirst) {
  for (int round = 0; round < 3; ++round) {
    const std::string meeting = std::filesystem::path(MakeTempDir()).parent_path().string();
    const ChildProcess children[] = {StartChild("LoadAndTellFirst", {meeting}),
                                     StartChild("LoadAndTellFirst", {meeting})};
    int firsts = 0;
    for (const ChildProcess& child : children) {
      const int status = WaitChild(child);
      firsts += status == 0 || status == 1 ? status : 100;
    }
    EXPECT_EQ(firsts, 1) << "round " << round;
    RemoveTree(meeting);
  }
}

RVX_TEST_CHILD(LoadThroughModule) {
  os::SetEnv("RVX_DRIVER", RVX_SIM_MODULE_PATH);
  if (RVX406A_LoadDevice() != 0) return 2;
  RVX406A_Reset(0);
  return RVX406A_GetErrorCode() == ERR_SUCCESS ? 0 : 3;
}

TEST_F(LoadingTest, CallsOfOtherThreadsOverlappingLoadAndUnloadCompleteOrFailCleanly) {
  // No watchers: each Unload would wait out their grace period.
  process().seams.Fail(OsCall::kCreateThread);
  constexpr int32_t kPosition = 1234;
  std::atomic<bool> stop{false};
  std::atomic<int> unexpected{0}, calls{0};
  std::vector<std::thread> callers;
  for (int t = 0; t < 3; ++t) {
    callers.emplace_back([&] {
      while (!stop) {
        const int32_t position = RVX406A_GetCommandPos(0, 0);
        if (position != 0 && position != kPosition) ++unexpected;
        RVX406A_SetCommandPos(0, 0, kPosition);
        ++calls;
      }
    });
  }
  for (int cycle = 0; cycle < 200; ++cycle) {
    ASSERT_EQ(RVX406A_LoadDevice(), 0) << cycle;
    RVX406A_UnloadDevice();
  }
  stop = true;
  for (std::thread& t : callers) t.join();
  EXPECT_EQ(unexpected, 0);
  EXPECT_GT(calls, 0);
}

constexpr u32 kMarker = 0x5EC7104E;

RVX_TEST_CHILD(ReadSectionMarker) {
  if (RVX406A_LoadDevice() != 0) return 2;
  u32 marker;
  memcpy(&marker, process().shared->reserved0, sizeof marker);
  RVX406A_UnloadDevice();
  return marker == kMarker ? 0 : marker == 0 ? 1 : 3;
}

TEST_F(LoadingTest, SectionOutlivesUnloadWhileThisProcessKeepsItsView) {
  // The child creates the mutex afresh, so it is a first loader, yet it finds
  // the section this process left mapped rather than a new zeroed one.
  Load();
  memcpy(shared().reserved0, &kMarker, sizeof kMarker);
  RVX406A_UnloadDevice();
  EXPECT_EQ(RunChild("ReadSectionMarker"), 0);
}

// Signals the parent through a file once its first load holds the library
// mutex, then dies there.
RVX_TEST_CHILD(DieInFirstLoad) {
  os::SetEnv("RVX_TEST_FLAG", args.at(0).c_str());
  process().seams.in_first_load = [] {
    WriteFile(os::GetEnv("RVX_TEST_FLAG"), "in");
    os::Sleep(300);
    std::_Exit(3);
  };
  RVX406A_LoadDevice();
  return 0;
}

TEST_F(LoadingTest, AProcessTakingOverFromAFirstLoaderThatDiedLoadsTheFilesItself) {
  const std::string flag = install_dir_ + "in_first_load";
  const ChildProcess child = StartChild("DieInFirstLoad", {flag});
  for (int waited = 0; ReadFile(flag).empty() && waited < 10000; ++waited) os::Sleep(1);
  // Opens the mutex while the child holds it, then waits for it.
  ASSERT_EQ(RVX406A_LoadDevice(), 0);
  EXPECT_EQ(WaitChild(child), 3);
  EXPECT_TRUE(process().first_loader);
  EXPECT_GT(process().seams.files_opened, 0u);
}

TEST_F(LoadingTest, EachFailingCallEndsCleanly) {
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
    // The library mutex is free for another process, which reaches the same
    // boards through the driver module, and a load succeeds.
    process().seams = ProcessSeams{};
    sim::StartTrace();
    EXPECT_EQ(RunChild("LoadThroughModule"), 0);
    EXPECT_THAT(TracedWrites(), ::testing::IsSupersetOf({"WR0=8000", "L48=00000001"}));
    EXPECT_EQ(RVX406A_LoadDevice(), 0);
    EXPECT_NE(process().watcher[0], nullptr);
    RVX406A_UnloadDevice();
  }
}

}  // namespace
}  // namespace rvx::test
