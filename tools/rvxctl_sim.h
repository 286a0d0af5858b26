// The simulated board from rvxctl's side: the options that describe it, and
// the board kept by a background rvxctl between runs.
#ifndef RVX_TOOLS_RVXCTL_SIM_H_
#define RVX_TOOLS_RVXCTL_SIM_H_

#include <cstdint>
#include <string>
#include <vector>

#include "core/process.h"
#include "sim/sim.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {

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

// One global option as given ("--sim-home=0:1:-5:5"), taken into `options`.
// False on a malformed option, with what is wrong with it in `bad`.
bool TakeOption(const std::string &arg, Options *options, std::string *bad);
// What the options say together: false, with the reason in `bad`, for
// simulator settings without the simulator.
bool CheckOptions(const Options &options, std::string *bad);
// The boards, axes and modules the simulator options name must exist: on
// the boards this run found, or before a load among the first `boards`.
bool CheckSimTargets(const Options &options, uint32_t boards, const rvx::BoardTable *found);
// A live board keeps its machine; what the command line changed is fitted to
// it.
void ApplyMachine(const rvx::sim::Config &before, const rvx::sim::Config &after);
// True when another process has the library loaded in this namespace.
bool LibraryInUse();
void ApplySimSettings(const Options &options);
// What a simulated run does not do silently, one line on stderr each:
// options a joined board does not take, and options that change it for good.
void NoteJoinedBoard(const Options &options);
// A setting made on a simulated board built for this run alone ends with it.
void NoteLostSetting(const std::string &name, const Args &args);
// sim start|status|stop: a simulated board kept by a background rvxctl
// ("sim keep") between runs; `keep` is set in that background rvxctl.
int SimCommand(const Options &options, bool *keep);
int SimKeep(const Args &args);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RVXCTL_SIM_H_
