// What rvxctl says about the boards beside the commands: why a load failed
// and which versions it runs with.
#ifndef RVX_TOOLS_RVXCTL_BOARD_H_
#define RVX_TOOLS_RVXCTL_BOARD_H_

#include <cstdint>

namespace rvxctl {

// After a failed LoadDevice: what was tried, why it failed where the system
// says so, and what to try next.
void ExplainLoadFailure(int32_t code);
// The tool's version and that of the library file beside it (read only
// when `loaded`).
void PrintVersions(bool loaded);

}  // namespace rvxctl

#endif  // RVX_TOOLS_RVXCTL_BOARD_H_
