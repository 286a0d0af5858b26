// What belongs to one process only: the board table, handles, the last
// result, the move and home tables. One instance per loaded library.
#ifndef RVX_CORE_PROCESS_H_
#define RVX_CORE_PROCESS_H_

#include <atomic>
#include <mutex>

#include "core/shared_state.h"
#include "core/types.h"
#include "include/rvx406a_driver.h"
#include "platform/platform.h"

namespace rvx {

constexpr int kPathSize = 260;
constexpr int kBoardConfigSize = 168;

struct ContiEntry;  // interp/interp.h

struct BoardRecord {
  void* handle;  // driver device; null when the board is not open
  u32 kind;      // 196
  u32 axis_count;
  u32 first_axis;
  u32 di_count;
  u32 di_base;
  u32 do_count;
  u32 do_base;
  u32 module_present[4];  // modules 1..4
};

struct BoardTable {
  u32 count;
  u32 total_axes;
  u32 total_di;
  u32 total_do;
  BoardRecord board[kMaxBoards];
};

// Operating-system calls of loading that a test can make fail.
enum class OsCall : u32 {
  kCreateMutex,        // the library mutex
  kOpenSection,        // the shared section
  kOpenParameterFile,  // RVXPRM<n>.DAT
  kOpenLogFile,        // the day's log file
  kCreateThread,       // a board's watcher thread
};

// Test seams: where the clock and the processor architecture come from, and
// which operating-system calls fail.
struct ProcessSeams {
  os::LocalTime (*local_time)() = nullptr;  // null: the system clock
  int architecture = -1;                    // -1: the real one
  u32 failing_calls = 0;                    // bit per OsCall; 0: none fail
  u32 files_opened = 0;                     // parameter and log level file opens
  // Bytes a file save writes before it stops as a killed process would; -1: all.
  int64_t save_stops_after = -1;
  // Runs in a first load once it holds the library mutex (a test dies there).
  void (*in_first_load)() = nullptr;

  void Fail(OsCall call) { failing_calls |= 1u << static_cast<u32>(call); }
  bool Fails(OsCall call) const { return Bit(failing_calls, static_cast<u32>(call)) != 0; }
};

struct Process {
  BoardTable table;
  char install_dir[kPathSize];
  std::atomic<i32> last_result{0};

  // Taken before the library mutex by every call of the process, so that
  // Load and Unload can replace the mutex handle and the board table while
  // other threads queue for them. Lives as long as the process.
  os::ThreadLock calls;
  os::Handle mutex = nullptr;
  os::Handle loaded = nullptr;  // the marker of a finished or running first load
  os::Handle section = nullptr;
  SharedSection* shared = nullptr;  // stays mapped once mapped
  bool first_loader = true;         // cleared when a load joins; never set again

  const rvx_driver_ops* driver = nullptr;  // chosen at the first load
  u32 pid = 0;  // this process's id, taken at each load: it marks the chip locks it holds
  bool driver_chosen = false;
  u8 board_config[kMaxBoards][kBoardConfigSize];

  std::atomic<os::Handle> event[kMaxBoards] = {};
  // Driver signals under way: an event is closed only once none is, so a
  // driver may signal without holding off the watcher's own requests.
  std::atomic<u32> signalling{0};
  os::Handle watcher[kMaxBoards] = {};
  u32* board_numbers = nullptr;
  std::atomic<int> watcher_run{0};

  char line[kPathSize];  // call log line
  char error_text[kPathSize];

  u32 move_table[kMaxBoards][kTableAxes];
  u16 home_table[kMaxBoards][kTableAxes];
  ContiEntry* conti_table = nullptr;  // the continuous interpolation table, when created
  // What RVX406A_GetCurContiNum answers, kept beside the table by every call
  // that changes it: that function reads without the mutex, and a table
  // freed meanwhile must not be what it reads.
  std::atomic<u16> conti_number{0};

  ProcessSeams seams;
};

// The process's one instance.
Process& process();

// Per-process move table values: what this process last started on an axis.
enum MoveKind : u32 { kNoMove = 0, kRelativeMove = 1, kAbsoluteMove = 2, kContinuousMove = 3 };
// The move table entry of an axis, and its home table entry (1 while a search
// this process started awaits its verdict).
inline u32& MoveTableEntry(u32 board, u32 axis) { return process().move_table[board][axis]; }
inline u16& HomeTableEntry(u32 board, u32 axis) { return process().home_table[board][axis]; }

// The watcher thread procedure of a board, started by LoadDevice; `arg`
// points at the board's entry of the board-number list. Events belong to
// the interpolation and trigger layer, which defines it.
uint32_t WatchBoard(void* arg);

}  // namespace rvx

#endif  // RVX_CORE_PROCESS_H_
