// The arithmetic half of the speed profile: plain double math, no chip access
// and no allocation, so it can run (and be measured) on its own.
#include "motion/profile.h"

#include <cmath>

namespace rvx {
namespace {

// The chip's fixed scales.
constexpr double kRangeBase = 8000000.0;       // M = kRangeBase / R
constexpr double kMaxSpeedParameter = 8000.0;  // initial and drive speed parameters
constexpr double kMaxAccParameter = 8000.0;    // A and D
constexpr double kAccScale = 125.0;            // PPS/s = A * 125 * M
constexpr double kJerkScale = 62500000.0;      // PPS/s^2 = 62,500,000 / K * M
constexpr double kMaxJerkParameter = 65535.0;  // K and L
constexpr double kMaxMultiplier = 500.0;
constexpr double kScurveFloor = 100.0;  // initial speed floor of S-curve positioning profiles

// Replaces a value only when it lies strictly outside the limits, so an
// infinite quotient lands on the upper limit.
double Clamp(double value, double low, double high) {
  if (value < low) return low;
  if (value > high) return high;
  return value;
}

// Every chip parameter is the rounded value, truncated.
u32 Parameter(double value, double low, double high) {
  return static_cast<u32>(RoundHalfUp(Clamp(value, low, high), 0));
}

double SpeedDifference(double start_pps, double drive_pps) {
  return std::fabs(drive_pps - start_pps);
}

}  // namespace

u16 ClampedRange(u16 range) {
  if (range < 1) return 1;
  if (range > kMaxMultiplier) return static_cast<u16>(kMaxMultiplier);
  return range;
}

double RoundHalfUp(double value, int digits) {
  const double scale = std::pow(10.0, digits);
  return std::floor(value * scale + 0.5) / scale;
}

double SpeedMultiplier(double drive_pps, u16 range, u16 fixed_range) {
  // A RANGE of 0 (only from an edited parameter file) would make R undefined.
  const double limit = ClampedRange(range);
  if (fixed_range == 1) return limit;
  double m = drive_pps / kMaxSpeedParameter;
  if (m < 1.0) m = 1.0;
  if (m > kMaxMultiplier) m = kMaxMultiplier;
  if (m >= limit) m = limit;
  return std::ceil(m);
}

u32 RangeParameter(double multiplier) {
  return static_cast<u32>(std::ceil(kRangeBase / multiplier));
}

u32 InitialSpeedParameter(double multiplier, double start_pps, bool s_curve, bool positioning) {
  const double floor = s_curve && positioning ? kScurveFloor : 1.0;
  return Parameter(start_pps / multiplier, floor, kMaxSpeedParameter);
}

u32 DriveSpeedParameter(double multiplier, double drive_pps) {
  return Parameter(drive_pps / multiplier, 1.0, kMaxSpeedParameter);
}

u32 AccelerationParameter(double multiplier, double start_pps, double drive_pps, double time_ms) {
  const double dv = SpeedDifference(start_pps, drive_pps);
  // Equal speeds need no ramp, whatever the time (0 / 0 included).
  const double per_second = dv == 0.0 ? 0.0 : dv / (time_ms * 0.001);
  return Parameter(per_second / kAccScale / multiplier, 1.0, kMaxAccParameter);
}

u32 JerkParameter(double multiplier, double start_pps, double drive_pps, double time_ms) {
  const double dv = SpeedDifference(start_pps, drive_pps);
  const double seconds = time_ms * 0.001;
  // Equal speeds give the gentlest jerk, whatever the time (0 / 0 included).
  const double jerk = dv == 0.0 ? 0.0 : 4.0 * dv / (seconds * seconds);
  return Parameter(kJerkScale / jerk * multiplier, 1.0, kMaxJerkParameter);
}

ProfileInput SettingInput(const ProfileInput& given) {
  ProfileInput in{NonZero(given.start_pps), NonZero(given.drive_pps), NonZero(given.acc_ms),
                  NonZero(given.dec_ms)};
  if (in.drive_pps <= in.start_pps) in.start_pps = in.drive_pps;
  return in;
}

SpeedProfile ComputeProfile(ProfileKind kind, bool s_curve, const ProfileInput& input, u16 range,
                            u16 fixed_range) {
  const bool positioning = kind == ProfileKind::kPositioning;
  const double sv = input.start_pps;
  const double v = input.drive_pps;
  // Continuous profiles ramp down as they ramp up.
  const double dec_ms = positioning ? input.dec_ms : input.acc_ms;

  SpeedProfile p{};
  p.kind = kind;
  p.s_curve = s_curve;
  p.multiplier = SpeedMultiplier(v, range, fixed_range);
  p.range = RangeParameter(p.multiplier);
  p.drive = DriveSpeedParameter(p.multiplier, v);
  p.initial = InitialSpeedParameter(p.multiplier, sv, s_curve, positioning);
  if (p.initial > p.drive) p.initial = p.drive;
  if (s_curve) {
    // The jerk alone shapes the curve; the acceleration must never cap it.
    p.acc = p.dec = static_cast<u32>(kMaxAccParameter);
    p.acc_jerk = JerkParameter(p.multiplier, sv, v, input.acc_ms);
    p.dec_jerk = positioning ? JerkParameter(p.multiplier, sv, v, dec_ms) : 0;
  } else {
    p.acc = AccelerationParameter(p.multiplier, sv, v, input.acc_ms);
    p.dec = AccelerationParameter(p.multiplier, sv, v, dec_ms);
  }
  return p;
}

}  // namespace rvx
