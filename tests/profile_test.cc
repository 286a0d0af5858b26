// Speed profile arithmetic (the rounding, clamping and multiplier edges) and
// the stored speed settings: limits in argument order, stored caller values
// and computed parameters, and the two settings that reach the chip at once.
#include "motion/profile.h"

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr ProfileKind kCont = ProfileKind::kContinuous;

// One computed value; parameters are integers, multipliers and rounding doubles.
struct Outcome {
  template <class T>
  Outcome(const char* w, T a, double e) : what(w), actual(static_cast<double>(a)), expected(e) {}
  const char* what;
  double actual, expected;
};

TEST(ProfileTest, RoundingClampingAndMultiplier) {
  const Outcome cases[] = {
      {"halves go up", RoundHalfUp(-2.5, 0), -2},
      {"one digit", RoundHalfUp(12.25, 1), 12.3},
      {"V 7999", SpeedMultiplier(7999, 100, 0), 1},
      {"V 8001", SpeedMultiplier(8001, 100, 0), 2},
      {"capped by RANGE", SpeedMultiplier(4000000, 100, 0), 100},
      {"RANGE 500", SpeedMultiplier(4000000, 500, 0), 500},
      {"R at 500", RangeParameter(500), 16000},
      {"R rounds up", RangeParameter(7), 1142858},
      {"fixed range", SpeedMultiplier(100, 7, 1), 7},
      {"RANGE 0 counts as 1", SpeedMultiplier(8001, 0, 0), 1},
      {"continuous D = A", ComputeProfile(kCont, false, {100, 10000, 50, 200}, 100, 0).dec, 792},
      {"A time 0", AccelerationParameter(1, 100, 7000, 0), 8000},
      {"A 0 / 0", AccelerationParameter(1, 7000, 7000, 0), 1},
      {"K time 0", JerkParameter(1, 100, 7000, 0), 1},
      {"K 0 / 0", JerkParameter(1, 7000, 7000, 0), 65535},
  };
  for (const Outcome& c : cases) EXPECT_DOUBLE_EQ(c.actual, c.expected) << c.what;
}

using SpeedSettingsTest = LoadedTest<>;

TEST_F(SpeedSettingsTest, ShapeAndOffsetReachTheChip) {
  // Setting; result, writes, WR3 shadow and offset afterwards.
  const std::tuple<void (*)(), i32, Strings, u16, i32> cases[] = {
      {[] { RVX406A_SetSpeedMode(0, 2, 1); }, 0, Strings{"WR0=040F", "WR3=00FF"}, 0xFF, 5},
      {[] { RVX406A_SetSpeedMode(0, 2, 0); }, 0, Strings{"WR0=040F", "WR3=00FB"}, 0xFB, 5},
      {[] { RVX406A_SetSpeedMode(0, 2, 2); }, ERR_INVALID_PARAMETER, Strings(), 0xFB, 5},
      {[] { RVX406A_SetAccOffset(0, 2, -32768); }, 0, Param(0x40D, 0x8000), 0xFB, -32768},
      {[] { RVX406A_SetAccOffset(0, 2, 32767); }, 0, Param(0x40D, 0x7FFF), 0xFB, 32767},
      {[] { RVX406A_SetAccOffset(0, 2, -32769); }, ERR_INVALID_PARAMETER, Strings(), 0xFB, 32767}};
  axis_block(0, 2).wr3 = 0xFB;
  axis_block(0, 2).acc_offset = 5;
  sim::SetDriving(0, 2, true);  // neither waits for the axis
  for (const auto& [set, result, writes, wr3, offset] : cases) {
    sim::StartTrace();
    set();
    EXPECT_EQ(RVX406A_GetErrorCode(), result) << wr3 << " " << offset;
    EXPECT_EQ(TracedWrites(), writes) << wr3 << " " << offset;
    EXPECT_EQ(RVX406A_GetSpeedMode(0, 2), (wr3 >> 2) & 1);
    EXPECT_EQ(axis_block(0, 2).wr3, wr3);
    EXPECT_EQ(RVX406A_GetAccOffset(0, 2), offset);
  }
}

TEST_F(SpeedSettingsTest, ProfilesAreCheckedInArgumentOrderAndStored) {
  enum Setter { kPosSpeed, kJogSpeed, kHomeSpeed };
  // Setter, S-curve or not, start, drive, acc and dec times; result;
  // computed initial, drive, A, D, K, L (jog: no D, no L; home: a trapezoid).
  const std::tuple<Setter, bool, u32, u32, u32, u32, i32, u32, u32, u32, u32, u32, u32> cases[] = {
      {kPosSpeed, false, 4000000, 4000000, 64000, 64000, 0, 8000, 8000, 1, 1, 0, 0},
      {kPosSpeed, true, 1000, 2000, 64001, 64001, ERR_MAX_ACC, 0, 0, 0, 0, 0, 0},
      {kPosSpeed, true, 1000, 2000, 100, 64001, ERR_MAX_DEC, 0, 0, 0, 0, 0, 0},
      {kPosSpeed, true, 100, 10000, 50, 200, 0, 100, 5000, 8000, 8000, 8, 126},
      {kPosSpeed, false, 100, 10000, 50, 200, 0, 50, 5000, 792, 198, 0, 0},
      {kPosSpeed, true, 0, 0, 0, 0, 0, 1, 1, 8000, 8000, 65535, 65535},  // zeros compute as 1
      {kPosSpeed, false, 5000, 1000, 100, 200, 0, 1000, 1000, 1, 1, 0, 0},
      {kPosSpeed, false, 0, 1063, 1000, 1000, 0, 1, 1063, 8, 8, 0, 0},  // 1062 PPS in 1 s
      {kJogSpeed, true, 1, 10000, 50, 0, 0, 1, 5000, 8000, 0, 8, 0},
      {kJogSpeed, false, 1, 10000, 50, 0, 0, 1, 5000, 800, 0, 0, 0},
      {kJogSpeed, false, 4000000, 4000000, 64000, 0, 0, 8000, 8000, 1, 0, 0, 0},
      {kHomeSpeed, true, 1000, 10000, 100, 0, 0, 500, 5000, 360, 0, 0, 0},
      {kHomeSpeed, true, 20000, 10000, 100, 0, 0, 5000, 5000, 1, 0, 0, 0},
      {kHomeSpeed, true, 0, 0, 0, 0, 0, 1, 1, 1, 0, 0, 0}};
  AxisBlock& b = axis_block(0, 3);
  b.fixed_range = 0;
  for (const auto& [setter, s, sv, v, ta, td, result, p0, p1, p2, p3, p4, p5] : cases) {
    SCOPED_TRACE(testing::Message()
                 << setter << s << " " << sv << "/" << v << "/" << ta << "/" << td);
    b.wr3 = s ? 0x84 : 0x80;
    b.pos_acc_jerk = b.pos_dec_jerk = b.jog_jerk = b.home_jerk = 99;
    const AxisBlock before = b;
    if (setter == kPosSpeed) RVX406A_SetPosSpeed(0, 3, sv, v, ta, td);
    if (setter == kJogSpeed) RVX406A_SetJogSpeed(0, 3, sv, v, ta);
    if (setter == kHomeSpeed) RVX406A_SetHomeSpeed(0, 3, sv, v, ta);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(memcmp(&before, &b, sizeof before) != 0, result == ERR_SUCCESS);  // stored or not
    if (result != ERR_SUCCESS) continue;
    u32 got[4] = {};
    if (setter == kPosSpeed) RVX406A_GetPosSpeed(0, 3, &got[0], &got[1], &got[2], &got[3]);
    if (setter == kJogSpeed) RVX406A_GetJogSpeed(0, 3, &got[0], &got[1], &got[2]);
    if (setter == kHomeSpeed) RVX406A_GetHomeSpeed(0, 3, &got[0], &got[1], &got[2]);
    EXPECT_THAT(got, ElementsAre(sv, v, ta, td));
    const std::vector<u32> stored[] = {
        {b.pos_start, b.pos_drive, b.pos_acc, b.pos_dec, b.pos_acc_jerk, b.pos_dec_jerk},
        {b.jog_start, b.jog_drive, b.jog_acc, 0, b.jog_jerk, 0},
        {b.low_home_speed, b.high_home_speed, b.home_acc, 0, b.home_jerk, 0}};
    EXPECT_EQ(stored[setter], std::vector<u32>({p0, p1, p2, p3, p4, p5}));
  }
  u32 out[4] = {7, 7, 7, 7};  // a refused getter leaves zeros
  RVX406A_GetPosSpeed(1, 0, &out[0], &out[1], &out[2], &out[3]);
  EXPECT_THAT(out, ElementsAre(0, 0, 0, 0));
}

}  // namespace
}  // namespace rvx::test
