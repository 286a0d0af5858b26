// The stored speed settings of an axis: profile shape, positioning and jog
// profiles, acceleration counter offset. Profiles are only stored: every move
// recomputes its chip parameters from the caller's values when it starts.
#include "motion/motion.h"
#include "motion/profile.h"

namespace rvx {
namespace {

constexpr i32 kMinAccOffset = -32768;
constexpr i32 kMaxAccOffset = 32767;

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetSpeedMode(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mode <= 1)) call.axis().SetWr3(Bits(call.shadow().wr3, {{wr3::kSCurve, mode}}));
  call.Log(" RV = %5d : RVX406A_SetSpeedMode (%ld, %ld, %ld)", board, axis, mode);
}

RVX406A_API uint16_t RVX406A_GetSpeedMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 mode = call.ok() ? static_cast<u16>(Bit(call.shadow().wr3, wr3::kSCurve)) : 0;
  call.Log(" RV = %5d : RVX406A_GetSpeedMode (%ld, %ld, %ld)", board, axis, mode);
  return mode;
}

RVX406A_API void RVX406A_SetPosSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms) {
  AxisCall call(board, axis, LogRule::kSetter);
  const ProfileInput given{start_pps, drive_pps, acc_ms, dec_ms};
  if (CheckSpeedLimits(call, ProfileKind::kPositioning, given)) {
    StoreProfile(call.shadow(), kPositioningSlot, given);
  }
  call.Log(" RV = %5d : RVX406A_SetPosSpeed (%ld, %ld, %ld, %ld, %ld, %ld)", board, axis, start_pps,
           drive_pps, acc_ms, dec_ms);
}

RVX406A_API void RVX406A_GetPosSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms) {
  ZeroOutputs(start_pps, drive_pps, acc_ms, dec_ms);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(start_pps, drive_pps, acc_ms, dec_ms)) {
    const AxisBlock& b = call.shadow();
    *start_pps = b.pos_start_pps;
    *drive_pps = b.pos_drive_pps;
    *acc_ms = b.pos_acc_ms;
    *dec_ms = b.pos_dec_ms;
  }
  call.Log(" RV = %5d : RVX406A_GetPosSpeed (%ld, %ld, %ld, %ld, %ld, %ld)", board, axis,
           Shown(start_pps), Shown(drive_pps), Shown(acc_ms), Shown(dec_ms));
}

RVX406A_API void RVX406A_SetJogSpeed(uint16_t board, uint16_t axis, uint32_t start_pps,
                                     uint32_t drive_pps, uint32_t acc_ms) {
  AxisCall call(board, axis, LogRule::kSetter);
  const ProfileInput given{start_pps, drive_pps, acc_ms, acc_ms};
  if (CheckSpeedLimits(call, ProfileKind::kContinuous, given)) {
    StoreProfile(call.shadow(), kJogSlot, given);
  }
  call.Log(" RV = %5d : RVX406A_SetJogSpeed (%ld, %ld, %ld, %ld, %ld)", board, axis, start_pps,
           drive_pps, acc_ms);
}

RVX406A_API void RVX406A_GetJogSpeed(uint16_t board, uint16_t axis, uint32_t* start_pps,
                                     uint32_t* drive_pps, uint32_t* acc_ms) {
  ZeroOutputs(start_pps, drive_pps, acc_ms);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(start_pps, drive_pps, acc_ms)) {
    const AxisBlock& b = call.shadow();
    *start_pps = b.jog_start_pps;
    *drive_pps = b.jog_drive_pps;
    *acc_ms = b.jog_acc_ms;
  }
  call.Log(" RV = %5d : RVX406A_GetJogSpeed (%ld, %ld, %ld, %ld, %ld)", board, axis,
           Shown(start_pps), Shown(drive_pps), Shown(acc_ms));
}

RVX406A_API void RVX406A_SetAccOffset(uint16_t board, uint16_t axis, int32_t offset) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(offset >= kMinAccOffset && offset <= kMaxAccOffset)) {
    call.axis().Write16(cmd::kAccOffset, static_cast<u16>(offset));
    call.shadow().acc_offset = offset;
  }
  call.Log(" RV = %5d : RVX406A_SetAccOffset (%ld, %ld, %ld)", board, axis, offset);
}

RVX406A_API int32_t RVX406A_GetAccOffset(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i32 offset = call.ok() ? call.shadow().acc_offset : 0;
  call.Log(" RV = %5d : RVX406A_GetAccOffset (%ld, %ld, %ld)", board, axis, offset);
  return offset;
}

}  // extern "C"
