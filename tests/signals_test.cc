// Axis signals, pulse and encoder modes, limits and ring counter, filters:
// register sequences, shadows, couplings, the motion error decoding with its
// home bookkeeping, refusals and log lines.
#include <gmock/gmock.h>

#include <cstring>
#include <functional>
#include <iterator>
#include <tuple>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;

using Strings = std::vector<std::string>;

std::string Hex(const char* prefix, u32 value) {
  char text[32];
  snprintf(text, sizeof text, "%s%04X", prefix, value);
  return text;
}

class SignalsTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
  }
};

TEST_F(SignalsTest, OutputsChangeOnlyTheirAxisBitOfWr4) {
  struct Case {
    void (*put)(uint16_t, uint16_t, uint16_t);
    uint16_t (*get)(uint16_t, uint16_t);
    u16 axis, on, before, after;
  };
  const Case cases[] = {
      {RVX406A_PutSvOn, RVX406A_GetSvOn, 2, 1, 0xB0B3, 0xB2B3},
      {RVX406A_PutSvOn, RVX406A_GetSvOn, 0, 0, 0xFFFF, 0xFFFD},
      {RVX406A_PutSvAlmRst, RVX406A_GetSvAlmRst, 3, 1, 0x0222, 0x1222},
      {RVX406A_PutSvAlmRst, RVX406A_GetSvAlmRst, 1, 0, 0x1313, 0x1303},
  };
  for (const Case& c : cases) {
    axis_block(0, 0).wr4 = c.before;
    axis_block(0, 2).wr4 = 0x5555;  // other axes' fields play no part
    sim::StartTrace();
    c.put(0, c.axis, c.on);
    EXPECT_THAT(TracedWrites(), ElementsAre(Hex("WR4=", c.after))) << c.before;  // no select
    EXPECT_EQ(axis_block(0, 0).wr4, c.after);
    EXPECT_EQ(c.get(0, c.axis), c.on);
  }
}

struct Shadows {
  u16 wr1 = 0, wr2 = 0, em6 = 0, em7 = 0;
};

void SetShadows(AxisBlock& b, const Shadows& s) {
  b.wr1 = s.wr1;
  b.wr2 = s.wr2;
  b.em6 = s.em6;
  b.em7 = s.em7;
}

TEST_F(SignalsTest, SettersRewriteOneRegisterKeepingTheOtherBits) {
  enum Reg { kWr1, kWr2, kExt };
  struct Case {
    Reg reg;
    std::function<void()> set;
    Shadows before, after;
  };
  // clang-format off
  const Case cases[] = {
      {kWr2, [] { RVX406A_SetSvAlm(0, 1, 1, 0); }, {0, 0x5FFF}, {0, 0x6FFF}},
      {kWr2, [] { RVX406A_SetSvInpos(0, 1, 1, 1); }, {0, 0x0001}, {0, 0xC001}},
      {kWr2, [] { RVX406A_SetHlmt(0, 1, 1, 1); }, {0x000A, 0x8000}, {0x000A, 0x801C}},
      {kWr1, [] { RVX406A_SetOrg(0, 1, 1); }, {0x00FA, 0x0018}, {0x00F5, 0x0018}},
      {kWr1, [] { RVX406A_SetEncoderZ(0, 1, 1); }, {0x0025}, {0x0015}},
      {kWr2, [] { RVX406A_SetCompCountMode(0, 1, 1); }, {0, 0x0003}, {0, 0x0023}},
      {kWr2, [] { RVX406A_SetPulseMode(0, 1, 0); }, {0, 0xFFFF}, {0, 0xFE3F}},
      {kWr2, [] { RVX406A_SetPulseMode(0, 1, 1); }, {0, 0xFE3F}, {0, 0xFEBF}},
      {kWr2, [] { RVX406A_SetPulseMode(0, 1, 3); }, {0, 0xFE3F}, {0, 0xFF7F}},
      {kWr2, [] { RVX406A_SetPulseMode(0, 1, 4); }, {0, 0}, {0, 0x00C0}},
      {kWr2, [] { RVX406A_SetEncoderMode(0, 1, 1); }, {0, 0xF1FF}, {0, 0xF5FF}},
      {kWr2, [] { RVX406A_SetEncoderMode(0, 1, 3); }, {0, 0}, {0, 0x0E00}},
      // A disabled clear output stays enabled.
      {kExt, [] { RVX406A_SetSvCClr(0, 1, 0, 1); }, {0, 0, 0x6510, 0xC04F}, {0, 0, 0x6510, 0xD84F}},
      {kExt, [] { RVX406A_SetSvCClrTime(0, 1, 2); }, {0, 0, 0, 0xD94F}, {0, 0, 0, 0x594F}},
      {kExt, [] { RVX406A_SetFilterTime(0, 1, 7); }, {0, 0, 0x1F03, 0xC9}, {0, 0, 0xFF03, 0xC9}},
      {kExt, [] { RVX406A_SetFilterSensor(0, 1, 0); }, {0, 0, 0x6500, 1}, {0, 0, 0x6400, 1}},
      {kExt, [] { RVX406A_SetFilterEncoderZ(0, 1, 1); }, {0, 0, 0x6500, 1}, {0, 0, 0x6700, 1}},
      {kExt, [] { RVX406A_SetFilterSvIF(0, 1, 0); }, {0, 0, 0x6500, 1}, {0, 0, 0x6100, 1}},
      {kExt, [] { RVX406A_SetFilterExt(0, 1, 1); }, {0, 0, 0x6500, 1}, {0, 0, 0x6D00, 1}},
      {kExt, [] { RVX406A_SetFilterStop(0, 1, 1); }, {0, 0, 0x6516, 0x400}, {0, 0, 0x7516, 0x400}},
      {kExt, [] { RVX406A_SetPulseDir(0, 1, 1); }, {0, 0, 0x6500, 0x1234}, {0, 0, 0x6504, 0x1234}},
      {kExt, [] { RVX406A_SetEncoderDir(0, 1, 0); }, {0, 0, 0xFFFF, 0}, {0, 0, 0xFFFD, 0}},
  };
  // clang-format on
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    AxisBlock& b = axis_block(0, 1);
    SetShadows(b, c.before);
    sim::StartTrace();
    c.set();
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS) << "case " << i;
    const Strings writes = TracedWrites();
    if (c.reg == kExt) {
      EXPECT_THAT(writes,
                  ElementsAre(Hex("WR7=", c.after.em7), Hex("WR6=", c.after.em6), "WR0=0260"))
          << "case " << i;
    } else {
      const u16 value = c.reg == kWr1 ? c.after.wr1 : c.after.wr2;
      EXPECT_THAT(writes, ElementsAre("WR0=020F", Hex(c.reg == kWr1 ? "WR1=" : "WR2=", value)))
          << "case " << i;
    }
    EXPECT_EQ(b.wr1, c.after.wr1) << "case " << i;
    EXPECT_EQ(b.wr2, c.after.wr2) << "case " << i;
    EXPECT_EQ(b.em6, c.after.em6) << "case " << i;
    EXPECT_EQ(b.em7, c.after.em7) << "case " << i;
  }
}

// Getters answer from the shadows; these patterns hold only part of what a
// setting needs, or no mode at all.
TEST_F(SignalsTest, GettersDecodeTheShadows) {
  using Get = uint16_t (*)(uint16_t, uint16_t);
  using GetPair = void (*)(uint16_t, uint16_t, uint16_t*, uint16_t*);
  struct Case {
    Shadows shadows;
    Get get;
    GetPair get_pair;
    u16 first, second = 0;
  };
  const Case cases[] = {
      {{0x0011}, RVX406A_GetOrg, nullptr, 0},
      {{0x0011}, RVX406A_GetEncoderZ, nullptr, 1},
      {{0, 0x802C}, nullptr, RVX406A_GetHlmt, 1, 0},  // logic needs both limit bits
      {{0, 0x802C}, nullptr, RVX406A_GetSvInpos, 1, 0},
      {{0, 0x2000}, nullptr, RVX406A_GetSvAlm, 1, 0},
      {{0, 0x802C}, RVX406A_GetCompCountMode, nullptr, 1},
      {{0, 0x0140}, RVX406A_GetPulseMode, nullptr, 3},
      {{0, 0x0100}, RVX406A_GetPulseMode, nullptr, 0},
      {{0, 0x0180}, RVX406A_GetPulseMode, nullptr, 0},
      {{0, 0x0800}, RVX406A_GetEncoderMode, nullptr, 2},
      {{0, 0x0600}, RVX406A_GetEncoderMode, nullptr, 0},
      {{0, 0x0C00}, RVX406A_GetEncoderMode, nullptr, 0},
      {{0, 0, 0x5602}, RVX406A_GetFilterTime, nullptr, 2},
      {{0, 0, 0x5602}, RVX406A_GetFilterSensor, nullptr, 0},
      {{0, 0, 0x5602}, RVX406A_GetFilterEncoderZ, nullptr, 1},
      {{0, 0, 0x5602}, RVX406A_GetFilterSvIF, nullptr, 1},
      {{0, 0, 0x5602}, RVX406A_GetFilterExt, nullptr, 0},
      {{0, 0, 0x5602}, RVX406A_GetFilterStop, nullptr, 1},
      {{0, 0, 0x5602}, RVX406A_GetEncoderDir, nullptr, 1},
      {{0, 0, 0x5602}, RVX406A_GetPulseDir, nullptr, 0},
      {{0, 0, 0, 0x1400}, nullptr, RVX406A_GetSvCClr, 0, 1},
      {{0, 0, 0, 0x5400}, RVX406A_GetSvCClrTime, nullptr, 2},
  };
  for (const Case& c : cases) {
    SetShadows(axis_block(0, 1), c.shadows);
    u16 first = 9, second = 9;
    if (c.get) first = c.get(0, 1);
    if (c.get_pair) c.get_pair(0, 1, &first, &second);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(first, c.first) << std::hex << c.shadows.wr1 << " " << c.shadows.wr2 << " "
                              << c.shadows.em6 << " " << c.shadows.em7;
    if (c.get_pair) {
      EXPECT_EQ(second, c.second) << std::hex << c.shadows.wr2 << " " << c.shadows.em7;
    }
  }
}

TEST_F(SignalsTest, HomeLogicFollowsLimitLogicWhenLimitIsHome) {
  struct Case {
    std::function<void()> set;
    u16 em7;
    Shadows before;
    Strings writes;
    Shadows after;
    u16 org;
  };
  // clang-format off
  const Case cases[] = {
      {[] { RVX406A_SetHlmt(0, 3, 0, 1); }, 0xCD4F, {0x001A, 0x0004},
       {"WR0=080F", "WR2=0018", "WR0=080F", "WR1=0015"}, {0x0015, 0x0018}, 1},
      {[] { RVX406A_SetHlmt(0, 3, 0, 1); }, 0xC94F, {0x0000, 0x0004},
       {"WR0=080F", "WR2=0018"}, {0x0000, 0x0018}, 0},
      // Home logic 1 asked, limit logic 0 wins.
      {[] { RVX406A_SetOrg(0, 3, 1); }, 0x0400, {0x0000, 0x0008},
       {"WR0=080F", "WR1=0005", "WR0=080F", "WR2=0000", "WR0=080F", "WR1=0000"},
       {0x0000, 0x0000}, 0},
      {[] { RVX406A_SetOrg(0, 3, 0); }, 0x0400, {0x0005, 0x0018},
       {"WR0=080F", "WR1=0000", "WR0=080F", "WR2=0018", "WR0=080F", "WR1=0005"},
       {0x0005, 0x0018}, 1},
      {[] { RVX406A_SetOrg(0, 3, 1); }, 0xFBFF, {0x0000, 0x0008},
       {"WR0=080F", "WR1=0005"}, {0x0005, 0x0008}, 1},
  };
  // clang-format on
  for (const Case& c : cases) {
    AxisBlock& b = axis_block(0, 3);
    b.em7 = c.em7;
    b.wr1 = c.before.wr1;
    b.wr2 = c.before.wr2;
    sim::StartTrace();
    c.set();
    EXPECT_EQ(TracedWrites(), c.writes) << c.em7;
    EXPECT_EQ(b.wr1, c.after.wr1) << c.em7;
    EXPECT_EQ(b.wr2, c.after.wr2) << c.em7;
    EXPECT_EQ(RVX406A_GetOrg(0, 3), c.org) << c.em7;
  }
}

TEST_F(SignalsTest, BoardRegistersAreReadModifyWritten) {
  sim::SetLocal(0, local::kServoRun, 0x12345FFF);
  sim::SetPld(0, pld::kEmgCmp, 0xFE);
  struct Case {
    std::function<void()> set;
    Strings requests;
  };
  const Case cases[] = {
      // The compare trigger bits 1..7 go back as read.
      {[] { RVX406A_SetEmergency(0, 1); }, {"RP5", "P5=FF", "RP1", "RP1"}},
      {[] { RVX406A_SetEmergency(0, 0); }, {"RP5", "P5=FE", "RP1", "RP1"}},
      // The axis is not looked at: 7 passes on a four-axis board.
      {[] { RVX406A_PutSvRun(0, 7, 1); }, {"RL80", "L80=12345EFF", "RP1", "RP1"}},
      {[] { RVX406A_PutSvRun(0, 7, 0); }, {"RL80", "L80=12345FFF", "RP1", "RP1"}},
      {[] { RVX406A_PutSvCClrCmd(0, 2); }, {"WR0=0463", "RP1", "RP1"}},
  };
  for (const Case& c : cases) {
    sim::StartTrace();
    c.set();
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(Requests(sim::Trace()), c.requests);
  }
  EXPECT_EQ(RVX406A_GetEmergency(0) + RVX406A_GetSvRun(0, 9), 0);
  sim::SetPld(0, pld::kEmgCmp, 0x05);
  sim::SetLocal(0, local::kServoRun, 0xFFFFFEFF);
  EXPECT_EQ(RVX406A_GetEmergency(0) + RVX406A_GetSvRun(0, 9), 2);
}

TEST_F(SignalsTest, LimitsAndRingShareTheCompareRegisters) {
  using Window = std::tuple<i32, i32, u16>;  // first, second, enabled
  struct Case {
    std::function<void()> set;
    u16 wr2, em6;  // shadows before
    Strings writes;
    u16 wr2_after, em6_after;
    Window limits, ring;  // as the getters report them afterwards
  };
  // clang-format off
  const Case cases[] = {
      {[] { RVX406A_SetSlmt(0, 1, 1000, -1000, 1); }, 0x0000, 0x6510,
       {"WR0=020F", "WR2=0003", "WR7=C94F", "WR6=6500", "WR0=0260",
        "WR7=0000", "WR6=03E8", "WR0=020B", "WR7=FFFF", "WR6=FC19", "WR0=020C"},
       0x0003, 0x6500, {1000, -1000, 1}, {3600, 7200, 0}},
      // Disabled limits are stored only.
      {[] { RVX406A_SetSlmt(0, 1, 500, -500, 0); }, 0xFFFF, 0x6510,
       {"WR0=020F", "WR2=FFFC", "WR7=C94F", "WR6=6510", "WR0=0260"},
       0xFFFC, 0x6510, {500, -500, 0}, {3600, 7200, 1}},
      {[] { RVX406A_SetSlmt(0, 1, -1073741824, 1073741823, 1); }, 0x0000, 0x6500,
       {"WR0=020F", "WR2=0003", "WR7=C94F", "WR6=6500", "WR0=0260",
        "WR7=C000", "WR6=0000", "WR0=020B", "WR7=4000", "WR6=0000", "WR0=020C"},
       0x0003, 0x6500, {-1073741824, 1073741823, 1}, {3600, 7200, 0}},
      {[] { RVX406A_SetCounterRing(0, 1, 3600, 10000, 1); }, 0x8003, 0x6500,
       {"WR0=020F", "WR2=8000", "WR7=C94F", "WR6=6510", "WR0=0260",
        "WR7=0000", "WR6=0E0F", "WR0=020B", "WR7=0000", "WR6=270F", "WR0=020C"},
       0x8000, 0x6510, {1000, -1000, 0}, {3600, 10000, 1}},
      // Switching the ring off puts the stored limits back.
      {[] { RVX406A_SetCounterRing(0, 1, 1, 1073741823, 0); }, 0x0003, 0x6510,
       {"WR0=020F", "WR2=0003", "WR7=C94F", "WR6=6500", "WR0=0260",
        "WR7=0000", "WR6=03E8", "WR0=020B", "WR7=FFFF", "WR6=FC19", "WR0=020C"},
       0x0003, 0x6500, {1000, -1000, 1}, {1, 1073741823, 0}},
  };
  // clang-format on
  for (const Case& c : cases) {
    AxisBlock& b = axis_block(0, 1);
    b.wr2 = c.wr2;
    b.em6 = c.em6;
    b.em7 = 0xC94F;
    b.plus_softlimit = 1000;
    b.minus_softlimit = -1000;
    b.ring_command = 3600;
    b.ring_actual = 7200;
    sim::SetPld(0, pld::kEmgCmp, 0xFB);  // every compare trigger bit but the owning one
    sim::StartTrace();
    c.set();
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(TracedWrites(), c.writes);
    EXPECT_EQ(b.wr2, c.wr2_after);
    EXPECT_EQ(b.em6, c.em6_after);
    i32 plus = 7, minus = 7;
    u32 command = 7, actual = 7;
    u16 limits_on = 7, ring_on = 7;
    RVX406A_GetSlmt(0, 1, &plus, &minus, &limits_on);
    RVX406A_GetCounterRing(0, 1, &command, &actual, &ring_on);
    EXPECT_EQ(Window(plus, minus, limits_on), c.limits);
    EXPECT_EQ(Window(static_cast<i32>(command), static_cast<i32>(actual), ring_on), c.ring);
  }
}

TEST_F(SignalsTest, MotionErrorDecodingAndHomeBookkeeping) {
  struct Case {
    u16 rr2, home_ok, pending;
    i32 code;
    u16 home_ok_after, pending_after;
  };
  // clang-format off
  const Case cases[] = {
      {0x0000, 0, 0, ERR_SUCCESS, 0, 0},      {0x0040, 0, 0, ERR_SUCCESS, 0, 0},
      {0x0001, 0, 0, ERR_STOP_BY_SLPT, 0, 0}, {0x0002, 0, 0, ERR_STOP_BY_SLMT, 0, 0},
      {0x0004, 0, 0, ERR_STOP_BY_HLPT, 0, 0}, {0x0008, 1, 0, ERR_STOP_BY_HLMT, 1, 0},
      {0x0010, 1, 1, ERR_STOP_BY_ALM, 0, 0},  {0x0020, 1, 0, ERR_STOP_BY_EMG, 0, 0},
      {0x0080, 1, 0, ERR_STOP_BY_EZ, 0, 0},   {0x0003, 0, 0, ERR_UNKNOWN, 0, 0},
      {0x0030, 0, 0, ERR_UNKNOWN, 0, 0},      {0xFF41, 0, 0, ERR_STOP_BY_SLPT, 0, 0},
      // A search of this process that ended cleanly, even at a limit, succeeds once.
      {0x0000, 0, 1, ERR_SUCCESS, 1, 0},      {0x0004, 0, 1, ERR_STOP_BY_HLPT, 1, 0},
      {0x0000, 1, 1, ERR_SUCCESS, 1, 1},
  };
  // clang-format on
  sim::SetDriving(0, 1, true);  // the busy bit is not consulted
  for (const Case& c : cases) {
    sim::SetErrorStatus(0, 1, c.rr2);
    axis_block(0, 1).home_ok = c.home_ok;
    process().home_table[0][1] = c.pending;
    sim::StartTrace();
    EXPECT_EQ(RVX406A_GetMotionErrCod(0, 1), c.code) << std::hex << c.rr2;
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_THAT(Requests(sim::Trace()), ElementsAre("WR0=020F", "RP1", "RP1", "RR2"));
    EXPECT_EQ(axis_block(0, 1).home_ok, c.home_ok_after) << std::hex << c.rr2;
    EXPECT_EQ(process().home_table[0][1], c.pending_after) << std::hex << c.rr2;
  }
}

TEST_F(SignalsTest, RefusedCallsChangeNothing) {
  struct Case {
    std::function<void()> call;
    u8 emgcmp;
    i32 result;
    Strings requests = {};
  };
  const Case cases[] = {
      {[] { RVX406A_PutSvOn(0, 0, 2); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_PutSvAlmRst(0, 4, 1); }, 0, ERR_AXIS_NUM},
      {[] { RVX406A_SetHlmt(0, 0, 2, 1); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetOrg(0, 0, 2); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetSvCClr(0, 0, 2, 0); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetSvCClrTime(0, 0, 8); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_PutSvCClrCmd(1, 0); }, 0, ERR_BOARD_NUMBER},
      {[] { RVX406A_SetEmergency(0, 2); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_PutSvRun(0, 0, 2); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_GetMotionErrCod(0, 4); }, 0, ERR_AXIS_NUM},
      {[] { RVX406A_SetRangeMode(0, 0, 0); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetRangeMode(0, 0, 501); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetPulseMode(0, 0, 6); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetEncoderMode(0, 0, 4); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetSlmt(0, 0, 1073741824, 0, 1); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetSlmt(0, 0, 0, -1073741825, 1); }, 0, ERR_INVALID_PARAMETER},
      // The arguments are checked before the compare trigger is asked.
      {[] { RVX406A_SetSlmt(0, 0, 0, 0, 2); }, 0x04, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetSlmt(0, 0, 10, -10, 0); }, 0x04, ERR_COMP_MODE, {"RP5"}},
      {[] { RVX406A_SetCounterRing(0, 0, 0, 100, 1); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetCounterRing(0, 0, 100, 0x40000000, 1); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetCounterRing(0, 0, 3600, 3600, 0); }, 0xFF, ERR_COMP_MODE, {"RP5"}},
      {[] { RVX406A_SetFilterTime(0, 0, 8); }, 0, ERR_INVALID_PARAMETER},
      {[] { RVX406A_SetCompCountMode(0, 0, 2); }, 0, ERR_INVALID_PARAMETER},
  };
  process().home_table[0][4] = 1;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const Case& c = cases[i];
    sim::SetPld(0, pld::kEmgCmp, c.emgcmp);
    const BoardBlock before = shared().board[0];
    sim::StartTrace();
    c.call();
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result) << "case " << i;
    EXPECT_EQ(Requests(sim::Trace()), c.requests) << "case " << i;
    EXPECT_EQ(memcmp(&before, &shared().board[0], sizeof before), 0) << "case " << i;
  }
  EXPECT_EQ(process().home_table[0][4], 1);
  RVX406A_SetRangeMode(0, 0, 500);  // the bound itself passes, without a register write
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_THAT(sim::Trace(), IsEmpty());
  EXPECT_EQ(RVX406A_GetRangeMode(0, 0), 500);
}

TEST_F(SignalsTest, FailingGettersGiveZero) {
  AxisBlock& b = axis_block(0, 0);
  b.wr1 = b.wr2 = b.em6 = b.em7 = b.wr4 = 0xFFFF;
  b.plus_softlimit = b.ring_command = 1000;
  sim::SetPld(0, pld::kEmgCmp, 0xFF);
  for (auto get : {RVX406A_GetSvAlm, RVX406A_GetSvInpos, RVX406A_GetHlmt, RVX406A_GetSvCClr}) {
    u16 first = 7, second = 7;
    get(0, 4, &first, &second);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
    EXPECT_EQ(first + second, 0);
  }
  for (auto get : {RVX406A_GetSvOn, RVX406A_GetOrg, RVX406A_GetSvCClrTime, RVX406A_GetRangeMode,
                   RVX406A_GetPulseMode, RVX406A_GetFilterTime, RVX406A_GetFilterStop}) {
    EXPECT_EQ(get(1, 0), 0);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_BOARD_NUMBER);
  }
  i32 plus = 5, minus = 5;
  u32 command = 5, actual = 5;
  u16 on = 5, ring_on = 5;
  RVX406A_GetSlmt(0, 7, &plus, &minus, &on);
  RVX406A_GetCounterRing(1, 0, &command, &actual, &ring_on);
  EXPECT_EQ(plus | minus | on | ring_on | static_cast<i32>(command | actual), 0);
  EXPECT_EQ(RVX406A_GetEmergency(1), 0);
  RVX406A_UnloadDevice();
  EXPECT_EQ(RVX406A_GetSvOn(0, 0), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_HANDLE);
}

TEST_F(SignalsTest, LogLinesFollowEachFunctionsRule) {
  struct Case {
    u32 level;
    std::function<void()> call;
    Strings lines;
  };
  u16 a, b;
  i32 plus, minus;
  u32 command, actual;
  sim::SetErrorStatus(0, 1, 0x0001);  // a stop cause, yet the call succeeds
  const Case cases[] = {
      {2, [] { RVX406A_PutSvRun(0, 7, 1); }, {}},
      {3, [] { RVX406A_PutSvRun(0, 7, 1); }, {" RV =     0 : RVX406A_PutSvRun (0, 7, 1)"}},
      {4, [] { RVX406A_PutSvRun(0, 7, 2); }, {" RV =  -300 : RVX406A_PutSvRun (0, 7, 2)"}},
      {3, [] { RVX406A_GetMotionErrCod(0, 1); }, {}},
      {2, [] { RVX406A_GetMotionErrCod(0, 4); }, {}},
      {3, [] { RVX406A_GetMotionErrCod(0, 4); }, {" RV =  -540 : RVX406A_GetMotionErrCod (0, 4)"}},
      {1, [] { RVX406A_GetFilterStop(0, 1); }, {}},
      {3, [] { RVX406A_GetFilterStop(0, 1); }, {" RV =     0 : RVX406A_GetFilterStop (0, 1)"}},
      {2, [&] { RVX406A_GetSvAlm(0, 5, &a, &b); }, {" RV =  -540 : RVX406A_GetSvAlm (0, 5, 0, 0)"}},
      {1, [] { RVX406A_SetSvCClr(0, 2, 0, 1); }, {" RV =     0 : RVX406A_SetSvCClr (0, 2, 1, 1)"}},
      {2, [] { RVX406A_GetEmergency(2); }, {" RV =  -410 : RVX406A_GetEmergency (2, 0)"}},
      {1,
       [] { RVX406A_SetSlmt(0, 1, 1000, -1000, 1); },
       {" RV =     0 : RVX406A_SetSlmt (0, 1, 1000, -1000, 1 )"}},
      {2,
       [] { RVX406A_SetCounterRing(0, 1, 0x40000000, 5, 1); },
       {" RV =  -300 : RVX406A_SetCounterRing (0, 1, 1073741824, 5, 1 )"}},
      {3, [&] { RVX406A_GetSlmt(0, 1, &plus, &minus, &a); }, {}},
      {2,
       [&] { RVX406A_GetCounterRing(0, 4, &command, &actual, &a); },
       {" RV =  -540 : RVX406A_GetCounterRing (0, 4, 0, 0, 0 )"}},
  };
  for (const Case& c : cases) {
    ClearLog();
    shared().log_level = c.level;
    c.call();
    EXPECT_EQ(LoggedCalls(), c.lines) << "level " << c.level;
  }
}

}  // namespace
}  // namespace rvx::test
