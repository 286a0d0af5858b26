// The motion-controller chip: per-axis registers behind axis selection,
// commands with their data latches, and drives that run by their profile in
// simulated time (or, as a test shortcut, end after a number of RR0 polls).
#include <cmath>

#include "core/registers.h"
#include "sim/board.h"

namespace rvx::sim {
namespace {

int32_t Data32(const ChipModel& chip) {
  return static_cast<int32_t>((static_cast<uint32_t>(chip.wr7) << 16) | chip.wr6);
}

int LowestSelected(const ChipModel& chip) {
  for (uint32_t a = 0; a < kAxes; ++a) {
    if (chip.selected & (1u << a)) return static_cast<int>(a);
  }
  return -1;
}

// A drive ends on its target: both counters move by the signed pulse count,
// or by the end point an interpolation segment latched when it started.
void Finish(AxisModel* axis) {
  const uint32_t travel = axis->interpolating
                              ? static_cast<uint32_t>(axis->interp_travel)
                              : axis->reg.pulse_count * static_cast<uint32_t>(axis->direction);
  axis->reg.logical = static_cast<int32_t>(static_cast<uint32_t>(axis->reg.logical) + travel);
  axis->reg.real = static_cast<int32_t>(static_cast<uint32_t>(axis->reg.real) + travel);
  axis->place = static_cast<int32_t>(static_cast<uint32_t>(axis->place) + travel);
  axis->reg.driving = false;
  axis->polls_left = 0;
  axis->direction = 0;
  axis->interpolating = false;
  axis->events |= kDriveEndEvent;
}

// A stopped drive does not reach its target; a held one never starts.
void Stop(AxisModel* axis) {
  if (axis->reg.driving) axis->events |= kDriveEndEvent;
  axis->reg.driving = false;
  axis->polls_left = 0;
  axis->direction = 0;
  axis->pending = 0;
  axis->interpolating = false;
}

void Run(AxisModel* axis, uint32_t duration) {
  if (axis->reg.driving) return;  // a running drive takes the new target as it goes
  if (duration == 0) {
    Finish(axis);
  } else {
    axis->reg.driving = true;
    axis->polls_left = duration;
  }
}

int32_t DirectionOf(uint16_t code) {
  if (code == cmd::kFixedPlus) return 1;
  if (code == cmd::kFixedMinus) return -1;
  return 0;  // continuous drives and home searches end without travel
}

// A profiled drive that has come to its end.
void EndDrive(AxisModel* axis) {
  axis->reg.driving = false;
  axis->home.step = 0;
  axis->interpolating = false;
  axis->events |= kDriveEndEvent;
}

void StartProfiledDrive(ChipModel* chip, AxisModel* axis, uint16_t code) {
  axis->stop_cause = 0;
  const MotionParams params = ParamsOf(axis->reg);
  switch (code) {
    case cmd::kFixedPlus:
    case cmd::kFixedMinus:
      StartFixedDrive(&axis->motion, params, axis->reg.pulse_count, DirectionOf(code));
      break;
    case cmd::kContinuousPlus:
    case cmd::kContinuousMinus:
      StartContinuousDrive(&axis->motion, params, code == cmd::kContinuousPlus ? 1 : -1);
      break;
    default:
      StartHomeSearch(axis);
      break;
  }
  axis->reg.driving = axis->motion.busy || axis->home.step != 0;
  if (!axis->reg.driving) {  // nothing to output
    EndDrive(axis);
    return;
  }
  if (const uint16_t cause = StopCause(*axis, chip->emergency)) {
    SuddenStop(&axis->motion);
    axis->stop_cause = cause;
    EndDrive(axis);
  }
}

void StartDrive(ChipModel* chip, AxisModel* axis, uint16_t code) {
  axis->reg.last_drive_command = code;
  if (axis->reg.held) {
    axis->pending = code;
    return;
  }
  if (chip->polled) {
    axis->direction = DirectionOf(code);
    Run(axis, axis->duration);
  } else if (!axis->reg.driving) {  // a running drive takes new parameters as it goes
    StartProfiledDrive(chip, axis, code);
  }
}

// Interpolation commands carry no axis bits: WR5 names the group (two-bit
// fields from bit 0), each axis travels to its signed end point (0x06), and
// the first axis's duration rules.
void RunInterpolation(ChipModel* chip, uint16_t code, uint8_t group, bool queued) {
  const uint32_t duration = chip->polled ? chip->axis[chip->wr5 & 3u].duration : 0;
  for (uint32_t a = 0; a < kAxes; ++a) {
    if (!(group & (1u << a))) continue;
    AxisModel& axis = chip->axis[a];
    axis.reg.last_drive_command = code;
    axis.interp_travel = queued ? axis.queued_travel : static_cast<int32_t>(axis.reg.pulse_count);
    axis.interpolating = true;
    Run(&axis, duration);
  }
  chip->interp_axes = duration ? group : 0;
}

// In continuous mode a start during a running interpolation waits for its
// end, with the end points loaded for it.
void StartInterpolation(ChipModel* chip, uint16_t code) {
  const int count = code == cmd::kLine3 ? 3 : 2;
  uint8_t group = 0;
  for (int i = 0; i < count; ++i) group |= 1u << ((chip->wr5 >> (2 * i)) & 3u);
  if (chip->interp_axes && (chip->wr5 & 0x4000u)) {
    chip->queued_command = code;
    chip->queued_axes = group;
    for (uint32_t a = 0; a < kAxes; ++a) {
      AxisModel& axis = chip->axis[a];
      if (!(group & (1u << a))) continue;
      axis.queued_travel = static_cast<int32_t>(axis.reg.pulse_count);
      axis.queued_center = axis.reg.center;
    }
    return;
  }
  if (chip->polled) {
    RunInterpolation(chip, code, group, false);
    return;
  }
  int32_t ends[kAxes], centres[kAxes];
  for (uint32_t a = 0; a < kAxes; ++a) {
    ends[a] = static_cast<int32_t>(chip->axis[a].reg.pulse_count);
    centres[a] = chip->axis[a].reg.center;
  }
  StartPath(chip, code, group, ends, centres);
}

void StopOne(AxisModel* axis, bool sudden) {
  if (!axis->motion.busy) {  // a polled or forced drive
    Stop(axis);
    return;
  }
  axis->home.step = 0;  // a stopped home search does not go on to its next step
  if (!sudden) {
    DecelerateStop(&axis->motion);
    return;
  }
  SuddenStop(&axis->motion);
  EndDrive(axis);
}

void StopAxis(ChipModel* chip, uint32_t a, bool sudden) {
  if ((chip->interp_axes & (1u << a)) && chip->path.motion.busy) {
    StopPath(chip, sudden);
  } else if (chip->interp_axes & (1u << a)) {  // stopping one axis ends the whole interpolation
    for (uint32_t g = 0; g < kAxes; ++g) {
      if (chip->interp_axes & (1u << g)) StopOne(&chip->axis[g], sudden);
    }
    chip->interp_axes = 0;
    chip->queued_command = 0;
  } else {
    StopOne(&chip->axis[a], sudden);
  }
}

// Parameter commands that only latch WR6, or the signed WR7:WR6 pair, into an axis register.
struct Param16 {
  uint16_t code;
  uint16_t AxisState::*field;
};
constexpr Param16 kParams16[] = {{cmd::kAccJerk, &AxisState::acc_jerk},
                                 {cmd::kAcc, &AxisState::acc},
                                 {cmd::kDec, &AxisState::dec},
                                 {cmd::kInitialSpeed, &AxisState::initial},
                                 {cmd::kDriveSpeed, &AxisState::drive},
                                 {cmd::kDecJerk, &AxisState::dec_jerk},
                                 {cmd::kHomeLowSpeed, &AxisState::home_low}};
struct Param32 {
  uint16_t code;
  int32_t AxisState::*field;
};
constexpr Param32 kParams32[] = {{cmd::kCenter, &AxisState::center},
                                 {cmd::kSetLogical, &AxisState::logical},
                                 {cmd::kSetReal, &AxisState::real},
                                 {cmd::kCompPlus, &AxisState::comp_plus},
                                 {cmd::kCompMinus, &AxisState::comp_minus}};

void AxisCommand(ChipModel* chip, uint32_t a, uint16_t code) {
  AxisState& reg = chip->axis[a].reg;
  const uint16_t wr6 = chip->wr6;
  for (const Param16& p : kParams16) {
    if (p.code == code) reg.*p.field = wr6;
  }
  for (const Param32& p : kParams32) {
    if (p.code == code) reg.*p.field = Data32(*chip);
  }
  switch (code) {
    case cmd::kRange:
      reg.range = static_cast<uint32_t>(Data32(*chip));
      break;
    case cmd::kAccOffset:
      reg.acc_offset = static_cast<int16_t>(wr6);
      break;
    case cmd::kExtension:
      reg.em6 = wr6;
      reg.em7 = chip->wr7;
      break;
    case cmd::kSyncMode:
      reg.sm6 = wr6;
      reg.sm7 = chip->wr7;
      break;
    case cmd::kFixedPlus:
    case cmd::kFixedMinus:
    case cmd::kContinuousPlus:
    case cmd::kContinuousMinus:
    case cmd::kHomeSearch:
      StartDrive(chip, &chip->axis[a], code);
      break;
    case cmd::kHold:
      reg.held = true;
      break;
    case cmd::kRelease:
      if (reg.held) {
        reg.held = false;
        const uint16_t pending = chip->axis[a].pending;
        chip->axis[a].pending = 0;
        if (pending) StartDrive(chip, &chip->axis[a], pending);
      }
      break;
    case cmd::kDecelStop:
    case cmd::kSuddenStop:
      StopAxis(chip, a, code == cmd::kSuddenStop);
      break;
    case cmd::kDriveSpeed:
      if (chip->axis[a].motion.busy) OverrideDriveSpeed(&chip->axis[a].motion, wr6);
      break;
    case cmd::kPulseCount:
      reg.pulse_count = static_cast<uint32_t>(Data32(*chip));
      if (chip->axis[a].motion.busy) OverridePulseCount(&chip->axis[a].motion, reg.pulse_count);
      break;
    default:
      break;  // parameters above; select, deviation clear and unknown codes do nothing
  }
}

bool Driving(const AxisModel& axis) { return axis.motion.busy || axis.home.step != 0; }

// A profiled drive for `seconds`: the counters follow the pulses output, and
// the run stops on each pulse at which a sensor acting on the drive changes,
// so that the sensor has its say there and what it starts (a ramp down, the
// next search step) takes the rest of the time.
void RunAxis(ChipModel* chip, AxisModel* axis, double seconds) {
  double left = seconds;
  // A search whose steps all end at once cannot loop for ever.
  for (int guard = 0; guard < 1000 && left > 0 && Driving(*axis); ++guard) {
    int64_t delta = 0;
    left -= Run(&axis->motion, left, PulsesToEdge(*axis), &delta);
    const uint32_t moved = static_cast<uint32_t>(delta);
    axis->reg.logical = static_cast<int32_t>(static_cast<uint32_t>(axis->reg.logical) + moved);
    axis->reg.real = static_cast<int32_t>(static_cast<uint32_t>(axis->reg.real) + moved);
    axis->place = static_cast<int32_t>(static_cast<uint32_t>(axis->place) + moved);
    if (axis->home.step != 0) {
      FollowHomeSearch(axis);
    } else if (axis->motion.busy) {
      if (const uint16_t cause = StopCause(*axis, chip->emergency)) {
        axis->stop_cause |= cause;
        StopsAtOnce(*axis, cause) ? SuddenStop(&axis->motion) : DecelerateStop(&axis->motion);
      }
    }
    if (!Driving(*axis)) EndDrive(axis);
  }
}

uint16_t DriveStatus(const AxisModel& axis) {
  return static_cast<uint16_t>(axis.reg.rr1 | (OnEncoderZ(axis) ? 1u << rr1::kOnZPhase : 0));
}

bool InPath(const ChipModel& chip, int axis) {
  return chip.path.motion.busy && chip.axis[axis].interpolating;
}

// An interpolating axis counts its own pulses, in its own multiplier's units.
int32_t PathSpeed(const ChipModel& chip, int axis) {
  const double m = EffectiveMultiplier(ParamsOf(chip.axis[axis].reg));
  return static_cast<int32_t>(std::lround(PathAxisSpeed(chip, static_cast<uint32_t>(axis)) / m));
}

void ReadCommand(ChipModel* chip, uint16_t code) {
  const int a = LowestSelected(*chip);
  int32_t value = 0;
  if (a >= 0) {
    const AxisModel& axis = chip->axis[a];
    value = code == cmd::kReadLogical ? axis.reg.logical
            : code == cmd::kReadReal  ? axis.reg.real
            : axis.motion.busy        ? axis.motion.speed
            : InPath(*chip, a)        ? PathSpeed(*chip, a)
                                      : axis.speed;
  }
  chip->rr6 = static_cast<uint16_t>(value);
  chip->rr7 = static_cast<uint16_t>(static_cast<uint32_t>(value) >> 16);
}

// Power-on values of what the chip computes. Status that tests inject to
// stand for the outside world (inputs, RR1..RR3, RR0 extra bits, speed,
// drive durations) survives a chip reset.
void ResetChip(ChipModel* chip) {
  for (AxisModel& axis : chip->axis) {
    AxisModel fresh{};
    fresh.reg.rr1 = axis.reg.rr1;
    fresh.reg.rr2 = axis.reg.rr2;
    fresh.reg.rr3 = axis.reg.rr3;
    fresh.speed = axis.speed;
    fresh.duration = axis.duration;
    fresh.inputs = axis.inputs;
    fresh.machine = axis.machine;
    fresh.place = axis.place;
    axis = fresh;
  }
  chip->selected = 0;
  chip->wr4 = chip->wr5 = chip->wr6 = chip->wr7 = 0;
  chip->rr6 = chip->rr7 = 0;
  chip->interp_axes = chip->queued_axes = 0;
  chip->path = PathModel{};
  chip->queued_command = 0;
}

void Execute(ChipModel* chip, uint16_t word) {
  if (word & cmd::kChipReset) {
    ResetChip(chip);
    return;
  }
  chip->selected = (word >> 8) & 0xFu;
  const uint16_t code = word & 0xFFu;
  switch (code) {
    case cmd::kLine2:
    case cmd::kLine3:
    case cmd::kArcCw:
    case cmd::kArcCcw:
      StartInterpolation(chip, code);
      return;
    case cmd::kReadLogical:
    case cmd::kReadReal:
    case cmd::kReadSpeed:
      ReadCommand(chip, code);
      return;
    default:
      break;
  }
  for (uint32_t a = 0; a < kAxes; ++a) {
    if (chip->selected & (1u << a)) AxisCommand(chip, a, code);
  }
}

bool InterpolationDriving(const ChipModel& chip) {
  for (uint32_t a = 0; a < kAxes; ++a) {
    if ((chip.interp_axes & (1u << a)) && chip.axis[a].reg.driving) return true;
  }
  return false;
}

// Each read of RR0 is one poll: timed drives count down and end here.
uint16_t ReadMainStatus(ChipModel* chip) {
  uint16_t value = chip->main_bits & 0x7FF0u;
  for (uint32_t a = 0; a < kAxes; ++a) {
    if (chip->axis[a].reg.driving) value |= 1u << a;
  }
  if (InterpolationDriving(*chip)) value |= 0x100u;
  for (AxisModel& axis : chip->axis) {
    if (axis.reg.driving && axis.polls_left > 0 && --axis.polls_left == 0) Finish(&axis);
  }
  if (chip->polled && !InterpolationDriving(*chip)) {
    chip->interp_axes = 0;
    const uint16_t queued = chip->queued_command;
    chip->queued_command = 0;
    if (queued) RunInterpolation(chip, queued, chip->queued_axes, true);
  }
  return value;
}

}  // namespace

uint16_t ChipRead(ChipModel* chip, uint32_t offset) {
  const int a = LowestSelected(*chip);
  switch (offset) {
    case chip::kRr0:
      return ReadMainStatus(chip);
    case chip::kRr1:
      return a < 0 ? 0 : DriveStatus(chip->axis[a]);
    case chip::kRr2:
      return a < 0 ? 0 : chip->axis[a].reg.rr2 | chip->axis[a].stop_cause;
    case chip::kRr3:
      return a < 0 ? 0 : chip->axis[a].reg.rr3;
    case chip::kRr4:
      return static_cast<uint16_t>(InputByte(chip->axis[0]) | InputByte(chip->axis[1]) << 8);
    case chip::kRr5:
      return static_cast<uint16_t>(InputByte(chip->axis[2]) | InputByte(chip->axis[3]) << 8);
    case chip::kRr6:
      return chip->rr6;
    case chip::kRr7:
      return chip->rr7;
    default:
      return 0;
  }
}

void ChipWrite(ChipModel* chip, uint32_t offset, uint16_t value) {
  switch (offset) {
    case chip::kWr0:
      Execute(chip, value);
      break;
    case chip::kWr1:
    case chip::kWr2:
    case chip::kWr3:
      for (uint32_t a = 0; a < kAxes; ++a) {
        if (!(chip->selected & (1u << a))) continue;
        AxisState& reg = chip->axis[a].reg;
        (offset == chip::kWr1 ? reg.wr1 : offset == chip::kWr2 ? reg.wr2 : reg.wr3) = value;
      }
      break;
    case chip::kWr4:
      chip->wr4 = value;
      break;
    case chip::kWr5:
      chip->wr5 = value;
      break;
    case chip::kWr6:
      chip->wr6 = value;
      break;
    case chip::kWr7:
      chip->wr7 = value;
      break;
    default:
      break;
  }
}

bool ProfiledDriveRunning(const ChipModel& chip) {
  if (chip.path.motion.busy) return true;
  for (const AxisModel& axis : chip.axis) {
    if (Driving(axis)) return true;
  }
  return false;
}

bool AdvanceChip(ChipModel* chip, double seconds) {
  if (!ProfiledDriveRunning(*chip)) return false;
  if (chip->path.motion.busy) RunPath(chip, seconds);
  for (AxisModel& axis : chip->axis) {
    if (Driving(axis)) RunAxis(chip, &axis, seconds);
  }
  return ProfiledDriveRunning(*chip);
}

void SetChipEmergency(ChipModel* chip, bool on) {
  chip->emergency = on;
  if (!on) return;
  if (chip->path.motion.busy) {
    for (int i = 0; i < chip->path.count; ++i) {
      chip->axis[chip->path.axis[i]].stop_cause |= 1u << rr2::kEmergency;
    }
    StopPath(chip, true);
  }
  for (AxisModel& axis : chip->axis) {
    if (!axis.motion.busy && axis.home.step == 0) continue;
    axis.stop_cause |= 1u << rr2::kEmergency;
    StopOne(&axis, true);
  }
}

void SetChipAlarm(ChipModel* chip, uint32_t a, bool on) {
  AxisModel& axis = chip->axis[a];
  axis.machine.alarm = on;
  if (!on || !(axis.reg.wr2 & 1u << wr2::kAlarmEnable)) return;
  if (!Driving(axis) && !InPath(*chip, static_cast<int>(a))) return;
  axis.stop_cause |= 1u << rr2::kAlarm;
  StopAxis(chip, a, true);
}

void ForceDriving(ChipModel* chip, uint32_t axis, bool driving) {
  AxisModel& model = chip->axis[axis];
  if (driving) {
    model.reg.driving = true;
    model.polls_left = 0;
  } else if (model.motion.busy || model.home.step != 0) {
    StopOne(&model, true);  // a profiled drive ends where it stands
  } else if (model.reg.driving) {
    Finish(&model);
  }
}

}  // namespace rvx::sim
