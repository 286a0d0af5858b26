// Status words, position counters and the current drive speed.
#include "tests/support.h"

namespace rvx::test {
namespace {

using StatusTest = LoadedTest<>;

TEST_F(StatusTest, CardStatusBitByBit) {
  // Active-high inputs, WR1 and WR2 shadows, RR2, RR0 (bit 0 stands for the axis's bit a, bit 4
  // for its bit 4 + a), HOME_OK and the axis's nibble of the WR4 outputs; the word.
  // clang-format off
  const std::array<u16, 8> cases[] = {
      {0x00, 0, 0, 0, 0, 0, 0, 0x0000},
      {0xD6, 0, 0, 0, 0, 0, 0, 0x003B},                 // inputs 1, 2, 6, 7 and 4
      {0x96, 0x0015, 0x1000, 0x0004, 0, 0, 0, 0x0000},  // turned over by their logic
      {0x00, 0x0001, 0x4000, 0x0028, 0, 0, 0, 0x004C},  // WR1 bit 0 alone turns nothing
      {0x09, 0, 0, 0xFFD3, 0, 0, 0, 0x0000},            // unreported inputs and RR2 bits
      {0x00, 0, 0, 0, 0x0111, 1, 0x5, 0xBB00},
      {0x00, 0, 0, 0, 0, 0, 0x8, 0x0000},
      {0x00, 0, 0, 0, 0x7E10, 2, 0xA, 0x4200}};         // bit 1 of HOME_OK, output 3: unreported
  // clang-format on
  for (u32 a = 0; a < 4; ++a) {
    const std::string select = "WR0=0" + std::to_string(1 << a) + "0F";
    for (const auto& c : cases) {
      AxisBlock& b = axis_block(0, a);
      std::tie(b.wr1, b.wr2, b.home_ok) = std::tie(c[1], c[2], c[5]);
      sim::SetInputs(0, a, static_cast<u8>(c[0]));
      sim::SetErrorStatus(0, a, c[3]);
      for (u32 x = 0; x < 4; ++x) sim::SetDriving(0, x, x != a || (c[4] & 1));
      sim::SetMainStatusBits(0, static_cast<u16>((c[4] & 0x7F00) | (c[4] & 0x10) << a));
      axis_block(0, 0).wr4 = static_cast<u16>(~(0xF << 4 * a) | c[6] << 4 * a);
      sim::StartTrace();
      EXPECT_EQ(RVX406A_GetCardStatus(0, a), c[7]) << "axis " << a << " case " << &c - cases;
      EXPECT_EQ(Requests(sim::Trace()),
                (Strings{"RR0", "RR4", "RR5", select, "RP1", "RP1", "RR2"}));
    }
  }
}

TEST_F(StatusTest, RawStatusWords) {
  sim::SetMainStatusBits(0, 0x7FF0);
  const u8 inputs[4] = {0x5B, 0xFF, 0x81, 0x3C};
  for (u32 a = 0; a < 4; ++a) {
    sim::SetDriving(0, a, true);
    sim::SetInputs(0, a, inputs[a]);
    sim::SetDriveStatus(0, a, static_cast<u16>(0x1111 * (a + 1)));
    sim::SetErrorStatus(0, a, static_cast<u16>(0x0F0F << a));
    sim::SetEventStatus(0, a, static_cast<u16>(0xAB10 + a));
  }
  const Strings rr0 = {"RR0"}, rr4 = {"RR4"}, rr5 = {"RR5"};
  // clang-format off
  const std::tuple<u16 (*)(u16, u16), u16, u16, Strings> cases[] = {
      {RVX406A_GetMainStatus, 0, 0x7F11, rr0},   {RVX406A_GetMainStatus, 3, 0x7F88, rr0},
      {RVX406A_GetInputStatus, 0, 0x005A, rr4},  {RVX406A_GetInputStatus, 1, 0xFE00, rr4},
      {RVX406A_GetInputStatus, 2, 0x0080, rr5},  {RVX406A_GetInputStatus, 3, 0x3C00, rr5},
      {RVX406A_GetDrvStatus, 2, 0x3333, {"WR0=040F", "RP1", "RP1", "RR1"}},
      {RVX406A_GetErrStatus, 1, 0x1E1E, {"WR0=020F", "RP1", "RP1", "RR2"}},
      {RVX406A_GetEventStatus, 3, 0x0013, {"WR0=080F", "RP1", "RP1", "RR3"}}};
  // clang-format on
  for (const auto& [get, axis, expected, requests] : cases) {
    sim::StartTrace();
    EXPECT_EQ(get(0, axis), expected) << axis;
    EXPECT_EQ(Requests(sim::Trace()), requests) << axis;
  }
}

TEST_F(StatusTest, SettingAndReadingPositionCounters) {
  const std::tuple<bool, u16, i32, Strings> cases[] = {
      {false, 1, 500, {"WR7=0000", "WR6=01F4", "WR0=0209"}},
      {false, 0, INT32_MIN + 1, {"WR7=8000", "WR6=0001", "WR0=0109"}},
      {true, 2, -2, {"WR7=FFFF", "WR6=FFFE", "WR0=040A"}},
      {true, 2, INT32_MIN, {}}};
  for (const auto& [real, axis, position, writes] : cases) {
    const i32 result = writes.empty() ? ERR_INVALID_PARAMETER : ERR_SUCCESS;
    sim::SetPosition(0, axis, 77, 88);
    ClearLog();
    sim::StartTrace();
    (real ? RVX406A_SetActualPos : RVX406A_SetCommandPos)(0, axis, position);
    EXPECT_EQ(TracedWrites(), writes);
    const std::string call = real ? "SetActualPos" : "SetCommandPos";
    EXPECT_EQ(LoggedCalls(), Strings{Logged(result, call + Args({0, axis, position}))});
    EXPECT_EQ(RVX406A_GetCommandPos(0, axis), result == 0 && !real ? position : 77);
    EXPECT_EQ(RVX406A_GetActualPos(0, axis), result == 0 && real ? position : 88);
  }
}

TEST_F(StatusTest, CommandSpeedMultiplier) {
  // FIXED_RANGE, RANGE, last drive speed and the chip's reading; the speed.
  // clang-format off
  const std::tuple<u16, u16, u32, i32, i32> cases[] = {
      {1, 100, 0, 50, 5000},        {1, 3, 4000000, 50, 150},    {1, 500, 0, 10000000, 705032704},
      {0, 100, 10000, 300, 600},    {0, 100, 0, 300, 300},       {0, 100, 8000, 7, 7},
      {0, 100, 8001, 7, 14},        {0, 500, 10000000, 3, 1500}, {0, 3, 80000, 5, 15},
      {0, 100, 10000, -300, -600},  {0, 500, 4000000, 2147483647, INT32_MIN}};
  // clang-format on
  AxisBlock& b = axis_block(0, 2);
  for (const auto& [fixed_range, range, drive_speed, reading, speed] : cases) {
    std::tie(b.fixed_range, b.range, b.last_drive_speed) =
        std::tie(fixed_range, range, drive_speed);
    sim::SetCurrentSpeed(0, 2, reading);
    sim::StartTrace();
    EXPECT_EQ(RVX406A_GetCommandSpeed(0, 2), speed) << reading << " at " << drive_speed;
    EXPECT_EQ(Requests(sim::Trace()), (Strings{"WR0=0412", "RP1", "RP1", "RR7", "RR6"}));
  }
}

}  // namespace
}  // namespace rvx::test
