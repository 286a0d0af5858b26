// Properties of the INI parser that hold for any input, shared by the
// generated-case test and the libFuzzer target.
#ifndef RVX_TESTS_INI_CHECK_H_
#define RVX_TESTS_INI_CHECK_H_

#include <string>
#include <string_view>

namespace rvx::test {

// "" when the parser agrees with a plain line-by-line reading of `text` on
// every key, and a write changes only its key; otherwise what went wrong.
std::string CheckIniText(std::string_view text);

}  // namespace rvx::test

#endif  // RVX_TESTS_INI_CHECK_H_
