// Interpolation groups and speeds, lines, arcs, theta moves, stops, the
// continuous table; synchronous action words, fixed range, manual-pulser mode
// and the motion direction record.

#include <algorithm>
#include <atomic>
#include <tuple>
#include <vector>

#include "interp/interp.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

class InterpolationTest : public LoadedTest<> {
 protected:
  void SetUp() override {  // IP speed 100 -> 10,000 PPS, 50 / 200 ms: M 2, R 4,000,000
    LoadedTest::SetUp();
    for (int a = 0; a < 4; ++a) {
      AxisBlock& b = axis_block(0, a);
      b.wr3 = 0x81, b.range = 100, b.fixed_range = 0;
      b.int_start_pps = 100, b.int_drive_pps = 10000, b.int_acc_ms = 50, b.int_dec_ms = 200;
    }
  }
  static unsigned Sel(unsigned axis) { return 0x100u << axis; }
  static Strings Mode(unsigned axis, u16 wr3) {  // mode words, then the position reads
    const unsigned s = Sel(axis);
    return Join({{Reg("WR0", s | 0xF), Reg("WR3", wr3), "WR7=C94F", "WR6=6508"},
                 {Reg("WR0", s | 0x60), Reg("WR0", s | 0x10), Reg("WR0", s | 0x11)}});
  }
  static Strings Path(unsigned axis, bool s_curve) {  // on the first axis
    return Join({Param32(Sel(axis), 4000000),
                 s_curve ? Params(Sel(axis), {{1, 8}, {0xE, 126}, {2, 8000}, {3, 8000}, {4, 100}})
                         : Params(Sel(axis), {{2, 792}, {3, 198}, {4, 50}}),
                 Param(Sel(axis) | 5, 5000)});
  }
};

TEST_F(InterpolationTest, GroupsAndSpeedSettings) {
  // Map, mask, result, count and axes kept, map word written.
  const std::tuple<u16, u16, i32, std::vector<u8>, Strings> maps[] = {
      {1, 0x0A, 0, {2, 1, 3, 0}, {"WR5=000D"}},     {1, 0x0F, ERR_IP_MAP_AXES, {4, 1, 3, 0}, {}},
      {1, 0x04, ERR_IP_MAP_AXES, {1, 1, 3, 0}, {}}, {1, 0x10, ERR_IP_MAP_AXES, {1, 1, 3, 0}, {}},
      {3, 0x0B, 0, {3, 0, 1, 3}, {"WR5=0034"}},     {4, 0x03, ERR_IP_MAP_NUMBER, {0, 0, 0, 0}, {}}};
  for (const auto& [map, mask, result, entry, writes] : maps) {
    sim::StartTrace();
    RVX406A_SetIPMapAxes(0, map, mask);
    EXPECT_EQ(RVX406A_GetErrorCode(), result) << mask;
    const MapEntry& e = axis_block(0, 0).map[map & 3];
    EXPECT_EQ(std::vector<u8>({e.count, e.axis[0], e.axis[1], e.axis[2]}), entry);
    EXPECT_EQ(TracedWrites(), writes) << mask;
  }
  EXPECT_EQ(std::make_pair(axis_block(0, 1).wr5, axis_block(0, 3).wr5),
            std::make_pair(u16{0x000D}, u16{0x0034}));
  // Refusals in order, then the worked profile on each group axis (axis 1 in S-curve).
  const u32 kV = 4000001, kT = 64001;
  const std::tuple<u16, u32, u32, u32, u32, i32> speeds[] = {
      {4, kV, kV, kT, kT, -1120},    {3, kV, kV, kT, kT, -533}, {3, 0, kV, kT, kT, -535},
      {3, 0, 0, kT, kT, -537},       {3, 0, 0, 0, kT, -539},    {2, 0, 0, 0, 0, -1121},
      {3, 1000, 100000, 100, 100, 0}};
  axis_block(0, 1).wr3 = 0x84;
  for (const auto& [map, start, drive, acc, dec, result] : speeds) {
    RVX406A_SetIPPosSpeed(0, map, start, drive, acc, dec);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
  }
  u32 got[4];
  RVX406A_GetIPPosSpeed(0, 3, &got[0], &got[1], &got[2], &got[3]);
  EXPECT_THAT(got, testing::ElementsAre(1000, 100000, 100, 100));
  const AxisBlock &b0 = axis_block(0, 0), &b1 = axis_block(0, 1), &b2 = axis_block(0, 2);
  EXPECT_EQ(std::vector<u32>({b0.int_acc, b0.int_dec, b0.int_start, b0.int_drive, b1.int_acc,
                              b1.int_start, b1.int_acc_jerk, b1.int_dec_jerk, b2.int_drive}),
            std::vector<u32>({609, 609, 77, 7692, 8000, 100, 21, 21, 100}));  // axis 2 untouched
}

TEST_F(InterpolationTest, LinesLoadEachAxisThenThePathThenStart) {
  // Mask, S-curve axes, absolute, values, S-curve path (the last axis's shape), start.
  const std::tuple<u16, u16, bool, std::vector<i32>, bool, unsigned> cases[] = {
      {0x05, 0x0, false, {-70000, 300}, false, 0x30},
      {0x05, 0x4, false, {268435455, -268435455}, true, 0x30},
      {0x0E, 0x2, true, {-5000, 6000, 7000}, false, 0x31},
      {0x0E, 0xE, true, {1000, 2000, 3000}, true, 0x31}};
  for (const auto& [mask, s_axes, absolute, values, s_path, start] : cases) {
    RVX406A_SetIPMapAxes(0, 2, mask);
    axis_block(0, 2).wr5 |= 0x0300;  // cleared in WR5 by the start
    Strings writes, lines;
    std::vector<unsigned> axes;
    for (unsigned a = 0; a < 4; ++a) {
      if (!(mask >> a & 1)) continue;
      const bool s = s_axes >> a & 1;
      const i32 value = values[axes.size()];
      axes.push_back(a);
      axis_block(0, a).wr3 = s ? 0x85 : 0x81;
      sim::SetPosition(0, a, 1000 * a, 7);
      writes = Join({writes, Mode(a, s ? 0x84 : 0x82),
                     Param32(Sel(a) | 6, value - (absolute ? 1000 * a : 0))});
      lines.push_back(Logged(0, absolute ? "Abs_Line (0, " : "Inc_Line (0, ") +
                      std::to_string(axes[0]) + ", " + std::to_string(value) + ") : COMM[" +
                      std::to_string(1000 * a) + ".00], FEED[7.00]");
    }
    ClearLog(), sim::StartTrace();
    (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(0, 2, values.data());
    EXPECT_EQ(TracedWrites(), Join({writes,
                                    {Reg("WR5", axis_block(0, 2).wr5 & 0xFF)},
                                    Path(axes[0], s_path),
                                    {"WR0=003B", Reg("WR0", start)}}));
    EXPECT_EQ(LoggedCalls(), lines);
    const AxisBlock& last = axis_block(0, axes.back());
    EXPECT_EQ(std::vector<int64_t>({process().move_table[0][axes.back()], last.move_start,
                                    axis_block(0, axes[0]).last_drive_speed}),
              std::vector<int64_t>({3, absolute ? 1000 * axes.back() : 0, 10000}));
  }
}

TEST_F(InterpolationTest, RefusalsKeepTheAxesBeforeAndStartNothing) {
  RVX406A_SetIPMapAxes(0, 0, 0x06);
  RVX406A_SetIPMapAxes(0, 3, 0x07);
  const Strings first = Join({Mode(1, 0x82), Param32(0x206, 10)}), arc = Mode(1, 0x80);
  const i32 kFar = 300000000, kOut = -268435456;
  // Call (Inc/Abs Line, Arc, Theta), map, values, direction or angle, busy axis 2,
  // RR0 bits: result, writes.
  const std::tuple<int, u16, i32, i32, i32, bool, u16, i32, Strings> cases[] = {
      {0, 0, -kOut, 1, 0, false, 0, ERR_INVALID_PARAMETER, {}},
      {0, 0, 10, kOut, 0, false, 0, ERR_INVALID_PARAMETER, first},
      {0, 0, 10, 20, 0, true, 0, ERR_AXIS_DRV_BUSY, first},
      {0, 0, 10, 20, 0, false, 0x100, ERR_AXIS_DRV_BUSY, {}},
      {1, 0, INT32_MIN, 20, 0, false, 0, ERR_INVALID_PARAMETER, {}},
      {1, 0, 10, kFar, 0, false, 0, ERR_MAX_DISTANCE, Join({first, Mode(2, 0x82)})},
      {2, 0, 5, 0, 2, false, 0, ERR_INVALID_PARAMETER, {}},
      {2, 0, kFar, 0, 0, false, 0, ERR_INVALID_PARAMETER, {}},
      {2, 3, 5, 0, 0, false, 0, ERR_IP_MAP_AXES, {}},
      {3, 0, kFar, 0, 0, false, 0, ERR_MAX_DISTANCE, arc},
      {4, 0, 5, 0, -361, false, 0, ERR_INVALID_PARAMETER, {}},
      {4, 3, 5, 0, 10, false, 0, ERR_IP_MAP_AXES, {}},
      {5, 0, kOut, 0, 10, false, 0, ERR_MAX_DISTANCE, Join({arc, Mode(2, 0x80)})}};
  for (const auto& [call, map, v1, v2, extra, busy, rr0, result, writes] : cases) {
    sim::SetDriving(0, 2, busy);
    sim::SetMainStatusBits(0, rr0);
    const AxisBlock before = axis_block(0, 2);
    process().move_table[0][2] = 0;
    const i32 values[2] = {v1, v2};
    sim::StartTrace();
    if (call < 2) (call ? RVX406A_Abs_Line : RVX406A_Inc_Line)(0, map, values);
    if (call / 2 == 1) (call & 1 ? RVX406A_Abs_Arc : RVX406A_Inc_Arc)(0, map, v1, v2, 0, 0, extra);
    if (call / 2 == 2) (call & 1 ? RVX406A_Abs_Theta : RVX406A_Inc_Theta)(0, map, v1, v2, extra);
    EXPECT_EQ(RVX406A_GetErrorCode(), result) << call;
    EXPECT_EQ(TracedWrites(), writes) << call;
    EXPECT_EQ(memcmp(&before, &axis_block(0, 2), sizeof before), 0);
    EXPECT_EQ(process().move_table[0][2], call == 5 ? 3u : 0u);  // theta marks both axes first
  }
}

TEST_F(InterpolationTest, ArcsAndThetaMoves) {
  RVX406A_SetIPMapAxes(0, 1, 0x0C);
  axis_block(0, 2).wr3 = 0x87;  // S-curve: an arc still runs a trapezoid
  // Drive speed, direction: the first and second range, the start.
  for (const auto& [drive, direction, range1, range2, start] :
       {std::tuple(8000, 0, 8000000, 11312000, 0x32),
        std::tuple(24000, 1, 2666667, 3770667, 0x33)}) {
    axis_block(0, 2).int_drive_pps = drive;
    sim::StartTrace();
    RVX406A_Inc_Arc(0, 1, 100, -200, 300, -400, direction);
    const Strings writes = TracedWrites();
    EXPECT_EQ(Strings(writes.begin(), writes.begin() + 27),
              Join({Mode(2, 0x80), Param32(0x408, 100), Param32(0x406, 300), Mode(3, 0x80),
                    Param32(0x808, -200), Param32(0x806, -400), Strings(1, "WR5=010E")}));
    EXPECT_EQ(Strings(writes.end() - 4, writes.end()),
              Join({Param32(0x800, range2), {Reg("WR0", start)}}));
    EXPECT_EQ(sim::Axis(0, 2).range, u32(range1));
  }
  // Centre, angle: end point, start command.
  const std::tuple<i32, i32, i32, i32, i32, i32> thetas[] = {
      {1000, 0, 90, 1000, -1000, 0x33},    {1000, 0, -90, 1000, 1000, 0x32},
      {0, 1000, 180, 0, 2000, 0x33},       {3000, 4000, 30, 2391, -963, 0x33},
      {-1000, -1000, 45, -975, 414, 0x33}, {1000, 0, 0, 0, 0, 0x33},
      {0, 1000, -360, 0, 0, 0x32}};
  for (const auto& [cx, cy, angle, ex, ey, start] : thetas) {
    RVX406A_Inc_Theta(0, 1, cx, cy, angle);
    const sim::AxisState a = sim::Axis(0, 2), b = sim::Axis(0, 3);
    EXPECT_EQ(std::vector<i32>({a.center, b.center, i32(a.pulse_count), i32(b.pulse_count),
                                a.last_drive_command}),
              std::vector<i32>({cx, cy, ex, ey, start}));
  }
  sim::SetPosition(0, 2, 500, 0), sim::SetPosition(0, 3, 500, 0);
  RVX406A_Abs_Theta(0, 1, 1500, 500, 90);  // as Inc_Theta with centre (1000, 0)
  EXPECT_EQ(std::vector<i32>({sim::Axis(0, 2).center, i32(sim::Axis(0, 3).pulse_count),
                              axis_block(0, 3).move_start}),
            std::vector<i32>({1000, -1000, 500}));
  sim::SetPosition(0, 2, 500, 0), sim::SetPosition(0, 3, -500, 0);
  RVX406A_Abs_Arc(0, 1, 1500, -500, 2500, 0, 0);  // centre (1000, 0), end (2000, 500)
  EXPECT_EQ(std::vector<i32>({sim::Axis(0, 2).center, sim::Axis(0, 3).center,
                              i32(sim::Axis(0, 2).pulse_count), i32(sim::Axis(0, 3).pulse_count)}),
            std::vector<i32>({1000, 0, 2000, 500}));
}

std::vector<uint32_t> seen;
void Decelerating(void*, uint32_t message, uintptr_t, intptr_t) {
  seen.push_back(message);
  const bool running = message != 0x401;  // the group still runs down its ramp
  sim::SetDriving(0, 2, running);
  sim::SetMainStatusBits(0, running ? 0x100 : 0);
  if (message == 0x403) os::PostQuitMessage(3);
}

TEST_F(InterpolationTest, StopsWaitPumpingMessagesAndLeaveOnQuit) {
  RVX406A_SetIPMapAxes(0, 0, 0x0C);
  // Stop, its command, messages queued, a line logged.
  const std::tuple<void (*)(uint16_t, uint16_t), const char*, std::vector<uint32_t>, bool> cases[] =
      {{RVX406A_IPDecel_Stop, "IPDecel", {0x400, 0x402, 0x401}, true},
       {RVX406A_IPSudden_Stop, "IPSudden", {0x400, 0x402, 0x401}, true},
       {RVX406A_IPDecel_Stop, "IPDecel", {0x403}, false}};
  for (const auto& [stop, name, messages, logged] : cases) {
    seen.clear();
    axis_block(0, 2).motion_dir = process().home_table[0][2] = 1;
    sim::SetPosition(0, 2, -5, -6);
    void* window = CreateTestWindow(Decelerating);
    for (uint32_t m : messages) os::PostMessage(window, m, 0, 0);
    ClearLog(), sim::StartTrace();
    stop(0, 0);
    os::Message msg{};
    EXPECT_EQ(os::PeekMessage(&msg), !logged);  // the quit, posted again
    EXPECT_EQ(std::pair(seen, msg.message), std::pair(messages, logged ? 0u : os::kWmQuit));
    DestroyTestWindow(window);
    EXPECT_EQ(TracedWrites()[0], std::string("WR0=042") + (name[2] == 'D' ? "6" : "7"));
    // Cleared, or all left as they were when a quit ends the wait.
    EXPECT_EQ(std::vector<int64_t>({RVX406A_GetErrorCode(), axis_block(0, 2).motion_dir,
                                    process().home_table[0][2]}),
              std::vector<int64_t>({0, !logged, !logged}));
    EXPECT_EQ(
        LoggedCalls(),
        logged ? Strings{Logged(0, name) + "_Stop (0, 0  : COMM[-5.00], FEED[-6.00]"} : Strings{});
  }
}

TEST_F(InterpolationTest, ContiMoveHandsSegmentZeroToARunningInterpolation) {
  RVX406A_SetIPMapAxes(0, 0, 0x06);                  // axes 1 and 2: map word 0x09
  RVX406A_SetIPPosSpeed(0, 0, 100, 10000, 50, 200);  // stores A 792, D 198, 50, 5000
  RVX406A_SetInitContiTable();
  const Strings head = Join({Param32(0x200, 4000000), Param32(0x400, 5656000),
                             Params(0x200, {{2, 792}, {3, 198}, {4, 50}, {5, 5000}})});
  const Strings arc_mode = {"WR0=020F", "WR3=0080", "WR7=C94F", "WR6=6508", "WR0=0260"};
  // Segment type, WR5 bit 6 in the map word, an interpolation running.
  const std::tuple<u16, u16, bool> cases[] = {
      {0, 0, true}, {1, 0, true}, {2, 0x40, true}, {2, 0x40, false}};
  const i32 lead[2] = {100, 200};
  for (const auto& [type, bits, running] : cases) {
    for (int a = 0; a < 3; ++a) sim::SetPosition(0, a, 0, 0);
    RVX406A_CONTI_SEGMENT segment = {30, -40, 10, -20, type, 0};
    RVX406A_SetContiDataTable(0, 1, &segment);
    sim::SetDriveDuration(0, 1, 3);
    if (running) RVX406A_Inc_Line(0, 0, lead);
    axis_block(0, 0).wr5 = 0x09 | bits;
    RVX406A_Inc_Move(0, 3, 300000000);  // leaves a last result
    ClearLog(), sim::StartTrace();
    RVX406A_Conti_Move(0, 0);
    const Strings centres = type ? Join({Param32(0x208, 10), Param32(0x408, -20)}) : Strings{},
                  ends = Join({Param32(0x206, 30), Param32(0x406, -40)}),
                  handed = Join({head, centres, ends, {Reg("WR0", type ? 0x31 + type : 0x30)}});
    EXPECT_EQ(TracedWrites(),
              Join({bits ? arc_mode : Strings{}, {"WR5=4009"}, running ? handed : Strings{}}));
    EXPECT_EQ(std::tuple(RVX406A_GetErrorCode(), LoggedCalls().size(), RVX406A_GetCurContiNum()),
              std::tuple(ERR_INVALID_PARAMETER, size_t{0}, u16(running ? 1 : 0)));
    if (!running) continue;
    for (int poll = 0; poll < 20 && RVX406A_IPDone(0, 0) == 1;) ++poll;  // chained to the lead-in
    EXPECT_EQ(std::vector<i32>({sim::Axis(0, 1).logical, sim::Axis(0, 2).logical}),
              std::vector<i32>({130, 160}));
  }
  RVX406A_SetFreeContiTable();
}

// GetCurContiNum takes no mutex: a thread that keeps creating, filling,
// handing over and freeing the table must never show it a freed table or a
// count that was never stored (the sanitizer builds see the former).
TEST_F(InterpolationTest, ContiNumReadWhileTheTableIsReplaced) {
  RVX406A_SetIPMapAxes(0, 0, 0x06);
  sim::SetDriving(0, 1, true);  // an interpolation runs: Conti_Move hands segment 0 over
  sim::SetMainStatusBits(0, 0x100);
  static std::atomic<bool> done;
  done = false;
  os::Handle writer = os::CreateThread(
      [](void*) -> uint32_t {
        std::vector<RVX406A_CONTI_SEGMENT> segments(12, RVX406A_CONTI_SEGMENT{30, -40, 0, 0, 0, 0});
        for (int k = 0; k < 400; ++k) {
          RVX406A_SetInitContiTable();
          RVX406A_SetContiDataTable(0, 12, segments.data());
          RVX406A_Conti_Move(0, 0);
          if (k % 2) RVX406A_SetContiDataTable(0, 0, nullptr);  // count 0, still started
          RVX406A_SetFreeContiTable();
        }
        done = true;
        return 0;
      },
      nullptr);
  ASSERT_NE(writer, nullptr);
  std::vector<u16> seen(256, 0);
  u32 reads = 0;
  while (!done) seen[RVX406A_GetCurContiNum() & 0xFF] = 1, ++reads;
  EXPECT_TRUE(os::WaitThread(writer, 10000));
  os::CloseThread(writer);
  seen[0] = seen[12] = 0;
  EXPECT_EQ(std::count(seen.begin(), seen.end(), 1), 0) << reads << " reads";
  EXPECT_EQ(RVX406A_GetCurContiNum(), 0);
  RVX406A_SetInitContiTable();
  std::vector<RVX406A_CONTI_SEGMENT> segments(7, RVX406A_CONTI_SEGMENT{5, 5, 0, 0, 0, 0});
  RVX406A_SetContiDataTable(0, 7, segments.data());
  EXPECT_EQ(RVX406A_GetCurContiNum(), 0);  // filled, not handed over
  RVX406A_Conti_Move(0, 0);
  EXPECT_EQ(RVX406A_GetCurContiNum(), 7);
  RVX406A_SetContiDataTable(0, 3, segments.data());  // refilled: not started again yet
  EXPECT_EQ(RVX406A_GetCurContiNum(), 0);
  RVX406A_SetFreeContiTable();
}

using SyncModesTest = LoadedTest<3>;

TEST_F(SyncModesTest, SetSyncModeWritesBothWordsAndTheShadows) {
  // Axis, mask, SM6 shadow before, SM6 and SM7 values; the SM6 shadow, written to the axis
  // before SM7 goes to the mask's axes. One mask axis sets SM6 bit 13, more set 13 to 15; only
  // 10 bits of the SM6 value are taken.
  const std::tuple<u16, u16, u16, u16, u16, u16> cases[] = {
      {0, 0x0A, 0x0000, 0x0155, 0x1234, 0xE155},
      {2, 0x04, 0x0000, 0xFFFF, 0x0001, 0x23FF},
      {1, 0x00, 0xFC00, 0x0001, 0x00FF, 0xFC01},   // bits 10 to 15 kept, a command without axes
      {3, 0x0F, 0x43FF, 0x0000, 0x8000, 0xE000}};  // bit 14 alone stays and gains 13 and 15
  for (const auto& [axis, mask, before, sm6, sm7, after] : cases) {
    AxisBlock& shadow = axis_block(0, axis);
    std::tie(shadow.sm6, shadow.sm7) = std::make_tuple(before, 0x5555);
    sim::StartTrace();
    RVX406A_SetSyncMode(0, axis, mask, sm6, sm7);
    EXPECT_EQ(TracedWrites(), Join({Param32((0x100u << axis) | 0x64, after),
                                    Param32((mask << 8) | 0x64u, u32{sm7} << 16)}));
    EXPECT_EQ(std::make_pair(shadow.sm6, shadow.sm7), (std::pair<u16, u16>(after, sm7)));
  }
}

TEST_F(SyncModesTest, SetExtModeSwitchesThePulserBitsAndRate) {
  // Axis, mode, rate, driving; the result, the mode and MPG_RATE GetExtMode reports, the writes.
  // Each case starts from WR3 0x008C (one of the two pulser bits), MPG_RATE 7 and a recorded move.
  const std::tuple<u16, u16, u16, bool, i32, u16, u16, Strings> cases[] = {
      {1, 1, 10000, false, 0, 1, 10000, Join({{"WR0=020F", "WR3=009C"}, Param32(0x206, 10000)})},
      {3, 1, 1, false, 0, 1, 1, Join({{"WR0=080F", "WR3=009C"}, Param32(0x806, 1)})},
      {0, 0, 250, false, 0, 0, 250, {"WR0=010F", "WR3=0084"}},  // no pulse count
      {2, 1, 5, true, ERR_AXIS_DRV_BUSY, 0, 7, {}}};
  for (const auto& [axis, mode, rate, driving, result, got_mode, got_rate, writes] : cases) {
    AxisBlock& shadow = axis_block(0, axis);
    std::tie(shadow.wr3, shadow.mpg_rate, process().move_table[0][axis]) =
        std::make_tuple(0x8C, 7, 1);
    sim::SetDriving(0, axis, driving);
    sim::StartTrace();
    RVX406A_SetExtMode(0, axis, mode, rate);
    EXPECT_EQ(std::make_pair(RVX406A_GetErrorCode(), TracedWrites()),
              std::make_pair(result, writes));
    EXPECT_EQ(process().move_table[0][axis], result ? 1u : 0u);
    u16 reported[2] = {9, 9};
    RVX406A_GetExtMode(0, axis, &reported[0], &reported[1]);
    EXPECT_THAT(reported, testing::ElementsAre(got_mode, got_rate));
  }
  // Moves refuse to start on an axis in pulser mode (axis 3 now) until it is switched off.
  RVX406A_Inc_Move(0, 3, 500);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_MPG_MODE);
  RVX406A_SetExtMode(0, 3, 0, 40);
  RVX406A_Inc_Move(0, 3, 500);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
}

// FIXED_RANGE is only stored; GetSyncMode only passes through the library mutex.
TEST_F(SyncModesTest, FixedRangeAndGetSyncMode) {
  RVX406A_UnloadDevice();
  EXPECT_EQ(RVX406A_GetSyncMode(0, 0), 1);  // also before any board is loaded
  Load();
  EXPECT_EQ(RVX406A_GetSyncMode(0, 1), 1);  // passing the library mutex on to others
  EXPECT_EQ(RunChild("ProbeMutex", {ns_ + "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635"}), 0);
  RVX406A_SetFixedRange(0, 2, 1);
  EXPECT_EQ(RVX406A_GetFixedRange(0, 2), 1);
  RVX406A_SetFixedRange(0, 2, 0);
  EXPECT_EQ(RVX406A_GetFixedRange(0, 2), 0);
}

}  // namespace
}  // namespace rvx::test
