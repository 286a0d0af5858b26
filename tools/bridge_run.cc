// rvxctl bridge: the boards on an MQTT broker. One thread (this one) makes
// every library call: it reads the state, takes the events the watcher
// callback counts and runs the commands the broker's thread hands over. The
// broker's thread never calls the library and this one never waits for the
// network, so a broker that goes away holds up nothing on the board.
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

#include "include/rvx406a.h"
#include "interp/events.h"
#include "platform/platform.h"
#include "tools/axis_state.h"
#include "tools/bridge_protocol.h"
#include "tools/mqtt_link.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

using nlohmann::json;

constexpr uint16_t kMaxBoards = 16;

// Wakes of the watcher threads, by board, taken by the bridge's loop.
std::atomic<unsigned> motion_wakes[kMaxBoards], input_wakes[kMaxBoards];
void OnBoardEvent(uint32_t board, uint32_t kind) {
  if (board < kMaxBoards) (kind == 0 ? motion_wakes : input_wakes)[board]++;
}

struct BridgeOptions {
  MqttSettings mqtt;
  std::string prefix = "rvx", machine;
  long period = 100;
  std::vector<BridgeVerb> allowed;
};

bool ReadOptions(const Args &args, BridgeOptions *o) {
  if (!args.Has("--mqtt")) {
    fprintf(stderr, "rvxctl: bridge needs --mqtt HOST[:PORT], the broker\n");
    return false;
  }
  const std::string &broker = args.flags.at("--mqtt");
  const bool tls = args.Has("--tls") || args.Has("--cafile");
  o->mqtt.tls = tls;
  o->mqtt.port = tls ? 8883 : 1883;
  // "host", "host:port", "[v6 address]:port"
  std::string port;
  bool has_port = false;
  if (!broker.empty() && broker[0] == '[') {
    const size_t end = broker.find(']');
    if (end == broker.npos) return Refuse("--mqtt", broker, "' has no ] after the address");
    o->mqtt.host = broker.substr(1, end - 1);
    if (end + 1 < broker.size() && broker[end + 1] != ':') {
      return Refuse("--mqtt", broker, "' has more than :PORT after the address");
    }
    has_port = end + 1 < broker.size();
    if (has_port) port = broker.substr(end + 2);
  } else {
    const size_t colon = broker.find(':');
    o->mqtt.host = broker.substr(0, colon);
    has_port = colon != broker.npos;
    if (has_port) port = broker.substr(colon + 1);
  }
  if (o->mqtt.host.empty()) return Refuse("--mqtt", broker, "' names no host");
  if (has_port && port.empty()) return Refuse("--mqtt", broker, "' has a : but no port after it");
  if (has_port && !Number(port, "--mqtt PORT", 1, 65535, &o->mqtt.port)) return false;
  if (args.Has("--period") &&
      !Number(args.flags.at("--period"), "--period", 10, 60000, &o->period, "milliseconds")) {
    return false;
  }
  if (args.Has("--prefix")) o->prefix = args.flags.at("--prefix");
  if (args.Has("--machine")) {
    o->machine = args.flags.at("--machine");
  } else {
    char host[256] = {};
    if (gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
      fprintf(stderr, "rvxctl: bridge: no host name to use; give --machine NAME\n");
      return false;
    }
    o->machine = host;
  }
  std::string why;
  if (!CheckTopicRoot(o->prefix, o->machine, &why)) {
    fprintf(stderr, "rvxctl: bridge: %s\n", why.c_str());
    return false;
  }
  if (args.Has("--allow-commands") &&
      !ParseAllowList(args.flags.at("--allow-commands"), &o->allowed, &why)) {
    fprintf(stderr, "rvxctl: --allow-commands: %s\n", why.c_str());
    return false;
  }
  if (args.Has("--cert") != args.Has("--key")) {
    fprintf(stderr, "rvxctl: bridge: --cert and --key go together\n");
    return false;
  }
  if (args.Has("--cert") && !tls) {
    fprintf(stderr, "rvxctl: bridge: --cert and --key need --tls or --cafile\n");
    return false;
  }
  if (args.Has("--cafile")) o->mqtt.cafile = args.flags.at("--cafile");
  if (args.Has("--tls") && o->mqtt.cafile.empty()) o->mqtt.capath = "/etc/ssl/certs";
  if (args.Has("--cert")) o->mqtt.certfile = args.flags.at("--cert");
  if (args.Has("--key")) o->mqtt.keyfile = args.flags.at("--key");
  if (args.Has("--password-file") && !args.Has("--user")) {
    fprintf(stderr, "rvxctl: bridge: --password-file needs --user\n");
    return false;
  }
  if (args.Has("--user")) o->mqtt.user = args.flags.at("--user");
  if (args.Has("--password-file")) {
    const std::string &path = args.flags.at("--password-file");
    std::ifstream file(path);
    if (!file) {
      fprintf(stderr, "rvxctl: bridge: cannot read the password file %s\n", path.c_str());
      return false;
    }
    std::getline(file, o->mqtt.password);
    if (!o->mqtt.password.empty() && o->mqtt.password.back() == '\r') o->mqtt.password.pop_back();
  }
  return true;
}

int64_t NowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::system_clock::now().time_since_epoch())
      .count();
}

// One library call (or two, for a compare table) for a checked command; its
// result code, taken on this thread right after it.
int32_t Execute(const BridgeCommand &c) {
  switch (c.verb) {
    case BridgeVerb::kStop:
      c.sudden ? RVX406A_Sudden_Stop(c.board, c.axis) : RVX406A_Decel_Stop(c.board, c.axis);
      break;
    case BridgeVerb::kServo:
      RVX406A_PutSvOn(c.board, c.axis, c.on ? 1 : 0);
      break;
    case BridgeVerb::kOutput:
      RVX406A_PutDOBit(c.board, c.channel, c.on ? 1 : 0);
      break;
    case BridgeVerb::kMove:
      c.absolute ? RVX406A_Abs_Move(c.board, c.axis, c.distance)
                 : RVX406A_Inc_Move(c.board, c.axis, c.distance);
      break;
    case BridgeVerb::kJog:
      RVX406A_Jog_Move(c.board, c.axis, c.direction);
      break;
    case BridgeVerb::kHome:
      RVX406A_Home_Move(c.board, c.axis);
      break;
    case BridgeVerb::kCompare:
      // The table lives in this process, whose watcher then serves it.
      RVX406A_SetInitCompTrg(c.board);
      if (RVX406A_GetErrorCode() != ERR_SUCCESS) break;
      RVX406A_SetCompTrgContTable(c.board, c.axis, c.count, c.start, c.interval);
      break;
  }
  return RVX406A_GetErrorCode();
}

// The motion event bits by the mask bits that enable them.
json MotionNames(uint16_t status) {
  json names = json::array();
  for (int bit = 0; bit < 16; ++bit) {
    if (status >> bit & 1) names.push_back(bit == 0 ? "drive ended" : "bit " + std::to_string(bit));
  }
  return names;
}

class BoardBridge {
 public:
  explicit BoardBridge(const BridgeOptions &o) : o_(o) {
    topics_.root = o.prefix + "/" + o.machine;
  }

  int Run();

 private:
  json Presence(bool online, const char *reason) const;
  void PublishAll();
  void PublishChanged(bool force);
  void TakeCommands();
  void TakeEvents();
  void Event(uint16_t board, json event);

  BridgeOptions o_;
  Topics topics_;
  MqttLink link_;
  // A board whose reads fail is read every second, not every --period.
  StateWatcher watcher_{std::chrono::seconds(1), stderr, "rvxctl bridge: "};
  std::vector<BoardShape> shapes_;
  uint64_t seq_ = 0, lost_events_ = 0;
  std::vector<unsigned> motion_seen_, inputs_seen_;
  std::vector<uint32_t> compares_seen_;
};

json BoardBridge::Presence(bool online, const char *reason) const {
  json boards = json::array();
  for (size_t b = 0; b < shapes_.size(); ++b) {
    boards.push_back({{"board", b}, {"axes", shapes_[b].axes}, {"outputs", shapes_[b].outputs}});
  }
  json p = {{"online", online}, {"machine", o_.machine}};
  if (online) {
    p["boards"] = boards;
    p["pid"] = getpid();
    p["version"] = RVX_VERSION_STRING;
    p["since"] = NowMs();
  } else {
    p["reason"] = reason;
  }
  return p;
}

// Publishes each state that changed since the last reading, or every state
// with `force` (a new session). A board whose publish could not go out is
// read as new next time, so it goes out once the broker is back.
void BoardBridge::PublishChanged(bool force) {
  if (force) watcher_.Forget();
  for (const StateChange &c : watcher_.Read()) {
    if (c.board >= shapes_.size()) break;
    const BoardState &s = watcher_.boards()[c.board];
    bool sent = true;
    for (uint16_t a : c.axes) {
      sent &= link_.Publish(topics_.AxisState(c.board, a), ToJson(s.axes[a]).dump(), true);
    }
    if (c.board_changed) {
      json board = ToJson(s);
      board["axes"] = s.axes.size();  // each axis has its own topic
      sent &= link_.Publish(topics_.BoardState(c.board), board.dump(), true);
    }
    if (!sent) watcher_.Forget(c.board);
  }
}

void BoardBridge::PublishAll() {
  link_.Publish(topics_.Presence(), Presence(true, "").dump(), true);
  PublishChanged(true);
}

void BoardBridge::TakeCommands() {
  for (const MqttMessage &m : link_.Take()) {
    const Parsed p = ParseCommand(topics_, m.topic, m.payload, shapes_, o_.allowed);
    if (!p.ok) {
      fprintf(stderr, "rvxctl bridge: refused %s '%s': %s\n", m.topic.c_str(),
              Printable(m.payload).c_str(), p.reason.c_str());
      if (!p.reply_topic.empty()) link_.Publish(p.reply_topic, RefusalJson(p).dump(), false);
      continue;
    }
    const int32_t code = Execute(p.command);
    fprintf(stderr, "rvxctl bridge: %s: %s: %s\n", m.topic.c_str(), VerbName(p.command.verb),
            ResultName(code).c_str());
    link_.Publish(p.reply_topic, ReplyJson(p, ResultJson(code)).dump(), false);
  }
}

void BoardBridge::Event(uint16_t board, json event) {
  event["seq"] = ++seq_;
  event["time"] = NowMs();
  event["board"] = board;
  if (!link_.Publish(topics_.Event(board), event.dump(), false)) lost_events_++;
}

// Each wake of a watcher is one event message: the latched bits are read
// (and so cleared) once, here.
void BoardBridge::TakeEvents() {
  for (uint16_t b = 0; b < shapes_.size(); ++b) {
    const unsigned motion = motion_wakes[b], inputs = input_wakes[b];
    if (motion != motion_seen_[b]) {
      motion_seen_[b] = motion;
      uint16_t status = 0;
      RVX406A_GetMotEventStatus(b, 0, &status);
      Event(b, {{"kind", "motion"}, {"status", status}, {"events", MotionNames(status)}});
    }
    if (inputs != inputs_seen_[b]) {
      inputs_seen_[b] = inputs;
      uint32_t low = 0, high = 0;
      RVX406A_GetDiEventStatus(b, &low, &high);
      json channels = json::array();
      for (int i = 0; i < 64; ++i) {
        if ((i < 32 ? low >> i : high >> (i - 32)) & 1) channels.push_back(i);
      }
      Event(b, {{"kind", "inputs"}, {"low", low}, {"high", high}, {"channels", channels}});
    }
    const uint32_t compares = rvx::event_tables().compare_events[b].load();
    if (compares != compares_seen_[b]) {
      Event(b, {{"kind", "compare"}, {"count", compares - compares_seen_[b]}});
      compares_seen_[b] = compares;
    }
  }
}

int BoardBridge::Run() {
  for (const BoardState &s : ReadBoards()) {
    if (s.result != ERR_SUCCESS) {
      fprintf(stderr, "rvxctl: bridge: board %u: %s\n", s.board, Explained(s.result).c_str());
      return 1;
    }
    shapes_.push_back(
        {static_cast<uint16_t>(s.axes.size()), static_cast<uint16_t>(s.outputs.size() * 16)});
  }
  if (shapes_.size() > kMaxBoards) shapes_.resize(kMaxBoards);
  motion_seen_.assign(shapes_.size(), 0);
  inputs_seen_.assign(shapes_.size(), 0);
  for (uint16_t b = 0; b < shapes_.size(); ++b) {
    motion_seen_[b] = motion_wakes[b];
    inputs_seen_[b] = input_wakes[b];
    compares_seen_.push_back(rvx::event_tables().compare_events[b].load());
  }
  RVX406A_SetEventHandler(0, 1, reinterpret_cast<void *>(&OnBoardEvent), 0);
  if (!Succeeded("SetEventHandler")) return 1;
  for (uint16_t b = 0; b < shapes_.size(); ++b) {
    for (uint16_t a = 0; a < shapes_[b].axes; ++a) RVX406A_SetMotEventMask(b, a, 7);
    RVX406A_SetDiEventMask(b, 0xFFFFFFFF, 0xFFFFFFFF);
    RVX406A_SetEventEnable(b, 1);
    if (!Succeeded("SetEventEnable")) return 1;
  }

  o_.mqtt.client_id = "rvxctl-" + o_.machine + "-" + std::to_string(getpid());
  o_.mqtt.will_topic = topics_.Presence();
  o_.mqtt.will_payload = Presence(false, "connection lost").dump();
  o_.mqtt.subscriptions = topics_.CommandFilters();
  std::string why;
  if (!link_.Start(o_.mqtt, &why)) {
    fprintf(stderr, "rvxctl: bridge: %s\n", why.c_str());
    return 2;
  }
  CatchInterrupt ctrl_c;
  fprintf(stderr, "rvxctl bridge: %zu board(s) under %s on %s:%d; Ctrl-C ends\n", shapes_.size(),
          topics_.root.c_str(), o_.mqtt.host.c_str(), o_.mqtt.port);
  uint32_t session = 0;
  uint64_t next_poll = 0;
  while (!interrupted) {
    if (link_.sessions() != session && link_.connected()) {
      session = link_.sessions();
      if (lost_events_ != 0) {
        fprintf(stderr, "rvxctl bridge: %llu event(s) passed while the broker was away\n",
                static_cast<unsigned long long>(lost_events_));
        lost_events_ = 0;
      }
      PublishAll();
    }
    TakeCommands();
    TakeEvents();
    const uint64_t now = rvx::os::MonotonicMicros();
    if (now >= next_poll) {
      PublishChanged(false);
      next_poll = now + static_cast<uint64_t>(o_.period) * 1000;
    }
    rvx::os::Sleep(5);
  }
  link_.Stop(topics_.Presence(), Presence(false, "stopped").dump());
  return 0;
}

}  // namespace

int Bridge(const Args &args) {
  BridgeOptions options;
  if (!ReadOptions(args, &options)) return 2;
  BoardBridge bridge(options);
  return bridge.Run();
}

}  // namespace rvxctl
