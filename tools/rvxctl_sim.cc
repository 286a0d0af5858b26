// The simulated board and its keeper: the simulator options, checked and
// applied, and the sim command.
#include "tools/rvxctl_sim.h"

#include <cstring>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/sim_keeper.h"

namespace rvxctl {
namespace {

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

// "B:A:FROM:TO" and the like as the configuration item "axisB.A.KEY=FROM:TO":
// `units` words name the board (and axis), the rest is the value. The
// simulator's parser checks the values, so its messages are the ones shown.
bool MachineItem(const std::string &text, size_t units, size_t values, const char *key,
                 std::string *item, SimTarget *target) {
  const std::vector<std::string> parts = Split(text, ':');
  const bool none = values == 2 && parts.size() == units + 1 && parts.back() == "none";
  if (parts.size() != units + values && !none) return false;
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

}  // namespace

bool TakeOption(const std::string &arg, Options *options, std::string *bad) {
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
  {
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
      return refuse("not an option of rvxctl");
    }
  }
  return true;
}

bool CheckOptions(const Options &options, std::string *bad) {
  const bool sim_settings = !options.inputs.empty() || !options.di.empty() ||
                            !options.errors.empty() || !options.positions.empty() ||
                            options.drive_polls >= 0 || !options.machine.empty();
  *bad = "--sim-* without --sim";
  const bool kept = !options.words.empty() && options.words[0] == "sim";  // implies --sim
  return options.sim || kept || !sim_settings;
}

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

namespace {

bool SameMachine(const rvx::sim::MachineModel &x, const rvx::sim::MachineModel &y) {
  auto same = [](const rvx::sim::SensorWindow &a, const rvx::sim::SensorWindow &b) {
    return a.fitted == b.fitted && a.from == b.from && a.to == b.to;
  };
  return x.limits == y.limits && x.limit_minus == y.limit_minus && x.limit_plus == y.limit_plus &&
         same(x.near_home, y.near_home) && same(x.home, y.home) && x.z_period == y.z_period &&
         x.servo == y.servo && x.alarm == y.alarm;
}

}  // namespace

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

// What a simulated run does not do silently, one line on stderr each:
// options a joined board does not take, and options that change it for good.
void NoteJoinedBoard(const Options &options) {
  const uint32_t keeper = rvxctl::KeeperProcess();
  const std::string holder =
      keeper != 0 ? "the kept simulated board (process " + std::to_string(keeper) + ")"
                  : "the simulated board another program holds";
  auto note = [](const std::string &text) { fprintf(stderr, "rvxctl: %s\n", text.c_str()); };
  if (options.sim_count_given) note("--sim=N ignored: " + holder + " keeps its boards");
  if (options.board_layout_given) {
    note("--modules, --type and --swap ignored: " + holder + " keeps its boards");
  }
  if (options.drive_polls >= 0) note("--sim-drive ignored: " + holder + " keeps its timing");
  std::string changed;
  for (const SimTarget &t : options.targets) changed += (changed.empty() ? "" : " ") + t.option;
  if (options.machine_given && changed.empty()) changed = "--sim-config";
  if (!changed.empty()) note(changed + " changed " + holder + " until it stops");
}

// A setting made on a simulated board built for this run alone ends with it.
void NoteLostSetting(const std::string &name, const Args &args) {
  const bool setting = (name == "servo" && args.size() == 3) ||
                       (name == "speed" && args.size() == 4) || name == "position" ||
                       ((name == "pulse" || name == "encoder") && args.size() == 3) ||
                       (name == "io" && args.size() == 4) || (name == "log" && args.size() == 1);
  if (!setting) return;
  fflush(stdout);
  fprintf(stderr,
          "rvxctl: this simulated board ends with this run, and the setting with it; rvxctl sim "
          "start keeps one between runs\n");
}

int SimCommand(const Options &options, bool *keep) {
  const size_t words = options.words.size();
  std::string action = words == 2 || words == 3 ? options.words[1] : "";
  if (action == "step") {
    long ms = 0;
    if (words != 3 || !ParseLong(options.words[2], &ms) || ms < 0) {
      fprintf(stderr, "usage: rvxctl sim step MS\n");
      return 2;
    }
    // Only boards that some process holds; asking would otherwise make new ones.
    if (rvxctl::KeeperProcess() == 0 && !LibraryInUse()) {
      fprintf(stderr, "rvxctl: no simulated board running\n");
      return 1;
    }
    const bool stepped = rvx::sim::CurrentClock() == rvx::sim::Clock::kStepped;
    if (stepped) rvx::sim::AdvanceTime(static_cast<uint64_t>(ms) * 1000);
    const uint64_t now = rvx::sim::Now();
    rvx::sim::RemoveNamedObjects();
    if (!stepped) {
      fprintf(stderr, "rvxctl: the simulated board runs on the real clock\n");
      return 1;
    }
    printf("simulated time %.3f s\n", static_cast<double>(now) * 1e-6);
    return 0;
  }
  if (words != 2) action.clear();
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
  fprintf(stderr, "usage: rvxctl [OPTIONS] sim start|status|stop|step MS\n");
  return 2;
}

int SimKeep(const Args &) {
  rvxctl::ServeUntilStopped();
  return 0;
}

std::vector<Command> SimCommands() {
  return {
      {"sim",
       "sim start|status|stop|step MS",
       "keep a simulated board (with the options given) in a background process until "
       "stopped; rvxctl --sim then joins it as it stands; step lets MS milliseconds pass on "
       "a kept board with the stepped clock",
       {{"ACTION", 1, 1, "start, status, stop or step"}, {"MS", 0, 1, "milliseconds to step"}},
       {},
       nullptr},
  };
}

}  // namespace rvxctl
