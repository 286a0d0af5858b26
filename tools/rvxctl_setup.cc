// Commissioning: servo and alarm outputs, speed profiles, counters, signal
// modes, the parameter file and the log level.
#include <filesystem>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {

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
  if (!dir.empty() && dir.back() != sep && dir.back() != '/') dir += sep;
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
    // The library writes into the folder but does not make it.
    std::error_code error;
    const std::string folder = InstallPath("Parameter", "");
    std::filesystem::create_directories(folder, error);
    if (error) {
      fprintf(stderr, "rvxctl: cannot make %s: %s\n", folder.c_str(), error.message().c_str());
      return 1;
    }
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
  printf("log level %u (%s)\n", rvx::process().shared->log_level, LogFileNote().c_str());
  if (args.size() == 1) {
    printf("kept while a program holds the boards; rvxctl param save BOARD keeps it\n");
  }
  return 0;
}

std::vector<Command> SetupCommands() {
  return {
      {"servo",
       "servo BOARD AXIS [on|off]",
       "servo-on output, shown or switched",
       {kBoardWord, kAxisWord, {"STATE", 0, 1, "on or off"}},
       {},
       Servo},
      {"alarm-reset",
       "alarm-reset BOARD AXIS [--ms N]",
       "pulse the alarm-reset output (default 100 ms); 1 when the alarm stays on",
       {kBoardWord, kAxisWord},
       {{"--ms", "N", "how long the output is on, 1..60000 ms"}},
       AlarmReset},
      {"speed",
       "speed BOARD AXIS [pos S,V,ACC,DEC | jog S,V,ACC | home LOW,HIGH,ACC | shape "
       "trapezoid|s-curve]",
       "speed profiles (PPS, ms), shown or set",
       {kBoardWord,
        kAxisWord,
        {"KIND", 0, 1, "pos, jog, home or shape"},
        {"SPEEDS", 0, 1, "the profile's speeds and times, or the shape"}},
       {},
       Speed},
      {"position",
       "position BOARD AXIS N [--logical | --real]",
       "load the logical and real position counters (or one of them)",
       {kBoardWord, kAxisWord, {"POSITION", 1, 1, "pulses"}},
       {{"--logical", nullptr, "only the logical (command) counter"},
        {"--real", nullptr, "only the real (encoder) counter"}},
       Position},
      {"pulse",
       "pulse BOARD AXIS [0..5]",
       "pulse output mode, shown or set",
       {kBoardWord, kAxisWord, {"MODE", 0, 1, "0..5"}},
       {},
       Pulse},
      {"encoder",
       "encoder BOARD AXIS [0..3]",
       "encoder input mode, shown or set",
       {kBoardWord, kAxisWord, {"MODE", 0, 1, "0..3"}},
       {},
       Encoder},
      {"param",
       "param save BOARD | param load [BOARD]",
       "save the board's settings to its parameter file; say which file the settings came from",
       {{"ACTION", 1, 1, "save or load"}, {"BOARD", 0, 1, "board number"}},
       {},
       Param},
      {"log",
       "log [0..3]",
       "log level, shown or set, and the day's log file",
       {{"LEVEL", 0, 1, "0..3"}},
       {},
       Log},
  };
}

}  // namespace rvxctl
