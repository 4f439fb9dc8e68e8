// The simulator keeps its sockets in the network namespace it was created in,
// even when a test that plays the PC side calls it from another namespace.
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <string>

#include "devsim/simulator.h"
#include "netns.h"
#include "udp_peer.h"

namespace devsim {
namespace {

using devsim_test::UdpPeer;

TEST(SimulatorNamespace, SocketsOpenedFromAnotherNamespaceStayInTheSimulatorsOwn) {
  testnet::Namespace ns("simns");
  if (!ns.ok()) GTEST_SKIP() << ns.error();
  std::unique_ptr<Simulator> sim;
  {
    testnet::Enter inside(ns);
    ASSERT_TRUE(inside.ok());
    SimulatorOptions o;
    o.listenBroadcast = false;
    o.listenMulticast = false;
    o.unicastPort = 0;
    sim = std::make_unique<Simulator>(o);
  }
  // Back in the test's own namespace: the device's sockets are opened here.
  DeviceConfig c;
  c.record.name = "ns-dev";
  c.record.mac = {0x02, 0x00, 0x5E, 0x00, 0x00, 0x31};
  c.address = "127.0.0.1";
  std::string error;
  ASSERT_TRUE(sim->AddDevice(c, &error)) << error;

  testnet::Enter inside(ns);
  ASSERT_TRUE(inside.ok());
  UdpPeer pc;
  ASSERT_TRUE(pc.ok());
  ASSERT_TRUE(pc.Send({'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N', 0x00}, "127.0.0.1", sim->UnicastPort(0)));
  ASSERT_TRUE(sim->PollUntil([&] { return sim->LogContains("answered code 1"); }, 2000))
      << "the device never saw the search sent inside its namespace";
  const auto reply = pc.Receive(2000);
  ASSERT_TRUE(reply.has_value());
  EXPECT_EQ(reply->bytes.size(), 73u);
}

// Every device listens on the shared search ports, but a datagram sent to one
// device's own address is that device's alone; broadcasts and the multicast
// group reach all of them.
TEST(SimulatorNamespace, SearchPortsAnswerOnlyForTheAddressTheyWereSentTo) {
  const std::vector<std::string> addresses = {"198.51.100.10", "198.51.100.11", "198.51.100.12"};
  testnet::PcDevNetwork net(addresses);
  if (!net.ok()) GTEST_SKIP() << net.error();
  std::unique_ptr<Simulator> sim;
  {
    testnet::Enter inside(net.dev);
    ASSERT_TRUE(inside.ok());
    sim = std::make_unique<Simulator>();
  }
  for (std::size_t i = 0; i < addresses.size(); ++i) {
    DeviceConfig c;
    c.record.name = "dev-" + std::to_string(i);
    c.record.mac = {0x02, 0x00, 0x5E, 0x00, 0x01, static_cast<std::uint8_t>(i)};
    c.record.netmask = 0xFFFFFF00;
    c.address = addresses[i];
    std::string error;
    ASSERT_TRUE(sim->AddDevice(c, &error)) << error;
  }
  sim->Start();

  testnet::Enter pc(net.pc);
  ASSERT_TRUE(pc.ok());
  UdpPeer peer("0.0.0.0");
  ASSERT_TRUE(peer.ok());
  const std::set<std::string> all(addresses.begin(), addresses.end());
  struct Case {
    const char* to;
    unsigned port;
    std::set<std::string> answering;
  };
  const Case cases[] = {
      {"198.51.100.11", 25122, {"198.51.100.11"}},
      {"198.51.100.10", 25122, {"198.51.100.10"}},
      {"198.51.100.12", 25123, {"198.51.100.12"}},
      {"198.51.100.99", 25122, {}},
      {"255.255.255.255", 25122, all},
      {"198.51.100.255", 25122, all},
      {"225.1.2.3", 25123, all},
  };
  for (const Case& c : cases) {
    ASSERT_TRUE(peer.Send({'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N', 0x00}, c.to, c.port));
    std::set<std::string> answering;
    while (const auto reply = peer.Receive(300)) answering.insert(reply->from);
    EXPECT_EQ(answering, c.answering) << "search sent to " << c.to << ":" << c.port;
  }
}

}  // namespace
}  // namespace devsim
