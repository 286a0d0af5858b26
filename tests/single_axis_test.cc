// Single-axis moves and completion, and the override of a running drive.

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr uint32_t kForever = 0xFFFFFFFF;  // RR0 polls a drive stays busy

class SingleAxisTest : public LoadedTest<> {
 protected:
  // Axis 1, M 2: positioning A 792, D 198, K 8, L 126, initial 50 (S-curve 100).
  void SetUp() override {
    LoadedTest::SetUp();
    AxisBlock& b = axis_block(0, 1);
    b.fixed_range = 0;
    b.pos_start_pps = 100, b.pos_drive_pps = 10000, b.pos_acc_ms = 50, b.pos_dec_ms = 200;
    b.jog_start_pps = 1, b.jog_drive_pps = 12000, b.jog_acc_ms = 50;
  }
  static Strings Head(u16 wr3, u16 em6) {
    return Join({{"WR0=020F", Reg("WR3", wr3), "WR7=C94F", Reg("WR6", em6), "WR0=0260"},
                 Param32(0x200, 4000000)});
  }
  const Strings at_ = {"WR0=0210", "WR0=0211"};
  const Strings trapezoid_ = Params(0x200, {{2, 792}, {3, 198}, {4, 50}, {5, 5000}});
};

TEST_F(SingleAxisTest, StartSequences) {  // jog: A 960, K 7, initial 1
  const Strings count = Param32(0x206, 70000);
  const Strings s_curve =
      Params(0x200, {{1, 8}, {0xE, 126}, {2, 8000}, {3, 8000}, {4, 100}, {5, 5000}});
  const Strings jog = Params(0x200, {{2, 960}, {3, 960}, {4, 1}, {5, 6000}});
  const Strings jog_s = Params(0x200, {{1, 7}, {2, 8000}, {3, 8000}, {4, 1}, {5, 6000}});
  // Shadows (left alone), kind, value, writes, requests (settle reads
  // included), then start, distance, target recorded.
  using Case = std::tuple<u16, u16, MoveKind, i32, Strings, size_t, i32, i32, i32>;
  const Case cases[] = {
      {0x81, 0x6580, kRelativeMove, -70000,
       Join({Head(0x82, 0x6508), at_, trapezoid_, count, {"WR0=0221"}}), 71, 0, -70000, -70000},
      {0x8F, 0x6500, kRelativeMove, 70000,
       Join({Head(0x8C, 0x6588), at_, s_curve, count, {"WR0=0220"}}), 83, 0, 70000, 70000},
      {0x91, 0x6580, kAbsoluteMove, 75000,
       Join({Head(0x92, 0x6508), trapezoid_, at_, count, {"WR0=0220"}}), 71, 5000, 70000, 75000},
      {0x83, 0x6588, kContinuousMove, 0, Join({Head(0x80, 0x6500), jog, {"WR0=0223"}}), 52, 22, 11,
       33},
      {0x87, 0x6508, kContinuousMove, 1, Join({Head(0x84, 0x6580), jog_s, {"WR0=0222"}}), 58, 22,
       11, 33},
  };
  const char* const names[] = {"", "Inc_Move", "Abs_Move", "Jog_Move"};
  AxisBlock& b = axis_block(0, 1);
  for (const auto& [wr3, em6, kind, value, writes, requests, start, distance, target] : cases) {
    const std::string call = names[kind] + Args({0, 1, value});
    SCOPED_TRACE(call);
    const bool jogs = kind == kContinuousMove;
    sim::SetPosition(0, 1, 5000, 4990);
    b.wr3 = wr3, b.em6 = em6;
    b.move_start = 22, b.move_distance = 11, b.move_target = 33;
    ClearLog();
    sim::StartTrace();
    Start(kind, 1, value);
    EXPECT_EQ(TracedWrites(), writes);
    EXPECT_EQ(sim::Trace().size(), requests);
    EXPECT_THAT(LoggedCalls(),
                ElementsAre(Logged(0, call) + (jogs ? "" : " : COMM[5000.00], FEED[4990.00]")));
    EXPECT_EQ(std::vector<u16>({b.wr3, b.em6}), std::vector<u16>({wr3, em6}));
    EXPECT_EQ(std::vector<int64_t>({b.move_start, b.move_distance, b.move_target,
                                    b.last_drive_speed, process().move_table[0][1]}),
              std::vector<int64_t>({start, distance, target, jogs ? 12000 : 10000, kind}));
  }
}

TEST_F(SingleAxisTest, LimitsAndRefusals) {  // a refusal leaves the running move alone
  const Strings max = Param32(0x206, 0x0FFFFFFF), zero = Param32(0x206, 0), none;
  const std::tuple<MoveKind, i32, i32, bool, bool, i32, Strings> cases[] = {
      {kRelativeMove, 268435455, 0, false, false, 0, Join({max, {"WR0=0220"}})},
      {kRelativeMove, 268435456, 0, true, true, ERR_INVALID_PARAMETER, none},
      {kAbsoluteMove, -300, -300, false, false, 0, Join({zero, {"WR0=0220"}})},
      {kAbsoluteMove, -268435356, 99, false, false, 0, Join({max, {"WR0=0221"}})},
      {kAbsoluteMove, 268435456, 0, false, false, ERR_MAX_DISTANCE, none},  // after the profile
      {kAbsoluteMove, -268435356, 100, false, false, ERR_MAX_DISTANCE, none},
      {kAbsoluteMove, 2147483647, INT32_MIN, false, false, ERR_MAX_DISTANCE, none},
      {kRelativeMove, 100, 0, true, true, ERR_AXIS_DRV_BUSY, none},
      {kContinuousMove, 1, 0, false, true, ERR_MPG_MODE, none}};
  sim::SetDriveDuration(0, 1, kForever);
  AxisBlock& b = axis_block(0, 1);
  for (const auto& [kind, value, logical, driving, pulser, result, tail] : cases) {
    SCOPED_TRACE(testing::Message() << kind << ": " << value << " from " << logical);
    sim::SetDriving(0, 1, false);
    b.wr3 = 0x81, b.em6 = 0x6580;
    RVX406A_Inc_Move(0, 1, 1234);
    sim::SetDriving(0, 1, driving);
    sim::SetPosition(0, 1, logical, 0);
    b.wr3 = pulser ? 0x99 : 0x81;
    const AxisBlock before = b;
    sim::StartTrace();
    Start(kind, 1, value);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    const Strings profile = kind == kAbsoluteMove ? Join({Head(0x82, 0x6508), trapezoid_, at_})
                                                  : Join({Head(0x82, 0x6508), at_, trapezoid_});
    EXPECT_EQ(TracedWrites(), result && result != ERR_MAX_DISTANCE ? none : Join({profile, tail}));
    if (result == ERR_SUCCESS) continue;
    EXPECT_EQ(memcmp(&before, &b, sizeof before), 0);
    EXPECT_EQ(process().move_table[0][1], 1u);
  }
}

TEST_F(SingleAxisTest, DoneReportsOncePerMoveAndTheFirstCause) {
  const std::pair<u16, i32> causes[] = {{0x0000, 0},    {0x0001, -600}, {0x0002, -610},
                                        {0x0004, -620}, {0x0008, -630}, {0x0010, -640},
                                        {0x0020, -650}, {0x0080, -660}, {0xFF40, 0},
                                        {0x0014, -620}, {0x00A0, -650}, {0x00FF, -600}};
  sim::SetPosition(0, 0, 1000, 990);
  sim::SetErrorStatus(0, 0, 0x0004);
  sim::SetDriveDuration(0, 0, 1);
  RVX406A_Inc_Move(0, 0, 250);
  axis_block(0, 0).motion_dir = 3;
  RVX406A_Inc_Move(0, 0, 300000000);  // leaves a last result
  ClearLog();
  EXPECT_EQ(RVX406A_Done(0, 0), 1);  // busy: nothing recorded, result 0
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_EQ(axis_block(0, 0).motion_dir, 3u);
  sim::StartTrace();  // idle: confirmed, positions, then the axis's stop cause
  EXPECT_EQ(RVX406A_Done(0, 0), 0);
  EXPECT_EQ(TracedRequests(), (Strings{"RR0", "RR0", "WR0=0110", "RR7", "RR6", "WR0=0111", "RR7",
                                       "RR6", "WR0=010F", "RR2"}));
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_EQ(axis_block(0, 0).motion_dir, 0u);
  for (const auto& [rr2, cause] : causes) {
    sim::SetErrorStatus(0, 0, rr2);
    EXPECT_EQ(RVX406A_Done(0, 0), 0);
    EXPECT_EQ(RVX406A_GetErrorCode(), cause) << std::hex << rr2;
  }
  // A refused call still reports a pending move of numbers within the table.
  process().move_table[1][2] = process().move_table[0][0] = 2;
  RVX406A_Done(1, 2);
  RVX406A_Wait(0, 0, 2);
  RVX406A_Wait(16, 0, 0);  // outside the table
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_BOARD_NUMBER);
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =  -620 : RVX406A_Done (0, 0)  : COMM[1250.00], FEED[1240.00]",
                          " RV =  -410 : RVX406A_Done (1, 2)  : COMM[0.00], FEED[0.00]",
                          " RV =  -300 : RVX406A_Wait (0, 0, 2)  : COMM[0.00], FEED[0.00]"));
  EXPECT_EQ(std::make_pair(process().move_table[1][2], process().move_table[0][0]),
            std::make_pair(0u, 0u));
}

std::vector<uint32_t> dispatched;
void StopOnMessage(void*, uint32_t message, uintptr_t, intptr_t) {
  dispatched.push_back(message);
  if (message == 0x0401) RVX406A_Decel_Stop(0, 0);  // on the waiting thread
}

TEST_F(SingleAxisTest, WaitsDispatchAndLeaveOnQuit) {
  sim::SetDriveDuration(0, 0, kForever);
  sim::SetErrorStatus(0, 0, 0x0010);
  dispatched.clear();
  Guarded([this] {
    void* window = CreateTestWindow(StopOnMessage);
    RVX406A_Jog_Move(0, 0, 1);
    sim::SetPosition(0, 0, -100, -101);
    os::PostMessage(window, 0x0400, 0, 0);
    os::PostMessage(window, 0x0401, 0, 0);
    ClearLog();
    RVX406A_Wait(0, 0, 1);
    DestroyTestWindow(window);
    EXPECT_THAT(dispatched, ElementsAre(0x0400u, 0x0401u));
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_ALM);
    EXPECT_THAT(
        LoggedCalls(),
        ElementsAre(" RV =     0 : RVX406A_Decel_Stop (0, 0)",
                    " RV =  -640 : RVX406A_Wait (0, 0, 1)  : COMM[-100.00], FEED[-101.00]"));
    // A quit ends either wait at once and is handed on to the thread's own
    // loop; nothing else changes, the last result a refused call left included.
    const u16 axes[] = {1, 0};
    for (const bool multi : {false, true}) {
      RVX406A_Jog_Move(0, 0, 1);
      multi ? RVX406A_Multi_Wait(0, 2, axes, 2) : RVX406A_Inc_Move(0, 0, 1);
      ClearLog();
      os::PostQuitMessage(7);
      multi ? RVX406A_Multi_Wait(0, 2, axes, 1) : RVX406A_Wait(0, 0, 1);
      os::Message msg{};
      EXPECT_TRUE(os::PeekMessage(&msg));
      EXPECT_EQ(std::pair(msg.message, msg.wparam), std::pair(os::kWmQuit, uintptr_t{0}));
      EXPECT_EQ(RVX406A_GetErrorCode(), multi ? ERR_INVALID_PARAMETER : ERR_AXIS_DRV_BUSY);
      EXPECT_EQ(LoggedCalls(), Strings());
      EXPECT_EQ(process().move_table[0][0], kContinuousMove);
      EXPECT_TRUE(sim::Axis(0, 0).driving);
    }
  });
}

using OverrideTest = LoadedTest<>;

TEST_F(OverrideTest, Speed) {
  auto loads = [](unsigned drive) { return Join({{"RR0"}, Param(0x205, drive)}); };
  // RANGE, FIXED_RANGE, driving, speed; requests, last drive speed, result, logged speed.
  const std::tuple<u16, u16, bool, u32, Strings, u32, i32, u32> cases[] = {
      {100, 1, true, 50000, loads(500), 50000, 0, 50000},
      {100, 1, true, 0, loads(1), 1, 0, 1},
      {7, 1, true, 7004, loads(1001), 7004, 0, 7004},
      {3, 0, true, 4000000, loads(8000), 4000000, 0, 4000000},
      {100, 1, false, 50000, Strings{"RR0"}, 9, ERR_AXIS_STEADY, 50000}};
  AxisBlock& b = axis_block(0, 1);
  for (const auto& [range, fixed, driving, speed, requests, last_speed, result, logged] : cases) {
    b.range = range, b.fixed_range = fixed, b.last_drive_speed = 9;
    sim::SetDriving(0, 1, driving);  // any drive, whoever started it
    ClearLog();
    sim::StartTrace();
    RVX406A_OverrideSpeed(0, 1, speed);
    EXPECT_EQ(TracedRequests(), requests) << speed;
    EXPECT_EQ(b.last_drive_speed, last_speed) << speed;
    EXPECT_EQ(LoggedCalls(),
              Strings{Logged(result, "OverrideSpeed (0, 1, " + std::to_string(logged) + ")")});
  }
}

TEST_F(OverrideTest, Position) {
  enum State { kRunning, kEnded, kReported };
  auto loads = [](unsigned count) { return Join({{"RR0"}, Param32(0x106, count)}); };
  const Strings none, busy_test = {"RR0"};
  // Move started and its state, override value; requests (a count: the direction
  // stays), start and distance recorded afterwards, result, arguments logged.
  const std::tuple<MoveKind, State, i32, Strings, i32, i32, i32, const char*> cases[] = {
      {kRelativeMove, kRunning, -5000, loads(5000), 0, -5000, 0, "(0, 0, -5000)"},
      {kRelativeMove, kRunning, 268435456, none, 0, 10000, -300, "(0, 0, 268435456)"},
      {kContinuousMove, kRunning, 1, none, 0, 0, -549, "(0, 0, 1)"},
      {kRelativeMove, kReported, 1, none, 0, 10000, -549, "(0, 0, 1)"},
      {kRelativeMove, kEnded, 1, busy_test, 0, 10000, -548, "(0, 0, 1)"},
      {kAbsoluteMove, kRunning, -2000, loads(3000), 1000, -3000, 0, "(0, 0, 1000, -2000, -3000)"},
      {kAbsoluteMove, kRunning, 268436455, loads(0x0FFFFFFF), 1000, 268435455, 0,
       "(0, 0, 1000, 268436455, 268435455)"},
      {kAbsoluteMove, kRunning, 268436456, busy_test, 1000, 4000, -541,
       "(0, 0, 1000, 268436456, 268435456)"},
      {kAbsoluteMove, kRunning, INT32_MIN, none, 1000, 4000, -300, "(0, 0, 0, -2147483648, 0)"},
  };
  sim::SetDriveDuration(0, 0, 0xFFFFFFFF);
  AxisBlock& b = axis_block(0, 0);
  for (const auto& [kind, state, value, requests, start, distance, result, args] : cases) {
    const bool abs = kind == kAbsoluteMove;
    const std::string call = (abs ? "Abs" : "Inc") + std::string("_OverrideMove ") + args;
    SCOPED_TRACE(call);
    sim::SetDriving(0, 0, false);
    sim::SetPosition(0, 0, 1000, 1000);
    b.move_start = b.move_distance = 0;
    Start(kind, 0, kind == kRelativeMove ? 10000 : kind == kAbsoluteMove ? 5000 : 1);
    if (state != kRunning) sim::SetDriving(0, 0, false);
    if (state == kReported) RVX406A_Done(0, 0);
    sim::SetPosition(0, 0, 3000, 2990);  // the drive has gone on since
    const i32 target = b.move_target;
    const u16 command = sim::Axis(0, 0).last_drive_command;
    ClearLog();
    sim::StartTrace();
    abs ? RVX406A_Abs_OverrideMove(0, 0, value) : RVX406A_Inc_OverrideMove(0, 0, value);
    EXPECT_EQ(TracedRequests(), requests);
    EXPECT_EQ(std::vector<i32>({b.move_start, b.move_distance, b.move_target}),
              std::vector<i32>({start, distance, target}));
    EXPECT_EQ(sim::Axis(0, 0).last_drive_command, command);
    EXPECT_EQ(LoggedCalls(), Strings{Logged(result, call)});
  }
}

}  // namespace
}  // namespace rvx::test
