// Servo and sensor signals of an axis: servo-on and alarm-reset outputs,
// alarm, in-position, limit, home and Z-phase inputs, the deviation counter
// clear, the board's emergency and servo-run settings, and the decoding of
// the chip's error register into a stop cause.
#include "motion/motion.h"
#include "signals/signals.h"

namespace rvx {
namespace {

// Sets the axis's output bit and writes the whole WR4 word: the register is
// shared, so the shadow carries the other axes' outputs along.
void PutOutput(const AxisCall& call, u32 output, u16 on) {
  u16& wr4 = call.board_values().wr4;
  const u16 value = Bits(wr4, {{wr4::OutputBit(call.axis_number(), output), on}});
  call.io().SetChip(chip::kWr4, value);
  wr4 = value;
}

u16 Output(const AxisCall& call, u32 output) {
  return call.ok() ? static_cast<u16>(
                         Bit(call.board_values().wr4, wr4::OutputBit(call.axis_number(), output)))
                   : 0;
}

}  // namespace

}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_PutSvOn(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(on <= 1)) PutOutput(call, wr4::kServoOn, on);
  call.Log(" RV = %5d : RVX406A_PutSvOn (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetSvOn(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Output(call, wr4::kServoOn);
  call.Log(" RV = %5d : RVX406A_GetSvOn (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_PutSvAlmRst(uint16_t board, uint16_t axis, uint16_t on) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(on <= 1)) PutOutput(call, wr4::kAlarmReset, on);
  call.Log(" RV = %5d : RVX406A_PutSvAlmRst (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetSvAlmRst(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 on = Output(call, wr4::kAlarmReset);
  call.Log(" RV = %5d : RVX406A_GetSvAlmRst (%ld, %ld, %ld)", board, axis, on);
  return on;
}

RVX406A_API void RVX406A_SetSvAlm(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(enable <= 1 && logic <= 1))
    call.axis().SetWr2(
        Bits(call.shadow().wr2, {{wr2::kAlarmEnable, enable}, {wr2::kAlarmLogic, logic}}));
  call.Log(" RV = %5d : RVX406A_SetSvAlm (%ld, %ld, %ld, %ld)", board, axis, enable, logic);
}

RVX406A_API void RVX406A_GetSvAlm(uint16_t board, uint16_t axis, uint16_t* enable,
                                  uint16_t* logic) {
  ZeroOutputs(enable, logic);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(enable, logic)) {
    *enable = Bit(call.shadow().wr2, wr2::kAlarmEnable);
    *logic = Bit(call.shadow().wr2, wr2::kAlarmLogic);
  }
  call.Log(" RV = %5d : RVX406A_GetSvAlm (%ld, %ld, %ld, %ld)", board, axis, Shown(enable),
           Shown(logic));
}

RVX406A_API void RVX406A_SetSvInpos(uint16_t board, uint16_t axis, uint16_t enable,
                                    uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(enable <= 1 && logic <= 1))
    call.axis().SetWr2(Bits(call.shadow().wr2,
                            {{wr2::kInPositionEnable, enable}, {wr2::kInPositionLogic, logic}}));
  call.Log(" RV = %5d : RVX406A_SetSvInpos (%ld, %ld, %ld, %ld)", board, axis, enable, logic);
}

RVX406A_API void RVX406A_GetSvInpos(uint16_t board, uint16_t axis, uint16_t* enable,
                                    uint16_t* logic) {
  ZeroOutputs(enable, logic);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(enable, logic)) {
    *enable = Bit(call.shadow().wr2, wr2::kInPositionEnable);
    *logic = Bit(call.shadow().wr2, wr2::kInPositionLogic);
  }
  call.Log(" RV = %5d : RVX406A_GetSvInpos (%ld, %ld, %ld, %ld)", board, axis, Shown(enable),
           Shown(logic));
}

RVX406A_API void RVX406A_SetHlmt(uint16_t board, uint16_t axis, uint16_t mode, uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mode <= 1 && logic <= 1)) {
    const AxisBlock& shadow = call.shadow();
    call.axis().SetWr2(Bits(shadow.wr2, {{wr2::kHardLimitMode, mode},
                                         {wr2::kHardLimitPlusLogic, logic},
                                         {wr2::kHardLimitMinusLogic, logic}}));
    if (Bit(shadow.em7, em7::kLimitAsHome)) call.axis().SetWr1(WithHomeLogic(shadow.wr1, logic));
  }
  call.Log(" RV = %5d : RVX406A_SetHlmt (%ld, %ld, %ld, %ld)", board, axis, mode, logic);
}

RVX406A_API void RVX406A_GetHlmt(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* logic) {
  ZeroOutputs(mode, logic);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(mode, logic)) {
    *mode = Bit(call.shadow().wr2, wr2::kHardLimitMode);
    *logic = HardLimitLogic(call.shadow().wr2);
  }
  call.Log(" RV = %5d : RVX406A_GetHlmt (%ld, %ld, %ld, %ld)", board, axis, Shown(mode),
           Shown(logic));
}

RVX406A_API void RVX406A_SetOrg(uint16_t board, uint16_t axis, uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(logic <= 1)) {
    const AxisBlock& shadow = call.shadow();
    const Axis chip_axis = call.axis();
    chip_axis.SetWr1(WithHomeLogic(shadow.wr1, logic));
    if (Bit(shadow.em7, em7::kLimitAsHome)) {
      // The home input is a limit input: the limit logic wins.
      const u16 limit = HardLimitLogic(shadow.wr2);
      chip_axis.SetWr2(Bits(
          shadow.wr2, {{wr2::kHardLimitPlusLogic, limit}, {wr2::kHardLimitMinusLogic, limit}}));
      chip_axis.SetWr1(Bits(shadow.wr1, {{wr1::kNearHomeLogic, limit}, {wr1::kHomeLogic, limit}}));
    }
  }
  call.Log(" RV = %5d : RVX406A_SetOrg (%ld, %ld, %ld)", board, axis, logic);
}

RVX406A_API uint16_t RVX406A_GetOrg(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 logic =
      call.ok() && AllSet(call.shadow().wr1, Mask({wr1::kNearHomeLogic, wr1::kHomeLogic})) ? 1 : 0;
  call.Log(" RV = %5d : RVX406A_GetOrg (%ld, %ld, %ld)", board, axis, logic);
  return logic;
}

RVX406A_API void RVX406A_SetEncoderZ(uint16_t board, uint16_t axis, uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(logic <= 1))
    call.axis().SetWr1(
        Bits(call.shadow().wr1, {{wr1::kEncoderZLogic, logic}, {wr1::kEncoderZEnable, 0}}));
  call.Log(" RV = %5d : RVX406A_SetEncoderZ (%ld, %ld, %ld)", board, axis, logic);
}

RVX406A_API uint16_t RVX406A_GetEncoderZ(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 logic = call.ok() ? static_cast<u16>(Bit(call.shadow().wr1, wr1::kEncoderZLogic)) : 0;
  call.Log(" RV = %5d : RVX406A_GetEncoderZ (%ld, %ld, %ld)", board, axis, logic);
  return logic;
}

RVX406A_API void RVX406A_SetSvCClr(uint16_t board, uint16_t axis, uint16_t enable, uint16_t logic) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(enable <= 1 && logic <= 1)) {
    // The clear output stays enabled whatever a valid enable says; the line
    // shows the 1 the chip gets.
    call.axis().SetEm7(Bits(call.shadow().em7,
                            {{em7::kDeviationClearEnable, 1}, {em7::kDeviationClearLogic, logic}}));
    enable = 1;
  }
  call.Log(" RV = %5d : RVX406A_SetSvCClr (%ld, %ld, %ld, %ld)", board, axis, enable, logic);
}

RVX406A_API void RVX406A_GetSvCClr(uint16_t board, uint16_t axis, uint16_t* enable,
                                   uint16_t* logic) {
  ZeroOutputs(enable, logic);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(enable, logic)) {
    *enable = Bit(call.shadow().em7, em7::kDeviationClearEnable);
    *logic = Bit(call.shadow().em7, em7::kDeviationClearLogic);
  }
  call.Log(" RV = %5d : RVX406A_GetSvCClr (%ld, %ld, %ld, %ld)", board, axis, Shown(enable),
           Shown(logic));
}

RVX406A_API void RVX406A_SetSvCClrTime(uint16_t board, uint16_t axis, uint16_t time) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(time <= 7))
    call.axis().SetEm7(
        static_cast<u16>(Field(call.shadow().em7, em7::kDeviationClearTimeShift, 3, time)));
  call.Log(" RV = %5d : RVX406A_SetSvCClrTime (%ld, %ld, %ld)", board, axis, time);
}

RVX406A_API uint16_t RVX406A_GetSvCClrTime(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 time =
      call.ok() ? static_cast<u16>(call.shadow().em7 >> em7::kDeviationClearTimeShift) : 0;
  call.Log(" RV = %5d : RVX406A_GetSvCClrTime (%ld, %ld, %ld)", board, axis, time);
  return time;
}

RVX406A_API void RVX406A_PutSvCClrCmd(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.ok()) call.axis().Command(cmd::kDeviationClear);
  call.Log(" RV = %5d : RVX406A_PutSvCClrCmd (%ld, %ld)", board, axis);
}

RVX406A_API void RVX406A_SetEmergency(uint16_t board, uint16_t mode) {
  BoardCall call(board, LogRule::kSetter);
  if (call.Check(mode <= 1)) {
    // Bits 1..7 belong to the compare trigger and go back as read.
    const u8 value = call.io().Pld(pld::kEmgCmp);
    call.io().SetPld(pld::kEmgCmp, static_cast<u8>(Field(value, pld::kEmergencyStopBit, 1, mode)));
  }
  call.Log(" RV = %5d : RVX406A_SetEmergency (%ld, %ld)", board, mode);
}

RVX406A_API uint16_t RVX406A_GetEmergency(uint16_t board) {
  BoardCall call(board, LogRule::kGetter);
  const u16 mode =
      call.ok() ? static_cast<u16>(Bit(call.io().Pld(pld::kEmgCmp), pld::kEmergencyStopBit)) : 0;
  call.Log(" RV = %5d : RVX406A_GetEmergency (%ld, %ld)", board, mode);
  return mode;
}

// Servo run is one output of the whole board: the axis is only logged.
RVX406A_API void RVX406A_PutSvRun(uint16_t board, uint16_t axis, uint16_t on) {
  BoardCall call(board, LogRule::kLevel3);
  if (call.Check(on <= 1)) {
    const u32 value = call.io().Local(local::kServoRun);
    call.io().SetLocal(local::kServoRun, Field(value, local::kServoRunOffBit, 1, on ? 0 : 1));
  }
  call.Log(" RV = %5d : RVX406A_PutSvRun (%ld, %ld, %ld)", board, axis, on);
}

RVX406A_API uint16_t RVX406A_GetSvRun(uint16_t board, uint16_t axis) {
  BoardCall call(board, LogRule::kGetter);
  const u16 on =
      call.ok() && !Bit(call.io().Local(local::kServoRun), local::kServoRunOffBit) ? 1 : 0;
  call.Log(" RV = %5d : RVX406A_GetSvRun (%ld, %ld, %ld)", board, axis, on);
  return on;
}

// The stop cause is the return value; the last result stays the frame's.
RVX406A_API int32_t RVX406A_GetMotionErrCod(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kErrorAt3);
  i32 code = 0;
  if (call.ok()) {
    const u16 rr2 = call.axis().ReadSelected(chip::kRr2);
    RecordHomeOutcome(rr2, call.shadow().home_ok, HomeTableEntry(board, axis));
    code = DecodeStopCause(rr2, StopRule::kSingleBit);
  }
  call.Log(" RV = %5d : RVX406A_GetMotionErrCod (%ld, %ld)", board, axis);
  return code;
}

}  // extern "C"
