// The simulated devices over real sockets on loopback: their replies against
// the record layout (expected bytes written out here, field by field, without
// the shared encoder), the effect of set, restore and reboot, restarts, and
// the fault switches.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devsim/simulator.h"
#include "udp_peer.h"

namespace devsim {
namespace {

using devsim_test::Datagram;
using devsim_test::UdpPeer;
using Raw = std::vector<std::uint8_t>;

// Addresses of the simulated devices: each has its own loopback address.
constexpr const char* kDeviceA = "127.0.0.21";
constexpr const char* kDeviceB = "127.0.0.22";

DeviceConfig OnePortDevice() {
  DeviceConfig c;
  auto& r = c.record;
  r.name = "dev-a";
  r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
  r.staticIp = 0x7F000015;  // 127.0.0.21
  r.netmask = 0xFF000000;
  r.gateway = 0x7F000001;
  r.dns = 0x08080404;
  r.timeoutMinutes = 7;
  r.flags = corvane::protocol::kFlagAutoConnect;
  r.ports[0].dataPort = 4001;
  r.ports[0].lineA = 0x0B;
  r.ports[0].lineB = 0x48;
  r.ports[0].txTimerMs = 300;
  c.address = kDeviceA;
  c.timings.restartMs = 1000;
  c.timings.bootLoaderDelayMs = 0;
  return c;
}

DeviceConfig TwoPortDevice() {
  DeviceConfig c = OnePortDevice();
  auto& r = c.record;
  r.name = "dev-b";
  r.mac[5] = 0x20;
  r.dhcp = true;
  r.portCount = 2;
  r.ports[1].client = true;
  r.ports[1].udp = true;
  r.ports[1].tcp = false;
  r.ports[1].dataPort = 4002;
  r.ports[1].destIp = 0xC6336401;
  r.ports[1].destPort = 5000;
  r.ports[1].state = 1;
  r.ports[1].rs485 = true;
  c.address = kDeviceB;
  return c;
}

Raw SearchRequest() {
  return {'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N', 0x00};
}

// A named request (restore 0x08, reboot 0x0B, upgrade 0x05) for a MAC.
Raw NamedRequest(std::uint8_t code, std::uint8_t macLast) {
  Raw r(73, 0);
  std::memcpy(r.data(), "MORKELAN", 8);
  r[8] = code;
  const std::uint8_t mac[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, macLast};
  std::memcpy(r.data() + 26, mac, 6);
  return r;
}

// The expected reply of OnePortDevice, by offset.
Raw ExpectedOnePortReply(std::uint8_t code) {
  Raw e(73, 0);
  std::memcpy(e.data(), "MORKELAN", 8);
  e[8] = code;
  e[9] = 0x02;                             // auto connect
  std::memcpy(e.data() + 10, "dev-a", 5);  // name
  const std::uint8_t mac[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
  std::memcpy(e.data() + 26, mac, 6);
  e[32] = 0x04 | 0x02 | 0x01;                     // server, TCP, multicast + broadcast management
  e[33] = 7;                                      // timeout
  e[34] = 127, e[35] = 0, e[36] = 0, e[37] = 21;  // the address in use
  e[38] = 127, e[39] = 0, e[40] = 0, e[41] = 21;  // static
  e[42] = 0x0F, e[43] = 0xA1;                     // 4001
  e[54] = 255;                                    // netmask 255.0.0.0
  e[58] = 127, e[61] = 1;                         // gateway
  e[62] = 8, e[63] = 8, e[64] = 4, e[65] = 4;     // DNS
  e[66] = 0x0B, e[67] = 0x48;
  e[70] = 0x01, e[71] = 0x2C;  // 300 ms
  return e;
}

void ExpectSameBytes(const Raw& expected, const Raw& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i)
    ASSERT_EQ(expected[i], actual[i]) << "first difference at offset " << i;
}

class SimulatorTest : public ::testing::Test {
 protected:
  std::uint64_t clockMs = 1000;
  Simulator sim{Options()};
  UdpPeer pc;

  SimulatorOptions Options() {
    SimulatorOptions o;
    o.unicastPort = 0;  // loopback tests stay off the protocol's fixed ports
    o.listenBroadcast = false;
    o.listenMulticast = false;
    o.clock = [this] { return clockMs; };
    return o;
  }

  void Add(const DeviceConfig& c) {
    std::string error;
    ASSERT_TRUE(sim.AddDevice(c, &error)) << error;
  }

  // Sends to device `index` and returns its first answer, if any arrives
  // within a bounded number of rounds.
  std::optional<Datagram> Ask(int index, const Raw& request, int rounds = 20) {
    EXPECT_TRUE(pc.Send(request, sim.Address(index), sim.UnicastPort(index)));
    return Collect(rounds);
  }

  std::optional<Datagram> Collect(int rounds = 20) {
    for (int i = 0; i < rounds; ++i) {
      sim.Poll(10);
      if (auto d = pc.Receive(5)) return d;
    }
    return std::nullopt;
  }

  void Advance(std::uint64_t ms) {
    clockMs += ms;
    sim.Poll(0);
  }
};

// ---- replies against the layout ----------------------------------------------------------

TEST_F(SimulatorTest, SearchReplyOfAOnePortDeviceMatchesTheLayout) {
  Add(OnePortDevice());
  auto reply = Ask(0, SearchRequest());
  ASSERT_TRUE(reply);
  ExpectSameBytes(ExpectedOnePortReply(0x01), reply->bytes);
  EXPECT_EQ(reply->from, kDeviceA) << "a device answers from its own address";
}

TEST_F(SimulatorTest, SearchReplyOfATwoPortDeviceCarriesTheSecondSection) {
  Add(TwoPortDevice());
  auto reply = Ask(0, SearchRequest());
  ASSERT_TRUE(reply);
  const Raw& b = reply->bytes;
  ASSERT_EQ(b.size(), 98u);
  EXPECT_EQ(b[32] & 0x40, 0x40) << "DHCP lives at offset 32 only";
  EXPECT_EQ(std::string(b.begin() + 73, b.begin() + 81), "MORKELAN");
  EXPECT_EQ(b[81], 0x80 | 0x08) << "port 2: client, UDP";
  EXPECT_EQ(b[83], 0x0F);
  EXPECT_EQ(b[84], 0xA2);
  EXPECT_EQ(Raw(b.begin() + 85, b.begin() + 89), (Raw{198, 51, 100, 1}));
  EXPECT_EQ(b[89], 0x13);
  EXPECT_EQ(b[90], 0x88);
  EXPECT_EQ(b[94], 1) << "port 2 connected";
  EXPECT_EQ(b[97], 0x01) << "RS485";
  EXPECT_EQ(b[69], 0) << "port 1 idle";
}

TEST_F(SimulatorTest, SeveralDevicesAnswerEachFromItsOwnAddress) {
  Add(OnePortDevice());
  Add(TwoPortDevice());
  auto a = Ask(0, SearchRequest());
  auto b = Ask(1, SearchRequest());
  ASSERT_TRUE(a && b);
  EXPECT_EQ(a->from, kDeviceA);
  EXPECT_EQ(b->from, kDeviceB);
  EXPECT_EQ(b->bytes[31], 0x20);
}

// ---- set, restore, reboot -----------------------------------------------------------------

TEST_F(SimulatorTest, SetIsAppliedAnsweredWithCode3AndFollowedBySilenceUntilTheRestartEnds) {
  Add(OnePortDevice());
  Raw set = ExpectedOnePortReply(0x02);
  set[9] = 0x01;  // write request, auto connect off
  std::memset(set.data() + 10, 0, 16);
  std::memcpy(set.data() + 10, "renamed", 7);
  set[32] = 0x80 | 0x08;           // client, UDP, no management bits
  set[52] = 0x01, set[53] = 0xF6;  // destination port 502
  auto reply = Ask(0, set);
  ASSERT_TRUE(reply);
  Raw expected = ExpectedOnePortReply(0x03);
  expected[9] = 0x00;
  std::memset(expected.data() + 10, 0, 16);
  std::memcpy(expected.data() + 10, "renamed", 7);
  expected[32] = 0x80 | 0x08;
  expected[52] = 0x01, expected[53] = 0xF6;
  ExpectSameBytes(expected, reply->bytes);

  EXPECT_FALSE(Ask(0, SearchRequest(), 5)) << "silent while restarting";
  Advance(1000);
  auto after = Ask(0, SearchRequest());
  ASSERT_TRUE(after);
  EXPECT_EQ(std::string(after->bytes.begin() + 10, after->bytes.begin() + 17), "renamed");
  EXPECT_TRUE(sim.LogContains("restarting (settings written)"));
}

TEST_F(SimulatorTest, IgnoreSetFaultAcknowledgesAndRestartsButKeepsTheSettings) {
  DeviceConfig c = OnePortDevice();
  c.faults.ignoreSet = true;
  Add(c);
  Raw set = ExpectedOnePortReply(0x02);
  set[9] = 0x01;
  std::memcpy(set.data() + 10, "renamed", 7);
  auto reply = Ask(0, set);
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes[8], 0x03);
  Advance(1000);
  auto after = Ask(0, SearchRequest());
  ASSERT_TRUE(after);
  EXPECT_NE(std::string(after->bytes.begin() + 10, after->bytes.begin() + 17), "renamed");
  EXPECT_TRUE(sim.LogContains("restarting (settings written)"));
}

TEST_F(SimulatorTest, DropRepliesFaultLosesTheAcknowledgementButNotTheSettings) {
  DeviceConfig c = OnePortDevice();
  c.faults.dropReplies = {3};
  Add(c);
  Raw set = ExpectedOnePortReply(0x02);
  set[9] = 0x01;
  std::memcpy(set.data() + 10, "renamed", 7);
  EXPECT_FALSE(Ask(0, set, 5));
  Advance(1000);
  auto after = Ask(0, SearchRequest());
  ASSERT_TRUE(after) << "other replies still go out";
  EXPECT_EQ(std::string(after->bytes.begin() + 10, after->bytes.begin() + 17), "renamed");
}

TEST_F(SimulatorTest, ASetRequestIsLoggedInHexOnlyWhenAsked) {
  DeviceConfig quiet = OnePortDevice();
  DeviceConfig logging = TwoPortDevice();
  logging.logSetRequests = true;
  Add(quiet);
  Add(logging);
  Raw set = ExpectedOnePortReply(0x02);
  set[9] = 0x01;
  ASSERT_TRUE(Ask(0, set));
  EXPECT_FALSE(sim.LogContains("set request"));

  Raw two = NamedRequest(0x02, 0x20);
  two.resize(98, 0xA5);
  two[97] = 0x0F;
  ASSERT_TRUE(Ask(1, two));
  EXPECT_TRUE(sim.LogContains("set request 98 bytes: 4D 4F 52 4B 45 4C 41 4E 02 00 00"));
  EXPECT_TRUE(sim.LogContains(" 02 00 5E 01 A2 20 00 00 "));
  for (const auto& e : sim.Log()) {
    if (e.text.find("set request") != std::string::npos) {
      EXPECT_TRUE(e.text.ends_with(" A5 0F")) << "the last byte, nothing after it: " << e.text;
    }
  }
}

TEST_F(SimulatorTest, RestoreBringsBackTheFactorySettingsWithCode9) {
  Add(OnePortDevice());
  Raw set = ExpectedOnePortReply(0x02);
  set[33] = 30;
  ASSERT_TRUE(Ask(0, set));
  Advance(1000);
  auto restored = Ask(0, NamedRequest(0x08, 0x0F));
  ASSERT_TRUE(restored);
  ExpectSameBytes(ExpectedOnePortReply(0x09), restored->bytes);
  Advance(1000);
  auto after = Ask(0, SearchRequest());
  ASSERT_TRUE(after);
  EXPECT_EQ(after->bytes[33], 7);
}

TEST_F(SimulatorTest, RebootAnswersCode12AndRestarts) {
  Add(OnePortDevice());
  auto reply = Ask(0, NamedRequest(0x0B, 0x0F));
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes[8], 12);
  EXPECT_FALSE(Ask(0, SearchRequest(), 5));
  Advance(999);
  EXPECT_FALSE(Ask(0, SearchRequest(), 5)) << "still restarting 1 ms before the end";
  Advance(1);
  EXPECT_TRUE(Ask(0, SearchRequest()));
}

TEST_F(SimulatorTest, RequestsForAnotherMacAreIgnored) {
  Add(OnePortDevice());
  for (std::uint8_t code : {0x08, 0x0B, 0x05, 0x02}) {
    EXPECT_FALSE(Ask(0, NamedRequest(code, 0x99), 5)) << "code " << int(code);
  }
  EXPECT_TRUE(sim.LogContains("ignored: restore for another device"));
  EXPECT_TRUE(Ask(0, SearchRequest())) << "and the device did not restart";
}

TEST_F(SimulatorTest, GarbageIsLoggedAndIgnored) {
  Add(OnePortDevice());
  for (const Raw& junk :
       {Raw{}, Raw{'M', 'O', 'R'}, Raw{'M', 'O', 'R', 'K', 'E', 'L', 'A', 'X', 0}, Raw(300, 0xFF)})
    EXPECT_FALSE(Ask(0, junk, 3));
  EXPECT_TRUE(sim.LogContains("ignored: not a request"));
  Raw unknown = SearchRequest();
  unknown[8] = 0x07;
  EXPECT_FALSE(Ask(0, unknown, 3));
  EXPECT_TRUE(sim.LogContains("ignored: unknown command"));
}

// ---- faults --------------------------------------------------------------------------------

TEST_F(SimulatorTest, NoAnswerFault) {
  DeviceConfig c = OnePortDevice();
  c.faults.noAnswer = true;
  Add(c);
  EXPECT_FALSE(Ask(0, SearchRequest(), 5));
  EXPECT_TRUE(sim.LogContains("received 9 bytes by unicast"));
}

TEST_F(SimulatorTest, WrongMagicFault) {
  DeviceConfig c = OnePortDevice();
  c.faults.wrongMagic = true;
  Add(c);
  auto reply = Ask(0, SearchRequest());
  ASSERT_TRUE(reply);
  EXPECT_NE(std::string(reply->bytes.begin(), reply->bytes.begin() + 8), "MORKELAN");
}

TEST_F(SimulatorTest, OversizeReplyFault) {
  DeviceConfig c = OnePortDevice();
  c.faults.oversizeReply = 300;
  Add(c);
  auto reply = Ask(0, SearchRequest());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes.size(), 300u);
  EXPECT_EQ(std::string(reply->bytes.begin(), reply->bytes.begin() + 8), "MORKELAN");
}

TEST_F(SimulatorTest, DelayedReplyFaultWaitsForTheClock) {
  DeviceConfig c = OnePortDevice();
  c.faults.replyDelayMs = 500;
  Add(c);
  EXPECT_FALSE(Ask(0, SearchRequest(), 5));
  Advance(500);
  EXPECT_TRUE(Collect());
}

TEST_F(SimulatorTest, DuplicateRepliesFault) {
  DeviceConfig c = OnePortDevice();
  c.faults.duplicateReplies = 1;
  Add(c);
  EXPECT_TRUE(Ask(0, SearchRequest()));
  EXPECT_TRUE(Collect());
  EXPECT_FALSE(Collect(3));
}

TEST_F(SimulatorTest, FaultsCanBeSwitchedWhileRunning) {
  Add(OnePortDevice());
  EXPECT_TRUE(Ask(0, SearchRequest()));
  sim.WithDevice(0, [](Device& d) { d.faults().noAnswer = true; });
  EXPECT_FALSE(Ask(0, SearchRequest(), 5));
}

TEST_F(SimulatorTest, UnknownPortStateIsReportedAsConfigured) {
  DeviceConfig c = OnePortDevice();
  c.record.ports[0].state = 7;
  Add(c);
  auto reply = Ask(0, SearchRequest());
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes[69], 7);
}

TEST_F(SimulatorTest, BackgroundThreadAnswersToo) {
  Add(OnePortDevice());
  sim.Start();
  ASSERT_TRUE(pc.Send(SearchRequest(), kDeviceA, sim.UnicastPort(0)));
  auto reply = pc.Receive(2000);
  sim.Stop();
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->bytes[8], 1);
}

TEST(Simulator, ADeviceWhoseAddressIsNotHereCannotStart) {
  SimulatorOptions o;
  o.unicastPort = 0;
  o.listenBroadcast = o.listenMulticast = false;
  Simulator sim(o);
  DeviceConfig c = OnePortDevice();
  c.address = "203.0.113.77";
  std::string error;
  EXPECT_FALSE(sim.AddDevice(c, &error));
  EXPECT_NE(error.find("bind"), std::string::npos) << error;
  EXPECT_EQ(sim.DeviceCount(), 0);
}

}  // namespace
}  // namespace devsim
