// Digital inputs and outputs of the expansion modules and their input filter.

#include "tests/support.h"

namespace rvx::test {
namespace {

using DigitalIoTest = LibraryTest;

TEST_F(DigitalIoTest, LogicalBytesWordsAndBits) {
  // Addresses of the DO bytes; the DI bytes lie two below.
  const u32 normal[8] = {0x106, 0x107, 0x206, 0x207, 0x306, 0x307, 0x406, 0x407};
  const u32 swapped[8] = {0x106, 0x107, 0x207, 0x206, 0x307, 0x306, 0x407, 0x406};
  for (u8 identity : {0x17, 0x97}) {  // 64 channels, without and with byte swap
    const u32* const out = identity & 0x80 ? swapped : normal;
    LoadBoard(identity);
    for (u16 k = 0; k < 8; ++k) {
      sim::SetPld(0, out[k] - 2, static_cast<u8>(0x10 * k + 1));
      RVX406A_PutDOByte(0, k, static_cast<u8>(0xA0 + k));
      EXPECT_EQ(sim::Pld(0, out[k]), 0xA0 + k) << k;
      EXPECT_EQ(Out(RVX406A_GetDOByte, 0, k), 0xA0u + k);
      EXPECT_EQ(Out(RVX406A_GetDIByte, 0, k), 0xFEu - 0x10 * k);  // inputs are inverted
    }
    EXPECT_EQ(Out(RVX406A_GetDODWord, 0, 1), 0xA7A6A5A4u);
    EXPECT_EQ(Out(RVX406A_GetDIWord, 0, 1), 0xCEDEu);
    // A set input bit is off.
    EXPECT_EQ(std::vector<u16>({RVX406A_GetDIBit(0, 0), RVX406A_GetDOBit(0, 59),
                                RVX406A_GetDIBit(0, 63), RVX406A_GetDOBit(0, 58)}),
              std::vector<u16>({0, 0, 1, 1}));
    RVX406A_PutDOWord(0, 1, 0x1234);
    RVX406A_PutDOBit(0, 16, 1);  // the other outputs of the byte as the module holds them
    RVX406A_PutDOBit(0, 28, 0);
    EXPECT_EQ(sim::Pld(0, out[2]) << 8 | sim::Pld(0, out[3]), 0x3502);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  }
}

// Partly fitted boards, the byte swap flag read at every call, the filter of each fitted module;
// the writes and the line at level 3.
TEST_F(DigitalIoTest, FittedModulesSwapFlagAndFilter) {
  const auto filter = [] { return RVX406A_GetDiFilter(0) * 100u + RVX406A_GetDiFilterTime(0); };
  // clang-format off
  const std::tuple<u8, std::function<u32()>, u32, Strings, const char*> cases[] = {
      {0x11, [] { return RVX406A_PutDOBit(0, 40, 1), 0u; }, 0, {}, "PutDOBit (0, 40, 0x00000001)"},
      {0x13, [] { return RVX406A_PutDODWord(0, 1, 0x89ABCDEF), 0u; }, 0, {"P306=EF", "P307=CD"},
       "PutDODWord (0, 1, 0x89ABCDEF)"},
      {0x10, [] { return Out(RVX406A_GetDIDWord, 0, 0); }, 0x0FF0, {}, nullptr},
      {0x10, [] { return Out(RVX406A_GetDIDWord, 0, 1); }, 0, {}, nullptr},
      {0x17, [] { return sim::SetPld(0, pld::kIdentity, 0x97), RVX406A_PutDOBit(0, 16, 1), 0u; },
       0, {"P207=01"}, "PutDOBit (0, 16, 0x00000001)"},
      {0x10, [&] { return RVX406A_SetDiFilter(0, 0), filter(); }, 10,
       {"P102=00", "P103=00", "P100=C1"}, "SetDiFilter (0, 0)"},
      {0x13, [&] { return RVX406A_SetDiFilter(0, 1), filter(); }, 110,
       {"P102=FF", "P103=00", "P100=C1", "P202=FF", "P203=00", "P200=C1",
        "P302=FF", "P303=00", "P300=C1"}, "SetDiFilter (0, 1)"},
      {0xB3, [&] { return RVX406A_SetDiFilterTime(0, 7), filter(); }, 107,
       {"P102=AA", "P103=07", "P100=C2", "P202=AA", "P203=07", "P200=C2"},
       "SetDiFilterTime (0, 7)"},
      {0x30, [&] { return RVX406A_SetDiFilterTime(0, 15), filter(); }, 115, {},
       "SetDiFilterTime (0, 15)"}};
  // clang-format on
  for (const auto& [identity, call, value, writes, line] : cases) {
    LoadBoard(identity);
    sim::SetDiBytes(0, 1, 0x0F, 0xF0);
    shared().log_level = 3;
    ClearLog();
    sim::StartTrace();
    EXPECT_EQ(call(), value);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(TracedWrites(), writes);
    EXPECT_EQ(LoggedCalls(), line ? Strings{Logged(0, line)} : Strings{});
  }
}

}  // namespace
}  // namespace rvx::test
