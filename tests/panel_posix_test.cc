// The panel's own rules, apart from HTTP: who may use it, how an action's
// fields are read, the held jogs' heartbeat and the record of a move, over
// the simulated board.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <thread>

#include "tests/support.h"
#include "tools/panel_access.h"
#include "tools/panel_core.h"

namespace rvxctl {
// Readable in a failed expectation: "board 1 (own words) axes 0 2".
void PrintTo(const StateChange &c, std::ostream *out) {
  *out << "board " << c.board << (c.board_changed ? " (own words)" : "") << " axes";
  for (uint16_t a : c.axes) *out << ' ' << a;
}
}  // namespace rvxctl

namespace rvx::test {
namespace {

using rvxctl::AccessRules;
using rvxctl::PanelCore;
using rvxctl::RequestFacts;
using rvxctl::StateChange;
using rvxctl::StateWatcher;
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

// What has been written to a temporary file.
std::string Contents(FILE *file) {
  fflush(file);
  rewind(file);
  std::string text;
  char line[256];
  while (fgets(line, sizeof line, file) != nullptr) text += line;
  return text;
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
  std::string Log() const { return Contents(log_); }
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

// " RV =  -540 : RVX406A_GetSpeedMode (0, 9, 0)": the line of a failed read.
std::string SpeedModeLine(int32_t code, int board, int axis) {
  char line[96];
  snprintf(line, sizeof line, " RV = %5d : RVX406A_GetSpeedMode (%d, %d, 0)", code, board, axis);
  return line;
}

TEST_F(PanelCoreTest, ARunOfReadsIsRefusedInTheNameOfTheFirstThatFailed) {
  RVX406A_SetSpeedMode(0, 1, 1);
  RVX406A_SetPosSpeed(0, 1, 100, 5000, 20, 30);
  RVX406A_SetJogSpeed(0, 1, 200, 3000, 40);
  RVX406A_SetHomeSpeed(0, 1, 50, 900, 10);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  shared().log_level = 2;  // a getter that fails writes its line
  PanelCore core(300ms, 10ms, log_);
  struct Case {
    const char *what;
    uint16_t board, axis;
    int32_t code;
    const char *call;
    Strings logged;  // only the reads up to the failed one ran
  } cases[] = {
      {"an axis it has", 0, 1, ERR_SUCCESS, "GetHomeSpeed", {}},
      {"an axis it lacks", 0, 9, ERR_AXIS_NUM, "GetSpeedMode", {SpeedModeLine(ERR_AXIS_NUM, 0, 9)}},
      {"a board it lacks",
       3,
       0,
       ERR_BOARD_NUMBER,
       "GetSpeedMode",
       {SpeedModeLine(ERR_BOARD_NUMBER, 3, 0)}},
  };
  for (const Case &c : cases) {
    SCOPED_TRACE(c.what);
    ClearLog();
    PanelCore::Speeds speeds;
    const char *call = nullptr;
    EXPECT_EQ(core.ReadSpeeds(c.board, c.axis, &speeds, &call), c.code);
    EXPECT_STREQ(call, c.call);
    EXPECT_EQ(LoggedCalls(), c.logged);
    const bool read = c.code == ERR_SUCCESS;
    EXPECT_EQ(speeds.shape, read ? 1 : 0);
    EXPECT_THAT(speeds.pos,
                read ? ElementsAre(100u, 5000u, 20u, 30u) : ElementsAre(0u, 0u, 0u, 0u));
    EXPECT_THAT(speeds.jog, read ? ElementsAre(200u, 3000u, 40u) : ElementsAre(0u, 0u, 0u));
    EXPECT_THAT(speeds.home, read ? ElementsAre(50u, 900u, 10u) : ElementsAre(0u, 0u, 0u));
  }
  // A later step that fails names itself, and the steps after it do not run.
  bool last_ran = false;
  const char *call = nullptr;
  uint32_t start = 0;
  EXPECT_EQ(
      core.CallEach({{"GetSpeedMode", [] { RVX406A_GetSpeedMode(0, 1); }},
                     {"GetJogSpeed", [&] { RVX406A_GetJogSpeed(0, 1, &start, nullptr, &start); }},
                     {"after", [&] { last_ran = true; }}},
                    &call),
      ERR_INVALID_PARAMETER);
  EXPECT_STREQ(call, "GetJogSpeed");
  EXPECT_FALSE(last_ran);
}

// Two boards with a DI/DO module each, the log at level 2, where a getter
// that fails writes its line; what the watcher says goes to `notes_`.
class StateWatcherTest : public LoadedTest<2> {
 protected:
  sim::Config Boards() const override {
    sim::Config config;
    config.board_count = 2;
    config.board[0].module_bits = config.board[1].module_bits = 1;
    return config;
  }
  void SetUp() override {
    LoadedTest<2>::SetUp();
    notes_ = tmpfile();
    ASSERT_NE(notes_, nullptr);
    identity_ = sim::Pld(1, pld::kIdentity);
  }
  void TearDown() override {
    fclose(notes_);
    LoadedTest<2>::TearDown();
  }
  // Board 1 reports a type code the library does not know: GetAxisNum fails.
  void BreakBoard1() const { sim::SetPld(1, pld::kIdentity, (identity_ & ~0x70) | 0x20); }
  void MendBoard1() const { sim::SetPld(1, pld::kIdentity, identity_); }
  // The log lines of board 1's failed reads.
  size_t FailedReads() const {
    const Strings logged = LoggedCalls();
    return std::count(logged.begin(), logged.end(), " RV =    -7 : RVX406A_GetAxisNum (1, 0)");
  }

  FILE *notes_ = nullptr;
  uint8_t identity_ = 0;
};

TEST_F(StateWatcherTest, EachReadingReportsWhatChangedSinceTheLast) {
  ClearLog();
  StateWatcher watcher;
  const std::vector<uint16_t> all{0, 1, 2, 3};
  struct Step {
    const char *what;
    std::function<void()> act;
    std::vector<StateChange> changes;
  } steps[] = {
      {"the first reading", [] {}, {{0, true, all}, {1, true, all}}},
      {"nothing", [] {}, {}},
      {"a position", [] { RVX406A_SetCommandPos(1, 2, 77); }, {{1, false, {2}}}},
      {"an output", [] { RVX406A_PutDOBit(0, 3, 1); }, {{0, true, {}}}},
      {"an input of an axis", [] { sim::SetInputs(0, 1, 0x10); }, {{0, false, {1}}}},
      {"two axes of two boards",
       [] {
         RVX406A_SetCommandPos(0, 3, -5);
         RVX406A_SetCommandPos(1, 0, 9);
       },
       {{0, false, {3}}, {1, false, {0}}}},
      {"board 1 forgotten", [&] { watcher.Forget(1); }, {{1, true, all}}},
      {"every board forgotten", [&] { watcher.Forget(); }, {{0, true, all}, {1, true, all}}},
      {"nothing again", [] {}, {}},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(watcher.Read(), step.changes);
  }
  ASSERT_EQ(watcher.boards().size(), 2u);
  EXPECT_EQ(watcher.boards()[1].axes[2].command, 77);
  EXPECT_EQ(watcher.boards()[0].outputs, (std::vector<uint16_t>{0x0008, 0}));
  EXPECT_EQ(LoggedCalls(), Strings{}) << "no read failed";
}

TEST_F(StateWatcherTest, ABoardWhoseReadsFailIsReadAgainOnlyAfterTheBackOff) {
  StateWatcher watcher(100ms, notes_, "rvxctl test: ");
  const StateWatcher::Clock::time_point start = StateWatcher::Clock::now();
  const std::vector<uint16_t> all{0, 1, 2, 3};
  ClearLog();
  struct Step {
    const char *what;
    int ms;  // when the reading is taken
    std::function<void()> act;
    size_t failed_reads;  // so far
    std::vector<StateChange> changes;
  } steps[] = {
      {"both boards read", 0, [] {}, 0, {{0, true, all}, {1, true, all}}},
      {"board 1 fails", 10, [&] { BreakBoard1(); }, 1, {{1, true, {}}}},
      {"board 0 still read", 60, [] { RVX406A_SetCommandPos(0, 0, 5); }, 1, {{0, false, {0}}}},
      {"board 1 just before its back-off ends", 109, [] {}, 1, {}},
      {"board 1 read again at its end, failing", 110, [] {}, 2, {}},
      {"board 1 forgotten: its failed reading reported, not read",
       120,
       [&] { watcher.Forget(1); },
       2,
       {{1, true, {}}}},
      {"board 1 mended, not read yet", 150, [&] { MendBoard1(); }, 2, {}},
      {"board 1 read after its back-off", 210, [] {}, 2, {{1, true, all}}},
      {"board 1 read at every reading again",
       211,
       [] { RVX406A_SetCommandPos(1, 3, 8); },
       2,
       {{1, false, {3}}}},
  };
  for (const Step &step : steps) {
    SCOPED_TRACE(step.what);
    step.act();
    EXPECT_EQ(watcher.Read(start + std::chrono::milliseconds(step.ms)), step.changes);
    EXPECT_EQ(FailedReads(), step.failed_reads);
  }
  EXPECT_EQ(watcher.boards()[1].axes[3].command, 8);
  EXPECT_EQ(Contents(notes_),
            "rvxctl test: board 1: reads fail with ERR_HW_TYPE (-7); read again every 100 ms until "
            "they succeed\n"
            "rvxctl test: board 1: reads succeed again\n");
}

TEST_F(StateWatcherTest, ThePanelReadsABoardThatFailsOncePerSecondAtMost) {
  PanelCore core(300ms, 5ms, notes_);
  BreakBoard1();
  ClearLog();
  const auto started = std::chrono::steady_clock::now();
  core.Start();
  std::this_thread::sleep_for(150ms);
  EXPECT_EQ(core.Call([] { RVX406A_SetCommandPos(0, 2, 31); }), ERR_SUCCESS);
  std::this_thread::sleep_for(150ms);
  core.Stop();
  const auto seconds =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started)
          .count();
  // Some 60 readings: board 1 is read at the first and then once a second.
  EXPECT_GE(FailedReads(), 1u);
  EXPECT_LE(FailedReads(), 1u + seconds);
  const nlohmann::json state = core.Snapshot(nullptr);
  EXPECT_EQ(state["boards"][0]["axes"][2]["command"], 31) << "board 0 is read at the panel's rate";
  EXPECT_EQ(state["boards"][1]["result"]["code"], ERR_HW_TYPE);
  EXPECT_EQ(Contents(notes_),
            "board 1: reads fail with ERR_HW_TYPE (-7); read again every 1000 ms until they "
            "succeed\n");
}

}  // namespace
}  // namespace rvx::test
