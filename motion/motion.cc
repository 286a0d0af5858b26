#include "motion/motion.h"

#include "core/message_pump.h"

namespace rvx {
namespace {

// RR2 stop bits in reporting order, and their causes.
struct StopBit {
  u32 bit;
  i32 cause;
};
constexpr StopBit kStopBits[] = {
    {rr2::kSoftLimitPlus, ERR_STOP_BY_SLPT}, {rr2::kSoftLimitMinus, ERR_STOP_BY_SLMT},
    {rr2::kHardLimitPlus, ERR_STOP_BY_HLPT}, {rr2::kHardLimitMinus, ERR_STOP_BY_HLMT},
    {rr2::kAlarm, ERR_STOP_BY_ALM},          {rr2::kEmergency, ERR_STOP_BY_EMG},
    {rr2::kHomeError, ERR_STOP_BY_EZ},
};

}  // namespace

u32 BoardAxes(const BoardCall& call) {
  return call.ok() ? call.record().axis_count : kAxesPerBoard;
}

bool CountAccepted(u16 count, u32 board_axes) { return count >= 2 && count <= board_axes; }

u32 LineCount(u16 count, u32 board_axes) { return count < board_axes ? count : board_axes; }

u16 SelectMask(const u16* axes, u16 count) {
  u16 mask = 0;
  for (u32 i = 0; i < count; ++i) mask |= AxisSelectBit(axes[i]);
  return mask;
}

bool CheckStartable(Call& call, const AxisIo& axis, const AxisBlock& shadow) {
  return call.Check(!axis.Driving(), ERR_AXIS_DRV_BUSY) &&
         call.Check(!InManualPulserMode(shadow), ERR_MPG_MODE);
}

bool CheckDriveSpeedLimit(Call& call, u32 drive_pps) {
  return call.Check(drive_pps <= kMaxSpeedPps, ERR_MAX_WORKV);
}

bool CheckSpeedLimits(Call& call, ProfileKind kind, const ProfileInput& given) {
  return call.Check(given.start_pps <= kMaxSpeedPps, ERR_MAX_STARTV) &&
         CheckDriveSpeedLimit(call, given.drive_pps) &&
         call.Check(given.acc_ms <= kMaxTimeMs, ERR_MAX_ACC) &&
         (kind == ProfileKind::kContinuous || call.Check(given.dec_ms <= kMaxTimeMs, ERR_MAX_DEC));
}

bool AxisBusyConfirmed(const AxisIo& axis) { return axis.Driving() || axis.Driving(); }

bool InManualPulserMode(const AxisBlock& shadow) {
  return AllSet(shadow.wr3, Mask({wr3::kPulserMode0, wr3::kPulserMode1}));
}

i32 DecodeStopCause(u16 rr2, StopRule rule) {
  i32 cause = ERR_SUCCESS;
  for (const StopBit& s : kStopBits) {
    if (!Bit(rr2, s.bit)) continue;
    if (rule == StopRule::kFirstSetBit) return s.cause;
    if (cause != ERR_SUCCESS) return ERR_UNKNOWN;
    cause = s.cause;
  }
  return cause;
}

i32 StopCause(const AxisIo& axis) {
  return DecodeStopCause(axis.ReadSelected(chip::kRr2), StopRule::kFirstSetBit);
}

void PrepareMoveMode(const Axis& axis, MoveShape shape) {
  const AxisBlock& shadow = axis.block();
  const bool s_curve = IsSCurve(shadow);
  const bool fixed = shape == MoveShape::kFixedPulse;
  // Trapezoids of fixed-pulse moves decelerate by the separately loaded D;
  // S-curves by the chip.
  const u16 wr3 =
      Bits(shadow.wr3, {{wr3::kManualDecel, 0}, {wr3::kSeparateDecel, fixed && !s_curve}});
  const u16 em6 = Bits(shadow.em6, {{em6::kSCurveMove, s_curve}, {em6::kFixedPulse, fixed}});
  axis.WriteModeNoShadow(chip::kWr3, wr3);
  axis.WriteExtensionNoShadow(em6, shadow.em7);
}

void LoadMove(const Axis& axis, MoveShape shape) {
  PrepareMoveMode(axis, shape);
  const SpeedProfile p =
      StoredProfile(axis.block(), shape == MoveShape::kFixedPulse ? kPositioningSlot : kJogSlot,
                    IsSCurve(axis.block()));
  LoadRange(axis, p);
  LoadSpeeds(axis, p);
}

Positions ReadPositions(const AxisIo& axis) {
  Positions at;
  at.logical = axis.LogicalPosition();
  at.real = axis.RealPosition();
  return at;
}

bool IsSCurve(const AxisBlock& shadow) { return Bit(shadow.wr3, wr3::kSCurve) != 0; }

const ProfileSlot kPositioningSlot{
    ProfileKind::kPositioning, &AxisBlock::pos_start,     &AxisBlock::pos_drive,
    &AxisBlock::pos_acc,       &AxisBlock::pos_dec,       &AxisBlock::pos_acc_jerk,
    &AxisBlock::pos_dec_jerk,  &AxisBlock::pos_start_pps, &AxisBlock::pos_drive_pps,
    &AxisBlock::pos_acc_ms,    &AxisBlock::pos_dec_ms};
const ProfileSlot kJogSlot{ProfileKind::kContinuous,
                           &AxisBlock::jog_start,
                           &AxisBlock::jog_drive,
                           &AxisBlock::jog_acc,
                           nullptr,
                           &AxisBlock::jog_jerk,
                           nullptr,
                           &AxisBlock::jog_start_pps,
                           &AxisBlock::jog_drive_pps,
                           &AxisBlock::jog_acc_ms,
                           nullptr};
const ProfileSlot kInterpolationSlot{
    ProfileKind::kPositioning, &AxisBlock::int_start,     &AxisBlock::int_drive,
    &AxisBlock::int_acc,       &AxisBlock::int_dec,       &AxisBlock::int_acc_jerk,
    &AxisBlock::int_dec_jerk,  &AxisBlock::int_start_pps, &AxisBlock::int_drive_pps,
    &AxisBlock::int_acc_ms,    &AxisBlock::int_dec_ms};

void StoreProfile(AxisBlock& b, const ProfileSlot& slot, const ProfileInput& given) {
  const SpeedProfile p =
      ComputeProfile(slot.kind, IsSCurve(b), SettingInput(given), b.range, b.fixed_range);
  const auto store = [&b](ProfileSlot::Field field, u32 value) {
    if (field != nullptr) b.*field = value;
  };
  store(slot.initial, p.initial);
  store(slot.drive, p.drive);
  store(slot.acc, p.acc);
  store(slot.dec, p.dec);
  store(slot.acc_jerk, p.acc_jerk);
  store(slot.dec_jerk, p.dec_jerk);
  store(slot.start_pps, given.start_pps);
  store(slot.drive_pps, given.drive_pps);
  store(slot.acc_ms, given.acc_ms);
  store(slot.dec_ms, given.dec_ms);
}

ProfileInput StoredInput(const AxisBlock& b, const ProfileSlot& slot) {
  return {b.*slot.start_pps, b.*slot.drive_pps, b.*slot.acc_ms,
          b.*(slot.dec_ms != nullptr ? slot.dec_ms : slot.acc_ms)};
}

SpeedProfile StoredProfile(const AxisBlock& b, const ProfileSlot& slot, bool s_curve) {
  return ComputeProfile(slot.kind, s_curve, StoredInput(b, slot), b.range, b.fixed_range);
}

bool WaitUntilIdle(const AxisIo& axis, bool pump_messages) {
  for (;;) {
    const bool busy = AxisBusyConfirmed(axis);
    if (pump_messages && !PumpOneMessage()) return false;
    if (!busy) return true;
  }
}

void RecordHomeOutcome(u16 rr2, u16& home_ok, u16& home_pending) {
  constexpr u16 kHomeFailBits = Mask({rr2::kAlarm, rr2::kEmergency, rr2::kHomeError});
  if ((rr2 & kHomeFailBits) != 0) {
    home_pending = 0;
    home_ok = 0;
  } else if (home_ok == 0 && home_pending == 1) {
    home_pending = 0;
    home_ok = 1;
  }
}

void RecordContinuousMove(const Axis& axis, u32 board, u32 drive_pps) {
  axis.block().last_drive_speed = drive_pps;
  MoveTableEntry(board, axis.number()) = kContinuousMove;
}

void RecordFixedPulseMove(const Axis& axis, u32 board, MoveKind kind, i32 start, i32 distance,
                          i32 target) {
  AxisBlock& b = axis.block();
  b.move_start = start;
  b.move_distance = distance;
  b.move_target = target;
  b.last_drive_speed = b.pos_drive_pps;
  MoveTableEntry(board, axis.number()) = kind;
}

}  // namespace rvx
