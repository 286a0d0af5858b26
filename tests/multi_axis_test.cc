// Multi-axis moves, completion tests and waits; stops of one axis or several.
#include <algorithm>

#include "tests/support.h"

namespace rvx::test {
namespace {

class MultiAxisTest : public LoadedTest<> {
 protected:
  void SetUp() override {
    LoadedTest::SetUp();
    Fresh();
  }
  void Fresh() {  // axes idle, trapezoid, no record, no log
    for (int a = 0; a < 4; ++a) {
      sim::SetDriving(0, a, false);
      axis_block(0, a).wr3 = 0x0080, axis_block(0, a).motion_dir = 7;
      process().move_table[0][a] = 0, process().home_table[0][a] = 1;
    }
    ClearLog();
  }
};

TEST_F(MultiAxisTest, MovesCheckEveryAxisBeforeTheFirstWrite) {
  constexpr i32 kBad = ERR_INVALID_PARAMETER;
  // Kind, axes, values, busy axis, pulser axis, axis 1's position, result, log lines.
  const std::tuple<MoveKind, std::vector<u16>, std::vector<i32>, int, int, i32, i32, size_t>
      cases[] = {
          {kRelativeMove, {0}, {10}, -1, -1, 0, kBad, 1},
          {kRelativeMove, {0, 1, 2, 3, 0}, {1, 1, 1, 1, 1}, -1, -1, 0, kBad, 4},
          {kRelativeMove, {0, 1, 4}, {1, 1, 1}, -1, -1, 0, ERR_AXIS_NUM, 3},
          {kRelativeMove, {0, 1}, {1, 0x10000000}, 1, -1, 0, kBad, 2},
          {kContinuousMove, {0, 1}, {1, 2}, -1, -1, 0, kBad, 2},
          {kRelativeMove, {0, 1}, {1, 1}, 1, 1, 0, ERR_AXIS_DRV_BUSY, 2},
          {kContinuousMove, {2, 1}, {0, 1}, -1, 1, 0, ERR_MPG_MODE, 2},
          {kAbsoluteMove, {0, 1}, {0, 0x10000000}, -1, -1, -1, ERR_MAX_DISTANCE, 2},
          {kAbsoluteMove, {0, 1}, {0, 0x10000000}, -1, -1, 1, ERR_SUCCESS, 2},
      };
  for (const auto& [kind, axes, values, busy, pulser, logical, result, lines] : cases) {
    SCOPED_TRACE(testing::Message() << kind << " " << result << " " << axes.size());
    Fresh();
    if (busy >= 0) sim::SetDriving(0, busy, true);
    if (pulser >= 0) axis_block(0, pulser).wr3 = 0x0098;
    sim::SetPosition(0, 1, logical, 0);
    sim::StartTrace();
    StartMulti(kind, axes, values);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    if (result != ERR_SUCCESS) {  // position reads only
      EXPECT_THAT(TracedWrites(), testing::Each(testing::MatchesRegex("WR0=0.1.")));
    }
    for (int a = 1; a <= 2; ++a) {
      const bool listed = std::find(axes.begin(), axes.end(), a) != axes.end();
      EXPECT_EQ(process().move_table[0][a], listed && !result ? kind : 0u) << a;
    }
    EXPECT_THAT(LoggedCalls(),
                testing::AllOf(testing::SizeIs(lines),
                               testing::Each(testing::StartsWith(Logged(result, "Multi_")))));
  }
}

TEST_F(MultiAxisTest, EachKindLoadsUnderHoldAndStartsWithOneRelease) {
  // Values for axes 2 and 0, how the writes of each end, axis 2's start,
  // distance and target, axis 0's log line.
  const std::tuple<MoveKind, i32, i32, const char*, const char*, i32, i32, i32, const char*>
      cases[] = {
          {kRelativeMove, 100, -100, "WR7=0000 WR6=0064 WR0=0406 WR0=0424 WR0=0420",
           "WR7=0000 WR6=0064 WR0=0106 WR0=0124 WR0=0121", 0, 100, 100,
           " RV =     0 : RVX406A_Multi_Inc_Move (0, 0, -100) : COMM[-5.00], FEED[-7.00]"},
          // Each axis reads where it stands again, after its profile.
          {kAbsoluteMove, 300, -50,
           "WR0=0405 WR0=0410 WR0=0411 WR7=0000 WR6=0122 WR0=0406 WR0=0424 WR0=0420",
           "WR0=0105 WR0=0110 WR0=0111 WR7=0000 WR6=002D WR0=0106 WR0=0124 WR0=0121", 10, 290, 300,
           " RV =     0 : RVX406A_Multi_Abs_Move (0, 0, -50) : COMM[-5.00], FEED[-7.00]"},
          {kContinuousMove, 1, 0, "WR0=0405 WR0=0424 WR0=0422", "WR0=0105 WR0=0124 WR0=0123", 55,
           55, 55, " RV =     0 : RVX406A_Multi_Jog_Move (0, 0, 0)"},
      };
  for (const auto& [kind, value2, value0, held2, held0, start2, distance2, target2, line0] :
       cases) {
    SCOPED_TRACE(kind);
    Fresh();
    sim::SetPosition(0, 2, 10, 12);
    sim::SetPosition(0, 0, -5, -7);
    AxisBlock& b2 = axis_block(0, 2);
    b2.move_start = b2.move_distance = b2.move_target = 55;
    b2.pos_drive_pps = 9000, b2.jog_drive_pps = 7000;
    sim::StartTrace();
    StartMulti(kind, {2, 0}, {value2, value0});
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    const std::string writes = Joined(TracedWrites());
    EXPECT_THAT(writes, testing::EndsWith(std::string(held0) + " WR0=0525 "));
    EXPECT_EQ(writes.find("WR0=0525"), writes.size() - 9);
    EXPECT_LT(writes.find(held2), writes.find("WR0=010F"));  // axis 2 is loaded first
    EXPECT_EQ(std::vector<int64_t>({process().move_table[0][2], b2.move_start, b2.move_distance,
                                    b2.move_target, b2.last_drive_speed}),
              std::vector<int64_t>(
                  {kind, start2, distance2, target2, kind == kContinuousMove ? 7000 : 9000}));
    EXPECT_THAT(LoggedCalls(), ElementsAre(testing::HasSubstr("(0, 2, "), line0));
  }
}

TEST_F(MultiAxisTest, MultiDoneReportsTheFirstCauseInListOrder) {
  auto line = [](int rv, int axis, int at) {  // `at` logical, at + 1 real, 0 unread
    return Logged(rv, "Multi_Done" + Args({0, axis})) + " : COMM[" + std::to_string(at) +
           ".00], FEED[" + std::to_string(at ? at + 1 : 0) + ".00]";
  };
  // Axes, driving axis, RR2 of axes 1 and 2, busy flag, result, lines of one call.
  const std::tuple<u16, u16, int, u16, u16, u16, i32, Strings> cases[] = {
      {1, 2, 1, 0, 0x10, 1, ERR_SUCCESS, Strings()},
      {2, 1, 1, 0, 0, 1, ERR_SUCCESS, Strings()},
      {1, 2, -1, 0, 0x10, 0, ERR_STOP_BY_ALM, Strings{line(-640, 1, 5), line(-640, 2, 7)}},
      {1, 2, -1, 0x1C, 0x10, 0, ERR_STOP_BY_HLPT, Strings{line(-620, 1, 5), line(-620, 2, 0)}},
      {2, 1, -1, 0x40, 0, 0, ERR_SUCCESS, Strings{line(0, 2, 7), line(0, 1, 5)}},
      {1, 6, -1, 0, 0, 0, ERR_AXIS_NUM, Strings{line(-540, 1, 0), line(-540, 6, 0)}},
  };
  for (const auto& [first, second, driving, rr2_1, rr2_2, busy, result, lines] : cases) {
    SCOPED_TRACE(testing::Message() << result << " " << first);
    Fresh();
    sim::SetPosition(0, 1, 5, 6);
    sim::SetPosition(0, 2, 7, 8);
    sim::SetErrorStatus(0, 1, rr2_1);
    sim::SetErrorStatus(0, 2, rr2_2);
    if (driving >= 0) sim::SetDriving(0, driving, true);
    const u16 axes[] = {first, second};
    for (int call = 0; call < 2; ++call) {  // every idle call reports again
      EXPECT_EQ(RVX406A_Multi_Done(0, 2, axes), busy);
      EXPECT_EQ(RVX406A_GetErrorCode(), result);
    }
    EXPECT_EQ(LoggedCalls(), Join({lines, lines}));
    // Axes found idle before the first busy one are no longer moving.
    const bool first_idle = result != ERR_AXIS_NUM && first != driving;
    EXPECT_EQ(axis_block(0, first).motion_dir, first_idle ? 0u : 7u);
  }
}

TEST_F(MultiAxisTest, MultiWaitReportsEachStartedMoveOnce) {
  const u16 axes[] = {1, 2};
  const i32 distances[] = {10, 20};
  sim::SetDriveDuration(0, 1, 5);
  sim::SetDriveDuration(0, 2, 9);
  RVX406A_Multi_Inc_Move(0, 2, axes, distances);
  sim::SetErrorStatus(0, 2, 0x04);
  ClearLog();
  Guarded([&] { RVX406A_Multi_Wait(0, 2, axes, 0); });
  EXPECT_FALSE(sim::Axis(0, 2).driving);
  EXPECT_EQ(std::make_pair(process().move_table[0][1], axis_block(0, 2).motion_dir),
            std::make_pair(0u, 0u));
  RVX406A_Multi_Wait(0, 2, axes, 0);  // already reported: same cause, no lines
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(" RV =  -620 : RVX406A_Multi_Wait (0, 1) : COMM[10.00], FEED[10.00]",
                          " RV =  -620 : RVX406A_Multi_Wait (0, 2) : COMM[20.00], FEED[20.00]"));
  ClearLog();  // the axis naming the cause gates the report, else any listed axis
  process().move_table[0][1] = kRelativeMove;
  RVX406A_Multi_Wait(0, 2, axes, 0);
  EXPECT_EQ(LoggedCalls(), Strings());
  sim::SetErrorStatus(0, 2, 0);
  RVX406A_Multi_Wait(0, 2, axes, 0);
  EXPECT_EQ(LoggedCalls().size(), 2u);
  EXPECT_EQ(process().move_table[0][1], 0u);
}

TEST_F(MultiAxisTest, StopsReachAllListedAxesInOneWrite) {
  // Multi-axis or not, stop, axes, result, the write.
  const std::tuple<bool, std::string, std::vector<u16>, i32, const char*> cases[] = {
      {false, "Decel_Stop", {1}, 0, "WR0=0226"},  // idle axes stop too
      {false, "Sudden_Stop", {1}, 0, "WR0=0227"},
      {true, "Decel_Stop", {3, 1}, 0, "WR0=0A26"},
      {true, "Sudden_Stop", {0, 2, 1}, 0, "WR0=0727"},
      {true, "Decel_Stop", {3}, ERR_INVALID_PARAMETER, nullptr},
      {true, "Sudden_Stop", {0, 9}, ERR_AXIS_NUM, nullptr},
  };
  for (const auto& [multi, name, axes, result, write] : cases) {
    SCOPED_TRACE(testing::Message() << name << " " << result);
    Fresh();
    for (u16 a : axes) process().move_table[0][a % 4] = kRelativeMove;
    const bool decel = name == "Decel_Stop";
    const u16 count = static_cast<u16>(axes.size());
    sim::StartTrace();
    if (multi)
      (decel ? RVX406A_Multi_Decel_Stop : RVX406A_Multi_Sudden_Stop)(0, count, axes.data());
    if (!multi) (decel ? RVX406A_Decel_Stop : RVX406A_Sudden_Stop)(0, axes[0]);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedWrites(), write ? Strings{write} : Strings());
    Strings lines;
    for (u16 a : axes) {
      lines.push_back(Logged(result, (multi ? "Multi_" : "") + name + Args({0, a})));
      if (a >= 4) continue;
      EXPECT_EQ(process().home_table[0][a], result ? 1 : 0);
      EXPECT_EQ(axis_block(0, a).motion_dir, result ? 7u : 0u);
      EXPECT_EQ(process().move_table[0][a], kRelativeMove);  // reported by the next wait
    }
    EXPECT_EQ(LoggedCalls(), lines);
  }
}

}  // namespace
}  // namespace rvx::test
