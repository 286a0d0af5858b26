// Reset of a whole board and system defaults of one axis: the registers and
// their shadows return to factory values together.
#include <cstring>

#include "core/board_setup.h"

namespace rvx {
namespace {

// The settings a reset clears before the defaults are written. The
// positioning deceleration jerk survives it.
void ClearAxisSettings(AxisBlock& b) {
  const u32 dec_jerk = b.pos_dec_jerk;
  u8* bytes = reinterpret_cast<u8*>(&b);
  memset(bytes + offsetof(AxisBlock, wr1), 0,
         offsetof(AxisBlock, reserved304) - offsetof(AxisBlock, wr1));
  b.minus_softlimit = b.plus_softlimit = b.ring_command = b.ring_actual = 0.0;
  b.pos_dec_jerk = dec_jerk;
}

// Steps 3 to 7 of an axis reset: extension and sync words, defaults,
// limits, acceleration counter offset.
void ResetAxisSettings(const Axis& axis, u32 board) {
  WriteDefaultExtensionWords(axis);
  StoreAxisDefaults(axis.block());
  ClearMoveRecords(board, axis.number());
  WriteDefaultLimits(axis);
  axis.Write16(cmd::kAccOffset, 0);
}

}  // namespace
}  // namespace rvx

using namespace rvx;  // NOLINT: exported functions are defined at global scope

extern "C" {

RVX406A_API void RVX406A_Reset(uint16_t board) {
  BoardCall call(board, LogRule::kLifecycle);
  if (call.ok()) {
    const BoardIo& io = call.io();
    const u32 axes = call.record().axis_count;
    for (u32 a = 0; a < axes; ++a) ClearAxisSettings(call.block().axis[a]);

    io.SetPld(pld::kReset, 1);
    io.Settle(10);
    for (u32 reg :
         {pld::kLhome0, pld::kLhome1, pld::kEmgCmp, pld::kCleared6, pld::kInterruptEnable}) {
      io.SetPld(reg, 0);
    }
    io.Pld(pld::kAck8);
    io.SetPld(pld::kOrgSel, 0);
    io.Command(cmd::kChipReset);
    io.Settle(10);
    io.Write32(cmd::kAllAxes | cmd::kSetLogical, 0);
    io.Write32(cmd::kAllAxes | cmd::kSetReal, 0);

    for (u32 a = 0; a < axes; ++a) {
      const Axis axis = call.axis_at(a);
      WriteDefaultModeRegisters(axis);
      axis.block().wr4 = 0;
      io.SetChip(chip::kWr4, 0);
      axis.block().wr5 = 0;
      io.SetChip(chip::kWr5, 0);
      ResetAxisSettings(axis, board);
    }
    call.board_values().di_filter = kDefaultDiFilter;
    call.board_values().di_filter_time = kDefaultDiFilterTime;

    for (u32 m = 1; m <= FittedModules(call.record()); ++m) {
      ModuleCommand(io, m, 0xF0, 0x00, 0xC0);
      ProgramModuleFilter(io, m, true, kDefaultDiFilterTime);
      io.SetPld(pld::ModuleBase(m) + pld::kModuleDo, 0);
      io.SetPld(pld::ModuleBase(m) + pld::kModuleDo + 1, 0);
    }
  }
  call.Log(" RV = %5d : RVX406A_Reset (%d)", board);
}

RVX406A_API void RVX406A_SetSystemDefault(uint16_t board, uint16_t axis) {
  AxisCall call(board, axis, LogRule::kNarrowSetter);
  if (call.ok()) call.Check(!call.axis().Driving(), ERR_AXIS_DRV_BUSY);
  if (call.ok()) {
    const BoardIo& io = call.io();
    io.SetPld(pld::kLhome0, static_cast<u8>(Field(io.Pld(pld::kLhome0), 2 * axis, 2, 0)));
    io.SetPld(pld::kEmgCmp, 0);
    io.SetPld(pld::kOrgSel, 0);

    WriteDefaultModeRegisters(call.axis());
    call.board_values().wr5 = 0;
    io.SetChip(chip::kWr5, 0);
    ResetAxisSettings(call.axis(), board);
    call.board_values().di_filter = kDefaultDiFilter;
    call.board_values().di_filter_time = kDefaultDiFilterTime;

    for (u32 m = 1; m <= FittedModules(call.record()); ++m) {
      SetModuleFilter(io, m, true);
      SetModuleFilterTime(io, m, kDefaultDiFilterTime);
    }
  }
  call.Log(" RV = %5d : RVX406A_SetSystemDefault (%ld, %ld)", board, axis);
}

}  // extern "C"
