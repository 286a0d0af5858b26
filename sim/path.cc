// Interpolation in time: the chip drives one profile along the path and the
// group axes follow it, each to its end point exactly.
#include <cmath>
#include <cstdlib>

#include "core/registers.h"
#include "sim/board.h"

namespace rvx::sim {
namespace {

constexpr double kPi = 3.14159265358979323846;

int32_t Add(int32_t value, int64_t delta) {
  return static_cast<int32_t>(static_cast<uint32_t>(value) + static_cast<uint32_t>(delta));
}

// Travel of a line's axis after `s` of `length` path pulses, rounded.
int64_t LineTravel(int64_t end, int64_t s, int64_t length) {
  const int64_t scaled = std::llabs(end) * s * 2 + length;
  return (end < 0 ? -1 : 1) * (scaled / (2 * length));
}

int64_t Travel(const PathModel& path, int i, uint32_t s, uint32_t length) {
  if (s >= length) return path.end[i];
  if (!path.arc) return LineTravel(path.end[i], s, length);
  const double angle = path.angle + path.sweep * s / length;
  const double at = path.centre[i] + path.radius * (i == 0 ? std::cos(angle) : std::sin(angle));
  return std::llround(at);
}

uint32_t PathLength(PathModel* path, uint16_t code) {
  if (!path->arc) {
    uint32_t longest = 0;
    for (int i = 0; i < path->count; ++i) {
      longest = std::max(longest, static_cast<uint32_t>(std::llabs(path->end[i])));
    }
    return longest;
  }
  const double sx = -path->centre[0], sy = -path->centre[1];
  const double ex = path->end[0] - path->centre[0], ey = path->end[1] - path->centre[1];
  path->radius = std::hypot(sx, sy);
  path->angle = std::atan2(sy, sx);
  double sweep = std::atan2(ey, ex) - path->angle;
  // 0x32 turns clockwise, 0x33 counter-clockwise; an arc back to its start is a full circle.
  if (code == cmd::kArcCcw) {
    while (sweep <= 0) sweep += 2 * kPi;
  } else {
    while (sweep >= 0) sweep -= 2 * kPi;
  }
  path->sweep = sweep;
  return static_cast<uint32_t>(std::max(1.0, std::round(path->radius * std::fabs(sweep))));
}

void EndPath(ChipModel* chip) {
  for (int i = 0; i < chip->path.count; ++i) {
    AxisModel& axis = chip->axis[chip->path.axis[i]];
    axis.reg.driving = false;
    axis.interpolating = false;
    axis.events |= kDriveEndEvent;
  }
  chip->interp_axes = 0;
  const uint16_t queued = chip->queued_command;
  chip->queued_command = 0;
  if (!queued) return;
  int32_t ends[kAxes], centres[kAxes];
  for (uint32_t a = 0; a < kAxes; ++a) {
    ends[a] = chip->axis[a].queued_travel;
    centres[a] = chip->axis[a].queued_center;
  }
  StartPath(chip, queued, chip->queued_axes, ends, centres);
}

}  // namespace

void StartPath(ChipModel* chip, uint16_t code, uint8_t group, const int32_t* ends,
               const int32_t* centres) {
  PathModel& path = chip->path;
  path = PathModel{};
  // The group in WR5's order: first, second (and third) axis fields.
  const int count = code == cmd::kLine3 ? 3 : 2;
  for (int i = 0; i < count; ++i) {
    const uint32_t a = (chip->wr5 >> (2 * i)) & 3u;
    if (!(group & (1u << a))) continue;
    path.axis[path.count] = static_cast<uint8_t>(a);
    path.end[path.count] = ends[a];
    if (path.count < 2) path.centre[path.count] = centres[a];
    ++path.count;
  }
  path.arc = code == cmd::kArcCw || code == cmd::kArcCcw;
  const uint32_t length = PathLength(&path, code);
  // The first axis's registers shape the profile along the path.
  MotionParams params = ParamsOf(chip->axis[path.axis[0]].reg);
  if (path.arc) params.s_curve = false;
  StartFixedDrive(&path.motion, params, length, 1);
  for (int i = 0; i < path.count; ++i) {
    AxisModel& axis = chip->axis[path.axis[i]];
    axis.reg.last_drive_command = code;
    axis.stop_cause = 0;
    axis.interpolating = true;
    axis.reg.driving = path.motion.busy;
  }
  chip->interp_axes = path.motion.busy ? group : 0;
  if (!path.motion.busy) EndPath(chip);
}

namespace {

// Path pulses that may pass before a group axis could reach a position at
// which a sensor acts: a line's axis moves at most one pulse per path pulse,
// an arc's at most that and one for rounding, so the nearest edge of any
// axis bounds it. Close to an edge an arc goes pulse by pulse.
uint32_t PathPulsesToEdge(const ChipModel& chip) {
  const PathModel& path = chip.path;
  uint32_t nearest = 0;
  for (int i = 0; i < path.count; ++i) {
    AxisModel axis = chip.axis[path.axis[i]];
    // A line's axis keeps its way; an arc's may turn, so both count.
    const int64_t way = path.end[i] - path.applied[i];
    if (!path.arc && way == 0) continue;
    for (const int direction : {1, -1}) {
      if (!path.arc && (way > 0) != (direction > 0)) continue;
      axis.motion.direction = static_cast<int8_t>(direction);
      const uint32_t edge = PulsesToEdge(axis);
      if (edge == 0) continue;
      const uint32_t bound = !path.arc ? edge : edge > 2 ? edge - 2 : 1;
      if (nearest == 0 || bound < nearest) nearest = bound;
    }
  }
  return nearest;
}

}  // namespace

void RunPath(ChipModel* chip, double seconds) {
  PathModel& path = chip->path;
  double left = seconds;
  for (int guard = 0; guard < 100000 && left > 0 && path.motion.busy; ++guard) {
    int64_t unused = 0;
    left -= Run(&path.motion, left, PathPulsesToEdge(*chip), &unused);
    const uint32_t length = path.motion.pulse_count;
    for (int i = 0; i < path.count; ++i) {
      AxisModel& axis = chip->axis[path.axis[i]];
      const int64_t travel = Travel(path, i, path.motion.output, length);
      const int64_t delta = travel - path.applied[i];
      path.applied[i] = static_cast<int32_t>(travel);
      axis.reg.logical = Add(axis.reg.logical, delta);
      axis.reg.real = Add(axis.reg.real, delta);
      axis.place = Add(axis.place, delta);
      if (delta == 0 || !path.motion.busy) continue;
      axis.motion.direction = delta > 0 ? 1 : -1;  // the axis's own drive is idle meanwhile
      if (const uint16_t cause = StopCause(axis, chip->emergency)) {
        axis.stop_cause |= cause;
        StopsAtOnce(axis, cause) ? SuddenStop(&path.motion) : DecelerateStop(&path.motion);
      }
    }
    // A segment waiting in continuous mode starts here and takes the rest of the time.
    if (!path.motion.busy) EndPath(chip);
  }
}

double PathAxisSpeed(const ChipModel& chip, uint32_t axis) {
  const PathModel& path = chip.path;
  if (!path.motion.busy || path.motion.pulse_count == 0) return 0;
  for (int i = 0; i < path.count; ++i) {
    if (path.axis[i] != axis) continue;
    if (!path.arc) {
      return path.motion.velocity * std::llabs(path.end[i]) / path.motion.pulse_count;
    }
    // Along a circle each axis goes as the sine or cosine of where it stands.
    const double angle = path.angle + path.sweep * path.motion.output / path.motion.pulse_count;
    return path.motion.velocity * std::fabs(i == 0 ? std::sin(angle) : std::cos(angle));
  }
  return 0;
}

void StopPath(ChipModel* chip, bool sudden) {
  chip->queued_command = 0;
  if (!sudden) {
    DecelerateStop(&chip->path.motion);
    return;
  }
  SuddenStop(&chip->path.motion);
  EndPath(chip);
}

}  // namespace rvx::sim
