// Single-axis moves, completion and stops: exact start sequences, limits and
// refusals, the once-per-move completion line, the stop cause order, waits.
#include <gmock/gmock.h>

#include <array>
#include <chrono>
#include <cstring>
#include <future>
#include <iterator>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using namespace std::chrono_literals;
using Strings = std::vector<std::string>;

constexpr uint32_t kForever = 0xFFFFFFFF;  // RR0 polls a drive stays busy

Strings Join(std::initializer_list<Strings> parts) {
  Strings all;
  for (const Strings& p : parts) all.insert(all.end(), p.begin(), p.end());
  return all;
}

// Requests since StartTrace() without the settle reads that follow writes.
Strings TracedRequests() {
  Strings out;
  for (const std::string& r : Requests(sim::Trace())) {
    if (r != "RP1") out.push_back(r);
  }
  return out;
}

// Runs `body` on a thread of its own; if it is still blocked after 10 s the
// drives of board 0 are ended so that it returns, and the test fails.
template <class F>
auto Guarded(F body) {
  auto done = std::async(std::launch::async, body);
  if (done.wait_for(10s) != std::future_status::ready) {
    ADD_FAILURE() << "a wait did not return";
    for (u32 a = 0; a < 4; ++a) sim::SetDriving(0, a, false);
  }
  return done.get();
}

class SingleAxisTest : public LibraryTest {};

TEST_F(SingleAxisTest, StartSequences) {
  // Positioning M 2: A 792, D 198, K 8, L 126, initial 50 (S-curve 100);
  // jog M 2: A 960, K 7, initial 1. Any swap shows.
  const Strings range = {"WR7=003D", "WR6=0900", "WR0=0200"};
  const Strings at = {"WR0=0210", "WR0=0211"};
  const Strings trapezoid = {"WR6=0318", "WR0=0202", "WR6=00C6", "WR0=0203",
                             "WR6=0032", "WR0=0204", "WR6=1388", "WR0=0205"};
  const Strings s_curve = {"WR6=0008", "WR0=0201", "WR6=007E", "WR0=020E", "WR6=1F40", "WR0=0202",
                           "WR6=1F40", "WR0=0203", "WR6=0064", "WR0=0204", "WR6=1388", "WR0=0205"};
  const Strings jog = {"WR6=03C0", "WR0=0202", "WR6=03C0", "WR0=0203",
                       "WR6=0001", "WR0=0204", "WR6=1770", "WR0=0205"};
  const Strings jog_s = {"WR6=0007", "WR0=0201", "WR6=1F40", "WR0=0202", "WR6=1F40",
                         "WR0=0203", "WR6=0001", "WR0=0204", "WR6=1770", "WR0=0205"};
  const Strings count = {"WR7=0001", "WR6=1170", "WR0=0206"};  // 70000 pulses
  auto mode = [](const char* wr3, const char* em6) {
    return Strings{"WR0=020F", wr3, "WR7=C94F", em6, "WR0=0260"};
  };
  struct Case {
    u16 wr3, em6;  // shadows, which the start must leave alone
    void (*start)();
    Strings writes;
    std::string line;
    std::array<i32, 5> record;  // table entry, start, distance, target, speed
  };
  const Case cases[] = {
      {0x81,
       0x6580,
       [] { RVX406A_Inc_Move(0, 1, -70000); },
       Join({mode("WR3=0082", "WR6=6508"), range, at, trapezoid, count, {"WR0=0221"}}),
       " RV =     0 : RVX406A_Inc_Move (0, 1, -70000) : COMM[5000.00], FEED[4990.00]",
       {1, 0, -70000, -70000, 10000}},
      {0x87,
       0x6500,
       [] { RVX406A_Inc_Move(0, 1, 70000); },
       Join({mode("WR3=0084", "WR6=6588"), range, at, s_curve, count, {"WR0=0220"}}),
       " RV =     0 : RVX406A_Inc_Move (0, 1, 70000) : COMM[5000.00], FEED[4990.00]",
       {1, 0, 70000, 70000, 10000}},
      {0x81,
       0x6580,
       [] { RVX406A_Abs_Move(0, 1, 75000); },
       Join({mode("WR3=0082", "WR6=6508"), range, trapezoid, at, count, {"WR0=0220"}}),
       " RV =     0 : RVX406A_Abs_Move (0, 1, 75000) : COMM[5000.00], FEED[4990.00]",
       {2, 5000, 70000, 75000, 10000}},
      {0x87,
       0x6500,
       [] { RVX406A_Abs_Move(0, 1, -65000); },
       Join({mode("WR3=0084", "WR6=6588"), range, s_curve, at, count, {"WR0=0221"}}),
       " RV =     0 : RVX406A_Abs_Move (0, 1, -65000) : COMM[5000.00], FEED[4990.00]",
       {2, 5000, -70000, -65000, 10000}},
      {0x83,
       0x6588,
       [] { RVX406A_Jog_Move(0, 1, 0); },
       Join({mode("WR3=0080", "WR6=6500"), range, jog, {"WR0=0223"}}),
       " RV =     0 : RVX406A_Jog_Move (0, 1, 0)",
       {3, 22, 11, 33, 12000}},
      {0x87,
       0x6508,
       [] { RVX406A_Jog_Move(0, 1, 1); },
       Join({mode("WR3=0084", "WR6=6580"), range, jog_s, {"WR0=0222"}}),
       " RV =     0 : RVX406A_Jog_Move (0, 1, 1)",
       {3, 22, 11, 33, 12000}},
  };
  Load();
  shared().log_level = 1;
  AxisBlock& b = axis_block(0, 1);
  b.fixed_range = 0;
  b.pos_start_pps = 100, b.pos_drive_pps = 10000, b.pos_acc_ms = 50, b.pos_dec_ms = 200;
  b.jog_start_pps = 1, b.jog_drive_pps = 12000, b.jog_acc_ms = 50;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sim::SetPosition(0, 1, 5000, 4990);
    b.wr3 = c.wr3, b.em6 = c.em6;
    b.move_start = 22, b.move_distance = 11, b.move_target = 33;
    ClearLog();
    sim::StartTrace();
    c.start();
    EXPECT_EQ(TracedWrites(), c.writes);
    EXPECT_THAT(LoggedCalls(), ElementsAre(c.line));
    EXPECT_EQ(b.wr3, c.wr3);
    EXPECT_EQ(b.em6, c.em6);
    const std::array<i32, 5> record = {static_cast<i32>(process().move_table[0][1]), b.move_start,
                                       b.move_distance, b.move_target,
                                       static_cast<i32>(b.last_drive_speed)};
    EXPECT_EQ(record, c.record);
  }
}

// A port write is one request and two settle reads (3), a 32-bit parameter
// three writes (9): busy read 1, mode words 15, range 9, positions 2 x 5,
// speeds 4 x 6 (S-curve 6 x 6), pulse count 9, drive command 3.
TEST_F(SingleAxisTest, RelativeStartRequestCount) {
  const std::pair<u16, size_t> cases[] = {{0x80, 71}, {0x84, 83}};
  Load();
  for (const auto& [wr3, requests] : cases) {
    axis_block(0, 0).wr3 = wr3;
    sim::StartTrace();
    RVX406A_Inc_Move(0, 0, 1000);
    EXPECT_EQ(sim::Trace().size(), requests) << wr3;
  }
}

TEST_F(SingleAxisTest, DistanceLimits) {
  // Axis 0's factory profile: M 100, A = D = 7, initial 10, drive 100.
  const Strings mode = {"WR0=010F", "WR3=0082", "WR7=C94F", "WR6=6508",
                        "WR0=0160", "WR7=0001", "WR6=3880", "WR0=0100"};
  const Strings speeds = {"WR6=0007", "WR0=0102", "WR6=0007", "WR0=0103",
                          "WR6=000A", "WR0=0104", "WR6=0064", "WR0=0105"};
  const Strings at = {"WR0=0110", "WR0=0111"};
  const Strings max = {"WR7=0FFF", "WR6=FFFF", "WR0=0106"};
  const Strings zero = {"WR7=0000", "WR6=0000", "WR0=0106"};
  struct Case {
    bool abs;
    i32 value, logical, result;
    Strings tail;  // after the profile
  };
  const Case cases[] = {
      {false, 268435455, 0, 0, Join({max, {"WR0=0120"}})},
      {false, -268435455, 0, 0, Join({max, {"WR0=0121"}})},
      {false, 0, 0, 0, Join({zero, {"WR0=0120"}})},
      {false, 268435456, 0, ERR_INVALID_PARAMETER, {}},
      {false, -268435456, 0, ERR_INVALID_PARAMETER, {}},
      {true, INT32_MIN, 0, ERR_INVALID_PARAMETER, {}},
      {true, -300, -300, 0, Join({zero, {"WR0=0120"}})},
      {true, -268435356, 99, 0, Join({max, {"WR0=0121"}})},
      // Refused after the profile is loaded: it stays, nothing moves.
      {true, 268435456, 0, ERR_MAX_DISTANCE, {}},
      {true, -268435356, 100, ERR_MAX_DISTANCE, {}},
      {true, 2147483647, INT32_MIN, ERR_MAX_DISTANCE, {}},
  };
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.value << " from " << c.logical);
    sim::SetPosition(0, 0, c.logical, 0);
    process().move_table[0][0] = 0;
    axis_block(0, 0).move_target = 77;
    sim::StartTrace();
    c.abs ? RVX406A_Abs_Move(0, 0, c.value) : RVX406A_Inc_Move(0, 0, c.value);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    const Strings expected = c.result == ERR_INVALID_PARAMETER ? Strings{}
                             : c.abs                           ? Join({mode, speeds, at, c.tail})
                                                               : Join({mode, at, speeds, c.tail});
    EXPECT_EQ(TracedWrites(), expected);
    EXPECT_EQ(process().move_table[0][0], c.result ? 0u : c.abs ? 2u : 1u);
    EXPECT_EQ(axis_block(0, 0).move_target, c.result ? 77 : c.value);
  }
}

// Arguments, then busy, then the manual pulser; a refusal writes nothing and
// leaves the records and the running drive as they were.
TEST_F(SingleAxisTest, Refusals) {
  struct Case {
    void (*start)();
    bool driving;
    u16 wr3;
    i32 result;
  };
  const Case cases[] = {
      {[] { RVX406A_Inc_Move(0, 0, 100); }, true, 0x98, ERR_AXIS_DRV_BUSY},
      {[] { RVX406A_Abs_Move(0, 0, 100); }, true, 0x80, ERR_AXIS_DRV_BUSY},
      {[] { RVX406A_Jog_Move(0, 0, 1); }, false, 0x98, ERR_MPG_MODE},
      {[] { RVX406A_Abs_Move(0, 0, 100); }, false, 0x98, ERR_MPG_MODE},
      {[] { RVX406A_Jog_Move(0, 0, 2); }, true, 0x98, ERR_INVALID_PARAMETER},
      {[] { RVX406A_Jog_Move(0, 0, 1); }, false, 0x88, ERR_SUCCESS},  // one pulser bit only
      {[] { RVX406A_Inc_Move(0, 0, 1); }, false, 0x90, ERR_SUCCESS},
  };
  Load();
  sim::SetDriveDuration(0, 0, kForever);
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    sim::SetDriving(0, 0, false);
    axis_block(0, 0).wr3 = 0x80;
    RVX406A_Inc_Move(0, 0, 1234);
    sim::SetDriving(0, 0, c.driving);
    axis_block(0, 0).wr3 = c.wr3;
    const AxisBlock before = axis_block(0, 0);
    sim::StartTrace();
    c.start();
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << i;
    if (c.result == ERR_SUCCESS) continue;
    const Strings busy_test = {"RR0"};
    EXPECT_EQ(TracedRequests(), c.result == ERR_INVALID_PARAMETER ? Strings{} : busy_test) << i;
    EXPECT_EQ(memcmp(&before, &axis_block(0, 0), sizeof before), 0) << i;
    EXPECT_EQ(process().move_table[0][0], 1u) << i;
    EXPECT_EQ(sim::Axis(0, 0).pulse_count, 1234u) << i;
  }
}

TEST_F(SingleAxisTest, DoneReportsOncePerMove) {
  Load();
  shared().log_level = 1;
  sim::SetPosition(0, 0, 1000, 990);
  sim::SetErrorStatus(0, 0, 0x0004);
  sim::SetDriveDuration(0, 0, 2);
  RVX406A_Inc_Move(0, 0, 250);
  axis_block(0, 0).motion_dir = 3;
  RVX406A_Inc_Move(0, 0, 300000000);  // leaves a last result
  ClearLog();

  sim::StartTrace();  // busy: one read, nothing recorded, result 0
  EXPECT_EQ(RVX406A_Done(0, 0), 1);
  EXPECT_EQ(TracedRequests(), Strings{"RR0"});
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_EQ(RVX406A_Done(0, 0), 1);
  EXPECT_EQ(axis_block(0, 0).motion_dir, 3u);

  sim::StartTrace();  // idle: confirmed, positions, then the axis's stop cause
  EXPECT_EQ(RVX406A_Done(0, 0), 0);
  EXPECT_EQ(TracedRequests(), (Strings{"RR0", "RR0", "WR0=0110", "RR7", "RR6", "WR0=0111", "RR7",
                                       "RR6", "WR0=010F", "RR2"}));
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_EQ(axis_block(0, 0).motion_dir, 0u);
  sim::SetErrorStatus(0, 0, 0x0010);
  EXPECT_EQ(RVX406A_Done(0, 0), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_ALM);
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =  -620 : RVX406A_Done (0, 0)  : COMM[1250.00], FEED[1240.00]"));
}

TEST_F(SingleAxisTest, StopCauseOrder) {
  const std::pair<u16, i32> cases[] = {
      {0x0000, 0},
      {0x0001, ERR_STOP_BY_SLPT},
      {0x0002, ERR_STOP_BY_SLMT},
      {0x0004, ERR_STOP_BY_HLPT},
      {0x0008, ERR_STOP_BY_HLMT},
      {0x0010, ERR_STOP_BY_ALM},
      {0x0020, ERR_STOP_BY_EMG},
      {0x0080, ERR_STOP_BY_EZ},
      {0xFF40, 0},
      {0x0014, ERR_STOP_BY_HLPT},
      {0x00A0, ERR_STOP_BY_EMG},
      {0x00FF, ERR_STOP_BY_SLPT},
  };
  Load();
  sim::SetErrorStatus(0, 0, 0x0001);  // another axis's error is not this one's
  for (const auto& [rr2, cause] : cases) {
    sim::SetErrorStatus(0, 3, rr2);
    EXPECT_EQ(RVX406A_Done(0, 3), 0);
    EXPECT_EQ(RVX406A_GetErrorCode(), cause) << std::hex << rr2;
  }
}

// A refused completion call still reports a pending move of those numbers
// once, with the refusal and no positions, and never waits.
TEST_F(SingleAxisTest, RefusedCompletionCalls) {
  struct Case {
    u16 board, axis, mode;
    bool wait;
    i32 result;
    Strings lines;
  };
  const Case cases[] = {
      {1,
       2,
       0,
       false,
       ERR_BOARD_NUMBER,
       {" RV =  -410 : RVX406A_Done (1, 2)  : COMM[0.00], FEED[0.00]"}},
      {0,
       6,
       0,
       true,
       ERR_AXIS_NUM,
       {" RV =  -540 : RVX406A_Wait (0, 6, 0)  : COMM[0.00], FEED[0.00]"}},
      {0,
       0,
       2,
       true,
       ERR_INVALID_PARAMETER,
       {" RV =  -300 : RVX406A_Wait (0, 0, 2)  : COMM[0.00], FEED[0.00]"}},
      {0, 8, 0, false, ERR_AXIS_NUM, {}},  // outside the move table
      {16, 0, 0, true, ERR_BOARD_NUMBER, {}},
  };
  Load();
  shared().log_level = 1;
  sim::SetDriving(0, 0, true);
  for (const Case& c : cases) {
    const bool in_table = c.board < kMaxBoards && c.axis < kTableAxes;
    if (in_table) process().move_table[c.board][c.axis] = 2;
    ClearLog();
    Guarded([&c] {
      c.wait ? RVX406A_Wait(c.board, c.axis, c.mode) : void(RVX406A_Done(c.board, c.axis));
    });
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << c.board << "/" << c.axis;
    EXPECT_EQ(LoggedCalls(), c.lines) << c.board << "/" << c.axis;
    if (in_table) {
      EXPECT_EQ(process().move_table[c.board][c.axis], 0u);
    }
  }
}

// Wait polls until the axis is idle, stopped here from another thread.
TEST_F(SingleAxisTest, WaitReturnsWhenTheAxisStops) {
  Load();
  shared().log_level = 1;
  sim::SetErrorStatus(0, 2, 0x0010);
  sim::SetDriveDuration(0, 2, kForever);
  RVX406A_Jog_Move(0, 2, 0);
  sim::SetPosition(0, 2, -100, -101);
  ClearLog();
  auto waiting = std::async(std::launch::async, [] { RVX406A_Wait(0, 2, 0); });
  EXPECT_EQ(waiting.wait_for(100ms), std::future_status::timeout);
  sim::SetDriving(0, 2, false);
  ASSERT_EQ(waiting.wait_for(10s), std::future_status::ready);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_ALM);
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =  -640 : RVX406A_Wait (0, 2, 0)  : COMM[-100.00], FEED[-101.00]"));
}

std::vector<uint32_t>& Dispatched() {
  static std::vector<uint32_t> messages;
  return messages;
}

// Runs inside the wait, on the waiting thread: it may call the library.
void StopOnMessage(void*, uint32_t message, uintptr_t, intptr_t) {
  Dispatched().push_back(message);
  if (message == 0x0401) RVX406A_Decel_Stop(0, 0);
}

TEST_F(SingleAxisTest, WaitModeOne) {
  Load();
  shared().log_level = 1;
  sim::SetDriveDuration(0, 0, kForever);
  Dispatched().clear();
  Guarded([this] {
    void* window = rvx_create_window(StopOnMessage);
    RVX406A_Jog_Move(0, 0, 1);
    rvx_post_message(window, 0x0400, 0, 0);
    rvx_post_message(window, 0x0401, 0, 0);
    ClearLog();
    RVX406A_Wait(0, 0, 1);
    rvx_destroy_window(window);
  });
  EXPECT_THAT(Dispatched(), ElementsAre(0x0400u, 0x0401u));
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =     0 : RVX406A_Decel_Stop (0, 0)",
                          " RV =     0 : RVX406A_Wait (0, 0, 1)  : COMM[0.00], FEED[0.00]"));

  // A quit ends the wait at once and is posted again; nothing else changes.
  RVX406A_Jog_Move(0, 0, 1);
  RVX406A_Inc_Move(0, 0, 1);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_DRV_BUSY);
  ClearLog();
  const RVX_MSG requeued = Guarded([] {
    rvx_post_quit_message(7);
    RVX406A_Wait(0, 0, 1);
    RVX_MSG msg{};
    rvx_get_message(&msg, 0);
    return msg;
  });
  EXPECT_EQ(requeued.message, RVX_WM_QUIT);
  EXPECT_EQ(requeued.wparam, 0u);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_DRV_BUSY);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
  EXPECT_EQ(process().move_table[0][0], 3u);
  EXPECT_TRUE(sim::Axis(0, 0).driving);
}

TEST_F(SingleAxisTest, Stops) {
  const std::pair<void (*)(uint16_t, uint16_t), const char*> cases[] = {
      {RVX406A_Decel_Stop, "WR0=0226"}, {RVX406A_Sudden_Stop, "WR0=0227"}};
  Load();
  shared().log_level = 1;
  sim::SetDriveDuration(0, 1, kForever);
  for (const auto& [stop, write] : cases) {
    RVX406A_Jog_Move(0, 1, 0);
    axis_block(0, 1).motion_dir = 1;
    process().home_table[0][1] = 1;
    sim::StartTrace();
    stop(0, 1);
    EXPECT_EQ(TracedWrites(), Strings{write});
    EXPECT_FALSE(sim::Axis(0, 1).driving);
    EXPECT_EQ(axis_block(0, 1).motion_dir, 0u);
    EXPECT_EQ(process().home_table[0][1], 0u);
    stop(0, 1);  // an idle axis stops too
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    ClearLog();  // the stopped move is still reported, once
    RVX406A_Done(0, 1);
    RVX406A_Done(0, 1);
    EXPECT_EQ(LoggedCalls().size(), 1u) << write;
  }
}

}  // namespace
}  // namespace rvx::test
