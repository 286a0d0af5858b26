// Input noise filters of an axis (the high byte of its EM6 word) and the
// compare counter mode (WR2 bit 5).
#include "signals/signals.h"

namespace rvx {
namespace {

// The filter time code (EM6 bits 13..15) is shared by all input groups.
constexpr u16 kMaxFilterTime = 7;

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetFilterTime(uint16_t board, uint16_t axis, uint16_t time) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(time <= kMaxFilterTime))
    call.axis().SetEm6(static_cast<u16>(Field(call.shadow().em6, em6::kFilterTimeShift, 3, time)));
  call.Log(" RV = %5d : RVX406A_SetFilterTime (%ld, %ld, %ld)", board, axis, time);
}

RVX406A_API uint16_t RVX406A_GetFilterTime(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 time = call.ok() ? static_cast<u16>(call.shadow().em6 >> em6::kFilterTimeShift) : 0;
  call.Log(" RV = %5d : RVX406A_GetFilterTime (%ld, %ld, %ld)", board, axis, time);
  return time;
}

RVX406A_API void RVX406A_SetFilterSensor(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kSensorFilter, on);
  call.Log(" RV = %5d : RVX406A_SetFilterSensor (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetFilterSensor(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Em6Bit(call, em6::kSensorFilter);
  call.Log(" RV = %5d : RVX406A_GetFilterSensor (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_SetFilterEncoderZ(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kEncoderZFilter, on);
  call.Log(" RV = %5d : RVX406A_SetFilterEncoderZ (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetFilterEncoderZ(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Em6Bit(call, em6::kEncoderZFilter);
  call.Log(" RV = %5d : RVX406A_GetFilterEncoderZ (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_SetFilterSvIF(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kServoIfFilter, on);
  call.Log(" RV = %5d : RVX406A_SetFilterSvIF (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetFilterSvIF(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Em6Bit(call, em6::kServoIfFilter);
  call.Log(" RV = %5d : RVX406A_GetFilterSvIF (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_SetFilterStop(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kStopFilter, on);
  call.Log(" RV = %5d : RVX406A_SetFilterStop (%ld, %ld, %ld)", board, axis, on);
}

// Unlike its siblings this one logs by the level-3 rule and without the value.
RVX406A_API uint16_t RVX406A_GetFilterStop(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kLevel3);
  const u16 on = Em6Bit(call, em6::kStopFilter);
  call.Log(" RV = %5d : RVX406A_GetFilterStop (%ld, %ld)", board, axis);
  return on;
}

RVX406A_API void RVX406A_SetFilterExt(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kExtFilter, on);
  call.Log(" RV = %5d : RVX406A_SetFilterExt (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetFilterExt(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Em6Bit(call, em6::kExtFilter);
  call.Log(" RV = %5d : RVX406A_GetFilterExt (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_SetCompCountMode(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mode <= 1))
    call.axis().SetWr2(Bits(call.shadow().wr2, {{wr2::kCompareCounter, mode}}));
  call.Log(" RV = %5d : RVX406A_SetCompCountMode (%ld, %ld, %ld)", board, axis, mode);
}

RVX406A_API uint16_t RVX406A_GetCompCountMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 mode = call.ok() ? static_cast<u16>(Bit(call.shadow().wr2, wr2::kCompareCounter)) : 0;
  call.Log(" RV = %5d : RVX406A_GetCompCountMode (%ld, %ld, %ld)", board, axis, mode);
  return mode;
}

}  // extern "C"
