// Several axes of one board moved, tested, awaited and stopped by one call.
// Each axis runs its own profile; the axes only share the start (every drive
// command waits under a hold until one release with all their select bits)
// or the stop (one stop command with all their select bits).
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "motion/motion.h"
#include "motion/profile.h"

namespace rvx {
namespace {

bool CheckAxes(BoardCall& call, u16 count, const u16* axes) {
  call.CheckPointers(axes);
  for (u32 i = 0; i < count && call.ok(); ++i) call.Check(call.HasAxis(axes[i]), ERR_AXIS_NUM);
  return call.ok();
}

bool ValueAccepted(MoveKind kind, int64_t value) {
  switch (kind) {
    case kRelativeMove:
      return value >= -kMaxDistance && value <= kMaxDistance;
    case kAbsoluteMove:
      return value != INT32_MIN;
    default:
      return value == 0 || value == 1;
  }
}

// Loads one axis's move and issues its drive command under a hold, so that
// it starts only with the release.
void LoadHeldMove(const Axis& axis, u32 board, MoveKind kind, int64_t value, Positions* at) {
  AxisBlock& b = axis.block();
  if (kind == kContinuousMove) {
    LoadMove(axis, MoveShape::kContinuous);
    axis.Command(cmd::kHold);
    axis.Command(value != 0 ? cmd::kContinuousPlus : cmd::kContinuousMinus);
    RecordContinuousMove(axis, board, b.jog_drive_pps);
    return;
  }

  LoadMove(axis, MoveShape::kFixedPulse);
  int64_t distance = value;
  if (kind == kAbsoluteMove) {
    // The axis may have been moved since the check; aim from where it is now.
    *at = ReadPositions(axis);
    distance = static_cast<int64_t>(static_cast<double>(value) - at->logical);
  }
  axis.Write32(cmd::kPulseCount, static_cast<i32>(std::llabs(distance)));
  axis.Command(cmd::kHold);
  axis.Command(distance >= 0 ? cmd::kFixedPlus : cmd::kFixedMinus);

  RecordFixedPulseMove(axis, board, kind, kind == kAbsoluteMove ? static_cast<i32>(at->logical) : 0,
                       static_cast<i32>(distance), static_cast<i32>(value));
}

// Checks every listed axis, then loads them all and releases them together.
// Nothing is written before every axis has passed.
template <class Value>
void MultiMove(MoveKind kind, u16 board, u16 count, const u16* axes, const Value* values,
               const char* format) {
  BoardCall call(board, LogRule::kSetter);
  const u32 board_axes = BoardAxes(call);
  call.Check(CountAccepted(count, board_axes));
  Positions at[kAxesPerBoard];
  for (u32 i = 0; i < count && call.ok(); ++i) {
    if (!call.Check(call.HasAxis(axes[i]), ERR_AXIS_NUM) ||
        !call.Check(ValueAccepted(kind, values[i]))) {
      break;
    }
    const Axis axis = call.axis_at(axes[i]);
    if (!CheckStartable(call, axis, axis.block())) break;
    if (kind == kContinuousMove) continue;
    at[i] = ReadPositions(axis);
    if (kind == kAbsoluteMove) {
      call.Check(std::fabs(static_cast<double>(values[i]) - at[i].logical) <= kMaxDistance,
                 ERR_MAX_DISTANCE);
    }
  }
  if (call.ok()) {
    for (u32 i = 0; i < count; ++i) {
      LoadHeldMove(call.axis_at(axes[i]), board, kind, values[i], &at[i]);
    }
    call.io().Command(SelectMask(axes, count) | cmd::kRelease);
  }
  for (u32 i = 0; i < LineCount(count, board_axes); ++i) {
    if (kind == kContinuousMove) {
      call.Log(format, board, Shown(axes, i), Shown(values, i));
    } else {
      call.Log(format, board, Shown(axes, i), Shown(values, i), at[i].logical, at[i].real);
    }
  }
}

// With every listed axis idle: positions and stop cause of each in list
// order, up to the first axis that stopped for a reason. Returns that
// reason (0 for none) and the index of its axis (count for none).
i32 ScanStopCauses(const BoardCall& call, u16 count, const u16* axes, Positions* at,
                   u32* stopped_at) {
  for (u32 i = 0; i < count; ++i) {
    const Axis axis = call.axis_at(axes[i]);
    at[i] = ReadPositions(axis);
    const i32 cause = StopCause(axis);
    if (cause != ERR_SUCCESS) {
      *stopped_at = i;
      return cause;
    }
  }
  *stopped_at = count;
  return ERR_SUCCESS;
}

void MultiStop(u16 board, u16 count, const u16* axes, u16 command, const char* format) {
  BoardCall call(board, LogRule::kSetter);
  const u32 board_axes = BoardAxes(call);
  if (call.Check(CountAccepted(count, board_axes)) && CheckAxes(call, count, axes)) {
    for (u32 i = 0; i < count; ++i) {
      call.axis_at(axes[i]).block().motion_dir = 0;
      HomeTableEntry(board, axes[i]) = 0;  // a stopped search never succeeds
    }
    call.io().Command(SelectMask(axes, count) | command);
  }
  for (u32 i = 0; i < LineCount(count, board_axes); ++i) call.Log(format, board, Shown(axes, i));
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_Multi_Inc_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* distances) {
  MultiMove(kRelativeMove, board, count, axes, distances,
            " RV = %5d : RVX406A_Multi_Inc_Move (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]");
}

RVX406A_API void RVX406A_Multi_Abs_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const int32_t* positions) {
  MultiMove(kAbsoluteMove, board, count, axes, positions,
            " RV = %5d : RVX406A_Multi_Abs_Move (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]");
}

RVX406A_API void RVX406A_Multi_Jog_Move(uint16_t board, uint16_t count, const uint16_t* axes,
                                        const uint16_t* directions) {
  MultiMove(kContinuousMove, board, count, axes, directions,
            " RV = %5d : RVX406A_Multi_Jog_Move (%ld, %ld, %ld)");
}

RVX406A_API uint16_t RVX406A_Multi_Done(uint16_t board, uint16_t count, const uint16_t* axes) {
  BoardCall call(board, LogRule::kNarrowSetter);
  const u32 board_axes = BoardAxes(call);
  Positions at[kAxesPerBoard];
  if (call.Check(CountAccepted(count, board_axes)) && CheckAxes(call, count, axes)) {
    for (u32 i = 0; i < count; ++i) {
      const Axis axis = call.axis_at(axes[i]);
      if (AxisBusyConfirmed(axis)) return 1;  // still running: nothing to report yet
      axis.block().motion_dir = 0;
    }
    u32 stopped_at;
    call.SetResult(ScanStopCauses(call, count, axes, at, &stopped_at));
  }
  for (u32 i = 0; i < LineCount(count, board_axes); ++i) {
    call.Log(" RV = %5d : RVX406A_Multi_Done (%ld, %ld) : COMM[%.2f], FEED[%.2f]", board,
             Shown(axes, i), at[i].logical, at[i].real);
  }
  return 0;
}

RVX406A_API void RVX406A_Multi_Wait(uint16_t board, uint16_t count, const uint16_t* axes,
                                    uint16_t mode) {
  BoardCall call(board, LogRule::kNarrowSetter);
  const u32 board_axes = BoardAxes(call);
  Positions at[kAxesPerBoard];
  if (call.Check(CountAccepted(count, board_axes) && mode <= 1) && CheckAxes(call, count, axes)) {
    for (u32 i = 0; i < count; ++i) {
      if (!WaitUntilIdle(call.axis_at(axes[i]), mode == 1)) {
        // A quit leaves everything as it was, the last result included (a
        // window procedure run by the wait may have set it).
        call.SetResult(call.process().last_result);
        return;
      }
    }
    for (u32 i = 0; i < count; ++i) call.axis_at(axes[i]).block().motion_dir = 0;

    u32 stopped_at;
    call.SetResult(ScanStopCauses(call, count, axes, at, &stopped_at));
    // Report once per started move, in the process that started it. With no
    // stop cause any listed axis still awaiting its report will do.
    bool report = false;
    for (u32 i = 0; i < count; ++i) {
      if (stopped_at == count || stopped_at == i) report |= MoveTableEntry(board, axes[i]) != 0;
    }
    if (!report) return;
    for (u32 i = 0; i < count; ++i) MoveTableEntry(board, axes[i]) = kNoMove;
  }
  for (u32 i = 0; i < LineCount(count, board_axes); ++i) {
    call.Log(" RV = %5d : RVX406A_Multi_Wait (%ld, %ld) : COMM[%.2f], FEED[%.2f]", board,
             Shown(axes, i), at[i].logical, at[i].real);
  }
}

RVX406A_API void RVX406A_Multi_Decel_Stop(uint16_t board, uint16_t count, const uint16_t* axes) {
  MultiStop(board, count, axes, cmd::kDecelStop, " RV = %5d : RVX406A_Multi_Decel_Stop (%ld, %ld)");
}

RVX406A_API void RVX406A_Multi_Sudden_Stop(uint16_t board, uint16_t count, const uint16_t* axes) {
  MultiStop(board, count, axes, cmd::kSuddenStop,
            " RV = %5d : RVX406A_Multi_Sudden_Stop (%ld, %ld)");
}

}  // extern "C"
