// Pieces shared by every kind of move: the busy test, the stop cause, the
// mode words a move writes before it starts, and the move records.
#ifndef RVX_MOTION_MOTION_H_
#define RVX_MOTION_MOTION_H_

#include "core/call.h"
#include "motion/profile.h"

namespace rvx {

// Per-process move table values.
enum MoveKind : u32 { kNoMove = 0, kRelativeMove = 1, kAbsoluteMove = 2, kContinuousMove = 3 };

constexpr i32 kMaxDistance = 0x0FFFFFFF;  // ±268,435,455 pulses
constexpr u32 kMaxSpeedPps = 4000000;
constexpr u32 kMaxTimeMs = 64000;

// RR0 bit of the axis; a 0 is confirmed by a second read, which decides.
bool AxisBusyConfirmed(const AxisIo& axis);
// WR3 bits 3 and 4 both set: the axis follows a manual pulser.
bool InManualPulserMode(const AxisBlock& shadow);

// Selects the axis, reads RR2, and maps the first set stop bit (0..5, 7) to
// its ERR_STOP_BY_* code; 0 when none is set.
i32 StopCause(const AxisIo& axis);

// Writes the adjusted WR3 and EM6 words of a fixed-pulse or continuous move
// (select, WR3, WR7 <- EM7, WR6 <- EM6, 0x60). The shadows keep their values.
enum class MoveShape { kFixedPulse, kContinuous };
void PrepareMoveMode(const Axis& axis, MoveShape shape);

// Positions shown in a log line; 0.00 when they were never read.
struct Positions {
  double logical = 0.0;
  double real = 0.0;
};
Positions ReadPositions(const AxisIo& axis);

bool IsSCurve(const AxisBlock& shadow);
// The stored profiles as the moves use them: the values as given, without
// the setters' zero replacement.
SpeedProfile PositioningProfile(const AxisBlock& shadow);
SpeedProfile JogProfile(const AxisBlock& shadow);
// The values a speed setter computes its stored parameters from: zeros taken
// as 1, a start speed not below the drive speed lowered to it.
ProfileInput SettingInput(u32 start_pps, u32 drive_pps, u32 acc_ms, u32 dec_ms);

// Polls until the axis is idle, without pause: the caller holds the library
// mutex throughout. When pumping, one message per pass is dispatched on this
// thread; a quit message ends the wait early (false) and is posted again so
// that the application's own loop sees it.
bool WaitUntilIdle(const AxisIo& axis, bool pump_messages);
// Takes at most one message of the calling thread and dispatches it. A quit
// message is posted again and reported (false): the caller stops waiting.
bool PumpMessage();

// The home search verdict of an idle axis from its RR2: alarm, emergency or
// bit 7 fail it; otherwise a search this process started succeeds.
void RecordHomeOutcome(u16 rr2, u16& home_ok, u16& home_pending);

u32& MoveTableEntry(u32 board, u32 axis);
u16& HomeTableEntry(u32 board, u32 axis);

}  // namespace rvx

#endif  // RVX_MOTION_MOTION_H_
