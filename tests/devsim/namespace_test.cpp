// The simulator keeps its sockets in the network namespace it was created in,
// even when a test that plays the PC side calls it from another namespace.
#include <gtest/gtest.h>

#include <memory>

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

}  // namespace
}  // namespace devsim
