// The driver port: every request of the library goes through one table of
// three operations, chosen once per process by RVX_DRIVER.
#ifndef RVX_CORE_DRIVER_PORT_H_
#define RVX_CORE_DRIVER_PORT_H_

#include "core/types.h"
#include "include/rvx406a_driver.h"
#include "platform/platform.h"

namespace rvx {

// The backend of this process: the kernel driver (RVX_DRIVER unset or empty),
// the built-in simulated board ("sim"), or a driver module loaded from the
// path. Chosen at the first call; null when a module cannot be loaded.
const rvx_driver_ops* DriverPort();

// The built-in simulated board's entry, defined by the simulator: it is
// reached like a driver module's entry, so the port knows no simulator code.
const rvx_driver_ops* BuiltinSimEntry(const rvx_driver_host* host);

// Registers `event` with the board's driver, or enables or disables its
// notification (ioctl::kRegisterEvent, kEnableEvent, kDisableEvent): the
// request carries the event's 8-byte value, which the driver signals back.
void SendEventRequest(void* device, u32 code, os::Handle event);

// Empties board `board`'s event slot and closes the event once no driver
// signal that may have found it is under way.
void CloseBoardEvent(u32 board);

}  // namespace rvx

#endif  // RVX_CORE_DRIVER_PORT_H_
