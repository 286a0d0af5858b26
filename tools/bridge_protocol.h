// What the bridge says on the broker and what it takes from it: the topic
// tree, the commands a message may carry and how a message becomes one.
// Nothing here calls the library or the broker.
#ifndef RVX_TOOLS_BRIDGE_PROTOCOL_H_
#define RVX_TOOLS_BRIDGE_PROTOCOL_H_

#include <cstdint>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

namespace rvxctl {

// The commands a message may name, in the order of the help.
enum class BridgeVerb { kStop, kServo, kOutput, kMove, kJog, kHome, kCompare };
const std::vector<std::pair<const char *, BridgeVerb>> &BridgeVerbs();
const char *VerbName(BridgeVerb verb);
bool FindVerb(const std::string &name, BridgeVerb *verb, std::string *why);

// "stop,servo,output" into the verbs it names; false and `why` for a name
// that is not a command.
bool ParseAllowList(const std::string &text, std::vector<BridgeVerb> *allowed, std::string *why);

// `<prefix>/<machine>`: the root of one machine's topics. A level may not be
// empty or hold a wildcard; the machine is one level.
bool CheckTopicRoot(const std::string &prefix, const std::string &machine, std::string *why);

struct Topics {
  std::string root;
  std::string Presence() const { return root + "/presence"; }
  std::string Board(uint16_t b) const { return root + "/board/" + std::to_string(b); }
  std::string BoardState(uint16_t b) const { return Board(b) + "/state"; }
  std::string Axis(uint16_t b, uint16_t a) const { return Board(b) + "/axis/" + std::to_string(a); }
  std::string AxisState(uint16_t b, uint16_t a) const { return Axis(b, a) + "/state"; }
  std::string Event(uint16_t b) const { return Board(b) + "/event"; }
  // The command topics the bridge subscribes to.
  std::vector<std::string> CommandFilters() const {
    return {root + "/board/+/command", root + "/board/+/axis/+/command"};
  }
};

// What a board offers commands: its axes and outputs.
struct BoardShape {
  uint16_t axes = 0, outputs = 0;
};

// A command as a message gave it, checked in full.
struct BridgeCommand {
  BridgeVerb verb = BridgeVerb::kStop;
  uint16_t board = 0, axis = 0;
  bool sudden = false;     // stop
  bool on = false;         // servo, output
  uint16_t channel = 0;    // output
  int32_t distance = 0;    // move: a distance, or a position when absolute
  bool absolute = false;   // move
  uint16_t direction = 0;  // jog: 1 +, 0 -
  int32_t start = 0, interval = 0;
  uint16_t count = 0;  // compare
};

// The outcome of reading one message: a command, or why there is none. The
// reply goes to `reply_topic` (empty when the topic itself is not ours) and
// carries `id` as the message gave it.
struct Parsed {
  bool ok = false;
  BridgeCommand command;
  std::string name;  // the command as the message named it, if it did
  std::string reason;
  std::string reply_topic;
  nlohmann::json id;  // null when none was given or readable
};

// Reads a message on a command topic under `topics.root`. Anything not fully
// understood is refused: a topic not of this tree, a board or axis that does
// not exist, a payload that is not one JSON object, an unknown or unallowed
// command, a missing, extra or mistyped field, a value out of range.
Parsed ParseCommand(const Topics &topics, const std::string &topic, const std::string &payload,
                    const std::vector<BoardShape> &boards, const std::vector<BridgeVerb> &allowed);

// The reply to a message: {"id","command","accepted","result"|"reason"}.
nlohmann::json RefusalJson(const Parsed &parsed);
nlohmann::json ReplyJson(const Parsed &parsed, const nlohmann::json &result);

// The payload as a log line may show it: at most 60 characters, anything
// unprintable as '?'.
std::string Printable(const std::string &payload);

}  // namespace rvxctl

#endif  // RVX_TOOLS_BRIDGE_PROTOCOL_H_
