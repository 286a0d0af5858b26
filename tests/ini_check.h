// A property of the INI parser for any input, shared by the generated-file
// test and the libFuzzer target.
#ifndef RVX_TESTS_INI_CHECK_H_
#define RVX_TESTS_INI_CHECK_H_

#include <string>
#include <string_view>

namespace rvx::test {

// "" when every key of `text` reads as a plain line-by-line reading gives it,
// also after any one key is rewritten; otherwise what went wrong.
std::string CheckIniText(std::string_view text);

}  // namespace rvx::test

#endif  // RVX_TESTS_INI_CHECK_H_
