// The machine around each simulated axis: its sensors as the input registers
// show them and as they stop the axis, and the chip's automatic home search
// run against them.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "core/registers.h"
#include "sim/board.h"

namespace rvx::sim {
namespace {

bool Within(int32_t position, const SensorWindow& window) {
  return window.fitted && position >= window.from && position <= window.to;
}

bool LimitOn(const AxisModel& axis, int direction) {
  const MachineModel& m = axis.machine;
  if (!m.limits) return false;
  return direction > 0 ? axis.place >= m.limit_plus : axis.place <= m.limit_minus;
}

}  // namespace

bool OnEncoderZ(const AxisModel& axis) {
  const uint32_t z = axis.machine.z_period;
  return z != 0 && static_cast<int64_t>(axis.place) % z == 0;
}

namespace {

bool Set(uint16_t word, uint32_t bit) { return (word >> bit) & 1u; }

// A sensor's pin as the chip sees it: logic 1 makes an active sensor pull
// its input low.
uint8_t Pin(bool fitted, bool on, bool logic, uint32_t bit) {
  return fitted && (on != logic) ? static_cast<uint8_t>(1u << bit) : 0;
}

// Home search steps: 1 near-home at the drive speed, 2 home and 3 encoder Z
// at the home low speed, 4 the offset drive.
bool StepEnabled(uint16_t em7, int step) { return Set(em7, em7::kHomeStepShift + 2 * step - 2); }
int StepDirection(uint16_t em7, int step) {
  return Set(em7, em7::kHomeStepShift + 2 * step - 1) ? -1 : 1;
}

// What ends a search step: the near-home sensor, the home sensor (or, in
// limit-as-home modes, the limit ahead), the encoder Z.
bool StepSensorOn(const AxisModel& axis, int step, int direction) {
  switch (step) {
    case 1:
      return Within(axis.place, axis.machine.near_home);
    case 2:
      return Set(axis.reg.em7, em7::kLimitAsHome) ? LimitOn(axis, direction)
                                                  : Within(axis.place, axis.machine.home);
    case 3:
      return OnEncoderZ(axis);
    default:
      return false;
  }
}

MotionParams SearchParams(const AxisState& reg, bool low_speed) {
  MotionParams params = ParamsOf(reg);
  params.s_curve = false;  // the home search always runs trapezoids
  if (low_speed) params.initial = params.drive = reg.home_low;
  return params;
}

// Starts the first enabled step from `step` on whose sensor is not on yet;
// step 0 when none is left.
void StartStep(AxisModel* axis, int step) {
  const uint16_t em7 = axis->reg.em7;
  for (; step <= 4; ++step) {
    if (!StepEnabled(em7, step)) continue;
    const int direction = StepDirection(em7, step);
    axis->home = {static_cast<uint8_t>(step), false};
    if (step == 4) {
      StartFixedDrive(&axis->motion, SearchParams(axis->reg, false), axis->reg.pulse_count,
                      direction);
      if (axis->motion.busy) return;
      continue;
    }
    const bool on = StepSensorOn(*axis, step, direction);
    if (on && step != 2) continue;  // already there
    // A search for home that starts on the sensor first backs off it.
    axis->home.backing_off = on;
    StartContinuousDrive(&axis->motion, SearchParams(axis->reg, step != 1),
                         on ? -direction : direction);
    return;
  }
  axis->home = {0, false};
  if (Set(em7, 8)) axis->reg.logical = axis->reg.real = 0;  // the search sets the origin
}

}  // namespace

MotionParams ParamsOf(const AxisState& reg) {
  return {reg.range, reg.initial, reg.drive, reg.acc, reg.dec, reg.acc_jerk, reg.dec_jerk,
          Set(reg.wr3, wr3::kSCurve),
          // The down ramp has its own parameters: D in a trapezoid (WR3), D
          // and L in a fixed-pulse S-curve (EM6).
          Set(reg.wr3, wr3::kSeparateDecel) ||
              (Set(reg.wr3, wr3::kSCurve) && Set(reg.em6, em6::kSCurveMove))};
}

std::string CheckMachine(const MachineModel& m) {
  if (m.limits && m.limit_minus >= m.limit_plus) {
    return "the - limit (" + std::to_string(m.limit_minus) + ") must lie below the + limit (" +
           std::to_string(m.limit_plus) + ")";
  }
  for (const SensorWindow* w : {&m.near_home, &m.home}) {
    if (w->fitted && w->from > w->to) {
      return "a sensor window from " + std::to_string(w->from) + " to " + std::to_string(w->to) +
             " is empty";
    }
  }
  return "";
}

uint8_t InputByte(const AxisModel& axis) {
  const MachineModel& m = axis.machine;
  const AxisState& r = axis.reg;
  const int32_t p = axis.place;
  const uint8_t pins =
      Pin(m.near_home.fitted, Within(p, m.near_home), Set(r.wr1, wr1::kNearHomeLogic),
          input::kNearHome) |
      Pin(m.home.fitted, Within(p, m.home), Set(r.wr1, wr1::kHomeLogic), input::kHome) |
      Pin(m.z_period != 0, OnEncoderZ(axis), Set(r.wr1, wr1::kEncoderZLogic), input::kEncoderZ) |
      Pin(m.limits, LimitOn(axis, 1), Set(r.wr2, wr2::kHardLimitPlusLogic), input::kHardLimitPlus) |
      Pin(m.limits, LimitOn(axis, -1), Set(r.wr2, wr2::kHardLimitMinusLogic),
          input::kHardLimitMinus) |
      Pin(m.servo, !axis.reg.driving, Set(r.wr2, wr2::kInPositionLogic), input::kInPosition) |
      Pin(m.servo || m.alarm, m.alarm, Set(r.wr2, wr2::kAlarmLogic), input::kAlarm);
  return static_cast<uint8_t>(axis.inputs & ~pins);
}

uint16_t StopCause(const AxisModel& axis, bool emergency) {
  const AxisState& r = axis.reg;
  const int direction = axis.motion.direction;
  uint16_t cause = 0;
  if (emergency) cause |= 1u << rr2::kEmergency;
  if (axis.machine.alarm && Set(r.wr2, wr2::kAlarmEnable)) cause |= 1u << rr2::kAlarm;
  if (LimitOn(axis, direction)) {
    cause |= 1u << (direction > 0 ? rr2::kHardLimitPlus : rr2::kHardLimitMinus);
  }
  // Software limits: the logical position against the compare registers.
  if (direction > 0 && Set(r.wr2, wr2::kSoftLimitPlus) && r.logical >= r.comp_plus) {
    cause |= 1u << rr2::kSoftLimitPlus;
  }
  if (direction < 0 && Set(r.wr2, wr2::kSoftLimitMinus) && r.logical <= r.comp_minus) {
    cause |= 1u << rr2::kSoftLimitMinus;
  }
  return cause;
}

namespace {

// Pulses from `from` until the position is `to`, going `direction`; 0 when
// `to` does not lie ahead.
int64_t Ahead(int64_t from, int64_t to, int direction) {
  const int64_t d = (to - from) * direction;
  return d > 0 ? d : 0;
}

// Pulses until a sensor window is entered (or, `leaving`, left).
int64_t WindowEdge(int32_t place, const SensorWindow& w, int direction, bool leaving) {
  if (!w.fitted) return 0;
  if (leaving) return Ahead(place, direction > 0 ? w.to + 1LL : w.from - 1LL, direction);
  return Ahead(place, direction > 0 ? w.from : w.to, direction);
}

}  // namespace

uint32_t PulsesToEdge(const AxisModel& axis) {
  const MachineModel& m = axis.machine;
  const AxisState& r = axis.reg;
  const int direction = axis.motion.direction;
  int64_t edges[4] = {};
  if (m.limits)
    edges[0] = Ahead(axis.place, direction > 0 ? m.limit_plus : m.limit_minus, direction);
  if (direction > 0 && Set(r.wr2, wr2::kSoftLimitPlus)) edges[1] = Ahead(r.logical, r.comp_plus, 1);
  if (direction < 0 && Set(r.wr2, wr2::kSoftLimitMinus)) {
    edges[1] = Ahead(r.logical, r.comp_minus, -1);
  }
  switch (axis.home.step) {
    case 1:
      edges[2] = WindowEdge(axis.place, m.near_home, direction, false);
      break;
    case 2:
      edges[2] = WindowEdge(axis.place, m.home, direction, axis.home.backing_off);
      break;
    case 3:
      if (m.z_period != 0) {
        const int64_t z = m.z_period;
        const int64_t past = ((axis.place % z) + z) % z;  // pulses since the mark below
        edges[2] = direction > 0 ? z - past : (past == 0 ? z : past);
      }
      break;
    default:
      break;
  }
  int64_t nearest = 0;
  for (const int64_t e : edges) {
    if (e > 0 && (nearest == 0 || e < nearest)) nearest = e;
  }
  return static_cast<uint32_t>(std::min<int64_t>(nearest, UINT32_MAX));
}

bool StopsAtOnce(const AxisModel& axis, uint16_t cause) {
  const bool hard_limit = cause & Mask({rr2::kHardLimitPlus, rr2::kHardLimitMinus});
  return (cause & Mask({rr2::kAlarm, rr2::kEmergency})) ||
         (hard_limit && !Set(axis.reg.wr2, wr2::kHardLimitMode));
}

void StartHomeSearch(AxisModel* axis) { StartStep(axis, 1); }

void FollowHomeSearch(AxisModel* axis) {
  const int step = axis->home.step;
  const int direction = StepDirection(axis->reg.em7, step);
  if (axis->motion.busy) {
    const bool on = StepSensorOn(*axis, step, direction);
    if (axis->home.backing_off) {
      if (!on) {  // off the sensor: now search for its edge
        SuddenStop(&axis->motion);
        axis->home.backing_off = false;
        StartContinuousDrive(&axis->motion, SearchParams(axis->reg, true), direction);
      }
      return;
    }
    if (on && step != 4) {
      step == 1 ? DecelerateStop(&axis->motion) : SuddenStop(&axis->motion);
      if (step != 1) StartStep(axis, step + 1);
      return;
    }
    uint16_t cause = StopCause(*axis, false);
    if (step == 2 && Set(axis->reg.em7, em7::kLimitAsHome)) {
      cause &= static_cast<uint16_t>(~Mask({rr2::kHardLimitPlus, rr2::kHardLimitMinus}));
    }
    if (cause != 0) {  // the search ends where the machine stopped it
      axis->stop_cause |= cause;
      SuddenStop(&axis->motion);
      axis->home = {0, false};
    }
    return;
  }
  StartStep(axis, step + 1);  // the step's drive came to its end
}

}  // namespace rvx::sim
