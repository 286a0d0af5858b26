// The parsed INI text against the system's profile functions: every read and
// every write must give what key-by-key access to the file gives.
#include "platform/ini_document.h"

#include <random>

#include "tests/ini_check.h"
#include "tests/support.h"

namespace rvx::test {
namespace {

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
  const std::pair<const char*, const char*> probes[] = {{"A", "x"}, {"a", "X"}, {"A", "y"},
                                                        {"B", "x"}, {"b", "z"}, {"C", "x"},
                                                        {"", "x"},  {"A", ""},  {" A ", "x "}};
  const std::string dir = MakeTempDir(), path = dir + "t.ini";
  for (const char* text : files) {
    for (const auto& [section, key] : probes) {
      for (const char* value : {static_cast<const char*>(nullptr), "99", "-1", ""}) {
        if (value != nullptr && (*section == '\0' || *key == '\0')) continue;
        os::IniDocument doc(text);
        WriteFile(path, text);
        if (value != nullptr) {  // else only read
          doc.Set(section, key, value);
          ASSERT_TRUE(os::WriteIniString(section, key, value, path.c_str()));
        }
        const os::IniDocument reread(value != nullptr ? doc.Text() : std::string(text));
        for (const auto& [s, k] : probes) {
          EXPECT_EQ(reread.Int(s, k, -55), os::ReadIniInt(s, k, -55, path.c_str()))
              << "file \"" << text << "\" [" << section << "] " << key << " = "
              << (value != nullptr ? value : "(none)") << ", then [" << s << "] " << k;
        }
      }
    }
  }
  RemoveTree(dir);
}

TEST(IniDocumentTest, GeneratedFilesAgreeWithAPlainReading) {
  const char* const pieces[] = {"[", "]", "=", " ",  "\t", "a",          "A",  "x",
                                "-", "+", "7", "42", ";",  "4294967297", "\r", "\xC4"};
  std::mt19937 random(406);
  for (int n = 0; n < 3000; ++n) {
    std::string text;
    for (int i = static_cast<int>(random() % 80); i > 0; --i) {
      text += random() % 5 == 0 ? "\n" : pieces[random() % std::size(pieces)];
    }
    ASSERT_EQ(CheckIniText(text), "") << "case " << n << ": \"" << text << "\"";
  }
}

}  // namespace
}  // namespace rvx::test
