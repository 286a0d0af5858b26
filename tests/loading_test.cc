// Board loading and unloading, identification, first-loader semantics, the
// shared section across processes, and the register primitives underneath.

#include <cstdlib>
#include <filesystem>
#include <tuple>

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
  const os::Section section = os::CreateOrOpenSection(
      (os::GetEnv("RVX_IPC_NAMESPACE") + "B83F0D57-2E6A-4C19-A4D8-51F7E902C3BA").c_str(),
      kSharedSectionSize);
  if (section.view == nullptr || section.created) return 12;
  const auto& s = *static_cast<const SharedSection*>(section.view);
  const bool same =
      s.board[1].axis[2].range == 321 && s.log_level == 3 && s.board[1].axis[0].di_count == 32;
  os::CloseSection(section.handle);
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

// Loads, then stays alive until as many loaders as args[1] have loaded: each
// leaves a file in the folder args[0], named without its trailing separator.
RVX_TEST_CHILD(LoadAndTellFirst) {
  if (RVX406A_LoadDevice() != 0) return 2;
  const bool first = process().first_loader;
  WriteFile(args[0] + "/" + std::to_string(CurrentProcessId()), "");
  for (int waited = 0; waited < 20000; waited += 10) {
    const auto files = std::filesystem::directory_iterator(args[0]);
    if (std::distance(begin(files), end(files)) >= std::stol(args[1])) break;
    os::Sleep(10);
  }
  return first ? 1 : 0;
}

TEST_F(LoadingTest, OfTwoSimultaneousLoadersExactlyOneIsFirst) {
  for (int round = 0; round < 3; ++round) {
    const std::string meeting = std::filesystem::path(MakeTempDir()).parent_path().string();
    const ChildProcess children[] = {StartChild("LoadAndTellFirst", {meeting, "2"}),
                                     StartChild("LoadAndTellFirst", {meeting, "2"})};
    int firsts = 0;
    for (const ChildProcess& child : children) {
      const int status = WaitChild(child);
      firsts += status == 0 || status == 1 ? status : 100;
    }
    EXPECT_EQ(firsts, 1) << "round " << round;
    RemoveTree(meeting);
  }
  os::SetEnv("RVX_DRIVER", "/nonexistent/driver.so");  // an unknown module leaves no board
  EXPECT_EQ(RunChild("LoadAndTellFirst", {"", "0"}), 2);
}

RVX_TEST_CHILD(DieHoldingTheMutex) {
  if (RVX406A_LoadDevice() != 0) return 2;
  os::WaitMutex(process().mutex);
  std::_Exit(0);  // dies as the owner
}

TEST_F(LoadingTest, AKilledOwnerDoesNotHangTheNextCaller) {
  // The child keeps the objects alive only while it runs, so the parent
  // holds them first and then inherits the abandoned mutex.
  Load();
  ASSERT_EQ(RunChild("DieHoldingTheMutex"), 0);
  RVX406A_Reset(0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
}

RVX_TEST_CHILD(LoadThroughModule) {
  os::SetEnv("RVX_DRIVER", RVX_SIM_MODULE_PATH);
  if (RVX406A_LoadDevice() != 0) return 2;
  RVX406A_Reset(0);
  return RVX406A_GetErrorCode() == ERR_SUCCESS ? 0 : 3;
}

TEST_F(LoadingTest, DriverModuleBackendReachesTheSameBoards) {
  sim::StartTrace();
  EXPECT_EQ(RunChild("LoadThroughModule"), 0);
  EXPECT_THAT(TracedWrites(),
              ::testing::IsSupersetOf({"WR0=8000", "L48=00000001"}));  // reset, bus test
}

}  // namespace
}  // namespace rvx::test
