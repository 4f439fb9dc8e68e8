// The boot loader's BOOTP/TFTP client: the engine on its own, then a whole
// upgrade over loopback sockets against a small file server written here.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "devsim/boot_loader.h"
#include "devsim/simulator.h"
#include "udp_peer.h"

namespace devsim {
namespace {

using devsim_test::UdpPeer;
using Raw = std::vector<std::uint8_t>;

const corvane::protocol::MacAddress kMac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};

// A BOOTP reply as the manager's file server builds it: the request echoed,
// op 2, yiaddr, siaddr, the file name at 108 and the options from 240.
Raw BootpReply(const Raw& request, std::uint32_t yiaddr, std::uint32_t siaddr, const std::string& file,
               int bootFileSize) {
  Raw r(516, 0);
  std::copy(request.begin(), request.end(), r.begin());
  r[0] = 2;
  for (int i = 0; i < 4; ++i) {
    r[16 + i] = static_cast<std::uint8_t>(yiaddr >> (24 - 8 * i));
    r[20 + i] = static_cast<std::uint8_t>(siaddr >> (24 - 8 * i));
  }
  std::memcpy(r.data() + 108, file.data(), file.size());
  const Raw options = {53,
                       1,
                       2,
                       54,
                       4,
                       127,
                       0,
                       0,
                       1,
                       1,
                       4,
                       255,
                       255,
                       255,
                       0,
                       3,
                       4,
                       0,
                       0,
                       0,
                       0,
                       13,
                       2,
                       static_cast<std::uint8_t>(bootFileSize >> 8),
                       static_cast<std::uint8_t>(bootFileSize),
                       255};
  std::copy(options.begin(), options.end(), r.begin() + 240);
  return r;
}

Raw Data(std::uint16_t block, std::size_t size, std::uint8_t fill = 0x5A) {
  Raw d(4 + size, fill);
  d[0] = 0, d[1] = 3;
  d[2] = static_cast<std::uint8_t>(block >> 8);
  d[3] = static_cast<std::uint8_t>(block);
  return d;
}

class BootLoaderEngine : public ::testing::Test {
 protected:
  std::vector<std::string> log;
  std::vector<BootLoaderSend> out;
  BootLoaderSettings settings = [] {
    BootLoaderSettings s;
    s.mac = kMac;
    s.xid = 0x11223344;
    s.bootpRetryMs = 100;
    s.bootpTries = 3;
    s.tftpTimeoutMs = 100;
    s.tftpTries = 2;
    return s;
  }();

  BootLoaderClient Make() {
    return BootLoaderClient(settings, [this](const std::string& t) { log.push_back(t); });
  }
  // Starts and answers the BOOTP request; leaves the RRQ in `out`.
  void ToTransfer(BootLoaderClient& c, int bootFileSize) {
    c.Start(0, out);
    c.OnBootp(BootpReply(out.back().bytes, 0x7F000009, 0x7F000001, "fw.bin", bootFileSize), 0, out);
  }
};

TEST_F(BootLoaderEngine, BootpRequestLayout) {
  BootLoaderClient c = Make();
  c.Start(0, out);
  ASSERT_EQ(out.size(), 1u);
  const Raw& b = out[0].bytes;
  EXPECT_TRUE(out[0].bootp);
  EXPECT_EQ(out[0].address, "255.255.255.255");
  EXPECT_EQ(out[0].port, 67u);
  ASSERT_EQ(b.size(), 300u);
  EXPECT_EQ(b[0], 1) << "BOOTREQUEST";
  EXPECT_EQ(b[1], 1) << "Ethernet";
  EXPECT_EQ(b[2], 6) << "hardware address length";
  EXPECT_EQ(Raw(b.begin() + 4, b.begin() + 8), (Raw{0x11, 0x22, 0x33, 0x44})) << "xid";
  EXPECT_EQ(Raw(b.begin() + 28, b.begin() + 34), Raw(kMac.begin(), kMac.end())) << "chaddr";
  EXPECT_EQ(Raw(b.begin() + 236, b.begin() + 240), (Raw{99, 130, 83, 99})) << "magic cookie";
}

TEST_F(BootLoaderEngine, RepeatsBootpThenGivesUp) {
  BootLoaderClient c = Make();
  c.Start(0, out);
  c.Tick(99, out);
  EXPECT_EQ(out.size(), 1u);
  c.Tick(100, out);
  c.Tick(200, out);
  EXPECT_EQ(out.size(), 3u);
  c.Tick(300, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Failed);
  EXPECT_EQ(c.failure(), "no BOOTP reply");
}

TEST_F(BootLoaderEngine, IgnoresRepliesForOthers) {
  BootLoaderClient c = Make();
  c.Start(0, out);
  Raw reply = BootpReply(out.back().bytes, 1, 0x7F000001, "f", 1);
  Raw otherXid = reply;
  otherXid[7] ^= 1;
  Raw otherMac = reply;
  otherMac[33] ^= 1;
  Raw request = reply;
  request[0] = 1;
  for (const Raw& r : {otherXid, otherMac, request, Raw(reply.begin(), reply.begin() + 100)})
    c.OnBootp(r, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::WaitingBootp);
}

TEST_F(BootLoaderEngine, ReadsFileNameOf128CharactersWithoutTerminator) {
  BootLoaderClient c = Make();
  c.Start(0, out);
  const std::string path(128, 'p');
  Raw reply = BootpReply(out.back().bytes, 1, 0x7F000001, path, 1);
  reply[236] = 99;  // the cookie right after the file field stays
  c.OnBootp(reply, 0, out);
  EXPECT_EQ(c.fileName(), path);
  const Raw& rrq = out.back().bytes;
  EXPECT_EQ(rrq[1], 1) << "read request";
  EXPECT_EQ(std::string(rrq.begin() + 2, rrq.begin() + 130), path);
  EXPECT_EQ(out.back().port, 69u);
}

TEST_F(BootLoaderEngine, TransfersBlocksInOrderAndChecksTheBlockCount) {
  BootLoaderClient c = Make();
  ToTransfer(c, 3);  // 1024 bytes: 512 + 512 + an empty last block
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  c.OnTftp(Data(2, 512), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(out.back().bytes, (Raw{0, 4, 0, 2})) << "ACK of block 2";
  EXPECT_EQ(out.back().port, 4000u) << "ACKs go to the transfer port";
  c.OnTftp(Data(3, 0), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Done);
  EXPECT_EQ(c.image().size(), 1024u);
}

TEST_F(BootLoaderEngine, WrongBlockCountFailsTheCheck) {
  BootLoaderClient c = Make();
  ToTransfer(c, 5);
  c.OnTftp(Data(1, 100), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Failed);
  EXPECT_NE(c.failure().find("announced 5"), std::string::npos);
}

TEST_F(BootLoaderEngine, RepeatedBlockIsAcknowledgedAgainAndAGapFails) {
  BootLoaderClient c = Make();
  ToTransfer(c, 4);
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  const std::size_t before = out.size();
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(out.size(), before + 1);
  EXPECT_EQ(c.image().size(), 512u) << "a repeated block is not stored twice";
  c.OnTftp(Data(3, 512), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Failed);
}

TEST_F(BootLoaderEngine, DataFromAnotherPortOrTooLongIsRefused) {
  BootLoaderClient c = Make();
  ToTransfer(c, 2);
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  c.OnTftp(Data(2, 10), "127.0.0.1", 4001, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Transferring);
  c.OnTftp(Data(2, 513), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Failed);
}

TEST_F(BootLoaderEngine, DroppedBlockIsIgnoredOnceAndTheLastAckRepeatedOnTimeout) {
  settings.dropDataBlocks = {2};
  BootLoaderClient c = Make();
  ToTransfer(c, 2);
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  const std::size_t before = out.size();
  c.OnTftp(Data(2, 10), "127.0.0.1", 4000, 10, out);
  EXPECT_EQ(out.size(), before) << "dropped";
  c.Tick(100, out);
  ASSERT_EQ(out.size(), before + 1);
  EXPECT_EQ(out.back().bytes, (Raw{0, 4, 0, 1})) << "ACK 1 again";
  c.OnTftp(Data(2, 10), "127.0.0.1", 4000, 110, out);
  EXPECT_EQ(c.state(), BootLoaderClient::State::Done);
}

TEST_F(BootLoaderEngine, DuplicatedAckFault) {
  settings.duplicateAckBlocks = {1};
  BootLoaderClient c = Make();
  ToTransfer(c, 2);
  const std::size_t before = out.size();
  c.OnTftp(Data(1, 512), "127.0.0.1", 4000, 0, out);
  EXPECT_EQ(out.size(), before + 2);
}

// The announced size bounds the image: a block beyond it, or a full block
// where the announced last one is due, is refused at once, also when the
// 16-bit block numbers would wrap around.
TEST_F(BootLoaderEngine, RefusesAnImageLargerThanAnnounced) {
  const struct {
    int announced;
    std::uint32_t fullBlocks;
  } cases[] = {{2, 2}, {3, 3}, {0, 65536}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.announced);
    BootLoaderClient c = Make();
    ToTransfer(c, k.announced);
    for (std::uint32_t b = 1; b <= k.fullBlocks + 1 && c.state() == BootLoaderClient::State::Transferring;
         ++b)
      c.OnTftp(Data(static_cast<std::uint16_t>(b), b <= k.fullBlocks ? 512 : 0), "127.0.0.1", 4000, 0, out);
    EXPECT_EQ(c.state(), BootLoaderClient::State::Failed);
    EXPECT_LT(c.image().size(), static_cast<std::size_t>(k.announced) * 512 + 1);
  }
}

// A server that missed the last acknowledgement sends the last block again:
// the finished boot loader acknowledges it once more (RFC 1350 dallying).
TEST_F(BootLoaderEngine, AcknowledgesTheLastBlockAgainAfterTheEnd) {
  BootLoaderClient c = Make();
  ToTransfer(c, 1);
  c.OnTftp(Data(1, 10), "127.0.0.1", 4000, 0, out);
  ASSERT_EQ(c.state(), BootLoaderClient::State::Done);
  const std::size_t before = out.size();
  c.OnTftp(Data(1, 10), "127.0.0.1", 4000, 5, out);
  ASSERT_EQ(out.size(), before + 1);
  EXPECT_EQ(out.back().bytes, (Raw{0, 4, 0, 1}));
  EXPECT_EQ(c.image().size(), 10u);
}

TEST(ImageVersion, FromTheMarker) {
  const std::string image = std::string(
      "\x7F"
      "ELF junk VERSION=2.5.1\nrest",
      28);
  EXPECT_EQ(ImageVersion(corvane::protocol::ByteView(reinterpret_cast<const std::uint8_t*>(image.data()),
                                                     image.size())),
            "2.5.1");
  const Raw none(100, 'V');
  EXPECT_EQ(ImageVersion(none), "");
}

// ---- a whole upgrade over loopback ------------------------------------------------------------

// The PC side of an upgrade, as the manager's file server behaves: answer the
// BOOTP request, then send the next block for every read request or ACK.
class LoopbackUpgrade : public ::testing::Test {
 protected:
  std::uint64_t clockMs = 0;
  UdpPeer bootpServer;
  UdpPeer tftpServer;
  UdpPeer transfer;
  Simulator sim{Options()};
  Raw image;

  SimulatorOptions Options() {
    SimulatorOptions o;
    o.unicastPort = 0;
    o.bootpClientPort = 0;
    o.listenBroadcast = o.listenMulticast = false;
    o.clock = [this] { return clockMs; };
    return o;
  }

  DeviceConfig Device(const std::set<int>& drop = {}) {
    DeviceConfig c;
    c.record.name = "dev-a";
    c.record.mac = kMac;
    c.address = "127.0.0.31";
    c.firmwareVersion = "1.0";
    c.timings.restartMs = 100;
    c.timings.bootLoaderDelayMs = 0;
    c.timings.tftpTimeoutMs = 100;
    c.faults.dropDataBlocks = drop;
    c.bootNetwork.broadcastAddress = "127.0.0.1";
    c.bootNetwork.bootpServerPort = bootpServer.Port();
    c.bootNetwork.tftpServerPort = tftpServer.Port();
    return c;
  }

  Raw Upgrade() {
    Raw r(73, 0);
    std::memcpy(r.data(), "MORKELAN", 8);
    r[8] = 0x05;
    std::memcpy(r.data() + 26, kMac.data(), 6);
    return r;
  }

  // Serves `image`; returns the number of DATA packets sent.
  int Serve() {
    std::optional<devsim_test::Datagram> request;
    for (int i = 0; i < 50 && !request; ++i) {
      sim.Poll(10);
      request = bootpServer.Receive(5);
    }
    if (!request) return -1;
    const int blocks = static_cast<int>(image.size() / 512) + 1;
    bootpServer.Send(BootpReply(request->bytes, 0x7F000020, 0x7F000001, "fw.bin", blocks), request->from,
                     request->port);
    int sent = 0;
    std::size_t offset = 0;
    for (int round = 0; round < 400 && sent <= blocks && !sim.LogContains("upgrade abandoned"); ++round) {
      sim.Poll(5);
      auto d = sent == 0 ? tftpServer.Receive(5) : transfer.Receive(5);
      if (!d) {
        clockMs += 50;  // let the device's timeouts run
        continue;
      }
      if (sent == blocks) return sent;  // the last ACK ends the transfer
      const std::size_t n = std::min<std::size_t>(512, image.size() - offset);
      Raw data = Data(static_cast<std::uint16_t>(sent + 1), n);
      std::copy(image.begin() + static_cast<std::ptrdiff_t>(offset),
                image.begin() + static_cast<std::ptrdiff_t>(offset + n), data.begin() + 4);
      offset += n;
      transfer.Send(data, d->from, d->port);
      ++sent;
    }
    return sent;
  }

  std::string Version() {
    std::string v;
    sim.WithDevice(0, [&](devsim::Device& d) { v = d.firmwareVersion(); });
    return v;
  }
};

TEST_F(LoopbackUpgrade, DeviceFetchesTheImageAndComesBackWithItsVersionAndNewAddress) {
  ASSERT_TRUE(sim.AddDevice(Device()));
  image.assign(1000, 0x11);
  const std::string marker = "VERSION=3.1";
  std::copy(marker.begin(), marker.end(), image.begin() + 600);
  UdpPeer pc;
  ASSERT_TRUE(pc.Send(Upgrade(), "127.0.0.31", sim.UnicastPort(0)));
  EXPECT_EQ(Serve(), 2) << "1000 bytes: a full block and one of 488 bytes";
  clockMs += 100;
  sim.Poll(0);
  EXPECT_EQ(Version(), "3.1");
  EXPECT_EQ(sim.Address(0), "127.0.0.32") << "the address the BOOTP reply offered";
  EXPECT_TRUE(sim.LogContains("upgraded to version 3.1"));
}

TEST_F(LoopbackUpgrade, ADroppedBlockMeetsAServerThatDoesNotResendAndTheUpgradeIsAbandoned) {
  ASSERT_TRUE(sim.AddDevice(Device({2})));
  image.assign(1500, 0x22);
  UdpPeer pc;
  ASSERT_TRUE(pc.Send(Upgrade(), "127.0.0.31", sim.UnicastPort(0)));
  Serve();
  clockMs += 200;
  sim.Poll(0);
  EXPECT_EQ(Version(), "1.0");
  EXPECT_TRUE(sim.LogContains("DATA block 3 arrived while block 2 was expected"));
  EXPECT_TRUE(sim.LogContains("upgrade abandoned"));
}

TEST_F(LoopbackUpgrade, ADeviceWaitingInItsBootLoaderAnswersOnlyTheBootLoaderUpgrade) {
  DeviceConfig c = Device();
  c.startInBootLoader = true;
  ASSERT_TRUE(sim.AddDevice(c));
  UdpPeer pc;
  Raw search = {'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N', 0};
  pc.Send(search, "127.0.0.31", sim.UnicastPort(0));
  sim.Poll(20);
  EXPECT_FALSE(pc.Receive(5));
  Raw request = Upgrade();
  std::memcpy(request.data() + 10, "CVN1", 4);
  std::memset(request.data() + 26, 0, 6);
  request[31] = 1;
  pc.Send(request, "127.0.0.31", sim.UnicastPort(0));
  image.assign(100, 0x33);
  EXPECT_EQ(Serve(), 1);
  EXPECT_TRUE(sim.LogContains("upgrade request in the boot loader"));
}

}  // namespace
}  // namespace devsim
