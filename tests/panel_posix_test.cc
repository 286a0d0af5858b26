// The panel's own rules, apart from HTTP: who may use it, how an action's
// fields are read, the held jogs' heartbeat and the record of a move, over
// the simulated board.
#include <chrono>
#include <cstdio>
#include <thread>

#include "tests/support.h"
#include "tools/panel_access.h"
#include "tools/panel_core.h"

namespace rvx::test {
namespace {

using rvxctl::AccessRules;
using rvxctl::PanelCore;
using rvxctl::RequestFacts;
using namespace std::chrono_literals;

RequestFacts Req(std::string method, std::string host, std::string origin = "",
                 std::string site = "", std::string authorization = "", std::string cookie = "",
                 std::string query_token = "", std::string type = "") {
  return {method, host, origin, site, authorization, cookie, query_token, type};
}

TEST(PanelAccessTest, RequestsFromElsewhereAndWithoutTheTokenAreRefused) {
  const AccessRules local{"127.0.0.1", 8406, ""};
  const AccessRules tokened{"127.0.0.1", 8406, "0123456789abcdef"};
  const AccessRules open{"0.0.0.0", 8406, "0123456789abcdef"};
  const std::string json = "application/json";
  struct Case {
    const AccessRules &rules;
    RequestFacts
        request;  // method, host, origin, fetch site, authorization, cookie, query token, type
    int status;   // 0: let through
    std::string why;
  } cases[] = {
      {local, Req("GET", "127.0.0.1:8406"), 0, ""},
      {local, Req("GET", "localhost:8406"), 0, ""},
      {local, Req("GET", "LOCALHOST:8406"), 0, ""},
      {local, Req("GET", "[::1]:8406"), 0, ""},
      {local, Req("GET", "127.0.0.1"), 403, "Host '127.0.0.1' is not this server's"},
      {local, Req("GET", "127.0.0.1:8407"), 403, "Host '127.0.0.1:8407' is not this server's"},
      {local, Req("GET", "evil.example:8406"), 403,
       "Host 'evil.example:8406' is not this server's"},
      {local, Req("GET", ""), 403, "Host '' is not this server's"},
      {local, Req("POST", "127.0.0.1:8406", "http://127.0.0.1:8406", "", "", "", "", json), 0, ""},
      {local, Req("POST", "127.0.0.1:8406", "http://localhost:8406", "", "", "", "", json), 403,
       "cross-origin request from 'http://localhost:8406'"},
      {local, Req("POST", "127.0.0.1:8406", "https://127.0.0.1:8406", "", "", "", "", json), 403,
       "cross-origin request from 'https://127.0.0.1:8406'"},
      {local, Req("POST", "127.0.0.1:8406", "", "same-origin", "", "", "", json), 0, ""},
      {local, Req("POST", "127.0.0.1:8406", "", "same-site", "", "", "", json), 403,
       "cross-origin request (same-site)"},
      {local, Req("POST", "127.0.0.1:8406", "", "", "", "", "", "text/plain"), 415,
       "an action is sent as application/json"},
      {local, Req("POST", "127.0.0.1:8406", "", "", "", "", "", ""), 415,
       "an action is sent as application/json"},
      {local, Req("POST", "127.0.0.1:8406", "", "", "", "", "", "application/json; charset=utf-8"),
       0, ""},
      {tokened, Req("GET", "127.0.0.1:8406"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "Bearer 0123456789abcdef"), 0, ""},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "Bearer 0123456789abcde"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "Bearer 0123456789abcdef0"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "0123456789abcdef"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "", "a=1; rvx_token=0123456789abcdef"), 0, ""},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "", "xrvx_token=0123456789abcdef"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {tokened, Req("GET", "127.0.0.1:8406", "", "", "", "", "0123456789abcdef"), 0, ""},
      // The Host is checked first: a token does not make another site's page welcome.
      {tokened, Req("GET", "evil.example:8406", "", "", "Bearer 0123456789abcdef"), 403,
       "Host 'evil.example:8406' is not this server's"},
      {open, Req("GET", "192.168.1.20:8406", "", "", "Bearer 0123456789abcdef"), 0, ""},
      {open, Req("GET", "192.168.1.20:8406"), 401,
       "no valid token: open the address rvxctl serve printed, with its ?token="},
      {open,
       Req("POST", "192.168.1.20:8406", "http://evil.example", "", "Bearer 0123456789abcdef", "",
           "", json),
       403, "cross-origin request from 'http://evil.example'"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.request.method + " Host " + c.request.host + " Origin " + c.request.origin);
    int status = 0;
    EXPECT_EQ(rvxctl::Refusal(c.rules, c.request, &status), c.why);
    if (c.status != 0) {
      EXPECT_EQ(status, c.status);
    }
  }
}

TEST(PanelAccessTest, LoopbackAddressesAndTokens) {
  for (const char *address : {"127.0.0.1", "127.1.2.3", "::1", "[::1]", "localhost"}) {
    EXPECT_TRUE(rvxctl::IsLoopback(address)) << address;
  }
  for (const char *address : {"0.0.0.0", "192.168.1.2", "::", "1.127.0.0", "localhost.evil"}) {
    EXPECT_FALSE(rvxctl::IsLoopback(address)) << address;
  }
  const std::string a = rvxctl::NewToken(), b = rvxctl::NewToken();
  EXPECT_EQ(a.size(), 32u);
  EXPECT_EQ(a.find_first_not_of("0123456789abcdef"), std::string::npos) << a;
  EXPECT_NE(a, b);
}

TEST(PanelAccessTest, FieldsAreWholeNumbersInRange) {
  const nlohmann::json body = nlohmann::json::parse(
      R"({"a": 3, "b": -1, "c": 1.5, "d": "3", "g": 18446744073709551615, "h": 65535})");
  struct Case {
    const char *name;
    bool ok;
    long long value;
    std::string why;
  } cases[] = {
      {"a", true, 3, ""},
      {"b", false, 0, "'b' is out of range: 0..65535"},
      {"c", false, 0, "'c' is not a whole number"},
      {"d", false, 0, "'d' is not a whole number"},
      {"g", false, 0, "'g' is out of range: 0..65535"},
      {"h", true, 65535, ""},
      {"z", false, 0, "'z' is missing"},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.name);
    long long value = -7;
    std::string why;
    EXPECT_EQ(rvxctl::Field(body, c.name, 0, 65535, &value, &why), c.ok);
    EXPECT_EQ(why, c.why);
    EXPECT_EQ(value, c.ok ? c.value : -7);
  }
  std::string why;
  long long value = 0;
  EXPECT_FALSE(rvxctl::Field(nlohmann::json::array(), "a", 0, 1, &value, &why));
  EXPECT_EQ(why, "'a' is missing");
}

// The panel over one simulated board whose drives end after a number of
// status reads.
class PanelCoreTest : public LoadedTest<> {
 protected:
  void SetUp() override {
    LoadedTest<>::SetUp();
    log_ = tmpfile();
    ASSERT_NE(log_, nullptr);
  }
  void TearDown() override {
    fclose(log_);
    LoadedTest<>::TearDown();
  }
  std::string Log() const {
    fflush(log_);
    rewind(log_);
    std::string text;
    char line[256];
    while (fgets(line, sizeof line, log_) != nullptr) text += line;
    return text;
  }
  size_t Logged(const std::string &call) const {
    size_t n = 0;
    for (const std::string &line : LoggedCalls()) n += line.find(call) != std::string::npos;
    return n;
  }
  bool Busy(uint16_t axis) const { return RVX406A_GetCardStatus(0, axis) & (1u << 8); }
  // Polls until the panel has seen axis `axis` stand; how many polls that took.
  static int PollUntilStanding(PanelCore &core, uint16_t axis) {
    int polls = 0;
    do {
      core.Poll();
    } while (++polls < 50 &&
             (core.Snapshot(nullptr)["boards"][0]["axes"][axis]["status"].get<int>() & (1 << 8)));
    return polls;
  }

  FILE *log_ = nullptr;
};

TEST_F(PanelCoreTest, AJogNotRenewedWithinTheHeartbeatGetsADeceleratingStop) {
  sim::SetDriveDuration(0, 1, 100000);
  PanelCore core(60ms, 10ms, log_);
  ASSERT_EQ(core.Jog(0, 1, 1), ERR_SUCCESS);
  EXPECT_EQ(core.jogs(), 1u);
  for (int i = 0; i < 3; ++i) {  // renewed: it runs on past the heartbeat
    std::this_thread::sleep_for(40ms);
    EXPECT_TRUE(core.Renew(0, 1, 1));
    core.Poll();
  }
  EXPECT_FALSE(core.Renew(0, 1, 0)) << "a renewal the other way";
  EXPECT_EQ(Logged("RVX406A_Decel_Stop"), 0u);
  EXPECT_TRUE(Busy(1));
  EXPECT_EQ(Log(), "");
  std::this_thread::sleep_for(70ms);
  core.Poll();
  EXPECT_EQ(Log(),
            "board 0 axis 1: jog not renewed for 60 ms, decelerating stop: ERR_SUCCESS (0)\n");
  EXPECT_EQ(Logged("RVX406A_Decel_Stop (0, 1)"), 1u);
  EXPECT_EQ(core.jogs(), 0u);
  // A renewal late on the wire does not start it again.
  EXPECT_FALSE(core.Renew(0, 1, 1));
  core.Poll();
  EXPECT_EQ(Logged("RVX406A_Jog_Move"), 1u);
  EXPECT_EQ(Logged("RVX406A_Decel_Stop"), 1u);
}

TEST_F(PanelCoreTest, AJogTheOtherWayIsRefusedAndTheRunningOneKeepsItsHeartbeat) {
  sim::SetDriveDuration(0, 2, 100000);
  PanelCore core(50ms, 10ms, log_);
  ASSERT_EQ(core.Jog(0, 2, 0), ERR_SUCCESS);
  EXPECT_EQ(core.Jog(0, 2, 0), ERR_SUCCESS) << "a second start in the same direction renews";
  EXPECT_EQ(core.Jog(0, 2, 1), ERR_AXIS_DRV_BUSY);
  EXPECT_EQ(Logged("RVX406A_Jog_Move"), 2u);
  EXPECT_EQ(core.jogs(), 1u);
  std::this_thread::sleep_for(60ms);
  core.Poll();
  EXPECT_EQ(Logged("RVX406A_Decel_Stop (0, 2)"), 1u);
  EXPECT_EQ(Log(),
            "board 0 axis 2: jog not renewed for 50 ms, decelerating stop: ERR_SUCCESS (0)\n");
}

TEST_F(PanelCoreTest, StopsEndTheHeldJogsTheyReach) {
  for (uint16_t axis = 0; axis < 4; ++axis) sim::SetDriveDuration(0, axis, 100000);
  PanelCore core(10s, 10ms, log_);
  ASSERT_EQ(core.Jog(0, 0, 1), ERR_SUCCESS);
  ASSERT_EQ(core.Jog(0, 3, 0), ERR_SUCCESS);
  EXPECT_EQ(core.StopAxis(0, 0, true), ERR_SUCCESS);
  EXPECT_EQ(Logged("RVX406A_Sudden_Stop (0, 0)"), 1u);
  EXPECT_FALSE(core.Renew(0, 0, 1));
  EXPECT_TRUE(core.Renew(0, 3, 0));
  EXPECT_EQ(core.StopAll(0), ERR_SUCCESS);
  for (const char *axis : {"0", "1", "2", "3"}) {  // every axis of the board, at once
    EXPECT_EQ(Logged(std::string("RVX406A_Multi_Sudden_Stop (0, ") + axis + ")"), 1u) << axis;
  }
  EXPECT_EQ(core.jogs(), 0u);
  EXPECT_EQ(core.StopAll(3), ERR_BOARD_NUMBER);
  EXPECT_EQ(core.StopAxis(0, 4, false), ERR_AXIS_NUM);
  // Ending the panel stops what it still holds.
  ASSERT_EQ(core.Jog(0, 1, 1), ERR_SUCCESS);
  core.Stop();
  EXPECT_EQ(Logged("RVX406A_Decel_Stop (0, 1)"), 1u);
  EXPECT_EQ(Log(),
            "board 0 axis 1: the panel ends, the jog gets a decelerating stop: ERR_SUCCESS (0)\n");
}

TEST_F(PanelCoreTest, EachMoveIsRecordedFromItsStartToWhereItStands) {
  PanelCore core(300ms, 10ms, log_);
  EXPECT_TRUE(core.LastMove(0, 2).seconds.empty());
  sim::SetDriveDuration(0, 2, 4);
  EXPECT_EQ(core.Call([] { RVX406A_Inc_Move(0, 2, 500); }), ERR_SUCCESS);
  const int polls = PollUntilStanding(core, 2);
  core.Poll();  // standing: nothing more is added
  const rvxctl::ScopeRecord first = core.LastMove(0, 2);
  ASSERT_GE(first.seconds.size(), 2u);
  EXPECT_EQ(first.axes, std::vector<uint16_t>{2});
  EXPECT_EQ(first.title, "board 0 axis 2");
  EXPECT_EQ(first.seconds[0], 0.0);
  EXPECT_EQ(first.points.back()[0].command, 500);
  EXPECT_EQ(first.points.back()[0].speed, 0);
  EXPECT_EQ(first.seconds.size(), static_cast<size_t>(polls));
  for (size_t i = 1; i < first.seconds.size(); ++i)
    EXPECT_GE(first.seconds[i], first.seconds[i - 1]);
  EXPECT_TRUE(core.LastMove(0, 1).seconds.empty()) << "axis 1 did not move";
  // The next move replaces it.
  sim::SetDriveDuration(0, 2, 6);
  EXPECT_EQ(core.Call([] { RVX406A_Abs_Move(0, 2, -100); }), ERR_SUCCESS);
  PollUntilStanding(core, 2);
  const rvxctl::ScopeRecord second = core.LastMove(0, 2);
  EXPECT_EQ(second.points.back()[0].command, -100);
  EXPECT_LT(second.seconds.size(), first.seconds.size() + 2);
}

TEST_F(PanelCoreTest, TheFeedWakesOnAChangeOnly) {
  PanelCore core(300ms, 5ms, log_);
  core.Start();
  uint64_t seen = 0;
  const nlohmann::json first = core.Snapshot(&seen);
  ASSERT_EQ(first["boards"].size(), 1u);
  EXPECT_EQ(first["boards"][0]["axes"].size(), 4u);
  EXPECT_FALSE(core.WaitNewer(seen, 60ms)) << "nothing changed";
  EXPECT_EQ(core.Call([] { RVX406A_SetCommandPos(0, 3, 4321); }), ERR_SUCCESS);
  const auto asked = std::chrono::steady_clock::now();
  EXPECT_TRUE(core.WaitNewer(seen, 1s));
  EXPECT_LT(std::chrono::steady_clock::now() - asked, 100ms);
  uint64_t now = 0;
  EXPECT_EQ(core.Snapshot(&now)["boards"][0]["axes"][3]["command"], 4321);
  EXPECT_GT(now, seen);
  core.Stop();
  EXPECT_TRUE(core.stopping());
  EXPECT_FALSE(core.WaitNewer(0, 1s)) << "a stopping panel wakes its feeds";
}

}  // namespace
}  // namespace rvx::test
