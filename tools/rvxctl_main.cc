// rvxctl: command-line access to the boards, on real hardware or the
// simulated board. Every command loads the boards, does its work through the
// exported functions an application would call, and unloads again.
//
//   rvxctl [OPTIONS] COMMAND [ARGS...]   (rvxctl --help lists both)

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "sim/sim.h"
#include "tools/rvxctl_board.h"
#include "tools/rvxctl_cli.h"
#include "tools/rvxctl_common.h"
#include "tools/rvxctl_sim.h"
#include "tools/sim_keeper.h"

using namespace rvxctl;  // NOLINT: the tool's own namespace

int main(int argc, char **argv) {
  // The shell's completion asks here: rvxctl --complete INDEX WORDS...
  if (argc >= 3 && strcmp(argv[1], "--complete") == 0) {
    PrintCompletions(std::strtoul(argv[2], nullptr, 10),
                     std::vector<std::string>(argv + 3, argv + argc));
    return 0;
  }
  Options options;
  // The boards RVX_SIM describes, then what the command line says about them.
  options.boards = rvx::sim::DefaultBoards();
  const std::string environment_error =
      rvx::sim::ParseConfig(rvx::os::GetEnv("RVX_SIM"), &options.boards);
  const Command *command = nullptr;
  Args args;
  bool version = false;
  const int refused = ParseCommandLine(argc, argv, &options, &command, &args, &version);
  if (refused >= 0) return refused;
  std::string bad;
  if (!CheckOptions(options, &bad)) {
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
  bool keep = false;
  const Command keeper = {"sim keep", "", "", {}, {}, SimKeep};
  const Command versions = {"version", "", "", {}, {}, [](const Args &) {
                              PrintVersions(true);
                              return 0;
                            }};
  if (version) {
    command = &versions;
    options.words.assign(1, "version");
  } else if (command == nullptr) {
    for (const Command &c : Commands()) command = std::string(c.name) == "load" ? &c : command;
    options.words.assign(1, "load");
  } else if (options.words[0] == "sim") {
    const int status = SimCommand(options, &keep);
    if (!keep) return status;
    options.sim = true;
    options.words.pop_back();
    command = &keeper;
  }

  bool joined = false;
  if (options.sim) {
    rvx::os::SetEnv("RVX_DRIVER", "sim");
    // Simulated boards that another process has loaded are joined as they
    // stand, as a second program joins a real board.
    options.boards.polled_drives = options.drive_polls >= 0;
    joined = LibraryInUse();
    // Nothing but "sim step" lets stepped time pass, so only a kept board can have it.
    if (!joined && !keep && options.boards.clock == rvx::sim::Clock::kStepped) {
      fprintf(stderr,
              "rvxctl: clock=stepped: time passes only with rvxctl sim step MS, on a kept "
              "board (rvxctl --sim-config=clock=stepped sim start)\n");
      return 2;
    }
    if (!joined) rvx::sim::Reset(options.boards);
    board_kind = joined ? BoardKind::kJoinedSimulation : BoardKind::kOwnSimulation;
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
    if (options.sim && !keep && joined) NoteJoinedBoard(options);
    status = command->run(args);
    if (options.sim && !joined && status == 0) NoteLostSetting(options.words[0], args);
  }
  RVX406A_UnloadDevice();
  if (options.sim) rvx::sim::RemoveNamedObjects();
  if (keep && highest >= 0) rvxctl::KeeperStopped();
  return status;
}
