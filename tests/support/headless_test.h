// The GoogleTest fixture for tests on the headless toolkit backend.
//
// SetUp resets the backend, turns every unexpected event it reports (a
// message box or modal dialog nobody answered, a dialog left open, a click on a
// disabled control, ...) into a test failure, and puts the send guard
// (send_guard.h) in front of every socket send. TearDown fails the test when it
// left anything behind (open windows, live timers, open sockets, unused
// scripted answers) and resets the backend again, so tests never see each
// other's state.
#pragma once

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "tk/headless.h"

class HeadlessTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;
};

// For tests of the failures themselves: while it lives, the backend's failure
// reports are collected instead of failing the test; the fixture's handler is
// restored when it goes out of scope.
class ScopedFailureCapture {
 public:
  ScopedFailureCapture();
  ~ScopedFailureCapture();
  ScopedFailureCapture(const ScopedFailureCapture&) = delete;
  ScopedFailureCapture& operator=(const ScopedFailureCapture&) = delete;
  const std::vector<std::string>& Failures() const { return *m_failures; }

 private:
  std::shared_ptr<std::vector<std::string>> m_failures;
};
