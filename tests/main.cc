#include "tests/support.h"

int main(int argc, char** argv) {
  rvx::test::RunChildFromCommandLine(argc, argv);  // a child ends there
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
