// The register model of one simulated board. A board is plain data so that it
// can live in the shared section and be changed by any process holding the
// simulator lock; the functions below are the hardware's reaction to a port
// access.
#ifndef RVX_SIM_BOARD_H_
#define RVX_SIM_BOARD_H_

#include <cstdint>
#include <type_traits>

#include "sim/motion_engine.h"
#include "sim/sim.h"

namespace rvx::sim {

constexpr uint32_t kAxes = 4;
constexpr uint32_t kModules = 4;
constexpr uint32_t kPldSize = 0x500;
constexpr uint32_t kLocalSize = 1024;  // bytes of the local register file
constexpr uint32_t kEventSize = 32;    // bytes of the event register window

// The automatic home search in progress: the step running (1..4, 0 when
// none) and, in step 2, whether the axis is first backing off a home sensor
// it started on.
struct HomeSearch {
  uint8_t step;
  bool backing_off;
};

struct AxisModel {
  AxisState reg;
  AxisMotion motion;     // the running drive as its profile shapes it
  MachineModel machine;  // sensors and drive around the axis
  int32_t place;         // where the axis stands on its machine, in pulses
  HomeSearch home;
  uint16_t stop_cause;    // RR2 bits the chip set when it stopped the last drive
  int32_t speed;          // command 0x12 while no profiled drive runs
  uint32_t duration;      // polled drives: RR0 polls that a drive started from now on lasts
  uint32_t polls_left;    // of the running polled drive; 0 while driving: until stopped
  int32_t direction;      // pulse-count multiplier applied when a polled drive ends
  uint16_t pending;       // drive command held back by 0x24, 0 when none
  bool interpolating;     // the drive is part of an interpolation
  int32_t interp_travel;  // end point of the running interpolation segment
  int32_t queued_travel;  // end point of the segment waiting for it
  int32_t queued_center;  // its circle centre
  uint8_t inputs;         // RR4/RR5 byte set through the control interface (active low)
  uint8_t events;         // motion events that occurred, bit k = WR1 bit 13 + k
  int32_t scanned;        // logical position at the last interrupt scan
};

// An interpolation the chip runs by its profile: one drive along the path,
// in path pulses, that the group axes follow. A line's path is as long as its
// longest axis travel; an arc's is its length, for a constant path speed.
struct PathModel {
  AxisMotion motion;
  uint8_t count;  // group axes, in group order below
  uint8_t axis[3];
  bool arc;
  int32_t end[3];               // travel of each group axis, relative to the start
  int32_t applied[3];           // travel already added to its counters
  double centre[2];             // of an arc, relative to the start
  double radius, angle, sweep;  // start angle and signed sweep, radians
};

struct ChipModel {
  AxisModel axis[kAxes];
  uint16_t selected;  // axis bits of the last command word
  uint16_t wr4, wr5, wr6, wr7;
  uint16_t rr6, rr7;
  uint16_t main_bits;       // RR0 bits 4..14 set through the control interface
  uint8_t interp_axes;      // axes of the running interpolation, 0 when none
  uint8_t queued_axes;      // axes of the segment started in continuous mode (WR5 bit 14)
  uint16_t queued_command;  // its start command, 0 when none waits
  PathModel path;           // the running profiled interpolation
  bool polled;              // drives end by RR0 polls (a test shortcut), not by profile
  bool emergency;           // the emergency input is on
};

struct BoardModel {
  uint8_t pld[kPldSize];
  uint32_t local[kLocalSize / 4];
  uint8_t event[kEventSize];
  uint32_t stuck_bus_bits;
  ChipModel chip;
  uint16_t di_event_mask[kModules];  // inputs whose changes interrupt, per module
  uint16_t di_scanned[kModules];     // module inputs at the last interrupt scan
};
static_assert(std::is_trivially_copyable_v<BoardModel>, "boards live in shared memory");

// Every register at its power-on value for a board built as `config`.
void PowerOn(const BoardConfig& config, BoardModel* board);

// Port access by space (0 local, 1 chip, 2 PLD); false for an unknown space.
// The value is truncated to the register width of the space.
bool PortRead(BoardModel* board, uint32_t space, uint32_t offset, uint32_t* value);
bool PortWrite(BoardModel* board, uint32_t space, uint32_t offset, uint32_t value);

// The event register window, little-endian, `bytes` 1 or 2.
uint32_t EventRead(const BoardModel& board, uint32_t offset, int bytes);
void EventWrite(BoardModel* board, uint32_t offset, uint32_t value, int bytes);
// The interrupt cause (word 10) gathers the causes of every interrupt until
// the bus reads it: a read over the bus clears the cause bytes it read.
void LatchCause(BoardModel* board, uint16_t cause);
uint32_t EventBusRead(BoardModel* board, uint32_t offset, int bytes);

// Bytes a port or event-window request code moves: 1, 2 or 4.
int RequestWidth(uint32_t code);
// What a bus request did: kRefused for a code that is neither a port nor an
// event-window request, or a space the board lacks.
enum class BusAccess : uint8_t { kRefused, kRead, kWrite };
// One port or event-window request: a read fills `value`, a write takes it
// truncated to the request's width (and leaves it so). Event reads clear the
// cause bytes they read only where `read_clears_cause`.
BusAccess BusRequest(BoardModel* board, uint32_t code, uint32_t space, uint32_t offset,
                     uint32_t* value, bool read_clears_cause);

// Motion event bits of an axis (bit k enabled by WR1 bit 13 + k).
constexpr uint8_t kDriveEndEvent = 0x01;

// Looks at what changed since the last scan, as the board's interrupt logic
// does after every bus cycle: enabled motion events, watched input changes
// and compare windows reached (or, after a tick of motion, `passing`, gone
// through) are latched in the event register window, and the interrupt cause
// (the PLD register 7 enables that apply) is returned; 0 when none is due.
uint8_t ScanInterrupts(BoardModel* board, bool passing);

// The chip alone (chip.cc).
uint16_t ChipRead(ChipModel* chip, uint32_t offset);
void ChipWrite(ChipModel* chip, uint32_t offset, uint16_t value);
// Forces the driving bit; clearing it ends the running drive: a polled one
// as completed, a profiled one where it stands.
void ForceDriving(ChipModel* chip, uint32_t axis, bool driving);
// Lets `seconds` (at most a tick) of the motion engine pass; false when no
// axis drives by its profile any more (later time would change nothing).
bool AdvanceChip(ChipModel* chip, double seconds);
bool ProfiledDriveRunning(const ChipModel& chip);
void SetChipEmergency(ChipModel* chip, bool on);
// The drive's alarm output of an axis; where the axis watches it, a drive
// running on it stops at once.
void SetChipAlarm(ChipModel* chip, uint32_t axis, bool on);

// Profiled interpolation (path.cc): starts the group's path from the end
// points (and centres) given per axis; RunPath moves the group along it for
// `seconds`, a segment waiting in continuous mode taking over on the pulse
// after the running one ends.
void StartPath(ChipModel* chip, uint16_t code, uint8_t group, const int32_t* ends,
               const int32_t* centres);
void RunPath(ChipModel* chip, double seconds);
// The speed of a group axis of the running path, in PPS.
double PathAxisSpeed(const ChipModel& chip, uint32_t axis);
void StopPath(ChipModel* chip, bool sudden);

// The machine model (machine.cc).
bool OnEncoderZ(const AxisModel& axis);
// The axis's input byte as RR4/RR5 shows it (active low).
uint8_t InputByte(const AxisModel& axis);
// What stops the axis in its direction, as RR2 bits (0: it may go on):
// limits ahead, an enabled alarm, the emergency input.
uint16_t StopCause(const AxisModel& axis, bool emergency);
// Pulses the axis's drive can output before a sensor that acts on it
// changes: a limit, a software limit, or the sensor its home search step
// looks for (left, when backing off it); 0 when none lies ahead.
uint32_t PulsesToEdge(const AxisModel& axis);
// An alarm, the emergency input and a hard limit in its sudden mode stop at
// once; the rest decelerate.
bool StopsAtOnce(const AxisModel& axis, uint16_t cause);
// The home search (machine.cc): starts it, and after each tick looks at the
// sensor of the running step; a step whose drive ended starts the next.
void StartHomeSearch(AxisModel* axis);
void FollowHomeSearch(AxisModel* axis);
// The chip's speed registers as a drive runs from them.
MotionParams ParamsOf(const AxisState& reg);

}  // namespace rvx::sim

#endif  // RVX_SIM_BOARD_H_
