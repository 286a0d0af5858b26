// The bridge's topics and commands, and the strict reading of a command
// message: a message is acted on only when every part of it is understood.
#include "tools/bridge_protocol.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <set>

#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

using nlohmann::json;

constexpr size_t kLargestPayload = 4096;

bool AxisVerb(BridgeVerb verb) { return verb != BridgeVerb::kOutput; }

// The fields each command takes besides "command" and "id"; those marked
// required must be there.
struct Field {
  const char *name;
  bool required;
};
std::vector<Field> FieldsOf(BridgeVerb verb) {
  switch (verb) {
    case BridgeVerb::kStop:
      return {{"sudden", false}};
    case BridgeVerb::kServo:
      return {{"on", true}};
    case BridgeVerb::kOutput:
      return {{"channel", true}, {"on", true}};
    case BridgeVerb::kMove:
      return {{"distance", true}, {"absolute", false}};
    case BridgeVerb::kJog:
      return {{"direction", true}};
    case BridgeVerb::kHome:
      return {};
    case BridgeVerb::kCompare:
      return {{"start", true}, {"interval", true}, {"count", true}};
  }
  return {};
}

// A canonical decimal level: digits, no sign, no leading zero.
bool Level(const std::string &text, long long *value) {
  if (text.empty() || text.size() > 5 || text.find_first_not_of("0123456789") != text.npos ||
      (text.size() > 1 && text[0] == '0')) {
    return false;
  }
  *value = std::stoll(text);
  return true;
}

bool Flag(const json &o, const char *name, bool *out, std::string *why) {
  if (!o.contains(name)) return true;
  if (!o[name].is_boolean())
    return *why = std::string("'") + name + "' must be true or false", false;
  *out = o[name].get<bool>();
  return true;
}

bool Whole(const json &o, const char *name, long long lo, long long hi, long long *out,
           std::string *why) {
  const json &v = o[name];
  const bool whole = v.is_number_integer();
  const bool fits =
      whole && (v.is_number_unsigned() ? v.get<uint64_t>() <= uint64_t(hi)
                                       : v.get<int64_t>() >= lo && v.get<int64_t>() <= hi);
  if (!fits) {
    *why = std::string("'") + name + "' must be a whole number " + std::to_string(lo) + ".." +
           std::to_string(hi);
    return false;
  }
  *out = v.get<long long>();
  return true;
}

// Reads the payload as one JSON object whose keys each appear once: a key
// given twice would leave it to the parser which value counts.
bool ReadObject(const std::string &payload, json *object, std::string *why) {
  if (payload.size() > kLargestPayload) {
    *why = "the payload is larger than " + std::to_string(kLargestPayload) + " bytes";
    return false;
  }
  std::vector<std::set<std::string>> keys;
  std::string twice;
  // Keys by the depth of their object (the callback counts a key one level
  // below the '{' that opens its object).
  auto seen = [&](int depth, json::parse_event_t event, json &parsed) {
    const size_t level = static_cast<size_t>(depth) + 1;
    if (keys.size() <= level) keys.resize(level + 1);
    if (event == json::parse_event_t::object_start) keys[level].clear();
    if (event == json::parse_event_t::key && twice.empty() &&
        !keys[static_cast<size_t>(depth)].insert(parsed.get<std::string>()).second) {
      twice = parsed.get<std::string>();
    }
    return true;
  };
  *object = json::parse(payload, seen, false);
  if (object->is_discarded()) return *why = "the payload is not JSON", false;
  if (!object->is_object()) return *why = "the payload is not a JSON object", false;
  if (!twice.empty()) return *why = "'" + twice + "' is given twice", false;
  return true;
}

// The topic's board and axis (-1 for a board command); false when it is
// not a command topic of this tree.
bool ReadTopic(const Topics &topics, const std::string &topic, long long *board, long long *axis) {
  const std::string head = topics.root + "/board/";
  if (topic.compare(0, head.size(), head) != 0) return false;
  const std::vector<std::string> levels = Split(topic.substr(head.size()), '/');
  *axis = -1;
  if (levels.size() == 2 && levels[1] == "command") return Level(levels[0], board);
  return levels.size() == 4 && levels[1] == "axis" && levels[3] == "command" &&
         Level(levels[0], board) && Level(levels[2], axis);
}

bool ReadFields(BridgeVerb verb, const json &o, uint16_t outputs, BridgeCommand *c,
                std::string *why) {
  long long n = 0;
  switch (verb) {
    case BridgeVerb::kStop:
      return Flag(o, "sudden", &c->sudden, why);
    case BridgeVerb::kServo:
      return Flag(o, "on", &c->on, why);
    case BridgeVerb::kOutput:
      if (outputs == 0) return *why = "the board has no outputs", false;
      if (!Whole(o, "channel", 0, outputs - 1, &n, why)) return false;
      c->channel = static_cast<uint16_t>(n);
      return Flag(o, "on", &c->on, why);
    case BridgeVerb::kMove:
      if (!Whole(o, "distance", INT32_MIN, INT32_MAX, &n, why)) return false;
      c->distance = static_cast<int32_t>(n);
      return Flag(o, "absolute", &c->absolute, why);
    case BridgeVerb::kJog: {
      const json &d = o["direction"];
      if (d != "+" && d != "-") return *why = "'direction' must be \"+\" or \"-\"", false;
      c->direction = d == "+" ? 1 : 0;
      return true;
    }
    case BridgeVerb::kHome:
      return true;
    case BridgeVerb::kCompare:
      if (!Whole(o, "start", INT32_MIN, INT32_MAX, &n, why)) return false;
      c->start = static_cast<int32_t>(n);
      if (!Whole(o, "interval", INT32_MIN, INT32_MAX, &n, why)) return false;
      c->interval = static_cast<int32_t>(n);
      if (!Whole(o, "count", 1, 0xFFFF, &n, why)) return false;
      c->count = static_cast<uint16_t>(n);
      return true;
  }
  return false;
}

}  // namespace

const std::vector<std::pair<const char *, BridgeVerb>> &BridgeVerbs() {
  static const std::vector<std::pair<const char *, BridgeVerb>> verbs = {
      {"stop", BridgeVerb::kStop},      {"servo", BridgeVerb::kServo},
      {"output", BridgeVerb::kOutput},  {"move", BridgeVerb::kMove},
      {"jog", BridgeVerb::kJog},        {"home", BridgeVerb::kHome},
      {"compare", BridgeVerb::kCompare}};
  return verbs;
}

const char *VerbName(BridgeVerb verb) {
  for (const auto &v : BridgeVerbs()) {
    if (v.second == verb) return v.first;
  }
  return "?";
}

bool FindVerb(const std::string &name, BridgeVerb *verb, std::string *why) {
  std::string all;
  for (const auto &v : BridgeVerbs()) {
    if (name == v.first) return *verb = v.second, true;
    all += (all.empty() ? "" : ", ") + std::string(v.first);
  }
  *why = "'" + name + "' is not a command the bridge takes (" + all + ")";
  return false;
}

bool ParseAllowList(const std::string &text, std::vector<BridgeVerb> *allowed, std::string *why) {
  allowed->clear();
  for (const std::string &name : Split(text, ',')) {
    BridgeVerb verb{};
    if (!FindVerb(name, &verb, why)) return false;
    if (std::find(allowed->begin(), allowed->end(), verb) == allowed->end()) {
      allowed->push_back(verb);
    }
  }
  return true;
}

bool CheckTopicRoot(const std::string &prefix, const std::string &machine, std::string *why) {
  if (machine.empty() || machine.find_first_of("/+#") != machine.npos) {
    *why = "the machine name '" + machine + "' must be one topic level: not empty, no /, + or #";
    return false;
  }
  for (const std::string &level : Split(prefix, '/')) {
    if (level.empty() || level.find_first_of("+#") != level.npos) {
      *why = "the prefix '" + prefix + "' must be topic levels that are not empty, without + or #";
      return false;
    }
  }
  return true;
}

Parsed ParseCommand(const Topics &topics, const std::string &topic, const std::string &payload,
                    const std::vector<BoardShape> &boards, const std::vector<BridgeVerb> &allowed) {
  Parsed p;
  long long board = 0, axis = 0;
  if (!ReadTopic(topics, topic, &board, &axis)) {
    p.reason = "not a command topic of this bridge";
    return p;
  }
  p.reply_topic = topic.substr(0, topic.size() - 7) + "reply";
  if (board >= static_cast<long long>(boards.size())) {
    p.reason = "board " + std::to_string(board) + " does not exist";
    return p;
  }
  const BoardShape &shape = boards[static_cast<size_t>(board)];
  if (axis >= shape.axes) {
    p.reason = "axis " + std::to_string(axis) + " does not exist on board " + std::to_string(board);
    return p;
  }
  json o;
  if (!ReadObject(payload, &o, &p.reason)) return p;
  if (o.contains("id")) {
    if (!o["id"].is_string() && !o["id"].is_number_integer()) {
      p.reason = "'id' must be a string or a whole number";
      return p;
    }
    p.id = o["id"];
  }
  if (!o.contains("command") || !o["command"].is_string()) {
    p.reason = "'command' must be given, as a string";
    return p;
  }
  const std::string name = o["command"].get<std::string>();
  p.name = name;
  BridgeVerb verb{};
  if (!FindVerb(name, &verb, &p.reason)) return p;
  p.command.verb = verb;
  if (std::find(allowed.begin(), allowed.end(), verb) == allowed.end()) {
    p.reason = "'" + name + "' is not allowed on this bridge (--allow-commands)";
    return p;
  }
  if (AxisVerb(verb) != (axis >= 0)) {
    p.reason = "'" + name + "' is " + (AxisVerb(verb) ? "an axis" : "a board") +
               " command: send it to " +
               (AxisVerb(verb) ? topics.Axis(static_cast<uint16_t>(board), 0) + "/command (axis 0)"
                               : topics.Board(static_cast<uint16_t>(board)) + "/command");
    return p;
  }
  const std::vector<Field> fields = FieldsOf(verb);
  for (auto it = o.begin(); it != o.end(); ++it) {
    const bool known = it.key() == "command" || it.key() == "id" ||
                       std::any_of(fields.begin(), fields.end(),
                                   [&](const Field &f) { return it.key() == f.name; });
    if (!known) {
      p.reason = "'" + it.key() + "' is not a field of '" + name + "'";
      return p;
    }
  }
  for (const Field &f : fields) {
    if (f.required && !o.contains(f.name)) {
      p.reason = "'" + name + "' needs '" + f.name + "'";
      return p;
    }
  }
  p.command.board = static_cast<uint16_t>(board);
  p.command.axis = static_cast<uint16_t>(axis < 0 ? 0 : axis);
  p.ok = ReadFields(verb, o, shape.outputs, &p.command, &p.reason);
  return p;
}

nlohmann::json RefusalJson(const Parsed &parsed) {
  return {{"id", parsed.id},
          {"command", parsed.name.empty() ? json() : json(parsed.name)},
          {"accepted", false},
          {"reason", parsed.reason}};
}

nlohmann::json ReplyJson(const Parsed &parsed, const nlohmann::json &result) {
  return {{"id", parsed.id},
          {"command", VerbName(parsed.command.verb)},
          {"accepted", true},
          {"result", result}};
}

std::string Printable(const std::string &payload) {
  std::string shown;
  for (char c : payload.substr(0, 60)) shown += c >= 0x20 && c < 0x7F ? c : '?';
  return payload.size() > 60 ? shown + "..." : shown;
}

}  // namespace rvxctl
