// Override of a running drive: the multiplier rule, the order of the
// refusals, and what each override writes and records.
#include <gmock/gmock.h>

#include <tuple>

#include "tests/motion_support.h"

namespace rvx::test {
namespace {

class OverrideTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = 1;
  }
};

TEST_F(OverrideTest, Speed) {
  auto loads = [](unsigned drive) { return Join({{"RR0"}, Param(0x205, drive)}); };
  // RANGE, FIXED_RANGE, driving, speed; requests, last drive speed, result, logged speed.
  const std::tuple<u16, u16, bool, u32, Strings, u32, i32, u32> cases[] = {
      {100, 1, true, 50000, loads(500), 50000, 0, 50000},
      {100, 0, true, 50, loads(1), 50, 0, 50},  // RANGE also when not fixed
      {100, 1, true, 0, loads(1), 1, 0, 1},
      {7, 1, true, 7004, loads(1001), 7004, 0, 7004},
      {3, 0, true, 4000000, loads(8000), 4000000, 0, 4000000},
      {100, 1, false, 50000, Strings{"RR0"}, 9, ERR_AXIS_STEADY, 50000},
      {100, 1, false, 4000001, Strings(), 9, ERR_MAX_WORKV, 4000001}};
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
  // Move started and its state, absolute override or not and its value;
  // requests, start and distance recorded afterwards, result, log line.
  const std::tuple<MoveKind, State, bool, i32, Strings, i32, i32, i32, const char*> cases[] = {
      {kRelativeMove, kRunning, false, -5000, loads(5000), 0, -5000, 0,
       "Inc_OverrideMove (0, 0, -5000)"},  // the direction stays
      {kRelativeMove, kRunning, false, 268435456, none, 0, 10000, -300,
       "Inc_OverrideMove (0, 0, 268435456)"},
      {kContinuousMove, kRunning, false, 1, none, 0, 0, -549, "Inc_OverrideMove (0, 0, 1)"},
      {kAbsoluteMove, kRunning, false, 1, none, 1000, 4000, -549, "Inc_OverrideMove (0, 0, 1)"},
      {kRelativeMove, kReported, false, 1, none, 0, 10000, -549, "Inc_OverrideMove (0, 0, 1)"},
      {kRelativeMove, kEnded, false, 1, busy_test, 0, 10000, -548, "Inc_OverrideMove (0, 0, 1)"},
      {kAbsoluteMove, kRunning, true, -2000, loads(3000), 1000, -3000, 0,
       "Abs_OverrideMove (0, 0, 1000, -2000, -3000)"},  // from the recorded start
      {kAbsoluteMove, kRunning, true, 268436455, loads(0x0FFFFFFF), 1000, 268435455, 0,
       "Abs_OverrideMove (0, 0, 1000, 268436455, 268435455)"},
      {kAbsoluteMove, kRunning, true, 268436456, busy_test, 1000, 4000, -541,
       "Abs_OverrideMove (0, 0, 1000, 268436456, 268435456)"},
      {kAbsoluteMove, kRunning, true, INT32_MIN, none, 1000, 4000, -300,
       "Abs_OverrideMove (0, 0, 0, -2147483648, 0)"},
      {kRelativeMove, kRunning, true, 1, none, 0, 10000, -549, "Abs_OverrideMove (0, 0, 0, 1, 0)"},
      {kAbsoluteMove, kEnded, true, 1, busy_test, 1000, 4000, -548,
       "Abs_OverrideMove (0, 0, 0, 1, 0)"}};
  sim::SetDriveDuration(0, 0, 0xFFFFFFFF);
  AxisBlock& b = axis_block(0, 0);
  for (const auto& [kind, state, abs, value, requests, start, distance, result, call] : cases) {
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
