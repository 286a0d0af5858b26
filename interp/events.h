// Per-process state that the exported event and compare-trigger calls share
// with the watcher threads: the notification target and the compare tables.
// Exported calls change it under the library mutex; the watcher threads run
// without that mutex, so every piece they read sits behind a small lock of
// its own here.
#ifndef RVX_INTERP_EVENTS_H_
#define RVX_INTERP_EVENTS_H_

#include <atomic>
#include <vector>

#include "core/types.h"
#include "include/rvx406a.h"
#include "platform/platform.h"

namespace rvx {

// A lock for a few instructions' worth of work. The Windows toolchain has no
// std::mutex, and a kernel object would be overkill for what it guards. The
// watchers take it at raised priority, so a contended taker must sleep.
class SpinLock {
 public:
  void lock() { lock_.lock(); }
  void unlock() { lock_.unlock(); }

 private:
  os::WordLock lock_;
};

class SpinGuard {
 public:
  explicit SpinGuard(SpinLock& lock) : lock_(lock) { lock_.lock(); }
  ~SpinGuard() { lock_.unlock(); }
  SpinGuard(const SpinGuard&) = delete;
  SpinGuard& operator=(const SpinGuard&) = delete;

 private:
  SpinLock& lock_;
};

// Where the watcher threads send what they saw: a window and message number,
// or a callback; never both.
struct NotifyTarget {
  void* window = nullptr;
  u32 message = 0;
  RVX406A_EVENT_CALLBACK callback = nullptr;
};

// The compare positions of one board, handed out in the order given and
// then again from the first, for as long as the table exists.
class CompareTable {
 public:
  bool exists() const { return !slots_.empty(); }
  // Replaces the table with an empty one of `capacity` slots (1..255).
  void Create(u32 capacity);
  void Free();
  void Add(f64 position);
  // The next position; 0 without a table.
  f64 Take();

 private:
  std::vector<f64> slots_;
  u32 write_ = 0;
  u32 read_ = 0;
};

// A compare window as the library last loaded it into an axis.
struct CompareWindow {
  bool loaded = false;
  u32 axis = 0;
  i32 position = 0;  // the trigger position p of COMP- = p - 1, COMP+ = p + width + 1
};

struct EventTables {
  SpinLock target_lock;
  NotifyTarget target;  // process-wide, common to all boards

  // One lock per board keeps a refill by the watcher whole against a table
  // replaced or freed by an exported call: no torn window, no freed slots.
  SpinLock compare_lock[kMaxBoards];
  CompareTable compare[kMaxBoards];
  u32 compare_axis = 0;  // process-wide; guarded by the lock of the board in use
  // Per board, under its lock: bumped by every call that replaces or drops
  // the table, so that the watcher tells a compare event of the table before
  // from one of the table now loaded.
  std::atomic<u32> compare_generation[kMaxBoards] = {};
  CompareWindow window[kMaxBoards];    // in the chip now
  CompareWindow replaced[kMaxBoards];  // in the chip until the table now loaded replaced it
  // Compare events served per board, and those left alone as the previous
  // table's, for tools that show them.
  std::atomic<u32> compare_events[kMaxBoards] = {};
  std::atomic<u32> stale_compare_events[kMaxBoards] = {};
};

// The process's one instance.
EventTables& event_tables();

class AxisIo;
// COMP- <- position - 1 (0x0C), COMP+ <- position + width + 1 (0x0B).
void LoadCompareWindow(const AxisIo& axis, i32 position, u32 width);

// The notification target as it stands.
NotifyTarget CurrentTarget();

// A shared-memory u32 read or written while another thread may change it
// (the compare width, read by the watcher without the library mutex).
inline u32 LoadShared(const u32& value) { return __atomic_load_n(&value, __ATOMIC_RELAXED); }
inline void StoreShared(u32& value, u32 v) { __atomic_store_n(&value, v, __ATOMIC_RELAXED); }

}  // namespace rvx

#endif  // RVX_INTERP_EVENTS_H_
