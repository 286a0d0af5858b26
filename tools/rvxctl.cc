// rvxctl: command-line access to the boards, on real hardware or the
// simulated board. Every command loads the boards, does its work through the
// exported functions an application would call, and unloads again.
//
//   rvxctl [OPTIONS] COMMAND [ARGS...]   (rvxctl --help lists both)

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "core/process.h"
#include "include/rvx406a.h"
#include "interp/events.h"
#include "interp/interp.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tools/result_texts.h"
#include "tools/scope_plot.h"
#include "tools/sim_keeper.h"

namespace {

// ---- Command line ----

// A simulated input, register or status value: BOARD:UNIT:VALUE.
struct SimSetting {
  uint32_t board, unit;
  int32_t value;
};

// A board and the axis or module of it that a simulator option names.
struct SimTarget {
  enum Kind { kBoard, kAxis, kModule } kind;
  std::string option;
  uint32_t board, unit;
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
  std::vector<SimTarget> targets;     // what the simulator options name
  bool sim_count_given = false;       // --sim=N
  bool board_layout_given = false;    // --modules, --type, --swap
  bool machine_given = false;         // a machine option
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

// A whole integer: an optional sign, then decimal digits or 0x and hex
// digits. Nothing else may follow; "010" is ten, as a person means it.
bool ParseInteger(const std::string &text, long long *value) {
  size_t i = text.empty() || (text[0] != '-' && text[0] != '+') ? 0 : 1;
  const bool negative = i == 1 && text[0] == '-';
  int base = 10;
  if (text.compare(i, 2, "0x") == 0 || text.compare(i, 2, "0X") == 0) base = 16, i += 2;
  const char *digits = base == 16 ? "0123456789abcdefABCDEF" : "0123456789";
  if (i == text.size() || text.find_first_not_of(digits, i) != std::string::npos) return false;
  // Too long to hold is a number still, just out of every range.
  const size_t most = base == 16 ? 15 : 18;
  const long long magnitude =
      text.size() - i > most ? LLONG_MAX : std::stoll(text.substr(i), nullptr, base);
  *value = negative ? -magnitude : magnitude;
  return true;
}

bool ParseLong(const std::string &text, long *value) {
  long long v = 0;
  if (!ParseInteger(text, &v) || v < LONG_MIN || v > LONG_MAX) return false;
  *value = static_cast<long>(v);
  return true;
}

bool ParseI32(const std::string &text, int32_t *value) {
  long long v = 0;
  if (!ParseInteger(text, &v) || v < INT32_MIN || v > INT32_MAX) return false;
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

// Register values are hexadecimal (up to `most`, 0 for a decimal position).
bool ParseSimSetting(const std::string &text, long most, SimSetting *s) {
  const bool hex = most != 0;
  const size_t a = text.find(':');
  const size_t b = a == std::string::npos ? a : text.find(':', a + 1);
  long board = 0, unit = 0, value = 0;
  int32_t position = 0;
  if (b == std::string::npos || !ParseLong(text.substr(0, a), &board) ||
      !ParseLong(text.substr(a + 1, b - a - 1), &unit) || board < 0 || unit < 0 ||
      board > UINT16_MAX || unit > UINT16_MAX) {
    return false;
  }
  const std::string last = text.substr(b + 1);
  if (hex ? !ParseHex(last, &value) || value > most : !ParseI32(last, &position)) return false;
  *s = SimSetting{static_cast<uint32_t>(board), static_cast<uint32_t>(unit),
                  hex ? static_cast<int32_t>(value) : position};
  return true;
}

// "a,b,c" into its parts (one empty part for an empty text).
std::vector<std::string> Split(const std::string &text, char separator) {
  std::vector<std::string> parts;
  for (size_t from = 0;;) {
    const size_t at = text.find(separator, from);
    parts.push_back(text.substr(from, at - from));
    if (at == std::string::npos) return parts;
    from = at + 1;
  }
}

// "B:A:FROM:TO" and the like as the configuration item "axisB.A.KEY=FROM:TO":
// `units` words name the board (and axis), the rest is the value. The
// simulator's parser checks the values, so its messages are the ones shown.
bool MachineItem(const std::string &text, size_t units, size_t values, const char *key,
                 std::string *item, SimTarget *target) {
  const std::vector<std::string> parts = Split(text, ':');
  if (parts.size() != units + values) return false;
  for (const std::string &p : parts) {
    if (p.empty()) return false;
  }
  long board = 0, axis = 0;
  if (!ParseLong(parts[0], &board) || board < 0 || board > UINT16_MAX ||
      (units == 2 && (!ParseLong(parts[1], &axis) || axis < 0 || axis > UINT16_MAX))) {
    return false;
  }
  *target = {units == 1 ? SimTarget::kBoard : SimTarget::kAxis, target->option,
             static_cast<uint32_t>(board), static_cast<uint32_t>(axis)};
  std::string value;
  for (size_t i = units; i < parts.size(); ++i) value += (i > units ? ":" : "") + parts[i];
  *item += units == 1 ? " board" + std::to_string(board) + "." + key
                      : " axis" + std::to_string(board) + "." + std::to_string(axis) + "." + key;
  *item += "=" + (value.empty() ? std::string("1") : value);
  return true;
}

// Global options are taken wherever they stand; other words belong to the
// command. False on a malformed option, with what is wrong with it in `bad`.
bool ParseOptions(int argc, char **argv, Options *options, std::string *bad) {
  // The machine options: configuration key, words naming the board (and
  // axis), value words, and their form for a refusal.
  struct MachineOption {
    const char *prefix, *key;
    size_t units, values;
    const char *form;
  };
  static const MachineOption kMachine[] = {
      {"--sim-limits=", "limits", 2, 2, "B:A:MINUS:PLUS"},
      {"--sim-home=", "home", 2, 2, "B:A:FROM:TO"},
      {"--sim-near=", "near", 2, 2, "B:A:FROM:TO"},
      {"--sim-z=", "z", 2, 1, "B:A:PERIOD"},
      {"--sim-emergency=", "emergency", 1, 0, "B"},
  };
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    options->given.push_back(arg);
    auto starts = [&](const char *prefix) { return arg.rfind(prefix, 0) == 0; };
    auto rest = [&](const char *prefix) { return arg.substr(strlen(prefix)); };
    auto refuse = [&](const std::string &why) {
      *bad = arg + ": " + why;
      return false;
    };
    long v = 0;
    SimSetting s{};
    SimTarget target{SimTarget::kAxis, arg, 0, 0};
    const MachineOption *machine = nullptr;
    for (const MachineOption &m : kMachine) machine = starts(m.prefix) ? &m : machine;
    // Register values are hexadecimal, positions decimal.
    struct Setting {
      const char *prefix;
      std::vector<SimSetting> *list;
      long most;  // the largest value; 0: a position
      const char *form;
    };
    const Setting settings[] = {
        {"--sim-inputs=", &options->inputs, 0xFF, "give B:A:HEX, input bits up to FF"},
        {"--sim-di=", &options->di, 0xFFFF, "give B:M:HEX, a DI word up to FFFF"},
        {"--sim-errors=", &options->errors, 0xFFFF, "give B:A:HEX, a register word up to FFFF"},
        {"--sim-position=", &options->positions, 0, "give B:A:N, a whole number of pulses"},
    };
    const Setting *setting = nullptr;
    for (const Setting &candidate : settings) {
      if (starts(candidate.prefix)) setting = &candidate;
    }
    if (arg == "--sim") {
      options->sim = true;
    } else if (starts("--sim=")) {
      if (!ParseLong(rest("--sim="), &v) || v < 1 || v > 16) {
        return refuse("give the number of simulated boards, 1..16");
      }
      options->sim = true;
      options->boards.board_count = static_cast<uint32_t>(v);
      options->sim_count_given = true;
    } else if (starts("--modules=")) {
      if (!ParseLong(rest("--modules="), &v) || v < 0 || v > 15) {
        return refuse("give the module identity bits, 0..15");
      }
      for (auto &b : options->boards.board) b.module_bits = static_cast<uint8_t>(v);
      options->board_layout_given = true;
    } else if (starts("--type=")) {
      if (!ParseLong(rest("--type="), &v) || v < 0 || v > 7) {
        return refuse("give the board type code, 0..7 (1 or 3 are supported)");
      }
      for (auto &b : options->boards.board) b.type_code = static_cast<uint8_t>(v);
      options->board_layout_given = true;
    } else if (arg == "--swap") {
      for (auto &b : options->boards.board) b.byte_swap = true;
      options->board_layout_given = true;
    } else if (setting != nullptr) {
      if (!ParseSimSetting(rest(setting->prefix), setting->most, &s)) return refuse(setting->form);
      setting->list->push_back(s);
      target = {setting->list == &options->di ? SimTarget::kModule : SimTarget::kAxis, arg, s.board,
                s.unit};
      options->targets.push_back(target);
    } else if (machine != nullptr) {
      if (!MachineItem(rest(machine->prefix), machine->units, machine->values, machine->key,
                       &options->machine, &target)) {
        return refuse(std::string("give ") + machine->form);
      }
      options->targets.push_back(target);
      options->machine_given = true;
    } else if (starts("--sim-alarm=")) {
      // The alarm output shows only where a servo drive is wired.
      if (!MachineItem(rest("--sim-alarm="), 2, 0, "servo", &options->machine, &target) ||
          !MachineItem(rest("--sim-alarm="), 2, 0, "alarm", &options->machine, &target)) {
        return refuse("give B:A");
      }
      options->targets.push_back(target);
      options->machine_given = true;
    } else if (starts("--sim-config=")) {
      options->machine += " " + rest("--sim-config=");
      options->machine_given = true;
    } else if (starts("--sim-drive=")) {
      if (!ParseLong(rest("--sim-drive="), &options->drive_polls) || options->drive_polls < 0) {
        return refuse("give the number of status reads a drive lasts, 0 or more");
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

// The boards, axes and modules the simulator options name must exist: on
// the boards this run found, or before a load among the first `boards`.
bool CheckSimTargets(const Options &options, uint32_t boards, const rvx::BoardTable *found) {
  if (found != nullptr) boards = found->count;
  for (const SimTarget &t : options.targets) {
    char why[160] = "";
    if (t.board >= boards) {
      snprintf(why, sizeof why, "board %u does not exist: %s 0..%u", t.board,
               found != nullptr ? "the simulated boards are" : "boards are", boards - 1);
    } else if (t.kind == SimTarget::kAxis) {
      const uint32_t axes = found != nullptr ? found->board[t.board].axis_count : 4;
      if (t.unit >= axes) {
        snprintf(why, sizeof why, "axis %u does not exist: the axes of board %u are 0..%u", t.unit,
                 t.board, axes - 1);
      }
    } else if (t.kind == SimTarget::kModule) {
      if (t.unit < 1 || t.unit > 4) {
        snprintf(why, sizeof why, "module %u does not exist: modules are 1..4", t.unit);
      } else if (found != nullptr && !found->board[t.board].module_present[t.unit - 1]) {
        snprintf(why, sizeof why, "module %u is not fitted on board %u (--modules=BITS fits more)",
                 t.unit, t.board);
      }
    }
    if (why[0] != '\0') {
      fprintf(stderr, "rvxctl: %s: %s\n", t.option.c_str(), why);
      return false;
    }
  }
  return true;
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

// The name of a result code with what it means to the user.
std::string Explained(int32_t code) {
  const char *text = rvxctl::PlainText(code);
  return ResultName(code) + (text != nullptr ? std::string(": ") + text : "");
}

// True when the last call succeeded; otherwise says which call failed.
bool Succeeded(const char *call) {
  const int32_t code = RVX406A_GetErrorCode();
  if (code == ERR_SUCCESS) return true;
  fflush(stdout);  // keep the report in order when both go to one terminal
  fprintf(stderr, "rvxctl: %s: %s\n", call, Explained(code).c_str());
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
  printf("%s ended: %s\n", what, Explained(cause).c_str());
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

// Arguments are checked in full, against what LoadDevice found, before any
// call that changes the board; a refusal names the argument and what it may
// be, and the command exits with 2.
bool Refuse(const char *name, const std::string &text, const char *why) {
  fflush(stdout);
  fprintf(stderr, "rvxctl: %s: %s%s%s\n", name, text.empty() ? "" : "'",
          text.empty() ? "missing" : text.c_str(), why);
  return false;
}

template <class T>
bool Number(const std::string &text, const char *name, long long lo, long long hi, T *out,
            const std::string &what = "") {
  long long v = 0;
  if (!ParseInteger(text, &v)) {
    return Refuse(name, text, text.empty() ? "" : "' is not a whole number");
  }
  if (v < lo || v > hi) {
    char why[160];
    snprintf(why, sizeof why, "' is out of range: %lld..%lld%s%s", lo, hi, what.empty() ? "" : ", ",
             what.c_str());
    return Refuse(name, text, why);
  }
  *out = static_cast<T>(v);
  return true;
}

// A choice of words, each standing for a value: on/off, +/-.
bool Word(const std::string &text, const char *name,
          const std::vector<std::pair<const char *, uint16_t>> &words, uint16_t *out) {
  std::string names;
  for (const auto &[word, value] : words) {
    if (text == word) return *out = value, true;
    names += (names.empty() ? "" : " or ") + std::string(word);
  }
  return Refuse(name, text, ("' is not " + names).c_str());
}

const rvx::BoardRecord &Record(uint16_t board) { return rvx::process().table.board[board]; }

bool BoardArg(const std::string &text, uint16_t *board) {
  const uint32_t count = rvx::process().table.count;
  return Number(text, "BOARD", 0, count - 1, board,
                std::to_string(count) + (count == 1 ? " board was found" : " boards were found"));
}

bool BoardArg(const Args &args, size_t i, uint16_t *board) { return BoardArg(args[i], board); }

bool AxisArg(uint16_t board, const std::string &text, uint16_t *axis) {
  return Number(text, "AXIS", 0, Record(board).axis_count - 1, axis,
                "the axes of board " + std::to_string(board));
}

bool BoardAndAxis(const Args &args, uint16_t *board, uint16_t *axis) {
  return BoardArg(args, 0, board) && AxisArg(board[0], args[1], axis);
}

// "0,2,3": each a valid axis of the board, none twice, `min`..`max` of them.
bool AxesArg(uint16_t board, const std::string &text, const char *name, size_t min, size_t max,
             std::vector<uint16_t> *axes) {
  for (const std::string &part : Split(text, ',')) {
    uint16_t axis = 0;
    if (!Number(part, name, 0, Record(board).axis_count - 1, &axis,
                "the axes of board " + std::to_string(board))) {
      return false;
    }
    if (std::find(axes->begin(), axes->end(), axis) != axes->end()) {
      return Refuse(name, text, ("': axis " + std::to_string(axis) + " is listed twice").c_str());
    }
    axes->push_back(axis);
  }
  if (axes->size() < min || axes->size() > max) {
    const std::string want = std::to_string(min) + (min == max ? "" : " to " + std::to_string(max));
    return Refuse(name, text,
                  ("' lists " + std::to_string(axes->size()) + " axes; give " + want).c_str());
  }
  return true;
}

// Exactly `count` comma-separated numbers, one for each of `count` axes.
bool ValuesArg(const std::string &text, const char *name, size_t count,
               std::vector<int32_t> *values) {
  for (const std::string &part : Split(text, ',')) {
    int32_t v = 0;
    if (!Number(part, name, INT32_MIN, INT32_MAX, &v)) return false;
    values->push_back(v);
  }
  if (values->size() == count) return true;
  char why[96];
  snprintf(why, sizeof why, "' gives %zu value%s for %zu ax%s: give as many as axes",
           values->size(), values->size() == 1 ? "" : "s", count, count == 1 ? "is" : "es");
  return Refuse(name, text, why);
}

// Speeds (PPS) and times (ms) as "START,DRIVE,ACC,DEC": as many as `form`
// names, none negative. Their upper limits are the library's to judge.
bool SpeedsArg(const std::string &text, const char *name, const char *form,
               std::vector<uint32_t> *values) {
  const size_t count = static_cast<size_t>(std::count(form, form + strlen(form), ',')) + 1;
  const std::vector<std::string> parts = Split(text, ',');
  if (parts.size() != count) return Refuse(name, text, ("': give " + std::string(form)).c_str());
  for (const std::string &part : parts) {
    uint32_t v = 0;
    if (!Number(part, name, 0, UINT32_MAX, &v)) return false;
    values->push_back(v);
  }
  return true;
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
  if (args.size() == 2 && !AxisArg(board, args[1], &axis)) return 2;
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
  const uint16_t outputs = Record(board).do_count;
  const std::string on_board = "the outputs of board " + std::to_string(board);
  if (args.size() != 4 || (args[1] != "set" && args[1] != "out")) {
    fprintf(stderr, "rvxctl: io BOARD set CHANNEL 0|1, or io BOARD out WORDINDEX VALUE\n");
    return 2;
  }
  if (outputs == 0) {
    fprintf(stderr, "rvxctl: board %u has no outputs (no expansion module)\n", board);
    return 2;
  }
  if (args[1] == "set" ? !Number(args[2], "CHANNEL", 0, outputs - 1, &index, on_board) ||
                             !Number(args[3], "VALUE", 0, 1, &value)
                       : !Number(args[2], "WORDINDEX", 0, outputs / 16 - 1, &index,
                                 "the output words of board " + std::to_string(board)) ||
                             !Number(args[3], "VALUE", 0, 0xFFFF, &value)) {
    return 2;
  }
  if (args[1] == "set") {
    RVX406A_PutDOBit(board, index, value);
    if (!Succeeded("PutDOBit")) return 1;
    printf("DO channel %u = %u\n", index, RVX406A_GetDOBit(board, index));
  } else {
    RVX406A_PutDOWord(board, index, value);
    if (!Succeeded("PutDOWord")) return 1;
    uint16_t back = 0;
    RVX406A_GetDOWord(board, index, &back);
    printf("DO word %u = 0x%04X\n", index, back);
  }
  return Succeeded("read back") ? 0 : 1;
}

// The first termination signal that arrived (Ctrl-C; a closed terminal or
// dropped session, SIGHUP; SIGTERM), or 0: watch ends, a move, home search or
// path is stopped, and the boards are unloaded as usual.
volatile std::sig_atomic_t interrupted = 0;
void OnInterrupt(int signal) {
  if (interrupted == 0) interrupted = signal;
  std::signal(signal, OnInterrupt);  // the Windows runtime resets it to the default
}

// While a command drives axes, a termination signal stops them instead of
// leaving them running with nobody watching. The handlers stay for the rest
// of the run, so that a second signal cannot cut the stop, the report or the
// unload short.
struct CatchInterrupt {
  CatchInterrupt() {
    interrupted = 0;
    for (int signal : rvx::os::TerminationSignals()) std::signal(signal, OnInterrupt);
  }
};

// Exit status of a command stopped by a signal, as a shell reports it (130
// for Ctrl-C).
int InterruptedStatus() { return 128 + interrupted; }

std::string AxisList(const std::vector<uint16_t> &axes) {
  std::string list;
  for (uint16_t a : axes) list += (list.empty() ? "" : ",") + std::to_string(a);
  return list;
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
  for (size_t i = 0; i < axes.size() && !interrupted; ++i) {
    while (!interrupted && AxisBusy(board, axes[i])) {
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

// After a termination signal: a decelerating stop for the axes this command started, then
// waits until they stand.
int StopInterrupted(uint16_t board, const std::vector<uint16_t> &axes) {
  const uint16_t count = static_cast<uint16_t>(axes.size());
  if (count == 1) {
    RVX406A_Decel_Stop(board, axes[0]);
  } else {
    RVX406A_Multi_Decel_Stop(board, count, axes.data());
  }
  Succeeded(count == 1 ? "Decel_Stop" : "Multi_Decel_Stop");
  for (uint16_t axis : axes) {
    while (AxisBusy(board, axis)) rvx::os::Sleep(1);
  }
  printf("interrupted: board %u ax%s %s stopped by a decelerating stop\n", board,
         count == 1 ? "is" : "es", AxisList(axes).c_str());
  for (uint16_t axis : axes) PrintPositions(board, axis);
  return InterruptedStatus();
}

// A drive that ended with no cause but short of its target was ended by a
// stop command (from this or another program): not a clean end.
int ShortOfTarget(uint16_t board, const std::vector<uint16_t> &axes,
                  const std::vector<int32_t> &targets) {
  int status = 0;
  for (size_t i = 0; i < targets.size(); ++i) {
    const int32_t at = RVX406A_GetCommandPos(board, axes[i]);
    if (at == targets[i]) continue;
    printf("board %u axis %u stopped at %d, short of its target %d: a stop command ended it\n",
           board, axes[i], at, targets[i]);
    status = 1;
  }
  return status;
}

std::vector<int32_t> Targets(uint16_t board, const std::vector<uint16_t> &axes,
                             const std::vector<int32_t> &values, bool absolute) {
  std::vector<int32_t> targets = values;
  for (size_t i = 0; i < axes.size() && !absolute; ++i) {
    targets[i] = static_cast<int32_t>(static_cast<uint32_t>(values[i]) +
                                      static_cast<uint32_t>(RVX406A_GetCommandPos(board, axes[i])));
  }
  return targets;
}

int Move(const Args &args) {
  uint16_t board = 0;
  std::vector<uint16_t> axes;
  std::vector<int32_t> distances;
  if (!BoardArg(args, 0, &board) || !AxesArg(board, args[1], "AXES", 1, 4, &axes) ||
      !ValuesArg(args[2], "DISTANCES", axes.size(), &distances)) {
    return 2;
  }
  const bool absolute = args.Has("--abs");
  const uint16_t count = static_cast<uint16_t>(axes.size());
  const char *started = absolute ? "Abs_Move" : "Inc_Move";
  CatchInterrupt ctrl_c;
  std::vector<int32_t> from;
  for (uint16_t axis : axes) from.push_back(RVX406A_GetCommandPos(board, axis));
  const std::vector<int32_t> targets = Targets(board, axes, distances, absolute);
  if (count == 1) {
    (absolute ? RVX406A_Abs_Move : RVX406A_Inc_Move)(board, axes[0], distances[0]);
  } else {
    started = absolute ? "Multi_Abs_Move" : "Multi_Inc_Move";
    (absolute ? RVX406A_Multi_Abs_Move : RVX406A_Multi_Inc_Move)(board, count, axes.data(),
                                                                 distances.data());
  }
  if (!Succeeded(started)) return 1;
  AwaitAxes(board, axes, from, distances, absolute);
  if (interrupted) return StopInterrupted(board, axes);
  if (count == 1) {
    RVX406A_Wait(board, axes[0], 0);
  } else {
    RVX406A_Multi_Wait(board, count, axes.data(), 0);
  }
  int status = ReportStop(started);
  if (status == 0) status = ShortOfTarget(board, axes, targets);
  for (uint16_t axis : axes) PrintPositions(board, axis);
  return status;
}

int Jog(const Args &args) {
  uint16_t board = 0, axis = 0, direction = 0;
  if (!BoardAndAxis(args, &board, &axis) ||
      !Word(args[2], "DIRECTION", {{"+", 1}, {"-", 0}}, &direction)) {
    return 2;
  }
  RVX406A_Jog_Move(board, axis, direction);
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
  if (!BoardAndAxis(args, &board, &axis)) return 2;
  const bool sudden = args.Has("--sudden");
  (sudden ? RVX406A_Sudden_Stop : RVX406A_Decel_Stop)(board, axis);
  if (!Succeeded(sudden ? "Sudden_Stop" : "Decel_Stop")) return 1;
  while (AxisBusy(board, axis)) rvx::os::Sleep(1);
  RVX406A_Wait(board, axis, 0);
  const int status = ReportStop(sudden ? "Sudden_Stop" : "Decel_Stop");
  PrintPositions(board, axis);
  return status;
}

// HOME_OK counts a search that a limit ended as finished, so the tool asks
// for more before it calls the axis homed: no stop cause either.
int Home(const Args &args) {
  uint16_t board = 0, axis = 0;
  uint32_t timeout_s = 60;
  if (!BoardAndAxis(args, &board, &axis) ||
      (args.Has("--timeout") &&
       !Number(args.flags.at("--timeout"), "--timeout", 1, 86400, &timeout_s))) {
    return 2;
  }
  CatchInterrupt ctrl_c;
  RVX406A_Home_Move(board, axis);
  if (!Succeeded("Home_Move")) return 1;
  unsigned polls = 0;
  const uint32_t start = rvx::os::TickCount();
  bool timed_out = false;
  while (++polls, !interrupted && RVX406A_HomeIsBusy(board, axis) == 1) {
    timed_out = rvx::os::TickCount() - start >= timeout_s * 1000u;
    if (timed_out) break;
    rvx::os::Sleep(1);
  }
  if (interrupted) return StopInterrupted(board, {axis});
  if (timed_out) {
    RVX406A_Decel_Stop(board, axis);
    Succeeded("Decel_Stop");
    while (AxisBusy(board, axis)) rvx::os::Sleep(1);
    printf(
        "Home_Move gave up after %u s: no home sensor was found; the axis got a decelerating "
        "stop\n",
        timeout_s);
    PrintPositions(board, axis);
    printf(
        "check the home mode and direction (rvxctl speed shows the search speeds) and the "
        "sensors' wiring; on the simulated board, where the machine's sensors are (rvxctl "
        "--help); --timeout SECONDS waits longer\n");
    return 1;
  }
  if (!Succeeded("HomeIsBusy")) return 1;
  const uint16_t home_ok = RVX406A_GetHomeSuccess(board, axis);
  const int32_t cause = RVX406A_GetMotionErrCod(board, axis);
  printf("Home_Move ended: HOME_OK %u, %s; HomeIsBusy polls: %u\n", home_ok,
         Explained(cause).c_str(), polls);
  PrintPositions(board, axis);
  if (home_ok == 1 && cause == ERR_SUCCESS) return 0;
  printf("board %u axis %u is not homed: %s\n", board, axis,
         home_ok == 1 ? "the search ended on a stop cause before it found home"
                      : "the search was not judged successful");
  return 1;
}

// ---- Commissioning ----

int Servo(const Args &args) {
  uint16_t board = 0, axis = 0, on = 0;
  if (!BoardAndAxis(args, &board, &axis)) return 2;
  if (args.size() == 3) {
    if (!Word(args[2], "ON|OFF", {{"on", 1}, {"off", 0}}, &on)) return 2;
    RVX406A_PutSvOn(board, axis, on);
    if (!Succeeded("PutSvOn")) return 1;
  }
  on = RVX406A_GetSvOn(board, axis);
  if (!Succeeded("GetSvOn")) return 1;
  printf("board %u axis %u: servo %s\n", board, axis, on ? "on" : "off");
  return 0;
}

// The alarm-reset output is pulsed, as a drive expects: on, held, off.
int AlarmReset(const Args &args) {
  uint16_t board = 0, axis = 0;
  uint32_t ms = 100;
  if (!BoardAndAxis(args, &board, &axis) ||
      (args.Has("--ms") && !Number(args.flags.at("--ms"), "--ms", 1, 60000, &ms))) {
    return 2;
  }
  RVX406A_PutSvAlmRst(board, axis, 1);
  if (!Succeeded("PutSvAlmRst")) return 1;
  rvx::os::Sleep(ms);
  RVX406A_PutSvAlmRst(board, axis, 0);
  if (!Succeeded("PutSvAlmRst")) return 1;
  const uint16_t status = RVX406A_GetCardStatus(board, axis);
  if (!Succeeded("GetCardStatus")) return 1;
  const bool alarm = status & (1u << 4);
  printf("board %u axis %u: alarm reset pulsed for %u ms; alarm input %s\n", board, axis, ms,
         alarm ? "still on" : "off");
  return alarm ? 1 : 0;
}

void PrintSpeeds(uint16_t board, uint16_t axis) {
  uint32_t v[4] = {};
  printf("board %u axis %u:\n", board, axis);
  printf("  shape  %s\n", RVX406A_GetSpeedMode(board, axis) ? "s-curve" : "trapezoid");
  RVX406A_GetPosSpeed(board, axis, &v[0], &v[1], &v[2], &v[3]);
  printf("  pos    start %u PPS, drive %u PPS, acc %u ms, dec %u ms\n", v[0], v[1], v[2], v[3]);
  RVX406A_GetJogSpeed(board, axis, &v[0], &v[1], &v[2]);
  printf("  jog    start %u PPS, drive %u PPS, acc %u ms\n", v[0], v[1], v[2]);
  RVX406A_GetHomeSpeed(board, axis, &v[0], &v[1], &v[2]);
  printf("  home   low %u PPS, high %u PPS, acc %u ms\n", v[0], v[1], v[2]);
}

int Speed(const Args &args) {
  uint16_t board = 0, axis = 0, shape = 0;
  std::vector<uint32_t> v;
  if (!BoardAndAxis(args, &board, &axis)) return 2;
  if (args.size() == 2) {
    PrintSpeeds(board, axis);
    return Succeeded("GetHomeSpeed") ? 0 : 1;
  }
  const std::string &kind = args[2];
  if (args.size() != 4 || (kind != "pos" && kind != "jog" && kind != "home" && kind != "shape")) {
    fprintf(stderr,
            "usage: rvxctl speed BOARD AXIS [pos S,V,ACC,DEC | jog S,V,ACC | home "
            "LOW,HIGH,ACC | shape trapezoid|s-curve]\n");
    return 2;
  }
  if (kind == "shape") {
    if (!Word(args[3], "SHAPE", {{"trapezoid", 0}, {"s-curve", 1}}, &shape)) return 2;
    RVX406A_SetSpeedMode(board, axis, shape);
  } else if (kind == "pos") {
    if (!SpeedsArg(args[3], "SPEEDS", "START,DRIVE,ACC,DEC", &v)) return 2;
    RVX406A_SetPosSpeed(board, axis, v[0], v[1], v[2], v[3]);
  } else if (kind == "jog") {
    if (!SpeedsArg(args[3], "SPEEDS", "START,DRIVE,ACC", &v)) return 2;
    RVX406A_SetJogSpeed(board, axis, v[0], v[1], v[2]);
  } else {
    if (!SpeedsArg(args[3], "SPEEDS", "LOW,HIGH,ACC", &v)) return 2;
    RVX406A_SetHomeSpeed(board, axis, v[0], v[1], v[2]);
  }
  if (!Succeeded(kind == "shape" ? "SetSpeedMode"
                 : kind == "pos" ? "SetPosSpeed"
                 : kind == "jog" ? "SetJogSpeed"
                                 : "SetHomeSpeed")) {
    return 1;
  }
  PrintSpeeds(board, axis);
  return 0;
}

int Position(const Args &args) {
  uint16_t board = 0, axis = 0;
  int32_t position = 0;
  if (!BoardAndAxis(args, &board, &axis) ||
      !Number(args[2], "POSITION", INT32_MIN + 1LL, INT32_MAX, &position)) {
    return 2;
  }
  if (args.Has("--logical") && args.Has("--real")) {
    fprintf(stderr, "rvxctl: position: --logical or --real, or neither for both\n");
    return 2;
  }
  if (!args.Has("--real")) {
    RVX406A_SetCommandPos(board, axis, position);
    if (!Succeeded("SetCommandPos")) return 1;
  }
  if (!args.Has("--logical")) {
    RVX406A_SetActualPos(board, axis, position);
    if (!Succeeded("SetActualPos")) return 1;
  }
  PrintPositions(board, axis);
  return 0;
}

// pulse / encoder BOARD AXIS [MODE]: the mode word's form, shown or set.
int SignalMode(const Args &args, const char *what, long long modes,
               void (*set)(uint16_t, uint16_t, uint16_t), uint16_t (*get)(uint16_t, uint16_t),
               const char *set_name) {
  uint16_t board = 0, axis = 0, mode = 0;
  if (!BoardAndAxis(args, &board, &axis) ||
      (args.size() == 3 && !Number(args[2], "MODE", 0, modes - 1, &mode))) {
    return 2;
  }
  if (args.size() == 3) {
    set(board, axis, mode);
    if (!Succeeded(set_name)) return 1;
  }
  mode = get(board, axis);
  if (!Succeeded("read back")) return 1;
  printf("board %u axis %u: %s mode %u\n", board, axis, what, mode);
  return 0;
}

int Pulse(const Args &args) {
  return SignalMode(args, "pulse output", 6, RVX406A_SetPulseMode, RVX406A_GetPulseMode,
                    "SetPulseMode");
}

int Encoder(const Args &args) {
  return SignalMode(args, "encoder input", 4, RVX406A_SetEncoderMode, RVX406A_GetEncoderMode,
                    "SetEncoderMode");
}

std::string InstallPath(const char *folder, const std::string &name) {
  std::string dir = rvx::process().install_dir;
  const char sep = rvx::os::PathSeparator();
  if (!dir.empty() && dir.back() != sep) dir += sep;
  return dir + folder + (folder[0] ? std::string(1, sep) : "") + name;
}

std::string ParameterFile(uint16_t board) {
  return InstallPath("Parameter", "RVXPRM" + std::to_string(board) + ".DAT");
}

// The file is read only by the first program to load the boards, so "load"
// tells which file this run took its settings from, or why it took none.
int Param(const Args &args) {
  uint16_t board = 0;
  if (args[0] != "save" && args[0] != "load") {
    fprintf(stderr, "usage: rvxctl param save BOARD | param load [BOARD]\n");
    return 2;
  }
  if (args.size() == 2 && !BoardArg(args, 1, &board)) return 2;
  if (args[0] == "save") {
    if (args.size() != 2) return fprintf(stderr, "usage: rvxctl param save BOARD\n"), 2;
    RVX406A_SaveFile(board);
    if (!Succeeded("SaveFile")) return 1;
    const std::string path = ParameterFile(board);
    if (rvx::os::GetFileAttributes(path.c_str()) == 0) {
      fprintf(stderr, "rvxctl: SaveFile: %s was not written (is the Parameter folder there?)\n",
              path.c_str());
      return 1;
    }
    printf("board %u: settings saved to %s, log level to %s\n", board, path.c_str(),
           InstallPath("", "DbgLevel.ini").c_str());
    return 0;
  }
  if (!rvx::process().first_loader) {
    fprintf(stderr,
            "rvxctl: the boards were already loaded by another program, whose settings stand; "
            "the parameter file is read when the first program loads the boards\n");
    return 1;
  }
  const uint16_t last = args.size() == 2 ? board : rvx::process().table.count - 1;
  for (uint16_t b = args.size() == 2 ? board : 0; b <= last; ++b) {
    const std::string path = ParameterFile(b);
    const bool found = rvx::os::GetFileAttributes(path.c_str()) != 0;
    printf("board %u: %s %s\n", b, found ? "settings loaded from" : "defaults loaded; no file",
           path.c_str());
  }
  return 0;
}

// No export reads the level back: it is the shared section's, which every
// process's calls log by.
int Log(const Args &args) {
  uint16_t level = 0;
  if (args.size() == 1) {
    if (!Number(args[0], "LEVEL", 0, 3, &level)) return 2;
    RVX406A_LogCheck(level);
    if (!Succeeded("LogCheck")) return 1;
  }
  printf("log level %u (%s)\n", rvx::process().shared->log_level, LogPath().c_str());
  if (args.size() == 1) {
    printf("kept while a program holds the boards; rvxctl param save BOARD keeps it\n");
  }
  return 0;
}

// ---- Interpolation ----

// The group of an interpolation command: its map number (--map, default 0)
// and axes, defined with SetIPMapAxes; --speed START,DRIVE,ACC,DEC sets the
// IP speed first.
struct GroupArgs {
  uint16_t board = 0, map = 0;
  std::vector<uint16_t> axes;
  std::vector<uint32_t> speed;  // empty: the group's stored speed
};

bool DefineGroup(const Args &args, size_t min_axes, size_t max_axes, GroupArgs *g) {
  if (!BoardArg(args, 0, &g->board) ||
      !AxesArg(g->board, args[1], "AXES", min_axes, max_axes, &g->axes) ||
      (args.Has("--map") && !Number(args.flags.at("--map"), "--map", 0, 3, &g->map))) {
    return false;
  }
  return !args.Has("--speed") ||
         SpeedsArg(args.flags.at("--speed"), "--speed", "START,DRIVE,ACC,DEC", &g->speed);
}

// Defines the group, and its speed when given; only after every argument
// of the command was found good.
bool ApplyGroup(const GroupArgs &g) {
  uint16_t mask = 0;
  for (uint16_t axis : g.axes) mask = static_cast<uint16_t>(mask | 1u << axis);
  RVX406A_SetIPMapAxes(g.board, g.map, mask);
  if (!Succeeded("SetIPMapAxes")) return false;
  if (g.speed.empty()) return true;
  RVX406A_SetIPPosSpeed(g.board, g.map, g.speed[0], g.speed[1], g.speed[2], g.speed[3]);
  return Succeeded("SetIPPosSpeed");
}

// Two numbers "X,Y".
bool PairArg(const std::string &text, const char *name, int32_t *x, int32_t *y) {
  std::vector<int32_t> v;
  if (!ValuesArg(text, name, 2, &v)) return false;
  *x = v[0], *y = v[1];
  return true;
}

// Polls IPDone until the group's first axis stops; reports the cause and
// where the group axes ended.
int WaitGroup(const GroupArgs &g, const char *started, const std::vector<int32_t> &targets = {}) {
  CatchInterrupt ctrl_c;
  if (!Succeeded(started)) return 1;
  while (!interrupted && RVX406A_IPDone(g.board, g.map) == 1) rvx::os::Sleep(1);
  if (interrupted) {
    RVX406A_IPDecel_Stop(g.board, g.map);  // returns once the group stands
    Succeeded("IPDecel_Stop");
    return StopInterrupted(g.board, g.axes);
  }
  int status = ReportStop(started);
  if (status == 0) status = ShortOfTarget(g.board, g.axes, targets);
  for (uint16_t axis : g.axes) PrintPositions(g.board, axis);
  return status;
}

int Line(const Args &args) {
  GroupArgs g;
  std::vector<int32_t> values;
  if (!DefineGroup(args, 2, 3, &g) || !ValuesArg(args[2], "DISTANCES", g.axes.size(), &values)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  const std::vector<int32_t> targets = Targets(g.board, g.axes, values, absolute);
  (absolute ? RVX406A_Abs_Line : RVX406A_Inc_Line)(g.board, g.map, values.data());
  return WaitGroup(g, absolute ? "Abs_Line" : "Inc_Line", targets);
}

int Arc(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, ex = 0, ey = 0;
  uint16_t direction = 0;
  if (!DefineGroup(args, 2, 2, &g) || !PairArg(args[2], "CX,CY", &cx, &cy) ||
      !PairArg(args[3], "EX,EY", &ex, &ey) || !Number(args[4], "DIRECTION", 0, 1, &direction)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Arc : RVX406A_Inc_Arc)(g.board, g.map, cx, cy, ex, ey, direction);
  return WaitGroup(g, absolute ? "Abs_Arc" : "Inc_Arc");
}

int Theta(const Args &args) {
  GroupArgs g;
  int32_t cx = 0, cy = 0, angle = 0;
  if (!DefineGroup(args, 2, 2, &g) || !PairArg(args[2], "CX,CY", &cx, &cy) ||
      !Number(args[3], "ANGLE", INT32_MIN, INT32_MAX, &angle)) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
  const bool absolute = args.Has("--abs");
  (absolute ? RVX406A_Abs_Theta : RVX406A_Inc_Theta)(g.board, g.map, cx, cy, angle);
  return WaitGroup(g, absolute ? "Abs_Theta" : "Inc_Theta");
}

// A segment file: one segment a line, "line X Y" or "arc X Y CX CY 0|1"
// (absolute end and centre; the arc's direction as Inc_Arc takes it), its
// numbers as the command line takes them. '#' starts a comment; blank lines
// are skipped. Only a regular file is read, and no further than a full table
// (a device or a pipe could go on for ever).
bool ReadSegments(const std::string &path, std::vector<RVX406A_CONTI_SEGMENT> *segments) {
  std::error_code error;
  const std::filesystem::file_status kind = std::filesystem::status(path, error);
  if (error) {
    fprintf(stderr, "rvxctl: cannot read %s: %s\n", path.c_str(), error.message().c_str());
    return false;
  }
  if (!std::filesystem::is_regular_file(kind)) {
    fprintf(stderr, "rvxctl: %s is not a segment file: %s\n", path.c_str(),
            std::filesystem::is_directory(kind) ? "it is a folder" : "not a regular file");
    return false;
  }
  FILE *file = fopen(path.c_str(), "rb");
  if (file == nullptr) {
    fprintf(stderr, "rvxctl: cannot read %s: %s\n", path.c_str(), strerror(errno));
    return false;
  }
  auto refuse = [&](int number, const std::string &why) {
    fprintf(stderr, "rvxctl: %s:%d: %s\n", path.c_str(), number, why.c_str());
    fclose(file);
    return false;
  };
  constexpr size_t kLongestLine = 256;
  const char *const form = "expected 'line X Y' or 'arc X Y CX CY 0|1'";
  std::string text;
  for (int number = 1;; ++number) {
    text.clear();
    int c = 0;
    while ((c = fgetc(file)) != EOF && c != '\n' && text.size() <= kLongestLine) {
      text += static_cast<char>(c);
    }
    if (text.size() > kLongestLine) {
      return refuse(number, "longer than " + std::to_string(kLongestLine) + " characters");
    }
    if (c == EOF && text.empty()) break;
    text = text.substr(0, text.find('#'));
    std::vector<std::string> words;
    for (size_t at = text.find_first_not_of(" \t\r"); at != std::string::npos;) {
      const size_t end = text.find_first_of(" \t\r", at);
      words.push_back(text.substr(at, end - at));
      at = end == std::string::npos ? end : text.find_first_not_of(" \t\r", end);
    }
    if (words.empty()) continue;
    RVX406A_CONTI_SEGMENT s{};
    int32_t *const fields[] = {&s.end1, &s.end2, &s.center1, &s.center2};
    const bool line = words[0] == "line" && words.size() == 3;
    const bool arc = words[0] == "arc" && words.size() == 6;
    if (!line && !arc) {
      const bool known = words[0] == "line" || words[0] == "arc";
      return refuse(number, known ? std::string(form) + ": " + std::to_string(words.size() - 1) +
                                        " values after '" + words[0] + "'"
                                  : std::string(form) + ", not '" + words[0] + "'");
    }
    for (size_t i = 1; i < words.size(); ++i) {
      int32_t v = 0;
      const bool direction = i == 5;
      if (!ParseI32(words[i], &v) || (direction && v != 0 && v != 1)) {
        long long any = 0;
        return refuse(number, "'" + words[i] + "' " +
                                  (!ParseInteger(words[i], &any) ? "is not a whole number"
                                   : direction                   ? "is not a direction 0 or 1"
                                                                 : "is out of range: "
                                                                   "-2147483648..2147483647"));
      }
      if (direction) {
        s.type = static_cast<uint16_t>(1 + v);
      } else {
        *fields[i - 1] = v;
      }
    }
    if (segments->size() == rvx::kContiEntries) {
      return refuse(number,
                    "a table holds at most " + std::to_string(rvx::kContiEntries) + " segments");
    }
    segments->push_back(s);
    if (c == EOF) break;
  }
  fclose(file);
  if (segments->empty()) {
    fprintf(stderr, "rvxctl: %s holds no segment (%s)\n", path.c_str(), form);
    return false;
  }
  return true;
}

// Loads the table and prints it as the library keeps it; with --lead it
// starts a linear lead-in of the group and hands segment 0 over while it runs.
int Conti(const Args &args) {
  GroupArgs g;
  std::vector<RVX406A_CONTI_SEGMENT> segments;
  int32_t lead[2] = {0, 0};
  if (!DefineGroup(args, 2, 2, &g) || !ReadSegments(args[2], &segments) ||
      (args.Has("--lead") && !PairArg(args.flags.at("--lead"), "--lead", &lead[0], &lead[1]))) {
    return 2;
  }
  if (!ApplyGroup(g)) return 1;
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
  if (status == 0 && !args.Has("--lead")) {
    printf(
        "table of %zu loaded, nothing run: --lead D1,D2 runs a lead-in line and hands "
        "segment 0 over\n",
        segments.size());
  }
  if (status == 0 && args.Has("--lead") && segments.size() > 1) {
    printf("only segment 0 runs: Conti_Move hands the chip the table's first segment alone\n");
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
  std::vector<int32_t> c;  // AXIS,START,INTERVAL,COUNT
  if (!BoardArg(args, 0, &board)) return 2;
  if (args.Has("--compare")) {
    uint16_t axis = 0, count = 0;
    const std::string &text = args.flags.at("--compare");
    if (!ValuesArg(text, "--compare AXIS,START,INTERVAL,COUNT", 4, &c) ||
        !AxisArg(board, std::to_string(c[0]), &axis) ||
        !Number(std::to_string(c[3]), "--compare COUNT", 0, 0xFFFF, &count)) {
      return 2;
    }
  }
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
    RVX406A_SetInitCompTrg(board);
    if (!Succeeded("SetInitCompTrg")) return 1;
    RVX406A_SetCompTrgContTable(board, static_cast<uint16_t>(c[0]), static_cast<uint16_t>(c[3]),
                                c[1], c[2]);
    if (!Succeeded("SetCompTrgContTable")) return 1;
  }
  CatchInterrupt ctrl_c;
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
  if (!BoardArg(raw, 0, &record.board) ||
      !AxesArg(record.board, words[1], "AXES", 1, 4, &record.axes)) {
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
       "home BOARD AXIS [--timeout SECONDS]",
       "home search, waits for the end (at most 60 s), reports HOME_OK; homed only without "
       "a stop cause",
       2,
       2,
       {},
       {"--timeout"},
       Home},
      {"servo",
       "servo BOARD AXIS [on|off]",
       "servo-on output, shown or switched",
       2,
       3,
       {},
       {},
       Servo},
      {"alarm-reset",
       "alarm-reset BOARD AXIS [--ms N]",
       "pulse the alarm-reset output (default 100 ms); 1 when the alarm stays on",
       2,
       2,
       {},
       {"--ms"},
       AlarmReset},
      {"speed",
       "speed BOARD AXIS [pos S,V,ACC,DEC | jog S,V,ACC | home LOW,HIGH,ACC | shape "
       "trapezoid|s-curve]",
       "speed profiles (PPS, ms), shown or set",
       2,
       4,
       {},
       {},
       Speed},
      {"position",
       "position BOARD AXIS N [--logical | --real]",
       "load the logical and real position counters (or one of them)",
       3,
       3,
       {"--logical", "--real"},
       {},
       Position},
      {"pulse", "pulse BOARD AXIS [0..5]", "pulse output mode, shown or set", 2, 3, {}, {}, Pulse},
      {"encoder",
       "encoder BOARD AXIS [0..3]",
       "encoder input mode, shown or set",
       2,
       3,
       {},
       {},
       Encoder},
      {"param",
       "param save BOARD | param load [BOARD]",
       "save the board's settings to its parameter file; say which file the settings came from",
       1,
       2,
       {},
       {},
       Param},
      {"log", "log [0..3]", "log level, shown or set, and the day's log file", 0, 1, {}, {}, Log},
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
          "  --version             versions of rvxctl and of the library file beside it\n"
          "environment:\n"
          "  RVX_DRIVER            unset: the kernel driver (%s, ...); sim: the\n"
          "                        simulated board; a path: a driver module\n"
          "  RVX_INSTALL_DIR       folder of Parameter/, DbgLevel.ini and Debug/ (the log);\n"
          "                        default %s\n"
          "  RVX_IPC_NAMESPACE     prefix of the shared objects' names: programs meet only\n"
          "                        within one namespace\n"
          "  RVX_SIM               the simulated boards and machine, as --sim-config takes it\n"
          "exit status: 0 done; 1 refused by the library, or a move, home search or path\n"
          "stopped by a cause (limit, alarm, emergency, stop); 2 a bad command line;\n"
          "130 stopped by Ctrl-C, 129 by a closed terminal (SIGHUP), 143 by SIGTERM (the axes\n"
          "get a decelerating stop first)\n",
          rvx::os::DevicePath(0).c_str(), rvx::os::DefaultInstallDir());
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
    if (!CheckSimTargets(options, options.boards.board_count, nullptr)) return 2;
    std::vector<std::string> args = {rvx::os::ExecutablePath(), "--sim"};
    args.insert(args.end(), options.given.begin(), options.given.end());
    args.push_back("sim");
    args.push_back("keep");
    return rvxctl::StartKeeper(args);
  }
  if (action == "status") {
    const uint32_t keeper = rvxctl::KeeperProcess();
    uint32_t starter = 0;
    if (keeper == 0 && rvxctl::StartingKeeper(&starter) != 0) {
      printf("a simulated board is starting (process %u)\n", rvxctl::StartingKeeper(&starter));
      return 1;
    }
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

// The line the library writes to the log when the system refuses one of its
// named objects: it names the object, the call and the reason.
std::string LoggedObjectFailure() {
  FILE *file = fopen(LogPath().c_str(), "rb");
  if (file == nullptr) return "";
  std::string found;
  char line[512];
  constexpr char kMark[] = " RVX406A_LoadDevice: ";
  while (fgets(line, sizeof line, file) != nullptr) {
    const char *at = strstr(line, kMark);
    if (at != nullptr) found = at + strlen(kMark);
  }
  fclose(file);
  while (!found.empty() && (found.back() == '\n' || found.back() == '\r')) found.pop_back();
  return found;
}

// After a failed LoadDevice: what was tried, why it failed where the system
// says so, and what to try next.
void ExplainLoadFailure(int32_t code) {
  fprintf(stderr, "rvxctl: LoadDevice: %s\n", Explained(code).c_str());
  const std::string driver = rvx::os::GetEnv("RVX_DRIVER");
  if (code == ERR_CREATE_KERNEL_DRIVER_FAIL || code == ERR_CREATE_MEM_FAIL) {
    const std::string why = LoggedObjectFailure();
    if (!why.empty()) fprintf(stderr, "rvxctl: %s\n", why.c_str());
    fprintf(stderr, "rvxctl: every program of one RVX_IPC_NAMESPACE must run as the same user\n");
    return;
  }
  if (code != ERR_DEVICE_LOAD) return;
  if (driver.empty()) {
    const std::string why = rvx::os::DeviceOpenFailure(0);
    fprintf(stderr, "rvxctl: tried the kernel driver's device %s (RVX_DRIVER is unset): %s\n",
            rvx::os::DevicePath(0).c_str(),
            why.empty() ? "it opens, but offered no board" : why.c_str());
    fprintf(
        stderr,
        "rvxctl: is the board fitted and its driver loaded? Without a board, try rvxctl --sim\n");
  } else if (driver != "sim") {
    std::string why = rvx::os::ModuleLoadFailure(driver.c_str());
    if (why.empty()) {
      const bool entry =
          rvx::os::ModuleSymbol(rvx::os::LoadModule(driver.c_str()), "rvx_driver_entry") != nullptr;
      why = entry ? "it loads, but its rvx_driver_entry gave no operations of ABI version 1, "
                    "or its device 0 did not open"
                  : "it loads, but exports no rvx_driver_entry";
    }
    fprintf(stderr, "rvxctl: tried the driver module RVX_DRIVER=%s: %s\n", driver.c_str(),
            why.c_str());
    fprintf(stderr, "rvxctl: unset RVX_DRIVER for the kernel driver, or try rvxctl --sim\n");
  }
}

// --version: the tool's own version, which is also that of the library code
// built into it; and, as GetDllVersion reads it, the version of the library
// file installed beside the tool.
void PrintVersions(bool loaded) {
  printf("rvxctl %s (rvxMApiBrd %s built in)\n", RVX_VERSION_STRING, RVX_VERSION_STRING);
  const std::string exe = rvx::os::ExecutablePath();
  const size_t cut = exe.find_last_of("/\\");
  const std::string dir = cut == std::string::npos ? "" : exe.substr(0, cut + 1);
  const char sep = rvx::os::PathSeparator();
  std::string path;
  for (const std::string &folder :
       {dir, dir + ".." + sep + "lib" + sep, dir + ".." + sep + "bin" + sep}) {
    const std::string candidate = folder + rvx::os::LibraryFileName();
    if (FILE *file = fopen(candidate.c_str(), "rb")) {
      fclose(file);
      path = candidate;
      break;
    }
  }
  if (path.empty()) {
    printf("%s: not found beside rvxctl\n", rvx::os::LibraryFileName());
  } else if (!loaded) {
    printf(
        "%s: version not read: GetDllVersion needs a loaded board (try rvxctl --sim "
        "--version)\n",
        path.c_str());
  } else {
    const uint32_t v = RVX406A_GetDllVersion(path.c_str());
    if (v == 0) {
      printf("%s: no version resource\n", path.c_str());
    } else {
      printf("%s: version %u.%u.%u.%u\n", path.c_str(), v / 1000000, v / 10000 % 100, v / 100 % 100,
             v % 100);
    }
  }
}

int SimKeep(const Args &) {
  rvxctl::ServeUntilStopped();
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  Options options;
  std::string bad;
  bool version = false;
  for (int i = 1; i < argc; ++i) {
    if (strcmp(argv[i], "-h") == 0 || strcmp(argv[i], "--help") == 0) {
      Usage(stdout);
      return 0;
    }
    version |= strcmp(argv[i], "--version") == 0;
  }
  // The boards RVX_SIM describes, then what the command line says about them.
  const std::string environment_error =
      rvx::sim::ParseConfig(rvx::os::GetEnv("RVX_SIM"), &options.boards);
  if (!ParseOptions(argc, argv, &options, &bad)) {
    fprintf(stderr, "rvxctl: bad option: %s (see rvxctl --help)\n", bad.c_str());
    return 2;
  }
  if (!CheckSimTargets(options, 16, nullptr)) return 2;
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
  if (version) {
    options.words.assign(1, "version");
  } else if (options.words.empty()) {
    options.words.push_back("load");
  }
  bool keep = false;
  const Command keeper = {"sim keep", "", "", 0, 0, {}, {}, SimKeep};
  const Command versions = {"version", "", "", 0, 0, {}, {}, [](const Args &) {
                              PrintVersions(true);
                              return 0;
                            }};
  const Command *command = version ? &versions : nullptr;
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
  if (highest < 0 && version) {
    PrintVersions(false);
    status = 0;
  } else if (highest < 0) {
    ExplainLoadFailure(highest);
    if (keep) rvxctl::KeeperFailed();
  } else if (options.sim && !CheckSimTargets(options, 0, &rvx::process().table)) {
    status = 2;
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
