// The simulator's board model behind the kernel driver's C code.
#include "driver/board_shim.h"

#include "sim/board.h"

namespace {

using rvx::sim::BoardModel;

BoardModel* Model(void* board) { return static_cast<BoardModel*>(board); }

}  // namespace

extern "C" {

uint32_t rvxb_tick_micros(void) { return rvx::sim::kTickMicros; }

uint32_t rvxb_size(void) { return sizeof(BoardModel); }

void rvxb_power_on(void* board, uint8_t type_code, uint8_t module_bits) {
  rvx::sim::BoardConfig config;
  config.type_code = type_code;
  config.module_bits = module_bits;
  rvx::sim::PowerOn(config, Model(board));
}

int rvxb_port(void* board, uint32_t code, uint32_t* space, uint32_t* offset, uint32_t* value) {
  // The driver's cause word keeps its bits across reads.
  return rvx::sim::BusRequest(Model(board), code, *space, *offset, value, false) !=
         rvx::sim::BusAccess::kRefused;
}

int rvxb_driving(void* board) { return rvx::sim::ProfiledDriveRunning(Model(board)->chip) ? 1 : 0; }

void rvxb_latch_cause(void* board, uint16_t cause) {
  rvx::sim::EventWrite(Model(board), 10, cause, 2);
}

uint8_t rvxb_scan(void* board) {
  const uint8_t cause = rvx::sim::ScanInterrupts(Model(board), false);
  if (cause != 0) rvxb_latch_cause(board, cause);
  return cause;
}

uint32_t rvxb_advance(void* board, uint64_t ticks) {
  BoardModel* b = Model(board);
  uint32_t interrupts = 0;
  for (uint64_t t = 0; t < ticks && rvx::sim::ProfiledDriveRunning(b->chip); ++t) {
    rvx::sim::AdvanceChip(&b->chip, 1);
    if (const uint8_t cause = rvx::sim::ScanInterrupts(b, true)) {
      rvxb_latch_cause(board, cause);
      ++interrupts;
    }
  }
  return interrupts;
}

}  // extern "C"
