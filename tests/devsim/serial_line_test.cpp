// The simulated serial lines over real sockets on loopback: echo over TCP and
// UDP byte for byte, the side channel both ways, and a restart dropping the
// data connection. The test's own thread drives the simulator, so every wait
// is a bounded number of polls.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "devsim/serial_line.h"
#include "devsim/simulator.h"
#include "udp_peer.h"

namespace devsim {
namespace {

using devsim_test::UdpPeer;
using Raw = std::vector<std::uint8_t>;

constexpr const char* kAddress = "127.0.0.31";

// Bytes that differ from their neighbours, so a lost, doubled or moved chunk shows.
Raw Pattern(std::size_t size, std::uint32_t seed) {
  Raw bytes(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<std::uint8_t>(seed >> 16);
  }
  return bytes;
}

// A non-blocking stream socket the test reads and writes between polls. The
// connect completes in the kernel's backlog; the simulator accepts later.
class Stream {
 public:
  static Stream Tcp(const std::string& address, unsigned port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = inet_addr(address.c_str());
    return Stream(reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  static Stream Unix(const std::string& path) {
    sockaddr_un a{};
    a.sun_family = AF_UNIX;
    std::strncpy(a.sun_path, path.c_str(), sizeof a.sun_path - 1);
    return Stream(reinterpret_cast<const sockaddr*>(&a), sizeof a);
  }
  Stream(Stream&& other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
  ~Stream() {
    if (m_fd >= 0) ::close(m_fd);
  }
  bool ok() const { return m_fd >= 0; }
  // Sends what the socket takes of bytes[at...]; returns how many.
  std::size_t SendSome(const Raw& bytes, std::size_t at) {
    const ssize_t n =
        at < bytes.size() ? ::send(m_fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL) : 0;
    return n > 0 ? static_cast<std::size_t>(n) : 0;
  }
  // Appends what has arrived; false once the peer closed or reset the connection.
  bool Receive(Raw& into) {
    std::uint8_t buffer[65536];
    const ssize_t n = ::recv(m_fd, buffer, sizeof buffer, 0);
    if (n > 0) into.insert(into.end(), buffer, buffer + n);
    return n > 0 || (n < 0 && errno == EAGAIN);
  }

 private:
  Stream(const sockaddr* to, socklen_t length)
      : m_fd(::socket(to->sa_family, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
    if (m_fd >= 0 && ::connect(m_fd, to, length) != 0) ::close(std::exchange(m_fd, -1));
    if (m_fd >= 0) ::fcntl(m_fd, F_SETFL, O_NONBLOCK);
  }
  int m_fd = -1;
};

class SerialLineTest : public ::testing::Test {
 protected:
  std::uint64_t clockMs = 1000;
  Simulator sim{Options()};
  std::string sideChannel = "/tmp/devsim-serial-" + std::to_string(::getpid()) + ".sock";

  SimulatorOptions Options() {
    SimulatorOptions o;
    o.unicastPort = 0;
    o.listenBroadcast = false;
    o.listenMulticast = false;
    o.serveData = true;
    o.freeDataPorts = true;
    o.clock = [this] { return clockMs; };
    return o;
  }

  void Add(bool echo, bool withSideChannel) {
    DeviceConfig c;
    c.record.name = "line-a";
    c.record.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x31};
    c.record.ports[0].tcp = true;
    c.record.ports[0].udp = true;
    c.address = kAddress;
    c.timings.restartMs = 1000;
    c.serialLines[0].echo = echo;
    if (withSideChannel) c.serialLines[0].sideChannel = sideChannel;
    std::string error;
    ASSERT_TRUE(sim.AddDevice(c, &error)) << error;
  }

  // Polls the simulator, running `step` after each poll, until it says done.
  bool Pump(const std::function<bool()>& step, int rounds = 5000) {
    for (int i = 0; i < rounds; ++i) {
      if (step()) return true;
      sim.Poll(1);
    }
    return step();
  }

  Raw ReceiveUntil(Stream& s, std::size_t size) {
    Raw got;
    Pump([&] { return !s.Receive(got) || got.size() >= size; });
    return got;
  }

  std::optional<devsim_test::Datagram> ReceiveDatagram(UdpPeer& peer) {
    std::optional<devsim_test::Datagram> d;
    Pump([&] { return (d = peer.Receive(0)).has_value(); }, 2000);
    return d;
  }

  // Port 1's state byte (offset 69) in the device's answer to a status query.
  int PortState(UdpPeer& pc) {
    pc.Send({'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N', 0x00}, kAddress, sim.UnicastPort(0));
    const auto reply = ReceiveDatagram(pc);
    return reply && reply->bytes.size() > 69 ? reply->bytes[69] : -1;
  }
};

TEST_F(SerialLineTest, TcpEchoReturnsALargeBufferByteForByte) {
  Add(true, false);
  Stream client = Stream::Tcp(kAddress, sim.DataPort(0, 0, false));
  ASSERT_TRUE(client.ok());
  // Larger than every buffer on the way, so partial sends and back-pressure happen.
  const Raw sent = Pattern(4 << 20, 7);
  std::size_t at = 0;
  Raw got;
  const bool whole = Pump(
      [&] {
        at += client.SendSome(sent, at);
        return !client.Receive(got) || got.size() >= sent.size();
      },
      20000);
  ASSERT_TRUE(whole) << "echoed " << got.size() << " of " << sent.size() << " bytes";
  ASSERT_EQ(got.size(), sent.size());
  EXPECT_TRUE(got == sent) << "the echo differs from what was sent";
}

TEST_F(SerialLineTest, UdpEchoesEachDatagramWhole) {
  Add(true, false);
  UdpPeer peer;
  ASSERT_TRUE(peer.ok());
  for (const std::size_t size : {std::size_t{1}, std::size_t{1472}, std::size_t{9000}, std::size_t{65507}}) {
    const Raw sent = Pattern(size, static_cast<std::uint32_t>(size));
    ASSERT_TRUE(peer.Send(sent, kAddress, sim.DataPort(0, 0, true))) << size;
    const auto echo = ReceiveDatagram(peer);
    ASSERT_TRUE(echo.has_value()) << size;
    EXPECT_TRUE(echo->bytes == sent) << size << " bytes came back as " << echo->bytes.size();
  }
}

// The serial device writes before any peer is there: its bytes are held and
// reach the first peer ahead of what it writes later. With the echo plug out
// nothing else comes back. One run per transport.
class SideChannelTest : public SerialLineTest, public ::testing::WithParamInterface<bool> {};

TEST_P(SideChannelTest, CarriesBothWaysByteForByte) {
  const bool udp = GetParam();
  Add(false, true);
  Stream device = Stream::Unix(sideChannel);
  ASSERT_TRUE(device.ok());
  const Raw early = Pattern(3000, 1), later = Pattern(70000, 2), toDevice = Pattern(100000, 3);
  ASSERT_EQ(device.SendSome(early, 0), early.size());
  ASSERT_TRUE(Pump([&] { return sim.LogContains("serial device sent 3000 bytes"); }))
      << "read before any peer";

  UdpPeer peer;
  std::optional<Stream> client;
  std::size_t toDeviceSent = 0, laterSent = 0;
  if (udp) {  // its first datagram makes the peer known
    const auto half = toDevice.begin() + 50000;
    ASSERT_TRUE(peer.Send(Raw(toDevice.begin(), half), kAddress, sim.DataPort(0, 0, true)));
    ASSERT_TRUE(peer.Send(Raw(half, toDevice.end()), kAddress, sim.DataPort(0, 0, true)));
  } else {
    client.emplace(Stream::Tcp(kAddress, sim.DataPort(0, 0, false)));
  }
  Raw atPeer, atDevice;
  const auto receiveAtPeer = [&] {
    if (client) client->Receive(atPeer);
    while (auto d = peer.Receive(0)) {
      EXPECT_LE(d->bytes.size(), SerialLine::kUdpChunk);
      atPeer.insert(atPeer.end(), d->bytes.begin(), d->bytes.end());
    }
  };
  Pump([&] {
    if (client) toDeviceSent += client->SendSome(toDevice, toDeviceSent);
    laterSent += device.SendSome(later, laterSent);
    receiveAtPeer();
    device.Receive(atDevice);
    return atPeer.size() >= early.size() + later.size() && atDevice.size() >= toDevice.size();
  });
  for (int i = 0; i < 20; ++i) sim.Poll(1);  // an echo would have come by now
  receiveAtPeer();
  Raw expected = early;
  expected.insert(expected.end(), later.begin(), later.end());
  EXPECT_TRUE(atPeer == expected) << "the peer got " << atPeer.size() << " bytes of " << expected.size();
  EXPECT_TRUE(atDevice == toDevice) << "the serial device got " << atDevice.size() << " bytes";
}

INSTANTIATE_TEST_SUITE_P(Transports, SideChannelTest, ::testing::Values(false, true),
                         [](const auto& info) { return info.param ? "Udp" : "Tcp"; });

TEST_F(SerialLineTest, ARebootDropsTheConnectionAndTheNextRunListensAgain) {
  Add(true, false);
  UdpPeer pc;
  Stream client = Stream::Tcp(kAddress, sim.DataPort(0, 0, false));
  ASSERT_TRUE(client.ok());
  ASSERT_EQ(client.SendSome({'a'}, 0), 1u);
  ASSERT_EQ(ReceiveUntil(client, 1), Raw{'a'});
  EXPECT_EQ(PortState(pc), 1) << "connected while it has a TCP peer";

  Raw reboot(73, 0);
  std::memcpy(reboot.data(), "MORKELAN", 8);
  reboot[8] = 0x0B;
  const std::uint8_t mac[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x31};
  std::memcpy(reboot.data() + 26, mac, 6);
  ASSERT_TRUE(pc.Send(reboot, kAddress, sim.UnicastPort(0)));
  ASSERT_TRUE(ReceiveDatagram(pc).has_value()) << "reboot acknowledged";
  Raw ignored;
  EXPECT_TRUE(Pump([&] { return !client.Receive(ignored); })) << "the connection outlived the reboot";
  EXPECT_EQ(sim.DataPort(0, 0, false), 0u) << "no data listener while restarting";

  clockMs += 1000;
  sim.Poll(0);
  EXPECT_EQ(PortState(pc), 0) << "idle after the restart";
  Stream again = Stream::Tcp(kAddress, sim.DataPort(0, 0, false));
  ASSERT_TRUE(again.ok());
  ASSERT_EQ(again.SendSome({'b'}, 0), 1u);
  EXPECT_EQ(ReceiveUntil(again, 1), Raw{'b'});
}

}  // namespace
}  // namespace devsim
