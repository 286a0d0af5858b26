// Circular interpolation by end point (arcs) and by swept angle (theta) on a
// two-axis group. Both load centre and end point relative to the current
// position on each axis and start the chip's arc with a constant path speed.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "interp/interp.h"

namespace rvx {
namespace {

// The library's degree factor, used both ways; the chip's rounding of the
// end point depends on it, so it is not the exact pi / 180.
constexpr double kDegree = 0.017453293;
constexpr i32 kMaxAngle = 360;

bool WithinDistance(int64_t value) { return std::llabs(value) <= kMaxDistance; }

// Loads centre and end point on each axis, first then second, relative to
// its current position: absolute values become relative to the logical
// position read as the axis is prepared. A busy second axis leaves the first
// one loaded.
bool LoadArc(BoardCall& call, const Group& group, const i32 (&centre)[2], const i32 (&end)[2],
             bool absolute, Positions* first_at) {
  for (u32 i = 0; i < 2; ++i) {
    const Axis a = call.axis_at(group.axis[i]);
    Positions at;
    if (!PrepareArcAxis(call, a, &at)) return false;
    if (i == 0) *first_at = at;
    const int64_t origin = absolute ? static_cast<int64_t>(at.logical) : 0;
    const int64_t rel_centre = centre[i] - origin, rel_end = end[i] - origin;
    if (!call.Check(WithinDistance(rel_centre) && WithinDistance(rel_end), ERR_MAX_DISTANCE)) {
      return false;
    }
    WriteArcPoint(a, static_cast<i32>(rel_centre), static_cast<i32>(rel_end));
    MoveTableEntry(call.board_number(), a.number()) = kInterpolationMove;
  }
  return true;
}

// An arc by centre and end point, relative to the start or absolute; the
// first axis's positions as read for the log line.
Positions Arc(BoardCall& call, u16 map, const i32 (&centre)[2], const i32 (&end)[2], u16 direction,
              bool absolute) {
  // Absolute values are checked against the start once it is read.
  const auto valid = [absolute](i32 v) { return absolute ? v != INT32_MIN : WithinDistance(v); };
  Positions at;
  Group group;
  if (CheckMapNumber(call, map) &&
      call.Check(valid(centre[0]) && valid(centre[1]) && valid(end[0]) && valid(end[1]) &&
                 direction <= 1) &&
      CheckGroup(call, map, 2, 2, &group) && LoadArc(call, group, centre, end, absolute, &at)) {
    StartArc(call, group, map, direction == 1 ? cmd::kArcCcw : cmd::kArcCw);
  }
  return at;
}

u16 ThetaCommand(i32 angle) { return angle >= 0 ? cmd::kArcCcw : cmd::kArcCw; }

bool ValidAngle(i32 angle) { return angle >= -kMaxAngle && angle <= kMaxAngle; }

}  // namespace

Point ThetaEndPoint(i32 centre_x, i32 centre_y, i32 angle) {
  // A whole turn ends where it starts, whatever the start angle's fraction
  // that the truncation below would lose; the chip runs an arc back to its
  // start as a full circle.
  if (angle % 360 == 0) return {0, 0};
  const double cx = centre_x, cy = centre_y;
  const double q = centre_x == 0 ? 0.0 : cy / cx;
  const double d = std::atan(q) / kDegree;
  // The quadrant of the start point seen from the centre; a later rule that
  // holds overrides an earlier one.
  double base = 0;
  if (cx >= 0 && cy < 0) base = 90;
  if (cx > 0 && cy >= 0) base = 180;
  if (cx <= 0 && cy > 0) base = 270;
  const double start = d >= 0 ? base + d : base + 90 + d;
  const i32 end_angle = (static_cast<i32>(start) + angle) % 360;
  const double r = std::sqrt(cx * cx + cy * cy);
  return {static_cast<i32>(std::floor(cx + r * std::cos(kDegree * end_angle) + 0.5)),
          static_cast<i32>(std::floor(cy + r * std::sin(kDegree * end_angle) + 0.5))};
}

}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_Inc_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction) {
  BoardCall call(board, LogRule::kSetter);
  const Positions at = Arc(call, map, {center1, center2}, {end1, end2}, direction, false);
  call.Log(
      " RV = %5d : RVX406A_Inc_Arc (%ld, %ld, %ld, %ld, %ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]",
      board, map, center1, center2, end1, end2, direction, at.logical, at.real);
}

RVX406A_API void RVX406A_Abs_Arc(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                 int32_t end1, int32_t end2, uint16_t direction) {
  BoardCall call(board, LogRule::kSetter);
  const Positions at = Arc(call, map, {center1, center2}, {end1, end2}, direction, true);
  call.Log(" RV = %5d : RVX406A_Abs_Arc (%ld, %ld, %ld, %ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]",
           board, map, center1, center2, end1, end2, at.logical, at.real);
}

RVX406A_API void RVX406A_Inc_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle) {
  BoardCall call(board, LogRule::kSetter);
  Positions at;
  Group group;
  if (CheckMapNumber(call, map) &&
      call.Check(WithinDistance(center1) && WithinDistance(center2) && ValidAngle(angle)) &&
      CheckGroup(call, map, 2, 2, &group)) {
    const Point end = ThetaEndPoint(center1, center2, angle);
    if (LoadArc(call, group, {center1, center2}, {end.x, end.y}, false, &at)) {
      StartArc(call, group, map, ThetaCommand(angle));
    }
  }
  call.Log(" RV = %5d : RVX406A_Inc_Theta (%ld, %ld, %ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]",
           board, map, center1, center2, angle, at.logical, at.real);
}

RVX406A_API void RVX406A_Abs_Theta(uint16_t board, uint16_t map, int32_t center1, int32_t center2,
                                   int32_t angle) {
  BoardCall call(board, LogRule::kSetter);
  Positions at[2];
  Group group;
  if (CheckMapNumber(call, map) &&
      call.Check(center1 != INT32_MIN && center2 != INT32_MIN && ValidAngle(angle)) &&
      CheckGroup(call, map, 2, 2, &group)) {
    // Both axes are prepared before the centre is known relative to them.
    for (u32 i = 0; i < 2 && call.ok(); ++i) {
      const Axis a = call.axis_at(group.axis[i]);
      if (PrepareArcAxis(call, a, &at[i])) MoveTableEntry(board, a.number()) = kInterpolationMove;
    }
    const int64_t start[2] = {static_cast<int64_t>(at[0].logical),
                              static_cast<int64_t>(at[1].logical)};
    const int64_t cx = center1 - start[0], cy = center2 - start[1];
    if (call.ok() && call.Check(WithinDistance(cx) && WithinDistance(cy), ERR_MAX_DISTANCE)) {
      const Point end = ThetaEndPoint(static_cast<i32>(cx), static_cast<i32>(cy), angle);
      if (call.Check(WithinDistance(end.x) && WithinDistance(end.y), ERR_MAX_DISTANCE)) {
        const i32 centre[2] = {static_cast<i32>(cx), static_cast<i32>(cy)},
                  ends[2] = {end.x, end.y};
        for (u32 i = 0; i < 2; ++i) {
          const Axis a = call.axis_at(group.axis[i]);
          WriteArcPoint(a, centre[i], ends[i]);
          a.block().move_start = static_cast<i32>(start[i]);
          a.block().move_distance = 0;
        }
        StartArc(call, group, map, ThetaCommand(angle));
      }
    }
  }
  call.Log(" RV = %5d : RVX406A_Abs_Theta (%ld, %ld, %ld, %ld, %ld) : COMM[%.2f], FEED[%.2f]",
           board, map, center1, center2, angle, at[0].logical, at[0].real);
}

}  // extern "C"
