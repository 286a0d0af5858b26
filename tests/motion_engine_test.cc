// The simulated axis against the chip's speed model, run from the library's own
// profile arithmetic: ramp times, top speeds, stopping distances and exact end
// points.
#include "sim/motion_engine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

#include "motion/profile.h"

namespace rvx::sim {
namespace {

constexpr ProfileInput kExamples[] = {{1000, 100000, 100, 100},
                                      {100, 10000, 50, 200},
                                      {500, 5000, 300, 300},
                                      {1, 4000000, 1000, 1000}};

// The model's ramp between the initial (or `low`) and the drive speed of `p`.
struct Model {
  double m, sv, v, time, distance;
};
Model RampOf(const MotionParams& p, bool down, uint16_t low = 0) {
  const double m = 8e6 / p.range, sv = std::max(low, std::min(p.initial, p.drive)) * m;
  const double v = p.drive * m;
  const bool sep = down && p.separate_decel;
  const double a = (sep ? p.dec : p.acc) * 125 * m,
               j = 62.5e6 / (sep ? p.dec_jerk : p.acc_jerk) * m;
  double t = (v - sv) / a;
  if (p.s_curve) t = std::sqrt((v - sv) * j) <= a ? 2 * std::sqrt((v - sv) / j) : t + a / j;
  return {m, sv, v, t, (v + sv) / 2 * t};
}

MotionParams ParamsOf(ProfileKind kind, bool s_curve, const ProfileInput& in) {
  const SpeedProfile p = ComputeProfile(kind, s_curve, in, 100, 0);
  auto n = [](u32 v) { return static_cast<uint16_t>(v); };
  // The library's fixed-pulse mode words ask for a separate down ramp (WR3 in a
  // trapezoid, EM6 in an S-curve).
  const bool separate = kind == ProfileKind::kPositioning;
  return {p.range,       n(p.initial),  n(p.drive), n(p.acc), n(p.dec),
          n(p.acc_jerk), n(p.dec_jerk), s_curve,    separate};
}

uint64_t Settle(AxisMotion* axis, double pps) {
  uint64_t ticks = 0;
  while ((std::fabs(axis->velocity - pps) > 1e-6 || axis->accel != 0) && ticks < 100000)
    ticks += Advance(axis, 1) >= 0;
  return ticks;
}

// Per worked example and profile: the ramp up to the drive speed takes the
// model's time; then a move of 50 ms at that speed runs out, or is stopped,
// slowed down or given a new count.
TEST(MotionEngineTest, RampsEndsStopsAndOverrides) {
  enum Action { kRunOut, kDecel, kSudden, kSlower, kCountPassed, kCountAhead };
  for (const bool s_curve : {false, true}) {
    for (const ProfileInput& in : kExamples) {
      for (const Action action : {kRunOut, kDecel, kSudden, kSlower, kCountPassed, kCountAhead}) {
        SCOPED_TRACE(testing::Message() << in.drive_pps << " " << s_curve << " " << action);
        const bool fixed = action == kRunOut || action >= kCountPassed;
        const MotionParams p =
            ParamsOf(fixed ? ProfileKind::kPositioning : ProfileKind::kContinuous, s_curve, in);
        const Model up = RampOf(p, false), down = RampOf(p, true);
        const uint32_t count = static_cast<uint32_t>(up.distance + down.distance + up.v * 0.05);
        AxisMotion axis{};
        ASSERT_TRUE(fixed ? StartFixedDrive(&axis, p, count, 1)
                          : StartContinuousDrive(&axis, p, 1));
        EXPECT_NEAR(Settle(&axis, up.v) * kTickSeconds, up.time, kTickSeconds);
        const int32_t at = axis.position;
        if (action == kDecel) DecelerateStop(&axis);
        if (action == kSudden) SuddenStop(&axis);
        if (action == kSlower) OverrideDriveSpeed(&axis, 2000);
        if (action >= kCountPassed)
          OverridePulseCount(&axis, action == kCountAhead ? at + 300 : at / 2);
        if (action == kSlower) {  // the model's ramp down to the new speed, and on it goes
          const Model ramp = RampOf(p, true, 2000);
          EXPECT_NEAR(Settle(&axis, ramp.sv) * kTickSeconds, ramp.time, kTickSeconds);
          continue;
        }
        for (int i = 0; axis.busy && i < 1000000; ++i) Advance(&axis, 1);
        EXPECT_TRUE(!axis.busy && Advance(&axis, 10) == 0);
        // Run out: on the count. Sudden: no pulse more. A count ahead, nearer
        // than a stop needs: on it. Else the down ramp.
        const bool ramp = action == kDecel || action == kCountPassed;
        double travel = ramp ? down.distance : 0;
        if (action == kRunOut) travel = count - at;
        if (action == kCountAhead) travel = 300;
        EXPECT_NEAR(axis.position - at, travel, ramp ? 1 : 0);
        if (action != kRunOut) continue;
        const double cruise = (count - up.distance - down.distance) / up.v;
        EXPECT_NEAR(axis.elapsed, up.time + cruise + down.time, kTickSeconds);
      }
    }
  }
}

}  // namespace
}  // namespace rvx::sim
