// The parameter file: loading it, the register programming it implies, and
// saving back.
#include "core/param_file.h"

#include <algorithm>

#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::HasSubstr;

using ParamFileTest = LibraryTest;

// `count` writes from the first `first` on.
std::string From(const Strings& v, const std::string& first, size_t count) {
  const auto at = std::find(v.begin(), v.end(), first);
  return Joined(Strings(at, at + std::min<size_t>(count, v.end() - at)));
}

TEST_F(ParamFileTest, RegisterKeysAreMaskedAndAdjusted) {
  WriteFile(ParameterPath(0),
            "[0-AXIS]\r\nMCX_WR1=65535\r\nMCX_WR3=7\r\nMCX_WR4=3\r\nMCX_WR5=7\r\n"
            "MCX_EM6=16\r\nMCX_EM7=4660\r\nMCX_SM6=1\r\nMCX_SM7=2\r\n"
            "-SOFTLIMIT=-1000\r\nRINGCOMMAND=3600\r\nRINGACCTUAL=10000.000000\r\nACC_OFFSET=-5\r\n"
            "HOME_OK=1\r\nCOMP_WIDTH=70000\r\n[1-AXIS]\r\nRINGCOMMAND=3600\r\n"
            "[PLD_BANK]\r\nLHOME0=9\r\nLHOME1=5\r\nEMGCMP=1\r\nORGSEL=2\r\n");
  sim::StartTrace();
  Load();
  const Strings writes = TracedWrites();
  EXPECT_EQ(From(writes, "P3=09", 7), "P3=09 P4=00 P5=01 P6=00 P7=00 PD=02 WR0=0127 ");
  // Mode words, then the software limits and the ring (EM6 bit 4 set).
  EXPECT_EQ(From(writes, "WR1=01FF", 28),
            "WR1=01FF WR0=010F WR2=0000 WR0=010F WR3=0086 WR4=0000 WR5=0000 WR7=1234 WR6=0010 "
            "WR0=0160 WR7=0002 WR6=0001 WR0=0164 WR7=3FFF WR6=FFFF WR0=010B WR7=FFFF WR6=FC19 "
            "WR0=010C WR7=0000 WR6=0E0F WR0=010B WR7=0000 WR6=270F WR0=010C WR6=FFFB WR0=010D "
            "WR0=0227 ");
  // The shadow keeps the file's outputs (WR4), the chip starts at 0.
  const AxisBlock& a = axis_block(0, 0);
  EXPECT_EQ(std::make_tuple(a.wr1, a.wr3, a.wr4, a.wr5, a.minus_softlimit, a.ring_command,
                            a.ring_actual, a.acc_offset, a.home_ok, a.comp_width),
            std::make_tuple(u16{0x01FF}, u16{0x0086}, u16{3}, u16{0}, -1000.0, 3600.0, 10000.0,
                            u16{65531}, u16{0}, 70000u - 65536u));
  EXPECT_EQ(sim::Axis(0, 0).comp_minus, 9999);
  // Axis 1 has ring bit 4 clear: the ring size is stored but not programmed.
  EXPECT_EQ(axis_block(0, 1).ring_command, 3600.0);
  EXPECT_EQ(sim::Axis(0, 1).comp_plus, 0x3FFFFFFF);
}

TEST_F(ParamFileTest, SaveThenLoadReproducesTheSettings) {
  Load();
  AxisBlock& b = axis_block(0, 2);
  std::tie(b.wr1, b.wr2, b.wr3, b.wr4, b.em6, b.em7, b.sm6, b.sm7, b.range, b.multiple) =
      std::make_tuple(0x0105, 0xC01C, 0x0084, 0x7777, 0x6D10, 0x1234, 0x2001, 0x00FF, 321,
                      4000000000u);
  std::tie(b.pos_drive_pps, b.jog_acc_ms, b.home_offset, b.int_start_pps, b.home_dir, b.home_mode,
           b.comp_width, b.fixed_range, b.mpg_rate, b.acc_offset) =
      std::make_tuple(123456, 64000, -77, 5, 0, 9, 33, 0, 10000, 300);
  std::tie(b.plus_softlimit, b.minus_softlimit, b.ring_command, b.ring_actual) =
      std::make_tuple(1000, -1000, 3600, 7200);
  axis_block(0, 0).di_filter = 0;
  axis_block(0, 0).di_filter_time = 15;
  shared().log_level = 1;
  sim::SetPld(0, pld::kLhome0, 0x24);
  sim::SetPld(0, pld::kEmgCmp, 0x11);
  sim::SetPld(0, pld::kOrgSel, 0x03);
  ASSERT_TRUE(SaveParameterFile(0));
  const std::string text = ReadFile(ParameterPath(0));
  EXPECT_THAT(text, HasSubstr("[VERSION]\r\nVER=1.0\r\n"));
  EXPECT_THAT(text, HasSubstr("+SOFTLIMIT=1000.000000\r\n"));
  EXPECT_THAT(text, HasSubstr("MULTIPLE=-294967296\r\n"));

  memset(&b, 0, sizeof b);
  ASSERT_TRUE(LoadParameterFile(0));
  EXPECT_EQ(b.wr4, 0);  // saved as 0
  // Saved again, the settings read back give the same file.
  ASSERT_TRUE(SaveParameterFile(0));
  EXPECT_EQ(ReadFile(ParameterPath(0)), text);
}

TEST_F(ParamFileTest, SaveKeepsUnknownLinesAndOpensEachFileOnce) {
  WriteFile(ParameterPath(0),
            "; site notes\r\n[CUSTOM]\r\nX=1\r\n[2-axis]\r\nrange=5\r\nUSER_KEY=abc\r\n");
  const u32 before_load = process().seams.files_opened;
  Load();
  EXPECT_EQ(process().seams.files_opened - before_load, 2u);  // the file and DbgLevel.ini
  EXPECT_EQ(axis_block(0, 2).range, 5);
  axis_block(0, 2).range = 6;
  const u32 before_save = process().seams.files_opened;
  ASSERT_TRUE(SaveParameterFile(0));
  EXPECT_EQ(process().seams.files_opened - before_save, 4u);  // each read once, written once
  const std::string text = ReadFile(ParameterPath(0));
  EXPECT_EQ(
      text.rfind("; site notes\r\n[CUSTOM]\r\nX=1\r\n[2-axis]\r\nrange=6\r\nUSER_KEY=abc\r\n", 0),
      0u)
      << text;
  // The existing key rewritten in place, not added again.
  const size_t axis2 = text.find("[2-axis]");
  EXPECT_EQ(text.substr(axis2, text.find('[', axis2 + 1) - axis2).find("\r\nRANGE="),
            std::string::npos);
}

TEST_F(ParamFileTest, SaveStoppedAtAnyPointLeavesTheOldFile) {
  Load();
  ASSERT_TRUE(SaveParameterFile(0));
  const std::string old_text = ReadFile(ParameterPath(0));
  axis_block(0, 1).multiple = 12345;  // the new file is as long as the old one
  constexpr size_t kPoints = 200;
  size_t bad = 0;
  for (size_t i = 0; i <= kPoints; ++i) {
    process().seams.save_stops_after = static_cast<int64_t>(old_text.size() * i / kPoints);
    SaveParameterFile(0);
    bad += ReadFile(ParameterPath(0)) != old_text;
  }
  EXPECT_EQ(bad, 0u) << "of " << kPoints + 1 << " stopped saves";
  // A whole save then rewrites the read-only file.
  process().seams.save_stops_after = -1;
  ASSERT_TRUE(SaveParameterFile(0));
  EXPECT_THAT(ReadFile(ParameterPath(0)), HasSubstr("MULTIPLE=12345\r\n"));
  EXPECT_EQ(os::GetFileAttributes(ParameterPath(0).c_str()) & os::kFileAttributeReadOnly, 1u);
}

}  // namespace
}  // namespace rvx::test
