// rvxctl: command-line access to the boards, on real hardware or the
// simulated board. Every command loads the boards, does its work through the
// exported functions an application would call, and unloads again.
//
//   rvxctl [OPTIONS] COMMAND [ARGS...]   (rvxctl --help lists both)

#include <atomic>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "core/process.h"
#include "include/rvx406a.h"
#include "interp/events.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tools/scope_plot.h"
#include "tools/sim_keeper.h"

namespace {

// ---- Command line ----

// A simulated input, register or status value: BOARD:UNIT:VALUE.
struct SimSetting {
  uint32_t board, unit;
  int32_t value;
};

struct Options {
  bool sim = false;
  rvx::sim::Config boards;
  std::vector<SimSetting> inputs;     // unit = axis, active-high input bits
  std::vector<SimSetting> di;         // unit = module, DI register word
  std::vector<SimSetting> errors;     // unit = axis, RR2
  std::vector<SimSetting> positions;  // unit = axis, both counters
  long drive_polls = -1;              // -1: the simulator's default
  std::string machine;                // machine options as configuration text (RVX_SIM syntax)
  std::vector<std::string> words;     // the command and its arguments
  std::vector<std::string> given;     // the options as given, for a keeper
};

// The words after the command name: positional arguments and --flags.
struct Args {
  std::vector<std::string> positional;
  std::map<std::string, std::string> flags;  // "--abs" -> "", "--dll" -> path

  bool Has(const char *flag) const { return flags.count(flag) != 0; }
  size_t size() const { return positional.size(); }
  const std::string &operator[](size_t i) const { return positional[i]; }
};

bool ParseLong(const std::string &text, long *value) {
  if (text.empty()) return false;
  char *end = nullptr;
  *value = std::strtol(text.c_str(), &end, 0);
  return *end == '\0';
}

bool ParseU16(const std::string &text, uint16_t *value) {
  long v = 0;
  if (!ParseLong(text, &v) || v < 0 || v > 0xFFFF) return false;
  *value = static_cast<uint16_t>(v);
  return true;
}

bool ParseI32(const std::string &text, int32_t *value) {
  long long v = 0;
  char *end = nullptr;
  v = std::strtoll(text.c_str(), &end, 0);
  if (text.empty() || *end != '\0' || v < INT32_MIN || v > INT32_MAX) return false;
  *value = static_cast<int32_t>(v);
  return true;
}

// Hexadecimal with or without its 0x.
bool ParseHex(std::string text, long *value) {
  if (text.rfind("0x", 0) == 0 || text.rfind("0X", 0) == 0) text.erase(0, 2);
  if (text.empty() || text.find_first_not_of("0123456789abcdefABCDEF") != std::string::npos) {
    return false;
  }
  *value = std::strtol(text.c_str(), nullptr, 16);
  return true;
}

// "2,0,3" into its numbers.
template <class T, class Parse>
bool ParseList(const std::string &text, Parse parse, std::vector<T> *values) {
  size_t from = 0;
  while (true) {
    const size_t comma = text.find(',', from);
    T v{};
    if (!parse(text.substr(from, comma - from), &v)) return false;
    values->push_back(v);
    if (comma == std::string::npos) return true;
    from = comma + 1;
  }
}

// Register values are hexadecimal, positions decimal.
bool ParseSimSetting(const std::string &text, bool hex, SimSetting *s) {
  const size_t a = text.find(':');
  const size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  long board = 0, unit = 0, value = 0;
  int32_t position = 0;
  if (b == std::string::npos || !ParseLong(text.substr(0, a), &board) ||
      !ParseLong(text.substr(a + 1, b - a - 1), &unit) || board < 0 || unit < 0) {
    return false;
  }
  const std::string last = text.substr(b + 1);
  if (hex ? !ParseHex(last, &value) || value > 0xFFFF : !ParseI32(last, &position)) return false;
  *s = SimSetting{static_cast<uint32_t>(board), static_cast<uint32_t>(unit),
                  hex ? static_cast<int32_t>(value) : position};
  return true;
}

// "B:A:FROM:TO" and the like as the configuration item "axisB.A.KEY=FROM:TO":
// `units` words name the board (and axis), the rest is the value. The
// simulator's parser checks the numbers, so its messages are the ones shown.
bool MachineItem(const std::string &text, size_t units, size_t values, const char *key,
                 std::string *item) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t colon = text.find(':', from);
    parts.push_back(text.substr(from, colon - from));
    if (colon == std::string::npos) break;
    from = colon + 1;
  }
  if (parts.size() != units + values) return false;
  for (const std::string &p : parts) {
    if (p.empty()) return false;
  }
  std::string value;
  for (size_t i = units; i < parts.size(); ++i) value += (i > units ? ":" : "") + parts[i];
  *item += units == 1 ? " board" + parts[0] + "." + key
                      : " axis" + parts[0] + "." + parts[1] + "." + key;
  *item += "=" + (value.empty() ? std::string("1") : value);
  return true;
}

// Global options are taken wherever they stand; other words belong to the
// command. False on a malformed option, which is left in `bad`.
bool ParseOptions(int argc, char **argv, Options *options, std::string *bad) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    *bad = arg;
    options->given.push_back(arg);
    auto starts = [&](const char *prefix) { return arg.rfind(prefix, 0) == 0; };
    auto rest = [&](const char *prefix) { return arg.substr(strlen(prefix)); };
    long v = 0;
    SimSetting s{};
    if (arg == "--sim") {
      options->sim = true;
    } else if (starts("--sim=")) {
      if (!ParseLong(rest("--sim="), &v) || v < 1 || v > 16) return false;
      options->sim = true;
      options->boards.board_count = static_cast<uint32_t>(v);
    } else if (starts("--modules=")) {
      if (!ParseLong(rest("--modules="), &v) || v < 0 || v > 15) return false;
      for (auto &b : options->boards.board) b.module_bits = static_cast<uint8_t>(v);
    } else if (starts("--type=")) {
      if (!ParseLong(rest("--type="), &v) || v < 0 || v > 7) return false;
      for (auto &b : options->boards.board) b.type_code = static_cast<uint8_t>(v);
    } else if (arg == "--swap") {
      for (auto &b : options->boards.board) b.byte_swap = true;
    } else if (starts("--sim-inputs=")) {
      if (!ParseSimSetting(rest("--sim-inputs="), true, &s)) return false;
      options->inputs.push_back(s);
    } else if (starts("--sim-di=")) {
      if (!ParseSimSetting(rest("--sim-di="), true, &s)) return false;
      options->di.push_back(s);
    } else if (starts("--sim-errors=")) {
      if (!ParseSimSetting(rest("--sim-errors="), true, &s)) return false;
      options->errors.push_back(s);
    } else if (starts("--sim-position=")) {
      if (!ParseSimSetting(rest("--sim-position="), false, &s)) return false;
      options->positions.push_back(s);
    } else if (starts("--sim-limits=")) {
      if (!MachineItem(rest("--sim-limits="), 2, 2, "limits", &options->machine)) return false;
    } else if (starts("--sim-home=")) {
      if (!MachineItem(rest("--sim-home="), 2, 2, "home", &options->machine)) return false;
    } else if (starts("--sim-near=")) {
      if (!MachineItem(rest("--sim-near="), 2, 2, "near", &options->machine)) return false;
    } else if (starts("--sim-z=")) {
      if (!MachineItem(rest("--sim-z="), 2, 1, "z", &options->machine)) return false;
    } else if (starts("--sim-alarm=")) {
      // The alarm output shows only where a servo drive is wired.
      if (!MachineItem(rest("--sim-alarm="), 2, 0, "servo", &options->machine) ||
          !MachineItem(rest("--sim-alarm="), 2, 0, "alarm", &options->machine)) {
        return false;
      }
    } else if (starts("--sim-emergency=")) {
      if (!MachineItem(rest("--sim-emergency="), 1, 0, "emergency", &options->machine)) {
        return false;
      }
    } else if (starts("--sim-config=")) {
      options->machine += " " + rest("--sim-config=");
    } else if (starts("--sim-drive=")) {
      if (!ParseLong(rest("--sim-drive="), &options->drive_polls) || options->drive_polls < 0) {
        return false;
      }
    } else {
      options->given.pop_back();
      options->words.push_back(arg);
    }
  }
  const bool sim_settings = !options->inputs.empty() || !options->di.empty() ||
                            !options->errors.empty() || !options->positions.empty() ||
                            options->drive_polls >= 0 || !options->machine.empty();
  *bad = "--sim-* without --sim";
  const bool kept = !options->words.empty() && options->words[0] == "sim";  // implies --sim
  return options->sim || kept || !sim_settings;
}

// Splits the command's words; `value_flags` take the next word as value.
bool SplitArgs(const std::vector<std::string> &words, const std::vector<std::string> &flags,
               const std::vector<std::string> &value_flags, Args *args) {
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string &w = words[i];
    if (w.rfind("--", 0) != 0) {
      args->positional.push_back(w);
      continue;
    }
    const size_t eq = w.find('=');
    const std::string name = w.substr(0, eq);
    bool takes_value = false;
    for (const std::string &f : value_flags) takes_value |= f == name;
    bool known = takes_value;
    for (const std::string &f : flags) known |= f == name;
    if (!known) return false;
    if (!takes_value) {
      if (eq != std::string::npos) return false;
      args->flags[name] = "";
    } else if (eq != std::string::npos) {
      args->flags[name] = w.substr(eq + 1);
    } else if (i + 1 < words.size()) {
      args->flags[name] = words[++i];
    } else {
      return false;
    }
  }
  return true;
}

// ---- Reporting ----

// The name of a result code, with its value. Codes without a text leave the
// library's text buffer as it was, which is how they are told apart.
std::string ResultName(int32_t code) {
  const std::string success = RVX406A_GetErrorString(ERR_SUCCESS);
  const std::string text = RVX406A_GetErrorString(code);
  char out[96];
  if (code != ERR_SUCCESS && text == success) {
    snprintf(out, sizeof out, "%d (no name)", code);
  } else {
    snprintf(out, sizeof out, "%s (%d)", text.c_str(), code);
  }
  return out;
}

// True when the last call succeeded; otherwise says which call failed.
bool Succeeded(const char *call) {
  const int32_t code = RVX406A_GetErrorCode();
  if (code == ERR_SUCCESS) return true;
  fflush(stdout);  // keep the report in order when both go to one terminal
  fprintf(stderr, "rvxctl: %s: %s\n", call, ResultName(code).c_str());
  return false;
}

// Card status bits by name; bits 7 and 10 are always 0.
struct Flag {
  int bit;
  const char *name;
};
constexpr Flag kCardStatusFlags[] = {
    {0, "HOME"},     {1, "Z"},      {2, "EMG"},       {3, "INPOS"},      {4, "ALARM"},
    {5, "+LIMIT"},   {6, "-LIMIT"}, {8, "BUSY"},      {9, "ERROR"},      {11, "HOME_OK"},
    {12, "IP_BUSY"}, {13, "OUT2"},  {14, "SERVO_ON"}, {15, "ALARM_RST"},
};

std::string CardFlags(uint16_t status) {
  std::string names;
  for (const Flag &f : kCardStatusFlags) {
    if (status & (1u << f.bit)) names += (names.empty() ? "" : " ") + std::string(f.name);
  }
  return names.empty() ? "-" : names;
}

void PrintPositions(uint16_t board, uint16_t axis) {
  const int32_t command = RVX406A_GetCommandPos(board, axis);
  const int32_t actual = RVX406A_GetActualPos(board, axis);
  printf("board %u axis %u: command %d, actual %d\n", board, axis, command, actual);
}

// Reports the stop cause left by Wait or Multi_Wait; 0 for a clean stop.
int ReportStop(const char *what) {
  const int32_t cause = RVX406A_GetErrorCode();
  printf("%s ended: %s\n", what, ResultName(cause).c_str());
  return cause == ERR_SUCCESS ? 0 : 1;
}

std::string LogPath() {
  const rvx::os::LocalTime t = rvx::os::GetLocalTime();
  std::string dir = rvx::process().install_dir;
  const char sep = rvx::os::PathSeparator();
  if (!dir.empty() && dir.back() != sep) dir += sep;
  char name[64];
  snprintf(name, sizeof name, "Debug%clogfile_%04d%02d%02d.log", sep, t.year, t.month, t.day);
  return dir + name;
}

// ---- Commands ----

bool BoardArg(const Args &args, size_t i, uint16_t *board) {
  if (ParseU16(args[i], board)) return true;
  fprintf(stderr, "rvxctl: not a board number: %s\n", args[i].c_str());
  return false;
}

bool AxisArg(const Args &args, size_t i, uint16_t *axis) {
  if (ParseU16(args[i], axis)) return true;
  fprintf(stderr, "rvxctl: not an axis number: %s\n", args[i].c_str());
  return false;
}

int Load(const Args &) {
  const rvx::BoardTable &table = rvx::process().table;
  printf("boards: %u, axes: %u, DI: %u, DO: %u\n", table.count, table.total_axes, table.total_di,
         table.total_do);
  for (uint32_t n = 0; n < table.count; ++n) {
    const rvx::BoardRecord &r = table.board[n];
    std::string modules;
    for (int m = 0; m < 4; ++m) {
      if (r.module_present[m]) modules += (modules.empty() ? "" : ",") + std::to_string(m + 1);
    }
    printf("board %u: %u axes, %u DI, %u DO, modules %s\n", n, r.axis_count, r.di_count, r.do_count,
           modules.empty() ? "none" : modules.c_str());
  }
  printf("log: %s\n", LogPath().c_str());
  return 0;
}

int Info(const Args &args) {
  int status = 0;
  const rvx::BoardTable &table = rvx::process().table;
  for (uint16_t n = 0; n < table.count; ++n) {
    uint32_t type = 0, version = 0, axes = 0, di = 0, dout = 0;
    RVX406A_BoardInfo(n, &type, &version, &axes, &di, &dout);
    if (!Succeeded("BoardInfo")) {
      status = 1;
      continue;
    }
    const uint16_t id = RVX406A_GetBoardID(n);
    const uint16_t axis_num = RVX406A_GetAxisNum(n);
    if (!Succeeded("GetAxisNum")) status = 1;
    const uint16_t di_num = RVX406A_GetDiNum(n);
    const uint16_t do_num = RVX406A_GetDoNum(n);
    std::string modules;
    for (int m = 0; m < 4; ++m) {
      if (table.board[n].module_present[m]) {
        modules += (modules.empty() ? "" : ",") + std::to_string(m + 1);
      }
    }
    printf("board %u: type %u, version %u, ID 0x%02X, modules %s\n", n, type, version, id,
           modules.empty() ? "none" : modules.c_str());
    printf("  BoardInfo: %u axes, %u DI, %u DO\n", axes, di, dout);
    printf("  counts:    %u axes, %u DI, %u DO\n", axis_num, di_num, do_num);
  }
  if (args.Has("--dll")) {
    const std::string &path = args.flags.at("--dll");
    const uint32_t v = RVX406A_GetDllVersion(path.c_str());
    if (!Succeeded("GetDllVersion")) return 1;
    if (v == 0) {
      printf("%s: no version information\n", path.c_str());
    } else {
      printf("%s: version %u (%u.%u.%u.%u)\n", path.c_str(), v, v / 1000000, v / 10000 % 100,
             v / 100 % 100, v % 100);
    }
  }
  return status;
}

int StatusOfAxis(uint16_t board, uint16_t axis) {
  const uint16_t status = RVX406A_GetCardStatus(board, axis);
  if (!Succeeded("GetCardStatus")) return 1;
  const int32_t command = RVX406A_GetCommandPos(board, axis);
  const int32_t actual = RVX406A_GetActualPos(board, axis);
  const int32_t speed = RVX406A_GetCommandSpeed(board, axis);
  const int32_t error = RVX406A_GetMotionErrCod(board, axis);
  printf("%5u %4u  0x%04X %10d %10d %8d  %-24s %s\n", board, axis, status, command, actual, speed,
         ResultName(error).c_str(), CardFlags(status).c_str());
  return 0;
}

int Status(const Args &args) {
  uint16_t first = 0, board = 0, axis = 0;
  uint16_t last = static_cast<uint16_t>(rvx::process().table.count);
  if (args.size() >= 1) {
    if (!BoardArg(args, 0, &board)) return 2;
    first = board;
    last = static_cast<uint16_t>(board + 1);
  }
  if (args.size() == 2 && !AxisArg(args, 1, &axis)) return 2;
  printf(
      "board axis  status    command     actual    speed  motion error      "
      "       flags\n");
  int status = 0;
  for (uint16_t b = first; b < last; ++b) {
    if (args.size() == 2) {
      status |= StatusOfAxis(b, axis);
      continue;
    }
    const uint16_t axes = RVX406A_GetAxisNum(b);
    if (!Succeeded("GetAxisNum")) {
      status = 1;
      continue;
    }
    for (uint16_t a = 0; a < axes; ++a) status |= StatusOfAxis(b, a);
  }
  return status;
}

int PrintIo(uint16_t board) {
  const uint16_t di = RVX406A_GetDiNum(board);
  if (!Succeeded("GetDiNum")) return 1;
  const uint16_t dout = RVX406A_GetDoNum(board);
  printf("board %u: %u DI, %u DO\n", board, di, dout);
  for (uint16_t w = 0; w < di / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDIWord(board, w, &value);
    if (!Succeeded("GetDIWord")) return 1;
    printf("  DI word %u (channels %2u-%2u): 0x%04X\n", w, 16 * w, 16 * w + 15, value);
  }
  for (uint16_t w = 0; w < dout / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDOWord(board, w, &value);
    if (!Succeeded("GetDOWord")) return 1;
    printf("  DO word %u (channels %2u-%2u): 0x%04X\n", w, 16 * w, 16 * w + 15, value);
  }
  return 0;
}

int Io(const Args &args) {
  uint16_t board = 0;
  if (!BoardArg(args, 0, &board)) return 2;
  if (args.size() == 1) return PrintIo(board);
  uint16_t index = 0, value = 0;
  if (args.size() != 4 || !ParseU16(args[2], &index) || !ParseU16(args[3], &value)) {
    fprintf(stderr, "rvxctl: io BOARD set CHANNEL 0|1, or io BOARD out WORDINDEX VALUE\n");
    return 2;
  }
  if (args[1] == "set") {
    RVX406A_PutDOBit(board, index, value);
    if (!Succeeded("PutDOBit")) return 1;
    printf("DO channel %u = %u\n", index, RVX406A_GetDOBit(board, index));
  } else if (args[1] == "out") {
    RVX406A_PutDOWord(board, index, value);
    if (!Succeeded("PutDOWord")) return 1;
    uint16_t back = 0;
    RVX406A_GetDOWord(board, index, &back);
    printf("DO word %u = 0x%04X\n", index, back);
  } else {
    fprintf(stderr, "rvxctl: unknown io action '%s'\n", args[1].c_str());
    return 2;
  }
  return Succeeded("read back") ? 0 : 1;
}

bool AxisBusy(uint16_t board, uint16_t axis) {
  return (RVX406A_GetCardStatus(board, axis) & (1u << 8)) != 0 && RVX406A_GetErrorCode() == 0;
}

// Waits for the axes by polling their status, not in Wait: Wait holds the
// library for its whole length, so nothing else (a scope sampling beside the
// command, say) could look at the board meanwhile. Moves that take a while
// show how far the first axis has come when stderr is a terminal.
void AwaitAxes(uint16_t board, const std::vector<uint16_t> &axes, const std::vector<int32_t> &from,
               const std::vector<int32_t> &distances, bool absolute) {
  constexpr uint32_t kProgressAfterMs = 500;
  const bool terminal = rvx::os::StderrIsTerminal();
  const uint32_t start = rvx::os::TickCount();
  const int32_t target = absolute ? distances[0] : from[0] + distances[0];
  bool shown = false;
  for (size_t i = 0; i < axes.size(); ++i) {
    while (AxisBusy(board, axes[i])) {
      rvx::os::Sleep(1);
      if (!terminal || rvx::os::TickCount() - start < kProgressAfterMs) continue;
      const int32_t at = RVX406A_GetCommandPos(board, axes[0]);
      const double span = static_cast<double>(target) - from[0];
      const double done = span == 0 ? 100 : 100 * (static_cast<double>(at) - from[0]) / span;
      fprintf(stderr, "\rboard %u axis %u: %d of %d (%3.0f%%)   ", board, axes[0], at, target,
              done);
      shown = true;
    }
  }
  if (shown) fprintf(stderr, "\r%60s\r", "");
}

int Move(const Args &args) {
  uint16_t board = 0;
  std::vector<uint16_t> axes;
  std::vector<int32_t> distances;
  if (!BoardArg(args, 0, &board)) return 2;
  if (!ParseList(args[1], ParseU16, &axes) || !ParseList(args[2], ParseI32, &distances) ||
      axes.size() != distances.size()) {
    fprintf(stderr, "rvxctl: move needs as many distances as axes\n");
    return 2;
  }
  const bool absolute = args.Has("--abs");
  const uint16_t count = static_cast<uint16_t>(axes.size());
  const char *started = absolute ? "Abs_Move" : "Inc_Move";
  std::vector<int32_t> from;
  for (uint16_t axis : axes) from.push_back(RVX406A_GetCommandPos(board, axis));
  if (count == 1) {
    (absolute ? RVX406A_Abs_Move : RVX406A_Inc_Move)(board, axes[0], distances[0]);
  } else {
    started = absolute ? "Multi_Abs_Move" : "Multi_Inc_Move";
    (absolute ? RVX406A_Multi_Abs_Move : RVX406A_Multi_Inc_Move)(board, count, axes.data(),
                                                                 distances.data());
  }
  if (!Succeeded(started)) return 1;
  AwaitAxes(board, axes, from, distances, absolute);
  if (count == 1) {
    RVX406A_Wait(board, axes[0], 0);
  } else {
    RVX406A_Multi_Wait(board, count, axes.data(), 0);
  }
  const int status = ReportStop(started);
  for (uint16_t axis : axes) PrintPositions(board, axis);
  return status;
}

int Jog(const Args &args) {
  uint16_t board = 0, axis = 0;
  if (!BoardArg(args, 0, &board) || !AxisArg(args, 1, &axis)) return 2;
  if (args[2] != "+" && args[2] != "-") {
    fprintf(stderr, "rvxctl: jog direction is + or -\n");
    return 2;
  }
  RVX406A_Jog_Move(board, axis, args[2] == "+" ? 1 : 0);
  if (!Succeeded("Jog_Move")) return 1;
  if (RVX406A_Done(board, axis) == 1) {
    printf("board %u axis %u: jogging %s; end it with: rvxctl stop %u %u\n", board, axis,
           args[2].c_str(), board, axis);
    return 0;
  }
  return ReportStop("Jog_Move");
}

int Stop(const Args &args) {
  uint16_t board = 0, axis = 0;
  if (!BoardArg(args, 0, &board) || !AxisArg(args, 1, &axis)) return 2;
  const bool sudden = args.Has("--sudden");
  (sudden ? RVX406A_Sudden_Stop : RVX406A_Decel_Stop)(board, axis);
  if (!Succeeded(sudden ? "Sudden_Stop" : "Decel_Stop")) return 1;
  while (AxisBusy(board, axis)) rvx::os::Sleep(1);
  RVX406A_Wait(board, axis, 0);
  const int status = ReportStop(sudden ? "Sudden_Stop" : "Decel_Stop");
  PrintPositions(board, axis);
  return status;
}

int Home(const Args &args) {
  uint16_t board = 0, axis = 0;
  if (!BoardArg(args, 0, &board) || !AxisArg(args, 1, &axis)) return 2;
  RVX406A_Home_Move(board, axis);
  if (!Succeeded("Home_Move")) return 1;
  unsigned polls = 0;
  while (++polls, RVX406A_HomeIsBusy(board, axis) == 1) rvx::os::Sleep(1);
  if (!Succeeded("HomeIsBusy")) return 1;
  const uint16_t home_ok = RVX406A_GetHomeSuccess(board, axis);
  const int32_t cause = RVX406A_GetMotionErrCod(board, axis);
  printf("Home_Move ended: HOME_OK %u, %s; HomeIsBusy polls: %u\n", home_ok,
         ResultName(cause).c_str(), polls);
  PrintPositions(board, axis);
  return home_ok == 1 ? 0 : 1;
}

// ---- Interpolation ----

// The group of an interpolation command: its map number (--map, default 0)
// and axes, defined with SetIPMapAxes; --speed START,DRIVE,ACC,DEC sets the
// IP speed first.
struct GroupArgs {
  uint16_t board = 0, map = 0;
  std::vector<uint16_t> axes;
};

bool DefineGroup(const Args &args, size_t min_axes, size_t max_axes, GroupArgs *g) {
  if (!BoardArg(args, 0, &g->board)) return false;
  if (!ParseList(args[1], ParseU16, &g->axes) || g->axes.size() < min_axes ||
      g->axes.size() > max_axes) {
    fprintf(stderr, "rvxctl: %s group axes, e.g. 0,1\n",
            min_axes == max_axes ? "two" : "two or three");
    return false;
  }
  if (args.Has("--map") && !ParseU16(args.flags.at("--map"), &g->map)) {
    fprintf(stderr, "rvxctl: not a map number: %s\n", args.flags.at("--map").c_str());
    return false;
  }
  uint16_t mask = 0;
  for (uint16_t axis : g->axes) mask = static_cast<uint16_t>(mask | (axis < 16 ? 1u << axis : 0));
  RVX406A_SetIPMapAxes(g->board, g->map, mask);
  if (!Succeeded("SetIPMapAxes")) return false;
  if (args.Has("--speed")) {
    std::vector<int32_t> v;
    if (!ParseList(args.flags.at("--speed"), ParseI32, &v) || v.size() != 4) {
      fprintf(stderr, "rvxctl: --speed START,DRIVE,ACC,DEC\n");
      return false;
    }
    RVX406A_SetIPPosSpeed(g->board, g->map, static_cast<uint32_t>(v[0]),
                          static_cast<uint32_t>(v[1]), static_cast<uint32_t>(v[2]),
                          static_cast<uint32_t>(v[3]));
    if (!Succeeded("SetIPPosSpeed")) return false;
  }
  return true;
}

// Two numbers "X,Y".
bool ParsePair(const std::string &text, int32_t *x, int32_t *y) {
  std::vector<int32_t> v;
  if (!ParseList(text, ParseI32, &v) || v.size() != 2) return false;
  *x = v[0], *y = v[1];
  return true;
}

// Polls IPDone until the group's first axis stops; reports the cause and
// where the group axes ended.
int WaitGroup(const GroupArgs &g, const char *started) {
  if (!Succeeded(started)) return 1;
  while (RVX406A_IPDone(g.board, g.map) == 1) rvx::os::Sleep(1);
  const int status = ReportStop(started);
  for (uint16_t axis : g.axes) PrintPositions(g.board, axis);
  return status;
}

int Line(const Args &args) {
  GroupArgs g;
  std::vector<int32_t> values;
  if (!DefineGroup(args, 2, 3, &g)) return 2;
  if (!ParseList(args[2], ParseI32, &values) || values.size() != g.axes.size()) {
    fprintf(stderr, "rvxctl: line needs as many distances as axes\n");
    return 2;
  }
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(g.board, g.map, values.data());
  return WaitGroup(g, absolute ? "Abs_Line" : "Inc_Line");
}

int Arc(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, ex = 0, ey = 0;
  uint16_t direction = 0;
  if (!DefineGroup(args, 2, 2, &g)) return 2;
  if (!ParsePair(args[2], &cx, &cy) || !ParsePair(args[3], &ex, &ey) ||
      !ParseU16(args[4], &direction)) {
    fprintf(stderr, "rvxctl: arc BOARD A1,A2 CX,CY EX,EY 0|1\n");
    return 2;
  }
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Arc : RVX406A_Inc_Arc)(g.board, g.map, cx, cy, ex, ey, direction);
  return WaitGroup(g, absolute ? "Abs_Arc" : "Inc_Arc");
}

int Theta(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, angle = 0;
  if (!DefineGroup(args, 2, 2, &g)) return 2;
  if (!ParsePair(args[2], &cx, &cy) || !ParseI32(args[3], &angle)) {
    fprintf(stderr, "rvxctl: theta BOARD A1,A2 CX,CY ANGLE\n");
    return 2;
  }
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Theta : RVX406A_Inc_Theta)(g.board, g.map, cx, cy, angle);
  return WaitGroup(g, absolute ? "Abs_Theta" : "Inc_Theta");
}

// A segment file: one segment a line, "line X Y" or "arc X Y CX CY 0|1"
// (absolute end and centre; the arc's direction as Inc_Arc takes it).
// Blank lines and lines starting with '#' are skipped.
bool ReadSegments(const std::string &path, std::vector<RVX406A_CONTI_SEGMENT> *segments) {
  FILE *file = fopen(path.c_str(), "r");
  if (file == nullptr) {
    fprintf(stderr, "rvxctl: cannot read %s\n", path.c_str());
    return false;
  }
  char text[256];
  int number = 0;
  bool ok = true;
  while (ok && fgets(text, sizeof text, file) != nullptr) {
    ++number;
    char kind[8] = "";
    RVX406A_CONTI_SEGMENT s{};
    int direction = 0;
    const int n = sscanf(text, "%7s %d %d %d %d %d", kind, &s.end1, &s.end2, &s.center1, &s.center2,
                         &direction);
    if (n <= 0 || kind[0] == '#') continue;
    if (strcmp(kind, "line") == 0 && n == 3) {
      s.type = 0;
    } else if (strcmp(kind, "arc") == 0 && n == 6 && (direction == 0 || direction == 1)) {
      s.type = static_cast<uint16_t>(1 + direction);
    } else {
      fprintf(stderr, "rvxctl: %s:%d: expected 'line X Y' or 'arc X Y CX CY 0|1'\n", path.c_str(),
              number);
      ok = false;
    }
    segments->push_back(s);
  }
  fclose(file);
  return ok;
}

// Loads the table and prints it as the library keeps it; with --lead it
// starts a linear lead-in of the group and hands segment 0 over while it runs.
int Conti(const Args &args) {
  GroupArgs g;
  std::vector<RVX406A_CONTI_SEGMENT> segments;
  int32_t lead[2] = {0, 0};
  if (!DefineGroup(args, 2, 2, &g) || !ReadSegments(args[2], &segments)) return 2;
  if (args.Has("--lead") && !ParsePair(args.flags.at("--lead"), &lead[0], &lead[1])) {
    fprintf(stderr, "rvxctl: --lead D1,D2\n");
    return 2;
  }
  RVX406A_SetInitContiTable();
  if (!Succeeded("SetInitContiTable")) return 1;
  RVX406A_SetContiDataTable(g.board, static_cast<uint32_t>(segments.size()), segments.data());
  int status = Succeeded("SetContiDataTable") ? 0 : 1;
  const rvx::ContiEntry *table = rvx::process().conti_table;
  static const char *const kKinds[] = {"line", "arc 0x32", "arc 0x33"};
  for (size_t i = 0; status == 0 && i < segments.size(); ++i) {
    const rvx::ContiEntry &e = table[i];
    printf("segment %zu: %-8s end %+d,%+d", i, kKinds[e.type], e.end1, e.end2);
    if (e.type != 0) printf("  centre %+d,%+d", e.centre1, e.centre2);
    printf("\n");
  }
  if (status == 0 && args.Has("--lead")) {
    RVX406A_Inc_Line(g.board, g.map, lead);
    if (Succeeded("Inc_Line")) {
      RVX406A_Conti_Move(g.board, g.map);
      const uint16_t handed = RVX406A_GetCurContiNum();
      if (handed == 0) printf("segment 0 not handed over: the lead-in had ended\n");
      if (handed != 0) printf("segment 0 handed over (table of %u)\n", handed);
      status = WaitGroup(g, "Conti_Move");
    } else {
      status = 1;
    }
  }
  RVX406A_SetFreeContiTable();
  return status;
}

// Set by Ctrl-C / SIGINT: watch ends and the boards are unloaded as usual.
volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int) { interrupted = 1; }

// Notifications of the watcher thread, taken by the main thread.
std::atomic<unsigned> motion_wakes{0}, input_wakes{0};
void OnBoardEvent(uint32_t, uint32_t kind) { (kind == 0 ? motion_wakes : input_wakes)++; }

void Stamp() {
  const rvx::os::LocalTime t = rvx::os::GetLocalTime();
  printf("%02u:%02u:%02u.%03u ", t.hour, t.minute, t.second, t.millisecond);
}

// Watches every motion event of every axis and every input of the board
// until interrupted; each event is printed when it arrives.
int Watch(const Args &args) {
  uint16_t board = 0;
  if (!BoardArg(args, 0, &board)) return 2;
  const uint16_t axes = RVX406A_GetAxisNum(board);
  if (!Succeeded("GetAxisNum")) return 1;
  for (uint16_t a = 0; a < axes; ++a) RVX406A_SetMotEventMask(board, a, 7);
  RVX406A_SetDiEventMask(board, 0xFFFFFFFF, 0xFFFFFFFF);
  RVX406A_SetEventHandler(board, 1, reinterpret_cast<void *>(&OnBoardEvent), 0);
  if (!Succeeded("SetEventHandler")) return 1;
  RVX406A_SetEventEnable(board, 1);
  if (!Succeeded("SetEventEnable")) return 1;
  if (args.Has("--compare")) {
    // The table lives in this process, so its compare events are served here.
    std::vector<int32_t> c;
    if (!ParseList(args.flags.at("--compare"), ParseI32, &c) || c.size() != 4 || c[0] < 0 ||
        c[0] > 0xFFFF || c[3] < 0 || c[3] > 0xFFFF) {
      fprintf(stderr, "rvxctl: --compare AXIS,START,INTERVAL,COUNT\n");
      return 2;
    }
    RVX406A_SetInitCompTrg(board);
    if (!Succeeded("SetInitCompTrg")) return 1;
    RVX406A_SetCompTrgContTable(board, static_cast<uint16_t>(c[0]), static_cast<uint16_t>(c[3]),
                                c[1], c[2]);
    if (!Succeeded("SetCompTrgContTable")) return 1;
  }
  std::signal(SIGINT, OnInterrupt);
  printf(
      "watching board %u (motion events of %u axes, all inputs, compare); "
      "Ctrl-C ends\n",
      board, axes);
  fflush(stdout);
  unsigned motion_seen = 0, inputs_seen = 0;
  uint32_t compares_seen = rvx::event_tables().compare_events[board].load();
  while (!interrupted) {
    rvx::os::Sleep(5);
    if (motion_wakes != motion_seen) {
      motion_seen = motion_wakes;
      uint16_t status = 0;
      RVX406A_GetMotEventStatus(board, 0, &status);
      Stamp();
      printf("motion  status 0x%04X\n", status);
    }
    if (input_wakes != inputs_seen) {
      inputs_seen = input_wakes;
      uint32_t low = 0, high = 0;
      RVX406A_GetDiEventStatus(board, &low, &high);
      Stamp();
      printf("inputs  0-31 0x%08X  32-63 0x%08X\n", low, high);
    }
    const uint32_t compares = rvx::event_tables().compare_events[board].load();
    if (compares != compares_seen) {
      Stamp();
      printf("compare %u event(s), next window loaded\n", compares - compares_seen);
      compares_seen = compares;
    }
    fflush(stdout);
  }
  if (args.Has("--compare")) RVX406A_SetFreeCompTrg(board);
  RVX406A_SetEventEnable(board, 0);
  printf("stopped\n");
  return 0;
}

// The flags a command takes and how many positional words.
struct Command {
  const char *name;
  const char *synopsis;
  const char *summary;
  size_t min_args, max_args;
  std::vector<std::string> flags;        // switches
  std::vector<std::string> value_flags;  // flags followed by a value
  int (*run)(const Args &args);
};

const Command *FindCommand(const std::string &name);
bool CheckedArgs(const Command &command, const std::vector<std::string> &words, Args *args);

// A command run beside the scope, on its own thread of this process.
struct ScopedRun {
  const Command *command;
  Args args;
  int status = 1;
  std::atomic<bool> done{false};
};
uint32_t RunScoped(void *p);

bool WriteText(const std::string &path, const std::string &text) {
  FILE *file = fopen(path.c_str(), "wb");
  const bool ok = file != nullptr && fwrite(text.data(), 1, text.size(), file) == text.size();
  if (file != nullptr && fclose(file) != 0) return false;
  if (!ok) fprintf(stderr, "rvxctl: cannot write %s\n", path.c_str());
  return ok;
}

// scope BOARD AXES [--for S] [--every MS] [--csv FILE] [--svg FILE] COMMAND...:
// the scope's own flags stand before the command, whose words are its own.
int Scope(const Args &raw) {
  const std::vector<std::string> &words = raw.positional;
  rvxctl::ScopeRecord record;
  if (words.size() < 3) {
    fprintf(stderr,
            "usage: rvxctl scope BOARD AXES [--for S] [--every MS] [--csv FILE] "
            "[--svg FILE] COMMAND...\n");
    return 2;
  }
  if (!BoardArg(raw, 0, &record.board)) return 2;
  if (!ParseList(words[1], ParseU16, &record.axes)) {
    fprintf(stderr, "rvxctl: scope axes, e.g. 0 or 0,1\n");
    return 2;
  }
  double seconds = 60;
  long every = 10;
  std::string csv, svg;
  size_t i = 2;
  for (; i < words.size() && words[i].rfind("--", 0) == 0; ++i) {
    const size_t eq = words[i].find('=');
    const std::string name = words[i].substr(0, eq);
    std::string value;
    if (eq != std::string::npos) {
      value = words[i].substr(eq + 1);
    } else if (i + 1 < words.size()) {
      value = words[++i];
    }
    char *end = nullptr;
    if (name == "--for") {
      seconds = std::strtod(value.c_str(), &end);
      if (value.empty() || *end != '\0' || !(seconds > 0))
        return fprintf(stderr, "rvxctl: --for SECONDS\n"), 2;
    } else if (name == "--every") {
      if (!ParseLong(value, &every) || every < 1 || every > 60000)
        return fprintf(stderr, "rvxctl: --every MS\n"), 2;
    } else if (name == "--csv" && !value.empty()) {
      csv = value;
    } else if (name == "--svg" && !value.empty()) {
      svg = value;
    } else {
      fprintf(stderr,
              "rvxctl: scope takes --for, --every, --csv and --svg "
              "before the command\n");
      return 2;
    }
  }
  const std::vector<std::string> inner(words.begin() + static_cast<std::ptrdiff_t>(i), words.end());
  const Command *command = inner.empty() ? nullptr : FindCommand(inner[0]);
  if (command == nullptr || command->run == Scope) {
    fprintf(stderr, "rvxctl: scope needs a command to run, e.g. move 0 0 10000\n");
    return 2;
  }
  ScopedRun run;
  run.command = command;
  if (!CheckedArgs(*command, inner, &run.args)) return 2;
  for (const std::string &w : inner) record.title += (record.title.empty() ? "" : " ") + w;
  for (uint16_t axis : record.axes) {
    RVX406A_GetCommandPos(record.board, axis);
    if (!Succeeded("GetCommandPos")) return 1;
  }
  rvx::os::Handle thread = rvx::os::CreateThread(RunScoped, &run);
  if (thread == nullptr) {
    fprintf(stderr, "rvxctl: cannot start the command's thread\n");
    return 1;
  }
  const uint64_t start = rvx::os::MonotonicMicros();
  const uint64_t limit = static_cast<uint64_t>(seconds * 1e6);
  for (uint64_t next = 0;; next += static_cast<uint64_t>(every) * 1000) {
    const uint64_t now = rvx::os::MonotonicMicros() - start;
    if (now < next) rvx::os::Sleep(static_cast<uint32_t>((next - now + 999) / 1000));
    // Taken before the sample, so the last sample shows where the command
    // ended.
    const bool ended = run.done.load();
    record.seconds.push_back(static_cast<double>(rvx::os::MonotonicMicros() - start) * 1e-6);
    std::vector<rvxctl::ScopeRecord::Point> row;
    for (uint16_t axis : record.axes) {
      row.push_back({RVX406A_GetCommandPos(record.board, axis),
                     RVX406A_GetActualPos(record.board, axis),
                     RVX406A_GetCommandSpeed(record.board, axis)});
    }
    record.points.push_back(row);
    if (ended) break;
    if (rvx::os::MonotonicMicros() - start >= limit) {
      fflush(stdout);
      fprintf(stderr, "rvxctl: scope: %g s passed, waiting for the command to end\n", seconds);
      break;
    }
  }
  while (!rvx::os::WaitThread(thread, 1000)) {
  }
  rvx::os::CloseThread(thread);
  printf("scope: %zu samples over %.3f s\n", record.seconds.size(), record.seconds.back());
  bool written = true;
  if (!csv.empty()) written &= WriteText(csv, rvxctl::ScopeCsv(record));
  if (!svg.empty()) written &= WriteText(svg, rvxctl::ScopeSvg(record));
  return written ? run.status : 1;
}

const std::vector<Command> &Commands() {
  static const std::vector<Command> commands = {
      {"load", "load", "boards, axes and channels found (the default)", 0, 0, {}, {}, Load},
      {"info",
       "info [--dll PATH]",
       "board identity and counts; version of a library file",
       0,
       0,
       {},
       {"--dll"},
       Info},
      {"status",
       "status [BOARD [AXIS]]",
       "card status, positions, speed and motion error",
       0,
       2,
       {},
       {},
       Status},
      {"io",
       "io BOARD [set CHANNEL 0|1 | out WORDINDEX VALUE]",
       "read DI/DO, or set outputs",
       1,
       4,
       {},
       {},
       Io},
      {"move",
       "move BOARD AXIS[,AXIS...] DIST[,DIST...] [--abs]",
       "relative (or absolute) move of one or several axes, waits for the end",
       3,
       3,
       {"--abs"},
       {},
       Move},
      {"jog", "jog BOARD AXIS +|-", "continuous move until stop", 3, 3, {}, {}, Jog},
      {"stop",
       "stop BOARD AXIS [--sudden]",
       "decelerating (or sudden) stop, waits for the end",
       2,
       2,
       {"--sudden"},
       {},
       Stop},
      {"home",
       "home BOARD AXIS",
       "home search, waits for the end, reports HOME_OK",
       2,
       2,
       {},
       {},
       Home},
      {"line",
       "line BOARD A1,A2[,A3] D1,D2[,D3] [--abs] [--map N] [--speed "
       "S,V,ACC,DEC]",
       "linear interpolation of a group, waits for the end",
       3,
       3,
       {"--abs"},
       {"--map", "--speed"},
       Line},
      {"arc",
       "arc BOARD A1,A2 CX,CY EX,EY 0|1 [--abs] [--map N] [--speed "
       "S,V,ACC,DEC]",
       "circular interpolation to an end point, waits for the end",
       5,
       5,
       {"--abs"},
       {"--map", "--speed"},
       Arc},
      {"theta",
       "theta BOARD A1,A2 CX,CY ANGLE [--abs] [--map N] [--speed S,V,ACC,DEC]",
       "circular interpolation by a swept angle, waits for the end",
       4,
       4,
       {"--abs"},
       {"--map", "--speed"},
       Theta},
      {"conti",
       "conti BOARD A1,A2 FILE [--lead D1,D2] [--map N] [--speed S,V,ACC,DEC]",
       "load a segment table; hand segment 0 over during a lead-in line",
       3,
       3,
       {},
       {"--lead", "--map", "--speed"},
       Conti},
      {"watch",
       "watch BOARD [--compare AXIS,START,INTERVAL,COUNT]",
       "print motion, input and compare events as they arrive, until Ctrl-C; "
       "--compare arms a compare table",
       1,
       1,
       {},
       {"--compare"},
       Watch},
      {"scope",
       "scope BOARD AXES [--for SECONDS] [--every MS] [--csv FILE] [--svg "
       "FILE] COMMAND...",
       "run a command while sampling command and actual position and speed of "
       "the axes "
       "(default every 10 ms, at most 60 s); write them as CSV and as an SVG "
       "plot",
       0,
       SIZE_MAX,
       {},
       {},
       Scope},
  };
  return commands;
}

const Command *FindCommand(const std::string &name) {
  for (const Command &c : Commands()) {
    if (name == c.name) return &c;
  }
  return nullptr;
}

// The command's words split and counted; the scope takes its words as they
// stand.
bool CheckedArgs(const Command &command, const std::vector<std::string> &words, Args *args) {
  if (command.run == Scope) {
    args->positional.assign(words.begin() + 1, words.end());
    return true;
  }
  if (!SplitArgs(words, command.flags, command.value_flags, args) ||
      args->size() < command.min_args || args->size() > command.max_args) {
    fprintf(stderr, "usage: rvxctl %s\n", command.synopsis);
    return false;
  }
  return true;
}

uint32_t RunScoped(void *p) {
  auto *run = static_cast<ScopedRun *>(p);
  run->status = run->command->run(run->args);
  fflush(stdout);
  run->done.store(true);
  return 0;
}

void Usage(FILE *out) {
  fprintf(out, "usage: rvxctl [OPTIONS] COMMAND [ARGS...]\ncommands:\n");
  for (const Command &c : Commands()) fprintf(out, "  %s\n      %s\n", c.synopsis, c.summary);
  fprintf(out,
          "  sim start|status|stop\n"
          "      keep a simulated board (with the options given) in a "
          "background process\n"
          "      until stopped; rvxctl --sim then joins it as it stands\n");
  fprintf(out,
          "options:\n"
          "  --sim[=N]             use N simulated boards (default 1) instead of "
          "the driver\n"
          "  --modules=BITS        simulated identity bits 0..3 (extra expansion "
          "modules)\n"
          "  --type=CODE           simulated board type code (1 or 3)\n"
          "  --swap                simulated module byte swap\n"
          "  --sim-inputs=B:A:HEX  active-high inputs of axis A: 02 home, 04 Z, 10 "
          "+limit,\n"
          "                        20 -limit, 40 in-position, 80 alarm\n"
          "  --sim-di=B:M:HEX      DI register word of module M (a 0 bit is an "
          "active input)\n"
          "  --sim-errors=B:A:HEX  error register RR2 of axis A (the stop cause)\n"
          "  --sim-position=B:A:N  logical and real position of axis A\n"
          "  --sim-drive=POLLS     simulated drives end after POLLS status reads "
          "instead of\n"
          "                        running by their speed profile\n"
          "  --sim-limits=B:A:MINUS:PLUS  hardware limit switches of axis A at "
          "these positions\n"
          "  --sim-home=B:A:FROM:TO       home sensor on between these positions\n"
          "  --sim-near=B:A:FROM:TO       near-home sensor on between these "
          "positions\n"
          "  --sim-z=B:A:N         encoder Z every N pulses\n"
          "  --sim-alarm=B:A       a servo drive whose alarm output is on\n"
          "  --sim-emergency=B     the emergency input of board B is on\n"
          "  --sim-config=TEXT     simulator configuration as RVX_SIM takes it, "
          "e.g.\n"
          "                        \"clock=stepped;axis0.1.limits=-5000:5000\"\n"
          "exit status: 0 done, 1 refused by the library or stopped by a cause, 2 "
          "usage\n");
}

bool SameMachine(const rvx::sim::MachineModel &x, const rvx::sim::MachineModel &y) {
  auto same = [](const rvx::sim::SensorWindow &a, const rvx::sim::SensorWindow &b) {
    return a.fitted == b.fitted && a.from == b.from && a.to == b.to;
  };
  return x.limits == y.limits && x.limit_minus == y.limit_minus && x.limit_plus == y.limit_plus &&
         same(x.near_home, y.near_home) && same(x.home, y.home) && x.z_period == y.z_period &&
         x.servo == y.servo && x.alarm == y.alarm;
}

// A live board keeps its machine; what the command line changed is fitted to
// it.
void ApplyMachine(const rvx::sim::Config &before, const rvx::sim::Config &after) {
  for (uint32_t b = 0; b < after.board_count && b < 16; ++b) {
    if ((after.emergency & ~before.emergency) >> b & 1) rvx::sim::SetEmergency(b, true);
    for (uint32_t a = 0; a < 4; ++a) {
      if (SameMachine(before.board[b].machine[a], after.board[b].machine[a])) continue;
      std::string ignored;  // checked when parsed
      rvx::sim::SetMachine(b, a, after.board[b].machine[a], &ignored);
    }
  }
}

bool LibraryInUse() {
  const std::string name =
      rvx::os::GetEnv("RVX_IPC_NAMESPACE") + "5A1C7E20-93D4-4F6B-8E2A-7C0D41B9E635";
  bool existed = false;
  rvx::os::Handle mutex = rvx::os::CreateNamedMutex(name.c_str(), false, &existed);
  if (mutex != nullptr) rvx::os::CloseMutex(mutex);
  return existed;
}

void ApplySimSettings(const Options &options) {
  namespace sim = rvx::sim;
  for (const SimSetting &s : options.inputs) {
    sim::SetInputs(s.board, s.unit, static_cast<uint8_t>(s.value));
  }
  for (const SimSetting &s : options.di) {
    sim::SetDiBytes(s.board, s.unit, static_cast<uint8_t>(s.value),
                    static_cast<uint8_t>(s.value >> 8));
  }
  for (const SimSetting &s : options.errors) {
    sim::SetErrorStatus(s.board, s.unit, static_cast<uint16_t>(s.value));
  }
  for (const SimSetting &s : options.positions) sim::SetPosition(s.board, s.unit, s.value, s.value);
  if (options.drive_polls >= 0) {
    for (uint32_t b = 0; b < options.boards.board_count; ++b) {
      for (uint32_t a = 0; a < 4; ++a) {
        sim::SetDriveDuration(b, a, static_cast<uint32_t>(options.drive_polls));
      }
    }
  }
}

// sim start|status|stop: a simulated board kept by a background rvxctl
// ("sim keep") between runs.
int SimCommand(const Options &options, bool *keep) {
  const std::string action = options.words.size() == 2 ? options.words[1] : "";
  if (action == "keep") {
    *keep = true;
    return 0;
  }
  if (action == "start") {
    std::vector<std::string> args = {rvx::os::ExecutablePath(), "--sim"};
    args.insert(args.end(), options.given.begin(), options.given.end());
    args.push_back("sim");
    args.push_back("keep");
    return rvxctl::StartKeeper(args);
  }
  if (action == "status") {
    const uint32_t keeper = rvxctl::KeeperProcess();
    if (keeper == 0) {
      printf("no simulated board running\n");
      return 1;
    }
    const rvx::sim::Config config = rvx::sim::CurrentConfig();
    printf(
        "simulated board running (process %u): %u board(s), %s clock, time "
        "%.3f s\n",
        keeper, config.board_count,
        rvx::sim::CurrentClock() == rvx::sim::Clock::kReal ? "real" : "stepped",
        static_cast<double>(rvx::sim::Now()) * 1e-6);
    rvx::sim::RemoveNamedObjects();
    return 0;
  }
  if (action == "stop") {
    if (!rvxctl::StopKeeper()) {
      fprintf(stderr, "rvxctl: no simulated board running\n");
      return 1;
    }
    printf("simulated board stopped\n");
    return 0;
  }
  fprintf(stderr, "usage: rvxctl [OPTIONS] sim start|status|stop\n");
  return 2;
}

int SimKeep(const Args &) {
  rvxctl::ServeUntilStopped();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::string bad;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      Usage(stdout);
      return 0;
    }
  }
  // The boards RVX_SIM describes, then what the command line says about them.
  const std::string environment_error =
      rvx::sim::ParseConfig(rvx::os::GetEnv("RVX_SIM"), &options.boards);
  if (!ParseOptions(argc, argv, &options, &bad)) {
    fprintf(stderr, "rvxctl: bad option: %s (see rvxctl --help)\n", bad.c_str());
    return 2;
  }
  if (options.sim && !environment_error.empty()) {
    fprintf(stderr, "rvxctl: RVX_SIM: %s\n", environment_error.c_str());
    return 2;
  }
  const rvx::sim::Config unmodelled = options.boards;
  const std::string machine_error = rvx::sim::ParseConfig(options.machine, &options.boards);
  if (!machine_error.empty()) {
    fprintf(stderr, "rvxctl: %s\n", machine_error.c_str());
    return 2;
  }
  if (options.words.empty()) options.words.push_back("load");
  bool keep = false;
  const Command keeper = {"sim keep", "", "", 0, 0, {}, {}, SimKeep};
  const Command *command = nullptr;
  if (options.words[0] == "sim") {
    const int status = SimCommand(options, &keep);
    if (!keep) return status;
    options.sim = true;
    options.words.pop_back();
    command = &keeper;
  }
  if (command == nullptr) command = FindCommand(options.words[0]);
  if (command == nullptr) {
    fprintf(stderr, "rvxctl: unknown command '%s' (see rvxctl --help)\n", options.words[0].c_str());
    return 2;
  }
  Args args;
  if (!CheckedArgs(*command, options.words, &args)) return 2;

  bool joined = false;
  if (options.sim) {
    rvx::os::SetEnv("RVX_DRIVER", "sim");
    // Simulated boards that another process has loaded are joined as they
    // stand, as a second program joins a real board.
    options.boards.polled_drives = options.drive_polls >= 0;
    joined = LibraryInUse();
    if (!joined) rvx::sim::Reset(options.boards);
  }
  int status = 1;
  const int32_t highest = RVX406A_LoadDevice();
  if (highest < 0) {
    fprintf(stderr, "rvxctl: LoadDevice: %s\n", ResultName(highest).c_str());
    if (keep) rvxctl::KeeperFailed();
  } else {
    if (joined) ApplyMachine(unmodelled, options.boards);
    if (options.sim) ApplySimSettings(options);
    status = command->run(args);
  }
  RVX406A_UnloadDevice();
  if (options.sim) rvx::sim::RemoveNamedObjects();
  if (keep && highest >= 0) rvxctl::KeeperStopped();
  return status;
}
