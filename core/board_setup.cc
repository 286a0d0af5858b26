#include "core/board_setup.h"

#include <cstring>

namespace rvx {

#define RVX_KEY(name, field, factory) \
  { name, offsetof(AxisBlock, field), sizeof(AxisBlock::field), factory }
const SettingKey kSettingKeys[] = {
    RVX_KEY("RANGE", range, 100),
    RVX_KEY("MULTIPLE", multiple, 80000),
    RVX_KEY("POS_ACC", pos_acc, 7),
    RVX_KEY("POS_DEC", pos_dec, 7),
    RVX_KEY("POS_START", pos_start, 10),
    RVX_KEY("POS_DRIVE", pos_drive, 100),
    RVX_KEY("POS_ACC[ms]", pos_acc_ms, 100),
    RVX_KEY("POS_DEC[ms]", pos_dec_ms, 100),
    RVX_KEY("POS_START[PPS]", pos_start_pps, 1000),
    RVX_KEY("POS_DRIVE[PPS]", pos_drive_pps, 10000),
    RVX_KEY("JOG_ACC", jog_acc, 7),
    RVX_KEY("JOG_START", jog_start, 10),
    RVX_KEY("JOG_DRIVE", jog_drive, 100),
    RVX_KEY("JOG_ACC[ms]", jog_acc_ms, 100),
    RVX_KEY("JOG_START[PPS]", jog_start_pps, 1000),
    RVX_KEY("JOG_DRIVE[PPS]", jog_drive_pps, 10000),
    RVX_KEY("HOME_ACC", home_acc, 7),
    RVX_KEY("LOWHOMESPEED", low_home_speed, 10),
    RVX_KEY("HIGHHOMESPEED", high_home_speed, 100),
    RVX_KEY("HOMEOFFSET", home_offset, 0),
    RVX_KEY("HOME_ACC[ms]", home_acc_ms, 100),
    RVX_KEY("LOWHOMESPEED[PPS]", low_home_pps, 1000),
    RVX_KEY("HIGHHOMESPEED[PPS]", high_home_pps, 10000),
    RVX_KEY("INT_ACC", int_acc, 7),
    RVX_KEY("INT_DEC", int_dec, 7),
    RVX_KEY("INT_START", int_start, 10),
    RVX_KEY("INT_DRIVE", int_drive, 100),
    RVX_KEY("INT_ACC[ms]", int_acc_ms, 100),
    RVX_KEY("INT_DEC[ms]", int_dec_ms, 100),
    RVX_KEY("INT_START[PPS]", int_start_pps, 1000),
    RVX_KEY("INT_DRIVE[PPS]", int_drive_pps, 10000),
};
#undef RVX_KEY
const size_t kSettingKeyCount = sizeof kSettingKeys / sizeof kSettingKeys[0];

i32 ReadSetting(const AxisBlock& block, const SettingKey& key) {
  const u8* at = reinterpret_cast<const u8*>(&block) + key.offset;
  if (key.size == 2) {
    u16 v;
    memcpy(&v, at, 2);
    return v;
  }
  i32 v;
  memcpy(&v, at, 4);
  return v;
}

void WriteSetting(AxisBlock& block, const SettingKey& key, i32 value) {
  u8* at = reinterpret_cast<u8*>(&block) + key.offset;
  if (key.size == 2) {
    const u16 v = static_cast<u16>(value);
    memcpy(at, &v, 2);
  } else {
    memcpy(at, &value, 4);
  }
}

void StoreAxisDefaults(AxisBlock& block) {
  for (size_t i = 0; i < kSettingKeyCount; ++i) {
    WriteSetting(block, kSettingKeys[i], kSettingKeys[i].factory);
  }
  block.home_mode = 2;
  block.home_dir = 1;
  block.home_ok = 0;
  block.plus_softlimit = kDefaultPlusLimit;
  block.minus_softlimit = kDefaultMinusLimit;
  block.ring_command = kDefaultPlusLimit;
  block.ring_actual = kDefaultPlusLimit;
  block.comp_width = 0;
  block.fixed_range = 1;
  block.mpg_rate = 1;
  block.acc_offset = 0;
  block.move_distance = 0;
  block.move_start = 0;
  block.motion_dir = 0;
}

void WriteDefaultModeRegisters(const Axis& axis) {
  axis.SetWr1(0);
  axis.SetWr2(0);
  axis.SetWr3(kDefaultWr3);
}

void WriteDefaultExtensionWords(const Axis& axis) {
  axis.SetExtensionWords(kDefaultEm6, kDefaultEm7);
  axis.SetSyncWords(0, 0);
}

void WriteDefaultLimits(const Axis& axis) {
  axis.Write32(cmd::kCompPlus, kDefaultPlusLimit);
  axis.block().plus_softlimit = kDefaultPlusLimit;
  axis.Write32(cmd::kCompMinus, kDefaultMinusLimit + 1);
  axis.block().minus_softlimit = kDefaultMinusLimit;
}

void ModuleCommand(const BoardIo& io, u32 module, u8 low, u8 high, u8 command) {
  const u32 base = pld::ModuleBase(module);
  io.SetPld(base + pld::kModuleDataLow, low);
  io.SetPld(base + pld::kModuleDataHigh, high);
  io.SetPld(base + pld::kModuleCommand, command);
}

void SetModuleFilter(const BoardIo& io, u32 module, bool on) {
  ModuleCommand(io, module, on ? 0xFF : 0x00, 0x00, 0xC1);
}

void SetModuleFilterTime(const BoardIo& io, u32 module, u8 time) {
  ModuleCommand(io, module, 0xAA, time, 0xC2);
}

void CloseModuleFilter(const BoardIo& io, u32 module) {
  ModuleCommand(io, module, 0x00, 0x00, 0xC8);
  io.SetPld(pld::ModuleBase(module) + pld::kModuleCommand, 0xE5);
}

void ProgramModuleFilter(const BoardIo& io, u32 module, bool on, u8 time) {
  SetModuleFilter(io, module, on);
  SetModuleFilterTime(io, module, time);
  CloseModuleFilter(io, module);
}

u32 FittedModules(const BoardRecord& record) {
  return record.axis_count == kAxesPerBoard ? record.do_count / 16 : 0;
}

void ClearMoveRecords(u32 board, u32 axis) {
  MoveTableEntry(board, axis) = kNoMove;
  HomeTableEntry(board, axis) = 0;
}

}  // namespace rvx
