#include "ctl_fixture.h"

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

extern char** environ;

namespace ctltest {

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void WriteText(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

std::size_t Count(const std::string& text, const std::string& what) {
  std::size_t n = 0;
  for (auto at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

void CtlTest::SetUp() {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root for network namespaces";
}

void CtlTest::TearDown() {
  for (const pid_t pid : m_sims) {
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
  }
  for (const auto& f : m_files) std::remove(f.c_str());
}

std::string CtlTest::File(const std::string& name) {
  m_files.push_back("/tmp/corvanectl-test-" + std::to_string(::getpid()) + "-" + name);
  return m_files.back();
}

std::string CtlTest::StartDevsim(const testnet::Namespace& ns, const std::string& devices,
                                 const std::string& site) {
  const std::string config = File(ns.name() + ".json");
  const std::string log = File(ns.name() + ".log");
  WriteText(config, R"({"devices": [)" + devices + "]" + (site.empty() ? "" : R"(, "site": )" + site) + "}");
  // timeout: devsim goes even when the test dies before TearDown.
  const std::string line = "exec ip netns exec " + ns.name() +
                           " timeout -k 2 300 " DEVSIM_PROGRAM " --config " + config + " >" + log + " 2>&1";
  const char* argv[] = {"sh", "-c", line.c_str(), nullptr};
  pid_t pid = -1;
  if (posix_spawn(&pid, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) == 0) {
    m_sims.push_back(pid);
  }
  // devsim says "ready" once every device's sockets are bound.
  bool ready = false;
  for (int i = 0; i < 100 && !(ready = Count(ReadText(log), "ready") > 0); ++i) ::usleep(50'000);
  // A fatal failure: a fixture's SetUp that meets it skips the test's body.
  if (!ready) [&] { FAIL() << "devsim in " << ns.name() << " did not start:\n" << ReadText(log); }();
  return log;
}

Result CtlTest::Ctl(const testnet::Namespace& ns, const std::string& args) {
  const std::string err = File("stderr.log");
  // timeout: a program that hangs fails its test instead of the whole run.
  const std::string command = "ip netns exec " + ns.name() + " timeout -k 2 100 " CORVANECTL_PROGRAM " " +
                              args + " </dev/null 2>" + err;
  Result run;
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return run;
  char buffer[4096];
  for (std::size_t n; (n = std::fread(buffer, 1, sizeof buffer, p)) > 0;) run.out.append(buffer, n);
  const int status = ::pclose(p);
  run.code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = ReadText(err);
  return run;
}

void CtlOnPair::StartPair(const std::vector<std::string>& addresses, const std::string& devices,
                          const std::string& site) {
  net.emplace(addresses);
  ASSERT_TRUE(net->ok()) << net->error();
  log = StartDevsim(net->dev, devices, site);
}

}  // namespace ctltest
