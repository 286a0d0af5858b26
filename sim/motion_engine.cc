#include "sim/motion_engine.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace rvx::sim {
namespace {

constexpr double kForever = std::numeric_limits<double>::infinity();

double Clamped(double value, double low, double high) {
  return std::min(std::max(value, low), high);
}

struct Ramp {
  double limit;  // largest acceleration, PPS/s
  double jerk;   // PPS/s^2 (S-curve only)
};

// The registers turned into speeds, once per Advance.
struct Limits {
  double drive;    // PPS
  double initial;  // PPS, never above the drive speed
  Ramp up, down;
  bool s_curve;
};

Limits LimitsOf(const MotionParams& p) {
  const double m = EffectiveMultiplier(p);
  Limits lim;
  const double drive = Clamped(p.drive, 1, 8000);
  lim.drive = drive * m;
  lim.initial = std::min(Clamped(p.initial, 1, 8000), drive) * m;
  lim.up = {Clamped(p.acc, 1, 8000) * 125 * m, 62.5e6 / Clamped(p.acc_jerk, 1, 65535) * m};
  lim.down = p.separate_decel ? Ramp{Clamped(p.dec, 1, 8000) * 125 * m,
                                     62.5e6 / Clamped(p.dec_jerk, 1, 65535) * m}
                              : lim.up;
  lim.s_curve = p.s_curve;
  return lim;
}

// One piece of a profile: constant jerk from the given acceleration (a
// trapezoid has jerk 0 and switches its acceleration at once).
struct Piece {
  double jerk;
  double accel;
  double duration;  // seconds; kForever while nothing changes
  enum End : uint8_t { kReplan, kAccelReached, kTargetReached } end;
  double end_accel;  // exact acceleration after a full kAccelReached piece
};

struct Kinematics {
  double velocity, accel;
};

// Speeds this close count as equal, so that a ramp ends on its target instead
// of chasing rounding errors.
double Tolerance(double target) { return 1e-9 * (std::fabs(target) + 1.0); }

// The next piece that takes the speed towards `target`. A speed that has
// settled on the target snaps to it exactly.
Piece Plan(Kinematics* k, double target, const Limits& lim) {
  const double tol = Tolerance(target);
  if (std::fabs(k->velocity - target) <= tol && (!lim.s_curve || k->accel == 0)) {
    *k = {target, 0};
    return {0, 0, kForever, Piece::kReplan, 0};
  }
  const double s = target >= k->velocity ? 1 : -1;
  const Ramp& r = s > 0 ? lim.up : lim.down;
  if (!lim.s_curve) {
    return {0, s * r.limit, std::fabs(target - k->velocity) / r.limit, Piece::kTargetReached, 0};
  }
  // S-curve, seen in the frame where the target lies above.
  const double v = s * k->velocity, a = s * k->accel, goal = s * target, j = r.jerk;
  Piece p;
  if (a < 0) {
    // An acceleration the other way is taken back as the ramp that built it
    // would have: a fixed drive that must slow down while still speeding up
    // first ends its up ramp.
    const double back = (s > 0 ? lim.down : lim.up).jerk;
    p = {back, a, -a / back, Piece::kAccelReached, 0};
  } else {
    // Where the speed would settle if the acceleration were taken back now.
    const double c = v + a * a / (2 * j) - goal;
    if (c >= -tol) {
      p = {-j, a, a / j, c <= tol ? Piece::kTargetReached : Piece::kAccelReached, 0};
    } else if (a < r.limit) {
      const double turn = (-a + std::sqrt(a * a - j * c)) / j;
      const double full = (r.limit - a) / j;
      p = turn <= full ? Piece{j, a, turn, Piece::kReplan, 0}
                       : Piece{j, a, full, Piece::kAccelReached, r.limit};
    } else {
      p = {0, a, -c / a, Piece::kReplan, 0};
    }
  }
  p.jerk *= s;
  p.accel *= s;
  p.end_accel *= s;
  return p;
}

double Distance(const Kinematics& k, const Piece& p, double t) {
  return t * (k.velocity + t * (p.accel / 2 + t * p.jerk / 6));
}

Kinematics After(const Kinematics& k, const Piece& p, double t, bool whole, double target) {
  if (whole && p.end == Piece::kTargetReached) return {target, 0};
  Kinematics next{k.velocity + t * (p.accel + t * p.jerk / 2), p.accel + t * p.jerk};
  if (whole && p.end == Piece::kAccelReached) next.accel = p.end_accel;
  return next;
}

// Pulses needed to come down from `k` to the initial speed.
double StopDistance(Kinematics k, const Limits& lim) {
  double total = 0;
  for (int guard = 0; guard < 16; ++guard) {
    const Piece p = Plan(&k, lim.initial, lim);
    if (p.duration == kForever) break;
    total += Distance(k, p, p.duration);
    k = After(k, p, p.duration, true, lim.initial);
  }
  return total;
}

Kinematics KinematicsOf(const AxisMotion& axis) { return {axis.velocity, axis.accel}; }

double Target(const AxisMotion& axis, const Limits& lim) {
  return axis.phase == DrivePhase::kRunning ? lim.drive : lim.initial;
}

// A fixed-pulse drive stops at its count unless it had already passed it
// (a shortened count), when it stops by decelerating.
bool Capped(const AxisMotion& axis) {
  return axis.kind == DriveKind::kFixed && axis.output < axis.pulse_count;
}

void Finish(AxisMotion* axis) {
  axis->busy = false;
  axis->kind = DriveKind::kNone;
  axis->phase = DrivePhase::kIdle;
  axis->velocity = axis->accel = axis->fraction = 0;
  axis->speed = 0;
}

// Pulses left after `t` of the piece, less those needed to stop from there.
double Margin(const AxisMotion& axis, const Piece& p, double t, const Limits& lim) {
  const Kinematics k = KinematicsOf(axis);
  const double travelled = axis.output + axis.fraction + Distance(k, p, t);
  return axis.pulse_count - travelled - StopDistance(After(k, p, t, false, 0), lim);
}

// Follows the piece for `t` and outputs the whole pulses travelled, or
// exactly `exact` pulses when the piece was cut where the last of them is out.
void Move(AxisMotion* axis, const Piece& p, double t, bool whole, double target,
          uint32_t exact = 0) {
  const Kinematics k = KinematicsOf(*axis);
  const bool capped = Capped(*axis);
  axis->fraction += std::max(Distance(k, p, t), 0.0);
  double pulses = exact != 0 ? exact : std::floor(axis->fraction);
  if (capped) pulses = std::min(pulses, static_cast<double>(axis->pulse_count - axis->output));
  axis->fraction = std::max(axis->fraction - pulses, 0.0);
  axis->output += static_cast<uint32_t>(pulses);
  const uint32_t step = static_cast<uint32_t>(pulses) * static_cast<uint32_t>(axis->direction);
  axis->position = static_cast<int32_t>(static_cast<uint32_t>(axis->position) + step);
  const Kinematics next = After(k, p, t, whole, target);
  axis->velocity = next.velocity;
  axis->accel = next.accel;
  axis->elapsed += t;
  if (capped && axis->output == axis->pulse_count) Finish(axis);
}

// The moment within the first `t` of the piece at which `distance` more is
// travelled: the earliest time the pulse that completes it is out.
double TimeToTravel(const AxisMotion& axis, const Piece& p, double t, double distance) {
  const Kinematics k = KinematicsOf(axis);
  double lo = 0, hi = t;
  for (int i = 0; i < 64; ++i) {
    const double mid = (lo + hi) / 2;
    (Distance(k, p, mid) >= distance ? hi : lo) = mid;
  }
  return hi;
}

// The fixed-pulse drive's deceleration point within the first `t` of the
// piece: the latest moment at which the pulses left still cover the stop.
double DecelerationPoint(const AxisMotion& axis, const Piece& p, double t, const Limits& lim) {
  if (Margin(axis, p, 0, lim) <= 0) return 0;
  double lo = 0, hi = t;
  for (int i = 0; i < 48; ++i) {
    const double mid = (lo + hi) / 2;
    (Margin(axis, p, mid, lim) > 0 ? lo : hi) = mid;
  }
  return lo;
}

// Follows the drive for at most `seconds`, or until `pulses` more are out
// (0: no such end); returns the time that passed.
double Step(AxisMotion* axis, const Limits& lim, double seconds, uint32_t pulses) {
  const uint32_t goal = axis->output + pulses;
  double left = seconds;
  for (int guard = 0; guard < 64 && left > 0 && axis->busy; ++guard) {
    if (pulses != 0 && axis->output == goal) break;
    const double target = Target(*axis, lim);
    Kinematics k = KinematicsOf(*axis);
    const Piece p = Plan(&k, target, lim);
    axis->velocity = k.velocity;
    axis->accel = k.accel;
    if (p.duration == kForever && axis->phase == DrivePhase::kStopping) {
      Finish(axis);
      break;
    }
    double t = std::min(p.duration, left);
    bool whole = p.duration <= left;
    if (axis->phase == DrivePhase::kRunning && Capped(*axis) && Margin(*axis, p, t, lim) <= 0) {
      t = DecelerationPoint(*axis, p, t, lim);
      whole = false;
      axis->phase = DrivePhase::kEnding;
    }
    // The run ends on the pulse asked for, or on a fixed drive's last.
    uint32_t wanted = pulses != 0 ? goal - axis->output : 0;
    if (Capped(*axis)) {
      const uint32_t rest = axis->pulse_count - axis->output;
      wanted = wanted == 0 ? rest : std::min(wanted, rest);
    }
    uint32_t exact = 0;
    if (wanted != 0 && Distance(k, p, t) >= wanted - axis->fraction) {
      t = TimeToTravel(*axis, p, t, wanted - axis->fraction);
      whole = false;
      exact = wanted;
    }
    Move(axis, p, t, whole, target, exact);
    left -= t;
    if (exact != 0) break;
  }
  return seconds - std::max(left, 0.0);
}

uint16_t SpeedParameter(const AxisMotion& axis) {
  const double m = EffectiveMultiplier(axis.params);
  return static_cast<uint16_t>(Clamped(std::floor(axis.velocity / m + 0.5), 0, 8000));
}

bool Start(AxisMotion* axis, const MotionParams& params, DriveKind kind, uint32_t count,
           int direction) {
  if (axis->busy) return false;
  axis->params = params;
  axis->kind = kind;
  axis->phase = DrivePhase::kRunning;
  axis->direction = direction > 0 ? 1 : -1;
  axis->busy = true;
  axis->pulse_count = count;
  axis->output = 0;
  axis->elapsed = 0;
  axis->velocity = LimitsOf(params).initial;
  axis->accel = axis->fraction = 0;
  axis->speed = SpeedParameter(*axis);
  if (kind == DriveKind::kFixed && count == 0) Finish(axis);
  return true;
}

}  // namespace

double EffectiveMultiplier(const MotionParams& params) {
  return 8e6 / Clamped(params.range, 16000, 8000000);
}

bool StartFixedDrive(AxisMotion* axis, const MotionParams& params, uint32_t count, int direction) {
  return Start(axis, params, DriveKind::kFixed, count, direction);
}

bool StartContinuousDrive(AxisMotion* axis, const MotionParams& params, int direction) {
  return Start(axis, params, DriveKind::kContinuous, 0, direction);
}

void DecelerateStop(AxisMotion* axis) {
  if (axis->busy) axis->phase = DrivePhase::kStopping;
}

void SuddenStop(AxisMotion* axis) {
  if (axis->busy) Finish(axis);
}

void OverrideDriveSpeed(AxisMotion* axis, uint16_t drive) { axis->params.drive = drive; }

void OverridePulseCount(AxisMotion* axis, uint32_t count) {
  axis->pulse_count = count;
  if (!axis->busy || axis->kind != DriveKind::kFixed || axis->phase == DrivePhase::kStopping) {
    return;
  }
  // Reached already: no way to end on it, so the drive slows down at once.
  // Otherwise the drive runs on and finds its new deceleration point.
  axis->phase = count <= axis->output ? DrivePhase::kStopping : DrivePhase::kRunning;
}

double Run(AxisMotion* axis, double seconds, uint32_t pulses, int64_t* moved) {
  if (!axis->busy) return 0;
  const Limits lim = LimitsOf(axis->params);
  const uint32_t start = axis->output;
  const int direction = axis->direction;
  const double used = Step(axis, lim, seconds, pulses);
  if (axis->busy) axis->speed = SpeedParameter(*axis);
  *moved += static_cast<int64_t>(axis->output - start) * direction;
  return used;
}

int64_t Advance(AxisMotion* axis, uint64_t ticks) {
  int64_t moved = 0;
  for (uint64_t i = 0; i < ticks && axis->busy; ++i) Run(axis, kTickSeconds, 0, &moved);
  return moved;
}

}  // namespace rvx::sim
