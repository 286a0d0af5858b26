// Pulse output and encoder input modes, the speed range, and the two windows
// that share the chip's compare registers: software limits and ring counter.
#include <climits>
#include <cstddef>

#include "signals/signals.h"

namespace rvx {
namespace {

// WR2 bits 6..8 (bit 6 lowest) of pulse output modes 0..5.
constexpr u16 kPulseModes[] = {0b000, 0b010, 0b001, 0b101, 0b011, 0b111};
// WR2 bit 9 and bits 10..11 (bit 9 lowest) of encoder input modes 0..3.
constexpr u16 kEncoderModes[] = {0b000, 0b010, 0b100, 0b111};

// The plus and minus software limits, always switched together.
constexpr u16 kLimitBits = Mask({wr2::kSoftLimitPlus, wr2::kSoftLimitMinus});

// What the compare registers hold.
constexpr i32 kMinLimit = -0x40000000;
constexpr i32 kMaxLimit = 0x3FFFFFFF;
constexpr u32 kMaxRing = 0x3FFFFFFF;

constexpr u16 kMinRange = 1;
constexpr u16 kMaxRange = 500;

template <size_t N>
void SetWr2Mode(AxisCall& call, const u16 (&modes)[N], u32 shift, u16 mode) {
  if (call.Check(mode < N))
    call.axis().SetWr2(static_cast<u16>(Field(call.shadow().wr2, shift, 3, modes[mode])));
}

// The mode whose pattern the shadow holds; a pattern of no mode reads as 0.
template <size_t N>
u16 Wr2Mode(const AxisCall& call, const u16 (&modes)[N], u32 shift) {
  if (!call.ok()) return 0;
  const u32 bits = (call.shadow().wr2 >> shift) & 0x7;
  for (size_t mode = 0; mode < N; ++mode) {
    if (modes[mode] == bits) return static_cast<u16>(mode);
  }
  return 0;
}

// PLD register 5 bit 2: the compare trigger runs in the mode that owns the
// compare registers.
bool CompareTriggerOwnsRegisters(const BoardIo& io) {
  return Bit(io.Pld(pld::kEmgCmp), pld::kCompareOwnsLimitsBit) != 0;
}

void LoadCompareRegisters(const Axis& axis, i32 plus, i32 minus) {
  axis.Write32(cmd::kCompPlus, plus);
  axis.Write32(cmd::kCompMinus, minus);
}

// Limits and ring sizes are kept as doubles and go back truncated; what no
// 32-bit integer holds gives INT32_MIN, as the x86 conversion does.
i32 StoredLimit(f64 value) {
  return value > -2147483649.0 && value < 2147483648.0 ? static_cast<i32>(value) : INT_MIN;
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

// The range only takes effect at the next speed programming.
RVX406A_API void RVX406A_SetRangeMode(uint16_t board, uint16_t axis, uint16_t range) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(range >= kMinRange && range <= kMaxRange)) call.shadow().range = range;
  call.Log(" RV = %5d : RVX406A_SetRangeMode (%ld, %ld, %ld)", board, axis, range);
}

RVX406A_API uint16_t RVX406A_GetRangeMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 range = call.ok() ? call.shadow().range : 0;
  call.Log(" RV = %5d : RVX406A_GetRangeMode (%ld, %ld, %ld)", board, axis, range);
  return range;
}

RVX406A_API void RVX406A_SetPulseMode(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetWr2Mode(call, kPulseModes, wr2::kPulseModeShift, mode);
  call.Log(" RV = %5d : RVX406A_SetPulseMode (%ld, %ld, %ld)", board, axis, mode);
}

RVX406A_API uint16_t RVX406A_GetPulseMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 mode = Wr2Mode(call, kPulseModes, wr2::kPulseModeShift);
  call.Log(" RV = %5d : RVX406A_GetPulseMode (%ld, %ld, %ld)", board, axis, mode);
  return mode;
}

RVX406A_API void RVX406A_SetPulseDir(uint16_t board, uint16_t axis, uint16_t dir) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kPulseDir, dir);
  call.Log(" RV = %5d : RVX406A_SetPulseDir (%ld, %ld, %ld)", board, axis, dir);
}

RVX406A_API uint16_t RVX406A_GetPulseDir(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 dir = Em6Bit(call, em6::kPulseDir);
  call.Log(" RV = %5d : RVX406A_GetPulseDir (%ld, %ld, %ld)", board, axis, dir);
  return dir;
}

RVX406A_API void RVX406A_SetEncoderMode(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetWr2Mode(call, kEncoderModes, wr2::kEncoderModeShift, mode);
  call.Log(" RV = %5d : RVX406A_SetEncoderMode (%ld, %ld, %ld)", board, axis, mode);
}

RVX406A_API uint16_t RVX406A_GetEncoderMode(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 mode = Wr2Mode(call, kEncoderModes, wr2::kEncoderModeShift);
  call.Log(" RV = %5d : RVX406A_GetEncoderMode (%ld, %ld, %ld)", board, axis, mode);
  return mode;
}

RVX406A_API void RVX406A_SetEncoderDir(uint16_t board, uint16_t axis, uint16_t dir) {
  AxisCall call(board, axis, LogRule::kSetter);
  SetEm6Bit(call, em6::kEncoderDir, dir);
  call.Log(" RV = %5d : RVX406A_SetEncoderDir (%ld, %ld, %ld)", board, axis, dir);
}

RVX406A_API uint16_t RVX406A_GetEncoderDir(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u16 dir = Em6Bit(call, em6::kEncoderDir);
  call.Log(" RV = %5d : RVX406A_GetEncoderDir (%ld, %ld, %ld)", board, axis, dir);
  return dir;
}

// Enabled limits take the compare registers from the ring counter. The
// limits are remembered even when disabled, so that a ring counter switched
// off can put them back.
RVX406A_API void RVX406A_SetSlmt(uint16_t board, uint16_t axis, int32_t plus, int32_t minus,
                                 uint16_t enable) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(plus >= kMinLimit && plus <= kMaxLimit && minus >= kMinLimit &&
                 minus <= kMaxLimit && enable <= 1) &&
      call.Check(!CompareTriggerOwnsRegisters(call.io()), ERR_COMP_MODE)) {
    AxisBlock& shadow = call.shadow();
    const Axis chip_axis = call.axis();
    const u16 em6 = enable ? Bits(shadow.em6, {{em6::kRingCounter, 0}}) : shadow.em6;
    chip_axis.SetWr2(enable ? shadow.wr2 | kLimitBits : shadow.wr2 & ~kLimitBits);
    chip_axis.SetEm6(em6);
    if (enable) LoadCompareRegisters(chip_axis, plus, minus + 1);
    shadow.plus_softlimit = plus;
    shadow.minus_softlimit = minus;
  }
  call.Log(" RV = %5d : RVX406A_SetSlmt (%ld, %ld, %ld, %ld, %ld )", board, axis, plus, minus,
           enable);
}

RVX406A_API void RVX406A_GetSlmt(uint16_t board, uint16_t axis, int32_t* plus, int32_t* minus,
                                 uint16_t* enable) {
  ZeroOutputs(plus, minus, enable);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(plus, minus, enable)) {
    *plus = StoredLimit(call.shadow().plus_softlimit);
    *minus = StoredLimit(call.shadow().minus_softlimit);
    *enable = AllSet(call.shadow().wr2, kLimitBits) ? 1 : 0;
  }
  call.Log(" RV = %5d : RVX406A_GetSlmt (%ld, %ld, %ld, %ld, %ld )", board, axis, Shown(plus),
           Shown(minus), Shown(enable));
}

// The ring counter wraps the logical counter at command - 1 and the real one
// at actual - 1; switching it off hands the compare registers back to the
// stored software limits.
RVX406A_API void RVX406A_SetCounterRing(uint16_t board, uint16_t axis, uint32_t command,
                                        uint32_t actual, uint16_t enable) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(command >= 1 && command <= kMaxRing && actual >= 1 && actual <= kMaxRing &&
                 enable <= 1) &&
      call.Check(!CompareTriggerOwnsRegisters(call.io()), ERR_COMP_MODE)) {
    AxisBlock& shadow = call.shadow();
    const Axis chip_axis = call.axis();
    chip_axis.SetWr2(enable ? shadow.wr2 & ~kLimitBits : shadow.wr2);
    chip_axis.SetEm6(Bits(shadow.em6, {{em6::kRingCounter, enable}}));
    if (enable) {
      LoadCompareRegisters(chip_axis, static_cast<i32>(command - 1), static_cast<i32>(actual - 1));
    } else {
      // A minus limit of INT_MAX (a parameter file allows it) wraps, not overflows.
      const u32 minus = static_cast<u32>(StoredLimit(shadow.minus_softlimit)) + 1u;
      LoadCompareRegisters(chip_axis, StoredLimit(shadow.plus_softlimit), static_cast<i32>(minus));
    }
    shadow.ring_command = command;
    shadow.ring_actual = actual;
  }
  call.Log(" RV = %5d : RVX406A_SetCounterRing (%ld, %ld, %ld, %ld, %ld )", board, axis, command,
           actual, enable);
}

RVX406A_API void RVX406A_GetCounterRing(uint16_t board, uint16_t axis, uint32_t* command,
                                        uint32_t* actual, uint16_t* enable) {
  ZeroOutputs(command, actual, enable);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(command, actual, enable)) {
    *command = static_cast<u32>(StoredLimit(call.shadow().ring_command));
    *actual = static_cast<u32>(StoredLimit(call.shadow().ring_actual));
    *enable = Bit(call.shadow().em6, em6::kRingCounter);
  }
  call.Log(" RV = %5d : RVX406A_GetCounterRing (%ld, %ld, %ld, %ld, %ld )", board, axis,
           Shown(command), Shown(actual), Shown(enable));
}

}  // extern "C"
