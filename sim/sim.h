// The simulated board: a driver backend that behaves like the hardware as far
// as the library can see it, for systems without a board.
//
// Its boards live in a named shared section, so every process of one IPC
// namespace (RVX_IPC_NAMESPACE) sees the same hardware, as it would see one
// real board. The functions below form its control interface: tests and tools
// set inputs, status bits and faults, inspect registers and trace requests.
// Each acts on the boards of the calling process's namespace and creates them
// with the default configuration when they do not exist yet.
#ifndef RVX_SIM_SIM_H_
#define RVX_SIM_SIM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "include/rvx406a_driver.h"

namespace rvx::sim {

// The machine around one axis, in real-position pulses. Only what is fitted
// shows in the input registers and stops the axis.
struct SensorWindow {
  bool fitted = false;
  int32_t from = 0, to = 0;  // on while the real position lies within [from, to]
};
struct MachineModel {
  bool limits = false;      // hardware limit switches fitted
  int32_t limit_minus = 0;  // the - limit is on at or below this position
  int32_t limit_plus = 0;   // the + limit is on at or above this position
  SensorWindow near_home;   // near-home sensor (first home search step)
  SensorWindow home;        // home sensor
  uint32_t z_period = 0;    // encoder Z at every real position divisible by it; 0: none
  bool servo = false;       // a servo drive is wired: its in-position and alarm outputs show
  bool alarm = false;       // the drive's alarm output
};
// Why a machine model cannot be, or "" when it can.
std::string CheckMachine(const MachineModel& machine);

// Real time: the boards move as the machine's clock goes (applications and
// tools). Stepped time: they move only when AdvanceTime or Settle lets time
// pass, so that tests are deterministic.
enum class Clock : uint8_t { kReal, kStepped };

struct BoardConfig {
  bool present = true;          // false: open_device fails for this board number
  uint8_t type_code = 1;        // PLD register 1 bits 4..6
  uint8_t module_bits = 0;      // PLD register 1 bits 0..3
  bool byte_swap = false;       // PLD register 1 bit 7
  uint32_t stuck_bus_bits = 0;  // bits of the bus-test register that always read 0
  uint8_t board_id = 0;         // PLD register 2
  uint8_t pld_version = 0x21;   // PLD register 14
  MachineModel machine[4];      // per axis
};

struct Config {
  uint32_t board_count = 1;  // boards 0..board_count-1 exist (unless not present)
  BoardConfig board[16];
  Clock clock = Clock::kReal;
  // A test shortcut: drives end after a number of RR0 reads (SetDriveDuration,
  // 0 by default: at once) instead of when their profile says.
  bool polled_drives = false;
  uint16_t emergency = 0;  // bit b: the emergency input of board b is on from power-on
};

// The machine an application or rvxctl meets when RVX_SIM says nothing else,
// so that a home search with the library's default settings (mode 2, toward
// -) ends on home: hardware limits at -1,000,000 and +1,000,000, near-home
// on from -12,000 to -8,000, home from -9,000 to -8,900 (real-position
// pulses from where the axis stood at power-on). Tests build bare machines
// from Config{}.
MachineModel DefaultMachine();
// Config{} with DefaultMachine() on every axis of every board.
Config DefaultBoards();

// Reads a configuration text, as RVX_SIM holds it, over `config`: items
// separated by ';' or whitespace, each "key=value":
//   boards=N  clock=real|stepped  machine=default|bare (every axis)
//   board<b>.type=T  board<b>.modules=BITS  board<b>.swap=0|1  board<b>.id=N
//   board<b>.absent=1  board<b>.emergency=0|1
//   axis<b>.<a>.limits=MINUS:PLUS|none  axis<b>.<a>.home=FROM:TO|none
//   axis<b>.<a>.near=FROM:TO|none  axis<b>.<a>.z=PERIOD  axis<b>.<a>.servo=0|1
//   axis<b>.<a>.alarm=0|1
// Returns "" or why the text cannot be used (config then unchanged).
std::string ParseConfig(const std::string& text, Config* config);

// The built-in backend (RVX_DRIVER=sim); also what the driver module exports.
const rvx_driver_ops* DriverEntry(const rvx_driver_host* host);

// ---- Configuration ----

// Replaces the hardware with new boards of `config`, every register at its
// power-on value, the trace cleared. Library state is not touched.
void Reset(const Config& config);
Config CurrentConfig();
// Unlinks the simulator's named objects of the current namespace.
void RemoveNamedObjects();

// ---- Registers as the hardware holds them ----

uint8_t Pld(uint32_t board, uint32_t offset);
void SetPld(uint32_t board, uint32_t offset, uint8_t value);
uint32_t Local(uint32_t board, uint32_t offset);
void SetLocal(uint32_t board, uint32_t offset, uint32_t value);
uint8_t EventByte(uint32_t board, uint32_t offset);
void SetEventByte(uint32_t board, uint32_t offset, uint8_t value);

// The chip as seen per axis: last values written and the counters it keeps.
struct AxisState {
  uint16_t wr1, wr2, wr3;
  uint16_t em6, em7, sm6, sm7;
  int32_t logical, real;                                            // position counters
  int32_t comp_plus, comp_minus;                                    // compare registers
  uint32_t range;                                                   // command 0x00
  uint16_t acc_jerk, acc, dec, initial, drive, dec_jerk, home_low;  // 0x01..0x05, 0x0E, 0x61
  int16_t acc_offset;                                               // 0x0D
  uint32_t pulse_count;                                             // 0x06
  int32_t center;                                                   // 0x08
  uint16_t rr1, rr2, rr3;                                           // drive, error and event status
  bool driving;                                                     // RR0 bit a
  bool held;                    // drive command waiting for release (0x24/0x25)
  uint16_t last_drive_command;  // 0x20..0x23, 0x62, or 0 before any drive
};
AxisState Axis(uint32_t board, uint32_t axis);
uint16_t Wr4(uint32_t board);
uint16_t Wr5(uint32_t board);

// ---- Inputs and status the hardware reports ----

// Input signals of an axis as active-high bits (the chip reports them
// inverted in RR4/RR5).
void SetInputs(uint32_t board, uint32_t axis, uint8_t active_high);
void SetDriving(uint32_t board, uint32_t axis, bool driving);
// RR0 bits 4..7 and 8..14 beyond the driving bits.
void SetMainStatusBits(uint32_t board, uint16_t bits);
void SetDriveStatus(uint32_t board, uint32_t axis, uint16_t rr1);
void SetErrorStatus(uint32_t board, uint32_t axis, uint16_t rr2);
void SetEventStatus(uint32_t board, uint32_t axis, uint16_t rr3);
// Sets both counters and places the axis on its machine at `real`.
void SetPosition(uint32_t board, uint32_t axis, int32_t logical, int32_t real);
// Where the axis stands on its machine (the sensors' positions count from
// there); the counters move with it until something sets them.
int32_t MachinePosition(uint32_t board, uint32_t axis);
void SetCurrentSpeed(uint32_t board, uint32_t axis, int32_t speed);  // read with 0x12
// With polled drives: drives started from now on stay busy for `polls` reads
// of RR0 (0: end at once).
void SetDriveDuration(uint32_t board, uint32_t axis, uint32_t polls);
// The machine of an axis; false (and `error` says why) when it cannot be.
bool SetMachine(uint32_t board, uint32_t axis, const MachineModel& machine, std::string* error);
MachineModel Machine(uint32_t board, uint32_t axis);
void SetAlarm(uint32_t board, uint32_t axis, bool on);
// The board's emergency input: every axis stops at once and none starts while on.
void SetEmergency(uint32_t board, bool on);
// Digital inputs of module m (1..4) as the module register holds them.
void SetDiBytes(uint32_t board, uint32_t module, uint8_t low, uint8_t high);

// Latches `cause` in event window word 10 and interrupts: every process's
// events registered for the board are signalled, at once where notification
// is enabled, else when it is enabled again.
//
// The board also interrupts by itself, after any request or control call
// that brings one about: a motion event of an axis enabled by its WR1 bits
// 13..15 (bit 13: a drive ended), a change of a module input whose module
// event mask (module command 0xC4) watches it, or the logical position of an
// axis with WR1 bit 12 set coming into the window between its compare
// registers (a moving axis going through it counts; a counter set or jumped
// counts only where it stands). The event register
// window latches them (word 12 bits 5..7, bytes 20..27, word 24 bit a) and the
// cause takes the PLD register 7 enables that apply (bit 0, bit m, bits 6..7).
void RaiseInterrupt(uint32_t board, uint16_t cause);
// Motion events of an axis as the chip would report them (bit k = WR1 bit 13 + k).
void SetMotionEvents(uint32_t board, uint32_t axis, uint8_t events);

// ---- Time ----

void SetClock(Clock clock);  // the simulated time goes on from where it stands
Clock CurrentClock();
// Simulated microseconds since the boards were reset.
uint64_t Now();
// Stepped time: lets `micros` pass (in whole 100 us ticks); no effect in real time.
void AdvanceTime(uint64_t micros);
// Stepped time: lets time pass until no axis of any board drives, at most
// `limit_micros`; returns the microseconds that passed.
uint64_t Settle(uint64_t limit_micros = 600000000);

// ---- Request trace ----

enum class Op : uint8_t { kRead, kWrite, kOther };
struct Request {
  uint32_t board;
  uint32_t code;  // the I/O control code
  Op op;
  uint32_t space;  // port record space (0 local, 1 chip, 2 PLD)
  uint32_t offset;
  uint32_t value;  // value written, or value read back
  // Port requests: op letter, space digit, offset and value in hex, the value
  // as wide as the request ("W1 00 0x010F", "R2 01 0x10", "R0 30 0x00000001").
  // Event-window requests: 'E' and the op letter in place of op and space
  // ("ER 0A 0x0001", "EW 14 0x00"). Any other request: "C 0xE0003878".
  std::string ToString() const;
};
// Starts recording every request of every process of the namespace.
void StartTrace();
// The requests recorded since StartTrace(), oldest first.
std::vector<Request> Trace();
void StopTrace();

}  // namespace rvx::sim

#endif  // RVX_SIM_SIM_H_
