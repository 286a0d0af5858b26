// Homing: mode table and limit-as-home field, the search programming, the
// mode-8 release drive and refused searches.

#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::_;

class HomingTest : public LoadedTest<> {
 protected:
  void SetUp() override {
    LoadedTest::SetUp();
    for (int a = 0; a < 4; ++a) Configure(a);
    ClearLog();
  }
  void Configure(int a) {  // mode 2, + limit logic, no reversal, offset -500
    sim::SetDriving(0, a, false);
    AxisBlock& b = axis_block(0, a);
    b.wr1 = 0x0030, b.wr2 = 0x001B, b.wr3 = 0x0087, b.em6 = 0x6588, b.em7 = 0xC94F;
    b.home_mode = 2, b.home_dir = 1, b.home_offset = -500, b.home_ok = 1, b.motion_dir = 5;
    b.low_home_pps = 1000, b.high_home_pps = 10000, b.home_acc_ms = 100, b.fixed_range = 0;
    process().move_table[0][a] = 0, process().home_table[0][a] = 0;
  }
};

TEST_F(HomingTest, ModeTableAndLimitAsHomeField) {
  // Mode, then EM7 bits 0..8 and 10 for HOMEDIR 0 and 1.
  const std::tuple<u16, u16, u16> rows[] = {{0, 0x144, 0x14C}, {1, 0x174, 0x15C}, {2, 0x145, 0x14F},
                                            {3, 0x175, 0x15F}, {4, 0x544, 0x54C}, {5, 0x574, 0x55C},
                                            {6, 0x545, 0x54F}, {7, 0x575, 0x55F}, {8, 0x150, 0x1F0},
                                            {9, 0x1C0, 0x1C0}};
  AxisBlock& b = axis_block(0, 2);
  for (const auto& [mode, plus, minus] : rows) {
    b.em7 = 0xFFFF, b.em6 = 0x6500, b.home_dir = 1;  // EM7 bits 9, 11..15 stay
    sim::SetPld(0, pld::kLhome0, 0xFF);
    RVX406A_SetHomeMode(0, 2, mode);
    const u32 em7_minus = b.em7, field_minus = sim::Pld(0, pld::kLhome0);
    RVX406A_SetHomeDir(0, 2, 0);
    const bool limit = mode >= 4 && mode <= 7;
    EXPECT_EQ(std::vector<u32>({em7_minus, field_minus, b.em7, sim::Pld(0, pld::kLhome0),
                                sim::Axis(0, 2).em7, sim::Axis(0, 2).em6}),
              std::vector<u32>({0xFA00u | minus, limit ? 0xEFu : 0xCFu, 0xFA00u | plus,
                                limit ? 0xDFu : 0xCFu, 0xFA00u | plus, 0x6500}))
        << mode;
    EXPECT_EQ(RVX406A_GetHomeMode(0, 2), mode);
  }
  // Mode, HOMEDIR, reversal, WR2, WR1 before, limit-as-home field, WR1 after.
  const std::tuple<u16, u16, bool, u16, u16, u8, u16> cases[] = {
      {4, 1, false, 0x18, 0x003A, 2, 0x0035},
      {4, 1, true, 0x08, 0x003F, 1, 0x0030},
      {7, 0, true, 0x18, 0x0000, 2, 0x0005},
      {5, 0, false, 0x00, 0x000F, 1, 0x0000},
      {1, 1, true, 0x18, 0x003A, 0, 0x003A}};
  for (const auto& [mode, dir, reversed, wr2, wr1, field, wr1_after] : cases) {
    b.home_dir = dir, b.em6 = reversed ? 0x6504 : 0x6500, b.wr2 = wr2, b.wr1 = wr1;
    sim::SetPld(0, pld::kLhome0, 0x0C);
    sim::StartTrace();
    RVX406A_SetHomeMode(0, 2, mode);
    EXPECT_THAT(TracedWrites(), ElementsAre(Reg("P3", 0x0C | field << 4, 2), _, _, "WR0=0460",
                                            "WR0=040F", Reg("WR1", wr1_after)))
        << mode;
    EXPECT_EQ(b.wr1, wr1_after) << mode;
  }
}

TEST_F(HomingTest, HomeMoveProgramsTheSearch) {
  const char* plain = "RR0 WR0=040F RR1 RP3";
  const char* plus = "RR0 WR0=040F RR1 WR7=0000 WR6=03E8 WR0=0406 WR0=0420 RR0 RR0 RR0 RR0 RP3";
  const char* minus = "RR0 WR0=040F RR1 WR7=0000 WR6=03E8 WR0=0406 WR0=0421 RR0 RR0 RR0 RR0 RP3";
  const Strings all = Join({{"WR0=040F", "P3=20", "WR0=040F", "WR1=0035", "WR0=040F", "WR2=0018",
                             "WR0=040F", "WR3=0080", "WR7=CDCF", "WR6=6500", "WR0=0460"},
                            Param32(0x400, 4000000),
                            Params(0x400, {{2, 360}, {3, 360}, {5, 5000}, {4, 500}, {0x61, 500}}),
                            Param32(0x406, 500),
                            {"WR0=0462"}});
  // Mode, RR1, reversal, offset; requests up to the limit field, EM7 bits 6
  // and 7 in the chip, the pulse count loaded last, all writes.
  const std::tuple<u16, u16, bool, i32, const char*, u16, u32, Strings> cases[] = {
      {6, 0x0000, false, -500, plain, 0xC0, 500, all},
      {8, 0x0400, false, 0, plus, 0x00, 0, Strings()},
      {8, 0x0400, true, 0, minus, 0x00, 0, Strings()},
      {8, 0x0000, false, -500, plain, 0xC0, 500, Strings()},
      {2, 0x0400, false, 500, plain, 0x40, 500, Strings()},
      {2, 0x0000, true, 500, plain, 0xC0, 500, Strings()},
      {2, 0x0000, true, -500, plain, 0x40, 500, Strings()}};
  for (const auto& [mode, rr1, reversed, offset, before, bits, pulses, writes] : cases) {
    SCOPED_TRACE(testing::Message() << mode << " " << rr1 << " " << reversed << " " << offset);
    Configure(2);
    AxisBlock& b = axis_block(0, 2);
    b.home_mode = mode, b.home_offset = offset, b.em6 = reversed ? 0x658C : 0x6588;
    sim::SetPld(0, pld::kLhome0, 0x00);
    sim::SetDriveStatus(0, 2, rr1);
    sim::SetDriveDuration(0, 2, 3);  // the release drive lasts three polls
    ClearLog();
    sim::StartTrace();
    Guarded([] { RVX406A_Home_Move(0, 2); });  // the release drive is awaited
    EXPECT_EQ(Joined(TracedRequests()).substr(0, strlen(before)), before);
    if (!writes.empty()) {
      EXPECT_EQ(TracedWrites(), writes);
    }
    EXPECT_EQ(sim::Axis(0, 2).em7 & 0xC0, bits);
    EXPECT_EQ(sim::Axis(0, 2).pulse_count, pulses);
    // The search-time words reach the chip only.
    EXPECT_EQ(
        std::vector<u32>({b.wr1, b.wr2, b.wr3, b.em7, process().home_table[0][2],
                          process().move_table[0][2], b.home_ok, b.last_drive_speed, b.motion_dir}),
        std::vector<u32>({0x0030, 0x001B, 0x0087, 0xC94F, 1, 3, 0, 10000, 0}));
    EXPECT_EQ(LoggedCalls(), Strings{Logged(0, "Home_Move (0, 2)")});
  }
}

TEST_F(HomingTest, RefusedSearchesWriteNothingAndLeaveSuccessCleared) {
  // Axes (one: Home_Move), axis 1 busy, result, HOME_OK of axes 0..3.
  const std::tuple<std::vector<u16>, bool, i32, std::vector<u16>> cases[] = {
      {{1}, true, ERR_AXIS_DRV_BUSY, {1, 0, 1, 1}},
      {{2}, false, ERR_INVALID_PARAMETER, {1, 1, 1, 1}},  // Multi_Home_Move of 1
      {{0, 2, 4}, false, ERR_AXIS_NUM, {0, 1, 0, 1}},
      {{3, 1, 0}, true, ERR_AXIS_DRV_BUSY, {1, 0, 1, 0}}};
  for (const auto& [axes, busy, result, home_ok] : cases) {
    for (int a = 0; a < 4; ++a) Configure(a);
    sim::SetDriving(0, 1, busy);
    const u16 count = static_cast<u16>(axes.size());
    sim::StartTrace();
    result == ERR_INVALID_PARAMETER || count > 1 ? RVX406A_Multi_Home_Move(0, count, axes.data())
                                                 : RVX406A_Home_Move(0, axes[0]);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(TracedWrites(), Strings()) << result;
    for (u16 a = 0; a < 4; ++a) {
      EXPECT_EQ(axis_block(0, a).home_ok, home_ok[a]) << result << " " << a;
      EXPECT_EQ(process().home_table[0][a], 0) << result << " " << a;
    }
  }
}

TEST_F(HomingTest, MultiHomeMoveHoldsEachSearchAndReleasesThemTogether) {
  axis_block(0, 3).high_home_pps = 8000;
  const u16 axes[] = {3, 1};
  sim::StartTrace();
  RVX406A_Multi_Home_Move(0, 2, axes);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  const std::string writes = Joined(TracedWrites());
  EXPECT_THAT(writes, testing::EndsWith(" WR0=0224 WR0=0262 WR0=0A25 "));
  EXPECT_EQ(writes.find("WR0=0A25"), writes.size() - 9);
  EXPECT_LT(writes.find(" WR0=0824 WR0=0862 "), writes.find("WR0=020F"));  // axis 3 first
  EXPECT_EQ(std::vector<u32>({process().home_table[0][3], process().move_table[0][3],
                              process().home_table[0][1], process().move_table[0][1],
                              sim::Axis(0, 3).drive, sim::Axis(0, 1).drive}),
            std::vector<u32>({1, 3, 1, 3, 8000, 5000}));  // each runs its own speeds
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =     0 : RVX406A_Multi_Home_Move (0, 3)",
                                         " RV =     0 : RVX406A_Multi_Home_Move (0, 1)"));
}

}  // namespace
}  // namespace rvx::test
