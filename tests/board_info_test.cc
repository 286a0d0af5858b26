// Board facts, module file versions, saving, the log level and the block
// mode: values, registers read, result codes and log lines.
#include <gmock/gmock.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "core/registers.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

using ::testing::ElementsAre;
using ::testing::IsEmpty;
using Strings = std::vector<std::string>;

class BoardInfoTest : public LibraryTest {};

void Put16(std::string* s, u32 v) {
  s->push_back(static_cast<char>(v));
  s->push_back(static_cast<char>(v >> 8));
}
void Set32(std::string* s, size_t at, u32 v) {
  for (int i = 0; i < 4; ++i) (*s)[at + i] = static_cast<char>(v >> 8 * i);
}
void Pad4(std::string* s) { s->resize((s->size() + 3) & ~size_t{3}, '\0'); }

// One VS_VERSIONINFO node: lengths, type 1 (text), UTF-16 key and value, children.
std::string Node(const std::u16string& key, const std::u16string& text,
                 const std::string& children = "") {
  std::string node(6, '\0');
  for (char16_t c : key + u'\0') Put16(&node, c);
  Pad4(&node);
  if (!text.empty()) {
    for (char16_t c : text + u'\0') Put16(&node, c);
    Pad4(&node);
  }
  node += children;
  Set32(&node, 0, static_cast<u32>(node.size() | (text.empty() ? 0 : text.size() + 1) << 16));
  node[4] = 1;
  return node;
}

// A minimal PE32+ file whose one section, .rsrc at 0x1000, holds the version
// resource (type 16, name 1, language 0x412) with the string table `language`.
std::string VersionedPe(const std::u16string& language, const std::u16string& file_version) {
  const std::string info =
      Node(u"VS_VERSION_INFO", u"",
           Node(u"StringFileInfo", u"", Node(language, u"", Node(u"FileVersion", file_version))));
  std::string rsrc;
  const u32 tree[][2] = {{16, 0x80000018}, {1, 0x80000030}, {0x412, 0x48}};
  for (const auto& [id, target] : tree) {
    rsrc.append(16, '\0');
    rsrc[rsrc.size() - 2] = 1;  // one id entry
    rsrc.append(8, '\0');
    Set32(&rsrc, rsrc.size() - 8, id);
    Set32(&rsrc, rsrc.size() - 4, target);
  }
  rsrc.append(16, '\0');
  Set32(&rsrc, 0x48, 0x1058);  // the data entry: address and size
  Set32(&rsrc, 0x4C, static_cast<u32>(info.size()));
  rsrc += info;
  std::string pe(0x200, '\0');
  pe[0] = 'M';
  pe[1] = 'Z';
  Set32(&pe, 0x3C, 0x40);
  Set32(&pe, 0x40, 0x4550);        // "PE"
  Set32(&pe, 0x44, 0x00018664);    // x64, one section
  Set32(&pe, 0x54, 0x202200F0);    // 240-byte optional header
  Set32(&pe, 0x58, 0x20B);         // PE32+
  Set32(&pe, 0x58 + 108, 16);      // data directories
  Set32(&pe, 0x58 + 128, 0x1000);  // the resource directory
  Set32(&pe, 0x58 + 132, static_cast<u32>(rsrc.size()));
  pe.replace(0x148, 5, ".rsrc");
  for (const auto& [at, v] : {std::pair<size_t, u32>{0x150, rsrc.size()},
                              {0x154, 0x1000},
                              {0x158, rsrc.size()},
                              {0x15C, 0x200},
                              {0x16C, 0x40000040}}) {
    Set32(&pe, at, v);
  }
  return pe + rsrc;
}

TEST_F(BoardInfoTest, BoardInfoByBoardType) {
  struct Case {
    uint8_t type, bits;
    u32 version, channels;
    Strings reads;
  };
  const Case cases[] = {
      {1, 0x0, 80, 16, {"RP1"}},
      {1, 0x3, 80, 48, {"RP1"}},
      {3, 0x0, 14, 0, {"RP1", "RPE"}},
      {3, 0xF, 14, 64, {"RP1", "RPE"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << int(c.type) << "/" << int(c.bits));
    sim::Config config;
    config.board[0].type_code = c.type;
    config.board[0].module_bits = c.bits;
    config.board[0].pld_version = 14;
    sim::Reset(config);
    Load();
    u32 out[5] = {};
    sim::StartTrace();
    RVX406A_BoardInfo(0, &out[0], &out[1], &out[2], &out[3], &out[4]);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_EQ(Requests(sim::Trace()), c.reads);
    EXPECT_THAT(out, ElementsAre(196u, c.version, 4u, c.channels, c.channels));
    shared().log_level = 2;
    ClearLog();
    RVX406A_BoardInfo(1, &out[0], &out[1], &out[2], &out[3], &out[4]);
    EXPECT_THAT(out, ElementsAre(0u, 0u, 0u, 0u, 0u));
    EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =  -410 : RVX406A_BoardInfo (1, 0, 0, 0, 0, 0)"));
    RVX406A_UnloadDevice();
  }
}

TEST_F(BoardInfoTest, BoardFacts) {
  sim::Config config;
  config.board[0].board_id = 0xA7;
  config.board[0].module_bits = 0x1;
  sim::Reset(config);
  Load();
  sim::StartTrace();
  EXPECT_EQ(RVX406A_GetDiNum(0), 32);
  EXPECT_EQ(RVX406A_GetDoNum(0), 32);
  EXPECT_THAT(sim::Trace(), IsEmpty());  // from the board record
  EXPECT_EQ(RVX406A_GetBoardID(0), 0xA7);
  sim::SetPld(0, pld::kBoardId, 0x3C);
  EXPECT_EQ(RVX406A_GetBoardID(0), 0x3C);  // read at every call
  EXPECT_EQ(RVX406A_GetAxisNum(0), 4);
  EXPECT_EQ(Requests(sim::Trace()), (Strings{"RP2", "RP2", "RP1"}));

  shared().log_level = 2;
  ClearLog();
  sim::SetPld(0, pld::kIdentity, 0x21);  // type code 2
  EXPECT_EQ(RVX406A_GetAxisNum(0), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_HW_TYPE);
  EXPECT_EQ(RVX406A_GetDoNum(3), 0);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_BOARD_NUMBER);
  EXPECT_THAT(LoggedCalls(), ElementsAre(" RV =    -7 : RVX406A_GetAxisNum (0, 0)",
                                         " RV =  -410 : RVX406A_GetDoNum (3, 0)"));
}

TEST_F(BoardInfoTest, DllVersionFromTheFileVersionString) {
  const std::string path = install_dir_ + "module.dll";
  WriteFile(path, VersionedPe(u"041204B0", u"2, 0, 1, 15"));
  EXPECT_EQ(RVX406A_GetDllVersion(path.c_str()), 0u);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);

  const std::pair<std::string, u32> cases[] = {
      {VersionedPe(u"041204B0", u"2, 0, 1, 15"), 2000115},
      {VersionedPe(u"041204B0", u"  3,   10, 20,99"), 3102099},
      {VersionedPe(u"041204B0", u"1, 2, 3, 4, 5"), 1020304},  // a fifth piece is ignored
      {VersionedPe(u"041204B0", u"2, 1"), 2010000},           // missing pieces count as 0
      {VersionedPe(u"041204B0", u"beta"), 0},
      {VersionedPe(u"040904B0", u"2, 0, 1, 15"), 0},  // another language only
      {"MZ without a version resource", 0},
      {"", 0},  // no file
  };
  Load();
  for (const auto& [contents, version] : cases) {
    SCOPED_TRACE(version);
    unlink(path.c_str());
    if (!contents.empty()) WriteFile(path, contents);
    process().last_result = -1;
    EXPECT_EQ(RVX406A_GetDllVersion(path.c_str()), version);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
  }
}

TEST_F(BoardInfoTest, LogCheckSetsTheLevelAndAlwaysLogsItself) {
  struct Case {
    u32 before;
    u16 level;
    u32 after;
    const char* line;
  };
  const Case cases[] = {
      {3, 0, 0, " RV =     0 : RVX406A_LogCheck (0)"},
      {0, 0, 0, " RV =     0 : RVX406A_LogCheck (0)"},
      {0, 3, 3, " RV =     0 : RVX406A_LogCheck (3)"},
      {2, 4, 2, " RV =  -300 : RVX406A_LogCheck (4)"},
      {0, 65535, 0, " RV =  -300 : RVX406A_LogCheck (65535)"},
  };
  RVX406A_LogCheck(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.line);
    shared().log_level = c.before;
    ClearLog();
    RVX406A_LogCheck(c.level);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.after == c.level ? ERR_SUCCESS : ERR_INVALID_PARAMETER);
    EXPECT_EQ(shared().log_level, c.after);
    EXPECT_THAT(LoggedCalls(), ElementsAre(c.line));
  }
}

TEST_F(BoardInfoTest, BlockModeIsOneSharedFlag) {
  struct Case {
    u16 before, mode;
    u32 level;
    u16 after;
    Strings lines;
  };
  const Case cases[] = {
      {0, 1, 3, 1, {" RV =     0 : RVX406A_SetBlockMode (1)"}}, {1, 0, 2, 0, {}},
      {1, 2, 2, 1, {" RV =  -300 : RVX406A_SetBlockMode (1)"}},  // the mode kept
      {0, 2, 4, 0, {" RV =  -300 : RVX406A_SetBlockMode (0)"}}, {1, 2, 1, 1, {}},
  };
  RVX406A_SetBlockMode(1);
  EXPECT_EQ(RVX406A_GetErrorCode(), ERR_DEVICE_LOAD);
  EXPECT_EQ(RVX406A_GetBlockMode(), 0);
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.mode << " at level " << c.level);
    shared().block_mode = c.before;
    shared().log_level = c.level;
    ClearLog();
    sim::StartTrace();
    RVX406A_SetBlockMode(c.mode);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.mode <= 1 ? ERR_SUCCESS : ERR_INVALID_PARAMETER);
    EXPECT_EQ(LoggedCalls(), c.lines);
    EXPECT_EQ(RVX406A_GetBlockMode(), c.after);
    EXPECT_EQ(RVX406A_GetErrorCode(), ERR_SUCCESS);
    EXPECT_THAT(sim::Trace(), IsEmpty());
  }
}

TEST_F(BoardInfoTest, SaveFileLogsAtLevelsTwoAndThreeWhateverTheResult) {
  struct Case {
    u32 level;
    u16 board;
    bool writable;
    const char* line;
  };
  const Case cases[] = {
      {0, 0, true, nullptr},
      {1, 4, true, nullptr},
      {2, 0, true, " RV =     0 : RVX406A_SaveFile (0)"},
      {2, 0, false, " RV =     0 : RVX406A_SaveFile (0)"},  // the save itself fails
      {3, 4, true, " RV =  -410 : RVX406A_SaveFile (4)"},
      {4, 0, true, nullptr},
  };
  Load();
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.level << "/" << c.board << "/" << c.writable);
    std::filesystem::remove_all(ParameterPath(0));
    // A directory in the file's place makes every write fail.
    if (!c.writable) std::filesystem::create_directory(ParameterPath(0));
    shared().log_level = c.level;
    axis_block(0, 2).range = 321;
    ClearLog();
    RVX406A_SaveFile(c.board);
    EXPECT_EQ(RVX406A_GetErrorCode(), c.board == 0 ? ERR_SUCCESS : ERR_BOARD_NUMBER);
    EXPECT_EQ(LoggedCalls(), c.line ? Strings{c.line} : Strings{});
    const bool saved = c.board == 0 && c.writable;
    EXPECT_EQ(ReadFile(ParameterPath(0)).find("RANGE=321") != std::string::npos, saved);
  }
  std::filesystem::remove_all(ParameterPath(0));
}

}  // namespace
}  // namespace rvx::test
