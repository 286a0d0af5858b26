// How closely the simulated board follows a speed profile: for a few user
// profiles, the chip parameters the library computes are run through the
// motion engine in stepped time and the drive is measured as a scope would
// see it. Prints a Markdown table: requested against simulated top speed,
// ramp times and pulse count.
//
//   rvx_fidelity
#include <cmath>
#include <cstdio>

#include "motion/profile.h"
#include "sim/motion_engine.h"

namespace {

using rvx::ComputeProfile;
using rvx::ProfileInput;
using rvx::ProfileKind;
using rvx::SpeedProfile;
namespace sim = rvx::sim;

struct Measured {
  double top_pps = 0;
  double acc_ms = 0, dec_ms = 0, total_ms = 0;
  uint32_t pulses = 0;
};

// Ramp times run from the start to the first tick at top speed, and from the
// last tick at top speed to the end.
Measured Run(const SpeedProfile& p, uint32_t pulses) {
  const sim::MotionParams params{p.range,
                                 static_cast<uint16_t>(p.initial),
                                 static_cast<uint16_t>(p.drive),
                                 static_cast<uint16_t>(p.acc),
                                 static_cast<uint16_t>(p.dec),
                                 static_cast<uint16_t>(p.s_curve ? p.acc_jerk : 65535),
                                 static_cast<uint16_t>(p.s_curve ? p.dec_jerk : 65535),
                                 p.s_curve,
                                 true};
  sim::AxisMotion axis{};
  sim::StartFixedDrive(&axis, params, pulses, 1);
  Measured m;
  const double top = p.drive * sim::EffectiveMultiplier(params);
  uint64_t first_top = 0, last_top = 0, ticks = 0;
  while (axis.busy) {
    sim::Advance(&axis, 1);
    ++ticks;
    if (axis.velocity > m.top_pps) m.top_pps = axis.velocity;
    if (axis.velocity >= top * (1 - 1e-9)) {  // the engine lands on the top speed exactly
      if (first_top == 0) first_top = ticks;
      last_top = ticks;
    }
  }
  m.acc_ms = first_top * sim::kTickSeconds * 1e3;
  m.dec_ms = (ticks - last_top) * sim::kTickSeconds * 1e3;
  m.total_ms = ticks * sim::kTickSeconds * 1e3;
  m.pulses = axis.output;
  return m;
}

// The ramp time the chip's model gives: constant acceleration A x 125 x M, or
// in S-curve a jerk of 62,500,000 / K x M, with the acceleration capped at
// A x 125 x M (M cancels out).
double ModelRampMs(const SpeedProfile& p, uint32_t rate, uint32_t jerk) {
  const double dv = static_cast<double>(p.drive) - p.initial;  // in speed units
  const double a_max = rate * 125.0;
  if (!p.s_curve) return dv / a_max * 1e3;
  const double j = 62500000.0 / jerk;
  const double pure = 2 * std::sqrt(dv / j);
  if (j * pure / 2 <= a_max) return pure * 1e3;
  return (dv / a_max + a_max / j) * 1e3;
}

}  // namespace

int main() {
  // The worked examples of the profile arithmetic (RANGE 100).
  const ProfileInput inputs[] = {
      {1000, 100000, 100, 100},
      {100, 10000, 50, 200},
      {500, 5000, 300, 300},
      {1, 4000000, 1000, 1000},
  };
  printf(
      "| profile (SV, V PPS; Ta, Td ms) | curve | top speed: set / chip / simulated PPS | "
      "acc. time: set / chip / simulated ms | dec. time: set / chip / simulated ms | pulses: "
      "set / simulated |\n|---|---|---|---|---|---|\n");
  for (const ProfileInput& in : inputs) {
    for (bool s_curve : {false, true}) {
      const SpeedProfile p = ComputeProfile(ProfileKind::kPositioning, s_curve, in, 100, 0);
      // Long enough to reach the top speed and hold it for a while.
      const uint32_t pulses =
          static_cast<uint32_t>(in.drive_pps * ((in.acc_ms + in.dec_ms) / 1000.0 + 0.2));
      const Measured m = Run(p, pulses);
      const double chip = p.drive * 8000000.0 / p.range;
      printf(
          "| %u, %u; %u, %u | %s | %u / %.0f / %.0f | %u / %.1f / %.1f | %u / %.1f / %.1f | %u / "
          "%u |\n",
          in.start_pps, in.drive_pps, in.acc_ms, in.dec_ms, s_curve ? "S" : "trapezoid",
          in.drive_pps, chip, m.top_pps, in.acc_ms, ModelRampMs(p, p.acc, p.acc_jerk), m.acc_ms,
          in.dec_ms, ModelRampMs(p, p.dec, p.dec_jerk), m.dec_ms, pulses, m.pulses);
    }
  }
  return 0;
}
