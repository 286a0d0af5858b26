// The position compare trigger: width, output mode, a single position, and
// the compare tables that the watcher threads walk on each compare event.
#include "core/call.h"
#include "interp/events.h"
#include "platform/platform.h"

namespace rvx {
namespace {

constexpr i32 kMinPosition = -(1 << 30);
constexpr i32 kMaxPosition = (1 << 30) - 1;
constexpr i32 kMaxInterval = 1 << 30;
constexpr u32 kMaxWidth = 0x7FFFFFFF;
constexpr u32 kMaxTable = 255;
constexpr i32 kEndOfList = INT32_MIN;

constexpr u32 kCompareStatusWord = 24;  // event register window
constexpr u8 kLevelBit = 0x02;
constexpr u8 kModeBits = 0xF4;  // bits 2, 4, 5, 6, 7
// PLD register 5 bit of output modes 1..5.
constexpr u8 kModeBit[] = {0, 0x04, 0x10, 0x20, 0x40, 0x80};
constexpr u8 kCompareInterrupts = 0xE0;  // PLD register 7 bits 5..7

constexpr int kPriorityNormal = 0, kPriorityAboveNormal = 1;

bool SoftLimitsOn(const AxisBlock& b, bool either) {
  const u32 limits = b.wr2 & 3u;
  return either ? limits != 0 : limits == 3;
}
bool RingCounterOn(const AxisBlock& b) { return Bit(b.em6, 4) != 0; }

// Under the board's compare lock: the table goes, and with it what the
// watcher knew of the windows.
void DropTable(EventTables& t, u32 board) {
  t.compare[board].Free();
  t.compare_generation[board]++;
  t.window[board] = t.replaced[board] = CompareWindow{};
}

void FreeTable(u32 board) {
  EventTables& t = event_tables();
  SpinGuard guard(t.compare_lock[board]);
  DropTable(t, board);
}

// The part shared by both table functions, once their own checks passed:
// compare interrupts of the axis on, a new table, the first window loaded.
// `next(k)` yields position k, or false when the list ends it early.
template <class Next>
void LoadTable(AxisCall& call, u16 count, Next next) {
  const Axis axis = call.axis();
  if (!call.Check(!SoftLimitsOn(call.shadow(), true) && !RingCounterOn(call.shadow()),
                  ERR_COUNTER_MODE)) {
    return;
  }
  axis.SetWr1(Bits(call.shadow().wr1, {{wr1::kCompareEvent, 1}}));

  EventTables& t = event_tables();
  const u32 board = call.board_number();
  SpinGuard guard(t.compare_lock[board]);
  CompareTable& table = t.compare[board];
  table.Create(count);
  t.compare_generation[board]++;
  t.replaced[board] = t.window[board];
  for (u32 k = 0; k < count; ++k) {
    i32 position = 0;
    if (!next(k, &position)) {
      call.Fail(ERR_INVALID_PARAMETER);
      return;
    }
    table.Add(position);
  }
  const i32 first = static_cast<i32>(table.Take());
  LoadCompareWindow(axis, first, call.shadow().comp_width);
  t.window[board] = CompareWindow{true, call.axis_number(), first};
  t.compare_axis = call.axis_number();
}

}  // namespace

void CompareTable::Create(u32 capacity) {
  slots_.assign(capacity, 0.0);
  write_ = read_ = 0;
}

void CompareTable::Free() {
  slots_.clear();
  slots_.shrink_to_fit();
  write_ = read_ = 0;
}

void CompareTable::Add(f64 position) {
  const u32 size = static_cast<u32>(slots_.size());
  if (size == 0) return;
  const u32 next = (write_ + 1) % size;
  slots_[write_] = position;
  // A full table keeps its last slot; the walk then comes round to it anyway.
  if (next != read_) write_ = next;
}

f64 CompareTable::Take() {
  if (slots_.empty()) return 0;
  const f64 position = slots_[read_];
  read_ = read_ != write_ ? (read_ + 1) % static_cast<u32>(slots_.size()) : 0;
  return position;
}

void LoadCompareWindow(const AxisIo& axis, i32 position, u32 width) {
  axis.Write32(cmd::kCompMinus, WrapAdd(position, -1));
  axis.Write32(cmd::kCompPlus, WrapAdd(position, static_cast<i32>(width + 1)));
}

}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetCompTrgWidth(uint16_t board, uint16_t axis, uint32_t width) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(width != 0 && width <= kMaxWidth)) StoreShared(call.shadow().comp_width, width);
  call.Log(" RV = %5d : RVX406A_SetCompTrgWidth (%ld, %ld, %ld)", board, axis, width);
}

RVX406A_API uint32_t RVX406A_GetCompTrgWidth(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kGetter);
  const u32 width = call.ok() ? call.shadow().comp_width : 0;
  call.Log(" RV = %5d : RVX406A_GetCompTrgWidth (%ld, %ld, %ld)", board, axis, width);
  return width;
}

RVX406A_API void RVX406A_SetCompTrgMode(uint16_t board, uint16_t level, uint16_t mode) {
  BoardCall call(board, LogRule::kSetter);
  if (call.Check(level <= 1 && mode <= 5)) {
    const BoardIo& io = call.io();
    u8 reg = io.Pld(pld::kEmgCmp);
    reg = static_cast<u8>((reg & ~(kLevelBit | kModeBits)) | (level ? kLevelBit : 0) |
                          kModeBit[mode]);
    io.SetPld(pld::kEmgCmp, reg);
  }
  call.Log(" RV = %5d : RVX406A_SetCompTrgMode (%ld, %ld, %ld)", board, level, mode);
}

RVX406A_API void RVX406A_GetCompTrgMode(uint16_t board, uint16_t* level, uint16_t* mode) {
  ZeroOutputs(level, mode);
  u16 got_level = 0, got_mode = 0;
  {
    BoardCall call(board, LogRule::kGetter);
    if (call.CheckPointers(level, mode)) {
      const u8 reg = call.io().Pld(pld::kEmgCmp);
      got_level = (reg & kLevelBit) ? 1 : 0;
      for (u16 m = 1; m <= 5; ++m) {
        if (reg & kModeBit[m]) got_mode = m;  // the highest set bit wins
      }
      *level = got_level;
      *mode = got_mode;
    }
    call.Log(" RV = %5d : RVX406A_GetCompTrgMode (%ld, %ld, %ld)", board, got_level, got_mode);
  }
}

RVX406A_API void RVX406A_SetCompTrgOneData(uint16_t board, uint16_t axis, int32_t position) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(position >= kMinPosition && position <= kMaxPosition)) {
    const int64_t end = static_cast<int64_t>(position) + call.shadow().comp_width;
    if (call.Check(end <= kMaxPosition, ERR_MAX_DISTANCE) &&
        call.Check(!SoftLimitsOn(call.shadow(), false) && !RingCounterOn(call.shadow()),
                   ERR_COUNTER_MODE)) {
      // The lock keeps a refill in flight from landing after this window.
      EventTables& t = event_tables();
      SpinGuard guard(t.compare_lock[board]);
      DropTable(t, board);
      LoadCompareWindow(call.axis(), position, call.shadow().comp_width);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetCompTrgOneData (%ld, %ld, %ld)", board, axis, position);
}

RVX406A_API void RVX406A_SetInitCompTrg(uint16_t board) {
  BoardCall call(board, LogRule::kSetter);
  if (call.ok()) {
    const BoardIo& io = call.io();
    FreeTable(board);
    const u8 reg7 = io.Pld(pld::kInterruptEnable);
    io.SetPld(pld::kInterruptEnable, static_cast<u8>((reg7 & ~0x20u) | 0xC0u));
    io.SetPld(pld::kAck8, 0);
    io.SetEventWord(kCompareStatusWord, 0);
    os::Handle watcher = call.process().watcher[board];
    if (call.Check(watcher != nullptr, ERR_THREAD_CREATE)) {
      os::SetThreadPriority(watcher, kPriorityAboveNormal);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetInitCompTrg (%ld)", board);
}

RVX406A_API void RVX406A_SetFreeCompTrg(uint16_t board) {
  BoardCall call(board, LogRule::kSetter);
  if (call.ok()) {
    const BoardIo& io = call.io();
    const u8 reg7 = io.Pld(pld::kInterruptEnable);
    io.SetPld(pld::kInterruptEnable, static_cast<u8>(reg7 & ~kCompareInterrupts));
    io.SetPld(pld::kAck8, 0);
    FreeTable(board);
    os::Handle watcher = call.process().watcher[board];
    if (watcher != nullptr) os::SetThreadPriority(watcher, kPriorityNormal);
    io.SetEventWord(kCompareStatusWord, 0);
  }
  call.Log(" RV = %5d : RVX406A_SetFreeCompTrg (%ld)", board);
}

RVX406A_API void RVX406A_SetCompTrgTable(uint16_t board, uint16_t axis, uint16_t count,
                                         const int32_t* positions) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(count >= 1 && count <= kMaxTable && positions != nullptr)) {
    LoadTable(call, count, [positions](u32 k, i32* position) {
      *position = positions[k];
      return positions[k] != kEndOfList;
    });
  }
  call.Log(" RV = %5d : RVX406A_SetCompTrgTable (%ld, %ld, %ld, 0x%08X )", board, axis, count,
           static_cast<const void*>(positions));
}

RVX406A_API void RVX406A_SetCompTrgContTable(uint16_t board, uint16_t axis, uint16_t count,
                                             int32_t start, int32_t interval) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(count >= 1 && count <= kMaxTable && start >= kMinPosition &&
                 start <= kMaxPosition && interval >= 1 && interval <= kMaxInterval)) {
    // Positions past the 32-bit range wrap, as the chip's counters do.
    LoadTable(call, count, [start, interval](u32 k, i32* position) {
      *position = WrapAdd(start, static_cast<i32>(k * static_cast<u32>(interval)));
      return true;
    });
  }
  call.Log(" RV = %5d : RVX406A_SetCompTrgContTable (%ld, %ld, %ld, %ld, %ld )", board, axis, count,
           start, interval);
}

}  // extern "C"
