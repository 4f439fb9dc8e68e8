// The win32 backend's test program, run under Wine. Exits non-zero on failure.
#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace {
// Message boxes of the toolkit take this name as their caption.
tk::CWinApp g_app("tk_win32_tests");
}  // namespace

int main(int argc, char** argv) {
  testing::InitGoogleTest(&argc, argv);
  if (!tk::SocketsStartup(2, 2)) return 2;
  int result = RUN_ALL_TESTS();
  tk::SocketsCleanup();
  return result;
}
