// Sockets on loopback: datagrams, the receive notification through the pump,
// the over-long datagram rule, error numbers and options.
#include <array>
#include <string>
#include <vector>

#include "../socket_cases.h"
#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

constexpr int kWaitMs = 2000;

class Receiver : public CAsyncSocket {
 public:
  std::vector<std::string> received;
  std::vector<int> errors;
  std::string lastSender;
  bool closeOnReceive = false;
  int bufferSize = 16;

 protected:
  void OnReceive(int) override {
    std::vector<char> buf(static_cast<size_t>(bufferSize));
    unsigned port = 0;
    int n = ReceiveFrom(buf.data(), bufferSize, lastSender, port);
    if (n == SOCKET_ERROR) {
      errors.push_back(GetLastError());
    } else {
      received.emplace_back(buf.data(), static_cast<size_t>(n));
    }
    if (closeOnReceive) Close();
  }
};

unsigned PortOf(const CAsyncSocket& s) {
  std::string address;
  unsigned port = 0;
  EXPECT_TRUE(s.GetSockName(address, port));
  return port;
}

class SocketTest : public HeadlessTest {};

TEST_F(SocketTest, DatagramArrivesThroughOnReceive) {
  Receiver rx;
  CAsyncSocket tx;
  ASSERT_TRUE(rx.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
  ASSERT_TRUE(tx.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
  EXPECT_EQ(hl::OpenSocketCount(), 2);
  EXPECT_EQ(tx.SendTo("hello", 5, PortOf(rx), "127.0.0.1"), 5);
  EXPECT_TRUE(hl::PumpUntil([&] { return !rx.received.empty(); }, kWaitMs));
  ASSERT_EQ(rx.received.size(), 1u);
  EXPECT_EQ(rx.received[0], "hello");
  EXPECT_EQ(rx.lastSender, "127.0.0.1");
  // Nothing more to read: the pump gives up after its bounded wait.
  EXPECT_EQ(hl::PumpSockets(0), 0);
  rx.Close();
  tx.Close();
  EXPECT_EQ(hl::OpenSocketCount(), 0);
}

// The shared table of datagram sizes against the receive buffer.
class DatagramSize : public HeadlessTest, public ::testing::WithParamInterface<tktest::DatagramCase> {};

TEST_P(DatagramSize, ReadsOrFailsAsThePlatformDoes) {
  tktest::RunDatagramCase(GetParam(),
                          [](const std::function<bool()>& done, int ms) { return hl::PumpUntil(done, ms); });
}

INSTANTIATE_TEST_SUITE_P(Shared, DatagramSize, ::testing::ValuesIn(tktest::kDatagramCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SocketTest, SocketClosedInItsHandlerIsNotNotifiedAgain) {
  Receiver rx;
  rx.closeOnReceive = true;
  CAsyncSocket tx;
  ASSERT_TRUE(rx.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
  ASSERT_TRUE(tx.Create(0, SOCK_DGRAM, 0, "127.0.0.1"));
  unsigned port = PortOf(rx);
  tx.SendTo("a", 1, port, "127.0.0.1");
  tx.SendTo("b", 1, port, "127.0.0.1");
  EXPECT_TRUE(hl::PumpUntil([&] { return !rx.IsOpen(); }, kWaitMs));
  EXPECT_EQ(hl::PumpSockets(0), 0);
  EXPECT_EQ(rx.received.size(), 1u);
  EXPECT_EQ(hl::OpenSocketCount(), 1);
}

TEST_F(SocketTest, ErrorsUseTheWindowsSocketsNumbers) {
  CAsyncSocket first;
  CAsyncSocket second;
  ASSERT_TRUE(first.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
  EXPECT_FALSE(second.Create(PortOf(first), SOCK_DGRAM, FD_READ, "127.0.0.1"));
  EXPECT_EQ(second.GetLastError(), WSAEADDRINUSE);
  EXPECT_FALSE(second.Create(0, SOCK_DGRAM, FD_READ, "203.0.113.77"));  // not ours
  EXPECT_EQ(second.GetLastError(), WSAEADDRNOTAVAIL);
  EXPECT_FALSE(second.Create(0, SOCK_DGRAM, FD_READ, "not-an-address"));
  EXPECT_EQ(second.GetLastError(), WSAEINVAL);
  char buf[4];
  std::string from;
  unsigned port = 0;
  EXPECT_EQ(first.ReceiveFrom(buf, sizeof buf, from, port), SOCKET_ERROR);
  EXPECT_EQ(first.GetLastError(), WSAEWOULDBLOCK);
  EXPECT_EQ(first.SendTo("x", 1, 9, "bad address"), SOCKET_ERROR);
  EXPECT_EQ(first.GetLastError(), WSAEINVAL);
  EXPECT_EQ(second.SendTo("x", 1, 9, "127.0.0.1"), SOCKET_ERROR);
  EXPECT_EQ(second.GetLastError(), WSAENOTSOCK);
}

TEST_F(SocketTest, OptionsMapToTheSystemOptions) {
  CAsyncSocket s;
  ASSERT_TRUE(s.Create(0, SOCK_DGRAM, FD_READ));
  EXPECT_TRUE(s.SetBroadcast(true));
  EXPECT_TRUE(s.SetReuseAddress(true));
  EXPECT_TRUE(s.SetMulticastTTL(1));
  EXPECT_TRUE(s.SetMulticastLoopback(false));
  EXPECT_TRUE(s.SetReceiveBufferSize(65536));
  EXPECT_GE(s.GetReceiveBufferSize(), 65536);
  EXPECT_TRUE(s.JoinMulticastGroup("225.1.2.3", "127.0.0.1"));
  EXPECT_FALSE(s.JoinMulticastGroup("not a group"));
  EXPECT_EQ(s.GetLastError(), WSAEINVAL);
  std::string address;
  unsigned port = 0;
  ASSERT_TRUE(s.GetSockName(address, port));
  EXPECT_EQ(address, "0.0.0.0");
  EXPECT_NE(port, 0u);
}

TEST_F(SocketTest, BlockingSocketWaitsAndReceives) {
  BlockingUdpSocket server;
  BlockingUdpSocket client;
  ASSERT_TRUE(server.Open());
  ASSERT_TRUE(server.Bind(0, "127.0.0.1"));
  ASSERT_TRUE(client.Open());
  ASSERT_TRUE(client.Bind(0, "127.0.0.1"));
  EXPECT_EQ(hl::OpenSocketCount(), 2);
  std::string address;
  unsigned port = 0;
  ASSERT_TRUE(server.GetSockName(address, port));
  EXPECT_EQ(server.WaitReadable(0), 0);
  ASSERT_EQ(client.SendTo("0123456789", 10, port, "127.0.0.1"), 10);
  ASSERT_EQ(client.SendTo("abc", 3, port, "127.0.0.1"), 3);
  ASSERT_EQ(server.WaitReadable(kWaitMs), 1);
  std::array<char, 4> small{};
  std::string from;
  unsigned fromPort = 0;
  EXPECT_EQ(server.ReceiveFrom(small.data(), 4, from, fromPort), SOCKET_ERROR);
  EXPECT_EQ(server.GetLastError(), WSAEMSGSIZE);
  ASSERT_EQ(server.WaitReadable(kWaitMs), 1);
  EXPECT_EQ(server.ReceiveFrom(small.data(), 4, from, fromPort), 3);
  EXPECT_EQ(std::string(small.data(), 3), "abc");
  std::string clientAddress;
  unsigned clientPort = 0;
  client.GetSockName(clientAddress, clientPort);
  EXPECT_EQ(fromPort, clientPort);
  server.Close();
  EXPECT_EQ(server.WaitReadable(0), -1);
  client.Close();
  EXPECT_EQ(hl::OpenSocketCount(), 0);
}

TEST_F(SocketTest, BlockingSocketErrorsWhenClosedAndNegativeWait) {
  BlockingUdpSocket socket;
  char buffer[4] = {};
  std::string from;
  unsigned fromPort = 0;
  // Every call on a socket that is not open fails with the same error.
  EXPECT_FALSE(socket.Bind(0, "127.0.0.1"));
  EXPECT_EQ(socket.GetLastError(), WSAENOTSOCK);
  EXPECT_EQ(socket.SendTo("x", 1, 9, "127.0.0.1"), SOCKET_ERROR);
  EXPECT_EQ(socket.GetLastError(), WSAENOTSOCK);
  socket.Open();
  socket.Close();
  EXPECT_EQ(socket.ReceiveFrom(buffer, sizeof buffer, from, fromPort), SOCKET_ERROR);
  EXPECT_EQ(socket.GetLastError(), WSAENOTSOCK);
  EXPECT_EQ(socket.WaitReadable(0), -1);
  EXPECT_EQ(socket.GetLastError(), WSAENOTSOCK);
  // A negative wait does not wait: nothing has arrived.
  ASSERT_TRUE(socket.Open());
  ASSERT_TRUE(socket.Bind(0, "127.0.0.1"));
  EXPECT_EQ(socket.WaitReadable(-5), 0);
  socket.Close();
}

TEST_F(SocketTest, OpenSocketsAreLeftovers) {
  CAsyncSocket s;
  ASSERT_TRUE(s.Create(0, SOCK_DGRAM, FD_READ, "127.0.0.1"));
  EXPECT_NE(hl::Leftovers().find("socket"), std::string::npos);
  s.Close();
  EXPECT_EQ(hl::Leftovers(), "");
}

}  // namespace
