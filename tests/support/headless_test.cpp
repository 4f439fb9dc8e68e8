#include "headless_test.h"

#include <string>

#include "send_guard.h"

namespace {

void FailTest(const std::string& what) {
  ADD_FAILURE() << "headless backend: " << what;
}

}  // namespace

void HeadlessTest::SetUp() {
  tk::headless::Reset();
  tk::headless::SetFailureHandler(FailTest);
  testguard::Install();
}

void HeadlessTest::TearDown() {
  const std::string left = tk::headless::Leftovers();
  EXPECT_TRUE(left.empty()) << "left behind by the test:\n" << left;
  tk::headless::Reset();
}

ScopedFailureCapture::ScopedFailureCapture() : m_failures(std::make_shared<std::vector<std::string>>()) {
  auto failures = m_failures;
  tk::headless::SetFailureHandler([failures](const std::string& what) { failures->push_back(what); });
}

ScopedFailureCapture::~ScopedFailureCapture() {
  tk::headless::SetFailureHandler(FailTest);
}
