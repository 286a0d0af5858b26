// What a board shows at one moment: each axis's status, positions, speed and
// last stop cause, and the digital words. Read through the exported calls, so
// the panel and the bridge see exactly what any other program would.
#ifndef RVX_TOOLS_AXIS_STATE_H_
#define RVX_TOOLS_AXIS_STATE_H_

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rvxctl {

struct AxisState {
  uint16_t board = 0, axis = 0;
  uint16_t status = 0;  // card status word
  int32_t command = 0, actual = 0, speed = 0;
  int32_t stop_cause = 0;  // motion error code of the last stop
  int32_t result = 0;      // ERR_SUCCESS, or the code of the first read that failed

  bool operator==(const AxisState &o) const;
  bool operator!=(const AxisState &o) const { return !(*this == o); }
};

struct BoardState {
  uint16_t board = 0;
  std::vector<AxisState> axes;
  std::vector<uint16_t> inputs, outputs;  // 16 channels per word
  int32_t result = 0;

  bool operator==(const BoardState &o) const;
  bool operator!=(const BoardState &o) const { return !(*this == o); }
};

AxisState ReadAxis(uint16_t board, uint16_t axis);
BoardState ReadBoard(uint16_t board);
std::vector<BoardState> ReadBoards();  // every board LoadDevice found

// What one reading changed on a board: its own words (inputs, outputs,
// result, number of axes) and the axes whose state differs.
struct StateChange {
  uint16_t board = 0;
  bool board_changed = false;
  std::vector<uint16_t> axes;

  bool operator==(const StateChange &o) const {
    return board == o.board && board_changed == o.board_changed && axes == o.axes;
  }
};

// Reads every board LoadDevice found and tells what changed since the last
// reading, so the panel and the bridge decide alike what is new. How often
// it reads is the caller's choice; it calls the library, so it is used from
// the one thread (or under the one lock) that makes the caller's calls.
//
// A board whose reads fail is read again only after `retry`: read at the
// caller's rate it would write a line to the library's log each time. Its
// last reading stands meanwhile. `notes`, when given, hears once when a
// board starts failing and once when it recovers, each line after `prefix`.
class StateWatcher {
 public:
  using Clock = std::chrono::steady_clock;

  explicit StateWatcher(std::chrono::milliseconds retry = std::chrono::seconds(1),
                        FILE *notes = nullptr, std::string prefix = "");

  // Reads the boards due at `now`; the changes since the last reading, by
  // board. The first reading, and a board forgotten since, is reported in
  // full.
  std::vector<StateChange> Read(Clock::time_point now = Clock::now());
  // The boards as last read.
  const std::vector<BoardState> &boards() const { return boards_; }
  // The next reading reports `board` (or every board) in full, as new.
  void Forget(uint16_t board);
  void Forget();

 private:
  struct Health {
    bool failing = false;
    Clock::time_point retry_at;
  };
  // Keeps whether a fresh reading failed, when to read a failing board
  // again, and says when a board starts or stops failing.
  void Mark(uint16_t board, const BoardState &reading, Clock::time_point now);

  const std::chrono::milliseconds retry_;
  FILE *const notes_;
  const std::string prefix_;
  std::vector<BoardState> boards_;
  std::vector<bool> reported_;  // by board: false until reported in full
  std::vector<Health> health_;
};

// The names of the card status bits that are set ("BUSY", "+LIMIT", ...).
std::vector<std::string> StatusFlags(uint16_t status);

// {"code": -3, "name": "ERR_...", "text": "..."}
nlohmann::json ResultJson(int32_t code);
// {"board","axis","status","flags":[..],"command","actual","speed",
//  "stop_cause":{code,name,text},"result":{code,name,text}}
nlohmann::json ToJson(const AxisState &axis);
// {"board","axes":[..],"inputs":[words],"outputs":[words],"result":{..}}
nlohmann::json ToJson(const BoardState &board);

}  // namespace rvxctl

#endif  // RVX_TOOLS_AXIS_STATE_H_
