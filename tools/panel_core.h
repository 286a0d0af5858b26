// What the commissioning panel does with the boards, apart from HTTP: every
// library call behind one lock (the result code is the process's, so a call
// and its GetErrorCode must not be split by another thread's call), a poller
// that reads the boards and wakes the live feeds when anything changed, the
// hold-to-run jogs and their heartbeat, and the record of each axis's last
// move.
#ifndef RVX_TOOLS_PANEL_CORE_H_
#define RVX_TOOLS_PANEL_CORE_H_

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "tools/axis_state.h"
#include "tools/scope_plot.h"

namespace rvxctl {

class PanelCore {
 public:
  using Clock = std::chrono::steady_clock;

  // `heartbeat`: how long a jog runs without a renewal; `period`: how often
  // the boards are read (a board whose reads fail, every second). Lines
  // about stops the panel made and boards that fail go to `log`.
  PanelCore(std::chrono::milliseconds heartbeat, std::chrono::milliseconds period, FILE *log);
  ~PanelCore();
  PanelCore(const PanelCore &) = delete;
  PanelCore &operator=(const PanelCore &) = delete;

  void Start();
  // Ends the poller, wakes every feed and gives each axis still jogging a
  // decelerating stop.
  void Stop();
  bool stopping() const;

  // Runs `calls` with the library to this thread alone; the result code of
  // the last of them.
  template <class F>
  int32_t Call(F calls) {
    std::lock_guard<std::mutex> hold(library_);
    calls();
    return LastResult();
  }

  // One call of a run, by the name a refusal gives it.
  struct Step {
    const char *name;
    std::function<void()> call;
  };
  // Runs `steps` in order with the library to this thread alone, up to the
  // first that fails: its result code, and in `*call` its name (the last
  // step's when every one succeeds).
  int32_t CallEach(std::initializer_list<Step> steps, const char **call);

  struct Speeds {
    uint16_t shape = 0;  // 1: S-curve
    uint32_t pos[4] = {}, jog[3] = {}, home[3] = {};
  };
  // An axis's speed settings as one run of reads; see CallEach.
  int32_t ReadSpeeds(uint16_t board, uint16_t axis, Speeds *speeds, const char **call);

  // The boards as last read, and the number of that reading.
  nlohmann::json Snapshot(uint64_t *sequence) const;
  // Waits until a reading newer than `seen` or `timeout`; false on timeout or
  // when stopping.
  bool WaitNewer(uint64_t seen, std::chrono::milliseconds timeout) const;

  // Starts a jog, or renews the one in the same direction still running.
  int32_t Jog(uint16_t board, uint16_t axis, uint16_t direction);
  // Renews a running jog only: false when it has ended (released, stopped,
  // at a limit), so that a renewal late on the wire cannot start it again.
  bool Renew(uint16_t board, uint16_t axis, uint16_t direction);
  // A stop of the panel's own: the axis is no longer jogged by a held button.
  int32_t StopAxis(uint16_t board, uint16_t axis, bool sudden);
  int32_t StopAll(uint16_t board);
  size_t jogs() const;

  // The last move of an axis (empty before the first).
  ScopeRecord LastMove(uint16_t board, uint16_t axis) const;

  // One reading of the boards: the feed's readings, the jogs that stopped
  // being renewed, the moves' records. The poller's turn, public so that a
  // test can take it without the thread.
  void Poll();

 private:
  using Key = std::pair<uint16_t, uint16_t>;
  struct Held {
    uint16_t direction;
    Clock::time_point deadline;
  };
  struct Recording {
    ScopeRecord record;
    Clock::time_point start;
    bool running = false;
  };

  int32_t LastResult() const;
  void Record(const std::vector<BoardState> &boards, Clock::time_point now);
  void Run();

  const std::chrono::milliseconds heartbeat_, period_;
  FILE *const log_;

  mutable std::mutex library_;  // every call into the library, and the watcher
  StateWatcher watcher_;

  mutable std::mutex state_;  // what follows
  mutable std::condition_variable changed_;
  std::vector<BoardState> boards_;
  uint64_t sequence_ = 0;
  bool stopping_ = false;
  std::map<Key, Held> held_;
  std::map<Key, Recording> moves_;

  std::thread poller_;
};

}  // namespace rvxctl

#endif  // RVX_TOOLS_PANEL_CORE_H_
