// The simulated board in stepped time, through the library: drives take the
// time their profile says and end where the chip would end them.
#include <cmath>
#include <cstdlib>
#include <tuple>
#include <vector>

#include "tests/support.h"

namespace rvx::test {
namespace {

constexpr u16 kAxis = 1;

class VirtualBoardTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    sim::Config config = Boards();
    config.clock = sim::Clock::kStepped;
    sim::Reset(config);
    Load();
    RVX406A_SetPosSpeed(0, kAxis, 1000, 100000, 100, 100);
    RVX406A_SetJogSpeed(0, kAxis, 1000, 20000, 10);
    RVX406A_SetHomeSpeed(0, kAxis, 500, 20000, 10);
  }
  // The machine of axis 1: limits at -200,000 and +200,000, home between 1,100
  // and 1,300, near-home from 800 to 3,000, Z every 500 pulses.
  sim::Config Boards() const override {
    sim::Config config;
    sim::MachineModel& m = config.board[0].machine[kAxis];
    m.limits = true, m.limit_minus = -200000, m.limit_plus = 200000;
    m.home = {true, 1100, 1300}, m.near_home = {true, 800, 3000};
    m.z_period = 500, m.servo = true;
    return config;
  }
  static i32 Position() { return RVX406A_GetCommandPos(0, kAxis); }
};

TEST_F(VirtualBoardTest, TheMachineStopsTheAxisAndSaysWhy) {
  // What is set up, the distance; the result and where the axis may come to rest.
  const std::tuple<void (*)(), i32, i32, i32, i32> cases[] = {
      {[] { RVX406A_SetHlmt(0, kAxis, 0, 0); }, 300000, ERR_STOP_BY_HLPT, 200000, 200011},
      {[] { RVX406A_SetHlmt(0, kAxis, 1, 0); }, 300000, ERR_STOP_BY_HLPT, 205000, 205100},
      {[] { RVX406A_SetSlmt(0, kAxis, 40000, -30000, 1); }, -60000, ERR_STOP_BY_SLMT, -35100,
       -35000},
      {[] { RVX406A_SetSvAlm(0, kAxis, 1, 0), sim::SetAlarm(0, kAxis, true); }, 20000,
       ERR_STOP_BY_ALM, 0, 0},
      {[] {}, 20000, ERR_SUCCESS, 20000, 20000},
  };
  for (const auto& [arrange, distance, result, lowest, highest] : cases) {
    sim::SetPosition(0, kAxis, 0, 0);
    arrange();
    RVX406A_Inc_Move(0, kAxis, distance);
    sim::Settle();
    EXPECT_EQ(RVX406A_GetMotionErrCod(0, kAxis), result) << distance;
    EXPECT_TRUE(Position() >= lowest && Position() <= highest) << Position();
    sim::SetAlarm(0, kAxis, false);
  }
  // An alarm and the emergency input in mid-move stop at once.
  RVX406A_SetSvAlm(0, kAxis, 1, 0);
  for (const bool emergency : {false, true}) {
    RVX406A_Jog_Move(0, kAxis, 0);
    sim::AdvanceTime(100000);
    const i32 at = Position();
    emergency ? sim::SetEmergency(0, true) : sim::SetAlarm(0, kAxis, true);
    sim::AdvanceTime(100000);
    EXPECT_LE(Position() - at, 2);
    EXPECT_EQ(std::vector<i32>({RVX406A_Done(0, kAxis), RVX406A_GetMotionErrCod(0, kAxis)}),
              std::vector<i32>({0, emergency ? ERR_STOP_BY_EMG : ERR_STOP_BY_ALM}));
    sim::SetAlarm(0, kAxis, false), sim::SetEmergency(0, false);
  }
}

TEST_F(VirtualBoardTest, HomeSearchesEndWhereTheChipWould) {
  // Mode, direction, start, offset; where the home position may lie before the
  // counters are cleared. The home sensor's edge towards the search is 1,100
  // from below, 1,300 from above; Z marks lie on multiples of 500; the + limit
  // at 200,000.
  const std::tuple<u16, u16, i32, i32, i32, i32> cases[] = {
      {0, 0, -20000, 0, 1100, 1101},      // low speed onto the home sensor
      {0, 1, 20000, 0, 1299, 1300},       // from above
      {2, 0, -20000, 0, 1100, 1101},      // near-home at speed first, then home
      {1, 0, -20000, 0, 1000, 1000},      // then back to a Z mark
      {3, 0, -20000, 0, 1000, 1000},      // all three searches
      {0, 0, -20000, 300, 1400, 1401},    // and an offset drive
      {4, 0, 190000, 0, 200000, 200001},  // the limit as home
      {8, 0, 1750, 0, 2000, 2000},        // the next Z mark
      {9, 0, 0, 500, 500, 500},           // the offset drive alone
      {0, 0, 1200, 0, 1100, 1101},        // starting on the sensor: off it first
  };
  for (const auto& [mode, dir, from, offset, lowest, highest] : cases) {
    SCOPED_TRACE(testing::Message() << "mode " << mode << " dir " << dir << " from " << from);
    sim::SetPosition(0, kAxis, from, from);
    RVX406A_SetHomeMode(0, kAxis, mode);
    RVX406A_SetHomeDir(0, kAxis, dir);
    RVX406A_SetHomeOffset(0, kAxis, offset);
    RVX406A_Home_Move(0, kAxis);
    sim::AdvanceTime(1000);
    EXPECT_EQ(RVX406A_HomeIsBusy(0, kAxis), 1);
    sim::Settle();
    const i32 at = sim::MachinePosition(0, kAxis);
    EXPECT_TRUE(at >= lowest && at <= highest) << at;
    EXPECT_EQ(std::vector<i32>({RVX406A_HomeIsBusy(0, kAxis), RVX406A_GetHomeSuccess(0, kAxis),
                                Position(), RVX406A_GetActualPos(0, kAxis)}),
              std::vector<i32>({0, 1, 0, 0}));
  }
}

// Up to the chip's top speed, where a tick holds hundreds of pulses, each
// sensor acts on the pulse at which it becomes active: the search stops on
// its Z mark or home edge, a limit in its sudden mode on the limit, and an
// alarm or the emergency input where the axis stands when it comes.
TEST_F(VirtualBoardTest, EverySensorActsOnItsOwnPulseAtAnySpeed) {
  enum Sensor { kZ, kHome, kLimit, kAlarm, kEmergency };
  // The sensor, where the axis starts, where it must stand, the result.
  const std::tuple<Sensor, i32, i32, i32> sensors[] = {
      {kZ, 1501, 2000, ERR_SUCCESS},       // mode 8: the next Z mark
      {kHome, -20000, 1100, ERR_SUCCESS},  // mode 0: the home sensor's edge
      {kLimit, 0, 200000, ERR_STOP_BY_HLPT},
      {kAlarm, 0, 0, ERR_STOP_BY_ALM},  // 0: where it was when the input came
      {kEmergency, 0, 0, ERR_STOP_BY_EMG},
  };
  RVX406A_SetHlmt(0, kAxis, 0, 0);
  RVX406A_SetSvAlm(0, kAxis, 1, 0);
  for (const u32 pps : {5000u, 30000u, 200000u, 1000000u, 4000000u}) {
    RVX406A_SetHomeSpeed(0, kAxis, pps, pps, 10);
    RVX406A_SetJogSpeed(0, kAxis, 1000, pps, 10);
    for (const auto& [sensor, from, rest, result] : sensors) {
      SCOPED_TRACE(testing::Message() << pps << " PPS, sensor " << sensor);
      sim::SetPosition(0, kAxis, from, from);
      i32 expected = rest;
      if (sensor <= kHome) {
        RVX406A_SetHomeMode(0, kAxis, sensor == kZ ? 8 : 0);
        RVX406A_SetHomeDir(0, kAxis, 0);
        RVX406A_SetHomeOffset(0, kAxis, 0);
        RVX406A_Home_Move(0, kAxis);
      } else {
        RVX406A_Jog_Move(0, kAxis, 1);
      }
      if (sensor >= kAlarm) {
        sim::AdvanceTime(2345);  // within a tick
        expected = sim::MachinePosition(0, kAxis);
        EXPECT_GT(expected, 0);
        sensor == kAlarm ? sim::SetAlarm(0, kAxis, true) : sim::SetEmergency(0, true);
      }
      sim::Settle();
      EXPECT_EQ(sim::MachinePosition(0, kAxis), expected);
      EXPECT_EQ(RVX406A_GetMotionErrCod(0, kAxis), result);
      if (sensor <= kHome) {
        EXPECT_EQ(RVX406A_GetHomeSuccess(0, kAxis), 1);
      }
      sim::SetAlarm(0, kAxis, false), sim::SetEmergency(0, false);
    }
  }
}

TEST_F(VirtualBoardTest, PathsKeepTheirShapeAndEndOnTheirPoints) {
  RVX406A_SetIPMapAxes(0, 0, 0x03);
  RVX406A_SetIPPosSpeed(0, 0, 1000, 10000, 10, 10);
  // A line as long as its longest travel: 4,000 pulses, 55 on each 10 ms
  // ramp and 3,890 at 10,000 PPS: 0.409 s.
  const i32 line[] = {3000, -4000};
  RVX406A_Inc_Line(0, 0, line);
  sim::AdvanceTime(200000);
  EXPECT_EQ(RVX406A_IPDone(0, 0), 1);
  const i32 x = RVX406A_GetCommandPos(0, 0), y = Position();
  EXPECT_NEAR(-4.0 * x / 3.0, y, 1.0);
  EXPECT_NEAR((sim::Settle() + 200000) / 1e6, 0.409, 0.002);
  EXPECT_EQ(std::vector<i32>({RVX406A_IPDone(0, 0), RVX406A_GetErrorCode(),
                              RVX406A_GetCommandPos(0, 0), Position()}),
            std::vector<i32>({0, ERR_SUCCESS, 3000, -4000}));
  // A clockwise quarter circle of radius 5,000 around (8000, -4000).
  RVX406A_Inc_Arc(0, 0, 5000, 0, 5000, 5000, 0);
  for (int step = 0; step < 8; ++step) {
    sim::AdvanceTime(100000);
    const double dx = RVX406A_GetCommandPos(0, 0) - 8000.0, dy = Position() + 4000.0;
    EXPECT_NEAR(std::hypot(dx, dy), 5000, 1.5);
    EXPECT_LE(dy, 5000);
  }
  sim::Settle();
  EXPECT_EQ(std::vector<i32>({RVX406A_GetCommandPos(0, 0), Position()}),
            std::vector<i32>({8000, 1000}));
}

// A whole turn around a centre whose start angle is not a whole degree
// (44.99999...) comes back to its start after a full circle, each way round;
// a quarter turn keeps the truncated start angle.
TEST_F(VirtualBoardTest, ThetaOfAWholeTurnRunsTheFullCircle) {
  RVX406A_SetIPMapAxes(0, 0, 0x03);
  RVX406A_SetIPPosSpeed(0, 0, 1000, 10000, 10, 10);
  // Absolute or not, angle; the end point programmed, relative to the start,
  // and which quarter point comes first: -1 at (-1000, 0), +1 at (0, -1000).
  const std::tuple<bool, i32, i32, i32, int> cases[] = {
      {false, 360, 0, 0, -1}, {false, 0, 0, 0, -1},  {false, -360, 0, 0, 1},
      {true, 360, 0, 0, -1},  {true, -360, 0, 0, 1}, {false, 90, -991, 9, -1}};
  for (const auto& [absolute, angle, end_x, end_y, first_quarter] : cases) {
    SCOPED_TRACE(testing::Message() << "angle " << angle << (absolute ? " absolute" : ""));
    const i32 x0 = absolute ? 1234 : 0, y0 = absolute ? -321 : 0;
    sim::SetPosition(0, 0, x0, x0), sim::SetPosition(0, kAxis, y0, y0);
    if (absolute) {
      RVX406A_Abs_Theta(0, 0, x0 - 500, y0 - 500, angle);
    } else {
      RVX406A_Inc_Theta(0, 0, -500, -500, angle);
    }
    ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(
        std::vector<i32>({i32(sim::Axis(0, 0).pulse_count), i32(sim::Axis(0, 1).pulse_count)}),
        std::vector<i32>({end_x, end_y}));
    // Near to within 30 pulses (20 pass between samples): the quarter points
    // and the far side of the circle.
    int first = 0;
    bool far_side = false;
    for (int step = 0; step < 500 && RVX406A_IPDone(0, 0) == 1; ++step) {
      sim::AdvanceTime(2000);
      const i32 x = RVX406A_GetCommandPos(0, 0) - x0, y = Position() - y0;
      if (first == 0 && std::abs(x + 1000) + std::abs(y) < 30) first = -1;
      if (first == 0 && std::abs(x) + std::abs(y + 1000) < 30) first = 1;
      far_side |= std::abs(x + 1000) + std::abs(y + 1000) < 30;
    }
    EXPECT_EQ(RVX406A_IPDone(0, 0), 0);
    EXPECT_EQ(first, first_quarter);
    EXPECT_EQ(far_side, end_x == 0);
    EXPECT_EQ(std::vector<i32>({RVX406A_GetCommandPos(0, 0) - x0, Position() - y0}),
              std::vector<i32>({end_x, end_y}));
  }
}

}  // namespace
}  // namespace rvx::test
