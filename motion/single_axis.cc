// One axis started, watched and stopped: relative, absolute and jog moves,
// the completion test, the blocking wait and the two stops. The chip runs a
// profile by itself once started; the library loads it, records what it
// started, and reports each move's stop cause once.
#include <cmath>
#include <cstdint>

#include "motion/motion.h"
#include "motion/profile.h"

namespace rvx {
namespace {

// The chip takes a magnitude; the command carries the direction.
void StartFixedPulse(const AxisIo& axis, double distance) {
  axis.Write32(cmd::kPulseCount, static_cast<i32>(std::fabs(distance)));
  axis.Command(distance >= 0 ? cmd::kFixedPlus : cmd::kFixedMinus);
}

// The axis was found idle: forget its direction, read where it ended and
// why it stopped.
Positions EndOfMove(AxisCall& call) {
  call.shadow().motion_dir = 0;
  const Positions at = ReadPositions(call.axis());
  call.SetResult(StopCause(call.axis()));
  return at;
}

// One completion line per move, in the process that started it; the entry
// is forgotten either way. Runs even when the frame refused the call, as
// long as the numbers fall within the move table.
template <class... Args>
void ReportCompletion(Call& call, u16 board, u16 axis, const char* format, const Args&... args) {
  if (board >= kMaxBoards || axis >= kTableAxes) return;
  u32& entry = MoveTableEntry(board, axis);
  if (entry != kNoMove) call.Log(format, args...);
  entry = kNoMove;
}

void Stop(u16 board, u16 axis, u16 code, const char* format) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.ok()) {
    call.axis().Command(code);
    call.shadow().motion_dir = 0;
    HomeTableEntry(board, axis) = 0;
  }
  call.Log(format, board, axis);
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_Inc_Move(uint16_t board, uint16_t axis, int32_t distance) {
  AxisCall call(board, axis, LogRule::kSetter);
  Positions at;
  if (call.Check(distance >= -kMaxDistance && distance <= kMaxDistance) &&
      CheckStartable(call, call.axis(), call.shadow())) {
    const Axis a = call.axis();
    AxisBlock& b = call.shadow();
    PrepareMoveMode(a, MoveShape::kFixedPulse);
    const SpeedProfile p = StoredProfile(b, kPositioningSlot, IsSCurve(b));
    LoadRange(a, p);
    at = ReadPositions(a);
    LoadSpeeds(a, p);
    StartFixedPulse(a, distance);
    RecordFixedPulseMove(a, board, kRelativeMove, 0, distance, distance);
  }
  call.Log(" RV = %5d : RVX406A_Inc_Move (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]", board, axis,
           distance, at.logical, at.real);
}

RVX406A_API void RVX406A_Abs_Move(uint16_t board, uint16_t axis, int32_t position) {
  AxisCall call(board, axis, LogRule::kSetter);
  Positions at;
  if (call.Check(position != INT32_MIN) && CheckStartable(call, call.axis(), call.shadow())) {
    const Axis a = call.axis();
    LoadMove(a, MoveShape::kFixedPulse);
    at = ReadPositions(a);
    // The distance is only known now; what is loaded so far stays loaded.
    const double distance = static_cast<double>(position) - at.logical;
    if (call.Check(std::fabs(distance) <= kMaxDistance, ERR_MAX_DISTANCE)) {
      StartFixedPulse(a, distance);
      RecordFixedPulseMove(a, board, kAbsoluteMove, static_cast<i32>(at.logical),
                           static_cast<i32>(distance), position);
    }
  }
  call.Log(" RV = %5d : RVX406A_Abs_Move (%ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]", board, axis,
           position, at.logical, at.real);
}

RVX406A_API void RVX406A_Jog_Move(uint16_t board, uint16_t axis, uint16_t direction) {
  AxisCall call(board, axis, LogRule::kSetter);
  if (call.Check(direction <= 1) && CheckStartable(call, call.axis(), call.shadow())) {
    const Axis a = call.axis();
    LoadMove(a, MoveShape::kContinuous);
    a.Command(direction == 1 ? cmd::kContinuousPlus : cmd::kContinuousMinus);
    RecordContinuousMove(a, board, call.shadow().jog_drive_pps);
  }
  call.Log(" RV = %5d : RVX406A_Jog_Move (%ld, %ld, %ld)", board, axis, direction);
}

RVX406A_API uint16_t RVX406A_Done(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kWait);
  bool busy = false;
  Positions at;
  if (call.ok()) {
    busy = AxisBusyConfirmed(call.axis());
    if (!busy) at = EndOfMove(call);
  }
  if (!busy) {
    ReportCompletion(call, board, axis,
                     " RV = %5d : RVX406A_Done (%ld, %ld)  : COMM[%.2f], FEED[%.2f]", board, axis,
                     at.logical, at.real);
  }
  return busy ? 1 : 0;
}

RVX406A_API void RVX406A_Wait(uint16_t board, uint16_t axis, uint16_t mode) {
  AxisCall call(board, axis, LogRule::kWait);
  Positions at;
  if (call.Check(mode <= 1)) {
    if (!WaitUntilIdle(call.axis(), mode == 1)) {
      // A quit leaves everything as it was, the last result included (a
      // window procedure run by the wait may have set it).
      call.SetResult(call.process().last_result);
      return;
    }
    at = EndOfMove(call);
  }
  ReportCompletion(call, board, axis,
                   " RV = %5d : RVX406A_Wait (%ld, %ld, %ld)  : COMM[%.2f], FEED[%.2f]", board,
                   axis, mode, at.logical, at.real);
}

RVX406A_API void RVX406A_Decel_Stop(uint16_t board, uint16_t axis) {
  Stop(board, axis, cmd::kDecelStop, " RV = %5d : RVX406A_Decel_Stop (%ld, %ld)");
}

RVX406A_API void RVX406A_Sudden_Stop(uint16_t board, uint16_t axis) {
  Stop(board, axis, cmd::kSuddenStop, " RV = %5d : RVX406A_Sudden_Stop (%ld, %ld)");
}

}  // extern "C"
