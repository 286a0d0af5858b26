// Changes to a running drive: a new drive speed for any drive, a new length
// for a fixed-pulse move this process started. Nothing here starts motion.
#include <cmath>
#include <cstdint>

#include "motion/motion.h"
#include "motion/profile.h"

namespace rvx {
namespace {

// The new count replaces the running drive's total; its direction stays.
void LoadPulseCount(const AxisIo& axis, double distance) {
  axis.Write32(cmd::kPulseCount, static_cast<i32>(std::fabs(distance)));
}

// A position override needs this process's own move of `kind`, still running.
bool CheckOverridable(AxisCall& call, MoveKind kind) {
  return call.Check(MoveTableEntry(call.board_number(), call.axis_number()) == kind,
                    ERR_OVERRIDE_TYPE) &&
         call.Check(call.axis().Driving(), ERR_AXIS_STEADY);
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_OverrideSpeed(uint16_t board, uint16_t axis, uint32_t drive_pps) {
  AxisCall call(board, axis, LogRule::kSetter);
  const u32 speed = NonZero(drive_pps);
  if (CheckDriveSpeedLimit(call, drive_pps) && call.Check(call.axis().Driving(), ERR_AXIS_STEADY)) {
    AxisBlock& b = call.shadow();
    // The multiplier is RANGE itself: neither recomputed from the new speed
    // nor the one the running move started with.
    const double multiplier = SpeedMultiplier(speed, b.range, 1);
    call.axis().Write16(cmd::kDriveSpeed, static_cast<u16>(DriveSpeedParameter(multiplier, speed)));
    b.last_drive_speed = speed;
  }
  call.Log(" RV = %5d : RVX406A_OverrideSpeed (%ld, %ld, %ld)", board, axis, speed);
}

RVX406A_API void RVX406A_Inc_OverrideMove(uint16_t board, uint16_t axis, int32_t distance) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(distance >= -kMaxDistance && distance <= kMaxDistance) &&
      CheckOverridable(call, kRelativeMove)) {
    LoadPulseCount(call.axis(), distance);
    call.shadow().move_start = 0;
    call.shadow().move_distance = distance;
  }
  call.Log(" RV = %5d : RVX406A_Inc_OverrideMove (%ld, %ld, %ld)", board, axis, distance);
}

RVX406A_API void RVX406A_Abs_OverrideMove(uint16_t board, uint16_t axis, int32_t position) {
  AxisCall call(board, axis, LogRule::kSetter);
  i32 start = 0;
  double distance = 0.0;
  if (call.Check(position != INT32_MIN) && CheckOverridable(call, kAbsoluteMove)) {
    // Measured from where the running move started, not from where it is.
    start = call.shadow().move_start;
    distance = static_cast<double>(position) - start;
    if (call.Check(std::fabs(distance) <= kMaxDistance, ERR_MAX_DISTANCE)) {
      LoadPulseCount(call.axis(), distance);
      call.shadow().move_distance = static_cast<i32>(distance);
    }
  }
  call.Log(" RV = %5d : RVX406A_Abs_OverrideMove (%ld, %ld, %ld, %ld, %ld)", board, axis, start,
           position, static_cast<int64_t>(distance));
}

}  // extern "C"
