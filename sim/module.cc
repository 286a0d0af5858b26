// The simulated board as a loadable driver module: RVX_DRIVER=<path of this
// module> gives the library the same boards as the built-in RVX_DRIVER=sim.
#ifndef RVX406A_BUILDING
#define RVX406A_BUILDING  // RVX406A_API then exports rather than imports
#endif
#include "include/rvx406a.h"
#include "include/rvx406a_driver.h"
#include "sim/sim.h"

extern "C" RVX406A_API const rvx_driver_ops* rvx_driver_entry(const rvx_driver_host* host) {
  return rvx::sim::DriverEntry(host);
}
