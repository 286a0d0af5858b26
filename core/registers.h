// Register access over the driver port: typed port reads and writes with the
// settle delay, chip commands, and 32-bit values through the 16-bit data
// registers. Callers hold the library mutex, except the watcher threads; the
// chip register sequences take the board's chip lock (BoardIo).
#ifndef RVX_CORE_REGISTERS_H_
#define RVX_CORE_REGISTERS_H_

#include "core/types.h"
#include "include/rvx406a_driver.h"

namespace rvx {

// Driver request codes.
namespace ioctl {
constexpr u32 kBoardConfig = 0xE0003800;
constexpr u32 kReadByte = 0xE0003828;
constexpr u32 kReadWord = 0xE000382C;
constexpr u32 kReadDword = 0xE0003830;
constexpr u32 kWriteByte = 0xE000383C;
constexpr u32 kWriteWord = 0xE0003840;
constexpr u32 kWriteDword = 0xE0003844;
constexpr u32 kEventReadByte = 0xE0003850;
constexpr u32 kEventReadWord = 0xE0003854;
constexpr u32 kEventWriteByte = 0xE0003864;
constexpr u32 kEventWriteWord = 0xE0003868;
constexpr u32 kRegisterEvent = 0xE0003878;
constexpr u32 kEnableEvent = 0xE000388C;
constexpr u32 kDisableEvent = 0xE0003890;
}  // namespace ioctl

// Register spaces of a board.
enum class Space : u32 { kLocal = 0, kChip = 1, kPld = 2 };

// The 16-byte request record of port and event-window requests.
struct PortRecord {
  u32 space;
  u32 offset;
  u32 value;
  u32 reserved;
};
static_assert(sizeof(PortRecord) == 16);

// Chip register offsets (write and read registers share them).
namespace chip {
constexpr u32 kWr0 = 0, kWr1 = 2, kWr2 = 4, kWr3 = 6, kWr4 = 8, kWr5 = 10, kWr6 = 12, kWr7 = 14;
constexpr u32 kRr0 = 0, kRr1 = 2, kRr2 = 4, kRr3 = 6, kRr4 = 8, kRr5 = 10, kRr6 = 12, kRr7 = 14;
}  // namespace chip

// Bit numbers of the axis mode words (WR1..WR3, EM6, EM7) and of the status
// words the library decodes; setters and getters name bits by these.
namespace wr1 {
constexpr u32 kNearHomeLogic = 0;
constexpr u32 kNearHomeEnable = 1;
constexpr u32 kHomeLogic = 2;
constexpr u32 kHomeEnable = 3;
constexpr u32 kEncoderZLogic = 4;
constexpr u32 kEncoderZEnable = 5;
constexpr u32 kCompareEvent = 12;      // interrupt when the compare window is reached
constexpr u32 kMotionEventShift = 13;  // 3 bits: the motion events that interrupt
}  // namespace wr1

namespace wr2 {
constexpr u32 kSoftLimitPlus = 0;
constexpr u32 kSoftLimitMinus = 1;
constexpr u32 kHardLimitMode = 2;
constexpr u32 kHardLimitPlusLogic = 3;
constexpr u32 kHardLimitMinusLogic = 4;
constexpr u32 kCompareCounter = 5;
constexpr u32 kPulseModeShift = 6;    // 3 bits
constexpr u32 kEncoderModeShift = 9;  // 3 bits
constexpr u32 kAlarmLogic = 12;
constexpr u32 kAlarmEnable = 13;
constexpr u32 kInPositionLogic = 14;
constexpr u32 kInPositionEnable = 15;
}  // namespace wr2

namespace wr3 {
constexpr u32 kManualDecel = 0;
constexpr u32 kSeparateDecel = 1;
constexpr u32 kSCurve = 2;
constexpr u32 kPulserMode0 = 3;
constexpr u32 kPulserMode1 = 4;
}  // namespace wr3

namespace em6 {
constexpr u32 kEncoderDir = 1;
constexpr u32 kPulseDir = 2;
constexpr u32 kFixedPulse = 3;
constexpr u32 kRingCounter = 4;
constexpr u32 kSCurveMove = 7;
constexpr u32 kSensorFilter = 8;
constexpr u32 kEncoderZFilter = 9;
constexpr u32 kServoIfFilter = 10;
constexpr u32 kExtFilter = 11;
constexpr u32 kStopFilter = 12;
constexpr u32 kFilterTimeShift = 13;  // 3 bits
}  // namespace em6

// SM6 bits 13..15 mark the axes a synchronous action reaches.
namespace sm6 {
constexpr u32 kFirstSyncAxis = 13;
constexpr u32 kSecondSyncAxis = 14;
constexpr u32 kThirdSyncAxis = 15;
}  // namespace sm6

namespace em7 {
constexpr u32 kHomeStepShift = 0;  // 2 bits per step: enable, minus direction
constexpr u32 kHomeOffsetEnable = 6;
constexpr u32 kHomeOffsetMinus = 7;
constexpr u32 kLimitAsHome = 10;
constexpr u32 kDeviationClearEnable = 11;
constexpr u32 kDeviationClearLogic = 12;
constexpr u32 kDeviationClearTimeShift = 13;  // 3 bits
}  // namespace em7

// WR4, shared by the board: each axis has four output bits from 4 * axis.
namespace wr4 {
constexpr u32 kAlarmReset = 0;
constexpr u32 kServoOn = 1;
constexpr u32 kOutput2 = 2;
constexpr u32 OutputBit(u32 axis, u32 output) { return 4 * axis + output; }
}  // namespace wr4

// The axis's input byte of RR4 (axes 0, 1) or RR5 (axes 2, 3), taken active
// high.
namespace input {
constexpr u32 kNearHome = 0;
constexpr u32 kHome = 1;
constexpr u32 kEncoderZ = 2;
constexpr u32 kHardLimitPlus = 4;
constexpr u32 kHardLimitMinus = 5;
constexpr u32 kInPosition = 6;
constexpr u32 kAlarm = 7;
}  // namespace input

namespace rr1 {
constexpr u32 kOnZPhase = 10;
}  // namespace rr1

// RR2: why the axis stopped.
namespace rr2 {
constexpr u32 kSoftLimitPlus = 0;
constexpr u32 kSoftLimitMinus = 1;
constexpr u32 kHardLimitPlus = 2;
constexpr u32 kHardLimitMinus = 3;
constexpr u32 kAlarm = 4;
constexpr u32 kEmergency = 5;
constexpr u32 kHomeError = 7;
}  // namespace rr2

// A mask of the listed bits.
constexpr u16 Mask(std::initializer_list<u32> bits) {
  u32 mask = 0;
  for (u32 bit : bits) mask |= 1u << bit;
  return static_cast<u16>(mask);
}

// WR1 with both home inputs at `logic` and their stop enables clear.
constexpr u16 WithHomeLogic(u16 wr1_word, u32 logic) {
  return Bits(wr1_word, {{wr1::kNearHomeLogic, logic},
                         {wr1::kNearHomeEnable, 0},
                         {wr1::kHomeLogic, logic},
                         {wr1::kHomeEnable, 0}});
}
// The hard limit logic of WR2: 1 when both limit logic bits are set.
constexpr u16 HardLimitLogic(u16 wr2_word) {
  return AllSet(wr2_word, Mask({wr2::kHardLimitPlusLogic, wr2::kHardLimitMinusLogic})) ? 1 : 0;
}

// Chip command codes.
namespace cmd {
constexpr u16 kRange = 0x00;
constexpr u16 kAccJerk = 0x01;
constexpr u16 kAcc = 0x02;
constexpr u16 kDec = 0x03;
constexpr u16 kInitialSpeed = 0x04;
constexpr u16 kDriveSpeed = 0x05;
constexpr u16 kPulseCount = 0x06;
constexpr u16 kCenter = 0x08;
constexpr u16 kSetLogical = 0x09;
constexpr u16 kSetReal = 0x0A;
constexpr u16 kCompPlus = 0x0B;
constexpr u16 kCompMinus = 0x0C;
constexpr u16 kAccOffset = 0x0D;
constexpr u16 kDecJerk = 0x0E;
constexpr u16 kSelect = 0x0F;
constexpr u16 kReadLogical = 0x10;
constexpr u16 kReadReal = 0x11;
constexpr u16 kReadSpeed = 0x12;
constexpr u16 kFixedPlus = 0x20;
constexpr u16 kFixedMinus = 0x21;
constexpr u16 kContinuousPlus = 0x22;
constexpr u16 kContinuousMinus = 0x23;
constexpr u16 kHold = 0x24;
constexpr u16 kRelease = 0x25;
constexpr u16 kDecelStop = 0x26;
constexpr u16 kSuddenStop = 0x27;
constexpr u16 kLine2 = 0x30;
constexpr u16 kLine3 = 0x31;
constexpr u16 kArcCw = 0x32;
constexpr u16 kArcCcw = 0x33;
constexpr u16 kLineStart = 0x3B;
constexpr u16 kExtension = 0x60;
constexpr u16 kHomeLowSpeed = 0x61;
constexpr u16 kHomeSearch = 0x62;
constexpr u16 kDeviationClear = 0x63;
constexpr u16 kSyncMode = 0x64;
constexpr u16 kChipReset = 0x8000;
constexpr u16 kAllAxes = 0x0F00;
}  // namespace cmd

// PLD bank registers.
namespace pld {
constexpr u32 kIdentity = 1;
constexpr u32 kBoardId = 2;
constexpr u32 kLhome0 = 3;
constexpr u32 kLhome1 = 4;
constexpr u32 kEmgCmp = 5;
constexpr u32 kEmergencyStopBit = 0;      // of kEmgCmp
constexpr u32 kCompareOwnsLimitsBit = 2;  // of kEmgCmp: the compare trigger holds the registers
constexpr u32 kCleared6 = 6;
constexpr u32 kInterruptEnable = 7;
constexpr u32 kAck8 = 8;
constexpr u32 kReset = 10;
constexpr u32 kOrgSel = 13;
constexpr u32 kVersion = 14;
constexpr u32 ModuleBase(u32 module) { return 256 * module; }
constexpr u32 kModuleCommand = 0, kModuleDataLow = 2, kModuleDataHigh = 3;
constexpr u32 kModuleDi = 4, kModuleDo = 6;
}  // namespace pld

// Local registers.
namespace local {
constexpr u32 kBusTest = 48;
constexpr u32 kServoRun = 80;
constexpr u32 kServoRunOffBit = 8;  // of kServoRun: active low
}  // namespace local

// 256 << axis for axes 0..3, else 0.
constexpr u16 AxisSelectBit(u32 axis) { return axis < 4 ? static_cast<u16>(0x100u << axis) : 0; }
// The register space of the chip serving an axis: one chip serves all four.
constexpr u32 ChipNumber(u32 /*board*/, u32 /*axis*/) { return 1; }

// One board's driver channel. A null device skips every request; reads give 0.
//
// The chip lock. A chip register sequence (data registers then the command
// that takes them, or an axis selection then the selected register) must
// reach the chip whole. The library mutex keeps calls apart, but a watcher
// thread refills the compare window without it, in this or another process.
// So every sequence holds the board's chip lock, a word in the board's shared
// block holding the process id of its holder. A holder only sends the few
// requests of its sequence and waits for nothing, so a taker spins; a holder
// that died is found out and passed over. A channel without a lock word
// (event requests, tests) locks nothing.
class BoardIo {
 public:
  // Through the process's driver.
  explicit BoardIo(void* device);
  BoardIo(void* device, const rvx_driver_ops* driver, u32* chip_lock = nullptr, u32 owner = 0)
      : device_(device), driver_(driver), chip_lock_(chip_lock), owner_(owner) {}
  void* device() const { return device_; }

  // Holds the chip lock for the life of the object: one register sequence.
  class Sequence {
   public:
    explicit Sequence(const BoardIo& io) : lock_(io.chip_lock_) {
      u32 free = 0;
      if (lock_ != nullptr && !__atomic_compare_exchange_n(lock_, &free, io.owner_, false,
                                                           __ATOMIC_ACQUIRE, __ATOMIC_RELAXED)) {
        io.WaitForChip();
      }
    }
    ~Sequence() {
      if (lock_ != nullptr) __atomic_store_n(lock_, 0u, __ATOMIC_RELEASE);
    }
    Sequence(const Sequence&) = delete;
    Sequence& operator=(const Sequence&) = delete;

   private:
    u32* lock_;
  };

  u32 Read(Space space, u32 offset, u32 code) const;
  void Write(Space space, u32 offset, u32 value, u32 code) const;

  u8 Pld(u32 offset) const { return static_cast<u8>(Read(Space::kPld, offset, ioctl::kReadByte)); }
  void SetPld(u32 offset, u8 value) const { Write(Space::kPld, offset, value, ioctl::kWriteByte); }
  u16 Chip(u32 offset) const {
    return static_cast<u16>(Read(Space::kChip, offset, ioctl::kReadWord));
  }
  void SetChip(u32 offset, u16 value) const {
    Write(Space::kChip, offset, value, ioctl::kWriteWord);
  }
  u32 Local(u32 offset) const { return Read(Space::kLocal, offset, ioctl::kReadDword); }
  void SetLocal(u32 offset, u32 value) const {
    Write(Space::kLocal, offset, value, ioctl::kWriteDword);
  }

  // The event register window: one request each, no settle delay.
  u8 EventByte(u32 offset) const;
  u16 EventWord(u32 offset) const;
  void SetEventByte(u32 offset, u8 value) const;
  void SetEventWord(u32 offset, u16 value) const;

  // `count` reads of PLD register 1, values discarded.
  void Settle(int count) const;

  // WR0 <- command word.
  void Command(u16 word) const { SetChip(chip::kWr0, word); }
  // WR7 <- high half, WR6 <- low half, WR0 <- command word.
  void Write32(u16 command_word, i32 value) const;
  // WR0 <- command word, then RR7 and RR6.
  i32 Read32(u16 command_word) const;

  // Sends a request without a port record (board configuration, events).
  void Request(u32 code, void* buffer, u32 size, bool output) const;

  // Walks a one through every bit of the bus-test register; restores it.
  bool BusTest() const;

 private:
  // One port record request; the record's value afterwards, 0 on failure.
  u32 Port(u32 code, u32 space, u32 offset, u32 value) const;
  // Takes the chip lock once its holder is done, or has died.
  void WaitForChip() const;

  void* device_;
  // Kept from construction: a request then costs no lookup of the process.
  const rvx_driver_ops* driver_;
  u32* chip_lock_ = nullptr;
  u32 owner_ = 0;
};

// Board `board`'s channel in this process, with the board's chip lock.
BoardIo BoardChannel(u32 board);

// One axis of a board's chip.
class AxisIo {
 public:
  AxisIo(const BoardIo& io, u32 axis) : io_(io), axis_(axis), select_(AxisSelectBit(axis)) {}
  const BoardIo& io() const { return io_; }
  u32 number() const { return axis_; }
  u16 select_bit() const { return select_; }

  void Command(u16 code) const { io_.Command(select_ | code); }
  void Select() const { Command(cmd::kSelect); }
  // WR6 <- value, then the command: 16-bit chip parameters.
  void Write16(u16 code, u16 value) const {
    const BoardIo::Sequence sequence(io_);
    io_.SetChip(chip::kWr6, value);
    Command(code);
  }
  void Write32(u16 code, i32 value) const { io_.Write32(select_ | code, value); }
  i32 Read32(u16 code) const { return io_.Read32(select_ | code); }
  // The *NoShadow writes reach the chip only: a move's or a search's
  // adjusted words, which the next configuration write replaces.
  // Select the axis, then write WR1, WR2 or WR3.
  void WriteModeNoShadow(u32 wr, u16 value) const {
    const BoardIo::Sequence sequence(io_);
    Select();
    io_.SetChip(wr, value);
  }
  // Select the axis, then read RR1, RR2 or RR3.
  u16 ReadSelected(u32 rr) const {
    const BoardIo::Sequence sequence(io_);
    Select();
    return io_.Chip(rr);
  }
  // WR7 <- EM7, WR6 <- EM6, command 0x60.
  void WriteExtensionNoShadow(u16 em6, u16 em7) const {
    const BoardIo::Sequence sequence(io_);
    io_.SetChip(chip::kWr7, em7);
    io_.SetChip(chip::kWr6, em6);
    Command(cmd::kExtension);
  }
  // WR7 <- SM7, WR6 <- SM6, command 0x64.
  void WriteSyncNoShadow(u16 sm6, u16 sm7) const {
    const BoardIo::Sequence sequence(io_);
    io_.SetChip(chip::kWr7, sm7);
    io_.SetChip(chip::kWr6, sm6);
    Command(cmd::kSyncMode);
  }
  i32 LogicalPosition() const { return Read32(cmd::kReadLogical); }
  i32 RealPosition() const { return Read32(cmd::kReadReal); }
  // RR0 bit of the axis: driving.
  bool Driving() const { return Bit(io_.Chip(chip::kRr0), axis_) != 0; }

 private:
  const BoardIo& io_;
  u32 axis_;
  u16 select_;
};

}  // namespace rvx

#endif  // RVX_CORE_REGISTERS_H_
