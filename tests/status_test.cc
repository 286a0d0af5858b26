// Status words, position counters and the current drive speed: values built
// from the chip and the shadows, the registers read, results and log lines.
#include <gmock/gmock.h>

#include <limits>
#include <string>
#include <vector>

#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

class StatusTest : public LibraryTest {};

TEST_F(StatusTest, CardStatusBitByBit) {
  struct Case {
    u8 inputs;  // active high
    u16 wr1, wr2, rr2;
    bool driving, second;  // RR0 bits a and 4 + a
    u16 common, home_ok;   // RR0 bits 8..14; HOME_OK
    u8 outputs;            // the axis's nibble of the WR4 output shadow
    u16 expected;
  };
  const Case cases[] = {
      {0x00, 0, 0, 0, false, false, 0, 0, 0, 0x0000},
      {0x02, 0, 0, 0, false, false, 0, 0, 0, 0x0001},
      {0x02, 0x0005, 0, 0, false, false, 0, 0, 0, 0x0000},  // WR1 bits 0 and 2 turn it over
      {0x00, 0x0001, 0, 0, false, false, 0, 0, 0, 0x0000},  // bit 0 alone does not
      {0x04, 0, 0, 0, false, false, 0, 0, 0, 0x0002},
      {0x04, 0x0010, 0, 0, false, false, 0, 0, 0, 0x0000},
      {0x00, 0, 0, 0x0020, false, false, 0, 0, 0, 0x0004},
      {0x40, 0, 0, 0, false, false, 0, 0, 0, 0x0008},
      {0x00, 0, 0x4000, 0, false, false, 0, 0, 0, 0x0008},
      {0x80, 0, 0x1000, 0, false, false, 0, 0, 0, 0x0000},
      {0x80, 0, 0, 0, false, false, 0, 0, 0, 0x0010},
      {0x10, 0, 0, 0, false, false, 0, 0, 0, 0x0020},
      {0x10, 0, 0, 0x0004, false, false, 0, 0, 0, 0x0000},
      {0x00, 0, 0, 0x0008, false, false, 0, 0, 0, 0x0040},
      {0x09, 0, 0, 0xFFD3, false, false, 0, 0, 0, 0x0000},  // unreported inputs and RR2 bits
      {0x00, 0, 0, 0, true, false, 0, 0, 0, 0x0100},
      {0x00, 0, 0, 0, false, true, 0, 0, 0, 0x0200},
      {0x00, 0, 0, 0, false, false, 0, 1, 0, 0x0800},
      {0x00, 0, 0, 0, false, false, 0, 2, 0, 0x0000},
      {0x00, 0, 0, 0, false, false, 0x0100, 0, 0, 0x1000},
      {0x00, 0, 0, 0, false, false, 0x7E00, 0, 0, 0x0000},
      {0x00, 0, 0, 0, false, false, 0, 0, 0x4, 0x2000},
      {0x00, 0, 0, 0, false, false, 0, 0, 0x2, 0x4000},  // servo-on
      {0x00, 0, 0, 0, false, false, 0, 0, 0x1, 0x8000},  // alarm reset
      {0x00, 0, 0, 0, false, false, 0, 0, 0x8, 0x0000},
  };
  Load();
  for (u32 a : {0u, 3u}) {
    for (u32 other = 0; other < 4; ++other) {  // everything of the other axes on
      sim::SetInputs(0, other, 0xFF);
      sim::SetDriving(0, other, other != a);
      sim::SetErrorStatus(0, other, 0xFFFF);
      axis_block(0, other).home_ok = 1;
      axis_block(0, other).wr1 = axis_block(0, other).wr2 = 0xFFFF;
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(testing::Message() << "axis " << a << " case " << (&c - cases));
      sim::SetInputs(0, a, c.inputs);
      sim::SetErrorStatus(0, a, c.rr2);
      sim::SetDriving(0, a, c.driving);
      sim::SetMainStatusBits(0, c.common | (0xF0 & ~((c.second ? 0 : 0x10) << a)));
      axis_block(0, a).wr1 = c.wr1;
      axis_block(0, a).wr2 = c.wr2;
      axis_block(0, a).home_ok = c.home_ok;
      axis_block(0, 0).wr4 = static_cast<u16>(~(0xF << (4 * a)) | c.outputs << (4 * a));
      sim::StartTrace();
      EXPECT_EQ(RVX406A_GetCardStatus(0, a), c.expected);
      EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
      EXPECT_THAT(
          Requests(sim::Trace()),
          ElementsAre("RR0", "RR4", "RR5", a ? "WR0=080F" : "WR0=010F", "RP1", "RP1", "RR2"));
    }
  }
}

TEST_F(StatusTest, RawStatusWords) {
  const Strings main = {"RR0"}, rr4 = {"RR4"}, rr5 = {"RR5"};
  struct Case {
    u16 (*get)(u16, u16);
    u16 axis, expected;
    Strings requests;
    const char* line;  // logged at level 2 on failure
  };
  const Case cases[] = {
      {RVX406A_GetMainStatus, 0, 0x7F11, main, nullptr},
      {RVX406A_GetMainStatus, 1, 0x7F22, main, nullptr},
      {RVX406A_GetMainStatus, 2, 0x7F44, main, nullptr},
      {RVX406A_GetMainStatus, 3, 0x7F88, main, nullptr},
      {RVX406A_GetInputStatus, 0, 0x005A, rr4, nullptr},
      {RVX406A_GetInputStatus, 1, 0xFE00, rr4, nullptr},
      {RVX406A_GetInputStatus, 2, 0x0080, rr5, nullptr},
      {RVX406A_GetInputStatus, 3, 0x3C00, rr5, nullptr},
      {RVX406A_GetDrvStatus, 2, 0x3333, {"WR0=040F", "RP1", "RP1", "RR1"}, nullptr},
      {RVX406A_GetErrStatus, 1, 0x1E1E, {"WR0=020F", "RP1", "RP1", "RR2"}, nullptr},
      {RVX406A_GetEventStatus, 3, 0x0013, {"WR0=080F", "RP1", "RP1", "RR3"}, nullptr},
      {RVX406A_GetCardStatus, 4, 0, {}, " RV =  -540 : RVX406A_GetCardStatus (0, 4, 0x00000000)"},
      {RVX406A_GetMainStatus, 4, 0, {}, " RV =  -540 : RVX406A_GetMainStatus (0, 4, 0x00000000)"},
      {RVX406A_GetInputStatus, 7, 0, {}, " RV =  -540 : RVX406A_GetInputStatus (0, 7, 0x00000000)"},
  };
  Load();
  shared().log_level = 2;
  sim::SetMainStatusBits(0, 0x7FF0);
  const u8 inputs[4] = {0x5B, 0xFF, 0x81, 0x3C};
  for (u32 a = 0; a < 4; ++a) {
    sim::SetDriving(0, a, true);
    sim::SetInputs(0, a, inputs[a]);
    sim::SetDriveStatus(0, a, static_cast<u16>(0x1111 * (a + 1)));
    sim::SetErrorStatus(0, a, static_cast<u16>(0x0F0F << a));
    sim::SetEventStatus(0, a, static_cast<u16>(0xAB10 + a));
  }
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    ClearLog();
    sim::StartTrace();
    EXPECT_EQ(c.get(0, c.axis), c.expected);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.line ? ERR_AXIS_NUM : ERR_SUCCESS);
    EXPECT_EQ(Requests(sim::Trace()), c.requests);
    EXPECT_EQ(LoggedCalls(), c.line ? Strings{c.line} : Strings{});
  }
}

TEST_F(StatusTest, SettingAndReadingPositionCounters) {
  constexpr i32 kMin = std::numeric_limits<i32>::min();
  struct Case {
    bool real;
    u16 axis;
    i32 position, result;
    Strings writes;
  };
  const Case cases[] = {
      {false, 1, 500, 0, {"WR7=0000", "WR6=01F4", "WR0=0209"}},
      {false, 3, -1073741824, 0, {"WR7=C000", "WR6=0000", "WR0=0809"}},
      {false, 0, kMin + 1, 0, {"WR7=8000", "WR6=0001", "WR0=0109"}},
      {false, 0, kMin, ERR_INVALID_PARAMETER, {}},
      {true, 2, -2, 0, {"WR7=FFFF", "WR6=FFFE", "WR0=040A"}},
      {true, 2, kMin, ERR_INVALID_PARAMETER, {}},
  };
  Load();
  shared().log_level = 1;  // setters log every call at level 1
  for (const Case& c : cases) {
    SCOPED_TRACE(c.position);
    sim::SetPosition(0, c.axis, 77, 88);
    ClearLog();
    sim::StartTrace();
    (c.real ? RVX406A_SetActualPos : RVX406A_SetCommandPos)(0, c.axis, c.position);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.result);
    EXPECT_EQ(TracedWrites(), c.writes);
    char line[96];
    snprintf(line, sizeof line, " RV = %5d : RVX406A_Set%sPos (0, %d, %d)", c.result,
             c.real ? "Actual" : "Command", c.axis, c.position);
    EXPECT_THAT(LoggedCalls(), ElementsAre(line));
    sim::StartTrace();
    EXPECT_EQ(RVX406A_GetCommandPos(0, c.axis), c.result == 0 && !c.real ? c.position : 77);
    EXPECT_EQ(RVX406A_GetActualPos(0, c.axis), c.result == 0 && c.real ? c.position : 88);
    const std::string sel = std::to_string(1 << c.axis);
    EXPECT_EQ(Requests(sim::Trace()), (Strings{"WR0=0" + sel + "10", "RP1", "RP1", "RR7", "RR6",
                                               "WR0=0" + sel + "11", "RP1", "RP1", "RR7", "RR6"}));
  }
}

TEST_F(StatusTest, CommandSpeedMultiplier) {
  struct Case {
    u16 fixed_range, range;
    u32 last_drive_speed;
    i32 reading, expected;
  };
  const Case cases[] = {
      {1, 100, 0, 50, 5000},
      {1, 3, 4000000, 50, 150},          // the drive speed does not count
      {1, 500, 0, 10000000, 705032704},  // a 32-bit product
      {0, 100, 10000, 300, 600},         // 1.25 rounds up to 2
      {0, 100, 0, 300, 300},             // no drive yet: 1
      {0, 100, 8000, 7, 7},              // exactly one step
      {0, 100, 8001, 7, 14},             // just above
      {0, 500, 10000000, 3, 1500},       // at most 500
      {0, 3, 80000, 5, 15},              // at most RANGE
      {0, 100, 10000, -300, -600},       // negative reading
      {0, 500, 4000000, 2147483647, std::numeric_limits<i32>::min()},  // beyond 32 bits
  };
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    AxisBlock& b = axis_block(0, 2);
    b.fixed_range = c.fixed_range;
    b.range = c.range;
    b.last_drive_speed = c.last_drive_speed;
    sim::SetCurrentSpeed(0, 2, c.reading);
    sim::StartTrace();
    EXPECT_EQ(RVX406A_GetCommandSpeed(0, 2), c.expected);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(Requests(sim::Trace()), (Strings{"WR0=0412", "RP1", "RP1", "RR7", "RR6"}));
  }
}

TEST_F(StatusTest, EmptyExportsTouchNothing) {
  Load();
  shared().log_level = 3;
  RVX406A_GetCardStatus(0, 9);
  ClearLog();
  sim::StartTrace();
  RVX406A_SetEnableEvent(0, 0, 1);
  RVX406A_SetIpExtPulse(7, 9, 9);
  EXPECT_THAT(sim::Trace(), IsEmpty());
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_NUM);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
}

}  // namespace
}  // namespace rvx::test
