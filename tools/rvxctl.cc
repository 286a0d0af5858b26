// rvxctl: command-line access to the boards, on real hardware or the
// simulated board.
//
//   rvxctl [--sim[=BOARDS]] [--modules=BITS] [--type=CODE] [COMMAND ...]
//
// Commands: load (default) - load the boards and report what was found.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/process.h"
#include "include/rvx406a.h"
#include "platform/platform.h"
#include "sim/sim.h"

namespace {

struct Options {
  bool sim = false;
  rvx::sim::Config boards;
  std::vector<std::string> command;
};

void Usage() {
  fprintf(stderr,
          "usage: rvxctl [--sim[=BOARDS]] [--modules=BITS] [--type=CODE] [load]\n"
          "  --sim[=N]       use N simulated boards (default 1) instead of the driver\n"
          "  --modules=BITS  simulated identity bits 0..3 (extra expansion modules)\n"
          "  --type=CODE     simulated board type code (1 or 3)\n");
}

bool Parse(int argc, char** argv, Options* options) {
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    auto value = [&](const char* prefix) { return std::strtoul(arg.c_str() + strlen(prefix), nullptr, 0); };
    if (arg == "--sim") {
      options->sim = true;
    } else if (arg.rfind("--sim=", 0) == 0) {
      options->sim = true;
      options->boards.board_count = static_cast<uint32_t>(value("--sim="));
    } else if (arg.rfind("--modules=", 0) == 0) {
      for (auto& b : options->boards.board) b.module_bits = static_cast<uint8_t>(value("--modules="));
    } else if (arg.rfind("--type=", 0) == 0) {
      for (auto& b : options->boards.board) b.type_code = static_cast<uint8_t>(value("--type="));
    } else if (arg == "-h" || arg == "--help") {
      return false;
    } else {
      options->command.push_back(arg);
    }
  }
  if (options->command.empty()) options->command.push_back("load");
  return options->boards.board_count >= 1 && options->boards.board_count <= 16;
}

std::string LogPath() {
  const rvx::os::LocalTime t = rvx::os::GetLocalTime();
  char path[300];
  const char sep = rvx::os::PathSeparator();
  snprintf(path, sizeof path, "%s%cDebug%clogfile_%04d%02d%02d.log", rvx::process().install_dir,
           sep, sep, t.year, t.month, t.day);
  return path;
}

int Load() {
  const int32_t highest = RVX406A_LoadDevice();
  if (highest < 0) {
    fprintf(stderr, "rvxctl: LoadDevice failed: %d %s\n", highest,
            RVX406A_GetErrorString(highest));
    return 1;
  }
  const rvx::BoardTable& table = rvx::process().table;
  printf("boards: %u, axes: %u, DI: %u, DO: %u\n", table.count, table.total_axes, table.total_di,
         table.total_do);
  for (uint32_t n = 0; n < table.count; ++n) {
    const rvx::BoardRecord& r = table.board[n];
    std::string modules;
    for (int m = 0; m < 4; ++m) {
      if (r.module_present[m]) modules += (modules.empty() ? "" : ",") + std::to_string(m + 1);
    }
    printf("board %u: %u axes, %u DI, %u DO, modules %s\n", n, r.axis_count, r.di_count,
           r.do_count, modules.empty() ? "none" : modules.c_str());
  }
  printf("log: %s\n", LogPath().c_str());
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!Parse(argc, argv, &options)) {
    Usage();
    return 2;
  }
  if (options.sim) {
    rvx::os::SetEnv("RVX_DRIVER", "sim");
    rvx::sim::Reset(options.boards);
  }
  const std::string& command = options.command[0];
  int status = 2;
  if (command == "load") {
    status = Load();
  } else {
    fprintf(stderr, "rvxctl: unknown command '%s'\n", command.c_str());
    Usage();
  }
  RVX406A_UnloadDevice();
  if (options.sim) rvx::sim::RemoveNamedObjects();
  return status;
}
