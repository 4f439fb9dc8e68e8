// The send guard refuses a datagram for the machine's real network on every
// send path of the tests, fails the test, and sends nothing; loopback and a
// namespace of the test's own pass. The refusals are tried inside a private
// namespace that the guard is told to treat as the machine's own, so that even
// a broken guard could not let anything out.
#include "send_guard.h"

#include <arpa/inet.h>
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "devsim/simulator.h"
#include "headless_test.h"
#include "netns.h"
#include "tk/socket.h"

namespace {

constexpr int kWsaEAcces = 10013;
constexpr int kWsaENetUnreach = 10051;

unsigned BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  return ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) == 0 ? ntohs(a.sin_port) : 0;
}

unsigned BoundPort(const tk::BlockingUdpSocket& s) {
  std::string address;
  unsigned port = 0;
  return s.GetSockName(address, port) ? port : 0;
}

enum class Path { Toolkit, RawSocket, Simulator };

struct RefusalCase {
  const char* label;
  Path path;
  const char* destination;
};

class RefusedSend : public HeadlessTest, public ::testing::WithParamInterface<RefusalCase> {};

// A socket that was never bound is still unbound after the refusal: the
// datagram never reached the socket layer.
void ToolkitSend(const char* destination) {
  tk::BlockingUdpSocket s;
  ASSERT_TRUE(s.Open());
  int sent = 0;
  EXPECT_NONFATAL_FAILURE(sent = s.SendTo("x", 1, 25122, destination), "send refused");
  EXPECT_EQ(sent, tk::SOCKET_ERROR);
  EXPECT_EQ(s.GetLastError(), kWsaEAcces);
  EXPECT_EQ(BoundPort(s), 0u) << "nothing reached the socket";
}

void RawSend(const char* destination) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ASSERT_GE(fd, 0);
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(25122);
  to.sin_addr.s_addr = inet_addr(destination);
  ssize_t sent = 0;
  int error = 0;
  EXPECT_NONFATAL_FAILURE(
      {
        sent = testguard::GuardedSendTo(fd, "x", 1, 0, to);
        error = errno;
      },
      "send refused");
  EXPECT_EQ(sent, -1);
  EXPECT_EQ(error, EPERM);
  EXPECT_EQ(BoundPort(fd), 0u) << "nothing reached the socket";
  ::close(fd);
}

// A device in its boot loader broadcasts BOOTP to its boot network.
void SimulatorSend(const char* destination) {
  devsim::SimulatorOptions o;
  o.unicastPort = 0;
  o.bootpClientPort = 0;
  o.listenBroadcast = o.listenMulticast = false;
  devsim::Simulator sim(o);
  devsim::DeviceConfig c;
  c.record.name = "guarded";
  c.record.mac = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x77};
  c.address = "127.0.0.1";
  c.timings.bootLoaderDelayMs = 0;
  c.bootNetwork.broadcastAddress = destination;
  ASSERT_TRUE(sim.AddDevice(c));
  std::string upgrade(73, '\0');
  std::memcpy(upgrade.data(), "MORKELAN", 8);
  upgrade[8] = 0x05;
  std::memcpy(upgrade.data() + 26, c.record.mac.data(), 6);
  tk::BlockingUdpSocket pc;
  ASSERT_TRUE(pc.Open());
  ASSERT_EQ(pc.SendTo(upgrade.data(), 73, sim.UnicastPort(0), "127.0.0.1"), 73);
  EXPECT_NONFATAL_FAILURE(sim.PollUntil([&] { return sim.LogContains("refused by the send guard"); }, 2000),
                          "send refused");
  EXPECT_TRUE(sim.LogContains("refused by the send guard"));
}

TEST_P(RefusedSend, FailsTheTestAndSendsNothing) {
  testnet::Namespace ns("guard");
  if (!ns.ok()) GTEST_SKIP() << ns.error();
  testnet::Enter inside(ns);
  ASSERT_TRUE(inside.ok());
  testguard::ScopedStartNamespace treatedAsTheMachines;
  const RefusalCase& c = GetParam();
  switch (c.path) {
    case Path::Toolkit:
      ToolkitSend(c.destination);
      break;
    case Path::RawSocket:
      RawSend(c.destination);
      break;
    case Path::Simulator:
      SimulatorSend(c.destination);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(SendGuard, RefusedSend,
                         ::testing::Values(RefusalCase{"ToolkitBroadcast", Path::Toolkit, "255.255.255.255"},
                                           RefusalCase{"ToolkitMulticast", Path::Toolkit, "225.1.2.3"},
                                           RefusalCase{"ToolkitUnicast", Path::Toolkit, "198.51.100.1"},
                                           RefusalCase{"RawBroadcast", Path::RawSocket, "255.255.255.255"},
                                           RefusalCase{"RawUnicast", Path::RawSocket, "198.51.100.1"},
                                           RefusalCase{"SimulatorBootp", Path::Simulator, "255.255.255.255"}),
                         [](const auto& info) { return std::string(info.param.label); });

class SendGuardHere : public HeadlessTest {};

// Runs without root too: 0.0.0.0 is delivered locally even if it were sent.
TEST_F(SendGuardHere, RefusesAnythingButLoopbackFromTheMachinesOwnNamespace) {
  ToolkitSend("0.0.0.0");
}

TEST_F(SendGuardHere, LetsLoopbackAndANamespaceOfTheTestsOwnThrough) {
  tk::BlockingUdpSocket local;
  ASSERT_TRUE(local.Open());
  EXPECT_EQ(local.SendTo("x", 1, 9, "127.0.0.1"), 1);
  EXPECT_NE(BoundPort(local), 0u) << "the probe sees a send that happened";

  testnet::Namespace ns("guard");
  if (!ns.ok()) GTEST_SKIP() << ns.error();
  testnet::Enter inside(ns);
  ASSERT_TRUE(inside.ok());
  tk::BlockingUdpSocket own;
  ASSERT_TRUE(own.Open());
  // Only loopback in there: the kernel, not the guard, turns it down.
  EXPECT_EQ(own.SendTo("x", 1, 9, "198.51.100.1"), tk::SOCKET_ERROR);
  EXPECT_EQ(own.GetLastError(), kWsaENetUnreach);
}

}  // namespace
