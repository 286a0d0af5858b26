// Speed profile arithmetic: the worked examples, and the rounding, clamping
// and multiplier edges.
#include "motion/profile.h"

#include <gtest/gtest.h>

#include <array>

namespace rvx {
namespace {

constexpr ProfileKind kPos = ProfileKind::kPositioning;
constexpr ProfileKind kCont = ProfileKind::kContinuous;

// R, K, L, A, D, initial, drive: the parameters in loading order.
std::array<u32, 7> Params(const SpeedProfile& p) {
  return {p.range, p.acc_jerk, p.dec_jerk, p.acc, p.dec, p.initial, p.drive};
}

TEST(ProfileTest, WorkedExamples) {
  struct Case {
    ProfileInput in;
    std::array<u32, 7> trapezoid, s_curve;
  };
  const Case cases[] = {
      {{1000, 100000, 100, 100},
       {615385, 0, 0, 609, 609, 77, 7692},
       {615385, 21, 21, 8000, 8000, 100, 7692}},
      {{100, 10000, 50, 200},
       {4000000, 0, 0, 792, 198, 50, 5000},
       {4000000, 8, 126, 8000, 8000, 100, 5000}},
      {{500, 5000, 300, 300},
       {8000000, 0, 0, 120, 120, 500, 5000},
       {8000000, 313, 313, 8000, 8000, 500, 5000}},
      {{1, 4000000, 1000, 1000},
       {80000, 0, 0, 320, 320, 1, 8000},
       {80000, 391, 391, 8000, 8000, 100, 8000}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Params(ComputeProfile(kPos, false, c.in, 100, 0)), c.trapezoid) << c.in.drive_pps;
    EXPECT_EQ(Params(ComputeProfile(kPos, true, c.in, 100, 0)), c.s_curve) << c.in.drive_pps;
  }
}

// One computed value; parameters are integers, multipliers and rounding doubles.
struct Outcome {
  template <class T>
  Outcome(const char* w, T a, double e) : what(w), actual(static_cast<double>(a)), expected(e) {}
  const char* what;
  double actual, expected;
};

TEST(ProfileTest, RoundingClampingAndMultiplier) {
  const Outcome cases[] = {
      {"7692.3", RoundHalfUp(7692.3, 0), 7692},
      {"76.92", RoundHalfUp(76.92, 0), 77},
      {"609.23", RoundHalfUp(609.23, 0), 609},
      {"20.52", RoundHalfUp(20.52, 0), 21},
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
      {"drive ceiling", DriveSpeedParameter(100, 4000000), 8000},
      {"drive floor", DriveSpeedParameter(100, 50), 1},
      {"S-curve positioning floor", InitialSpeedParameter(2, 1, true, true), 100},
      {"continuous floor", InitialSpeedParameter(2, 1, true, false), 1},
      {"trapezoid floor", InitialSpeedParameter(2, 1, false, true), 1},
      {"SV above V", ComputeProfile(kPos, false, {9000, 4000, 100, 100}, 100, 0).initial, 4000},
      {"S-curve floor under drive", ComputeProfile(kPos, true, {0, 50, 9, 9}, 100, 0).initial, 50},
      {"continuous D = A", ComputeProfile(kCont, false, {100, 10000, 50, 200}, 100, 0).dec, 792},
      {"continuous: no L", ComputeProfile(kCont, true, {1, 10000, 50, 200}, 100, 0).dec_jerk, 0},
      {"A equal speeds", AccelerationParameter(1, 7000, 7000, 100), 1},
      {"A time 0", AccelerationParameter(1, 100, 7000, 0), 8000},
      {"A 0 / 0", AccelerationParameter(1, 7000, 7000, 0), 1},
      {"K equal speeds", JerkParameter(1, 7000, 7000, 100), 65535},
      {"K time 0", JerkParameter(1, 100, 7000, 0), 1},
      {"K 0 / 0", JerkParameter(1, 7000, 7000, 0), 65535},
  };
  for (const Outcome& c : cases) EXPECT_DOUBLE_EQ(c.actual, c.expected) << c.what;
}

}  // namespace
}  // namespace rvx
