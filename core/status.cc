// The read-out side of an axis: raw status words, the composite card status
// word, the position counters and the current drive speed.
#include <cmath>
#include <limits>

#include "core/call.h"

namespace rvx {
namespace {

// Speed multiplier bounds of the chip, and the drive speed one step covers.
constexpr double kMinMultiplier = 1.0;
constexpr double kMaxMultiplier = 500.0;
constexpr double kPpsPerMultiplier = 8000.0;

// The axis's input byte from RR4 (axes 0, 1) or RR5 (axes 2, 3), active high.
u32 InputByte(u16 active_high_rr4, u16 active_high_rr5, u32 axis) {
  const u16 word = axis < 2 ? active_high_rr4 : active_high_rr5;
  return (word >> (8 * (axis % 2))) & 0xFFu;
}

// Builds the card status word; the reads go RR0, RR4, RR5, then RR2 of the
// selected axis.
u16 CardStatus(const AxisCall& call) {
  const BoardIo& io = call.io();
  const u32 a = call.axis_number();
  const u16 rr0 = io.Chip(chip::kRr0);
  const u16 wr1 = call.shadow().wr1;
  const u16 wr2 = call.shadow().wr2;
  const u16 wr4 = call.board_values().wr4;
  const u16 rr4 = static_cast<u16>(~io.Chip(chip::kRr4));
  const u16 rr5 = static_cast<u16>(~io.Chip(chip::kRr5));
  const u16 rr2 = call.axis().ReadSelected(chip::kRr2);
  const u32 in = InputByte(rr4, rr5, a);
  // An input reads as its signal level, turned over where the configured
  // logic makes the other level the active one.
  const auto level = [in](u32 bit, bool turned) { return Bit(in, bit) ^ (turned ? 1u : 0u); };

  const BitValue bits[] = {
      {0, level(input::kHome, AllSet(wr1, Mask({wr1::kNearHomeLogic, wr1::kHomeLogic})))},
      {1, level(input::kEncoderZ, Bit(wr1, wr1::kEncoderZLogic) != 0)},
      {2, Bit(rr2, rr2::kEmergency)},
      {3, level(input::kInPosition, Bit(wr2, wr2::kInPositionLogic) != 0)},
      {4, level(input::kAlarm, Bit(wr2, wr2::kAlarmLogic) != 0)},
      {5, level(input::kHardLimitPlus, Bit(rr2, rr2::kHardLimitPlus) != 0)},
      {6, level(input::kHardLimitMinus, Bit(rr2, rr2::kHardLimitMinus) != 0)},
      {8, Bit(rr0, a)},
      {9, Bit(rr0, 4 + a)},
      {11, Bit(call.shadow().home_ok, 0)},
      {12, Bit(rr0, 8)},
      {13, Bit(wr4, wr4::OutputBit(a, wr4::kOutput2))},
      {14, Bit(wr4, wr4::OutputBit(a, wr4::kServoOn))},
      {15, Bit(wr4, wr4::OutputBit(a, wr4::kAlarmReset))},
  };
  u16 word = 0;
  for (const BitValue& b : bits) word = Bits(word, {b});
  return word;
}

// A double truncated toward zero; out-of-range values give INT32_MIN, as the
// conversion instruction of the library's home platform does.
i32 TruncateToI32(double value) {
  if (!(value > -2147483649.0 && value < 2147483648.0)) return std::numeric_limits<i32>::min();
  return static_cast<i32>(value);
}

i32 CommandSpeed(const AxisCall& call) {
  const i32 reading = call.axis().Read32(cmd::kReadSpeed);
  const AxisBlock& block = call.shadow();
  if (block.fixed_range != 0) {
    // The chip's 32-bit product: wraps rather than overflows.
    return static_cast<i32>(static_cast<u32>(reading) * block.range);
  }
  // The multiplier the motion functions chose for the last drive speed.
  double m = block.last_drive_speed / kPpsPerMultiplier;
  if (m < kMinMultiplier) {
    m = kMinMultiplier;
  } else if (m > kMaxMultiplier) {
    m = kMaxMultiplier;
  }
  if (m >= block.range) m = block.range;
  return TruncateToI32(reading * std::ceil(m));
}

// RR0 bits 8..14 and the axis's bits a and 4 + a.
u16 MainStatusMask(u32 axis) { return static_cast<u16>(0x7F00u | (0x11u << axis)); }

// Inputs of axes 1 and 3 stay in the high byte.
u16 InputStatus(const BoardIo& io, u32 axis) {
  const u16 active_high = static_cast<u16>(~io.Chip(axis < 2 ? chip::kRr4 : chip::kRr5));
  return active_high & (axis % 2 == 0 ? 0x00FEu : 0xFE00u);
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API uint16_t RVX406A_GetCardStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? CardStatus(call) : 0;
  call.Log(" RV = %5d : RVX406A_GetCardStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API uint16_t RVX406A_GetMainStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? call.io().Chip(chip::kRr0) & MainStatusMask(axis) : 0;
  call.Log(" RV = %5d : RVX406A_GetMainStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API uint16_t RVX406A_GetDrvStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? call.axis().ReadSelected(chip::kRr1) : 0;
  call.Log(" RV = %5d : RVX406A_GetDrvStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API uint16_t RVX406A_GetErrStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? call.axis().ReadSelected(chip::kRr2) : 0;
  call.Log(" RV = %5d : RVX406A_GetErrStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API uint16_t RVX406A_GetInputStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? InputStatus(call.io(), axis) : 0;
  call.Log(" RV = %5d : RVX406A_GetInputStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API uint16_t RVX406A_GetEventStatus(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 status = call.ok() ? call.axis().ReadSelected(chip::kRr3) & 0x00FFu : 0;
  call.Log(" RV = %5d : RVX406A_GetEventStatus (%ld, %ld, 0x%08X)", board, axis, status);
  return status;
}

RVX406A_API int32_t RVX406A_GetCommandPos(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i32 position = call.ok() ? call.axis().LogicalPosition() : 0;
  call.Log(" RV = %5d : RVX406A_GetCommandPos (%ld, %ld, %ld)", board, axis, position);
  return position;
}

RVX406A_API int32_t RVX406A_GetActualPos(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i32 position = call.ok() ? call.axis().RealPosition() : 0;
  call.Log(" RV = %5d : RVX406A_GetActualPos (%ld, %ld, %ld)", board, axis, position);
  return position;
}

RVX406A_API int32_t RVX406A_GetCommandSpeed(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i32 speed = call.ok() ? CommandSpeed(call) : 0;
  call.Log(" RV = %5d : RVX406A_GetCommandSpeed (%ld, %ld, %ld)", board, axis, speed);
  return speed;
}

// -2147483648 cannot be written: the counter's range is symmetric.
RVX406A_API void RVX406A_SetCommandPos(uint16_t board, uint16_t axis, int32_t position) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(position != std::numeric_limits<i32>::min())) {
    call.axis().Write32(cmd::kSetLogical, position);
  }
  call.Log(" RV = %5d : RVX406A_SetCommandPos (%ld, %ld, %ld)", board, axis, position);
}

RVX406A_API void RVX406A_SetActualPos(uint16_t board, uint16_t axis, int32_t position) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(position != std::numeric_limits<i32>::min())) {
    call.axis().Write32(cmd::kSetReal, position);
  }
  call.Log(" RV = %5d : RVX406A_SetActualPos (%ld, %ld, %ld)", board, axis, position);
}

// Exported so that applications that call them still link; they do nothing.
RVX406A_API void RVX406A_SetEnableEvent(uint16_t /*board*/, uint16_t /*axis*/, uint16_t /*value*/) {
}
RVX406A_API void RVX406A_SetIpExtPulse(uint16_t /*board*/, uint16_t /*map*/, uint16_t /*value*/) {}

}  // extern "C"
