// The entry point of the native test programs that link tk_test_support and do
// not define their own (a static library member: used only when needed). The
// send guard watches every test of the program, fixture or not.
#include <gtest/gtest.h>

#include "send_guard.h"

int main(int argc, char** argv) {
  ::testing::InitGoogleTest(&argc, argv);
  testguard::Install();
  return RUN_ALL_TESTS();
}
