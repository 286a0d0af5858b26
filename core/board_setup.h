// The programming shared by reset, system defaults and the parameter file:
// factory values of an axis, the default register words, and the expansion
// module commands.
#ifndef RVX_CORE_BOARD_SETUP_H_
#define RVX_CORE_BOARD_SETUP_H_

#include <cstddef>

#include "core/call.h"

namespace rvx {

// Factory register words of an axis.
constexpr u16 kDefaultWr3 = 0x0080;
constexpr u16 kDefaultEm6 = 0x6500;
constexpr u16 kDefaultEm7 = 0xC94F;
constexpr i32 kDefaultPlusLimit = 0x3FFFFFFF;
constexpr i32 kDefaultMinusLimit = -0x40000000;
constexpr u16 kDefaultDiFilter = 1;
constexpr u16 kDefaultDiFilterTime = 10;

// A numeric setting of the axis block saved under a parameter-file key.
struct SettingKey {
  const char* key;
  size_t offset;  // in the axis block
  size_t size;    // 2 or 4 bytes
  i32 factory;    // factory value, also the default of an absent key
};

// The speed, homing and interpolation settings, in file order.
extern const SettingKey kSettingKeys[];
extern const size_t kSettingKeyCount;

i32 ReadSetting(const AxisBlock& block, const SettingKey& key);
void WriteSetting(AxisBlock& block, const SettingKey& key, i32 value);

// Every axis setting at its factory value (no register is written).
void StoreAxisDefaults(AxisBlock& block);

// WR0 <- select, WR1 <- 0; the same for WR2 <- 0 and WR3 <- 0x80; shadows.
void WriteDefaultModeRegisters(const Axis& axis);
// Extension words 0x6500/0xC94F (0x60) and zero sync words (0x64), shadows.
void WriteDefaultExtensionWords(const Axis& axis);
// Compare registers at the factory software limits (0x0B, 0x0C), stored too.
void WriteDefaultLimits(const Axis& axis);

// Module m's filter data bytes, then its command byte.
void ModuleCommand(const BoardIo& io, u32 module, u8 low, u8 high, u8 command);
// The filter commands of module m, one each: on/off (0xC1), time (0xC2), and
// the closing pair (0xC8 with zero data, then 0xE5 alone).
void SetModuleFilter(const BoardIo& io, u32 module, bool on);
void SetModuleFilterTime(const BoardIo& io, u32 module, u8 time);
void CloseModuleFilter(const BoardIo& io, u32 module);
// All three for module m, in that order.
void ProgramModuleFilter(const BoardIo& io, u32 module, bool on, u8 time);
// The fitted modules of a four-axis board, 1..DO count / 16; 0 otherwise.
u32 FittedModules(const BoardRecord& record);

// Clears the per-process move and home table entries of an axis.
void ClearMoveRecords(u32 board, u32 axis);

}  // namespace rvx

#endif  // RVX_CORE_BOARD_SETUP_H_
