// The continuous interpolation table and the hand-over of its first segment.
#include <gmock/gmock.h>

#include <tuple>

#include "interp/interp.h"
#include "tests/motion_support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;

class ContinuousTest : public LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Load();
    shared().log_level = 1;
    for (int a = 0; a < 4; ++a) axis_block(0, a).fixed_range = 0;
  }
  void TearDown() override {
    RVX406A_SetFreeContiTable();
    LibraryTest::TearDown();
  }
  static std::vector<i32> Entry(int i) {
    const ContiEntry& e = process().conti_table[i];
    return {e.started, e.count, e.centre1, e.centre2, e.end1, e.end2, e.type};
  }
};

TEST_F(ContinuousTest, SegmentsAreKeptRelativeWithinTheTable) {
  RVX406A_CONTI_SEGMENT segments[255] = {{1100, 600, 600, 100, 7, 0},
                                         {2100, 1600, 1600, 600, 0, 0}};
  EXPECT_EQ(RVX406A_SetContiDataTable(0, 2, segments), 1);  // no table yet
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_ALLOCATE_BUF);
  EXPECT_EQ(RVX406A_SetInitContiTable(), 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  sim::SetPosition(0, 0, 100, 0);
  sim::SetPosition(0, 1, 99999, 0);  // axis 0 is the reference of both coordinates
  sim::StartTrace();
  RVX406A_SetContiDataTable(0, 2, segments);
  EXPECT_EQ(TracedRequests(), (Strings{"WR0=0110", "RR7", "RR6", "WR0=0110", "RR7", "RR6"}));
  EXPECT_EQ(segments[0].type, 2);  // clamped in the caller's segment too
  EXPECT_EQ(Entry(0), (std::vector<i32>{0, 2, 500, 0, 1000, 500, 2}));
  EXPECT_EQ(Entry(1), (std::vector<i32>{0, 0, 500, 0, 1000, 1000, 0}));
  EXPECT_EQ(RVX406A_GetCurContiNum(), 0);  // nothing handed over
  // Count, result, entry 0's count afterwards, entry 254's type afterwards.
  const std::tuple<u32, i32, i32, i32> counts[] = {
      {256, ERR_BUF_DATA_OVERFLOW, 2, 0}, {255, 0, 255, 2}, {0, 0, 0, 2}};
  segments[254].type = 9;
  for (const auto& [count, result, stored, last_type] : counts) {
    EXPECT_EQ(RVX406A_SetContiDataTable(0, count, segments), 1);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(Entry(0)[1], stored);
    EXPECT_EQ(Entry(254)[6], last_type);
  }
  EXPECT_THAT(LoggedCalls(), testing::Contains(testing::StartsWith(
                                 " RV =  -545 : RVX406A_SetContiDataTable (0, 256, 0x")));
}

TEST_F(ContinuousTest, ContiMoveHandsSegmentZeroToARunningInterpolation) {
  RVX406A_SetIPMapAxes(0, 0, 0x06);                  // axes 1 and 2: map word 0x09
  RVX406A_SetIPPosSpeed(0, 0, 100, 10000, 50, 200);  // M 2: A 792, D 198, 50, 5000
  RVX406A_SetInitContiTable();
  const Strings head = Join({Param32(0x200, 4000000), Param32(0x400, 5656000),
                             Params(0x200, {{2, 792}, {3, 198}, {4, 50}, {5, 5000}})});
  const Strings arc_mode = {"WR0=020F", "WR3=0080", "WR7=C94F", "WR6=6508", "WR0=0260"};
  // Segment type, extra map word bits, running, writes after WR5.
  const std::tuple<u16, u16, bool, Strings> cases[] = {
      {0, 0, true, Join({head, Param32(0x206, 30), Param32(0x406, -40), {"WR0=0030"}})},
      {1, 0, true,
       Join({head,
             Param32(0x208, 10),
             Param32(0x408, -20),
             Param32(0x206, 30),
             Param32(0x406, -40),
             {"WR0=0032"}})},
      {2, 0x40, true,
       Join({head,
             Param32(0x208, 10),
             Param32(0x408, -20),
             Param32(0x206, 30),
             Param32(0x406, -40),
             {"WR0=0033"}})},
      {2, 0x40, false, {}},
  };
  const i32 lead[2] = {100, 200};
  for (const auto& [type, bits, running, writes] : cases) {
    SCOPED_TRACE(type);
    for (int a = 0; a < 3; ++a) sim::SetPosition(0, a, 0, 0);
    RVX406A_CONTI_SEGMENT segment = {30, -40, 10, -20, type, 0};
    RVX406A_SetContiDataTable(0, 1, &segment);
    sim::SetDriveDuration(0, 1, 3);
    if (running) RVX406A_Inc_Line(0, 0, lead);
    axis_block(0, 0).wr5 = 0x09 | bits;
    RVX406A_Inc_Move(0, 3, 300000000);  // leaves a last result
    ClearLog();
    sim::StartTrace();
    RVX406A_Conti_Move(0, 0);
    const Strings mode = bits ? arc_mode : Strings{};
    EXPECT_EQ(TracedWrites(), Join({mode, {"WR5=4009"}, writes}));
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_INVALID_PARAMETER);
    EXPECT_EQ(LoggedCalls(), Strings{});
    EXPECT_EQ(RVX406A_GetCurContiNum(), running ? 1 : 0);
    if (!running) continue;
    // The chip chains the segment to the lead-in.
    while (Guarded([] { return RVX406A_IPDone(0, 0); }) == 1) {
    }
    EXPECT_EQ(std::vector<i32>({sim::Axis(0, 1).logical, sim::Axis(0, 2).logical}),
              std::vector<i32>({130, 160}));
  }
}

}  // namespace
}  // namespace rvx::test
