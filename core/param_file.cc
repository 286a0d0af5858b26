// The per-board parameter file (RVXPRM<n>.DAT) and DbgLevel.ini: loading
// programs the chip and fills the shared board block; saving writes the
// shared settings back. Every value is a decimal text read back as an integer.
#include "core/param_file.h"

#include <cerrno>
#include <cstdio>
#include <string>

#include "core/board_setup.h"
#include "platform/ini_document.h"

namespace rvx {
namespace {

constexpr u16 kMaxRange = 500;

std::string InstallPath(const char* folder, const char* name) {
  const char sep = os::PathSeparator();
  std::string path = process().install_dir;
  if (folder != nullptr) path = path + sep + folder + sep;
  return path + name;
}

std::string ParameterFilePath(u32 board) {
  char name[32];
  snprintf(name, sizeof name, "RVXPRM%u.DAT", static_cast<unsigned>(board));
  return InstallPath("Parameter", name);
}

std::string LogLevelFilePath() { return InstallPath(nullptr, "DbgLevel.ini"); }

// The whole file, read with one open; false when it cannot be opened.
bool ReadTextFile(const std::string& path, bool open_fails, std::string* text) {
  ++process().seams.files_opened;
  FILE* file = open_fails ? nullptr : fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  char buffer[65536];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, file)) > 0) text->append(buffer, n);
  fclose(file);
  return true;
}

// The file as it stands, to be changed key by key; false when it exists but
// cannot be read, for it must then not be replaced.
bool ReadForRewrite(const std::string& path, std::string* text) {
  errno = 0;
  return ReadTextFile(path, false, text) || errno == ENOENT;
}

// Written aside in the same folder, made durable, then renamed over the old
// file: a process killed at any moment leaves the old file or the new one.
// A read-only file stays as it is, as the profile functions leave it.
bool WriteTextFile(const std::string& path, const std::string& text) {
  if ((os::GetFileAttributes(path.c_str()) & os::kFileAttributeReadOnly) != 0) return false;
  const std::string aside = path + ".new";
  ++process().seams.files_opened;
  FILE* file = fopen(aside.c_str(), "wb");
  if (file == nullptr) return false;
  const int64_t stop = process().seams.save_stops_after;
  if (stop >= 0 && static_cast<uint64_t>(stop) <= text.size()) {
    fwrite(text.data(), 1, static_cast<size_t>(stop), file);
    fclose(file);
    return false;
  }
  bool ok = fwrite(text.data(), 1, text.size(), file) == text.size();
  ok = os::SyncFile(file) && ok;
  ok = fclose(file) == 0 && ok;
  if (ok && os::MoveFileOver(aside.c_str(), path.c_str())) return true;
  remove(aside.c_str());
  return false;
}

// Reads the keys of one section of a parsed file.
class IniReader {
 public:
  IniReader(const os::IniDocument& file, std::string section)
      : file_(file), section_(std::move(section)) {}
  i32 Int(const char* key, i32 default_value) const {
    return file_.Int(section_, key, default_value);
  }
  u16 Word(const char* key, i32 default_value) const {
    return static_cast<u16>(Int(key, default_value));
  }

 private:
  const os::IniDocument& file_;
  std::string section_;
};

// Changes the keys of one section of a parsed file.
class IniWriter {
 public:
  IniWriter(os::IniDocument& file, std::string section)
      : file_(file), section_(std::move(section)) {}
  void Int(const char* key, int64_t value) const {
    char text[32];
    snprintf(text, sizeof text, "%ld", static_cast<long>(static_cast<i32>(value)));
    Text(key, text);
  }
  void Double(const char* key, f64 value) const {
    char text[64];
    snprintf(text, sizeof text, "%0f", value);
    Text(key, text);
  }
  void Text(const char* key, const char* text) const { file_.Set(section_, key, text); }

 private:
  os::IniDocument& file_;
  std::string section_;
};

std::string AxisSection(u32 axis) { return std::to_string(axis) + "-AXIS"; }

// The file's filter settings go to every module command by command.
void ProgramModules(const BoardIo& io, u32 modules, u16 filter, u16 filter_time) {
  for (u32 m = 1; m <= modules; ++m) SetModuleFilter(io, m, filter == 1);
  for (u32 m = 1; m <= modules; ++m) SetModuleFilterTime(io, m, static_cast<u8>(filter_time));
  for (u32 m = 1; m <= modules; ++m) CloseModuleFilter(io, m);
}

void ClearPldModes(const BoardIo& io, u8 lhome0, u8 emgcmp, u8 orgsel) {
  io.SetPld(pld::kLhome0, lhome0);
  io.SetPld(pld::kLhome1, 0);
  io.SetPld(pld::kEmgCmp, emgcmp);
  io.SetPld(pld::kCleared6, 0);
  io.SetPld(pld::kInterruptEnable, 0);
  io.Pld(pld::kAck8);
  io.SetPld(pld::kOrgSel, orgsel);
}

// WR4 and WR5 are cleared in the chip at every load; the WR4 shadow keeps
// the file's value.
void ClearOutputRegisters(const Axis& axis, u16 wr4_shadow) {
  axis.io().SetChip(chip::kWr4, 0);
  axis.block().wr4 = wr4_shadow;
  axis.io().SetChip(chip::kWr5, 0);
  axis.block().wr5 = 0;
}

void LoadAxisFromFile(const Axis& axis, const IniReader& file) {
  AxisBlock& b = axis.block();
  axis.Command(cmd::kSuddenStop);
  axis.SetWr1(file.Word("MCX_WR1", 0) & 0x01FF);
  axis.SetWr2(file.Word("MCX_WR2", 0));
  axis.SetWr3((file.Word("MCX_WR3", kDefaultWr3) & ~1u) | kDefaultWr3);
  ClearOutputRegisters(axis, file.Word("MCX_WR4", 0));
  file.Int("MCX_WR5", 0);  // read, but the chip always starts without a map

  const u16 em7 = file.Word("MCX_EM7", kDefaultEm7);
  const u16 em6 = file.Word("MCX_EM6", kDefaultEm6);
  axis.SetExtensionWords(em6, em7);
  const u16 sm7 = file.Word("MCX_SM7", 0);
  const u16 sm6 = file.Word("MCX_SM6", 0);
  axis.SetSyncWords(sm6, sm7);

  for (size_t i = 0; i < kSettingKeyCount; ++i) {
    const SettingKey& key = kSettingKeys[i];
    WriteSetting(b, key, file.Int(key.key, key.factory));
  }
  // A range outside 1..500 would leave the speed arithmetic without a multiplier.
  if (b.range < 1) b.range = 1;
  if (b.range > kMaxRange) b.range = kMaxRange;

  const i32 plus = file.Int("+SOFTLIMIT", kDefaultPlusLimit);
  axis.Write32(cmd::kCompPlus, plus);
  b.plus_softlimit = plus;
  const i32 minus = file.Int("-SOFTLIMIT", kDefaultMinusLimit);
  axis.Write32(cmd::kCompMinus, WrapAdd(minus, 1));
  b.minus_softlimit = minus;
  const bool ring = Bit(em6, em6::kRingCounter);
  const i32 ring_command = file.Int("RINGCOMMAND", kDefaultPlusLimit);
  if (ring) axis.Write32(cmd::kCompPlus, WrapAdd(ring_command, -1));
  b.ring_command = ring_command;
  const i32 ring_actual = file.Int("RINGACCTUAL", kDefaultPlusLimit);
  if (ring) axis.Write32(cmd::kCompMinus, WrapAdd(ring_actual, -1));
  b.ring_actual = ring_actual;

  b.home_dir = file.Word("HOMEDIR", 1);
  b.home_mode = file.Word("HOMEMODE", 2);
  file.Int("HOME_OK", 0);  // a home verdict never survives a reload
  b.home_ok = 0;
  b.comp_width = file.Word("COMP_WIDTH", 0);
  b.fixed_range = file.Word("FIXED_RANGE", 1);
  b.mpg_rate = file.Word("MPG_RATE", 1);
  const u16 acc_offset = file.Word("ACC_OFFSET", 0);
  axis.Write16(cmd::kAccOffset, acc_offset);
  b.acc_offset = acc_offset;
  b.motion_dir = 0;
}

void LoadAxisDefaults(const Axis& axis) {
  axis.Command(cmd::kSuddenStop);
  WriteDefaultModeRegisters(axis);
  ClearOutputRegisters(axis, 0);
  WriteDefaultExtensionWords(axis);
  StoreAxisDefaults(axis.block());
  WriteDefaultLimits(axis);
  axis.block().home_ok = 0;
  axis.Write16(cmd::kAccOffset, 0);
  axis.block().acc_offset = 0;
}

// Without a file each module gets the factory filter, module by module.
void ProgramDefaultModules(const BoardIo& io, u32 modules) {
  for (u32 m = 1; m <= modules; ++m) ProgramModuleFilter(io, m, true, kDefaultDiFilterTime);
}

void LoadLogLevel(SharedSection& shared) {
  std::string text;
  ReadTextFile(LogLevelFilePath(), false, &text);  // a missing file has no keys
  const os::IniDocument file(text);
  shared.log_level = IniReader(file, "DEBUG_AD").Word("LOG_LEVEL", 2);
}

void SaveLogLevel(const SharedSection& shared) {
  const std::string path = LogLevelFilePath();
  std::string text;
  if (!ReadForRewrite(path, &text)) return;
  os::IniDocument file(text);
  IniWriter(file, "DEBUG_AD").Int("LOG_LEVEL", shared.log_level);
  WriteTextFile(path, file.Text());
}

}  // namespace

bool LoadParameterFile(u32 board) {
  Process& p = process();
  const BoardRecord& record = p.table.board[board];
  if (record.handle == nullptr || record.axis_count != kAxesPerBoard) return false;
  const BoardIo io = BoardChannel(board);
  BoardBlock& block = p.shared->board[board];
  AxisBlock& board_values = block.axis[0];
  const u32 modules = FittedModules(record);
  const std::string path = ParameterFilePath(board);

  std::string text;
  if (ReadTextFile(path, p.seams.Fails(OsCall::kOpenParameterFile), &text)) {
    const os::IniDocument file(text);
    const IniReader pld_bank(file, "PLD_BANK");
    ClearPldModes(io, static_cast<u8>(pld_bank.Int("LHOME0", 0)),
                  static_cast<u8>(pld_bank.Int("EMGCMP", 0)),
                  static_cast<u8>(pld_bank.Int("ORGSEL", 0)));
    for (u32 a = 0; a < kAxesPerBoard; ++a) {
      LoadAxisFromFile(Axis(io, a, block.axis[a]), IniReader(file, AxisSection(a)));
    }
    const IniReader digital(file, "DIGITAL");
    board_values.di_filter = digital.Word("DI_FILTER", kDefaultDiFilter);
    board_values.di_filter_time = digital.Word("DI_FILTERTIME", kDefaultDiFilterTime);
    ProgramModules(io, modules, board_values.di_filter, board_values.di_filter_time);
  } else {
    ClearPldModes(io, 0, 0, 0);
    for (u32 a = 0; a < kAxesPerBoard; ++a) LoadAxisDefaults(Axis(io, a, block.axis[a]));
    board_values.di_filter = kDefaultDiFilter;
    board_values.di_filter_time = kDefaultDiFilterTime;
    ProgramDefaultModules(io, modules);
  }
  LoadLogLevel(*p.shared);
  return true;
}

bool SaveParameterFile(u32 board) {
  Process& p = process();
  const BoardRecord& record = p.table.board[board];
  if (record.handle == nullptr || record.axis_count != kAxesPerBoard) return false;
  const BoardIo io = BoardChannel(board);
  const BoardBlock& block = p.shared->board[board];
  const std::string path = ParameterFilePath(board);

  os::SetFileAttributes(path.c_str(), os::kFileAttributeNormal);
  os::FlushView(p.shared, kSharedSectionSize);
  std::string text;
  const bool readable = ReadForRewrite(path, &text);
  os::IniDocument file(text);
  IniWriter(file, "VERSION").Text("VER", "1.0");
  for (u32 a = 0; a < kAxesPerBoard; ++a) {
    const AxisBlock& b = block.axis[a];
    const IniWriter axis(file, AxisSection(a));
    axis.Int("MCX_WR1", b.wr1);
    axis.Int("MCX_WR2", b.wr2);
    axis.Int("MCX_WR3", b.wr3);
    axis.Text("MCX_WR4", "0");
    axis.Text("MCX_WR5", "0");
    axis.Int("MCX_EM6", b.em6);
    axis.Int("MCX_EM7", b.em7);
    axis.Int("MCX_SM6", b.sm6);
    axis.Int("MCX_SM7", b.sm7);
    for (size_t i = 0; i < kSettingKeyCount; ++i) {
      axis.Int(kSettingKeys[i].key, ReadSetting(b, kSettingKeys[i]));
    }
    axis.Double("+SOFTLIMIT", b.plus_softlimit);
    axis.Double("-SOFTLIMIT", b.minus_softlimit);
    axis.Double("RINGCOMMAND", b.ring_command);
    axis.Double("RINGACCTUAL", b.ring_actual);
    axis.Int("HOMEDIR", b.home_dir);
    axis.Int("HOMEMODE", b.home_mode);
    axis.Int("HOME_OK", b.home_ok);
    axis.Int("COMP_WIDTH", b.comp_width);
    axis.Int("FIXED_RANGE", b.fixed_range);
    axis.Int("MPG_RATE", b.mpg_rate);
    axis.Int("ACC_OFFSET", b.acc_offset);
  }
  const IniWriter pld_bank(file, "PLD_BANK");
  pld_bank.Int("LHOME0", io.Pld(pld::kLhome0));
  pld_bank.Int("LHOME1", io.Pld(pld::kLhome1));
  pld_bank.Int("EMGCMP", io.Pld(pld::kEmgCmp));
  pld_bank.Int("ORGSEL", io.Pld(pld::kOrgSel));
  const IniWriter digital(file, "DIGITAL");
  digital.Int("DI_FILTER", block.axis[0].di_filter);
  digital.Int("DI_FILTERTIME", block.axis[0].di_filter_time);
  if (readable) WriteTextFile(path, file.Text());
  SaveLogLevel(*p.shared);
  os::SetFileAttributes(path.c_str(), os::kFileAttributeReadOnly | os::kFileAttributeSystem);
  return true;
}

}  // namespace rvx
