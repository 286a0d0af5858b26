// Calls refused for their arguments: the result code and the logged line, and
// nothing else: no driver request, no byte of the shared section changed,
// every output and return value zero.
#include <memory>

#include "tests/support.h"

namespace rvx::test {
namespace {

using Call = std::function<int64_t()>;
template <class F>
Call Void(F f) {
  return [f] { return f(), int64_t{0}; };
}

using RefusalsTest = LoadedTest<>;

TEST_F(RefusalsTest, RefusedCallsChangeNothing) {
  const int32_t kMin = INT32_MIN;
  u16 a = 7, b = 7;
  u32 u[5] = {7, 7, 7, 7, 7};
  i32 p = 7, q = 7;
  // The call, its result and the line logged at level 2 after "RVX406A_".
  // clang-format off
  const std::vector<std::tuple<Call, i32, const char*>> cases = {
      {Void([] { RVX406A_Reset(2); }), -410, "Reset (2)"},
      {Void([] { RVX406A_SetSystemDefault(0, 4); }), -540, "SetSystemDefault (0, 4)"},
      {[&] { RVX406A_BoardInfo(1, &u[0], &u[1], &u[2], &u[3], &u[4]);
             return int64_t{u[0] | u[1] | u[2] | u[3] | u[4]}; },
       -410, "BoardInfo (1, 0, 0, 0, 0, 0)"},
      {[] { return RVX406A_GetDoNum(3); }, -410, "GetDoNum (3, 0)"},
      {[] { return RVX406A_GetCardStatus(1, 0); }, -410, "GetCardStatus (1, 0, 0x00000000)"},
      {[] { return RVX406A_GetInputStatus(0, 4); }, -540, "GetInputStatus (0, 4, 0x00000000)"},
      {[] { return RVX406A_GetCommandSpeed(0, 4); }, -540, "GetCommandSpeed (0, 4, 0)"},
      {Void([=] { RVX406A_SetCommandPos(0, 0, kMin); }), -300, "SetCommandPos (0, 0, -2147483648)"},
      {Void([] { RVX406A_SetActualPos(0, 4, 5); }), -540, "SetActualPos (0, 4, 5)"},
      {Void([] { RVX406A_PutDOBit(0, 64, 1); }), -200, "PutDOBit (0, 64, 0x00000001)"},
      {Void([] { RVX406A_PutDOBit(0, 3, 2); }), -300, "PutDOBit (0, 3, 0x00000002)"},
      {[] { return RVX406A_GetDIBit(0, 64); }, -200, "GetDIBit (0, 64, 0x00000000)"},
      {Void([] { RVX406A_PutDOByte(0, 8, 0x55); }), -201, "PutDOByte (0, 8, 0x00000055)"},
      {Void([] { RVX406A_PutDOWord(0, 4, 0x55); }), -201, "PutDOWord (0, 4, 0x00000055)"},
      {Void([] { RVX406A_PutDODWord(0, 2, 7); }), -201, "PutDODWord (0, 2, 0x00000007)"},
      {[] { return Out(RVX406A_GetDOByte, 0, 8); }, -201, "GetDOByte (0, 8, 0x00000000)"},
      {[] { return Out(RVX406A_GetDIWord, 0, 4); }, -201, "GetDIWord (0, 4, 0x00000000)"},
      {[] { return Out(RVX406A_GetDIDWord, 0, 2); }, -201, "GetDIDWord (0, 2, 0x00000000)"},
      {Void([] { RVX406A_SetDiFilter(0, 2); }), -300, "SetDiFilter (0, 2)"},
      {Void([] { RVX406A_SetDiFilterTime(0, 16); }), -300, "SetDiFilterTime (0, 16)"},
      {[] { return RVX406A_GetDiFilter(1); }, -410, "GetDiFilter (1, 0)"},
      {Void([] { RVX406A_PutSvOn(0, 0, 2); }), -300, "PutSvOn (0, 0, 2)"},
      {Void([] { RVX406A_PutSvRun(0, 0, 2); }), -300, "PutSvRun (0, 0, 2)"},
      {Void([] { RVX406A_SetEmergency(0, 2); }), -300, "SetEmergency (0, 2)"},
      {Void([] { RVX406A_SetOrg(0, 0, 2); }), -300, "SetOrg (0, 0, 2)"},
      {Void([] { RVX406A_SetHlmt(0, 0, 2, 1); }), -300, "SetHlmt (0, 0, 2, 1)"},
      {Void([] { RVX406A_SetSlmt(0, 0, 0, -1073741825, 1); }), -300,
       "SetSlmt (0, 0, 0, -1073741825, 1 )"},
      {Void([] { RVX406A_SetCounterRing(0, 0, 100, 0x40000000, 1); }), -300,
       "SetCounterRing (0, 0, 100, 1073741824, 1 )"},
      {Void([] { RVX406A_SetCounterRing(0, 0, 0, 100, 1); }), -300,
       "SetCounterRing (0, 0, 0, 100, 1 )"},
      {Void([] { RVX406A_SetCompCountMode(0, 0, 2); }), -300, "SetCompCountMode (0, 0, 2)"},
      {Void([] { RVX406A_SetRangeMode(0, 0, 501); }), -300, "SetRangeMode (0, 0, 501)"},
      {Void([] { RVX406A_SetFilterExt(0, 0, 2); }), -300, "SetFilterExt (0, 0, 2)"},
      {Void([] { RVX406A_SetFilterTime(0, 0, 8); }), -300, "SetFilterTime (0, 0, 8)"},
      {Void([] { RVX406A_SetEncoderMode(0, 0, 4); }), -300, "SetEncoderMode (0, 0, 4)"},
      {Void([] { RVX406A_SetPulseMode(0, 0, 6); }), -300, "SetPulseMode (0, 0, 6)"},
      {Void([] { RVX406A_SetSvCClr(0, 0, 2, 0); }), -300, "SetSvCClr (0, 0, 2, 0)"},
      {Void([] { RVX406A_SetSvCClrTime(0, 0, 8); }), -300, "SetSvCClrTime (0, 0, 8)"},
      {[&] { RVX406A_GetSvAlm(0, 5, &a, &b); return int64_t{a | b}; }, -540,
       "GetSvAlm (0, 5, 0, 0)"},
      {[&] { RVX406A_GetSlmt(1, 0, &p, &q, &a); return int64_t{p | q | a}; }, -410,
       "GetSlmt (1, 0, 0, 0, 0 )"},
      {Void([] { RVX406A_Inc_Move(0, 0, -268435456); }), -300,
       "Inc_Move (0, 0, -268435456) : COMM[0.00], FEED[0.00]"},
      {Void([=] { RVX406A_Abs_Move(0, 0, kMin); }), -300,
       "Abs_Move (0, 0, -2147483648) : COMM[0.00], FEED[0.00]"},
      {Void([] { RVX406A_Jog_Move(0, 0, 2); }), -300, "Jog_Move (0, 0, 2)"},
      {Void([] { RVX406A_OverrideSpeed(0, 0, 4000001); }), -535, "OverrideSpeed (0, 0, 4000001)"},
      {Void([] { RVX406A_SetHomeMode(0, 0, 10); }), -300, "SetHomeMode (0, 0, 10)"},
      {Void([] { RVX406A_SetHomeDir(0, 0, 2); }), -300, "SetHomeDir (0, 0, 2)"},
      {Void([] { RVX406A_SetHomeSuccess(0, 0, 2); }), -300, "SetHomeSuccess (0, 0, 2)"},
      {Void([] { RVX406A_SetHomeOffset(0, 0, 0x10000000); }), -300,
       "SetHomeOffset (0, 0, 268435456)"},
      {Void([] { RVX406A_SetHomeSpeed(0, 0, 4000001, 4000001, 64001); }), -533,
       "SetHomeSpeed (0, 0, 4000001, 4000001, 64001)"},
      {Void([] { RVX406A_SetHomeSpeed(0, 0, 4000000, 4000001, 64001); }), -535,
       "SetHomeSpeed (0, 0, 4000000, 4000001, 64001)"},
      {Void([] { RVX406A_SetHomeSpeed(0, 0, 4000000, 4000000, 64001); }), -537,
       "SetHomeSpeed (0, 0, 4000000, 4000000, 64001)"},
      {Void([] { RVX406A_Home_Move(1, 0); }), -410, "Home_Move (1, 0)"},
      {Void([] { RVX406A_SetAccOffset(0, 0, 32768); }), -300, "SetAccOffset (0, 0, 32768)"},
      {Void([] { RVX406A_SetSyncMode(0, 0, 0x10, 1, 1); }), -300, "SetSyncMode (0, 0, 16, 1, 1)"},
      {Void([] { RVX406A_SetSyncMode(0, 4, 1, 1, 1); }), -540, "SetSyncMode (0, 4, 1, 1, 1)"},
      {Void([] { RVX406A_SetExtMode(0, 1, 1, 10001); }), -300, "SetExtMode (0, 1, 1, 10001)"},
      {Void([] { RVX406A_SetExtMode(0, 1, 2, 5); }), -300, "SetExtMode (0, 1, 2, 5)"},
      {Void([] { RVX406A_SetFixedRange(0, 2, 2); }), -300, "SetFixedRange (0, 2, 2)"},
      {[&] { RVX406A_GetExtMode(0, 4, &a, &b); return int64_t{a | b}; }, -540,
       "GetExtMode (0, 4, 0, 0)"},
      {[] { return RVX406A_GetFixedRange(0, 4); }, -540, "GetFixedRange (0, 4, 0)"},
      {[] { return RVX406A_GetMotionDir(0, 4); }, -540, "GetMotionDir (0, 4, 0)"},
      // Null pointers: the outputs given are still zeroed.
      {Void([] { RVX406A_BoardInfo(0, nullptr, nullptr, nullptr, nullptr, nullptr); }), -300,
       "BoardInfo (0, 0, 0, 0, 0, 0)"},
      {[&] { RVX406A_GetSlmt(0, 1, &p, nullptr, &a); return int64_t{p | a}; }, -300,
       "GetSlmt (0, 1, 0, 0, 0 )"},
      {Void([] { RVX406A_GetSvAlm(0, 0, nullptr, nullptr); }), -300, "GetSvAlm (0, 0, 0, 0)"},
      {Void([] { RVX406A_GetDIWord(0, 1, nullptr); }), -300, "GetDIWord (0, 1, 0x00000000)"},
      {Void([] { RVX406A_GetIPPosSpeed(0, 0, nullptr, nullptr, nullptr, nullptr); }), -300,
       "GetIPPosSpeed (0, 0, 0, 0, 0, 0)"},
      {Void([] { RVX406A_Multi_Inc_Move(0, 1, nullptr, nullptr); }), -300,
       "Multi_Inc_Move (0, 0, 0) : COMM[0.00], FEED[0.00]"},
      {Void([] { RVX406A_Multi_Home_Move(0, 1, nullptr); }), -300, "Multi_Home_Move (0, 0)"},
      {[] { return RVX406A_Multi_Done(0, 1, nullptr); }, -300,
       "Multi_Done (0, 0) : COMM[0.00], FEED[0.00]"},
      {Void([] { RVX406A_Multi_Sudden_Stop(0, 1, nullptr); }), -300, "Multi_Sudden_Stop (0, 0)"},
      {Void([] { RVX406A_GetCompTrgMode(0, nullptr, nullptr); }), -300, "GetCompTrgMode (0, 0, 0)"},
      {Void([] { RVX406A_GetMotEventStatus(0, 0, nullptr); }), -300,
       "GetMotEventStatus (0, 0, 0x00000000)"},
      {[] { return RVX406A_GetDllVersion(nullptr); }, -300, "GetDllVersion ((null), 0)"},
  };
  // clang-format on
  auto before = std::make_unique<SharedSection>();
  for (const auto& [call, result, line] : cases) {
    SCOPED_TRACE(line);
    shared().log_level = 2;
    ClearLog();
    memcpy(before.get(), &shared(), sizeof(SharedSection));
    sim::StartTrace();
    EXPECT_EQ(call(), 0);
    EXPECT_EQ(RVX406A_GetErrorCode(), result);
    EXPECT_EQ(Requests(sim::Trace()), Strings{});
    EXPECT_EQ(memcmp(before.get(), &shared(), sizeof(SharedSection)), 0);
    EXPECT_EQ(LoggedCalls(), Strings{Logged(result, line)});
  }
}

// Exported so that applications still link: they answer, but touch nothing
// and report nothing.
TEST_F(RefusalsTest, ExportsThatDoNothing) {
  shared().log_level = 3;
  RVX406A_Reset(5);
  ClearLog();
  auto before = std::make_unique<SharedSection>();
  memcpy(before.get(), &shared(), sizeof(SharedSection));
  sim::StartTrace();
  EXPECT_EQ(RVX406A_LoadDeviceEx(0), ERR_CREATE_KERNEL_DRIVER_FAIL);
  for (auto call : {RVX406A_PutINSTB, RVX406A_PutOTSTB, RVX406A_SetINSTB, RVX406A_UnloadDeviceEx}) {
    call(0);
  }
  RVX406A_PutDO(0, 0xFFFFFFFF);
  RVX406A_SetFilterDI(0, 1);
  EXPECT_EQ(std::make_tuple(RVX406A_GetDI(0), RVX406A_GetDO(0), RVX406A_GetFilterDI(0),
                            RVX406A_GetSyncMode(9, 9)),
            std::make_tuple(0u, 0u, u16{0}, int16_t{1}));
  RVX406A_SetEnableEvent(0, 0, 1);
  RVX406A_SetIpExtPulse(7, 9, 9);
  for (auto move :
       {RVX406A_Ext_Abs_Move, RVX406A_Ext_Inc_Move, RVX406A_Mpg_Abs_Move, RVX406A_Mpg_Inc_Move}) {
    move(0, 1, 1000);
  }
  for (auto jog : {RVX406A_Ext_Jog_Move, RVX406A_Mpg_Jog_Move}) jog(0, 1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_BOARD_NUMBER);
  EXPECT_EQ(Requests(sim::Trace()), Strings{});
  EXPECT_EQ(memcmp(before.get(), &shared(), sizeof(SharedSection)), 0);
  EXPECT_EQ(LoggedCalls(), Strings{});
  EXPECT_EQ(process().table.count, 1u);
}

}  // namespace
}  // namespace rvx::test
