// The chip half of the speed profile: the fixed order in which a computed
// profile is loaded. Kept apart from the arithmetic, which links on its own.
#include "motion/profile.h"

namespace rvx {

void LoadRange(const AxisIo& axis, const SpeedProfile& profile) {
  axis.Write32(cmd::kRange, static_cast<i32>(profile.range));
}

void LoadSpeeds(const AxisIo& axis, const SpeedProfile& profile) {
  if (profile.s_curve) {
    axis.Write16(cmd::kAccJerk, static_cast<u16>(profile.acc_jerk));
    // Continuous profiles ramp down with the up-ramp jerk.
    if (profile.kind == ProfileKind::kPositioning) {
      axis.Write16(cmd::kDecJerk, static_cast<u16>(profile.dec_jerk));
    }
  }
  axis.Write16(cmd::kAcc, static_cast<u16>(profile.acc));
  axis.Write16(cmd::kDec, static_cast<u16>(profile.dec));
  axis.Write16(cmd::kInitialSpeed, static_cast<u16>(profile.initial));
  axis.Write16(cmd::kDriveSpeed, static_cast<u16>(profile.drive));
}

}  // namespace rvx
