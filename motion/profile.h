// Speed profile arithmetic: user units (PPS, ms) become the chip's range,
// speed, acceleration and jerk parameters, and one fixed order loads them.
// The functions are pure and allocation-free: they run at every move start.
#ifndef RVX_MOTION_PROFILE_H_
#define RVX_MOTION_PROFILE_H_

#include "core/registers.h"
#include "core/types.h"

namespace rvx {

// RANGE kept within the chip's multipliers 1..500.
u16 ClampedRange(u16 range);
// floor(value * 10^digits + 0.5) / 10^digits.
double RoundHalfUp(double value, int digits);
// The speed multiplier M (a whole number 1..500) for drive speed V.
double SpeedMultiplier(double drive_pps, u16 range, u16 fixed_range);
// R = ceil(8,000,000 / M).
u32 RangeParameter(double multiplier);
// Initial speed parameter; the floor is 100 for an S-curve positioning profile, else 1.
u32 InitialSpeedParameter(double multiplier, double start_pps, bool s_curve, bool positioning);
u32 DriveSpeedParameter(double multiplier, double drive_pps);
// A (from the acceleration time) or D (from the deceleration time).
u32 AccelerationParameter(double multiplier, double start_pps, double drive_pps, double time_ms);
// K (from the acceleration time) or L (from the deceleration time).
u32 JerkParameter(double multiplier, double start_pps, double drive_pps, double time_ms);

// Positioning profiles serve fixed-pulse moves and interpolation; continuous
// profiles serve jog and homing (one ramp time for both ramps).
enum class ProfileKind { kPositioning, kContinuous };

// The caller's values of one profile.
struct ProfileInput {
  u32 start_pps;
  u32 drive_pps;
  u32 acc_ms;
  u32 dec_ms;  // positioning profiles only
};

// Chip parameters of one profile.
struct SpeedProfile {
  ProfileKind kind;
  bool s_curve;
  double multiplier;
  u32 range;
  u32 initial;
  u32 drive;
  u32 acc;       // A (8000 in S-curve)
  u32 dec;       // D; continuous profiles load A again
  u32 acc_jerk;  // K, S-curve only, else 0
  u32 dec_jerk;  // L, S-curve positioning only, else 0
};

// A speed or time of 0 stands for 1: zeros would make the quotients
// meaningless.
constexpr u32 NonZero(u32 value) { return value != 0 ? value : 1; }
// The values stored chip parameters are computed from: zeros replaced, and a
// start above the drive speed lowered to it (a constant-speed move).
ProfileInput SettingInput(const ProfileInput& given);

// Computes a profile from the values as given (no zero replacement).
SpeedProfile ComputeProfile(ProfileKind kind, bool s_curve, const ProfileInput& input, u16 range,
                            u16 fixed_range);

// The profile programming sequence: range (0x00), then in S-curve the jerks
// (0x01, and 0x0E for positioning), A (0x02), D (0x03), initial (0x04),
// drive (0x05). Split in two because moves read positions in between.
void LoadRange(const AxisIo& axis, const SpeedProfile& profile);
void LoadSpeeds(const AxisIo& axis, const SpeedProfile& profile);

}  // namespace rvx

#endif  // RVX_MOTION_PROFILE_H_
