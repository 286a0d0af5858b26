// libFuzzer entry: any bytes as a parameter file.
#include <cstdio>
#include <cstdlib>
#include <string>

#include "tests/ini_check.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string problem =
      rvx::test::CheckIniText(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!problem.empty()) {
    fprintf(stderr, "%s\n", problem.c_str());
    abort();
  }
  return 0;
}
