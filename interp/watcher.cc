// The per-board watcher thread: it sleeps on the board's event and handles
// each interrupt the driver signals, without the library mutex.
#include <cstdlib>

#include "core/driver_port.h"
#include "core/process.h"
#include "core/registers.h"
#include "interp/events.h"
#include "platform/platform.h"

namespace rvx {
namespace {

constexpr u32 kInterruptCauseWord = 10;
constexpr u32 kCauseMotion = 0x01;
constexpr u32 kCauseInputs = 0x1E;   // modules 1..4
constexpr u32 kCauseCompare = 0xC0;  // both bits, or it is not ours to refill

// Whether a compare event that may be older than the table loaded since the
// watcher's previous wake came from the window that table replaced: the
// axis of that window stands nearer to it than the compare axis to the new
// table's first window. A tie goes to the new table: a machine that loads
// the same table again each cycle starts its new table where the old one
// started, and must see that window's event. An event raised just before the table was
// loaded reaches the watcher after it; the chip alone tells the two apart,
// and it is asked once per replacement. Under the board's compare lock.
bool RaisedByReplacedWindow(const EventTables& t, u32 board, const BoardIo& io) {
  const CompareWindow& before = t.replaced[board];
  const CompareWindow& now = t.window[board];
  if (!before.loaded) return false;
  const int64_t at = AxisIo(io, before.axis).LogicalPosition();
  const int64_t now_at = now.axis == before.axis ? at : AxisIo(io, now.axis).LogicalPosition();
  return std::llabs(at - before.position) < std::llabs(now_at - now.position);
}

// Loads the window of the next table position into the compare axis, for a
// compare event of the table now loaded; `woke_in` is the table generation
// as the watcher woke, `woke_before` as it woke the time before. The board's
// compare lock spans the register writes too, so that a table replaced
// meanwhile cannot have its first window overwritten by a stale one.
void Refill(u32 board, const BoardIo& io, u32 woke_in, u32 woke_before) {
  EventTables& t = event_tables();
  SpinGuard guard(t.compare_lock[board]);
  if (!t.compare[board].exists()) return;
  // Replaced after this wake began, the table cannot have raised its event.
  const u32 generation = t.compare_generation[board];
  if (generation != woke_in ||
      (generation != woke_before && RaisedByReplacedWindow(t, board, io))) {
    t.stale_compare_events[board]++;
    return;
  }
  const i32 position = static_cast<i32>(t.compare[board].Take());
  const u32 axis = t.compare_axis;
  const SharedSection* shared = process().shared;
  const u32 width = shared != nullptr && axis < kAxesPerBoard
                        ? LoadShared(shared->board[board].axis[axis].comp_width)
                        : 0;
  LoadCompareWindow(AxisIo(io, axis), position, width);
  t.window[board] = CompareWindow{true, axis, position};
  t.compare_events[board]++;
}

void Notify(u32 board, u32 cause) {
  const NotifyTarget target = CurrentTarget();
  const bool motion = (cause & kCauseMotion) != 0;
  const bool inputs = (cause & kCauseInputs) != 0;
  if (target.window != nullptr) {
    if (motion) os::PostMessage(target.window, target.message, board, 0);
    if (inputs) os::PostMessage(target.window, target.message, board, 0);
  }
  if (target.callback != nullptr) {
    if (motion) target.callback(board, 0);
    if (inputs) target.callback(board, 1);
  }
}

}  // namespace

uint32_t WatchBoard(void* arg) {
  Process& p = process();
  const u32 board = *static_cast<const u32*>(arg);
  const std::atomic<u32>& generation = event_tables().compare_generation[board];
  // Before the first wake, any table loaded may be newer than its event.
  u32 woke_before = generation - 1;
  for (;;) {
    os::Handle event = p.event[board];
    if (event == nullptr) return 0;
    const bool woke = os::WaitEvent(event);
    const u32 woke_in = generation;
    if (p.watcher_run != 1) return 0;
    if (!woke) continue;
    const BoardIo io = BoardChannel(board);
    // Notification stays off while the wake is handled, so a burst of
    // interrupts cannot pile up behind it.
    SendEventRequest(io.device(), ioctl::kDisableEvent, event);
    const u32 cause = io.EventWord(kInterruptCauseWord) & 0xFFu;
    if (AllSet(cause, kCauseCompare)) Refill(board, io, woke_in, woke_before);
    woke_before = woke_in;
    Notify(board, cause);
    SendEventRequest(io.device(), ioctl::kEnableEvent, event);
  }
}

}  // namespace rvx
