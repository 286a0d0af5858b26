// A board's state read through the exported calls, and its JSON form.
#include "tools/axis_state.h"

#include "core/process.h"
#include "include/rvx406a.h"
#include "tools/result_texts.h"

namespace rvxctl {
namespace {

// Card status bits by name; bits 7 and 10 are always 0.
struct Flag {
  int bit;
  const char *name;
};
constexpr Flag kCardStatusFlags[] = {
    {0, "HOME"},     {1, "Z"},      {2, "EMG"},       {3, "INPOS"},      {4, "ALARM"},
    {5, "+LIMIT"},   {6, "-LIMIT"}, {8, "BUSY"},      {9, "ERROR"},      {11, "HOME_OK"},
    {12, "IP_BUSY"}, {13, "OUT2"},  {14, "SERVO_ON"}, {15, "ALARM_RST"},
};

// Keeps the first failure of a run of reads.
void Note(int32_t *result) {
  const int32_t code = RVX406A_GetErrorCode();
  if (*result == ERR_SUCCESS) *result = code;
}

}  // namespace

bool AxisState::operator==(const AxisState &o) const {
  return board == o.board && axis == o.axis && status == o.status && command == o.command &&
         actual == o.actual && speed == o.speed && stop_cause == o.stop_cause && result == o.result;
}

bool BoardState::operator==(const BoardState &o) const {
  return board == o.board && axes == o.axes && inputs == o.inputs && outputs == o.outputs &&
         result == o.result;
}

AxisState ReadAxis(uint16_t board, uint16_t axis) {
  AxisState s;
  s.board = board;
  s.axis = axis;
  s.status = RVX406A_GetCardStatus(board, axis);
  Note(&s.result);
  s.command = RVX406A_GetCommandPos(board, axis);
  Note(&s.result);
  s.actual = RVX406A_GetActualPos(board, axis);
  Note(&s.result);
  s.speed = RVX406A_GetCommandSpeed(board, axis);
  Note(&s.result);
  s.stop_cause = RVX406A_GetMotionErrCod(board, axis);
  Note(&s.result);
  return s;
}

BoardState ReadBoard(uint16_t board) {
  BoardState s;
  s.board = board;
  const uint16_t axes = RVX406A_GetAxisNum(board);
  Note(&s.result);
  const uint16_t di = RVX406A_GetDiNum(board);
  Note(&s.result);
  const uint16_t dout = RVX406A_GetDoNum(board);
  Note(&s.result);
  if (s.result != ERR_SUCCESS) return s;
  for (uint16_t a = 0; a < axes; ++a) s.axes.push_back(ReadAxis(board, a));
  for (uint16_t w = 0; w < di / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDIWord(board, w, &value);
    Note(&s.result);
    s.inputs.push_back(value);
  }
  for (uint16_t w = 0; w < dout / 16; ++w) {
    uint16_t value = 0;
    RVX406A_GetDOWord(board, w, &value);
    Note(&s.result);
    s.outputs.push_back(value);
  }
  return s;
}

std::vector<BoardState> ReadBoards() {
  std::vector<BoardState> boards;
  const uint32_t count = rvx::process().table.count;
  for (uint16_t b = 0; b < count; ++b) boards.push_back(ReadBoard(b));
  return boards;
}

StateWatcher::StateWatcher(std::chrono::milliseconds retry, FILE *notes, std::string prefix)
    : retry_(retry), notes_(notes), prefix_(std::move(prefix)) {}

std::vector<StateChange> StateWatcher::Read(Clock::time_point now) {
  const uint32_t count = rvx::process().table.count;
  boards_.resize(count);
  reported_.resize(count, false);
  health_.resize(count);
  std::vector<StateChange> changes;
  for (uint16_t b = 0; b < count; ++b) {
    const bool due = !health_[b].failing || now >= health_[b].retry_at;
    if (!due && reported_[b]) continue;
    BoardState reading = due ? ReadBoard(b) : boards_[b];
    if (due) Mark(b, reading, now);
    const BoardState &was = boards_[b];
    StateChange c;
    c.board = b;
    const bool whole = !reported_[b] || reading.axes.size() != was.axes.size();
    c.board_changed = whole || reading.inputs != was.inputs || reading.outputs != was.outputs ||
                      reading.result != was.result;
    for (uint16_t a = 0; a < reading.axes.size(); ++a) {
      if (whole || reading.axes[a] != was.axes[a]) c.axes.push_back(a);
    }
    if (c.board_changed || !c.axes.empty()) changes.push_back(std::move(c));
    boards_[b] = std::move(reading);
    reported_[b] = true;
  }
  return changes;
}

void StateWatcher::Mark(uint16_t board, const BoardState &reading, Clock::time_point now) {
  int32_t code = reading.result;
  std::string where = "board " + std::to_string(board);
  for (const AxisState &a : reading.axes) {
    if (code != ERR_SUCCESS) break;
    code = a.result;
    if (code != ERR_SUCCESS) where += " axis " + std::to_string(a.axis);
  }
  Health &h = health_[board];
  const bool failing = code != ERR_SUCCESS;
  if (failing) h.retry_at = now + retry_;
  if (failing == h.failing) return;
  h.failing = failing;
  if (notes_ == nullptr) return;
  if (failing) {
    fprintf(notes_, "%s%s: reads fail with %s; read again every %lld ms until they succeed\n",
            prefix_.c_str(), where.c_str(), ResultName(code).c_str(),
            static_cast<long long>(retry_.count()));
  } else {
    fprintf(notes_, "%s%s: reads succeed again\n", prefix_.c_str(), where.c_str());
  }
  fflush(notes_);
}

void StateWatcher::Forget(uint16_t board) {
  if (board < reported_.size()) reported_[board] = false;
}

void StateWatcher::Forget() { reported_.assign(reported_.size(), false); }

std::vector<std::string> StatusFlags(uint16_t status) {
  std::vector<std::string> names;
  for (const Flag &f : kCardStatusFlags) {
    if (status & (1u << f.bit)) names.emplace_back(f.name);
  }
  return names;
}

nlohmann::json ResultJson(int32_t code) {
  const char *text = PlainText(code);
  return {{"code", code},
          {"name", RVX406A_GetErrorString(code)},
          {"text", text != nullptr ? text : ""}};
}

nlohmann::json ToJson(const AxisState &axis) {
  return {{"board", axis.board},
          {"axis", axis.axis},
          {"status", axis.status},
          {"flags", StatusFlags(axis.status)},
          {"command", axis.command},
          {"actual", axis.actual},
          {"speed", axis.speed},
          {"stop_cause", ResultJson(axis.stop_cause)},
          {"result", ResultJson(axis.result)}};
}

nlohmann::json ToJson(const BoardState &board) {
  nlohmann::json axes = nlohmann::json::array();
  for (const AxisState &a : board.axes) axes.push_back(ToJson(a));
  return {{"board", board.board},
          {"axes", axes},
          {"inputs", board.inputs},
          {"outputs", board.outputs},
          {"result", ResultJson(board.result)}};
}

}  // namespace rvxctl
