// Axis signals, pulse and encoder modes, limits, ring counter and filters.
#include <algorithm>

#include "tests/support.h"

namespace rvx::test {
namespace {

enum Field { kWr1, kWr2, kWr4, kEm6, kEm7 };

// Both outputs of a two-value getter as 0xAB, preset so that an untouched output shows.
template <void (*kGet)(uint16_t, uint16_t, uint16_t*, uint16_t*)>
uint16_t Pair(uint16_t board, uint16_t axis) {
  uint16_t first = 7, second = 7;
  kGet(board, axis, &first, &second);
  return static_cast<uint16_t>(first << 4 | second);
}

class SignalsTest : public LoadedTest<> {
 protected:
  // Indexed by Field: the shadows of axis 1 and the board's WR4 output shadow.
  std::array<u16*, 5> Shadow() const {
    AxisBlock& b = axis_block(0, 1);
    return {&b.wr1, &b.wr2, &axis_block(0, 0).wr4, &b.em6, &b.em7};
  }
};

TEST_F(SignalsTest, SettersRewriteOneRegisterKeepingTheOtherBits) {
  const std::tuple<Field, u16, u16, std::function<void()>> cases[] = {
      {kWr4, 0xB0B3, 0xB2B3, [] { RVX406A_PutSvOn(0, 2, 1); }},
      {kWr4, 0x1313, 0x1303, [] { RVX406A_PutSvAlmRst(0, 1, 0); }},
      {kWr2, 0x5FFF, 0x6FFF, [] { RVX406A_SetSvAlm(0, 1, 1, 0); }},
      {kWr2, 0x0001, 0xC001, [] { RVX406A_SetSvInpos(0, 1, 1, 1); }},
      {kWr2, 0x8000, 0x801C, [] { RVX406A_SetHlmt(0, 1, 1, 1); }},
      {kWr1, 0x00FA, 0x00F5, [] { RVX406A_SetOrg(0, 1, 1); }},
      {kWr1, 0x0025, 0x0015, [] { RVX406A_SetEncoderZ(0, 1, 1); }},
      {kWr2, 0x0003, 0x0023, [] { RVX406A_SetCompCountMode(0, 1, 1); }},
      {kEm7, 0xC04F, 0xD84F, [] { RVX406A_SetSvCClr(0, 1, 0, 1); }},  // stays enabled
      {kEm7, 0xD94F, 0x594F, [] { RVX406A_SetSvCClrTime(0, 1, 2); }},
      {kEm6, 0x1F03, 0xFF03, [] { RVX406A_SetFilterTime(0, 1, 7); }},
      {kEm6, 0x6500, 0x6400, [] { RVX406A_SetFilterSensor(0, 1, 0); }},
      {kEm6, 0x6500, 0x6700, [] { RVX406A_SetFilterEncoderZ(0, 1, 1); }},
      {kEm6, 0x6500, 0x6100, [] { RVX406A_SetFilterSvIF(0, 1, 0); }},
      {kEm6, 0x6500, 0x6D00, [] { RVX406A_SetFilterExt(0, 1, 1); }},
      {kEm6, 0x6516, 0x7516, [] { RVX406A_SetFilterStop(0, 1, 1); }},
      {kEm6, 0x6500, 0x6504, [] { RVX406A_SetPulseDir(0, 1, 1); }},
      {kEm6, 0xFFFF, 0xFFFD, [] { RVX406A_SetEncoderDir(0, 1, 0); }}};
  for (const auto& [field, before, after, set] : cases) {
    std::array<u16, 5> s = {0x5A5A, 0xA5A5, 0x3C3C, 0x6500, 0xFBFF};  // no limit-as-home
    s[field] = before;
    for (int f = 0; f < 5; ++f) *Shadow()[f] = s[f];
    s[field] = after;
    sim::StartTrace();
    set();
    const Strings writes[] = {{"WR0=020F", Reg("WR1", s[kWr1])},
                              {"WR0=020F", Reg("WR2", s[kWr2])},
                              {Reg("WR4", s[kWr4])},  // no select
                              {Reg("WR7", s[kEm7]), Reg("WR6", s[kEm6]), "WR0=0260"}};
    EXPECT_EQ(TracedWrites(), writes[std::min(field, kEm6)]) << after;
    for (int f = 0; f < 5; ++f) EXPECT_EQ(*Shadow()[f], s[f]) << after;
  }
}

TEST_F(SignalsTest, PulseAndEncoderModeTables) {
  const u16 pulse[] = {0, 0x080, 0x040, 0x140, 0x0C0, 0x1C0}, encoder[] = {0, 0x400, 0x800, 0xE00};
  for (u16 m = 0; m < 10; ++m) {
    const bool enc = m >= 6;
    const u16 mode = enc ? m - 6 : m, wr2 = enc ? 0xF1FF | encoder[mode] : 0xFE3F | pulse[mode];
    *Shadow()[kWr2] = 0xFFFF;
    sim::StartTrace();
    (enc ? RVX406A_SetEncoderMode : RVX406A_SetPulseMode)(0, 1, mode);
    EXPECT_EQ(TracedWrites(), (Strings{"WR0=020F", Reg("WR2", wr2)}));
    EXPECT_EQ((enc ? RVX406A_GetEncoderMode : RVX406A_GetPulseMode)(0, 1), mode);
  }
}

// GetOrg and GetHlmt need both of their bits; WR2 holds pulse and encoder patterns of no mode.
TEST_F(SignalsTest, GettersDecodeTheShadows) {
  const u16 shadows[] = {0x0011, 0xA32C, 0x0010, 0x5602, 0x5400};
  for (int f = 0; f < 5; ++f) *Shadow()[f] = shadows[f];
  sim::SetPld(0, pld::kEmgCmp, 0x01);
  sim::SetLocal(0, local::kServoRun, 0xFFFFFEFF);  // active low
  // clang-format off
  const std::pair<u16, u16> got[] = {
      {RVX406A_GetOrg(0, 1), 0},              {RVX406A_GetEncoderZ(0, 1), 1},
      {Pair<RVX406A_GetHlmt>(0, 1), 0x10},    {Pair<RVX406A_GetSvInpos>(0, 1), 0x10},
      {Pair<RVX406A_GetSvAlm>(0, 1), 0x10},   {RVX406A_GetCompCountMode(0, 1), 1},
      {RVX406A_GetFilterTime(0, 1), 2},       {RVX406A_GetFilterSensor(0, 1), 0},
      {RVX406A_GetFilterEncoderZ(0, 1), 1},   {RVX406A_GetFilterSvIF(0, 1), 1},
      {RVX406A_GetFilterExt(0, 1), 0},        {RVX406A_GetFilterStop(0, 1), 1},
      {RVX406A_GetEncoderDir(0, 1), 1},       {RVX406A_GetPulseDir(0, 1), 0},
      {Pair<RVX406A_GetSvCClr>(0, 1), 0x01},  {RVX406A_GetSvCClrTime(0, 1), 2},
      {RVX406A_GetSvAlmRst(0, 1), 1},         {RVX406A_GetSvOn(0, 1), 0},
      {RVX406A_GetEmergency(0), 1},           {RVX406A_GetSvRun(0, 9), 1},
      {RVX406A_GetPulseMode(0, 1), 0},        {RVX406A_GetEncoderMode(0, 1), 0}};
  // clang-format on
  for (size_t i = 0; i < std::size(got); ++i) EXPECT_EQ(got[i].first, got[i].second) << i;
}

// The state carries from call to call. Refused calls change no register and no shadow.
TEST_F(SignalsTest, RegisterSequencesAndRefusals) {
  AxisBlock &a1 = axis_block(0, 1), &a3 = axis_block(0, 3);
  std::tie(a1.wr2, a1.em6, a1.em7, a1.plus_softlimit, a1.minus_softlimit) =
      std::make_tuple(0x0000, 0x6510, 0xC94F, 1000, -1000);
  a3.em7 = 0x0400;  // limit-as-home: the home logic follows the limit logic
  sim::SetLocal(0, local::kServoRun, 0x12345FFF);
  sim::SetPld(0, pld::kEmgCmp, 0xFA);
  process().home_table[0][4] = 1;
  // clang-format off
  const std::tuple<std::function<void()>, i32, Strings> cases[] = {
      {[] { RVX406A_SetEmergency(0, 1); }, 0, {"P5=FB"}},  // bits 1..7 kept
      {[] { RVX406A_SetEmergency(0, 0); }, 0, {"P5=FA"}},
      {[] { RVX406A_PutSvRun(0, 7, 1); }, 0, {"L80=12345EFF"}},  // the axis is not looked at
      {[] { RVX406A_PutSvRun(0, 7, 0); }, 0, {"L80=12345FFF"}},
      {[] { RVX406A_PutSvCClrCmd(0, 2); }, 0, {"WR0=0463"}},
      {[] { RVX406A_SetRangeMode(0, 1, 500); }, 0, {}},
      {[&] { a3.wr1 = 0x001A, a3.wr2 = 0x0004, RVX406A_SetHlmt(0, 3, 0, 1); }, 0,
       {"WR0=080F", "WR2=0018", "WR0=080F", "WR1=0015"}},
      // Home logic 1 asked, limit logic 0 wins.
      {[&] { a3.wr1 = 0x0000, a3.wr2 = 0x0008, RVX406A_SetOrg(0, 3, 1); }, 0,
       {"WR0=080F", "WR1=0005", "WR0=080F", "WR2=0000", "WR0=080F", "WR1=0000"}},
      {[&] { a3.wr1 = 0x0005, a3.wr2 = 0x0018, RVX406A_SetOrg(0, 3, 0); }, 0,
       {"WR0=080F", "WR1=0000", "WR0=080F", "WR2=0018", "WR0=080F", "WR1=0005"}},
      // Limits and ring counter share the compare registers; disabled limits are only stored.
      {[] { RVX406A_SetSlmt(0, 1, -1073741824, 1073741823, 1); }, 0,
       {"WR0=020F", "WR2=0003", "WR7=C94F", "WR6=6500", "WR0=0260",
        "WR7=C000", "WR6=0000", "WR0=020B", "WR7=4000", "WR6=0000", "WR0=020C"}},
      {[&] { a1.wr2 = 0xFFFF, RVX406A_SetSlmt(0, 1, 500, -500, 0); }, 0,
       {"WR0=020F", "WR2=FFFC", "WR7=C94F", "WR6=6500", "WR0=0260"}},
      {[&] { a1.em6 = 0x6510, RVX406A_SetCounterRing(0, 1, 1, 1073741823, 0); }, 0,
       {"WR0=020F", "WR2=FFFC", "WR7=C94F", "WR6=6500", "WR0=0260",
        "WR7=0000", "WR6=01F4", "WR0=020B", "WR7=FFFF", "WR6=FE0D", "WR0=020C"}},
      {[&] { a1.wr2 = 0x8003, RVX406A_SetCounterRing(0, 1, 3600, 10000, 1); }, 0,
       {"WR0=020F", "WR2=8000", "WR7=C94F", "WR6=6510", "WR0=0260",
        "WR7=0000", "WR6=0E0F", "WR0=020B", "WR7=0000", "WR6=270F", "WR0=020C"}},
      // The arguments are checked before the compare trigger is asked.
      {[] { sim::SetPld(0, pld::kEmgCmp, 0x04), RVX406A_SetSlmt(0, 0, 0, 0, 2); },
       ERR_INVALID_PARAMETER, {}},
      {[] { RVX406A_SetSlmt(0, 0, 10, -10, 0); }, ERR_COMP_MODE, {}},
      {[] { RVX406A_SetCounterRing(0, 0, 3600, 3600, 0); }, ERR_COMP_MODE, {}}};
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& [call, result, writes] = cases[i];
    const BoardBlock before = shared().board[0];
    sim::StartTrace();
    call();
    EXPECT_EQ(RVX406A_GetErrorCode(), result) << "case " << i;
    EXPECT_EQ(TracedWrites(), writes) << "case " << i;
    EXPECT_TRUE(result == 0 || memcmp(&before, &shared().board[0], sizeof before) == 0) << i;
  }
  i32 plus, minus;
  u32 command, actual;
  u16 limits_on, ring_on;
  RVX406A_GetSlmt(0, 1, &plus, &minus, &limits_on);
  RVX406A_GetCounterRing(0, 1, &command, &actual, &ring_on);
  EXPECT_EQ(std::make_tuple(plus, minus, limits_on, command, actual, ring_on),
            std::make_tuple(500, -500, u16{0}, 3600u, 10000u, u16{1}));
  EXPECT_EQ(std::make_tuple(RVX406A_GetRangeMode(0, 1), RVX406A_GetOrg(0, 3), RVX406A_GetEmergency(0),
                            RVX406A_GetSvRun(0, 9), process().home_table[0][4]),
            std::make_tuple(u16{500}, u16{1}, u16{0}, u16{0}, u16{1}));
}

TEST_F(SignalsTest, MotionErrorDecodingAndHomeBookkeeping) {
  // RR2, HOME_OK and the home table flag before; the code, HOME_OK and the flag after.
  // clang-format off
  const std::array<i32, 6> cases[] = {
      {0x0000, 0, 0, ERR_SUCCESS, 0, 0},      {0x0040, 0, 0, ERR_SUCCESS, 0, 0},
      {0x0001, 0, 0, ERR_STOP_BY_SLPT, 0, 0}, {0x0002, 0, 0, ERR_STOP_BY_SLMT, 0, 0},
      {0x0004, 0, 0, ERR_STOP_BY_HLPT, 0, 0}, {0x0008, 1, 0, ERR_STOP_BY_HLMT, 1, 0},
      {0x0010, 1, 1, ERR_STOP_BY_ALM, 0, 0},  {0x0020, 1, 0, ERR_STOP_BY_EMG, 0, 0},
      {0x0080, 1, 0, ERR_STOP_BY_EZ, 0, 0},   {0x0003, 0, 0, ERR_UNKNOWN, 0, 0},
      {0x0030, 0, 0, ERR_UNKNOWN, 0, 0},      {0xFF41, 0, 0, ERR_STOP_BY_SLPT, 0, 0},
      // A search of this process that ended cleanly, even at a limit, succeeds once.
      {0x0000, 0, 1, ERR_SUCCESS, 1, 0},      {0x0004, 0, 1, ERR_STOP_BY_HLPT, 1, 0},
      {0x0000, 1, 1, ERR_SUCCESS, 1, 1}};
  // clang-format on
  sim::SetDriving(0, 1, true);  // the busy bit is not consulted
  u16 &home_ok = axis_block(0, 1).home_ok, &pending = process().home_table[0][1];
  for (const auto& c : cases) {
    sim::SetErrorStatus(0, 1, static_cast<u16>(c[0]));
    std::tie(home_ok, pending) = std::make_tuple(c[1], c[2]);
    sim::StartTrace();
    const std::array<i32, 3> got = {RVX406A_GetMotionErrCod(0, 1), home_ok, pending};
    EXPECT_EQ(got, (std::array<i32, 3>{c[3], c[4], c[5]})) << std::hex << c[0];
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);  // the code is only returned
    EXPECT_EQ(Requests(sim::Trace()), (Strings{"WR0=020F", "RP1", "RP1", "RR2"}));
  }
}

TEST_F(SignalsTest, LogLinesFollowEachFunctionsRule) {
  const std::tuple<u32, std::function<void()>, const char*> cases[] = {
      {3, [] { RVX406A_PutSvRun(0, 7, 1); }, " RV =     0 : RVX406A_PutSvRun (0, 7, 1)"},
      {2, [] { RVX406A_GetMotionErrCod(0, 4); }, nullptr},
      {3, [] { RVX406A_GetMotionErrCod(0, 4); }, " RV =  -540 : RVX406A_GetMotionErrCod (0, 4)"},
      {3, [] { RVX406A_GetFilterStop(0, 1); }, " RV =     0 : RVX406A_GetFilterStop (0, 1)"},
      {1, [] { RVX406A_SetSvCClr(0, 2, 0, 1); }, " RV =     0 : RVX406A_SetSvCClr (0, 2, 1, 1)"}};
  for (const auto& [level, call, line] : cases) {
    ClearLog();
    shared().log_level = level;
    call();
    EXPECT_EQ(LoggedCalls(), line ? Strings{line} : Strings{}) << "level " << level;
  }
}

}  // namespace
}  // namespace rvx::test
