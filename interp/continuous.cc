// The continuous interpolation table: one per process, up to 255 two-axis
// segments kept relative to the previous end point, of which the first can
// be handed to the chip while an interpolation runs, so that the chip starts
// it as soon as the running one ends.
#include <cstdint>
#include <new>

#include "interp/interp.h"

namespace rvx {
namespace {

ContiEntry*& Table() { return process().conti_table; }

void FreeTable() {
  delete[] Table();
  Table() = nullptr;
}

// Under the mutex, after every change of the table: the count of the first
// segment handed to the chip (only segment 0 ever is), else 0.
void PublishContiNumber() {
  const ContiEntry* table = Table();
  const u16 number = table != nullptr && table[0].started == 1 ? table[0].count : 0;
  process().conti_number.store(number, std::memory_order_relaxed);
}

// The segment type as the table keeps it: anything above 2 is the 0x33 arc.
constexpr u16 kLineSegment = 0, kArcCwSegment = 1, kArcCcwSegment = 2;

// Segment coordinates wrap as the chip's 32-bit registers do.
i32 Difference(i32 a, i32 b) { return static_cast<i32>(static_cast<u32>(a) - static_cast<u32>(b)); }

u16 StartCommand(u16 type) {
  if (type == kLineSegment) return cmd::kLine2;
  return type == kArcCwSegment ? cmd::kArcCw : cmd::kArcCcw;
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API int32_t RVX406A_SetInitContiTable(void) {
  Call call(LogRule::kSetter);
  if (call.ok()) {
    FreeTable();
    Table() = new (std::nothrow) ContiEntry[kContiEntries]();
    call.Check(Table() != nullptr, ERR_ALLOCATE_BUF);
    PublishContiNumber();
  }
  call.Log(" RV = %5d : RVX406A_SetInitContiTable ()");
  return 1;
}

RVX406A_API int32_t RVX406A_SetFreeContiTable(void) {
  Call call(LogRule::kSetter);
  if (call.ok()) {
    FreeTable();
    PublishContiNumber();
  }
  call.Log(" RV = %5d : RVX406A_SetFreeContiTable ()");
  return 1;
}

RVX406A_API int32_t RVX406A_SetContiDataTable(uint16_t board, uint32_t count,
                                              RVX406A_CONTI_SEGMENT* segments) {
  BoardCall call(board, LogRule::kSetter);
  ContiEntry* table = Table();
  if (call.ok() && call.Check(table != nullptr, ERR_ALLOCATE_BUF) &&
      call.Check(count <= kContiEntries, ERR_BUF_DATA_OVERFLOW) &&
      call.Check(count == 0 || segments != nullptr)) {
    // The call names no group: segment 0 starts from axis 0's logical
    // position, read once per coordinate.
    i32 start1 = call.axis_at(0).LogicalPosition();
    i32 start2 = call.axis_at(0).LogicalPosition();
    for (u32 i = 0; i < count; ++i) {
      RVX406A_CONTI_SEGMENT& s = segments[i];
      if (s.type > kArcCcwSegment) s.type = kArcCcwSegment;
      ContiEntry& e = table[i];
      e.end1 = Difference(s.end1, start1);
      e.end2 = Difference(s.end2, start2);
      e.centre1 = Difference(s.center1, start1);
      e.centre2 = Difference(s.center2, start2);
      e.type = s.type;
      e.started = 0;
      start1 = s.end1;
      start2 = s.end2;
    }
    table[0].count = static_cast<u16>(count);
    PublishContiNumber();
  }
  call.Log(" RV = %5d : RVX406A_SetContiDataTable (%d, %d, 0x%08X)", board, count,
           static_cast<const void*>(segments));
  return 1;
}

RVX406A_API uint16_t RVX406A_GetCurContiNum(void) {
  return process().conti_number.load(std::memory_order_relaxed);
}

// Reports nothing: neither a refusal nor an idle chip leaves a trace in the
// last result or the log.
RVX406A_API void RVX406A_Conti_Move(uint16_t board, uint16_t map) {
  BoardCall call(board, LogRule::kSetter);
  const i32 kept = call.process().last_result;
  ContiEntry* table = Table();
  if (call.ok() && table != nullptr && map <= kMaxMapNumber) {
    const BoardIo& io = call.io();
    const u16 word = MapWord(call, map);
    const Axis a1 = call.axis_at(word & 3u), a2 = call.axis_at((word >> 2) & 3u);
    if (word & kArcModeBit) WriteInterpolationMode(a1, ArcWr3(a1.block().wr3));
    io.SetChip(chip::kWr5, static_cast<u16>((word & ~kArcModeBit) | kContinuousBit));
    const u16 rr0 = io.Chip(chip::kRr0);
    if (Bit(rr0, a1.number()) && (rr0 & kInterpolationBusy)) {
      // The profile stored by SetIPPosSpeed, without jerks: the chip chains
      // the segment at the running path speed.
      AxisBlock& b = a1.block();
      b.last_drive_speed = b.int_drive_pps;
      const double m = SpeedMultiplier(b.int_drive_pps, b.range, b.fixed_range);
      a1.Write32(cmd::kRange, static_cast<i32>(RangeParameter(m)));
      a2.Write32(cmd::kRange, static_cast<i32>(ArcRangeParameter(m)));
      a1.Write16(cmd::kAcc, static_cast<u16>(b.int_acc));
      a1.Write16(cmd::kDec, static_cast<u16>(b.int_dec));
      a1.Write16(cmd::kInitialSpeed, static_cast<u16>(b.int_start));
      a1.Write16(cmd::kDriveSpeed, static_cast<u16>(b.int_drive));
      ContiEntry& segment = table[0];
      if (segment.type != kLineSegment) {
        a1.Write32(cmd::kCenter, segment.centre1);
        a2.Write32(cmd::kCenter, segment.centre2);
      }
      a1.Write32(cmd::kPulseCount, segment.end1);
      a2.Write32(cmd::kPulseCount, segment.end2);
      io.Command(StartCommand(segment.type));
      segment.started = 1;
      PublishContiNumber();
    }
  }
  call.SetResult(kept);
}

RVX406A_API void RVX406A_Const_Move(uint16_t board, uint16_t) {
  BoardCall call(board, LogRule::kSetter);
  call.SetResult(call.process().last_result);
}

}  // extern "C"
