// rvxctl's command line: the command table and the help it gives.
#ifndef RVX_TOOLS_RVXCTL_CLI_H_
#define RVX_TOOLS_RVXCTL_CLI_H_

#include <cstdio>

#include "tools/rvxctl_common.h"

namespace rvxctl {

void Usage(FILE *out);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RVXCTL_CLI_H_
