// The bridge in a build without libmosquitto (the Windows cross build).
#include <cstdio>

#include "tools/rvxctl_common.h"

namespace rvxctl {

int Bridge(const Args &) {
  fprintf(stderr,
          "rvxctl: bridge: this rvxctl was built without an MQTT client library; build it "
          "where libmosquitto is installed (Debian: libmosquitto-dev)\n");
  return 1;
}

}  // namespace rvxctl
