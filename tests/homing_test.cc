// Homing: the mode table and limit-as-home field, the settings, the exact
// search programming, the mode-8 release drive and the success verdicts.
#include <gmock/gmock.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <iterator>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::_;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

class HomingTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = 1;
    for (int a = 0; a < 4; ++a) Configure(a);
    ClearLog();
  }
  // Known shadows and home settings: mode 2, + limit logic, no reversal.
  void Configure(int a) {
    sim::SetDriving(0, a, false);
    sim::SetErrorStatus(0, a, 0);
    AxisBlock& b = axis_block(0, a);
    b.wr1 = 0x0030;
    b.wr2 = 0x001B;
    b.wr3 = 0x0087;
    b.em6 = 0x6588;
    b.em7 = 0xC94F;
    b.range = 100;
    b.fixed_range = 0;
    b.home_mode = 2;
    b.home_dir = 1;
    b.home_offset = -500;
    b.low_home_pps = 1000;
    b.high_home_pps = 10000;
    b.home_acc_ms = 100;
    b.home_ok = 1;
    b.motion_dir = 5;
    process().move_table[0][a] = 0;
    process().home_table[0][a] = 0;
  }
};

TEST_F(HomingTest, ModeTableInBothDirections) {
  struct Row {
    u16 mode, plus, minus;  // EM7 bits 0..8 and 10 for HOMEDIR 0 and 1
  };
  const Row rows[] = {{0, 0x144, 0x14C}, {1, 0x174, 0x15C}, {2, 0x145, 0x14F}, {3, 0x175, 0x15F},
                      {4, 0x544, 0x54C}, {5, 0x574, 0x55C}, {6, 0x545, 0x54F}, {7, 0x575, 0x55F},
                      {8, 0x150, 0x1F0}, {9, 0x1C0, 0x1C0}};
  AxisBlock& b = axis_block(0, 2);
  for (const Row& r : rows) {
    b.em7 = 0xFFFF;  // bits 9 and 11..15 belong to others and stay
    b.em6 = 0x6500;
    sim::SetPld(0, pld::kLhome0, 0xFF);
    RVX406A_SetHomeMode(0, 2, r.mode);
    ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(b.em7, 0xFA00 | r.minus) << r.mode;
    EXPECT_EQ(sim::Axis(0, 2).em7, b.em7) << r.mode;
    EXPECT_EQ(sim::Axis(0, 2).em6, 0x6500) << r.mode;
    const bool limit = r.mode >= 4 && r.mode <= 7;
    EXPECT_EQ(sim::Pld(0, pld::kLhome0), limit ? 0xEF : 0xCF) << r.mode;

    RVX406A_SetHomeDir(0, 2, 0);
    EXPECT_EQ(b.em7, 0xFA00 | r.plus) << r.mode;
    EXPECT_EQ(sim::Axis(0, 2).em7, b.em7) << r.mode;
    EXPECT_EQ(sim::Pld(0, pld::kLhome0), limit ? 0xDF : 0xCF) << r.mode;
    EXPECT_EQ(RVX406A_GetHomeMode(0, 2), r.mode);
    EXPECT_EQ(RVX406A_GetHomeDir(0, 2), 0);
    b.home_dir = 1;
  }
}

TEST_F(HomingTest, LimitModesFollowTheLimitLogicAndPulseDirection) {
  struct Case {
    u16 mode, dir;
    bool reversed;
    u16 wr2, wr1_before;
    u8 field;
    u16 wr1_after;
  };
  const Case cases[] = {
      {4, 1, false, 0x18, 0x003A, 2, 0x0035}, {4, 1, true, 0x08, 0x003F, 1, 0x0030},
      {7, 0, true, 0x18, 0x0000, 2, 0x0005},  {5, 0, false, 0x00, 0x000F, 1, 0x0000},
      {1, 1, true, 0x18, 0x003A, 0, 0x003A},
  };
  AxisBlock& b = axis_block(0, 1);
  for (const Case& c : cases) {
    b.home_dir = c.dir;
    b.em6 = c.reversed ? 0x6504 : 0x6500;
    b.wr2 = c.wr2;
    b.wr1 = c.wr1_before;
    sim::SetPld(0, pld::kLhome0, 0xC3);
    sim::StartTrace();
    RVX406A_SetHomeMode(0, 1, c.mode);
    char p3[8], wr1[16];
    snprintf(p3, sizeof p3, "P3=%02X", 0xC3 | c.field << 2);
    snprintf(wr1, sizeof wr1, "WR1=%04X", c.wr1_after);
    EXPECT_THAT(TracedWrites(),
                ElementsAre(std::string(p3), _, _, "WR0=0260", "WR0=020F", std::string(wr1)))
        << c.mode;
    EXPECT_EQ(b.wr1, c.wr1_after) << c.mode;
    EXPECT_EQ(sim::Axis(0, 1).wr1, c.wr1_after) << c.mode;
  }
}

TEST_F(HomingTest, SettingsRefuseBadValuesAndStoreGoodOnes) {
  struct Refusal {
    std::function<void()> call;
    i32 expected;
  };
  const Refusal refusals[] = {
      {[] { RVX406A_SetHomeDir(0, 0, 2); }, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetHomeMode(0, 0, 10); }, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetHomeOffset(0, 0, 0x10000000); }, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetHomeOffset(0, 0, -0x10000000); }, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetHomeSuccess(0, 0, 2); }, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetHomeSpeed(0, 0, 4000001, 4000001, 64001); }, ERR_MAX_STARTV},
      {[] { RVX406A_SetHomeSpeed(0, 0, 4000000, 4000001, 64001); }, ERR_MAX_WORKV},
      {[] { RVX406A_SetHomeSpeed(0, 0, 4000000, 4000000, 64001); }, ERR_MAX_ACC},
  };
  for (size_t i = 0; i < std::size(refusals); ++i) {
    const AxisBlock before = axis_block(0, 0);
    sim::StartTrace();
    refusals[i].call();
    EXPECT_EQ(RVX406A_GetErrorCode(), refusals[i].expected) << i;
    EXPECT_EQ(memcmp(&before, &axis_block(0, 0), sizeof before), 0) << i;
    EXPECT_THAT(TracedWrites(), IsEmpty()) << i;
  }

  // The chip parameters kept for the parameter file: a trapezoid from the
  // high speed, with the low speed never above it.
  struct Speeds {
    u32 low, high, acc_ms;
    u32 initial, drive, acc;
  };
  AxisBlock& b = axis_block(0, 3);
  b.wr3 = 0x0004;  // S-curve does not apply to homing
  for (const Speeds& s : {Speeds{1000, 10000, 100, 500, 5000, 360},
                          Speeds{20000, 10000, 100, 5000, 5000, 1}, Speeds{0, 0, 0, 1, 1, 1}}) {
    b.home_jerk = 9;
    RVX406A_SetHomeSpeed(0, 3, s.low, s.high, s.acc_ms);
    EXPECT_EQ(b.low_home_speed, s.initial) << s.low;
    EXPECT_EQ(b.high_home_speed, s.drive) << s.low;
    EXPECT_EQ(b.home_acc, s.acc) << s.low;
    EXPECT_EQ(b.home_jerk, 0u);
    u32 low = 1, high = 1, acc = 1;
    RVX406A_GetHomeSpeed(0, 3, &low, &high, &acc);
    EXPECT_EQ(std::vector<u32>({low, high, acc}), std::vector<u32>({s.low, s.high, s.acc_ms}));
  }
  RVX406A_SetHomeOffset(0, 3, -0x0FFFFFFF);
  EXPECT_EQ(RVX406A_GetHomeOffset(0, 3), -0x0FFFFFFF);
  EXPECT_EQ(RVX406A_GetHomeOffset(0, 4), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
}

TEST_F(HomingTest, HomeMoveProgramsTheSearchInOrder) {
  AxisBlock& b = axis_block(0, 1);
  b.home_mode = 6;
  sim::SetPld(0, pld::kLhome0, 0x00);
  sim::StartTrace();
  RVX406A_Home_Move(0, 1);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_THAT(TracedWrites(),
              ElementsAre("WR0=020F", "P3=08", "WR0=020F", "WR1=0035", "WR0=020F", "WR2=0018",
                          "WR0=020F", "WR3=0080", "WR7=CDCF", "WR6=6500", "WR0=0260", "WR7=003D",
                          "WR6=0900", "WR0=0200", "WR6=0168", "WR0=0202", "WR6=0168", "WR0=0203",
                          "WR6=1388", "WR0=0205", "WR6=01F4", "WR0=0204", "WR6=01F4", "WR0=0261",
                          "WR7=0000", "WR6=01F4", "WR0=0206", "WR0=0262"));
  // The search-time words reach the chip only.
  EXPECT_EQ(std::vector<u16>({b.wr1, b.wr2, b.wr3, b.em6, b.em7}),
            std::vector<u16>({0x0030, 0x001B, 0x0087, 0x6588, 0xC94F}));
  EXPECT_EQ(process().home_table[0][1], 1);
  EXPECT_EQ(process().move_table[0][1], 3u);
  EXPECT_EQ(b.home_ok, 0);
  EXPECT_EQ(b.last_drive_speed, 10000u);
  EXPECT_EQ(b.motion_dir, 0u);
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =     0 : RVX406A_Home_Move (0, 1)"));
}

TEST_F(HomingTest, OffsetDriveFollowsSignAndReversal) {
  struct Case {
    i32 offset;
    bool reversed;
    u16 em7_bits_6_7;
    u32 pulses;
  };
  for (const Case& c :
       {Case{0, false, 0x00, 0}, Case{0, true, 0x00, 0}, Case{-500, false, 0xC0, 500},
        Case{500, false, 0x40, 500}, Case{500, true, 0xC0, 500}, Case{-500, true, 0x40, 500}}) {
    AxisBlock& b = axis_block(0, 0);
    b.home_offset = c.offset;
    b.em6 = c.reversed ? 0x6504 : 0x6500;
    RVX406A_Home_Move(0, 0);
    EXPECT_EQ(sim::Axis(0, 0).em7 & 0xC0, c.em7_bits_6_7) << c.offset << " " << c.reversed;
    EXPECT_EQ(sim::Axis(0, 0).pulse_count, c.pulses) << c.offset;
    EXPECT_EQ(b.em7, 0xC94F);  // the shadow keeps the stored step bits
  }
}

TEST_F(HomingTest, ModeEightFirstLeavesAZPhaseItStandsOn) {
  struct Case {
    u16 mode, rr1;
    bool reversed;
    const char* before_search;  // requests without the settle reads
  };
  const Case cases[] = {
      {8, 0x0400, false,
       "RR0 WR0=040F RR1 WR7=0000 WR6=03E8 WR0=0406 WR0=0420 RR0 RR0 RR0 RR0 RP3"},
      {8, 0x0400, true, "RR0 WR0=040F RR1 WR7=0000 WR6=03E8 WR0=0406 WR0=0421 RR0 RR0 RR0 RR0 RP3"},
      {8, 0x0000, false, "RR0 WR0=040F RR1 RP3"},
      {2, 0x0400, false, "RR0 WR0=040F RR1 RP3"},
  };
  for (const Case& c : cases) {
    Configure(2);
    axis_block(0, 2).home_mode = c.mode;
    axis_block(0, 2).em6 = c.reversed ? 0x6504 : 0x6500;
    sim::SetDriveStatus(0, 2, c.rr1);
    sim::SetDriveDuration(0, 2, 3);  // the release drive lasts three polls
    sim::StartTrace();
    RVX406A_Home_Move(0, 2);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    std::string requests;
    for (const std::string& r : Requests(sim::Trace())) {
      if (r != "RP1") requests += (requests.empty() ? "" : " ") + r;
    }
    EXPECT_EQ(requests.substr(0, strlen(c.before_search)), c.before_search) << c.mode << c.rr1;
    sim::SetDriving(0, 2, false);
  }
}

TEST_F(HomingTest, RefusedSearchesWriteNothingAndLeaveSuccessCleared) {
  struct Case {
    const char* what;
    std::vector<u16> axes;  // one entry: Home_Move
    int busy_axis, mpg_axis;
    i32 expected;
    std::vector<u16> home_ok;  // axes 0..3 after the call
  };
  const Case cases[] = {
      {"busy", {1}, 1, -1, ERR_AXIS_DRV_BUSY, {1, 0, 1, 1}},
      {"manual pulser", {1}, -1, 1, ERR_MPG_MODE, {1, 0, 1, 1}},
      {"count 1", {0, 2}, -1, -1, ERR_INVALID_PARAMETER, {1, 1, 1, 1}},
      {"bad last axis", {0, 2, 4}, -1, -1, ERR_AXIS_NUM, {0, 1, 0, 1}},
      {"busy second", {3, 1}, 1, -1, ERR_AXIS_DRV_BUSY, {1, 0, 1, 0}},
      {"manual pulser second", {3, 1, 0}, -1, 1, ERR_MPG_MODE, {1, 0, 1, 0}},
  };
  for (const Case& c : cases) {
    for (int a = 0; a < 4; ++a) Configure(a);
    if (c.busy_axis >= 0) sim::SetDriving(0, c.busy_axis, true);
    if (c.mpg_axis >= 0) axis_block(0, c.mpg_axis).wr3 = 0x0018;
    sim::StartTrace();
    if (c.axes.size() == 1) {
      RVX406A_Home_Move(0, c.axes[0]);
    } else {
      const size_t count = c.expected == ERR_INVALID_PARAMETER ? 1 : c.axes.size();
      RVX406A_Multi_Home_Move(0, static_cast<u16>(count), c.axes.data());
    }
    EXPECT_EQ(RVX406A_GetErrorCode(), c.expected) << c.what;
    EXPECT_THAT(TracedWrites(), IsEmpty()) << c.what;
    for (u16 a = 0; a < 4; ++a) {
      EXPECT_EQ(axis_block(0, a).home_ok, c.home_ok[a]) << c.what << " axis " << a;
      EXPECT_EQ(process().home_table[0][a], 0) << c.what;
    }
  }
}

TEST_F(HomingTest, MultiHomeMoveHoldsEachSearchAndReleasesThemTogether) {
  axis_block(0, 3).high_home_pps = 8000;
  const u16 axes[] = {3, 1};
  sim::StartTrace();
  RVX406A_Multi_Home_Move(0, 2, axes);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  const std::vector<std::string> writes = TracedWrites();
  ASSERT_GE(writes.size(), 3u);
  EXPECT_THAT(std::vector<std::string>(writes.end() - 3, writes.end()),
              ElementsAre("WR0=0224", "WR0=0262", "WR0=0A25"));
  const auto held3 = std::find(writes.begin(), writes.end(), "WR0=0824");
  ASSERT_NE(held3, writes.end());
  EXPECT_EQ(*(held3 + 1), "WR0=0862");
  EXPECT_LT(held3, std::find(writes.begin(), writes.end(), "WR0=020F"));
  EXPECT_EQ(std::count(writes.begin(), writes.end(), "WR0=0A25"), 1);
  for (u16 a : axes) {
    EXPECT_EQ(sim::Axis(0, a).last_drive_command, 0x62);
    EXPECT_FALSE(sim::Axis(0, a).held);
    EXPECT_EQ(process().home_table[0][a], 1);
    EXPECT_EQ(process().move_table[0][a], 3u);
  }
  EXPECT_EQ(sim::Axis(0, 3).drive, 8000);  // each axis runs its own speeds
  EXPECT_EQ(sim::Axis(0, 1).drive, 5000);
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =     0 : RVX406A_Multi_Home_Move (0, 3)",
                                         " RV =     0 : RVX406A_Multi_Home_Move (0, 1)"));
}

TEST_F(HomingTest, HomeIsBusyJudgesTheSearch) {
  struct Case {
    const char* what;
    bool search, stop, driving;
    u16 rr2, home_ok_before;
    u16 busy, home_ok, home_table;
  };
  const Case cases[] = {
      {"clean", true, false, false, 0x00, 1, 0, 1, 0},
      {"at limits", true, false, false, 0x0F, 1, 0, 1, 0},
      {"bit 6 is not looked at", true, false, false, 0x40, 1, 0, 1, 0},
      {"alarm", true, false, false, 0x10, 1, 0, 0, 0},
      {"emergency", true, false, false, 0x20, 1, 0, 0, 0},
      {"bit 7", true, false, false, 0x80, 1, 0, 0, 0},
      {"stopped", true, true, false, 0x00, 1, 0, 0, 0},
      {"still searching", true, false, true, 0x00, 1, 1, 0, 1},
      {"earlier success", false, false, false, 0x00, 1, 0, 1, 0},
      {"alarm after success", false, false, false, 0x10, 1, 0, 0, 0},
  };
  shared().log_level = 3;
  for (const Case& c : cases) {
    Configure(1);
    axis_block(0, 1).home_ok = c.home_ok_before;
    if (c.search) RVX406A_Home_Move(0, 1);
    const u16 axes[] = {1, 2};
    if (c.stop) RVX406A_Multi_Decel_Stop(0, 2, axes);
    if (c.driving) sim::SetDriving(0, 1, true);
    sim::SetErrorStatus(0, 1, c.rr2);
    ClearLog();
    EXPECT_EQ(RVX406A_HomeIsBusy(0, 1), c.busy) << c.what;
    EXPECT_EQ(axis_block(0, 1).home_ok, c.home_ok) << c.what;
    EXPECT_EQ(process().home_table[0][1], c.home_table) << c.what;
    EXPECT_EQ(process().move_table[0][1], c.busy ? 3u : 0u) << c.what;
    EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =     0 : RVX406A_HomeIsBusy (0, 1, " +
                                           std::to_string(c.busy) + ")"))
        << c.what;
    sim::SetDriving(0, 1, false);
  }
}

}  // namespace
}  // namespace rvx::test
