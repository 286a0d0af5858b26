// Settings that tie an axis to other axes or to external pulses: the chip's
// synchronous action words, the fixed speed multiplier, the manual-pulser
// mode, and the motion direction record.
#include "motion/motion.h"

namespace rvx {
namespace {

constexpr u16 kSm6Chosen = 0x03FF;  // the caller's part of SM6; bits 10..15 are ours
constexpr u16 kPulserBits = Mask({wr3::kPulserMode0, wr3::kPulserMode1});
constexpr u16 kMaxPulserRate = 10000;

// SM6 bits 13..15 mark the axes of the mask: the first sets 13, any further
// one brings in 14 and then 15. Bits already set stay set.
u16 MarkSyncAxes(u16 word, u16 mask, u32 axis_count) {
  bool first = true;
  for (u32 a = 0; a < axis_count; ++a) {
    if (!Bit(mask, a)) continue;
    if (first) {
      word = Bits(word, {{sm6::kFirstSyncAxis, 1}});
      first = false;
      continue;
    }
    const bool has_first = Bit(word, sm6::kFirstSyncAxis);
    if (has_first && !Bit(word, sm6::kSecondSyncAxis)) {
      word = Bits(word, {{sm6::kSecondSyncAxis, 1}});
    }
    if (has_first && Bit(word, sm6::kSecondSyncAxis) && !Bit(word, sm6::kThirdSyncAxis)) {
      word = Bits(word, {{sm6::kThirdSyncAxis, 1}});
    }
  }
  return word;
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetSyncMode(uint16_t board, uint16_t axis, uint16_t axis_mask,
                                     uint16_t sm6, uint16_t sm7) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(axis_mask <= 0x0F)) {
    u16 word = MarkSyncAxes(call.shadow().sm6, axis_mask, call.record().axis_count);
    word = static_cast<u16>((word & ~kSm6Chosen) | (sm6 & kSm6Chosen));
    // The named axis takes the action word; the mask axes take the SM7 word
    // in one command, so they start together.
    call.axis().WriteSyncNoShadow(word, 0);
    const BoardIo& io = call.io();
    {
      const BoardIo::Sequence sequence(io);
      io.SetChip(chip::kWr7, sm7);
      io.SetChip(chip::kWr6, 0);
      io.Command(static_cast<u16>((axis_mask << 8) | cmd::kSyncMode));
    }
    call.shadow().sm6 = word;
    call.shadow().sm7 = sm7;
  }
  call.Log(" RV = %5d : RVX406A_SetSyncMode (%ld, %ld, %ld, %ld, %ld)", board, axis, axis_mask, sm6,
           sm7);
}

// Always 1; it only waits until no other call holds the library.
RVX406A_API int16_t RVX406A_GetSyncMode(uint16_t, uint16_t) {
  const std::lock_guard<os::ThreadLock> serial(process().calls);
  const os::Handle mutex = process().mutex;
  if (mutex != nullptr && os::WaitMutex(mutex)) os::ReleaseMutex(mutex);
  return 1;
}

RVX406A_API void RVX406A_SetFixedRange(uint16_t board, uint16_t axis, uint16_t value) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(value <= 1)) call.shadow().fixed_range = value;
  call.Log(" RV = %5d : RVX406A_SetFixedRange (%ld, %ld, %ld)", board, axis, value);
}

RVX406A_API int16_t RVX406A_GetFixedRange(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const i16 value = call.ok() ? static_cast<i16>(call.shadow().fixed_range) : 0;
  call.Log(" RV = %5d : RVX406A_GetFixedRange (%ld, %ld, %ld)", board, axis, value);
  return value;
}

RVX406A_API void RVX406A_SetExtMode(uint16_t board, uint16_t axis, uint16_t mode, uint16_t rate) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mode <= 1 && rate >= 1 && rate <= kMaxPulserRate) &&
      call.Check(!call.axis().Driving(), ERR_AXIS_DRV_BUSY)) {
    const Axis a = call.axis();
    a.SetWr3(static_cast<u16>(mode ? call.shadow().wr3 | kPulserBits
                                   : call.shadow().wr3 & ~kPulserBits));
    // In pulser mode the chip moves this many pulses per pulser edge.
    if (mode == 1) a.Write32(cmd::kPulseCount, rate);
    call.shadow().mpg_rate = rate;
    MoveTableEntry(board, axis) = kNoMove;
  }
  call.Log(" RV = %5d : RVX406A_SetExtMode (%ld, %ld, %ld, %ld)", board, axis, mode, rate);
}

RVX406A_API void RVX406A_GetExtMode(uint16_t board, uint16_t axis, uint16_t* mode, uint16_t* rate) {
  ZeroOutputs(mode, rate);
  AxisCall call(board, axis, LogRule::kGetter);
  if (call.CheckPointers(mode, rate)) {
    *mode = InManualPulserMode(call.shadow()) ? 1 : 0;
    *rate = call.shadow().mpg_rate;
  }
  call.Log(" RV = %5d : RVX406A_GetExtMode (%ld, %ld, %ld, %ld)", board, axis, Shown(mode),
           Shown(rate));
}

RVX406A_API uint32_t RVX406A_GetMotionDir(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u32 direction = call.ok() ? call.shadow().motion_dir : 0;
  call.Log(" RV = %5d : RVX406A_GetMotionDir (%ld, %ld, %ld)", board, axis, direction);
  return direction;
}

// Names kept so that applications built against them still link; they do
// nothing (pulser motion is set up with SetExtMode).
RVX406A_API void RVX406A_Ext_Abs_Move(uint16_t, uint16_t, int32_t) {}
RVX406A_API void RVX406A_Ext_Inc_Move(uint16_t, uint16_t, int32_t) {}
RVX406A_API void RVX406A_Ext_Jog_Move(uint16_t, uint16_t) {}
RVX406A_API void RVX406A_Mpg_Abs_Move(uint16_t, uint16_t, int32_t) {}
RVX406A_API void RVX406A_Mpg_Inc_Move(uint16_t, uint16_t, int32_t) {}
RVX406A_API void RVX406A_Mpg_Jog_Move(uint16_t, uint16_t) {}

}  // extern "C"
