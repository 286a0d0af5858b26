// Interrupt enables, the notification target, and the latched motion and
// digital input event status.
#include "interp/events.h"

#include "core/call.h"
#include "core/driver_port.h"
#include "platform/platform.h"

namespace rvx {
namespace {

// Event register window.
constexpr u32 kMotionStatusWord = 12;
constexpr u32 kClearedOnEnable[] = {12, 16, 18, 20, 22};
constexpr u32 kInputStatusByte = 20;  // 20..27, two bytes a module
constexpr u32 kInputStatusBytes = 8;

constexpr u16 kMaxMotionMask = 7;

// Module event mask programming; the command bytes are the module's.
constexpr u8 kMaskPrepare = 0xC6, kMaskLoad = 0xC4, kMaskLatch = 0xE4, kMaskFinish = 0xC8;

// PLD register 7 with the module interrupt bits of a board with `di_count`
// inputs: motion and each fitted module on, the others off.
u8 EnabledInterrupts(u8 reg7, u32 di_count) {
  u32 on = 0;
  switch (di_count) {
    case 16:
      on = 0x03;
      break;
    case 32:
      on = 0x07;
      break;
    case 48:
      on = 0x0F;
      break;
    case 64:
      on = 0x1F;
      break;
    default:
      return reg7;
  }
  return static_cast<u8>((reg7 & ~0x1Fu) | on);
}

// The modules whose event registers a board has: only four-axis boards with
// 16 to 64 inputs in whole modules.
u32 EventModules(const BoardRecord& r) {
  const bool whole = r.di_count == 16 || r.di_count == 32 || r.di_count == 48 || r.di_count == 64;
  return r.axis_count == kAxesPerBoard && whole ? r.di_count / 16 : 0;
}

}  // namespace

EventTables& event_tables() {
  static EventTables instance;
  return instance;
}

NotifyTarget CurrentTarget() {
  EventTables& t = event_tables();
  SpinGuard guard(t.target_lock);
  return t.target;
}

}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetEventEnable(uint16_t board, uint16_t enable) {
  BoardCall call(board, LogRule::kSetter);
  if (call.Check(enable <= 1)) {
    const BoardIo& io = call.io();
    for (const u32 word : kClearedOnEnable) io.SetEventWord(word, 0);
    const u8 reg7 = io.Pld(pld::kInterruptEnable);
    io.SetPld(pld::kInterruptEnable, enable ? EnabledInterrupts(reg7, call.record().di_count)
                                            : static_cast<u8>(reg7 & ~0x1Fu));
    io.Pld(pld::kAck8);
    SendEventRequest(io.device(), enable ? ioctl::kEnableEvent : ioctl::kDisableEvent,
                     call.process().event[board]);
  }
  call.Log(" RV = %5d : RVX406A_SetEventEnable (%ld, %ld)", board, enable);
}

RVX406A_API void RVX406A_SetEventHandler(uint16_t board, uint16_t mode, void* target,
                                         uint32_t message) {
  BoardCall call(board, LogRule::kSetter);
  if (call.Check(mode <= 1)) {
    EventTables& t = event_tables();
    SpinGuard guard(t.target_lock);
    if (mode == 0) {
      t.target = NotifyTarget{target, message, nullptr};
    } else {
      t.target = NotifyTarget{nullptr, 0, reinterpret_cast<RVX406A_EVENT_CALLBACK>(target)};
    }
  }
  call.Log(" RV = %5d : RVX406A_SetEventHandler (%ld, %ld, 0x%08X, %ld)", board, mode,
           static_cast<const void*>(target), message);
}

RVX406A_API void RVX406A_SetMotEventMask(uint16_t board, uint16_t axis, uint16_t mask) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(mask <= kMaxMotionMask)) {
    const u16 kept = call.shadow().wr1 & ~(kMaxMotionMask << wr1::kMotionEventShift);
    call.axis().SetWr1(static_cast<u16>(kept | mask << wr1::kMotionEventShift));
  }
  call.Log(" RV = %5d : RVX406A_SetMotEventMask (%ld, %ld, 0x%08X)", board, axis, mask);
}

RVX406A_API void RVX406A_GetMotEventStatus(uint16_t board, uint16_t axis, uint16_t* status) {
  ZeroOutputs(status);
  u16 value = 0;
  {
    AxisCall call(board, axis, LogRule::kGetter);
    if (call.CheckPointers(status)) {
      value = static_cast<u16>(call.io().EventWord(kMotionStatusWord) >> 5);
      call.io().SetEventWord(kMotionStatusWord, 0);
      *status = value;
    }
    call.Log(" RV = %5d : RVX406A_GetMotEventStatus (%ld, %ld, 0x%08X)", board, axis, value);
  }
}

RVX406A_API void RVX406A_SetDiEventMask(uint16_t board, uint32_t mask_low, uint32_t mask_high) {
  BoardCall call(board, LogRule::kLevel3);
  if (call.ok()) {
    const BoardIo& io = call.io();
    const u32 masks[4] = {mask_low & 0xFFFF, mask_low >> 16, mask_high & 0xFFFF, mask_high >> 16};
    const u32 modules = EventModules(call.record());
    for (u32 m = 1; m <= modules; ++m) {
      const u32 base = pld::ModuleBase(m);
      const u32 mask = masks[m - 1];
      io.SetPld(base + pld::kModuleDataLow, 0xFF);
      io.SetPld(base + pld::kModuleDataHigh, 0xFF);
      io.SetPld(base + pld::kModuleCommand, kMaskPrepare);
      io.SetPld(base + pld::kModuleDataLow, static_cast<u8>(mask));
      io.SetPld(base + pld::kModuleDataHigh, static_cast<u8>(mask >> 8));
      io.SetPld(base + pld::kModuleCommand, kMaskLoad);
      io.SetPld(base + pld::kModuleCommand, kMaskLatch);
      io.SetPld(base + pld::kModuleDataLow, 0x00);
      io.SetPld(base + pld::kModuleDataHigh, 0x08);
      io.SetPld(base + pld::kModuleCommand, kMaskFinish);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetDiEventMask (%ld, 0x%08X, 0x%08X)", board, mask_low, mask_high);
}

RVX406A_API void RVX406A_GetDiEventStatus(uint16_t board, uint32_t* status_low,
                                          uint32_t* status_high) {
  ZeroOutputs(status_low, status_high);
  u32 low = 0, high = 0;
  {
    BoardCall call(board, LogRule::kGetter);
    if (call.CheckPointers(status_low, status_high)) {
      const BoardIo& io = call.io();
      const u32 bytes = 2 * EventModules(call.record());
      for (u32 i = 0; i < bytes; ++i) {
        const u32 byte = io.EventByte(kInputStatusByte + i);
        (i < 4 ? low : high) |= byte << (8 * (i % 4));
      }
      for (u32 i = 0; i < kInputStatusBytes; ++i) io.SetEventByte(kInputStatusByte + i, 0);
      *status_low = low;
      *status_high = high;
    }
    call.Log(" RV = %5d : RVX406A_GetDiEventStatus (%ld, 0x%08X, 0x%08X)", board, low, high);
  }
}

RVX406A_API int32_t RVX406A_GetEnableEvent(uint16_t /*board*/, uint16_t /*value*/) { return 0; }

}  // extern "C"
