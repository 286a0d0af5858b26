// The command table, the split of a command's words, and the help.
#include "tools/rvxctl_cli.h"

#include <cstdint>
#include <string>
#include <vector>

#include "platform/platform.h"

namespace rvxctl {
namespace {

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

}  // namespace

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
          "                        (each also B:A:none). Unless told otherwise every axis has\n"
          "                        limits at -1000000 and +1000000, near-home on from -12000\n"
          "                        to -8000 and home from -9000 to -8900, so that a home search\n"
          "                        with the default settings (mode 2, toward -) ends on home;\n"
          "                        --sim-config=machine=bare takes them all off\n"
          "  --sim-z=B:A:N         encoder Z every N pulses\n"
          "  --sim-alarm=B:A       a servo drive whose alarm output is on\n"
          "  --sim-emergency=B     the emergency input of board B is on\n"
          "  --sim-config=TEXT     simulator configuration as RVX_SIM takes it, "
          "e.g.\n"
          "                        \"clock=stepped;axis0.1.limits=-5000:5000\"; its keys:\n"
          "                        boards=N clock=real|stepped machine=default|bare\n"
          "                        board<B>.type|modules|swap|id|absent|emergency=N\n"
          "                        axis<B>.<A>.limits|home|near=FROM:TO|none\n"
          "                        axis<B>.<A>.z=PERIOD axis<B>.<A>.servo|alarm=0|1\n"
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

}  // namespace rvxctl
