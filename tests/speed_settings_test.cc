// Stored speed settings: limits in argument order, stored caller values and
// computed parameters, and the two settings that reach the chip at once.
#include <gmock/gmock.h>

#include <array>
#include <cstring>

#include "tests/support.h"

namespace rvx::test {
namespace {

using Strings = std::vector<std::string>;

class SpeedSettingsTest : public LibraryTest {};

TEST_F(SpeedSettingsTest, ShapeAndOffsetReachTheChip) {
  struct Case {
    void (*set)();
    i32 result;
    Strings writes;
    u16 wr3;
    i32 offset;
  };
  const Case cases[] = {
      {[] { RVX406A_SetSpeedMode(0, 2, 1); }, 0, {"WR0=040F", "WR3=00FF"}, 0xFF, 5},
      {[] { RVX406A_SetSpeedMode(0, 2, 0); }, 0, {"WR0=040F", "WR3=00FB"}, 0xFB, 5},
      {[] { RVX406A_SetSpeedMode(0, 2, 2); }, ERR_INVALID_PARAMETER, {}, 0xFB, 5},
      {[] { RVX406A_SetAccOffset(0, 2, -32768); }, 0, {"WR6=8000", "WR0=040D"}, 0xFB, -32768},
      {[] { RVX406A_SetAccOffset(0, 2, 32767); }, 0, {"WR6=7FFF", "WR0=040D"}, 0xFB, 32767},
      {[] { RVX406A_SetAccOffset(0, 2, 32768); }, ERR_INVALID_PARAMETER, {}, 0xFB, 32767},
      {[] { RVX406A_SetAccOffset(0, 2, -32769); }, ERR_INVALID_PARAMETER, {}, 0xFB, 32767},
  };
  Load();
  axis_block(0, 2).wr3 = 0xFB;
  axis_block(0, 2).acc_offset = 5;
  sim::SetDriving(0, 2, true);  // neither waits for the axis
  for (size_t i = 0; i < std::size(cases); ++i) {
    sim::StartTrace();
    cases[i].set();
    EXPECT_EQ(RVX406A_GetErrorCode(), cases[i].result) << i;
    EXPECT_EQ(TracedWrites(), cases[i].writes) << i;
    EXPECT_EQ(RVX406A_GetSpeedMode(0, 2), (cases[i].wr3 >> 2) & 1) << i;
    EXPECT_EQ(axis_block(0, 2).wr3, cases[i].wr3) << i;
    EXPECT_EQ(RVX406A_GetAccOffset(0, 2), cases[i].offset) << i;
  }
}

// Checked unsigned and in argument order; a refusal stores nothing.
TEST_F(SpeedSettingsTest, Limits) {
  struct Case {
    bool jog;
    u32 sv, v, ta, td;
    i32 result;
  };
  const Case cases[] = {
      {false, 4000000, 4000000, 64000, 64000, ERR_SUCCESS},
      {false, 4000001, 1000, 100, 100, ERR_MAX_STARTV},
      {false, 5000001, 5000001, 100, 100, ERR_MAX_STARTV},
      {false, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, 0xFFFFFFFF, ERR_MAX_STARTV},
      {false, 1000, 4000001, 64001, 100, ERR_MAX_WORKV},
      {false, 1000, 2000, 64001, 64001, ERR_MAX_ACC},
      {false, 1000, 2000, 100, 64001, ERR_MAX_DEC},
      {true, 4000000, 4000000, 64000, 0, ERR_SUCCESS},
      {true, 1000, 4000001, 100, 0, ERR_MAX_WORKV},
      {true, 1000, 2000, 64001, 0, ERR_MAX_ACC},
  };
  Load();
  for (const Case& c : cases) {
    const AxisBlock before = axis_block(0, 1);
    u32 got[4] = {};
    if (c.jog) {
      RVX406A_SetJogSpeed(0, 1, c.sv, c.v, c.ta);
      EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << c.sv << "/" << c.v << "/" << c.ta;
      RVX406A_GetJogSpeed(0, 1, &got[0], &got[1], &got[2]);
    } else {
      RVX406A_SetPosSpeed(0, 1, c.sv, c.v, c.ta, c.td);
      EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << c.sv << "/" << c.v << "/" << c.ta;
      RVX406A_GetPosSpeed(0, 1, &got[0], &got[1], &got[2], &got[3]);
    }
    if (c.result == ERR_SUCCESS) {
      EXPECT_THAT(got, testing::ElementsAre(c.sv, c.v, c.ta, c.jog ? 0 : c.td));
    } else {
      EXPECT_EQ(memcmp(&before, &axis_block(0, 1), sizeof before), 0) << c.result;
    }
  }
}

TEST_F(SpeedSettingsTest, ComputedParameters) {
  struct Case {
    const char* what;
    bool jog, s_curve;
    u32 sv, v, ta, td;
    std::array<u32, 6> computed;  // initial, drive, A, D, K, L (jog: no D, no L)
  };
  const Case cases[] = {
      {"worked example", false, true, 100, 10000, 50, 200, {100, 5000, 8000, 8000, 8, 126}},
      {"trapezoid clears jerks", false, false, 100, 10000, 50, 200, {50, 5000, 792, 198, 0, 0}},
      // Zeros compute as 1 PPS and 1 ms; the caller's zeros are kept.
      {"zeros", false, true, 0, 0, 0, 0, {1, 1, 8000, 8000, 65535, 65535}},
      {"start above drive", false, false, 5000, 1000, 100, 200, {1000, 1000, 1, 1, 0, 0}},
      {"jog S-curve floor 1", true, true, 1, 10000, 50, 0, {1, 5000, 8000, 0, 8, 0}},
      {"jog trapezoid", true, false, 1, 10000, 50, 0, {1, 5000, 800, 0, 0, 0}},
  };
  Load();
  for (const Case& c : cases) {
    AxisBlock& b = axis_block(0, 3);
    b.wr3 = c.s_curve ? 0x84 : 0x80;
    b.fixed_range = 0;
    b.pos_acc_jerk = b.pos_dec_jerk = b.jog_jerk = 99;
    std::array<u32, 6> computed;
    std::array<u32, 4> stored;
    if (c.jog) {
      RVX406A_SetJogSpeed(0, 3, c.sv, c.v, c.ta);
      computed = {b.jog_start, b.jog_drive, b.jog_acc, 0, b.jog_jerk, 0};
      stored = {b.jog_start_pps, b.jog_drive_pps, b.jog_acc_ms, 0};
    } else {
      RVX406A_SetPosSpeed(0, 3, c.sv, c.v, c.ta, c.td);
      computed = {b.pos_start, b.pos_drive, b.pos_acc, b.pos_dec, b.pos_acc_jerk, b.pos_dec_jerk};
      stored = {b.pos_start_pps, b.pos_drive_pps, b.pos_acc_ms, b.pos_dec_ms};
    }
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS) << c.what;
    EXPECT_EQ(computed, c.computed) << c.what;
    EXPECT_EQ(stored, (std::array<u32, 4>{c.sv, c.v, c.ta, c.td})) << c.what;
  }
}

TEST_F(SpeedSettingsTest, LogLines) {
  Load();
  ClearLog();
  shared().log_level = 2;  // errors only
  RVX406A_SetPosSpeed(0, 1, 100, 10000, 50, 200);
  RVX406A_SetJogSpeed(0, 1, 100, 10000, 64001);
  u32 out[4] = {7, 7, 7, 7};
  RVX406A_GetPosSpeed(1, 0, &out[0], &out[1], &out[2], &out[3]);
  EXPECT_THAT(out, testing::ElementsAre(0, 0, 0, 0));
  shared().log_level = 1;
  RVX406A_SetSpeedMode(0, 1, 1);
  RVX406A_GetSpeedMode(0, 1);
  EXPECT_THAT(LoggedCalls(),
              testing::ElementsAre(" RV =  -537 : RVX406A_SetJogSpeed (0, 1, 100, 10000, 64001)",
                                   " RV =  -410 : RVX406A_GetPosSpeed (1, 0, 0, 0, 0, 0)",
                                   " RV =     0 : RVX406A_SetSpeedMode (0, 1, 1)"));
}

}  // namespace
}  // namespace rvx::test
