// Board facts, module file versions, saving, the log level and the block mode.

#include <filesystem>

#include "tests/support.h"

namespace rvx::test {
namespace {

class BoardInfoTest : public LibraryTest {};

TEST_F(BoardInfoTest, IdentityIsReadAtEveryCall) {
  Load();
  shared().log_level = 3;  // getters log their failures only
  ClearLog();
  sim::SetPld(0, pld::kBoardId, 0xA7);
  sim::StartTrace();
  EXPECT_EQ(RVX406A_GetBoardID(0), 0xA7);
  sim::SetPld(0, pld::kBoardId, 0x3C);
  EXPECT_EQ(RVX406A_GetBoardID(0), 0x3C);
  EXPECT_EQ(RVX406A_GetAxisNum(0), 4);
  EXPECT_EQ(Requests(sim::Trace()), (Strings{"RP2", "RP2", "RP1"}));
  sim::SetPld(0, pld::kIdentity, 0x21);  // type code 2
  EXPECT_EQ(RVX406A_GetAxisNum(0), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_HW_TYPE);
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =    -7 : RVX406A_GetAxisNum (0, 0)"));
}

TEST_F(BoardInfoTest, DllVersionFromTheFileVersionString) {
  const std::string path = install_dir_ + "module.dll";
  WriteFile(path, VersionedPe(u"041204B0", {{u"FileVersion", u"2, 0, 1, 15"}}));
  EXPECT_EQ(RVX406A_GetDllVersion(path.c_str()), 0u);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);
  Load();
  const std::tuple<const char16_t*, const char16_t*, u32> cases[] = {
      {u"041204B0", u"2, 0, 1, 15", 2000115},
      {u"041204B0", u"  3,   10, 20,99", 3102099},
      {u"041204B0", u"1, 2, 3, 4, 5", 1020304},  // a fifth piece is ignored
      {u"041204B0", u"2, 1", 2010000},           // missing pieces count as 0
      {u"041204B0", u"beta", 0},
      {u"040904B0", u"2, 0, 1, 15", 0},  // another language only
      {nullptr, nullptr, 0}};            // no file
  for (const auto& [language, text, version] : cases) {
    RemoveTree(path);
    if (language != nullptr) WriteFile(path, VersionedPe(language, {{u"FileVersion", text}}));
    process().last_result = -1;
    EXPECT_EQ(RVX406A_GetDllVersion(path.c_str()), version);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  }
}

TEST_F(BoardInfoTest, LogLevelAndBlockModeAreSharedValues) {
  RVX406A_LogCheck(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);
  RVX406A_SetBlockMode(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);
  EXPECT_EQ(RVX406A_GetBlockMode(), 0);
  Load();
  // Log level and block mode before, the call, both after; LogCheck logs whatever the level, and
  // SetBlockMode logs the mode it keeps.
  const std::tuple<u32, u16, void (*)(uint16_t), u16, u32, u16, const char*> cases[] = {
      {3, 0, RVX406A_LogCheck, 0, 0, 0, " RV =     0 : RVX406A_LogCheck (0)"},
      {0, 0, RVX406A_LogCheck, 3, 3, 0, " RV =     0 : RVX406A_LogCheck (3)"},
      {2, 0, RVX406A_LogCheck, 4, 2, 0, " RV =  -300 : RVX406A_LogCheck (4)"},
      {3, 0, RVX406A_SetBlockMode, 1, 3, 1, " RV =     0 : RVX406A_SetBlockMode (1)"},
      {2, 1, RVX406A_SetBlockMode, 0, 2, 0, nullptr},
      {2, 1, RVX406A_SetBlockMode, 2, 2, 1, " RV =  -300 : RVX406A_SetBlockMode (1)"},
      {1, 1, RVX406A_SetBlockMode, 0, 1, 0, nullptr}};
  for (const auto& [level, mode, call, arg, level_after, mode_after, line] : cases) {
    std::tie(shared().log_level, shared().block_mode) = std::make_tuple(level, mode);
    ClearLog();
    sim::StartTrace();
    call(arg);
    const bool valid = arg <= (call == RVX406A_LogCheck ? 3 : 1);
    EXPECT_EQ(RVX406A_GetErrorCode(), valid ? ERR_SUCCESS : ERR_INVALID_PARAMETER);
    EXPECT_EQ(shared().log_level, level_after);
    EXPECT_EQ(RVX406A_GetBlockMode(), mode_after);
    EXPECT_EQ(LoggedCalls(), line ? Strings{line} : Strings{});
    EXPECT_EQ(Requests(sim::Trace()), Strings{});
  }
}

TEST_F(BoardInfoTest, SaveFileLogsAtLevelsTwoAndThreeWhateverTheResult) {
  const std::tuple<u32, u16, bool, const char*> cases[] = {
      {1, 4, true, nullptr},
      {2, 0, true, " RV =     0 : RVX406A_SaveFile (0)"},
      {2, 0, false, " RV =     0 : RVX406A_SaveFile (0)"},  // the save itself fails
      {3, 4, true, " RV =  -410 : RVX406A_SaveFile (4)"}};
  Load();
  axis_block(0, 2).range = 321;
  for (const auto& [level, board, writable, line] : cases) {
    RemoveTree(ParameterPath(0));
    // A directory in the file's place makes every write fail.
    if (!writable) std::filesystem::create_directory(ParameterPath(0));
    shared().log_level = level;
    ClearLog();
    RVX406A_SaveFile(board);
    EXPECT_EQ(RVX406A_GetErrorCode(), board == 0 ? ERR_SUCCESS : ERR_BOARD_NUMBER);
    EXPECT_EQ(LoggedCalls(), line ? Strings{line} : Strings{});
    const bool saved = board == 0 && writable;
    EXPECT_EQ(ReadFile(ParameterPath(0)).find("RANGE=321") != std::string::npos, saved);
  }
}

}  // namespace
}  // namespace rvx::test
