// PortDriverChannel against the simulated driver: byte layouts, failures of
// each request and of the open, the lookups' diagnostics, the instance text.
#include <gtest/gtest.h>

#include "marlet_fixture.h"

namespace {

using marlet::RemoteEndpoint;
using Bytes = std::vector<std::uint8_t>;

using ChannelTest = MarletTest;

TEST_F(ChannelTest, SetRemoteInfoWritesTheTwentyByteRequestFieldByField) {
  int port = driver.AddVirtualPort(0, "COM5");
  RemoteEndpoint e;
  e.address = 0xC0A801C8;  // 192.168.1.200
  e.port = 4001;
  e.type = marlet::kUdpClient;
  e.connectAtStart = 1;
  e.connected = 1;  // never sent
  e.maxPacketSize = 450;
  channel.SetRemoteInfo(port, e);

  ASSERT_EQ(driver.requests.size(), 1u);
  EXPECT_EQ(driver.requests[0].code, 0x222048u);
  const Bytes golden = {
      0xC0, 0xA8, 0x01, 0xC8,  // 0: address, network order
      0x0F, 0xA1,              // 4: port 4001, network order
      0x00, 0x00,              // 6: zero
      0x01,                    // 8: UDP client
      0x00, 0x00, 0x00,        // 9: zero
      0x01, 0x00, 0x00, 0x00,  // 12: connect at start
      0xC2, 0x01, 0x00, 0x00,  // 16: maximum packet size 450
  };
  EXPECT_EQ(driver.requests[0].input, golden);
  EXPECT_EQ(driver.openDevices(), 0);
}

TEST_F(ChannelTest, GetRemoteInfoReadsTheTwentyFourByteReplyAtItsOffsets) {
  int port = driver.AddVirtualPort(0, "COM5");
  driver.ports[0].rawReplies[marlet::IOCTL_GET_REMOTE_INFO] = {
      0xC0, 0xA8, 0x01, 0xC8,  // 0: address
      0x0F, 0xA1,              // 4: port 4001
      0xEE, 0xEE,              // 6: not read
      0x01,                    // 8: UDP client
      0xEE, 0xEE, 0xEE,        // 9: not read
      0x01, 0x00, 0x00, 0x00,  // 12: connect at start
      0x07, 0x00, 0x00, 0x00,  // 16: connected (nonzero)
      0xC2, 0x01, 0x00, 0x00,  // 20: maximum packet size 450
  };
  RemoteEndpoint e;
  ASSERT_TRUE(channel.GetRemoteInfo(port, e).succeeded);
  EXPECT_EQ(e.address, 0xC0A801C8u);
  EXPECT_EQ(e.port, 4001);
  EXPECT_EQ(e.type, marlet::kUdpClient);
  EXPECT_EQ(e.connectAtStart, 1u);
  EXPECT_EQ(e.connected, 7u);
  EXPECT_EQ(e.maxPacketSize, 450u);
  EXPECT_EQ(driver.requests.back().code, 0x222088u);
}

TEST_F(ChannelTest, DosNameIsTheTextUpToTheFirstNulWithinTenBytes) {
  const struct {
    Bytes reply;
    std::string name;
  } cases[] = {
      {{'C', 'O', 'M', '3', 0, 'x', 'x', 'x', 'x', 'x', 'x', 'x'}, "COM3"},
      {{'C', 'O', 'M', '1', '2', '3', '4', '5', '6', '7', 'X', 'Y'}, "COM1234567"},
      {Bytes(12, 0), ""},
  };
  for (const auto& c : cases) {
    driver.ports.clear();
    driver.AddVirtualPort(0, "");
    driver.ports[0].rawReplies[marlet::IOCTL_GET_DOS_NAME] = c.reply;
    std::string name = "old";
    EXPECT_TRUE(channel.GetDosName(0, name));
    EXPECT_EQ(name, c.name);
    EXPECT_EQ(driver.requests.back().code, 0x222024u);
  }
}

// The same message with the same error whether the request went through the
// bridge or on the port's own handle.
TEST_F(ChannelTest, AFailedRequestShowsItsMessageAndClosesTheDevice) {
  for (auto bridge : {marlet::sim::SimBridge::kAbsent, marlet::sim::SimBridge::kManaging}) {
    driver.bridge = bridge;
    driver.ports.clear();
    driver.AddVirtualPort(0, "COM5");
    driver.ports[0].remote.address = 0x0A000001;
    const struct {
      std::uint32_t code;
      std::string message;  // empty: connect and disconnect leave the message to the window
    } cases[] = {
        {marlet::IOCTL_GET_DOS_NAME, "IOCTL_GET_DOS_NAME Failed (0x1f)\n"},
        {marlet::IOCTL_GET_REMOTE_INFO, "IOCTL_GET_REMOTE_INFO Failed (0x1f)\n"},
        {marlet::IOCTL_SET_REMOTE_INFO, "IOCTL_SET_REMOTE_INFO Failed (0x1f)\n"},
        {marlet::IOCTL_CONNECTION, ""},
        {marlet::IOCTL_DISCONNECTION, ""},
    };
    for (const auto& c : cases) {
      SCOPED_TRACE(c.code);
      driver.failingCodes = {{c.code, 0x1F}};
      if (!c.message.empty()) ExpectMessages({c.message});
      std::string name = "old";
      RemoteEndpoint e;
      e.port = 99;
      switch (c.code) {
        case marlet::IOCTL_GET_DOS_NAME:
          EXPECT_TRUE(channel.GetDosName(0, name));
          EXPECT_EQ(name, "");
          break;
        case marlet::IOCTL_GET_REMOTE_INFO:
          // Every value reads as zero: 0.0.0.0, port 0, TCP client, idle, size 0.
          EXPECT_FALSE(channel.GetRemoteInfo(0, e).succeeded);
          EXPECT_EQ(marlet::EncodeRemoteInfoReply(e), marlet::RemoteInfoReply{});
          break;
        case marlet::IOCTL_SET_REMOTE_INFO:
          // The caller learns of it, with the error.
          EXPECT_EQ(channel.SetRemoteInfo(0, e).error, 0x1Fu);
          break;
        default: {
          marlet::ControlResult r =
              c.code == marlet::IOCTL_CONNECTION ? channel.ConnectPort(0) : channel.DisconnectPort(0);
          EXPECT_TRUE(r.opened);
          EXPECT_FALSE(r.succeeded);
          EXPECT_EQ(r.error, 0x1Fu);
        }
      }
      EXPECT_EQ(driver.requests.back().code, c.code);
      EXPECT_EQ(driver.requests.back().throughBridge, bridge == marlet::sim::SimBridge::kManaging);
      EXPECT_EQ(driver.openDevices(), 0);
      EXPECT_EQ(driver.openLists(), 0);
    }
  }
}

// The manager's requests reach the driver through the bridge, with the port
// request's bytes as on the port, while a terminal program holds the port.
TEST_F(ChannelTest, RequestsGoThroughTheBridgeWhileAProgramHoldsThePort) {
  driver.bridge = marlet::sim::SimBridge::kManaging;
  driver.AddPhysicalPort("COM1");
  const int port = driver.AddVirtualPort(0, "COM5");
  driver.ports[1].heldByTerminal = true;
  RemoteEndpoint e;
  e.address = 0xC0A801C8;
  e.port = 4001;
  e.maxPacketSize = 450;

  EXPECT_TRUE(channel.SetRemoteInfo(port, e).succeeded);
  EXPECT_TRUE(channel.ConnectPort(port).succeeded);
  RemoteEndpoint back;
  EXPECT_TRUE(channel.GetRemoteInfo(port, back).succeeded);
  EXPECT_EQ(back.address, e.address);
  EXPECT_EQ(back.connected, 1u);
  std::string name;
  EXPECT_TRUE(channel.GetDosName(port, name));
  EXPECT_EQ(name, "COM5");
  EXPECT_TRUE(channel.DisconnectPort(port).succeeded);
  EXPECT_EQ(driver.ports[1].remote.connected, 0u);

  ASSERT_EQ(driver.requests.size(), 5u);
  for (const auto& r : driver.requests) {
    EXPECT_TRUE(r.throughBridge) << std::hex << r.code;
    EXPECT_EQ(r.position, port);
  }
  const marlet::RemoteInfoRequest sent = marlet::EncodeRemoteInfoRequest(e);
  EXPECT_EQ(driver.requests[0].input, Bytes(sent.begin(), sent.end()));
  EXPECT_TRUE(Messages().empty());
  EXPECT_EQ(driver.openDevices(), 0);
}

// Where the bridge cannot take the request, it goes on the port as before,
// with today's messages when a program holds it.
TEST_F(ChannelTest, FallsBackToThePortWhereTheBridgeCannotManage) {
  using marlet::sim::SimBridge;
  const struct {
    SimBridge bridge;
    std::uint32_t manageOpenError;
    const char* why;
  } cases[] = {
      {SimBridge::kAbsent, 0, "no bridge"},
      {SimBridge::kWithoutQuery, 0, "a driver from before the link state question"},
      {SimBridge::kAnswering, 0, "a driver from before the manager's requests"},
      {SimBridge::kManaging, marlet::kErrorAccessDenied, "a user who may not write to the bridge"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.why);
    driver.bridge = c.bridge;
    driver.manageOpenError = c.manageOpenError;
    driver.ports.clear();
    driver.requests.clear();
    driver.AddVirtualPort(0, "COM5");
    driver.ports[0].remote.address = 0x0A000001;
    driver.ports[0].remote.port = 1;
    EXPECT_TRUE(channel.ConnectPort(0).succeeded);
    ASSERT_EQ(driver.requests.size(), 1u);
    EXPECT_FALSE(driver.requests[0].throughBridge);

    driver.ports[0].heldByTerminal = true;
    ExpectMessages({"Open serial device failed (0x5)\n"});
    EXPECT_FALSE(channel.DisconnectPort(0).opened);
    EXPECT_EQ(driver.ports[0].remote.connected, 1u);
    EXPECT_EQ(driver.openDevices(), 0);
  }
  // A port that is not the driver's (the bridge knows no such path).
  driver.bridge = SimBridge::kManaging;
  driver.manageOpenError = 0;
  driver.requests.clear();
  std::string name;
  EXPECT_TRUE(channel.GetDosName(driver.AddPhysicalPort("COM1"), name));
  EXPECT_EQ(name, "COM1");
  ASSERT_EQ(driver.requests.size(), 1u);
  EXPECT_FALSE(driver.requests[0].throughBridge);
}

TEST_F(ChannelTest, OpenRefusedWhileATerminalProgramHoldsThePort) {
  driver.AddVirtualPort(0, "COM5");
  driver.ports[0].heldByTerminal = true;
  ExpectMessages({"Open serial device failed (0x5)\n", "Please stop terminal program first\n",
                  "Open serial device failed (0x5)\n"});
  std::string name;
  EXPECT_FALSE(channel.GetDosName(0, name));
  // Connect leaves the second message to the window.
  EXPECT_FALSE(channel.ConnectPort(0).opened);
  EXPECT_TRUE(driver.requests.empty());
}

TEST_F(ChannelTest, OpenFailingWithBadCommandIsSilent) {
  driver.AddVirtualPort(0, "COM5");
  driver.ports[0].openError = marlet::kErrorBadCommand;
  RemoteEndpoint e;
  EXPECT_FALSE(channel.GetRemoteInfo(0, e).opened);
  EXPECT_EQ(channel.OpenPortDevice(0), nullptr);
  EXPECT_TRUE(Messages().empty());
}

TEST_F(ChannelTest, LookupFailuresWriteTheirDiagnostics) {
  driver.AddVirtualPort(0, "COM5");
  std::string path;
  std::string instance;
  auto visitAll = [](int, const std::string&) { return true; };

  driver.listOpenError = 0x57;
  EXPECT_FALSE(channel.EnumeratePortInterfaces(visitAll));
  EXPECT_FALSE(channel.FindPortDevicePath(0, path));
  EXPECT_FALSE(channel.GetPortInstanceId(0, instance));
  driver.listOpenError = 0;
  EXPECT_FALSE(channel.FindPortDevicePath(3, path));
  EXPECT_FALSE(channel.GetPortInstanceId(3, instance));  // no output
  driver.ports[0].detailUnreadable = true;
  EXPECT_FALSE(channel.EnumeratePortInterfaces(visitAll));
  EXPECT_TRUE(channel.DetailReadFailed());

  const std::vector<std::string> expected = {
      "Enumeration device failed (0x57)\n", "Enumeration device                Failed (0x57)\n",
      "Enumeration device failed (0x57)\n", "Enumerate interfaces             Failed (0x103)\n",
      "Error 6 getting interface detail\n",
  };
  EXPECT_EQ(diagnostics, expected);
  EXPECT_EQ(driver.openLists(), 0);
  EXPECT_TRUE(exits.empty());
}

TEST_F(ChannelTest, EnumerationCountsPhysicalPortsAndFindsPathsByPosition) {
  driver.AddPhysicalPort("COM1");
  driver.AddPhysicalPort("COM2");
  driver.AddVirtualPort(0, "COM5");
  std::vector<std::string> paths;
  EXPECT_TRUE(channel.EnumeratePortInterfaces([&](int i, const std::string& p) {
    EXPECT_EQ(i, static_cast<int>(paths.size()));
    paths.push_back(p);
    return true;
  }));
  ASSERT_EQ(paths.size(), 3u);
  std::string path;
  ASSERT_TRUE(channel.FindPortDevicePath(2, path));
  EXPECT_EQ(path, paths[2]);
  EXPECT_NE(path.find(marlet::kVirtualPortMarker), std::string::npos);
  EXPECT_EQ(paths[0].find(marlet::kVirtualPortMarker), std::string::npos);
}

TEST_F(ChannelTest, InstanceTextKeepsTheWholeInstanceNumber) {
  const struct {
    int instance;
    std::string text;
  } cases[] = {
      {0, "@root\\ports\\0000"},
      {42, "@root\\ports\\0042"},
      {10000, "@root\\ports\\10000"},
      {123456, "@root\\ports\\123456"},
  };
  for (const auto& c : cases) {
    driver.ports.clear();
    driver.AddPhysicalPort("COM1");
    driver.AddVirtualPort(c.instance, "COM5");
    std::string text;
    ASSERT_TRUE(channel.GetPortInstanceId(1, text));
    EXPECT_EQ(text, c.text);
  }
  EXPECT_EQ(marlet::InstanceTextFromPath("\\\\?\\root#ports#0007"), "@root\\ports\\0007");
}

}  // namespace
