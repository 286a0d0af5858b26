// The panel's HTTP side (cpp-httplib): the page's files, the state and its
// live feed (server-sent events), and the actions, each a POST of JSON that
// becomes the same exported calls rvxctl's commands make.
#include "tools/panel_server.h"

#include <httplib.h>

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "include/rvx406a.h"
#include "platform/platform.h"
#include "tools/panel_access.h"
#include "tools/panel_core.h"
#include "tools/rvxctl_common.h"

namespace rvxctl {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;

constexpr milliseconds kHeartbeat(300), kPollPeriod(20), kFeedIdle(1000);
constexpr uint32_t kAlarmResetMs = 100;

void Reply(httplib::Response &res, int status, const json &body) {
  res.status = status;
  res.set_content(body.dump(), "application/json");
}

json Outcome(const char *call, int32_t code) {
  return {{"call", call}, {"ok", code == ERR_SUCCESS}, {"result", ResultJson(code)}};
}

// An action's words, read from its JSON body; a bad one is a 400.
struct Action {
  const json &body;
  std::string why;

  bool Get(const char *name, long long lo, long long hi, long long *out) {
    return why.empty() && Field(body, name, lo, hi, out, &why);
  }
  // Board and axis are passed on as given: the library says which it lacks.
  bool Axis(uint16_t *board, uint16_t *axis) {
    long long b = 0, a = 0;
    if (!Get("board", 0, 65535, &b) || !Get("axis", 0, 65535, &a)) return false;
    *board = static_cast<uint16_t>(b);
    *axis = static_cast<uint16_t>(a);
    return true;
  }
  bool Flag(const char *name, bool *out) {
    const auto f = body.find(name);
    if (f == body.end()) return *out = false, true;
    if (!f->is_boolean()) why = std::string("'") + name + "' is not true or false";
    if (why.empty()) *out = f->get<bool>();
    return why.empty();
  }
};

using Handler = std::function<json(Action &, PanelCore &)>;

json SpeedsOf(uint16_t board, uint16_t axis, PanelCore &core) {
  PanelCore::Speeds s;
  const char *call = "";
  const int32_t code = core.ReadSpeeds(board, axis, &s, &call);
  json out = Outcome(call, code);
  out["shape"] = s.shape ? "s-curve" : "trapezoid";
  out["pos"] = s.pos;
  out["jog"] = s.jog;
  out["home"] = s.home;
  return out;
}

// The actions by their path under /api/.
const std::map<std::string, Handler> &Actions() {
  static const std::map<std::string, Handler> actions = {
      {"servo",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         long long on = 0;
         if (!a.Axis(&b, &x) || !a.Get("on", 0, 1, &on)) return json();
         return Outcome("PutSvOn", core.Call([&] { RVX406A_PutSvOn(b, x, on); }));
       }},
      {"alarm-reset",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         if (!a.Axis(&b, &x)) return json();
         // Pulsed as a drive expects; the library is free while the output is held.
         const int32_t code = core.Call([&] { RVX406A_PutSvAlmRst(b, x, 1); });
         if (code != ERR_SUCCESS) return Outcome("PutSvAlmRst", code);
         std::this_thread::sleep_for(milliseconds(kAlarmResetMs));
         return Outcome("PutSvAlmRst", core.Call([&] { RVX406A_PutSvAlmRst(b, x, 0); }));
       }},
      {"jog",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         long long direction = 0;
         bool renew = false;
         if (!a.Axis(&b, &x) || !a.Get("direction", 0, 1, &direction) || !a.Flag("renew", &renew)) {
           return json();
         }
         if (!renew) return Outcome("Jog_Move", core.Jog(b, x, static_cast<uint16_t>(direction)));
         if (core.Renew(b, x, static_cast<uint16_t>(direction)))
           return Outcome("renew", ERR_SUCCESS);
         json out = Outcome("renew", ERR_SUCCESS);
         out["ok"] = false;
         out["error"] = "the jog has ended: released, stopped, or at a limit";
         return out;
       }},
      {"move",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         long long value = 0;
         bool absolute = false;
         if (!a.Axis(&b, &x) || !a.Get("value", INT32_MIN, INT32_MAX, &value) ||
             !a.Flag("absolute", &absolute)) {
           return json();
         }
         const int32_t v = static_cast<int32_t>(value);
         return Outcome(absolute ? "Abs_Move" : "Inc_Move", core.Call([&] {
           (absolute ? RVX406A_Abs_Move : RVX406A_Inc_Move)(b, x, v);
         }));
       }},
      {"home",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         if (!a.Axis(&b, &x)) return json();
         return Outcome("Home_Move", core.Call([&] { RVX406A_Home_Move(b, x); }));
       }},
      {"stop",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         bool sudden = false;
         if (!a.Axis(&b, &x) || !a.Flag("sudden", &sudden)) return json();
         return Outcome(sudden ? "Sudden_Stop" : "Decel_Stop", core.StopAxis(b, x, sudden));
       }},
      {"stop-all",
       [](Action &a, PanelCore &core) {
         long long b = 0;
         if (!a.Get("board", 0, 65535, &b)) return json();
         return Outcome("Multi_Sudden_Stop", core.StopAll(static_cast<uint16_t>(b)));
       }},
      {"output",
       [](Action &a, PanelCore &core) {
         long long b = 0, channel = 0, value = 0;
         if (!a.Get("board", 0, 65535, &b) || !a.Get("channel", 0, 65535, &channel) ||
             !a.Get("value", 0, 1, &value)) {
           return json();
         }
         return Outcome("PutDOBit", core.Call([&] {
           RVX406A_PutDOBit(static_cast<uint16_t>(b), static_cast<uint16_t>(channel),
                            static_cast<uint16_t>(value));
         }));
       }},
      {"speed",
       [](Action &a, PanelCore &core) {
         uint16_t b = 0, x = 0;
         if (!a.Axis(&b, &x)) return json();
         const auto kind = a.body.find("kind");
         const std::string k =
             kind != a.body.end() && kind->is_string() ? kind->get<std::string>() : "";
         if (k == "shape") {
           long long shape = 0;
           if (!a.Get("shape", 0, 1, &shape)) return json();
           return Outcome("SetSpeedMode", core.Call([&] { RVX406A_SetSpeedMode(b, x, shape); }));
         }
         const size_t count = k == "pos" ? 4 : k == "jog" || k == "home" ? 3 : 0;
         const auto values = a.body.find("values");
         if (count == 0 || values == a.body.end() || !values->is_array() ||
             values->size() != count) {
           a.why = "a speed is kind pos (4 values), jog or home (3 values) or shape (0 or 1)";
           return json();
         }
         uint32_t v[4] = {};
         for (size_t i = 0; i < count; ++i) {
           long long n = 0;
           if (!Field({{"value", (*values)[i]}}, "value", 0, UINT32_MAX, &n, &a.why)) return json();
           v[i] = static_cast<uint32_t>(n);
         }
         if (k == "pos") {
           return Outcome("SetPosSpeed",
                          core.Call([&] { RVX406A_SetPosSpeed(b, x, v[0], v[1], v[2], v[3]); }));
         }
         if (k == "jog") {
           return Outcome("SetJogSpeed",
                          core.Call([&] { RVX406A_SetJogSpeed(b, x, v[0], v[1], v[2]); }));
         }
         return Outcome("SetHomeSpeed",
                        core.Call([&] { RVX406A_SetHomeSpeed(b, x, v[0], v[1], v[2]); }));
       }},
      {"param-save",
       [](Action &a, PanelCore &core) {
         long long b = 0;
         if (!a.Get("board", 0, 65535, &b)) return json();
         // The library writes into the folder but does not make it.
         std::error_code error;
         std::filesystem::create_directories(InstallPath("Parameter", ""), error);
         const uint16_t board = static_cast<uint16_t>(b);
         json out = Outcome("SaveFile", core.Call([&] { RVX406A_SaveFile(board); }));
         out["file"] = ParameterFile(board);
         return out;
       }},
  };
  return actions;
}

RequestFacts Facts(const httplib::Request &req) {
  RequestFacts f;
  f.method = req.method;
  f.host = req.get_header_value("Host");
  f.origin = req.get_header_value("Origin");
  f.fetch_site = req.get_header_value("Sec-Fetch-Site");
  f.authorization = req.get_header_value("Authorization");
  f.cookie = req.get_header_value("Cookie");
  f.query_token = req.get_param_value("token");
  f.content_type = req.get_header_value("Content-Type");
  return f;
}

void Routes(httplib::Server &server, PanelCore &core, const PanelOptions &options,
            const AccessRules &rules) {
  server.set_pre_routing_handler([&rules](const httplib::Request &req, httplib::Response &res) {
    int status = 0;
    const RequestFacts facts = Facts(req);
    const std::string why = Refusal(rules, facts, &status);
    if (!why.empty()) {
      Reply(res, status, {{"error", why}});
      return httplib::Server::HandlerResponse::Handled;
    }
    if (TokenInQuery(rules, facts)) {
      res.set_header("Set-Cookie",
                     "rvx_token=" + rules.token + "; Path=/; HttpOnly; SameSite=Strict");
    }
    return httplib::Server::HandlerResponse::Unhandled;
  });
  server.Get("/api/state", [&core, &options](const httplib::Request &, httplib::Response &res) {
    json state = core.Snapshot(nullptr);
    state["read_only"] = options.read_only;
    Reply(res, 200, state);
  });
  server.Get("/api/events", [&core](const httplib::Request &, httplib::Response &res) {
    res.set_header("Cache-Control", "no-store");
    auto seen = std::make_shared<uint64_t>(0);
    res.set_chunked_content_provider(
        "text/event-stream", [&core, seen](size_t, httplib::DataSink &sink) {
          if (core.stopping()) return false;
          if (*seen == 0 || core.WaitNewer(*seen, kFeedIdle)) {
            const std::string event = "data: " + core.Snapshot(seen.get()).dump() + "\n\n";
            return sink.write(event.data(), event.size());
          }
          // A comment now and then finds a page that has gone.
          return !core.stopping() && sink.write(": idle\n\n", 8);
        });
  });
  auto axis_of = [](const httplib::Request &req, uint16_t *board, uint16_t *axis) {
    // Read as JSON numbers: "12abc" is no board.
    const json query = {{"board", json::parse(req.get_param_value("board"), nullptr, false)},
                        {"axis", json::parse(req.get_param_value("axis"), nullptr, false)}};
    std::string why;
    long long b = 0, a = 0;
    if (!Field(query, "board", 0, 65535, &b, &why) || !Field(query, "axis", 0, 65535, &a, &why)) {
      return false;
    }
    *board = static_cast<uint16_t>(b);
    *axis = static_cast<uint16_t>(a);
    return true;
  };
  server.Get("/api/speed", [&core, axis_of](const httplib::Request &req, httplib::Response &res) {
    uint16_t b = 0, a = 0;
    if (!axis_of(req, &b, &a)) return Reply(res, 400, {{"error", "board and axis"}});
    const json speeds = SpeedsOf(b, a, core);
    Reply(res, speeds["ok"].get<bool>() ? 200 : 409, speeds);
  });
  server.Get("/api/scope.svg",
             [&core, axis_of](const httplib::Request &req, httplib::Response &res) {
               uint16_t b = 0, a = 0;
               if (!axis_of(req, &b, &a)) return Reply(res, 400, {{"error", "board and axis"}});
               const ScopeRecord record = core.LastMove(b, a);
               if (record.seconds.empty()) return Reply(res, 404, {{"error", "no move yet"}});
               res.set_header("Cache-Control", "no-store");
               res.set_content(ScopeSvg(record), "image/svg+xml");
             });
  server.Get("/api/scope", [&core, axis_of](const httplib::Request &req, httplib::Response &res) {
    uint16_t b = 0, a = 0;
    if (!axis_of(req, &b, &a)) return Reply(res, 400, {{"error", "board and axis"}});
    const ScopeRecord record = core.LastMove(b, a);
    json samples = json::array();
    for (size_t i = 0; i < record.seconds.size(); ++i) {
      const ScopeRecord::Point &p = record.points[i][0];
      samples.push_back({record.seconds[i], p.command, p.actual, p.speed});
    }
    Reply(res, 200, {{"board", b}, {"axis", a}, {"samples", samples}});
  });
  server.Post(R"(/api/([a-z-]+))", [&core, &options](const httplib::Request &req,
                                                     httplib::Response &res) {
    const auto action = Actions().find(req.matches[1]);
    if (action == Actions().end()) return Reply(res, 404, {{"error", "no such action"}});
    if (options.read_only) {
      return Reply(res, 403, {{"error", "read-only: rvxctl serve --read-only takes no actions"}});
    }
    const json body = json::parse(req.body, nullptr, false);
    if (!body.is_object()) return Reply(res, 400, {{"error", "the body is not a JSON object"}});
    Action a{body, ""};
    const json out = action->second(a, core);
    if (!a.why.empty() || out.is_null()) return Reply(res, 400, {{"error", a.why}});
    Reply(res, out["ok"].get<bool>() ? 200 : 409, out);
  });
  server.set_mount_point("/", options.assets);
}

}  // namespace

bool PanelBuilt() { return true; }

int RunPanel(const PanelOptions &options) {
  if (!std::filesystem::exists(std::filesystem::path(options.assets) / "index.html")) {
    fprintf(stderr, "rvxctl: serve: the page's files are not in %s (--assets DIR names them)\n",
            options.assets.c_str());
    return 1;
  }
  CatchInterrupt ctrl_c;
  PanelCore core(kHeartbeat, kPollPeriod, stderr);
  httplib::Server server;
  // Each page holds a thread for its live feed.
  server.new_task_queue = [] { return new httplib::ThreadPool(48); };
  server.set_payload_max_length(64 * 1024);
  server.set_read_timeout(std::chrono::seconds(5));
  server.set_keep_alive_timeout(5);
  server.set_default_headers(
      {{"X-Content-Type-Options", "nosniff"},
       {"X-Frame-Options", "DENY"},
       {"Referrer-Policy", "no-referrer"},
       {"Content-Security-Policy", "default-src 'self'; frame-ancestors 'none'"}});
  AccessRules rules{options.bind, options.port, options.token};
  Routes(server, core, options, rules);
  const int port = options.port == 0
                       ? server.bind_to_any_port(options.bind)
                       : (server.bind_to_port(options.bind, options.port) ? options.port : -1);
  if (port <= 0) {
    fprintf(stderr, "rvxctl: serve: cannot listen on %s port %u (in use, or not this machine's?)\n",
            options.bind.c_str(), options.port);
    return 1;
  }
  rules.port = static_cast<uint16_t>(port);
  const bool v6 = options.bind.find(':') != std::string::npos;
  printf("rvxctl serve: http://%s%s%s:%d/%s%s%s (Ctrl-C ends it)\n", v6 ? "[" : "",
         options.bind.c_str(), v6 ? "]" : "", port,
         options.token.empty() ? "" : "?token=", options.token.c_str(),
         options.read_only ? ", read-only" : "");
  fflush(stdout);
  core.Start();
  std::atomic<bool> ended(false);
  std::thread listener([&server, &ended] {
    server.listen_after_bind();
    ended = true;
  });
  while (!interrupted && !ended) rvx::os::Sleep(50);
  core.Stop();
  server.stop();
  listener.join();
  printf("rvxctl serve: ended\n");
  return 0;
}

}  // namespace rvxctl
