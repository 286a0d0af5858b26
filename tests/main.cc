
#include <cstdio>
#include <cstdlib>

#include "tests/support.h"

int main(int argc, char** argv) {
  const int child = rvx::test::RunChildFromCommandLine(argc, argv);
  // A child stands in for another process and may end holding what it took,
  // as a killed one would: no exit handlers (nor a leak report) run.
  if (child >= 0) {
    fflush(nullptr);
    std::_Exit(child);
  }
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
