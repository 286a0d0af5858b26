// rvxctl: command-line access to the boards, on real hardware or the
// simulated board. Every command loads the boards, does its work through the
// exported functions an application would call, and unloads again.
//
//   rvxctl [OPTIONS] COMMAND [ARGS...]   (rvxctl --help lists both)

#include <cstring>
#include <string>

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
  options.boards = rvx::sim::DefaultBoards();
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
