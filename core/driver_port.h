// The driver port: every request of the library goes through one table of
// three operations, chosen once per process by RVX_DRIVER.
#ifndef RVX_CORE_DRIVER_PORT_H_
#define RVX_CORE_DRIVER_PORT_H_

#include "include/rvx406a_driver.h"

namespace rvx {

// The backend of this process: the kernel driver (RVX_DRIVER unset or empty),
// the built-in simulated board ("sim"), or a driver module loaded from the
// path. Chosen at the first call; null when a module cannot be loaded.
const rvx_driver_ops* DriverPort();

}  // namespace rvx

#endif  // RVX_CORE_DRIVER_PORT_H_
