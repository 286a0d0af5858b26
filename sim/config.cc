// The simulated boards described as text, for RVX_SIM and the tools.
#include <cerrno>
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

// "board3" -> 3, "axis1.2" -> 1 and 2, checked against the board and axis counts.
bool ParseIndex(const std::string& text, const char* prefix, long long count, long long* index) {
  const std::string p = prefix;
  return text.compare(0, p.size(), p) == 0 && ParseInt(text.substr(p.size()), 0, count - 1, index);
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
  const size_t dot = key.rfind('.');
  if (dot == std::string::npos) return "unknown key " + key;
  const std::string owner = key.substr(0, dot), field = key.substr(dot + 1);
  long long b = 0, a = 0;
  if (ParseIndex(owner, "board", 16, &b)) {
    BoardConfig& board = config->board[b];
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
  const size_t axis_dot = owner.find('.');
  if (axis_dot == std::string::npos || !ParseIndex(owner.substr(0, axis_dot), "axis", 16, &b) ||
      !ParseInt(owner.substr(axis_dot + 1), 0, 3, &a)) {
    return "unknown key " + key;
  }
  MachineModel m = config->board[b].machine[a];
  if (field == "limits" && ParsePair(value, &m.limit_minus, &m.limit_plus))
    m.limits = true;
  else if (field == "home" && ParsePair(value, &m.home.from, &m.home.to))
    m.home.fitted = true;
  else if (field == "near" && ParsePair(value, &m.near_home.from, &m.near_home.to))
    m.near_home.fitted = true;
  else if (field == "z" && ParseInt(value, 1, UINT32_MAX, &v))
    m.z_period = static_cast<uint32_t>(v);
  else if (field == "servo" && ParseInt(value, 0, 1, &v))
    m.servo = v != 0;
  else if (field == "alarm" && ParseInt(value, 0, 1, &v))
    m.alarm = v != 0;
  else
    return bad;
  const std::string why = CheckMachine(m);
  if (!why.empty()) return key + ": " + why;
  config->board[b].machine[a] = m;
  return "";
}

}  // namespace

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
