// The per-board watcher thread: it sleeps on the board's event and handles
// each interrupt the driver signals, without the library mutex.
#ifndef RVX_CORE_WATCHER_H_
#define RVX_CORE_WATCHER_H_

#include <cstdint>

namespace rvx {

// Thread procedure; `arg` points at the board's entry of the board-number list.
uint32_t WatchBoard(void* arg);

}  // namespace rvx

#endif  // RVX_CORE_WATCHER_H_
