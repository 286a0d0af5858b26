// The simulated axis against the chip's speed model, with parameters that the
// library's own profile arithmetic computes: ramp times, top speeds, stopping
// distances and exact end points.
#include "sim/motion_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "motion/profile.h"

namespace rvx::sim {
namespace {

// The model's ramp between the initial and the drive speed of `p`.
struct Model {
  double sv, v, time, distance;
};
Model RampOf(const MotionParams& p, bool down) {
  const double m = 8e6 / p.range, sv = std::min(p.initial, p.drive) * m, v = p.drive * m;
  const bool sep = down && p.separate_decel;
  const double limit = (sep ? p.dec : p.acc) * 125 * m,
               jerk = 62.5e6 / (sep ? p.dec_jerk : p.acc_jerk) * m;
  double t = (v - sv) / limit;
  if (p.s_curve)
    t = std::sqrt((v - sv) * jerk) <= limit ? 2 * std::sqrt((v - sv) / jerk) : t + limit / jerk;
  return {sv, v, t, (v + sv) / 2 * t};
}

MotionParams ParamsOf(ProfileKind kind, bool s_curve, const ProfileInput& in) {
  const SpeedProfile p = ComputeProfile(kind, s_curve, in, 100, 0);
  auto u16 = [](u32 v) { return static_cast<uint16_t>(v); };
  // The library's fixed-pulse mode words ask for a separate down ramp in trapezoid only.
  return {p.range,         u16(p.initial), u16(p.drive),
          u16(p.acc),      u16(p.dec),     u16(p.acc_jerk),
          u16(p.dec_jerk), s_curve,        kind == ProfileKind::kPositioning && !s_curve};
}

// Ticks until the axis stops, the highest speed read on the way and the last one read while busy.
struct Trace {
  uint64_t ticks;
  uint16_t top, last;
};
Trace RunToEnd(AxisMotion* axis) {
  Trace t{0, axis->speed, axis->speed};
  while (axis->busy && t.ticks < 100000) {
    t.last = axis->speed;
    Advance(axis, 1);
    ++t.ticks;
    t.top = std::max(t.top, axis->speed);
  }
  return t;
}

constexpr ProfileInput kExamples[] = {{1000, 100000, 100, 100},
                                      {100, 10000, 50, 200},
                                      {500, 5000, 300, 300},
                                      {1, 4000000, 1000, 1000}};

TEST(MotionEngineTest, WorkedExamplesReachTopSpeedInTimeAndEndExactly) {
  for (const bool s_curve : {false, true}) {
    for (const ProfileInput& in : kExamples) {
      SCOPED_TRACE(testing::Message() << in.drive_pps << (s_curve ? " S-curve" : " trapezoid"));
      const MotionParams p = ParamsOf(ProfileKind::kPositioning, s_curve, in);
      const Model up = RampOf(p, false), down = RampOf(p, true);
      AxisMotion axis{};
      ASSERT_TRUE(StartContinuousDrive(&axis, p, 1));
      uint64_t ticks = 0;
      while (!(std::fabs(axis.velocity - up.v) < 1e-6 && axis.accel == 0) && ticks < 100000)
        ticks += Advance(&axis, 1) >= 0;
      EXPECT_NEAR(ticks * kTickSeconds, up.time, kTickSeconds);

      // A fixed-pulse move that cruises for 50 ms between its ramps, towards -.
      const uint32_t count = static_cast<uint32_t>(up.distance + down.distance + up.v * 0.05);
      axis = AxisMotion{};
      ASSERT_TRUE(StartFixedDrive(&axis, p, count, -1));
      const Trace t = RunToEnd(&axis);
      EXPECT_EQ(axis.output, count);
      EXPECT_EQ(axis.position, -static_cast<int32_t>(count));
      EXPECT_EQ(t.top, p.drive);
      const double cruise = (count - up.distance - down.distance) / up.v;
      EXPECT_NEAR(t.ticks * kTickSeconds, up.time + cruise + down.time, kTickSeconds);
    }
  }
}

TEST(MotionEngineTest, ShortMovesTurnBackBeforeTheDriveSpeedAndEndOnTheirCount) {
  for (const bool s_curve : {false, true}) {
    SCOPED_TRACE(s_curve);
    const MotionParams p = ParamsOf(ProfileKind::kPositioning, s_curve, kExamples[0]);
    const Model ramp = RampOf(p, false);
    AxisMotion axis{};
    StartFixedDrive(&axis, p, 5000, 1);
    const Trace t = RunToEnd(&axis);
    EXPECT_EQ(axis.position, 5000);
    // Readings are a tick apart: within a tick's worth of ramp of the true extremes.
    const double m = 8e6 / p.range, a = p.acc * 125 * m, slack = s_curve ? 1 : a * kTickSeconds / m;
    EXPECT_LE(t.last, p.initial + slack);  // down at the initial speed, no abrupt end
    if (!s_curve) {                        // a triangle: half the pulses up, half down
      const double peak = std::sqrt(ramp.sv * ramp.sv + a * 5000);
      EXPECT_NEAR(t.top, peak / m, slack);
      EXPECT_NEAR(t.ticks * kTickSeconds, 2 * (peak - ramp.sv) / a, kTickSeconds);
    } else {
      EXPECT_LT(t.top, p.drive);
    }
  }
}

TEST(MotionEngineTest, StopsAndOverrides) {
  enum Action { kDecel, kSudden, kSlower, kCountPassed, kCountAhead };
  for (const bool s_curve : {false, true}) {
    for (const Action action : {kDecel, kSudden, kSlower, kCountPassed, kCountAhead}) {
      SCOPED_TRACE(testing::Message() << s_curve << " " << action);
      const bool fixed = action >= kCountPassed;
      const MotionParams p = ParamsOf(fixed ? ProfileKind::kPositioning : ProfileKind::kContinuous,
                                      s_curve, kExamples[0]);
      AxisMotion axis{};
      fixed ? StartFixedDrive(&axis, p, 1000000, 1) : StartContinuousDrive(&axis, p, 1);
      Advance(&axis, 8000);  // 0.8 s: at the drive speed
      const int32_t at = axis.position;
      if (action == kDecel) DecelerateStop(&axis);
      if (action == kSudden) SuddenStop(&axis);
      if (action == kSlower) OverrideDriveSpeed(&axis, 2000);
      if (fixed) OverridePulseCount(&axis, action == kCountPassed ? at / 2 : at + 300);
      if (action == kSlower) {  // settles at the new speed after the model's ramp, keeps going
        MotionParams slow = p;
        slow.initial = 2000;
        uint64_t ticks = 0;
        while ((axis.accel != 0 || axis.speed != 2000) && ticks < 100000)
          ticks += Advance(&axis, 1) >= 0;
        EXPECT_NEAR(ticks * kTickSeconds, RampOf(slow, true).time, kTickSeconds);
        EXPECT_TRUE(axis.busy);
        continue;
      }
      RunToEnd(&axis);
      EXPECT_FALSE(axis.busy);
      EXPECT_EQ(Advance(&axis, 10), 0);
      // Sudden: not a pulse more; ahead (nearer than the stop needs): exactly on the count;
      // otherwise the model's down ramp.
      const bool ramp = action == kDecel || action == kCountPassed;
      const double travel = ramp ? RampOf(p, true).distance : action == kCountAhead ? 300 : 0;
      EXPECT_NEAR(axis.position - at, travel, ramp ? 1 : 0);
    }
  }
}

}  // namespace
}  // namespace rvx::sim
