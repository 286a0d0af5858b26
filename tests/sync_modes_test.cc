// Synchronous action words, fixed range, manual-pulser mode and the motion
// direction record: register sequences, shadows, results and log lines.
#include <gmock/gmock.h>

#include <cstring>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::ElementsAreArray;
using ::testing::IsEmpty;

class SyncModesTest : public LibraryTest {
 protected:
  void LoadAtLevel3() {
    Load();
    shared().log_level = 3;
    ClearLog();
  }
};

TEST_F(SyncModesTest, SetSyncModeWritesBothWordsAndTheShadows) {
  struct Case {
    const char* name;
    u16 axis, mask, start_sm6, sm6, sm7;
    i32 result;
    std::vector<std::string> writes;
    u16 shadow_sm6;
    const char* log;
  };
  const Case cases[] = {
      {"two axes set bits 13 to 15",
       0,
       0x0A,
       0x0000,
       0x0155,
       0x1234,
       ERR_SUCCESS,
       {"WR7=0000", "WR6=E155", "WR0=0164", "WR7=1234", "WR6=0000", "WR0=0A64"},
       0xE155,
       " RV =     0 : RVX406A_SetSyncMode (0, 0, 10, 341, 4660)"},
      {"one axis sets bit 13, only 10 bits of SM6 are taken",
       2,
       0x04,
       0x0000,
       0xFFFF,
       0x0001,
       ERR_SUCCESS,
       {"WR7=0000", "WR6=23FF", "WR0=0464", "WR7=0001", "WR6=0000", "WR0=0464"},
       0x23FF,
       " RV =     0 : RVX406A_SetSyncMode (0, 2, 4, 65535, 1)"},
      {"empty mask keeps bits 10 to 15, second command has no axis",
       1,
       0x00,
       0xFC00,
       0x0001,
       0x00FF,
       ERR_SUCCESS,
       {"WR7=0000", "WR6=FC01", "WR0=0264", "WR7=00FF", "WR6=0000", "WR0=0064"},
       0xFC01,
       " RV =     0 : RVX406A_SetSyncMode (0, 1, 0, 1, 255)"},
      {"old low bits are replaced, bit 14 alone stays and gains 13 and 15",
       3,
       0x0F,
       0x43FF,
       0x0000,
       0x8000,
       ERR_SUCCESS,
       {"WR7=0000", "WR6=E000", "WR0=0864", "WR7=8000", "WR6=0000", "WR0=0F64"},
       0xE000,
       " RV =     0 : RVX406A_SetSyncMode (0, 3, 15, 0, 32768)"},
      {"mask above 15",
       0,
       0x10,
       0x1234,
       0x0001,
       0x0001,
       ERR_INVALID_PARAMETER,
       {},
       0x1234,
       " RV =  -300 : RVX406A_SetSyncMode (0, 0, 16, 1, 1)"},
      {"axis outside the board",
       4,
       0x01,
       0x0000,
       0x0001,
       0x0001,
       ERR_AXIS_NUM,
       {},
       0x0000,
       " RV =  -540 : RVX406A_SetSyncMode (0, 4, 1, 1, 1)"},
  };
  LoadAtLevel3();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisBlock& shadow = axis_block(0, c.axis < 4 ? c.axis : 0);
    shadow.sm6 = c.start_sm6;
    shadow.sm7 = 0x5555;
    ClearLog();
    sim::StartTrace();
    RVX406A_SetSyncMode(0, c.axis, c.mask, c.sm6, c.sm7);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    EXPECT_THAT(TracedWrites(), ElementsAreArray(c.writes));
    EXPECT_EQ(shadow.sm6, c.shadow_sm6);
    EXPECT_EQ(shadow.sm7, c.result == ERR_SUCCESS ? c.sm7 : 0x5555);
    EXPECT_THAT(LoggedCalls(), ElementsAre(c.log));
  }
}

TEST_F(SyncModesTest, SetExtModeSwitchesThePulserBitsAndRate) {
  struct Case {
    const char* name;
    u16 axis, mode, rate;
    bool driving;
    i32 result;
    std::vector<std::string> writes;
    u16 wr3, mpg_rate;  // shadows after the call
    u16 reported_mode;
  };
  // Every case starts from WR3 0x0084, MPG_RATE 7 and a recorded move.
  const Case cases[] = {
      {"pulser on at the highest rate",
       1,
       1,
       10000,
       false,
       ERR_SUCCESS,
       {"WR0=020F", "WR3=009C", "WR7=0000", "WR6=2710", "WR0=0206"},
       0x009C,
       10000,
       1},
      {"pulser on at rate 1",
       3,
       1,
       1,
       false,
       ERR_SUCCESS,
       {"WR0=080F", "WR3=009C", "WR7=0000", "WR6=0001", "WR0=0806"},
       0x009C,
       1,
       1},
      {"pulser off writes no pulse count",
       0,
       0,
       250,
       false,
       ERR_SUCCESS,
       {"WR0=010F", "WR3=0084"},
       0x0084,
       250,
       0},
      {"rate above 10000", 1, 1, 10001, false, ERR_INVALID_PARAMETER, {}, 0x0084, 7, 0},
      {"rate 0", 1, 0, 0, false, ERR_INVALID_PARAMETER, {}, 0x0084, 7, 0},
      {"mode 2", 1, 2, 5, false, ERR_INVALID_PARAMETER, {}, 0x0084, 7, 0},
      {"driving axis", 2, 1, 5, true, ERR_AXIS_DRV_BUSY, {}, 0x0084, 7, 0},
  };
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    AxisBlock& shadow = axis_block(0, c.axis);
    shadow.wr3 = 0x0084;
    shadow.mpg_rate = 7;
    process().move_table[0][c.axis] = 1;
    sim::SetDriving(0, c.axis, c.driving);
    sim::StartTrace();
    RVX406A_SetExtMode(0, c.axis, c.mode, c.rate);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    EXPECT_THAT(TracedWrites(), ElementsAreArray(c.writes));
    EXPECT_EQ(shadow.wr3, c.wr3);
    EXPECT_EQ(shadow.mpg_rate, c.mpg_rate);
    EXPECT_EQ(process().move_table[0][c.axis], c.result == ERR_SUCCESS ? 0u : 1u);
    if (c.result == ERR_SUCCESS && c.mode == 1) {
      EXPECT_EQ(sim::Axis(0, c.axis).pulse_count, c.rate);
    }
    u16 mode = 9, rate = 9;
    RVX406A_GetExtMode(0, c.axis, &mode, &rate);
    EXPECT_EQ(mode, c.reported_mode);
    EXPECT_EQ(rate, c.mpg_rate);
    sim::SetDriving(0, c.axis, false);
  }
}

TEST_F(SyncModesTest, PulserModeRefusesMovesUntilSwitchedOff) {
  Load();
  RVX406A_SetExtMode(0, 1, 1, 40);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  sim::StartTrace();
  RVX406A_Inc_Move(0, 1, 500);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_MPG_MODE);
  EXPECT_THAT(TracedWrites(), IsEmpty());
  EXPECT_EQ(process().move_table[0][1], 0u);
  RVX406A_Inc_Move(0, 2, 500);  // only the switched axis follows the pulser
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);

  RVX406A_SetExtMode(0, 1, 0, 40);
  RVX406A_Inc_Move(0, 1, 500);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_EQ(sim::Axis(0, 1).pulse_count, 500u);
}

TEST_F(SyncModesTest, GettersReadTheShadowsAndZeroOnFailure) {
  LoadAtLevel3();
  AxisBlock& b = axis_block(0, 2);
  b.fixed_range = 1;
  b.wr3 = 0x0008;  // bit 3 alone is no pulser mode
  b.mpg_rate = 321;
  b.motion_dir = 0;
  struct Case {
    u16 axis;
    i16 fixed_range;
    u16 mode, rate;
    u32 direction;
    i32 result;
  };
  for (const Case& c : {Case{2, 1, 0, 321, 0, ERR_SUCCESS}, Case{4, 0, 0, 0, 0, ERR_AXIS_NUM}}) {
    SCOPED_TRACE(c.axis);
    EXPECT_EQ(RVX406A_GetFixedRange(0, c.axis), c.fixed_range);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    u16 mode = 9, rate = 9;
    RVX406A_GetExtMode(0, c.axis, &mode, &rate);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    EXPECT_EQ(mode, c.mode);
    EXPECT_EQ(rate, c.rate);
    EXPECT_EQ(RVX406A_GetMotionDir(0, c.axis), c.direction);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
  }
  b.wr3 = 0x0018;
  u16 mode = 0, rate = 0;
  RVX406A_GetExtMode(0, 2, &mode, &rate);
  EXPECT_EQ(mode, 1);
  // Getters log only their failures.
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =  -540 : RVX406A_GetFixedRange (0, 4, 0)",
                                         " RV =  -540 : RVX406A_GetExtMode (0, 4, 0, 0)",
                                         " RV =  -540 : RVX406A_GetMotionDir (0, 4, 0)"));
}

TEST_F(SyncModesTest, SetFixedRangeStoresOnlyTheSetting) {
  Load();
  struct Case {
    u16 value;
    i32 result;
    u16 stored;
  };
  axis_block(0, 1).fixed_range = 1;
  for (const Case& c :
       {Case{0, ERR_SUCCESS, 0}, Case{2, ERR_INVALID_PARAMETER, 0}, Case{1, ERR_SUCCESS, 1}}) {
    sim::StartTrace();
    RVX406A_SetFixedRange(0, 1, c.value);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << c.value;
    EXPECT_EQ(axis_block(0, 1).fixed_range, c.stored) << c.value;
    EXPECT_THAT(sim::Trace(), IsEmpty()) << c.value;
  }
}

TEST_F(SyncModesTest, GetSyncModeAndTheNoOpMovesLeaveEverythingAlone) {
  // Before any board is loaded, with a loaded board, and for a board that
  // does not exist: the same answer and no trace of the call.
  EXPECT_EQ(RVX406A_GetSyncMode(0, 0), 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  LoadAtLevel3();
  RVX406A_GetFixedRange(0, 7);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
  ClearLog();
  AxisBlock before = axis_block(0, 1);
  sim::StartTrace();
  EXPECT_EQ(RVX406A_GetSyncMode(0, 1), 1);
  EXPECT_EQ(RVX406A_GetSyncMode(9, 9), 1);
  RVX406A_Ext_Abs_Move(0, 1, 1000);
  RVX406A_Ext_Inc_Move(0, 1, -1000);
  RVX406A_Ext_Jog_Move(0, 1);
  RVX406A_Mpg_Abs_Move(0, 1, 1000);
  RVX406A_Mpg_Inc_Move(0, 1, -1000);
  RVX406A_Mpg_Jog_Move(0, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
  EXPECT_THAT(sim::Trace(), IsEmpty());
  EXPECT_THAT(LoggedCalls(), IsEmpty());
  EXPECT_EQ(memcmp(&before, &axis_block(0, 1), sizeof before), 0);
}

}  // namespace
}  // namespace rvx::test
