// The parsed INI text against the system's profile functions: every read and
// every write must give what key-by-key access to the file gives.
#include "platform/ini_document.h"

#include <gtest/gtest.h>

#include <random>

#include "platform/platform.h"
#include "tests/ini_check.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

struct Probe {
  const char* section;
  const char* key;
};
constexpr Probe kProbes[] = {{"A", "x"}, {"a", "X"}, {"A", "y"}, {"B", "x"},   {"b", "z"},
                             {"C", "x"}, {"", "x"},  {"A", ""},  {" A ", "x "}};

std::string Describe(const char* text, const Probe& probe) {
  return std::string("file \"") + text + "\" [" + probe.section + "] " + probe.key;
}

TEST(IniDocumentTest, ReadsAndWritesAsTheProfileFunctions) {
  const char* const files[] = {
      "",
      "[A]\r\nx=1\r\ny=2\r\n",
      "[a]\nX = 12abc\ny=\n[B]\nx=-7\n",
      "x=5\n[A]\n  x  =  +42  \n[A]\nx=9\ny=3\n",
      "; note\r\n[A]\r\n;x=4\r\nunknown line\r\n\r\n[B]\r\nz=4294967297\r\n\r\n",
      "[A]\r\ny=1\r\n\r\n\r\n[C]\r\nx=-2147483649\r\n",
      "[ A ]\r\nx=7\r\n[B\r\nx=8\r\n[C]x=1\r\n",
      "[A]\r\nx=1",
  };
  const char* const values[] = {"99", "-1", ""};
  const std::string dir = MakeTempDir();
  ASSERT_FALSE(dir.empty());
  const std::string path = dir + "t.ini";
  for (const char* text : files) {
    const os::IniDocument parsed(text);
    for (const Probe& probe : kProbes) {
      WriteFile(path, text);
      EXPECT_EQ(parsed.Int(probe.section, probe.key, -55),
                os::ReadIniInt(probe.section, probe.key, -55, path.c_str()))
          << Describe(text, probe);
      if (*probe.section == '\0' || *probe.key == '\0') continue;
      for (const char* value : values) {
        os::IniDocument changed(text);
        changed.Set(probe.section, probe.key, value);
        WriteFile(path, text);
        ASSERT_TRUE(os::WriteIniString(probe.section, probe.key, value, path.c_str()));
        const os::IniDocument rewritten(changed.Text());
        for (const Probe& after : kProbes) {
          EXPECT_EQ(rewritten.Int(after.section, after.key, -55),
                    os::ReadIniInt(after.section, after.key, -55, path.c_str()))
              << Describe(text, probe) << " = " << value << ", then [" << after.section << "] "
              << after.key;
        }
      }
    }
  }
  RemoveTree(dir);
}

// Files built from fragments a parameter file has, then mutated byte by byte.
TEST(IniDocumentTest, GeneratedFilesAgreeWithAPlainReading) {
  const char* const fragments[] = {"[0-AXIS]",
                                   "[ 0-axis ]",
                                   "[DIGITAL]",
                                   "[]",
                                   "[",
                                   "]",
                                   "RANGE=100",
                                   "range = -5abc",
                                   "MULTIPLE=4294967297",
                                   "+SOFTLIMIT=1073741823.000000",
                                   "=3",
                                   "KEY=",
                                   "; comment",
                                   "x",
                                   "  ",
                                   "\t[PLD_BANK]\t",
                                   "[A]b=1",
                                   "MCX_WR1=+65535",
                                   "a=b=c",
                                   "\r",
                                   "[x]]=1"};
  std::mt19937 random(406);
  std::string previous;
  for (int n = 0; n < 2000; ++n) {
    std::string text;
    if (n % 2 == 1) {
      text = previous;
      const char alphabet[] = "[]=\r\n\t ;-+09aZ";
      for (int edits = 1 + static_cast<int>(random() % 4); edits > 0 && !text.empty(); --edits) {
        const size_t at = random() % text.size();
        const char c = random() % 8 == 0 ? static_cast<char>(random() % 256)
                                         : alphabet[random() % (sizeof alphabet - 1)];
        switch (random() % 3) {
          case 0:
            text[at] = c;
            break;
          case 1:
            text.insert(at, 1, c);
            break;
          default:
            text.erase(at, 1);
        }
      }
    } else {
      for (int lines = static_cast<int>(random() % 24); lines > 0; --lines) {
        text += fragments[random() % (sizeof fragments / sizeof *fragments)];
        text += random() % 4 == 0 ? "\n" : "\r\n";
      }
    }
    ASSERT_EQ(CheckIniText(text), "") << "case " << n << ": \"" << text << "\"";
    previous = text;
  }
}

}  // namespace
}  // namespace rvx::test
