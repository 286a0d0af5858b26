// The simulated boards described as text, for RVX_SIM and the tools.
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <string>

#include "sim/sim.h"

namespace rvx::sim {
namespace {

bool ParseInt(const std::string& text, long long low, long long high, long long* value) {
  if (text.empty()) return false;
  char* end = nullptr;
  errno = 0;
  const long long v = std::strtoll(text.c_str(), &end, 0);
  if (errno != 0 || *end != '\0' || v < low || v > high) return false;
  *value = v;
  return true;
}

bool ParsePair(const std::string& text, int32_t* first, int32_t* second) {
  const size_t colon = text.find(':');
  long long a = 0, b = 0;
  if (colon == std::string::npos || !ParseInt(text.substr(0, colon), INT32_MIN, INT32_MAX, &a) ||
      !ParseInt(text.substr(colon + 1), INT32_MIN, INT32_MAX, &b)) {
    return false;
  }
  *first = static_cast<int32_t>(a);
  *second = static_cast<int32_t>(b);
  return true;
}

// "none" takes a sensor off the machine.
bool ParseWindow(const std::string& text, bool* fitted, int32_t* from, int32_t* to) {
  if (text == "none") return *fitted = false, true;
  return *fitted = ParsePair(text, from, to);
}

std::string Item(const std::string& key, const std::string& value, Config* config) {
  long long v = 0;
  const std::string bad = "bad value \"" + value + "\" for " + key;
  if (key == "boards") {
    if (!ParseInt(value, 0, 16, &v)) return bad + " (0..16)";
    config->board_count = static_cast<uint32_t>(v);
    return "";
  }
  if (key == "clock") {
    if (value != "real" && value != "stepped") return bad + " (real or stepped)";
    config->clock = value == "real" ? Clock::kReal : Clock::kStepped;
    return "";
  }
  if (key == "machine") {
    if (value != "default" && value != "bare") return bad + " (default or bare)";
    for (BoardConfig& board : config->board) {
      for (MachineModel& m : board.machine) m = value == "bare" ? MachineModel{} : DefaultMachine();
    }
    return "";
  }
  const std::string known =
      "; the keys are boards, clock, machine, board<B>.type|modules|swap|id|absent|emergency "
      "and axis<B>.<A>.limits|home|near|z|servo|alarm";
  const size_t dot = key.rfind('.');
  if (dot == std::string::npos) return "unknown key " + key + known;
  const std::string owner = key.substr(0, dot), field = key.substr(dot + 1);
  long long b = 0, a = 0;
  auto board_number = [&](const std::string& prefix, const std::string& text) {
    return text.compare(0, prefix.size(), prefix) == 0 &&
           ParseInt(text.substr(prefix.size()), 0, LLONG_MAX, &b);
  };
  const size_t axis_dot = owner.find('.');
  const bool board_key = board_number("board", owner);
  const bool axis_key = !board_key && axis_dot != std::string::npos &&
                        board_number("axis", owner.substr(0, axis_dot)) &&
                        ParseInt(owner.substr(axis_dot + 1), 0, LLONG_MAX, &a);
  if (!board_key && !axis_key) return "unknown key " + key + known;
  if (b >= 16) return key + ": board " + std::to_string(b) + " does not exist: boards are 0..15";
  if (a >= 4) return key + ": axis " + std::to_string(a) + " does not exist: axes are 0..3";
  if (board_key) {
    BoardConfig& board = config->board[b];
    const bool field_known = field == "type" || field == "modules" || field == "swap" ||
                             field == "id" || field == "absent" || field == "emergency";
    if (!field_known) return "unknown key " + key + known;
    if (field == "type" && ParseInt(value, 0, 7, &v))
      board.type_code = static_cast<uint8_t>(v);
    else if (field == "modules" && ParseInt(value, 0, 15, &v))
      board.module_bits = static_cast<uint8_t>(v);
    else if (field == "swap" && ParseInt(value, 0, 1, &v))
      board.byte_swap = v != 0;
    else if (field == "id" && ParseInt(value, 0, 255, &v))
      board.board_id = static_cast<uint8_t>(v);
    else if (field == "absent" && ParseInt(value, 0, 1, &v))
      board.present = v == 0;
    else if (field == "emergency" && ParseInt(value, 0, 1, &v))
      config->emergency =
          static_cast<uint16_t>(v ? config->emergency | 1u << b : config->emergency & ~(1u << b));
    else
      return bad;
    return "";
  }
  const bool field_known = field == "limits" || field == "home" || field == "near" ||
                           field == "z" || field == "servo" || field == "alarm";
  if (!field_known) return "unknown key " + key + known;
  MachineModel m = config->board[b].machine[a];
  if (field == "limits" && ParseWindow(value, &m.limits, &m.limit_minus, &m.limit_plus)) {
  } else if (field == "home" && ParseWindow(value, &m.home.fitted, &m.home.from, &m.home.to)) {
  } else if (field == "near" &&
             ParseWindow(value, &m.near_home.fitted, &m.near_home.from, &m.near_home.to)) {
  } else if (field == "z" && ParseInt(value, 1, UINT32_MAX, &v)) {
    m.z_period = static_cast<uint32_t>(v);
  } else if (field == "servo" && ParseInt(value, 0, 1, &v)) {
    m.servo = v != 0;
  } else if (field == "alarm" && ParseInt(value, 0, 1, &v)) {
    m.alarm = v != 0;
  } else {
    return bad;
  }
  const std::string why = CheckMachine(m);
  if (!why.empty()) return key + ": " + why;
  config->board[b].machine[a] = m;
  return "";
}

}  // namespace

MachineModel DefaultMachine() {
  MachineModel m;
  m.limits = true;
  m.limit_minus = -1000000;
  m.limit_plus = 1000000;
  m.near_home = {true, -12000, -8000};
  m.home = {true, -9000, -8900};
  return m;
}

Config DefaultBoards() {
  Config config;
  for (BoardConfig& board : config.board) {
    for (MachineModel& m : board.machine) m = DefaultMachine();
  }
  return config;
}

std::string ParseConfig(const std::string& text, Config* config) {
  Config result = *config;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find_first_of("; \t\n", at);
    const std::string item =
        text.substr(at, end == std::string::npos ? std::string::npos : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    if (item.empty()) continue;
    const size_t equals = item.find('=');
    if (equals == std::string::npos) return "\"" + item + "\" is not key=value";
    const std::string error = Item(item.substr(0, equals), item.substr(equals + 1), &result);
    if (!error.empty()) return error;
  }
  *config = result;
  return "";
}

}  // namespace rvx::sim
