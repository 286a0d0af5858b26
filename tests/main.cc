#include <gtest/gtest.h>

#include "tests/support.h"

int main(int argc, char** argv) {
  const int child = rvx::test::RunChildFromCommandLine(argc, argv);
  if (child >= 0) return child;
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
