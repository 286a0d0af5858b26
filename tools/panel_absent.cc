// Builds without an HTTP library keep the command, which says why it cannot
// serve.
#include <cstdio>

#include "tools/panel_server.h"

namespace rvxctl {

bool PanelBuilt() { return false; }

int RunPanel(const PanelOptions &) {
  fprintf(stderr,
          "rvxctl: serve: this build of rvxctl has no HTTP server (it is built where "
          "cpp-httplib is found: Debian's libcpp-httplib-dev)\n");
  return 1;
}

}  // namespace rvxctl
