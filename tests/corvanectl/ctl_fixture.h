// corvanectl run as a user runs it: the program started in a network namespace
// of the test's own, devsim's devices as a program in the namespace across a
// veth pair. Without root (no namespaces) SetUp skips the test.
#pragma once

#include <gtest/gtest.h>
#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <vector>

#include "netns.h"

namespace ctltest {

std::string ReadText(const std::string& path);
void WriteText(const std::string& path, const std::string& text);
// How often `what` stands in `text`.
std::size_t Count(const std::string& text, const std::string& what);

struct Result {
  int code = -1;
  std::string out;
  std::string err;
};

// The programs, the files the test writes and the namespaces it makes itself.
class CtlTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // A file in /tmp named for this process, removed after the test.
  std::string File(const std::string& name);
  // devsim with `devices` (JSON objects, comma-separated) in `ns`, once it says
  // it is ready; the path of its log. Not ready within 5 s fails the test.
  // `site`: devsim's generated site beside the listed devices, when given.
  std::string StartDevsim(const testnet::Namespace& ns, const std::string& devices,
                          const std::string& site = {});
  // The program in `ns` with `args`, its input not a terminal: exit code,
  // standard output and standard error.
  Result Ctl(const testnet::Namespace& ns, const std::string& args);

 private:
  std::vector<pid_t> m_sims;
  std::vector<std::string> m_files;
};

// One "pc" and "dev" pair, devsim's devices at `addresses` in "dev".
class CtlOnPair : public CtlTest {
 protected:
  // Call from SetUp: makes the pair and starts devsim in it.
  void StartPair(const std::vector<std::string>& addresses, const std::string& devices,
                 const std::string& site = {});
  using CtlTest::Ctl;
  // The program in the PC namespace.
  Result Ctl(const std::string& args) { return Ctl(net->pc, args); }

  std::optional<testnet::PcDevNetwork> net;
  std::string log;  // devsim's
};

}  // namespace ctltest
