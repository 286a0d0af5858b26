// Digital inputs and outputs: logical byte addresses with and without byte
// swap, widths, missing modules, refusals, the input filter and the stubs.
#include <gmock/gmock.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

struct BoardKind {
  uint8_t type, bits;
  bool swap;
};
constexpr BoardKind k16{1, 0x0, false}, k32{1, 0x1, false}, k48{1, 0x3, false}, k64{1, 0x7, false},
    k64Swapped{1, 0x7, true};

class DigitalIoTest : public LibraryTest {
 protected:
  void LoadBoard(const BoardKind& kind) {
    RVX406A_UnloadDevice();
    sim::Config config;
    config.board[0] = {true, kind.type, kind.bits, kind.swap};
    sim::Reset(config);
    Load();
  }
};

std::string Hex(const char* format, u32 a, u32 b = 0) {
  char text[32];
  snprintf(text, sizeof text, format, a, b);
  return text;
}

// A getter's output, preset to all ones so that an untouched output shows.
template <class T>
u32 Out(void (*get)(u16, u16, T*), u16 board, u16 index) {
  T value = static_cast<T>(~0u);
  get(board, index, &value);
  return value;
}

// The requests of the trace other than reads of PLD register 1.
Strings ModuleRequests() {
  Strings all = Requests(sim::Trace());
  all.erase(std::remove(all.begin(), all.end(), "RP1"), all.end());
  return all;
}

TEST_F(DigitalIoTest, LogicalByteAddresses) {
  const u32 kDo[8] = {0x106, 0x107, 0x206, 0x207, 0x306, 0x307, 0x406, 0x407};
  const u32 kDoSwapped[8] = {0x106, 0x107, 0x207, 0x206, 0x307, 0x306, 0x407, 0x406};
  const u32 kDi[8] = {0x104, 0x105, 0x204, 0x205, 0x304, 0x305, 0x404, 0x405};
  const u32 kDiSwapped[8] = {0x104, 0x105, 0x205, 0x204, 0x305, 0x304, 0x405, 0x404};
  const std::pair<BoardKind, u32> boards[] = {
      {k16, 16},        {k32, 32},           {k64, 64}, {{1, 0x0, true}, 16}, {{1, 0x1, true}, 32},
      {k64Swapped, 64}, {{3, 0xF, true}, 64}};
  for (const auto& [kind, channels] : boards) {
    LoadBoard(kind);
    for (u32 m = 1; m <= 4; ++m) sim::SetDiBytes(0, m, 0x10 * m + 1, 0x10 * m + 2);
    for (u16 k = 0; k < 8; ++k) {
      SCOPED_TRACE(testing::Message()
                   << channels << (kind.swap ? " swapped" : "") << " byte " << k);
      const u32 out = (kind.swap ? kDoSwapped : kDo)[k], in = (kind.swap ? kDiSwapped : kDi)[k];
      const u8 value = 0xA0 | k, held = 0x10 * (in >> 8) + 1 + (in & 1);
      const bool fitted = k < channels / 8;  // others are neither written nor read
      sim::StartTrace();
      RVX406A_PutDOByte(0, k, value);
      EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
      EXPECT_EQ(TracedWrites(), fitted ? Strings{Hex("P%X=%02X", out, value)} : Strings{});
      sim::StartTrace();
      EXPECT_EQ(Out(RVX406A_GetDOByte, 0, k), fitted ? value : 0u);
      EXPECT_EQ(Out(RVX406A_GetDIByte, 0, k), fitted ? u8(~held) : 0u);  // inputs are inverted
      EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
      EXPECT_EQ(ModuleRequests(),
                (fitted ? Strings{Hex("RP%X", out), Hex("RP%X", in)} : Strings{}));
    }
  }
}

TEST_F(DigitalIoTest, ChannelsAndWidths) {
  struct Case {
    BoardKind kind;
    std::function<u32()> call;
    u32 value;
    Strings requests;
  };
  const Case cases[] = {
      {k64, [] { return RVX406A_PutDOBit(0, 16, 1), 0u; }, 0, {"RP206", "P206=F1"}},
      {k64Swapped, [] { return RVX406A_PutDOBit(0, 16, 1), 0u; }, 0, {"RP207", "P207=F1"}},
      {k64, [] { return RVX406A_PutDOBit(0, 23, 0), 0u; }, 0, {"RP206", "P206=70"}},
      {k64Swapped, [] { return RVX406A_PutDOBit(0, 9, 1), 0u; }, 0, {"RP107", "P107=F2"}},
      {k32, [] { return RVX406A_PutDOBit(0, 40, 1), 0u; }, 0, {}},
      {k64Swapped, [] { return u32{RVX406A_GetDOBit(0, 17)}; }, 0, {"RP207"}},
      {k64, [] { return u32{RVX406A_GetDIBit(0, 0)}; }, 0, {"RP104"}},  // a set register bit is off
      {k64, [] { return u32{RVX406A_GetDIBit(0, 63)}; }, 1, {"RP405"}},
      {k64Swapped, [] { return u32{RVX406A_GetDIBit(0, 63)}; }, 0, {"RP404"}},
      {k64, [] { return RVX406A_PutDOWord(0, 1, 0x1234), 0u; }, 0, {"P206=34", "P207=12"}},
      {k64Swapped, [] { return RVX406A_PutDOWord(0, 1, 0x1234), 0u; }, 0, {"P207=34", "P206=12"}},
      {k48, [] { return RVX406A_PutDODWord(0, 1, 0x89ABCDEF), 0u; }, 0, {"P306=EF", "P307=CD"}},
      {k64Swapped, [] { return Out(RVX406A_GetDOWord, 0, 1); }, 0xF0F0, {"RP207", "RP206"}},
      {k64,
       [] { return Out(RVX406A_GetDODWord, 0, 0); },
       0xF0F0F000,
       {"RP106", "RP107", "RP206", "RP207"}},
      {k16, [] { return Out(RVX406A_GetDIDWord, 0, 0); }, 0x0FF0, {"RP104", "RP105"}},
      {k16, [] { return Out(RVX406A_GetDIDWord, 0, 1); }, 0, {}},
      {k48, [] { return Out(RVX406A_GetDIWord, 0, 3); }, 0, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "case " << (&c - cases));
    LoadBoard(c.kind);
    for (u32 address : {0x107, 0x206, 0x207}) sim::SetPld(0, address, 0xF0);
    sim::SetDiBytes(0, 1, 0x0F, 0xF0);
    sim::SetDiBytes(0, 4, 0xFF, 0x7F);
    sim::StartTrace();
    EXPECT_EQ(c.call(), c.value);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(Requests(sim::Trace()).front(), "RP1");  // the byte swap flag, first
    EXPECT_EQ(ModuleRequests(), c.requests);
  }
  // The flag is read at every call, not when the board was loaded.
  sim::SetPld(0, pld::kIdentity, sim::Pld(0, pld::kIdentity) | 0x80);
  sim::StartTrace();
  RVX406A_PutDOBit(0, 16, 1);
  EXPECT_EQ(ModuleRequests(), (Strings{"RP207", "P207=F1"}));
}

TEST_F(DigitalIoTest, RefusalsTouchNothing) {
  const std::pair<std::function<u32()>, const char*> cases[] = {
      {[] { return RVX406A_PutDOBit(0, 64, 1), 0u; },
       " RV =  -200 : RVX406A_PutDOBit (0, 64, 0x00000001)"},
      {[] { return RVX406A_PutDOBit(0, 3, 2), 0u; },
       " RV =  -300 : RVX406A_PutDOBit (0, 3, 0x00000002)"},
      {[] { return u32{RVX406A_GetDOBit(0, 64)}; },
       " RV =  -200 : RVX406A_GetDOBit (0, 64, 0x00000000)"},
      {[] { return u32{RVX406A_GetDIBit(0, 99)}; },
       " RV =  -200 : RVX406A_GetDIBit (0, 99, 0x00000000)"},
      {[] { return RVX406A_PutDOByte(0, 8, 0x55), 0u; },
       " RV =  -201 : RVX406A_PutDOByte (0, 8, 0x00000055)"},
      {[] { return Out(RVX406A_GetDOByte, 0, 8); },
       " RV =  -201 : RVX406A_GetDOByte (0, 8, 0x00000000)"},
      {[] { return Out(RVX406A_GetDIByte, 0, 8); },
       " RV =  -201 : RVX406A_GetDIByte (0, 8, 0x00000000)"},
      {[] { return RVX406A_PutDOWord(0, 4, 0x1234), 0u; },
       " RV =  -201 : RVX406A_PutDOWord (0, 4, 0x00001234)"},
      {[] { return Out(RVX406A_GetDOWord, 0, 4); },
       " RV =  -201 : RVX406A_GetDOWord (0, 4, 0x00000000)"},
      {[] { return Out(RVX406A_GetDIWord, 0, 4); },
       " RV =  -201 : RVX406A_GetDIWord (0, 4, 0x00000000)"},
      {[] { return RVX406A_PutDODWord(0, 2, 0xDEADBEEF), 0u; },
       " RV =  -201 : RVX406A_PutDODWord (0, 2, 0xDEADBEEF)"},
      {[] { return Out(RVX406A_GetDODWord, 0, 2); },
       " RV =  -201 : RVX406A_GetDODWord (0, 2, 0x00000000)"},
      {[] { return Out(RVX406A_GetDIDWord, 0, 2); },
       " RV =  -201 : RVX406A_GetDIDWord (0, 2, 0x00000000)"},
      {[] { return RVX406A_SetDiFilter(0, 2), 0u; }, " RV =  -300 : RVX406A_SetDiFilter (0, 2)"},
      {[] { return RVX406A_SetDiFilterTime(0, 16), 0u; },
       " RV =  -300 : RVX406A_SetDiFilterTime (0, 16)"},
      {[] { return Out(RVX406A_GetDIWord, 1, 0); },
       " RV =  -410 : RVX406A_GetDIWord (1, 0, 0x00000000)"},
      {[] { return u32{RVX406A_GetDiFilter(1)}; }, " RV =  -410 : RVX406A_GetDiFilter (1, 0)"},
  };
  LoadBoard(k64);
  shared().log_level = 2;  // failures only, for outputs and getters alike
  for (const auto& [call, line] : cases) {
    SCOPED_TRACE(line);
    ClearLog();
    sim::StartTrace();
    EXPECT_EQ(call(), 0u);
    EXPECT_EQ(RVX406A_GetErrorCode(), atoi(line + 5));
    EXPECT_THAT(sim::Trace(), IsEmpty());
    EXPECT_THAT(LoggedCalls(), ElementsAre(line));
  }
  EXPECT_EQ(axis_block(0, 0).di_filter, 1);
  EXPECT_EQ(axis_block(0, 0).di_filter_time, 10);
  shared().log_level = 1;  // neither outputs nor getters log at level 1
  ClearLog();
  RVX406A_PutDOByte(0, 8, 0);
  RVX406A_SetDiFilter(0, 2);
  EXPECT_EQ(Out(RVX406A_GetDIByte, 0, 8), 0u);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
}

TEST_F(DigitalIoTest, FilterProgrammingPerFittedModule) {
  struct Case {
    BoardKind kind;
    u16 on, time;  // the call sets one of them; 99 leaves it
    Strings writes;
    const char* line;  // written at level 3
  };
  const Case cases[] = {
      {k16, 0, 99, {"P102=00", "P103=00", "P100=C1"}, " RV =     0 : RVX406A_SetDiFilter (0, 0)"},
      {k48,
       1,
       99,
       {"P102=FF", "P103=00", "P100=C1", "P202=FF", "P203=00", "P200=C1", "P302=FF", "P303=00",
        "P300=C1"},
       " RV =     0 : RVX406A_SetDiFilter (0, 1)"},
      {k16,
       99,
       15,
       {"P102=AA", "P103=0F", "P100=C2"},
       " RV =     0 : RVX406A_SetDiFilterTime (0, 15)"},
      {{3, 0x3, true},
       99,
       7,
       {"P102=AA", "P103=07", "P100=C2", "P202=AA", "P203=07", "P200=C2"},
       " RV =     0 : RVX406A_SetDiFilterTime (0, 7)"},
      {{3, 0x0, false}, 0, 99, {}, " RV =     0 : RVX406A_SetDiFilter (0, 0)"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    LoadBoard(c.kind);
    shared().log_level = 3;
    ClearLog();
    sim::StartTrace();
    c.on != 99 ? RVX406A_SetDiFilter(0, c.on) : RVX406A_SetDiFilterTime(0, c.time);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(TracedWrites(), c.writes);
    sim::StartTrace();
    EXPECT_EQ(RVX406A_GetDiFilter(0), c.on != 99 ? c.on : 1);
    EXPECT_EQ(RVX406A_GetDiFilterTime(0), c.time != 99 ? c.time : 10);
    EXPECT_THAT(sim::Trace(), IsEmpty());             // answered from the stored values
    EXPECT_THAT(LoggedCalls(), ElementsAre(c.line));  // the getters' success is silent
  }
}

TEST_F(DigitalIoTest, WholePortStubsDoNothing) {
  LoadBoard(k64);
  shared().log_level = 3;
  RVX406A_PutDOByte(0, 8, 0);
  ClearLog();
  sim::StartTrace();
  RVX406A_PutDO(0, 0xFFFFFFFF);
  RVX406A_SetFilterDI(0, 1);
  EXPECT_EQ(RVX406A_GetDI(0) | RVX406A_GetDO(0) | RVX406A_GetFilterDI(0), 0u);
  EXPECT_THAT(sim::Trace(), IsEmpty());
  EXPECT_EQ(RVX406A_GetErrorCode(), -201);
  EXPECT_THAT(LoggedCalls(), IsEmpty());
}

}  // namespace
}  // namespace rvx::test
