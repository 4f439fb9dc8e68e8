// The entry point of the native test programs that link tk_test_support and do
// not define their own (a static library member: used only when needed).
#include <gtest/gtest.h>

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  return RUN_ALL_TESTS();
}
