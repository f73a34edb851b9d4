// main() of every test executable: points the tests at the source tree and
// the folder of built binaries (unless the caller already did), then runs
// GoogleTest.
#include <gtest/gtest.h>

#include <cstdlib>

int main(int argc, char** argv) {
  setenv("QVD_SOURCE_DIR", QVD_TEST_SOURCE_DIR, 0);
  setenv("QVD_BIN_DIR", QVD_TEST_BIN_DIR, 0);
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
