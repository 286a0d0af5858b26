// Interpolation groups and speeds, lines, arcs, theta moves, IPDone, stops.
#include <gmock/gmock.h>

#include <tuple>

#include "tests/motion_support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;

constexpr uint32_t kForever = 0xFFFFFFFF;

class InterpolationTest : public LibraryTest {
 protected:
  // IP speed 100 -> 10,000 PPS, 50 / 200 ms on every axis: M 2, R 4,000,000.
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = 1;
    for (int a = 0; a < 4; ++a) {
      AxisBlock& b = axis_block(0, a);
      b.wr3 = 0x81, b.range = 100, b.fixed_range = 0;
      b.int_start_pps = 100, b.int_drive_pps = 10000, b.int_acc_ms = 50, b.int_dec_ms = 200;
    }
  }
  static unsigned Sel(unsigned axis) { return 0x100u << axis; }
  static Strings At(unsigned axis) {  // the position reads
    return {Reg("WR0", Sel(axis) | 0x10), Reg("WR0", Sel(axis) | 0x11)};
  }
  static Strings Mode(unsigned axis, u16 wr3) {
    return {Reg("WR0", Sel(axis) | 0xF), Reg("WR3", wr3), "WR7=C94F", "WR6=6508",
            Reg("WR0", Sel(axis) | 0x60)};
  }
  // The path speed on the first axis.
  static Strings Path(unsigned axis, bool s_curve) {
    return Join({Param32(Sel(axis), 4000000),
                 s_curve ? Params(Sel(axis), {{1, 8}, {0xE, 126}, {2, 8000}, {3, 8000}})
                         : Params(Sel(axis), {{2, 792}, {3, 198}}),
                 Params(Sel(axis), {{4, s_curve ? 100u : 50u}, {5, 5000}})});
  }
};

TEST_F(InterpolationTest, GroupsAndSpeedSettings) {
  // Map, mask, result, count and axes kept, map word written.
  const std::tuple<u16, u16, i32, std::vector<u8>, Strings> maps[] = {
      {1, 0x0A, 0, {2, 1, 3, 0}, {"WR5=000D"}},     {1, 0x0F, ERR_IP_MAP_AXES, {4, 1, 3, 0}, {}},
      {1, 0x04, ERR_IP_MAP_AXES, {1, 1, 3, 0}, {}}, {1, 0x10, ERR_IP_MAP_AXES, {1, 1, 3, 0}, {}},
      {3, 0x0B, 0, {3, 0, 1, 3}, {"WR5=0034"}},     {4, 0x03, ERR_IP_MAP_NUMBER, {0, 0, 0, 0}, {}},
  };
  for (const auto& [map, mask, result, entry, writes] : maps) {
    sim::StartTrace();
    RVX406A_SetIPMapAxes(0, map, mask);
    EXPECT_EQ(RVX406A_GetErrorCode(), result) << mask;
    const MapEntry& e = axis_block(0, 0).map[map & 3];
    EXPECT_EQ(std::vector<u8>({e.count, e.axis[0], e.axis[1], e.axis[2]}), entry);
    EXPECT_EQ(TracedWrites(), writes) << mask;
  }
  EXPECT_EQ(axis_block(0, 1).wr5, 0x000D);
  EXPECT_EQ(axis_block(0, 3).wr5, 0x0034);
  const i32 d[3] = {1, 2, 3};
  RVX406A_Inc_Line(0, 2, d);  // never defined: count 0
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_IP_MAP_AXES);
  // Refusals in order, then the worked profile on each group axis (axis 1 in S-curve).
  const std::tuple<u16, u32, u32, u32, u32, i32> speeds[] = {
      {4, 4000001, 4000001, 64001, 64001, ERR_IP_MAP_NUMBER},
      {3, 4000001, 4000001, 64001, 64001, ERR_MAX_STARTV},
      {3, 0, 4000001, 64001, 64001, ERR_MAX_WORKV},
      {3, 0, 0, 64001, 64001, ERR_MAX_ACC},
      {3, 0, 0, 0, 64001, ERR_MAX_DEC},
      {2, 0, 0, 0, 0, ERR_IP_MAP_AXES},
      {3, 1000, 100000, 100, 100, 0}};
  axis_block(0, 1).wr3 = 0x84;
  for (const auto& [map, start, drive, acc, dec, result] : speeds) {
    RVX406A_SetIPPosSpeed(0, map, start, drive, acc, dec);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
  }
  u32 got[4];
  RVX406A_GetIPPosSpeed(0, 3, &got[0], &got[1], &got[2], &got[3]);
  EXPECT_THAT(got, ElementsAre(1000, 100000, 100, 100));
  for (const auto& [axis, stored] : {std::pair(0, std::vector<u32>{609, 609, 77, 7692, 0, 0}),
                                     std::pair(1, std::vector<u32>{8000, 8000, 100, 7692, 21, 21}),
                                     std::pair(2, std::vector<u32>{7, 7, 10, 100, 0, 0})}) {
    const AxisBlock& b = axis_block(0, axis);
    EXPECT_EQ(std::vector<u32>(
                  {b.int_acc, b.int_dec, b.int_start, b.int_drive, b.int_acc_jerk, b.int_dec_jerk}),
              stored)
        << axis;
  }
}

TEST_F(InterpolationTest, LinesLoadEachAxisThenThePathThenStart) {
  // Mask, S-curve axes, absolute, values, S-curve path (the last axis's shape), start.
  const std::tuple<u16, u16, bool, std::vector<i32>, bool, unsigned> cases[] = {
      {0x05, 0x0, false, {-70000, 300}, false, 0x30},
      {0x05, 0x4, false, {268435455, -268435455}, true, 0x30},
      {0x0E, 0x2, true, {-5000, 6000, 7000}, false, 0x31},
      {0x0E, 0xE, true, {1000, 2000, 3000}, true, 0x31},
  };
  for (const auto& [mask, s_axes, absolute, values, s_path, start] : cases) {
    SCOPED_TRACE(testing::Message() << mask << " " << s_axes);
    RVX406A_SetIPMapAxes(0, 2, mask);
    axis_block(0, 2).wr5 |= 0x0300;
    Strings writes;
    std::vector<unsigned> axes;
    for (unsigned a = 0; a < 4; ++a) {
      if (!(mask >> a & 1)) continue;
      axis_block(0, a).wr3 = (s_axes >> a & 1) ? 0x85 : 0x81;
      sim::SetPosition(0, a, 1000 * a, 7);
      const i32 d = values[axes.size()] - (absolute ? 1000 * a : 0);
      writes =
          Join({writes, Mode(a, (s_axes >> a & 1) ? 0x84 : 0x82), At(a), Param32(Sel(a) | 6, d)});
      axes.push_back(a);
    }
    writes = Join({writes,
                   {Reg("WR5", axis_block(0, 2).wr5 & 0xFF)},
                   Path(axes[0], s_path),
                   {"WR0=003B", Reg("WR0", start)}});
    ClearLog();
    sim::StartTrace();
    (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(0, 2, values.data());
    EXPECT_EQ(TracedWrites(), writes);
    Strings lines;
    for (size_t i = 0; i < axes.size(); ++i) {
      lines.push_back(Logged(0, absolute ? "Abs_Line" : "Inc_Line") + " (0, " +
                      std::to_string(axes[0]) + ", " + std::to_string(values[i]) + ") : COMM[" +
                      std::to_string(1000 * axes[i]) + ".00], FEED[7.00]");
      EXPECT_EQ(process().move_table[0][axes[i]], 3u);
      if (absolute) {
        EXPECT_EQ(axis_block(0, axes[i]).move_start, i32(1000 * axes[i]));
      }
    }
    EXPECT_EQ(LoggedCalls(), lines);
    EXPECT_EQ(axis_block(0, axes[0]).last_drive_speed, 10000u);
    EXPECT_EQ(sim::Axis(0, axes.back()).logical,
              absolute ? values.back() : i32(1000 * axes.back()) + values.back());
  }
}

TEST_F(InterpolationTest, LineRefusalsKeepTheAxesBeforeAndStartNothing) {
  RVX406A_SetIPMapAxes(0, 0, 0x06);
  const Strings first = Join({Mode(1, 0x82), At(1), Param32(0x206, 10)});
  // Inc or Abs, values, busy axis, RR0 extra bits, result, writes, log line's axis.
  const std::tuple<bool, std::vector<i32>, int, u16, i32, Strings, int> cases[] = {
      {false, {268435456, 1}, -1, 0, ERR_INVALID_PARAMETER, {}, 1},
      {false, {10, -268435456}, -1, 0, ERR_INVALID_PARAMETER, first, 2},
      {false, {10, 20}, 2, 0, ERR_AXIS_DRV_BUSY, first, 2},
      {false, {10, 20}, -1, 0x100, ERR_AXIS_DRV_BUSY, {}, 1},
      {true, {INT32_MIN, 20}, -1, 0, ERR_INVALID_PARAMETER, {}, 1},
      {true, {10, 300000000}, -1, 0, ERR_MAX_DISTANCE, Join({first, Mode(2, 0x82), At(2)}), 2},
  };
  for (const auto& [absolute, values, busy, rr0, result, writes, shown] : cases) {
    SCOPED_TRACE(result);
    for (int a = 1; a < 3; ++a) sim::SetDriving(0, a, a == busy);
    sim::SetMainStatusBits(0, rr0);
    const AxisBlock before = axis_block(0, 2);
    process().move_table[0][2] = 0;
    ClearLog();
    sim::StartTrace();
    (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(0, 0, values.data());
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedWrites(), writes);
    EXPECT_EQ(memcmp(&before, &axis_block(0, 2), sizeof before), 0);
    EXPECT_EQ(process().move_table[0][2], 0u);
    EXPECT_EQ(LoggedCalls().size(), 2u);
    EXPECT_THAT(LoggedCalls()[1], testing::StartsWith(Logged(result, absolute ? "Abs" : "Inc") +
                                                      "_Line (0, " + std::to_string(shown)));
  }
}

TEST_F(InterpolationTest, ArcsRunTrapezoidsWithTheScaledSecondRange) {
  RVX406A_SetIPMapAxes(0, 1, 0x0C);
  axis_block(0, 2).wr3 = 0x87;  // S-curve: the arc still runs a trapezoid
  // Drive speed, direction, first and second range, start.
  const std::tuple<u32, u16, u32, u32, unsigned> cases[] = {
      {8000, 0, 8000000, 11312000, 0x32},
      {24000, 1, 2666667, 3770667, 0x33},
  };
  for (const auto& [drive, direction, range1, range2, start] : cases) {
    axis_block(0, 2).int_drive_pps = drive;
    sim::StartTrace();
    RVX406A_Inc_Arc(0, 1, 100, -200, 300, -400, direction);
    const Strings writes = TracedWrites();
    EXPECT_EQ(Strings(writes.begin(), writes.begin() + 27), Join({Mode(2, 0x80),
                                                                  At(2),
                                                                  Param32(0x408, 100),
                                                                  Param32(0x406, 300),
                                                                  Mode(3, 0x80),
                                                                  At(3),
                                                                  Param32(0x808, -200),
                                                                  Param32(0x806, -400),
                                                                  {"WR5=010E"}}));
    EXPECT_EQ(Strings(writes.end() - 4, writes.end()),
              Join({Param32(0x800, range2), {Reg("WR0", start)}}));
    EXPECT_EQ(sim::Axis(0, 2).range, range1);
  }
  const i32 far = 300000000;
  const std::tuple<u16, i32, u16, i32, size_t> refused[] = {
      {1, 5, 2, ERR_INVALID_PARAMETER, 0},
      {1, far, 0, ERR_INVALID_PARAMETER, 0},
      {3, 5, 0, ERR_IP_MAP_AXES, 0},
  };
  RVX406A_SetIPMapAxes(0, 3, 0x07);
  for (const auto& [map, centre, direction, result, writes] : refused) {
    sim::StartTrace();
    RVX406A_Inc_Arc(0, map, centre, 0, 0, 0, direction);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedWrites().size(), writes);
  }
  sim::StartTrace();
  RVX406A_Abs_Arc(0, 1, far, 0, 0, 0, 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_MAX_DISTANCE);
  EXPECT_EQ(TracedWrites(), Join({Mode(2, 0x80), At(2)}));
}

TEST_F(InterpolationTest, ThetaEndPoints) {
  RVX406A_SetIPMapAxes(0, 0, 0x03);
  // Centre, angle, end point, start command.
  const std::tuple<i32, i32, i32, i32, i32, u16> cases[] = {
      {1000, 0, 90, 1000, -1000, 0x33},    {1000, 0, -90, 1000, 1000, 0x32},
      {0, 1000, 180, 0, 2000, 0x33},       {3000, 4000, 30, 2391, -963, 0x33},
      {-1000, -1000, 45, -975, 414, 0x33}, {1000, 0, 0, 0, 0, 0x33},
      {0, 1000, -360, 0, 0, 0x32},
  };
  for (const auto& [cx, cy, angle, ex, ey, start] : cases) {
    RVX406A_Inc_Theta(0, 0, cx, cy, angle);
    const sim::AxisState a0 = sim::Axis(0, 0), a1 = sim::Axis(0, 1);
    EXPECT_EQ(std::vector<i32>({a0.center, a1.center, i32(a0.pulse_count), i32(a1.pulse_count),
                                a0.last_drive_command}),
              std::vector<i32>({cx, cy, ex, ey, start}))
        << cx << "," << cy << " " << angle;
  }
  // Absolute centres are taken from the current positions: the same programming.
  auto chip = [] {
    std::vector<int64_t> all;
    for (int a = 0; a < 2; ++a) {
      const sim::AxisState s = sim::Axis(0, a);
      all.insert(all.end(), {s.center, s.pulse_count, s.range, s.last_drive_command, s.wr3});
    }
    return all;
  };
  RVX406A_Inc_Theta(0, 0, 1000, 0, 90);
  const std::vector<int64_t> relative = chip();
  RVX406A_Inc_Theta(0, 0, 7, 7, 7);
  sim::SetPosition(0, 0, 500, 0), sim::SetPosition(0, 1, 500, 0);
  RVX406A_Abs_Theta(0, 0, 1500, 500, 90);
  EXPECT_EQ(chip(), relative);
  EXPECT_EQ(axis_block(0, 1).move_start, 500);
  for (const auto& [angle, map, result] :
       {std::tuple(361, 0, ERR_INVALID_PARAMETER), std::tuple(-361, 0, ERR_INVALID_PARAMETER),
        std::tuple(10, 3, ERR_IP_MAP_AXES)}) {
    RVX406A_SetIPMapAxes(0, 3, 0x0E);
    RVX406A_Inc_Theta(0, map, 1, 1, angle);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
  }
  sim::SetPosition(0, 0, 500, 0);
  sim::StartTrace();  // centre too far: both axes prepared, nothing loaded
  RVX406A_Abs_Theta(0, 0, -268435456 + 499, 0, 10);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_MAX_DISTANCE);
  EXPECT_EQ(TracedWrites(), Join({Mode(0, 0x80), At(0), Mode(1, 0x80), At(1)}));
}

TEST_F(InterpolationTest, IPDoneReportsTheFirstAxisCauseWithoutForgettingTheMove) {
  RVX406A_SetIPMapAxes(0, 1, 0x06);
  sim::SetDriveDuration(0, 1, 2);
  sim::SetErrorStatus(0, 1, 0x14);
  sim::SetPosition(0, 1, 40, 41);
  const i32 d[2] = {10, 20};
  RVX406A_Inc_Line(0, 1, d);
  ClearLog();
  const Strings end = {"RR0",      "RR0", "WR0=0210", "RR7",      "RR6",
                       "WR0=0211", "RR7", "RR6",      "WR0=020F", "RR2"};
  // Returned flag, result, requests.
  const std::tuple<int16_t, i32, Strings> polls[] = {
      {1, 0, {"RR0"}}, {1, 0, {"RR0"}}, {0, ERR_STOP_BY_HLPT, end}, {0, ERR_STOP_BY_HLPT, end}};
  for (const auto& [busy, result, requests] : polls) {
    sim::StartTrace();
    EXPECT_EQ(RVX406A_IPDone(0, 1), busy);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedRequests(), requests);
  }
  RVX406A_Done(0, 1);           // forgets the move: no further line
  sim::SetDriving(0, 1, true);  // the axis alone: not an interpolation, still busy
  EXPECT_EQ(RVX406A_IPDone(0, 1), 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_STOP_BY_HLPT);
  EXPECT_EQ(RVX406A_IPDone(0, 4), 0);
  const std::string line = " RV =  -620 : RVX406A_IPDone (0, 1  : COMM[50.00], FEED[51.00]";
  EXPECT_THAT(LoggedCalls(),
              ElementsAre(line, line, testing::StartsWith(" RV =  -620 : RVX406A_Done"),
                          " RV = -1120 : RVX406A_IPDone (0, 4  : COMM[0.00], FEED[0.00]"));
}

std::vector<uint32_t> seen;
void Decelerating(void*, uint32_t message, uintptr_t, intptr_t) {
  seen.push_back(message);
  const bool running = message != 0x401;  // the group still runs down its ramp
  sim::SetDriving(0, 2, running);
  sim::SetMainStatusBits(0, running ? 0x100 : 0);
  if (message == 0x403) PostTestQuitMessage(3);
}

TEST_F(InterpolationTest, StopsWaitPumpingMessagesAndLeaveOnQuit) {
  RVX406A_SetIPMapAxes(0, 0, 0x0C);
  // Stop, its command, messages queued, a line logged.
  const std::tuple<void (*)(uint16_t, uint16_t), const char*, std::vector<uint32_t>, bool> cases[] =
      {{RVX406A_IPDecel_Stop, "WR0=0426", {0x400, 0x402, 0x401}, true},
       {RVX406A_IPSudden_Stop, "WR0=0427", {0x400, 0x402, 0x401}, true},
       {RVX406A_IPDecel_Stop, "WR0=0426", {0x403}, false}};
  for (const auto& [stop, command, messages, logged] : cases) {
    seen.clear();
    axis_block(0, 2).motion_dir = process().home_table[0][2] = 1;
    sim::SetPosition(0, 2, -5, -6);
    Guarded([&, stop = stop, command = command, messages = messages, logged = logged] {
      void* window = CreateTestWindow(Decelerating);
      for (uint32_t m : messages) PostTestMessage(window, m, 0, 0);
      ClearLog();
      sim::StartTrace();
      stop(0, 0);
      EXPECT_EQ(TracedWrites()[0], command);
      EXPECT_EQ(seen, messages);
      TestMessage msg{};
      EXPECT_EQ(TakeTestMessage(&msg), !logged);  // the quit, posted again
      EXPECT_EQ(msg.message, logged ? 0u : kTestQuitMessage);
      DestroyTestWindow(window);
    });
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(axis_block(0, 2).motion_dir + process().home_table[0][2], logged ? 0u : 2u);
    EXPECT_EQ(LoggedCalls(), logged
                                 ? Strings{Logged(0, command[7] == '6' ? "IPDecel" : "IPSudden") +
                                           "_Stop (0, 0  : COMM[-5.00], FEED[-6.00]"}
                                 : Strings{});
  }
}

}  // namespace
}  // namespace rvx::test
