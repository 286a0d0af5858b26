// Reset of a board and system defaults of one axis: exact register
// sequences, shadows and settings.

#include <algorithm>

#include "tests/support.h"

namespace rvx::test {
namespace {

// The writes that reset the axis of select bit `s` after the board-wide part;
// the outputs (WR4) only with the whole board.
Strings AxisResetWrites(unsigned s, bool outputs) {
  const std::string select = Reg("WR0", s | 0x0F);
  return Join({{select, "WR1=0000", select, "WR2=0000", select, "WR3=0080"},
               outputs ? Strings{"WR4=0000"} : Strings{},
               {"WR5=0000"},
               Param32(s | 0x60, 0xC94F6500),
               Param32(s | 0x64, 0),
               Param32(s | 0x0B, 0x3FFFFFFF),
               Param32(s | 0x0C, 0xC0000001),
               Param(s | 0x0D, 0)});
}

using ResetTest = LoadedTest<>;

TEST_F(ResetTest, ResetWritesTheWholeBoardInOrderAndClearsItsSettings) {
  sim::SetPosition(0, 2, 1234, -99);
  AxisBlock& b = axis_block(0, 2);
  std::tie(b.wr4, axis_block(0, 0).wr4, b.range, b.pos_acc_jerk, b.pos_dec_jerk, b.home_ok,
           b.move_target) = std::make_tuple(0xFFFF, 0x2222, 7, 55, 66, 1, 42);
  process().move_table[0][2] = process().home_table[0][2] = 1;
  sim::StartTrace();
  RVX406A_Reset(0);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  Strings writes = {"PA=01",    "P3=00",    "P4=00",    "P5=00",    "P6=00",
                    "P7=00",    "PD=00",    "WR0=8000", "WR7=0000", "WR6=0000",
                    "WR0=0F09", "WR7=0000", "WR6=0000", "WR0=0F0A"};
  for (unsigned a = 0; a < 4; ++a) writes = Join({writes, AxisResetWrites(0x100u << a, true)});
  ASSERT_EQ(TracedWrites(), Join({writes,
                                  {"P102=F0", "P103=00", "P100=C0", "P102=FF", "P103=00", "P100=C1",
                                   "P102=AA", "P103=0A", "P100=C2", "P102=00", "P103=00", "P100=C8",
                                   "P100=E5", "P106=00", "P107=00"}}));
  // The board reset write settles twice as every write, then ten times more.
  const Strings all = Requests(sim::Trace());
  const auto reset = std::find(all.begin(), all.end(), "PA=01");
  EXPECT_EQ(Strings(reset + 1, reset + 14), Join({Strings(12, "RP1"), {"P3=00"}}));
  EXPECT_EQ(
      std::make_tuple(sim::Axis(0, 2).logical, sim::Axis(0, 2).real, sim::Axis(0, 2).comp_minus),
      std::make_tuple(0, 0, -1073741823));
  // The deceleration jerk survives a reset.
  EXPECT_EQ(std::make_tuple(axis_block(0, 0).wr4, b.range, b.pos_acc_jerk, b.pos_dec_jerk,
                            b.home_ok, b.move_target, b.em7, b.wr3, b.fixed_range, b.mpg_rate),
            std::make_tuple(u16{0}, u16{100}, 0u, 66u, u16{0}, 0, u16{0xC94F}, u16{0x80}, u16{1},
                            u16{1}));
  EXPECT_EQ(std::make_tuple(b.plus_softlimit, b.minus_softlimit, b.ring_actual),
            std::make_tuple(1073741823.0, -1073741824.0, 1073741823.0));
  EXPECT_EQ(std::make_tuple(b.home_mode, b.home_dir, axis_block(0, 0).di_filter,
                            axis_block(0, 0).di_filter_time),
            std::make_tuple(u16{2}, u16{1}, u16{1}, u16{10}));
  EXPECT_EQ(std::make_pair(process().move_table[0][2], process().home_table[0][2]),
            std::make_pair(0u, u16{0}));
}

TEST_F(ResetTest, SystemDefaultOfOneAxis) {
  sim::SetPld(0, pld::kLhome0, 0xFF);
  sim::SetPld(0, pld::kEmgCmp, 0x55);
  axis_block(0, 3).range = 9;
  axis_block(0, 0).wr5 = 0x0024;
  axis_block(0, 0).wr4 = 0x0002;
  sim::StartTrace();
  RVX406A_SetSystemDefault(0, 3);
  ASSERT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  EXPECT_EQ(TracedWrites(),
            Join({{"P3=3F", "P5=00", "PD=00"},
                  AxisResetWrites(0x800, false),
                  {"P102=FF", "P103=00", "P100=C1", "P102=AA", "P103=0A", "P100=C2"}}));
  EXPECT_EQ(std::make_tuple(axis_block(0, 3).range, axis_block(0, 0).wr5, axis_block(0, 0).wr4),
            std::make_tuple(u16{100}, u16{0}, u16{0x0002}));  // outputs untouched
  sim::SetPld(0, pld::kLhome0, 0xFF);
  RVX406A_SetSystemDefault(0, 0);
  EXPECT_EQ(sim::Pld(0, pld::kLhome0), 0xFC);

  axis_block(0, 1).range = 9;
  sim::SetDriving(0, 1, true);
  sim::StartTrace();
  RVX406A_SetSystemDefault(0, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_AXIS_DRV_BUSY);
  EXPECT_EQ(TracedWrites(), Strings());
  EXPECT_EQ(axis_block(0, 1).range, 9);
}

}  // namespace
}  // namespace rvx::test
