// The register model of one simulated board. A board is plain data so that it
// can live in the shared section and be changed by any process holding the
// simulator lock; the functions below are the hardware's reaction to a port
// access.
#ifndef RVX_SIM_BOARD_H_
#define RVX_SIM_BOARD_H_

#include <cstdint>
#include <type_traits>

#include "sim/sim.h"

namespace rvx::sim {

constexpr uint32_t kAxes = 4;
constexpr uint32_t kModules = 4;
constexpr uint32_t kPldSize = 0x500;
constexpr uint32_t kLocalSize = 1024;  // bytes of the local register file
constexpr uint32_t kEventSize = 32;    // bytes of the event register window

struct AxisModel {
  AxisState reg;
  int32_t speed;          // reported by command 0x12
  uint32_t duration;      // RR0 polls that a drive started from now on lasts
  uint32_t polls_left;    // of the running drive; 0 while driving: until stopped
  int32_t direction;      // pulse-count multiplier applied when the drive ends
  uint16_t pending;       // drive command held back by 0x24, 0 when none
  bool interpolating;     // the drive is part of an interpolation
  int32_t interp_travel;  // end point of the running interpolation segment
  int32_t queued_travel;  // end point of the segment waiting for it
  uint8_t inputs;         // RR4/RR5 byte as the chip reports it (active low)
  uint8_t events;         // motion events that occurred, bit k = WR1 bit 13 + k
  int32_t scanned;        // logical position at the last interrupt scan
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

// Motion event bits of an axis (bit k enabled by WR1 bit 13 + k).
constexpr uint8_t kDriveEndEvent = 0x01;

// Looks at what changed since the last scan, as the board's interrupt logic
// does after every bus cycle: enabled motion events, watched input changes
// and compare windows reached are latched in the event register window, and
// the interrupt cause (the PLD register 7 enables that apply) is returned;
// 0 when no interrupt is due.
uint8_t ScanInterrupts(BoardModel* board);

// The chip alone (chip.cc).
uint16_t ChipRead(ChipModel* chip, uint32_t offset);
void ChipWrite(ChipModel* chip, uint32_t offset, uint16_t value);
// Forces the driving bit; clearing it ends the running drive as completed.
void ForceDriving(ChipModel* chip, uint32_t axis, bool driving);

}  // namespace rvx::sim

#endif  // RVX_SIM_BOARD_H_
