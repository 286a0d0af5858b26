// Interpolation groups, their speed settings, linear interpolation, the
// completion test and the two interpolation stops. The group lives in the
// shared board block, so every process drives the same groups.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "core/message_pump.h"
#include "interp/interp.h"

namespace rvx {
namespace {

constexpr u16 kMapMaskLimit = 0x0F;

// An interpolation runs while its first axis and RR0 bit 8 both drive.
bool Interpolating(u16 rr0, u32 axis) { return Bit(rr0, axis) && (rr0 & kInterpolationBusy); }

// The per-axis loop of a line: distances (relative) or targets (absolute),
// one group axis after the other. A failing axis ends the loop; the axes
// before it keep what was written to them. Returns the WR3 value written to
// the last axis, whose S-curve bit shapes the path.
u16 LoadLineAxes(BoardCall& call, const Group& group, const i32* values, bool absolute,
                 Positions* at, u32* failed_axis) {
  u16 wr3 = 0;
  for (u32 i = 0; i < group.count; ++i) {
    const Axis a = call.axis_at(group.axis[i]);
    *failed_axis = a.number();
    const i32 value = values[i];
    const bool allowed =
        absolute ? value != INT32_MIN : value >= -kMaxDistance && value <= kMaxDistance;
    if (!call.Check(allowed) || !CheckGroupAxisIdle(call, a)) return wr3;
    wr3 = LineWr3(a.block().wr3);
    WriteInterpolationMode(a, wr3);
    at[i] = ReadPositions(a);
    const int64_t logical = static_cast<int64_t>(at[i].logical);
    const int64_t distance = absolute ? value - logical : value;
    if (!call.Check(std::llabs(distance) <= kMaxDistance, ERR_MAX_DISTANCE)) return wr3;
    a.Write32(cmd::kPulseCount, static_cast<i32>(distance));
    if (absolute) {
      a.block().move_start = static_cast<i32>(logical);
      a.block().move_distance = static_cast<i32>(std::llabs(distance));
    }
    MoveTableEntry(call.board_number(), a.number()) = kInterpolationMove;
  }
  return wr3;
}

// One call log line per group axis. Its second field is the first group
// axis after a start, the failing axis otherwise; a refused group gives one
// line with the map number and no value.
void Line(u16 board, u16 map, const i32* values, bool absolute, const char* format) {
  BoardCall call(board, LogRule::kSetter);
  Group group;
  Positions at[3];
  u32 shown = map;
  if (CheckMapNumber(call, map) && CheckGroup(call, map, 2, 3, &group) &&
      call.Check(values != nullptr)) {
    u32 failed = group.axis[0];
    const u16 line_wr3 = LoadLineAxes(call, group, values, absolute, at, &failed);
    if (call.ok()) StartLine(call, group, map, Bit(line_wr3, wr3::kSCurve) != 0);
    shown = call.ok() ? group.axis[0] : failed;
  }
  if (group.count == 0 || values == nullptr) {
    call.Log(format, board, shown, 0, 0.0, 0.0);
    return;
  }
  for (u32 i = 0; i < group.count; ++i)
    call.Log(format, board, shown, values[i], at[i].logical, at[i].real);
}

void InterpolationStop(u16 board, u16 map, u16 command, const char* format) {
  BoardCall call(board, LogRule::kSetter);
  Positions at;
  u32 first = 0;
  u16 rr0 = 0;
  if (CheckMapNumber(call, map) && CheckFirstAxis(call, map, &first)) {
    const Axis a = call.axis_at(first);
    a.Command(command);
    // The stop takes the group down along its ramp: wait for it, pumping
    // this thread's messages meanwhile (a quit ends the wait early).
    while (PumpOneMessage()) {
      rr0 = call.io().Chip(chip::kRr0);
      if (Bit(rr0, first) || (rr0 & kInterpolationBusy)) continue;
      at = ReadPositions(a);
      a.block().motion_dir = 0;
      HomeTableEntry(board, first) = 0;
      break;
    }
  }
  if (!Interpolating(rr0, first)) call.Log(format, board, map, at.logical, at.real);
}

}  // namespace

bool CheckMapNumber(BoardCall& call, u16 map) {
  return call.ok() && call.Check(map <= kMaxMapNumber, ERR_IP_MAP_NUMBER);
}

bool CheckGroup(BoardCall& call, u16 map, u32 min_count, u32 max_count, Group* group) {
  const MapEntry& entry = call.board_values().map[map];
  bool usable = entry.count >= min_count && entry.count <= max_count;
  for (u32 i = 0; usable && i < entry.count; ++i) usable = call.HasAxis(entry.axis[i]);
  if (!call.Check(usable, ERR_IP_MAP_AXES)) return false;
  group->count = entry.count;
  for (u32 i = 0; i < entry.count; ++i) group->axis[i] = entry.axis[i];
  return true;
}

bool CheckFirstAxis(BoardCall& call, u16 map, u32* axis) {
  *axis = call.board_values().map[map].axis[0];
  return call.Check(call.HasAxis(*axis), ERR_AXIS_NUM);
}

u16 MapWord(const BoardCall& call, u16 map) { return call.block().axis[map].wr5; }

bool CheckGroupAxisIdle(BoardCall& call, const AxisIo& axis) {
  const u16 rr0 = axis.io().Chip(chip::kRr0);
  return call.Check(!Bit(rr0, axis.number()) && !(rr0 & kInterpolationBusy), ERR_AXIS_DRV_BUSY);
}

u16 LineWr3(u16 word) {
  return Bits(word, {{wr3::kManualDecel, 0}, {wr3::kSeparateDecel, !Bit(word, wr3::kSCurve)}});
}

u16 ArcWr3(u16 word) {
  return Bits(word, {{wr3::kManualDecel, 0}, {wr3::kSeparateDecel, 0}, {wr3::kSCurve, 0}});
}

void WriteInterpolationMode(const Axis& axis, u16 wr3) {
  axis.WriteModeNoShadow(chip::kWr3, wr3);
  axis.WriteExtensionNoShadow(Bits(axis.block().em6, {{em6::kFixedPulse, 1}}), axis.block().em7);
}

double LoadPathSpeed(const Axis& first, bool s_curve) {
  AxisBlock& b = first.block();
  b.last_drive_speed = b.int_drive_pps;
  const SpeedProfile p = StoredProfile(b, kInterpolationSlot, s_curve);
  LoadRange(first, p);
  LoadSpeeds(first, p);
  return p.multiplier;
}

u32 ArcRangeParameter(double multiplier) {
  return static_cast<u32>(std::ceil(8000000.0 / multiplier * 1.414));
}

void StartLine(const BoardCall& call, const Group& group, u16 map, bool s_curve) {
  call.io().SetChip(chip::kWr5, static_cast<u16>(MapWord(call, map) & ~kWr5StartBits));
  LoadPathSpeed(call.axis_at(group.axis[0]), s_curve);
  call.io().Command(cmd::kLineStart);
  call.io().Command(group.count == 3 ? cmd::kLine3 : cmd::kLine2);
}

void StartArc(const BoardCall& call, const Group& group, u16 map, u16 command) {
  const u16 word = static_cast<u16>((MapWord(call, map) & ~kWr5StartBits) | kArcSpeedBit);
  call.io().SetChip(chip::kWr5, word);
  const double m = LoadPathSpeed(call.axis_at(group.axis[0]), false);
  call.axis_at(group.axis[1]).Write32(cmd::kRange, static_cast<i32>(ArcRangeParameter(m)));
  call.io().Command(command);
}

bool PrepareArcAxis(BoardCall& call, const Axis& axis, Positions* at) {
  if (!CheckGroupAxisIdle(call, axis)) return false;
  WriteInterpolationMode(axis, ArcWr3(axis.block().wr3));
  *at = ReadPositions(axis);
  return true;
}

void WriteArcPoint(const Axis& axis, i32 centre, i32 end) {
  axis.Write32(cmd::kCenter, centre);
  axis.Write32(cmd::kPulseCount, end);
}

}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_SetIPMapAxes(uint16_t board, uint16_t map, uint16_t axis_mask) {
  BoardCall call(board, LogRule::kSetter);
  if (CheckMapNumber(call, map) && call.Check(axis_mask <= kMapMaskLimit, ERR_IP_MAP_AXES)) {
    // Ascending axis numbers fill the two-bit fields; a fourth axis counts
    // but has no field.
    u16 word = 0;
    u8 axes[3] = {};
    u32 count = 0;
    for (u32 a = 0; a < call.record().axis_count && a < kAxesPerBoard; ++a) {
      if (!Bit(axis_mask, a)) continue;
      if (count < 3) {
        word = static_cast<u16>(word | a << (2 * count));
        axes[count] = static_cast<u8>(a);
      }
      ++count;
    }
    // The count is kept even when refused: it leaves the map unusable.
    MapEntry& entry = call.board_values().map[map];
    entry.count = static_cast<u8>(count);
    if (call.Check(count == 2 || count == 3, ERR_IP_MAP_AXES)) {
      for (u32 i = 0; i < 3; ++i) entry.axis[i] = axes[i];
      call.block().axis[map].wr5 = word;
      call.io().SetChip(chip::kWr5, word);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetIPMapAxes (%ld, %ld, 0x%04X)", board, map, axis_mask);
}

RVX406A_API void RVX406A_SetIPPosSpeed(uint16_t board, uint16_t map, uint32_t start_pps,
                                       uint32_t drive_pps, uint32_t acc_ms, uint32_t dec_ms) {
  BoardCall call(board, LogRule::kSetter);
  Group group;
  const ProfileInput given{start_pps, drive_pps, acc_ms, dec_ms};
  if (CheckMapNumber(call, map) && CheckSpeedLimits(call, ProfileKind::kPositioning, given) &&
      CheckGroup(call, map, 2, 3, &group)) {
    for (u32 i = 0; i < group.count; ++i) {
      StoreProfile(call.block().axis[group.axis[i]], kInterpolationSlot, given);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetIPPosSpeed (%ld, %ld, %ld, %ld, %ld, %ld)", board, map,
           start_pps, drive_pps, acc_ms, dec_ms);
}

RVX406A_API void RVX406A_GetIPPosSpeed(uint16_t board, uint16_t map, uint32_t* start_pps,
                                       uint32_t* drive_pps, uint32_t* acc_ms, uint32_t* dec_ms) {
  ZeroOutputs(start_pps, drive_pps, acc_ms, dec_ms);
  BoardCall call(board, LogRule::kGetter);
  Group group;
  if (CheckMapNumber(call, map) && call.CheckPointers(start_pps, drive_pps, acc_ms, dec_ms) &&
      CheckGroup(call, map, 2, 3, &group)) {
    const AxisBlock& b = call.block().axis[group.axis[0]];
    *start_pps = b.int_start_pps;
    *drive_pps = b.int_drive_pps;
    *acc_ms = b.int_acc_ms;
    *dec_ms = b.int_dec_ms;
  }
  call.Log(" RV = %5d : RVX406A_GetIPPosSpeed (%ld, %ld, %ld, %ld, %ld, %ld)", board, map,
           Shown(start_pps), Shown(drive_pps), Shown(acc_ms), Shown(dec_ms));
}

RVX406A_API void RVX406A_Inc_Line(uint16_t board, uint16_t map, const int32_t* distances) {
  Line(board, map, distances, false,
       " RV = %5d : RVX406A_Inc_Line (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]");
}

RVX406A_API void RVX406A_Abs_Line(uint16_t board, uint16_t map, const int32_t* positions) {
  Line(board, map, positions, true,
       " RV = %5d : RVX406A_Abs_Line (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]");
}

RVX406A_API int16_t RVX406A_IPDone(uint16_t board, uint16_t map) {
  BoardCall call(board, LogRule::kNarrowSetter);
  Positions at;
  u32 first = 0;
  bool busy = false;
  bool report = true;  // a refused call still leaves its line
  if (CheckMapNumber(call, map) && CheckFirstAxis(call, map, &first)) {
    const Axis a = call.axis_at(first);
    u16 rr0 = call.io().Chip(chip::kRr0);
    if (!Interpolating(rr0, first)) rr0 = call.io().Chip(chip::kRr0);
    if (!Interpolating(rr0, first)) {
      a.block().motion_dir = 0;
      at = ReadPositions(a);
      call.SetResult(StopCause(a));
    }
    busy = Bit(rr0, first) != 0;
    // IPDone reports an end, but only Done and Wait forget the move.
    report = !busy && MoveTableEntry(board, first) != kNoMove;
  }
  if (report) {
    call.Log(" RV = %5d : RVX406A_IPDone (%ld, %ld  : COMM[%.2f], FEED[%.2f]", board, map,
             at.logical, at.real);
  }
  return busy ? 1 : 0;
}

RVX406A_API void RVX406A_IPDecel_Stop(uint16_t board, uint16_t map) {
  InterpolationStop(board, map, cmd::kDecelStop,
                    " RV = %5d : RVX406A_IPDecel_Stop (%ld, %ld  : COMM[%.2f], FEED[%.2f]");
}

RVX406A_API void RVX406A_IPSudden_Stop(uint16_t board, uint16_t map) {
  InterpolationStop(board, map, cmd::kSuddenStop,
                    " RV = %5d : RVX406A_IPSudden_Stop (%ld, %ld  : COMM[%.2f], FEED[%.2f]");
}

}  // extern "C"
