// Synchronous action words, fixed range, manual-pulser mode and the motion direction record.

#include "tests/support.h"

namespace rvx::test {
namespace {

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
    ClearLog();
    sim::StartTrace();
    RVX406A_SetSyncMode(0, axis, mask, sm6, sm7);
    EXPECT_EQ(TracedWrites(), Join({Param32((0x100u << axis) | 0x64, after),
                                    Param32((mask << 8) | 0x64u, u32{sm7} << 16)}));
    EXPECT_EQ(std::make_pair(shadow.sm6, shadow.sm7), (std::pair<u16, u16>(after, sm7)));
    EXPECT_EQ(LoggedCalls(), Strings{Logged(0, "SetSyncMode" + Args({0, axis, mask, sm6, sm7}))});
  }
}

TEST_F(SyncModesTest, SetExtModeSwitchesThePulserBitsAndRate) {
  // Axis, mode, rate, driving; the result, the writes, WR3 and MPG_RATE as GetExtMode sees them.
  // Each case starts from WR3 0x008C (one of the two pulser bits), MPG_RATE 7 and a recorded move.
  // clang-format off
  const std::tuple<u16, u16, u16, bool, i32, Strings, u16, u16> cases[] = {
      {1, 1, 10000, false, 0, {"WR0=020F", "WR3=009C", "WR7=0000", "WR6=2710", "WR0=0206"}, 0x9C,
       10000},
      {3, 1, 1, false, 0, {"WR0=080F", "WR3=009C", "WR7=0000", "WR6=0001", "WR0=0806"}, 0x9C, 1},
      {0, 0, 250, false, 0, {"WR0=010F", "WR3=0084"}, 0x84, 250},  // no pulse count
      {2, 1, 5, true, ERR_AXIS_DRV_BUSY, {}, 0x8C, 7}};
  // clang-format on
  for (const auto& [axis, mode, rate, driving, result, writes, wr3, mpg_rate] : cases) {
    AxisBlock& shadow = axis_block(0, axis);
    std::tie(shadow.wr3, shadow.mpg_rate, process().move_table[0][axis]) =
        std::make_tuple(0x8C, 7, 1);
    sim::SetDriving(0, axis, driving);
    sim::StartTrace();
    RVX406A_SetExtMode(0, axis, mode, rate);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedWrites(), writes);
    EXPECT_EQ(process().move_table[0][axis], result ? 1u : 0u);
    u16 reported_mode = 9, reported_rate = 9;
    RVX406A_GetExtMode(0, axis, &reported_mode, &reported_rate);
    EXPECT_EQ(std::make_pair(reported_mode, reported_rate),
              (std::pair<u16, u16>(wr3 == 0x9C, mpg_rate)));
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
