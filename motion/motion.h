// Pieces shared by every kind of move: the busy test, the stop cause, the
// mode words a move writes before it starts, and the move records.
#ifndef RVX_MOTION_MOTION_H_
#define RVX_MOTION_MOTION_H_

#include "core/call.h"
#include "motion/profile.h"

namespace rvx {

// Calls on a list of a board's axes. The board's axis count; when the board
// itself is refused, the most any board has, which bounds the log lines.
u32 BoardAxes(const BoardCall& call);
// A list names two axes at least and no more than the board has.
bool CountAccepted(u16 count, u32 board_axes);
// One line per listed axis, but never more lines than the board has axes.
u32 LineCount(u16 count, u32 board_axes);
// The select bits of the listed axes, for one command to all of them.
u16 SelectMask(const u16* axes, u16 count);

constexpr i32 kMaxDistance = 0x0FFFFFFF;  // ±268,435,455 pulses
constexpr u32 kMaxSpeedPps = 4000000;
constexpr u32 kMaxTimeMs = 64000;

// RR0 bit of the axis; a 0 is confirmed by a second read, which decides.
bool AxisBusyConfirmed(const AxisIo& axis);
// WR3 bits 3 and 4 both set: the axis follows a manual pulser.
bool InManualPulserMode(const AxisBlock& shadow);

// Every start needs an idle axis that is not following a manual pulser.
bool CheckStartable(Call& call, const AxisIo& axis, const AxisBlock& shadow);

// The caller's speeds and ramp times within the chip's limits, each with its
// own code; continuous profiles have no deceleration time.
bool CheckSpeedLimits(Call& call, ProfileKind kind, const ProfileInput& given);
bool CheckDriveSpeedLimit(Call& call, u32 drive_pps);

// How RR2's stop bits (0..5, 7) name a cause: a finished move reports the
// first set bit in bit order; the motion error code needs exactly one set
// bit and gives ERR_UNKNOWN for more. No bit set: ERR_SUCCESS.
enum class StopRule { kFirstSetBit, kSingleBit };
i32 DecodeStopCause(u16 rr2, StopRule rule);
// Selects the axis, reads RR2 and decodes it by the first-set-bit rule.
i32 StopCause(const AxisIo& axis);

// Writes the adjusted WR3 and EM6 words of a fixed-pulse or continuous move
// (select, WR3, WR7 <- EM7, WR6 <- EM6, 0x60). The shadows keep their values.
enum class MoveShape { kFixedPulse, kContinuous };
void PrepareMoveMode(const Axis& axis, MoveShape shape);
// The mode words, then the whole stored profile of the shape: positioning
// for fixed-pulse moves, jog for continuous ones.
void LoadMove(const Axis& axis, MoveShape shape);

// Positions shown in a log line; 0.00 when they were never read.
struct Positions {
  double logical = 0.0;
  double real = 0.0;
};
Positions ReadPositions(const AxisIo& axis);

bool IsSCurve(const AxisBlock& shadow);

// Where an axis block keeps one stored speed profile: the chip parameters
// computed when it was set, and the caller's values every move computes from
// afresh. A jog profile has no deceleration fields (null): it decelerates as
// it accelerates.
struct ProfileSlot {
  using Field = u32 AxisBlock::*;
  ProfileKind kind;
  Field initial, drive, acc, dec, acc_jerk, dec_jerk;
  Field start_pps, drive_pps, acc_ms, dec_ms;
};
extern const ProfileSlot kPositioningSlot;
extern const ProfileSlot kJogSlot;
extern const ProfileSlot kInterpolationSlot;

// Stores the caller's values and the parameters computed from them with the
// setters' zero replacement.
void StoreProfile(AxisBlock& shadow, const ProfileSlot& slot, const ProfileInput& given);
// The caller's values as stored.
ProfileInput StoredInput(const AxisBlock& shadow, const ProfileSlot& slot);
// The stored profile as moves use it: the values as given, without the
// setters' zero replacement.
SpeedProfile StoredProfile(const AxisBlock& shadow, const ProfileSlot& slot, bool s_curve);

// Polls until the axis is idle, without pause: the caller holds the library
// mutex throughout. When pumping, one message per pass is dispatched on this
// thread; a quit message ends the wait early (false) and is posted again so
// that the application's own loop sees it.
bool WaitUntilIdle(const AxisIo& axis, bool pump_messages);

// The home search verdict of an idle axis from its RR2: alarm, emergency or
// bit 7 fail it; otherwise a search this process started succeeds.
void RecordHomeOutcome(u16 rr2, u16& home_ok, u16& home_pending);

// The record of a move this process started: its kind in the move table, the
// drive speed the command speed is scaled by, and for fixed-pulse moves where
// it began, its length and its aim.
void RecordContinuousMove(const Axis& axis, u32 board, u32 drive_pps);
void RecordFixedPulseMove(const Axis& axis, u32 board, MoveKind kind, i32 start, i32 distance,
                          i32 target);

}  // namespace rvx

#endif  // RVX_MOTION_MOTION_H_
