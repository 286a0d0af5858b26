// Interpolation groups and what every interpolated move shares: the group
// checks, the mode words written on each group axis, the path speed on the
// first axis, and the start of a line or an arc. The chip interpolates in
// hardware; the library only names the group (WR5) and loads each axis.
#ifndef RVX_INTERP_INTERP_H_
#define RVX_INTERP_INTERP_H_

#include "core/call.h"
#include "motion/motion.h"

namespace rvx {

constexpr u16 kMaxMapNumber = 3;
constexpr u16 kInterpolationBusy = 0x100;  // RR0 bit 8: an interpolation drives
constexpr u16 kArcSpeedBit = 0x100;        // WR5 bit 8: constant path speed on arcs
constexpr u16 kWr5StartBits = 0x300;       // WR5 bits 8 and 9, set per start
constexpr u16 kContinuousBit = 0x4000;     // WR5 bit 14: the next start waits for the running one
constexpr u16 kArcModeBit = 0x40;          // WR5 bit 6: the first axis needs arc mode words

// The move table marks every group axis of an interpolation like a
// continuous move: it has no distance of its own to report.
constexpr u32 kInterpolationMove = kContinuousMove;

// The axes of a group in the order the chip takes them.
struct Group {
  u32 count = 0;
  u32 axis[3] = {};
};

// ERR_IP_MAP_NUMBER for a map number above 3.
bool CheckMapNumber(BoardCall& call, u16 map);
// The group of a checked map number: ERR_IP_MAP_AXES unless its entry holds
// `min_count` to `max_count` axes of this board.
bool CheckGroup(BoardCall& call, u16 map, u32 min_count, u32 max_count, Group* group);
// The first axis of the map entry, whatever its count: ERR_AXIS_NUM when the
// board has no such axis.
bool CheckFirstAxis(BoardCall& call, u16 map, u32* axis);

// The map word as the chip takes it in WR5; moves change only its start bits.
u16 MapWord(const BoardCall& call, u16 map);

// ERR_AXIS_DRV_BUSY while the axis or any interpolation drives (one RR0 read).
bool CheckGroupAxisIdle(BoardCall& call, const AxisIo& axis);

// WR3 as a move writes it: manual deceleration off; a line keeps the shape
// and lets trapezoids decelerate by D, an arc never runs an S-curve.
u16 LineWr3(u16 wr3);
u16 ArcWr3(u16 wr3);
// Select, WR3, then the extension words with EM6 bit 3 set (WR7 <- EM7,
// WR6 <- EM6, 0x60). The shadows keep their values.
void WriteInterpolationMode(const Axis& axis, u16 wr3);

// The path speed on the first group axis from its IP speed settings as
// given: records the last drive speed, loads the profile and returns M.
double LoadPathSpeed(const Axis& first, bool s_curve);
// The second arc axis's range: ceiling((8,000,000 / M) * 1.414). The factor
// is the chip's, not the exact square root of 2.
u32 ArcRangeParameter(double multiplier);

// WR5, path speed, 0x3B and 0x30 (two axes) or 0x31 (three axes).
void StartLine(const BoardCall& call, const Group& group, u16 map, bool s_curve);
// WR5 with the arc speed bit, trapezoid path speed, the second axis's range,
// then the start command (0x32 or 0x33).
void StartArc(const BoardCall& call, const Group& group, u16 map, u16 command);

// Arc axes, for arcs and theta moves alike: busy check, arc mode words and
// the positions the move starts from.
bool PrepareArcAxis(BoardCall& call, const Axis& axis, Positions* at);
// Centre (0x08) and end point (0x06) relative to the current position.
void WriteArcPoint(const Axis& axis, i32 centre, i32 end);

// The end point of an arc through the current position around the relative
// centre (cx, cy), swept by `angle` whole degrees, relative to the current
// position.
struct Point {
  i32 x, y;
};
Point ThetaEndPoint(i32 cx, i32 cy, i32 angle);

// One entry of the per-process continuous table.
struct ContiEntry {
  u8 started;  // 1 once handed to the chip
  u8 reserved1;
  u16 count;                         // entry 0: segments in the table
  i32 centre1, centre2, end1, end2;  // relative to the segment's start
  u16 type;                          // 0 line, 1 arc 0x32, 2 arc 0x33
  u16 reserved22;
};
static_assert(sizeof(ContiEntry) == 24);
constexpr u32 kContiEntries = 255;

}  // namespace rvx

#endif  // RVX_INTERP_INTERP_H_
