// rvxctl serve: the commissioning panel, a page and a small JSON API over
// the boards this run loaded.
#ifndef RVX_TOOLS_PANEL_SERVER_H_
#define RVX_TOOLS_PANEL_SERVER_H_

#include <cstdint>
#include <string>

namespace rvxctl {

struct PanelOptions {
  std::string bind = "127.0.0.1";
  uint16_t port = 8406;  // 0: any free port (the address printed names it)
  std::string token;     // asked of every request when not empty
  bool read_only = false;
  std::string assets;  // the page's files
};

// Serves until a termination signal; the exit status.
int RunPanel(const PanelOptions &options);

// Whether this build has the server (the command refuses where it has not).
bool PanelBuilt();

}  // namespace rvxctl

#endif  // RVX_TOOLS_PANEL_SERVER_H_
