// The board around the chip: local registers, the PLD bank with the board
// identity and expansion modules, and the event register window.
#include "sim/board.h"

#include <algorithm>

#include "core/registers.h"

namespace rvx::sim {
namespace {

constexpr uint8_t kLoadEventMask = 0xC4;  // module command
// Event register window.
constexpr uint32_t kCauseWord = 10;
constexpr uint32_t kMotionStatusWord = 12;
constexpr uint32_t kInputStatusByte = 20;
constexpr uint32_t kCompareStatusWord = 24;
// PLD register 7 and the interrupt cause share their bit layout.
constexpr uint8_t kMotionCause = 0x01;
constexpr uint8_t kCompareCauses = 0xC0;

uint8_t Identity(const BoardConfig& config) {
  return static_cast<uint8_t>((config.byte_swap ? 0x80u : 0u) | (config.type_code & 7u) << 4 |
                              (config.module_bits & 15u));
}

// Module presence as the library derives it from the identity byte: a type 1
// board carries module 1 itself and bits 0..2 add modules 2..4; otherwise
// bits 0..3 stand for modules 1..4.
bool ModuleFitted(const BoardModel& board, uint32_t module) {
  const uint8_t identity = board.pld[pld::kIdentity];
  if (((identity >> 4) & 7u) == 1) return module == 1 || (identity & (1u << (module - 2)));
  return identity & (1u << (module - 1));
}

// Registers the library can only read; the control interface still sets them.
bool ReadOnlyPld(uint32_t offset) {
  const uint32_t module = offset / 256;
  const uint32_t index = offset % 256;
  if (module == 0) {
    return offset == pld::kIdentity || offset == pld::kBoardId || offset == pld::kVersion;
  }
  return index == pld::kModuleDi || index == pld::kModuleDi + 1;
}

uint8_t PldRead(const BoardModel& board, uint32_t offset) {
  if (offset >= kPldSize) return 0;
  const uint32_t module = offset / 256;
  if (module > 0 && !ModuleFitted(board, module)) return 0;
  return board.pld[offset];
}

// Module command, data and DO registers keep what was written, so the last
// filter command and its data bytes stay visible through Pld().
void PldWrite(BoardModel* board, uint32_t offset, uint8_t value) {
  if (offset >= kPldSize || ReadOnlyPld(offset)) return;
  const uint32_t module = offset / 256;
  if (module > 0 && !ModuleFitted(*board, module)) return;
  board->pld[offset] = value;
  // The module takes its input event mask from the two data bytes.
  if (module > 0 && offset % 256 == pld::kModuleCommand && value == kLoadEventMask) {
    const uint32_t base = pld::ModuleBase(module);
    board->di_event_mask[module - 1] = static_cast<uint16_t>(
        board->pld[base + pld::kModuleDataLow] | board->pld[base + pld::kModuleDataHigh] << 8);
  }
}

uint16_t ModuleInputs(const BoardModel& board, uint32_t module) {
  const uint32_t di = pld::ModuleBase(module) + pld::kModuleDi;
  return static_cast<uint16_t>(board.pld[di] | board.pld[di + 1] << 8);
}

// True when the counter was outside the window strictly between COMP- and
// COMP+ at the last scan and now stands in it or, when it moved there pulse
// by pulse (`passing`), went through it. A counter set or jumped to a target
// counts only where it stands.
bool EntersWindow(int32_t from, int32_t to, const AxisState& reg, bool passing) {
  const int64_t low = static_cast<int64_t>(reg.comp_minus) + 1, high = reg.comp_plus - 1LL;
  auto inside = [&](int64_t p) { return p >= low && p <= high; };
  if (inside(from)) return false;
  if (inside(to)) return true;
  return passing && low <= high && std::min(from, to) < low && std::max(from, to) > high;
}

uint32_t* LocalRegister(BoardModel* board, uint32_t offset) {
  return offset < kLocalSize ? &board->local[offset / 4] : nullptr;
}

}  // namespace

void PowerOn(const BoardConfig& config, BoardModel* board) {
  *board = BoardModel{};
  board->pld[pld::kIdentity] = Identity(config);
  board->pld[pld::kBoardId] = config.board_id;
  board->pld[pld::kVersion] = config.pld_version;
  for (uint32_t m = 1; m <= kModules; ++m) {
    // Inputs are active low: a register of ones means every input is off.
    board->pld[pld::ModuleBase(m) + pld::kModuleDi] = 0xFF;
    board->pld[pld::ModuleBase(m) + pld::kModuleDi + 1] = 0xFF;
  }
  board->stuck_bus_bits = config.stuck_bus_bits;
  for (uint32_t a = 0; a < kAxes; ++a) {
    board->chip.axis[a].inputs = 0xFF;
    board->chip.axis[a].machine = config.machine[a];
  }
  for (uint16_t& inputs : board->di_scanned) inputs = 0xFFFF;
}

uint8_t ScanInterrupts(BoardModel* board, bool passing) {
  const uint8_t enables = board->pld[pld::kInterruptEnable];
  uint8_t cause = 0;
  for (uint32_t a = 0; a < kAxes; ++a) {
    AxisModel& axis = board->chip.axis[a];
    const uint8_t events = axis.events & (axis.reg.wr1 >> 13);
    axis.events = 0;
    if (events != 0) {
      EventWrite(board, kMotionStatusWord,
                 EventRead(*board, kMotionStatusWord, 2) | static_cast<uint32_t>(events) << 5, 2);
      cause |= enables & kMotionCause;
    }
    const int32_t from = axis.scanned;
    axis.scanned = axis.reg.logical;
    if ((axis.reg.wr1 & (1u << 12)) && EntersWindow(from, axis.reg.logical, axis.reg, passing)) {
      EventWrite(board, kCompareStatusWord, EventRead(*board, kCompareStatusWord, 2) | 1u << a, 2);
      cause |= enables & kCompareCauses;
    }
  }
  for (uint32_t m = 1; m <= kModules; ++m) {
    if (!ModuleFitted(*board, m)) continue;
    const uint16_t inputs = ModuleInputs(*board, m);
    const uint16_t changed = (inputs ^ board->di_scanned[m - 1]) & board->di_event_mask[m - 1];
    board->di_scanned[m - 1] = inputs;
    if (changed == 0) continue;
    const uint32_t at = kInputStatusByte + 2 * (m - 1);
    EventWrite(board, at, EventRead(*board, at, 2) | changed, 2);
    cause |= enables & (1u << m);
  }
  return cause;
}

bool PortRead(BoardModel* board, uint32_t space, uint32_t offset, uint32_t* value) {
  switch (static_cast<Space>(space)) {
    case Space::kLocal: {
      const uint32_t* reg = LocalRegister(board, offset);
      *value = reg ? *reg : 0;
      return true;
    }
    case Space::kChip:
      *value = ChipRead(&board->chip, offset);
      return true;
    case Space::kPld:
      *value = PldRead(*board, offset);
      return true;
  }
  return false;
}

bool PortWrite(BoardModel* board, uint32_t space, uint32_t offset, uint32_t value) {
  switch (static_cast<Space>(space)) {
    case Space::kLocal:
      if (uint32_t* reg = LocalRegister(board, offset)) {
        *reg = offset == local::kBusTest ? value & ~board->stuck_bus_bits : value;
      }
      return true;
    case Space::kChip:
      ChipWrite(&board->chip, offset, static_cast<uint16_t>(value));
      return true;
    case Space::kPld:
      PldWrite(board, offset, static_cast<uint8_t>(value));
      return true;
  }
  return false;
}

uint32_t EventRead(const BoardModel& board, uint32_t offset, int bytes) {
  uint32_t value = 0;
  for (int i = 0; i < bytes && offset + i < kEventSize; ++i) {
    value |= static_cast<uint32_t>(board.event[offset + i]) << (8 * i);
  }
  return value;
}

void EventWrite(BoardModel* board, uint32_t offset, uint32_t value, int bytes) {
  for (int i = 0; i < bytes && offset + i < kEventSize; ++i) {
    board->event[offset + i] = static_cast<uint8_t>(value >> (8 * i));
  }
}

void LatchCause(BoardModel* board, uint16_t cause) {
  EventWrite(board, kCauseWord, EventRead(*board, kCauseWord, 2) | cause, 2);
}

uint32_t EventBusRead(BoardModel* board, uint32_t offset, int bytes) {
  const uint32_t value = EventRead(*board, offset, bytes);
  for (uint32_t at = offset; at < offset + bytes && at < kEventSize; ++at) {
    if (at == kCauseWord || at == kCauseWord + 1) board->event[at] = 0;
  }
  return value;
}

int RequestWidth(uint32_t code) {
  switch (code) {
    case ioctl::kReadByte:
    case ioctl::kWriteByte:
    case ioctl::kEventReadByte:
    case ioctl::kEventWriteByte:
      return 1;
    case ioctl::kReadWord:
    case ioctl::kWriteWord:
    case ioctl::kEventReadWord:
    case ioctl::kEventWriteWord:
      return 2;
    default:
      return 4;
  }
}

BusAccess BusRequest(BoardModel* board, uint32_t code, uint32_t space, uint32_t offset,
                     uint32_t* value, bool read_clears_cause) {
  const int bytes = RequestWidth(code);
  const uint32_t mask = bytes >= 4 ? ~0u : (1u << (8 * bytes)) - 1u;
  switch (code) {
    case ioctl::kReadByte:
    case ioctl::kReadWord:
    case ioctl::kReadDword: {
      uint32_t read = 0;
      if (!PortRead(board, space, offset, &read)) return BusAccess::kRefused;
      *value = read & mask;
      return BusAccess::kRead;
    }
    case ioctl::kWriteByte:
    case ioctl::kWriteWord:
    case ioctl::kWriteDword:
      *value &= mask;
      return PortWrite(board, space, offset, *value) ? BusAccess::kWrite : BusAccess::kRefused;
    case ioctl::kEventReadByte:
    case ioctl::kEventReadWord:
      *value =
          read_clears_cause ? EventBusRead(board, offset, bytes) : EventRead(*board, offset, bytes);
      return BusAccess::kRead;
    case ioctl::kEventWriteByte:
    case ioctl::kEventWriteWord:
      *value &= mask;
      EventWrite(board, offset, *value, bytes);
      return BusAccess::kWrite;
    default:
      return BusAccess::kRefused;
  }
}

}  // namespace rvx::sim
