// rvxctl serve: the commissioning panel. Its options and where it finds the
// page's files; the server itself is in panel_server.cc.
#include <filesystem>
#include <string>
#include <vector>

#include "platform/platform.h"
#include "tools/panel_access.h"
#include "tools/panel_server.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

// Installed, the files are in share/rvxctl/panel beside bin/; in the build
// tree, in panel/ beside the program.
std::string FindAssets() {
  const std::filesystem::path program = rvx::os::ExecutablePath();
  const std::filesystem::path dir = program.parent_path();
  for (const std::filesystem::path &candidate :
       {dir / ".." / "share" / "rvxctl" / "panel", dir / "panel"}) {
    std::error_code error;
    if (std::filesystem::exists(candidate / "index.html", error)) {
      return candidate.lexically_normal().string();
    }
  }
  return (dir / "panel").string();
}

int Serve(const Args &args) {
  PanelOptions options;
  if (args.Has("--port") &&
      !Number(args.flags.at("--port"), "--port", 0, 65535, &options.port, "0 for any free port")) {
    return 2;
  }
  if (args.Has("--bind")) options.bind = args.flags.at("--bind");
  if (args.Has("--token")) options.token = args.flags.at("--token");
  if (args.Has("--token") && options.token.size() < 8) {
    return Refuse("--token", options.token, "' is too short: at least 8 characters");
  }
  options.read_only = args.Has("--read-only");
  options.assets = args.Has("--assets") ? args.flags.at("--assets") : FindAssets();
  if (options.bind.empty()) return Refuse("--bind", options.bind, "' names no address");
  if (!PanelBuilt()) return RunPanel(options);
  if (!IsLoopback(options.bind) && options.token.empty()) {
    options.token = NewToken();
    fprintf(stderr,
            "rvxctl: serve: %s reaches other machines, so every request must carry a token; "
            "this run's is %s (--token T chooses one)\n",
            options.bind.c_str(), options.token.c_str());
  }
  return RunPanel(options);
}

}  // namespace

std::vector<Command> ServeCommands() {
  return {
      {"serve",
       "serve [--port N] [--bind ADDR] [--token T] [--read-only] [--assets DIR]",
       "the commissioning panel in a browser (default http://127.0.0.1:8406/): axes, inputs "
       "and outputs live; servo, jog, moves, home, stops, speeds, parameter file; until Ctrl-C",
       {},
       {{"--port", "N", "port to listen on (default 8406; 0: any free port)"},
        {"--bind", "ADDR",
         "address to listen on (default 127.0.0.1); any other needs a token, made when not given"},
        {"--token", "T", "every request must carry T (at least 8 characters)"},
        {"--read-only", nullptr, "the overview and plots only: every action is refused"},
        {"--assets", "DIR", "the page's files (default: installed beside rvxctl)"}},
       Serve},
  };
}

}  // namespace rvxctl
