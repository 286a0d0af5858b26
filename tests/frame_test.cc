// The call frame: result codes, logging rules and the log file.

#include "core/call.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using FrameTest = LibraryTest;

TEST(LogRuleTest, TableOfLevelsAndResults) {
  // Whether levels 0 to 4 log a success, then an error.
  const std::tuple<LogRule, const char*, const char*> rows[] = {
      {LogRule::kLifecycle, "01110", "01110"},    {LogRule::kSetter, "01010", "01111"},
      {LogRule::kNarrowSetter, "01010", "01110"}, {LogRule::kWait, "01000", "01110"},
      {LogRule::kGetter, "00000", "00111"},       {LogRule::kLevel3, "00010", "00111"},
      {LogRule::kErrorAt3, "00000", "00010"},     {LogRule::kSave, "00110", "00110"},
      {LogRule::kAlways, "11111", "11111"}};
  for (const auto& [rule, success, error] : rows) {
    for (u32 level = 0; level <= 4; ++level) {
      EXPECT_EQ(ShouldLog(rule, level, 0), success[level] == '1') << int(rule) << "/" << level;
      EXPECT_EQ(ShouldLog(rule, level, -546), error[level] == '1') << int(rule) << "/" << level;
    }
  }
  EXPECT_TRUE(ShouldLog(LogRule::kGetter, 200, -1));
}

TEST(FormatLineTest, PrintsIntegersWithThirtyTwoBitSemantics) {
  struct Case {  // an aggregate keeps the argument lists alive
    const char* format;
    std::initializer_list<LogArg> args;
    const char* expected;
  };
  const Case cases[] = {
      {" RV = %5d : F (%ld, %ld)", {-546, 0u, 0xFFFFFFFFu}, " RV =  -546 : F (0, -1)"},
      {"%ld %ld", {int64_t{1} << 32, -2147483647 - 1}, "0 -2147483648"},
      {"0x%08X 0x%04X", {0x12345u, u16{0xAB}}, "0x00012345 0x00AB"},
      {"COMM[%.2f], FEED[%.2f]", {1.5, -2.0}, "COMM[1.50], FEED[-2.00]"},
      {"%s, %ld %%", {"path", 7}, "path, 7 %"},
      {"(%d, %ld)", {3}, "(3, 0)"}};  // a missing argument prints as 0
  char line[kPathSize];
  for (const Case& c : cases) {
    FormatLine(line, sizeof line, c.format, c.args);
    EXPECT_STREQ(line, c.expected);
  }
  FormatLine(line, sizeof line, std::string(400, 'x').c_str(), {});
  EXPECT_EQ(strlen(line), kPathSize - 1u);
}

TEST_F(FrameTest, ErrorStringNamesListedCodesOnly) {
  EXPECT_STREQ(RVX406A_GetErrorString(ERR_AXIS_DRV_BUSY), "ERR_AXIS_DRV_BUSY");
  EXPECT_STREQ(RVX406A_GetErrorString(ERR_BOARD_NUMBER), "ERR_AXIS_DRV_BUSY");
  EXPECT_STREQ(RVX406A_GetErrorString(-201), "ERR_AXIS_DRV_BUSY");
  EXPECT_STREQ(RVX406A_GetErrorString(ERR_STOP_BY_HUNTING_NO), "ERR_STOP_BY_HUNTING_NO");
  EXPECT_STREQ(RVX406A_GetErrorString(0), "ERR_SUCCESS");
  EXPECT_STREQ(RVX406A_GetErrorString(ERR_UNKNOWN), "ERR_UNKNOWN");
  Load();
  RVX406A_Reset(7);
  RVX406A_GetErrorString(0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_BOARD_NUMBER);  // untouched by the text lookup
}

TEST_F(FrameTest, LogLineFormatAndDailyFile) {
  Load();
  shared().log_level = 1;
  ClearLog();
  process().seams.local_time = [] { return os::LocalTime{2024, 1, 31, 14, 5, 9, 42}; };
  RVX406A_SetSystemDefault(0, 1);
  EXPECT_EQ(ReadFile(install_dir_ + "Debug/logfile_20240131.log"),
            "[2024:01:31:14:05:09:042] RV =     0 : RVX406A_SetSystemDefault (0, 1)\r\n");
  process().seams.local_time = [] { return os::LocalTime{2024, 2, 1, 0, 0, 0, 7}; };
  RVX406A_Reset(0);
  EXPECT_EQ(ReadFile(install_dir_ + "Debug/logfile_20240201.log"),
            "[2024:02:01:00:00:00:007] RV =     0 : RVX406A_Reset (0)\r\n");
  EXPECT_EQ(LoggedCalls().size(), 2u);
}

}  // namespace
}  // namespace rvx::test
