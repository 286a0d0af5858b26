// The panel's side of the library: one lock for every call, the poller, the
// held jogs and the record of each axis's last move.
#include "tools/panel_core.h"

#include "include/rvx406a.h"
#include "tools/result_texts.h"

namespace rvxctl {
namespace {

constexpr uint16_t kBusy = 1u << 8;
// Two minutes of samples at the default period: a longer move keeps its start.
constexpr size_t kMostSamples = 6000;
// A board whose reads fail is read this often, not at the poller's rate.
constexpr std::chrono::seconds kRetry(1);

}  // namespace

PanelCore::PanelCore(std::chrono::milliseconds heartbeat, std::chrono::milliseconds period,
                     FILE *log)
    : heartbeat_(heartbeat), period_(period), log_(log), watcher_(kRetry, log) {}

PanelCore::~PanelCore() { Stop(); }

void PanelCore::Start() {
  Poll();
  poller_ = std::thread([this] { Run(); });
}

void PanelCore::Stop() {
  {
    std::lock_guard<std::mutex> hold(state_);
    stopping_ = true;
  }
  changed_.notify_all();
  if (poller_.joinable()) poller_.join();
  std::lock_guard<std::mutex> library(library_);
  std::lock_guard<std::mutex> hold(state_);
  for (const auto &h : held_) {
    RVX406A_Decel_Stop(h.first.first, h.first.second);
    fprintf(log_, "board %u axis %u: the panel ends, the jog gets a decelerating stop: %s\n",
            h.first.first, h.first.second, ResultName(LastResult()).c_str());
  }
  held_.clear();
  fflush(log_);
}

bool PanelCore::stopping() const {
  std::lock_guard<std::mutex> hold(state_);
  return stopping_;
}

int32_t PanelCore::LastResult() const { return RVX406A_GetErrorCode(); }

int32_t PanelCore::CallEach(std::initializer_list<Step> steps, const char **call) {
  std::lock_guard<std::mutex> hold(library_);
  int32_t code = ERR_SUCCESS;
  for (const Step &step : steps) {
    step.call();
    code = LastResult();
    *call = step.name;
    if (code != ERR_SUCCESS) break;
  }
  return code;
}

int32_t PanelCore::ReadSpeeds(uint16_t board, uint16_t axis, Speeds *s, const char **call) {
  return CallEach(
      {{"GetSpeedMode", [&] { s->shape = RVX406A_GetSpeedMode(board, axis); }},
       {"GetPosSpeed",
        [&] { RVX406A_GetPosSpeed(board, axis, &s->pos[0], &s->pos[1], &s->pos[2], &s->pos[3]); }},
       {"GetJogSpeed",
        [&] { RVX406A_GetJogSpeed(board, axis, &s->jog[0], &s->jog[1], &s->jog[2]); }},
       {"GetHomeSpeed",
        [&] { RVX406A_GetHomeSpeed(board, axis, &s->home[0], &s->home[1], &s->home[2]); }}},
      call);
}

nlohmann::json PanelCore::Snapshot(uint64_t *sequence) const {
  std::lock_guard<std::mutex> hold(state_);
  nlohmann::json boards = nlohmann::json::array();
  for (const BoardState &b : boards_) boards.push_back(ToJson(b));
  nlohmann::json jogs = nlohmann::json::array();
  for (const auto &h : held_) {
    jogs.push_back({{"board", h.first.first},
                    {"axis", h.first.second},
                    {"direction", h.second.direction ? "+" : "-"}});
  }
  if (sequence != nullptr) *sequence = sequence_;
  return {{"sequence", sequence_}, {"boards", boards}, {"jogs", jogs}};
}

bool PanelCore::WaitNewer(uint64_t seen, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> hold(state_);
  return changed_.wait_for(hold, timeout, [&] { return stopping_ || sequence_ > seen; }) &&
         !stopping_;
}

int32_t PanelCore::Jog(uint16_t board, uint16_t axis, uint16_t direction) {
  std::lock_guard<std::mutex> library(library_);
  const Key key(board, axis);
  {
    std::lock_guard<std::mutex> hold(state_);
    auto h = held_.find(key);
    const bool busy = (RVX406A_GetCardStatus(board, axis) & kBusy) != 0;
    if (h != held_.end() && h->second.direction == direction && busy &&
        LastResult() == ERR_SUCCESS) {
      h->second.deadline = Clock::now() + heartbeat_;
      return ERR_SUCCESS;
    }
  }
  // Refused (a jog the other way still running keeps its own heartbeat), or
  // a new jog held from now.
  RVX406A_Jog_Move(board, axis, direction);
  const int32_t code = LastResult();
  if (code == ERR_SUCCESS) {
    std::lock_guard<std::mutex> hold(state_);
    held_[key] = {direction, Clock::now() + heartbeat_};
  }
  return code;
}

bool PanelCore::Renew(uint16_t board, uint16_t axis, uint16_t direction) {
  std::lock_guard<std::mutex> hold(state_);
  auto h = held_.find(Key(board, axis));
  if (h == held_.end() || h->second.direction != direction) return false;
  h->second.deadline = Clock::now() + heartbeat_;
  return true;
}

int32_t PanelCore::StopAxis(uint16_t board, uint16_t axis, bool sudden) {
  std::lock_guard<std::mutex> library(library_);
  (sudden ? RVX406A_Sudden_Stop : RVX406A_Decel_Stop)(board, axis);
  const int32_t code = LastResult();
  std::lock_guard<std::mutex> hold(state_);
  held_.erase(Key(board, axis));
  return code;
}

int32_t PanelCore::StopAll(uint16_t board) {
  std::lock_guard<std::mutex> library(library_);
  const uint16_t count = RVX406A_GetAxisNum(board);
  int32_t code = LastResult();
  if (code != ERR_SUCCESS) return code;
  std::vector<uint16_t> axes;
  for (uint16_t a = 0; a < count; ++a) axes.push_back(a);
  RVX406A_Multi_Sudden_Stop(board, count, axes.data());
  code = LastResult();
  std::lock_guard<std::mutex> hold(state_);
  for (uint16_t a : axes) held_.erase(Key(board, a));
  return code;
}

size_t PanelCore::jogs() const {
  std::lock_guard<std::mutex> hold(state_);
  return held_.size();
}

ScopeRecord PanelCore::LastMove(uint16_t board, uint16_t axis) const {
  std::lock_guard<std::mutex> hold(state_);
  auto m = moves_.find(Key(board, axis));
  return m == moves_.end() ? ScopeRecord() : m->second.record;
}

void PanelCore::Poll() {
  std::lock_guard<std::mutex> library(library_);
  const Clock::time_point now = Clock::now();
  const bool changed = !watcher_.Read(now).empty();
  const std::vector<BoardState> &boards = watcher_.boards();
  std::lock_guard<std::mutex> hold(state_);
  for (auto h = held_.begin(); h != held_.end();) {
    const uint16_t board = h->first.first, axis = h->first.second;
    bool busy = false;
    if (board < boards.size() && axis < boards[board].axes.size()) {
      busy = (boards[board].axes[axis].status & kBusy) != 0;
    }
    if (!busy) {
      h = held_.erase(h);  // ended on its own: a limit, an alarm, another program's stop
    } else if (now >= h->second.deadline) {
      RVX406A_Decel_Stop(board, axis);
      fprintf(log_, "board %u axis %u: jog not renewed for %lld ms, decelerating stop: %s\n", board,
              axis, static_cast<long long>(heartbeat_.count()), ResultName(LastResult()).c_str());
      fflush(log_);
      h = held_.erase(h);
    } else {
      ++h;
    }
  }
  Record(boards, now);
  if (changed || sequence_ == 0) {
    boards_ = boards;
    ++sequence_;
    changed_.notify_all();
  }
}

void PanelCore::Record(const std::vector<BoardState> &boards, Clock::time_point now) {
  for (const BoardState &b : boards) {
    for (const AxisState &a : b.axes) {
      const bool busy = (a.status & kBusy) != 0;
      Recording &r = moves_[Key(a.board, a.axis)];
      if (busy && !r.running) {
        r = Recording();
        r.record.board = a.board;
        r.record.axes = {a.axis};
        r.record.title = "board " + std::to_string(a.board) + " axis " + std::to_string(a.axis);
        r.start = now;
        r.running = true;
      }
      if (!r.running) continue;
      if (r.record.seconds.size() < kMostSamples) {
        r.record.seconds.push_back(std::chrono::duration<double>(now - r.start).count());
        r.record.points.push_back({{a.command, a.actual, a.speed}});
      }
      r.running = busy;
    }
  }
}

void PanelCore::Run() {
  for (;;) {
    {
      std::unique_lock<std::mutex> hold(state_);
      if (changed_.wait_for(hold, period_, [this] { return stopping_; })) return;
    }
    Poll();
  }
}

}  // namespace rvxctl
