// Sockets on loopback (127.0.0.1 only): asynchronous notifications on the
// window thread, datagram size limits, options, the blocking calls, and the
// address parser agreeing with the platform's.
#include <gtest/gtest.h>

#include "../socket_cases.h"
#include "win32_test_support.h"

namespace {

constexpr int kWaitMs = 3000;

class Receiver : public tk::CAsyncSocket {
 public:
  std::vector<std::string> received;
  std::vector<int> errors;
  std::vector<unsigned long> threads;
  std::string sender;
  unsigned senderPort = 0;
  int bufferSize = 64;

 protected:
  void OnReceive(int errorCode) override {
    threads.push_back(tktest::CurrentThreadId());
    std::vector<char> buffer(static_cast<size_t>(bufferSize));
    int n = ReceiveFrom(buffer.data(), bufferSize, sender, senderPort);
    if (n == tk::SOCKET_ERROR) {
      errors.push_back(GetLastError());
      return;
    }
    (void)errorCode;
    received.emplace_back(buffer.data(), static_cast<size_t>(n));
  }
};

unsigned PortOf(const tk::CAsyncSocket& s) {
  std::string address;
  unsigned port = 0;
  EXPECT_TRUE(s.GetSockName(address, port));
  EXPECT_EQ(address, "127.0.0.1");
  return port;
}

TEST(AsyncSocket, DatagramsArriveAsOnReceiveOnTheWindowThread) {
  Receiver receiver;
  tk::CAsyncSocket sender;
  ASSERT_TRUE(receiver.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  ASSERT_TRUE(sender.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  const unsigned port = PortOf(receiver);
  ASSERT_NE(port, 0u);
  EXPECT_EQ(sender.SendTo("MORKELAN", 8, port, "127.0.0.1"), 8);
  EXPECT_EQ(sender.SendTo("second", 6, port, "127.0.0.1"), 6);
  ASSERT_TRUE(tktest::PumpUntil([&] { return receiver.received.size() == 2; }, kWaitMs));
  EXPECT_EQ(receiver.received[0], "MORKELAN");
  EXPECT_EQ(receiver.received[1], "second");
  EXPECT_EQ(receiver.sender, "127.0.0.1");
  EXPECT_EQ(receiver.senderPort, PortOf(sender));
  for (unsigned long id : receiver.threads) EXPECT_EQ(id, tktest::CurrentThreadId());
}

// The shared table of datagram sizes against the receive buffer.
class DatagramSize : public ::testing::TestWithParam<tktest::DatagramCase> {};

TEST_P(DatagramSize, ReadsOrFailsAsThePlatformDoes) {
  tktest::RunDatagramCase(
      GetParam(), [](const std::function<bool()>& done, int ms) { return tktest::PumpUntil(done, ms); });
}

INSTANTIATE_TEST_SUITE_P(Shared, DatagramSize, ::testing::ValuesIn(tktest::kDatagramCases),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(AsyncSocket, ClosedSocketGetsNoMoreNotifications) {
  Receiver receiver;
  tk::CAsyncSocket sender;
  ASSERT_TRUE(receiver.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  ASSERT_TRUE(sender.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  const unsigned port = PortOf(receiver);
  sender.SendTo("late", 4, port, "127.0.0.1");
  receiver.Close();
  EXPECT_FALSE(receiver.IsOpen());
  // Whatever was queued for it is dropped; the pump runs out its time.
  EXPECT_FALSE(tktest::PumpUntil([&] { return !receiver.received.empty(); }, 200));
  EXPECT_TRUE(receiver.threads.empty());
  std::string address;
  unsigned p = 0;
  EXPECT_FALSE(receiver.GetSockName(address, p));
}

TEST(AsyncSocket, ANotificationQueuedForAClosedSocketDoesNotReachANewOne) {
  constexpr unsigned kSocketNotification = tk::WM_USER + 1;
  Receiver first;
  tk::CAsyncSocket sender;
  ASSERT_TRUE(first.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  ASSERT_TRUE(sender.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  ASSERT_EQ(sender.SendTo("late", 4, PortOf(first), "127.0.0.1"), 4);
  ASSERT_TRUE(tktest::WaitForQueuedMessage(kSocketNotification, kWaitMs));
  first.Close();
  // The platform may give the next socket the closed one's handle.
  Receiver second;
  ASSERT_TRUE(second.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  EXPECT_FALSE(tktest::PumpUntil([&] { return !second.threads.empty(); }, 200));
  EXPECT_TRUE(second.errors.empty());
}

TEST(AsyncSocket, CreateFailuresAndOptions) {
  tk::CAsyncSocket first;
  tk::CAsyncSocket second;
  ASSERT_TRUE(first.Create(0, tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  EXPECT_FALSE(second.Create(PortOf(first), tk::SOCK_DGRAM, tk::FD_READ, "127.0.0.1"));
  EXPECT_EQ(second.GetLastError(), tk::WSAEADDRINUSE);
  EXPECT_FALSE(second.IsOpen());
  EXPECT_TRUE(first.SetBroadcast(true));
  EXPECT_TRUE(first.SetReuseAddress(true));
  EXPECT_TRUE(first.SetReceiveBufferSize(64 * 1024));
  EXPECT_GE(first.GetReceiveBufferSize(), 64 * 1024);
  EXPECT_TRUE(first.SetMulticastTTL(1));
  EXPECT_TRUE(first.SetMulticastLoopback(false));
  EXPECT_FALSE(first.JoinMulticastGroup("not a group"));
  tk::CAsyncSocket stream;
  EXPECT_TRUE(stream.Create(0, tk::SOCK_STREAM, tk::FD_READ | tk::FD_CLOSE, "127.0.0.1"));
  EXPECT_FALSE(stream.Create(0, tk::SOCK_STREAM));  // already open
  tk::CAsyncSocket closed;
  EXPECT_EQ(closed.SendTo("x", 1, 9, "127.0.0.1"), tk::SOCKET_ERROR);
  EXPECT_EQ(closed.GetReceiveBufferSize(), -1);
}

TEST(BlockingUdp, WaitReceiveAndSend) {
  tk::BlockingUdpSocket server;
  tk::BlockingUdpSocket client;
  ASSERT_TRUE(server.Open());
  ASSERT_TRUE(client.Open());
  EXPECT_TRUE(server.SetReuseAddress(true));
  EXPECT_TRUE(server.SetBroadcast(true));
  ASSERT_TRUE(server.Bind(0, "127.0.0.1"));
  ASSERT_TRUE(client.Bind(0, "127.0.0.1"));
  std::string address;
  unsigned serverPort = 0;
  ASSERT_TRUE(server.GetSockName(address, serverPort));
  EXPECT_EQ(server.WaitReadable(20), 0);  // nothing sent yet
  ASSERT_EQ(client.SendTo("\x00\x01", 2, serverPort, "127.0.0.1"), 2);
  ASSERT_EQ(server.WaitReadable(kWaitMs), 1);
  char buffer[16] = {};
  std::string from;
  unsigned fromPort = 0;
  EXPECT_EQ(server.ReceiveFrom(buffer, sizeof(buffer), from, fromPort), 2);
  EXPECT_EQ(from, "127.0.0.1");
  unsigned clientPort = 0;
  ASSERT_TRUE(client.GetSockName(address, clientPort));
  EXPECT_EQ(fromPort, clientPort);
  server.Close();
  EXPECT_FALSE(server.IsOpen());
  EXPECT_EQ(server.WaitReadable(0), -1);
}

TEST(BlockingUdp, ErrorsWhenClosedAndNegativeWait) {
  tk::BlockingUdpSocket socket;
  char buffer[4] = {};
  std::string from;
  unsigned fromPort = 0;
  // Every call on a socket that is not open fails with the same error.
  EXPECT_FALSE(socket.Bind(0, "127.0.0.1"));
  EXPECT_EQ(socket.GetLastError(), tk::WSAENOTSOCK);
  EXPECT_EQ(socket.SendTo("x", 1, 9, "127.0.0.1"), tk::SOCKET_ERROR);
  EXPECT_EQ(socket.GetLastError(), tk::WSAENOTSOCK);
  socket.Open();
  socket.Close();
  EXPECT_EQ(socket.ReceiveFrom(buffer, sizeof buffer, from, fromPort), tk::SOCKET_ERROR);
  EXPECT_EQ(socket.GetLastError(), tk::WSAENOTSOCK);
  EXPECT_EQ(socket.WaitReadable(0), -1);
  EXPECT_EQ(socket.GetLastError(), tk::WSAENOTSOCK);
  // A negative wait does not wait: nothing has arrived.
  ASSERT_TRUE(socket.Open());
  ASSERT_TRUE(socket.Bind(0, "127.0.0.1"));
  EXPECT_EQ(socket.WaitReadable(-5), 0);
  socket.Close();
}

TEST(InetAddr, AgreesWithThePlatformParser) {
  const char* cases[] = {
      "192.168.5.20", "0.0.0.0",   "255.255.255.255", "225.1.2.3",  "1.2.3",      "1.2",     "16909060",
      "0x7f.1",       "010.0.0.1", "1.2.3.4 ",        "1.2.3.256",  "1.2.3.4.5",  "",        "abc",
      "1..2.3",       "1.2.3.",    "0x100.0.0.1",     "4294967295", "4294967296", "1.2.3.4x"};
  for (const char* text : cases) {
    EXPECT_EQ(tk::InetAddr(text), tktest::PlatformInetAddr(text)) << '"' << text << '"';
  }
  EXPECT_EQ(tk::InetNtoa(0xC0A80514u), "192.168.5.20");
}

}  // namespace
