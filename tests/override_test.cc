// Override of a running drive: the multiplier rule, the order of the
// refusals, and what each override writes and records.
#include <gmock/gmock.h>

#include "tests/support.h"

namespace rvx::test {
namespace {

using Strings = std::vector<std::string>;

Strings TracedRequests() {
  Strings out;
  for (const std::string& r : Requests(sim::Trace())) {
    if (r != "RP1") out.push_back(r);
  }
  return out;
}

class OverrideTest : public LibraryTest {};

TEST_F(OverrideTest, Speed) {
  struct Case {
    u16 range, fixed;
    bool driving;
    u32 speed;
    Strings requests;
    u32 last_speed;
    std::string line;
  };
  const Case cases[] = {
      {100,
       1,
       true,
       50000,
       {"RR0", "WR6=01F4", "WR0=0205"},
       50000,
       " RV =     0 : RVX406A_OverrideSpeed (0, 1, 50000)"},
      // RANGE is the multiplier even when the range is not fixed.
      {100,
       0,
       true,
       50,
       {"RR0", "WR6=0001", "WR0=0205"},
       50,
       " RV =     0 : RVX406A_OverrideSpeed (0, 1, 50)"},
      {100,
       1,
       true,
       0,
       {"RR0", "WR6=0001", "WR0=0205"},
       1,
       " RV =     0 : RVX406A_OverrideSpeed (0, 1, 1)"},
      {7,
       1,
       true,
       7004,
       {"RR0", "WR6=03E9", "WR0=0205"},
       7004,
       " RV =     0 : RVX406A_OverrideSpeed (0, 1, 7004)"},
      {3,
       0,
       true,
       4000000,
       {"RR0", "WR6=1F40", "WR0=0205"},
       4000000,
       " RV =     0 : RVX406A_OverrideSpeed (0, 1, 4000000)"},
      {100, 1, false, 50000, {"RR0"}, 9, " RV =  -548 : RVX406A_OverrideSpeed (0, 1, 50000)"},
      {100, 1, false, 4000001, {}, 9, " RV =  -535 : RVX406A_OverrideSpeed (0, 1, 4000001)"},
  };
  Load();
  shared().log_level = 1;
  for (const Case& c : cases) {
    AxisBlock& b = axis_block(0, 1);
    b.range = c.range, b.fixed_range = c.fixed, b.last_drive_speed = 9;
    sim::SetDriving(0, 1, c.driving);  // any drive, whoever started it
    ClearLog();
    sim::StartTrace();
    RVX406A_OverrideSpeed(0, 1, c.speed);
    EXPECT_EQ(TracedRequests(), c.requests) << c.line;
    EXPECT_EQ(b.last_drive_speed, c.last_speed) << c.line;
    EXPECT_EQ(LoggedCalls(), Strings{c.line});
  }
}

TEST_F(OverrideTest, Position) {
  enum Started { kRelative, kAbsolute, kJog };
  enum State { kRunning, kEnded, kReported };
  struct Case {
    Started started;
    State state;
    void (*override)();
    Strings requests;
    i32 start, distance;  // recorded afterwards
    std::string line;
  };
  const Strings none;
  const Case cases[] = {
      // A magnitude: the running drive keeps its direction.
      {kRelative,
       kRunning,
       [] { RVX406A_Inc_OverrideMove(0, 0, -5000); },
       {"RR0", "WR7=0000", "WR6=1388", "WR0=0106"},
       0,
       -5000,
       " RV =     0 : RVX406A_Inc_OverrideMove (0, 0, -5000)"},
      {kRelative, kRunning, [] { RVX406A_Inc_OverrideMove(0, 0, 268435456); }, none, 0, 10000,
       " RV =  -300 : RVX406A_Inc_OverrideMove (0, 0, 268435456)"},
      {kJog, kRunning, [] { RVX406A_Inc_OverrideMove(0, 0, 1); }, none, 0, 0,
       " RV =  -549 : RVX406A_Inc_OverrideMove (0, 0, 1)"},
      {kAbsolute, kRunning, [] { RVX406A_Inc_OverrideMove(0, 0, 1); }, none, 1000, 4000,
       " RV =  -549 : RVX406A_Inc_OverrideMove (0, 0, 1)"},
      // The type is checked before the axis is read.
      {kRelative, kReported, [] { RVX406A_Inc_OverrideMove(0, 0, 1); }, none, 0, 10000,
       " RV =  -549 : RVX406A_Inc_OverrideMove (0, 0, 1)"},
      {kRelative,
       kEnded,
       [] { RVX406A_Inc_OverrideMove(0, 0, 1); },
       {"RR0"},
       0,
       10000,
       " RV =  -548 : RVX406A_Inc_OverrideMove (0, 0, 1)"},
      // From the recorded start (1000), not from where the axis is now.
      {kAbsolute,
       kRunning,
       [] { RVX406A_Abs_OverrideMove(0, 0, -2000); },
       {"RR0", "WR7=0000", "WR6=0BB8", "WR0=0106"},
       1000,
       -3000,
       " RV =     0 : RVX406A_Abs_OverrideMove (0, 0, 1000, -2000, -3000)"},
      {kAbsolute,
       kRunning,
       [] { RVX406A_Abs_OverrideMove(0, 0, 268436456); },
       {"RR0"},
       1000,
       4000,
       " RV =  -541 : RVX406A_Abs_OverrideMove (0, 0, 1000, 268436456, 268435456)"},
      {kAbsolute, kRunning, [] { RVX406A_Abs_OverrideMove(0, 0, INT32_MIN); }, none, 1000, 4000,
       " RV =  -300 : RVX406A_Abs_OverrideMove (0, 0, 0, -2147483648, 0)"},
      {kRelative, kRunning, [] { RVX406A_Abs_OverrideMove(0, 0, 1); }, none, 0, 10000,
       " RV =  -549 : RVX406A_Abs_OverrideMove (0, 0, 0, 1, 0)"},
      {kAbsolute,
       kEnded,
       [] { RVX406A_Abs_OverrideMove(0, 0, 1); },
       {"RR0"},
       1000,
       4000,
       " RV =  -548 : RVX406A_Abs_OverrideMove (0, 0, 0, 1, 0)"},
  };
  Load();
  shared().log_level = 1;
  sim::SetDriveDuration(0, 0, 0xFFFFFFFF);
  AxisBlock& b = axis_block(0, 0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    sim::SetDriving(0, 0, false);
    sim::SetPosition(0, 0, 1000, 1000);
    b.move_start = b.move_distance = 0;
    c.started == kRelative   ? RVX406A_Inc_Move(0, 0, 10000)
    : c.started == kAbsolute ? RVX406A_Abs_Move(0, 0, 5000)
                             : RVX406A_Jog_Move(0, 0, 1);
    if (c.state != kRunning) sim::SetDriving(0, 0, false);
    if (c.state == kReported) RVX406A_Done(0, 0);
    sim::SetPosition(0, 0, 3000, 2990);  // the drive has gone on since
    const i32 target = b.move_target;
    const u16 command = sim::Axis(0, 0).last_drive_command;
    ClearLog();
    sim::StartTrace();
    c.override();
    EXPECT_EQ(TracedRequests(), c.requests);
    EXPECT_EQ(b.move_start, c.start);
    EXPECT_EQ(b.move_distance, c.distance);
    EXPECT_EQ(b.move_target, target);
    EXPECT_EQ(sim::Axis(0, 0).last_drive_command, command);
    EXPECT_EQ(LoggedCalls(), Strings{c.line});
  }
}

}  // namespace
}  // namespace rvx::test
