#include "core/watcher.h"

#include "core/driver_port.h"
#include "core/process.h"
#include "core/registers.h"

namespace rvx {
namespace {

constexpr u32 kInterruptCauseWord = 10;

}  // namespace

uint32_t WatchBoard(void* arg) {
  Process& p = process();
  const u32 board = *static_cast<const u32*>(arg);
  for (;;) {
    os::Handle event = p.event[board];
    if (event == nullptr) return 0;
    const bool woke = os::WaitEvent(event);
    if (p.watcher_run != 1) return 0;
    if (!woke) continue;
    void* device = p.table.board[board].handle;
    // Notification stays off while the wake is handled, so a burst of
    // interrupts cannot pile up behind it.
    SendEventRequest(device, ioctl::kDisableEvent, event);
    const u16 cause = BoardIo(device).EventWord(kInterruptCauseWord);
    (void)cause;  // delivery to the application comes with the event functions
    SendEventRequest(device, ioctl::kEnableEvent, event);
  }
}

}  // namespace rvx
