// The boot-loader file exchange on a simulated link and clock: the simulator's
// boot loader (devsim) plays the device, the link can lose, repeat and delay
// datagrams, and every run checks the image the device received byte by byte.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "corvane/upgrade/boot_exchange.h"
#include "devsim/boot_loader.h"

namespace corvane::upgrade {
namespace {

constexpr std::uint32_t kServer = 0xC6336401;  // 198.51.100.1
constexpr std::uint32_t kClient = 0xC6336414;  // 198.51.100.20
constexpr unsigned kTransferPort = 40000;
constexpr std::uint64_t kLinkUs = 500;  // one way

Bytes Image(std::size_t size) {
  Bytes b(size);
  for (std::size_t i = 0; i < size; ++i) b[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
  return b;
}

class MemoryFile : public FileSource {
 public:
  explicit MemoryFile(Bytes bytes) : m_bytes(std::move(bytes)), m_size(m_bytes.size()) {}
  MemoryFile(Bytes bytes, std::optional<std::uint64_t> size) : m_bytes(std::move(bytes)), m_size(size) {}
  std::optional<std::uint64_t> Size() override { return m_size; }
  bool ReadAll(Bytes& out) override {
    out = m_bytes;
    return true;
  }

 private:
  Bytes m_bytes;
  std::optional<std::uint64_t> m_size;
};

struct Sent {
  Channel channel;
  std::uint32_t address;
  unsigned port;
  Bytes bytes;
  std::uint64_t atUs;
};

// Sockets and clock of one exchange. What the server sends reaches the peer at
// once; what the peer sends arrives kLinkUs later (plus any extra delay).
class FakeNet : public BootTransport, public BootClock {
 public:
  std::uint64_t now = 1'000'000;
  std::set<Channel> busy;  // ports another program holds
  std::set<Channel> open;
  std::vector<Sent> sent;
  std::function<void(const Sent&)> peer;
  std::function<void()> idle;  // time moved on

  void Deliver(Channel c, Bytes bytes, unsigned fromPort, std::uint64_t extraUs = 0) {
    m_inbox.push_back({now + kLinkUs + extraUs, m_order++, c, Datagram{std::move(bytes), kClient, fromPort}});
  }
  std::vector<Sent> Data() const {
    std::vector<Sent> d;
    for (const Sent& s : sent)
      if (s.channel == Channel::Transfer) d.push_back(s);
    return d;
  }

  OpenResult Open(Channel c) override {
    if (busy.count(c)) return OpenResult::InUse;
    open.insert(c);
    return OpenResult::Ok;
  }
  void Close(Channel c) override { open.erase(c); }
  int Receive(Channel c, int timeoutMs, Datagram& out) override {
    EXPECT_TRUE(open.count(c)) << "receive on a closed socket";
    const std::uint64_t limit = now + static_cast<std::uint64_t>(timeoutMs) * 1000;
    auto best = m_inbox.end();
    for (auto it = m_inbox.begin(); it != m_inbox.end(); ++it) {
      if (it->channel == c && it->at <= limit && (best == m_inbox.end() || Earlier(*it, *best))) best = it;
    }
    if (best == m_inbox.end()) {
      now = limit;
      if (idle) idle();
      return 0;
    }
    now = std::max(now, best->at);
    out = best->datagram;
    m_inbox.erase(best);
    return 1;
  }
  bool Send(Channel c, std::uint32_t address, unsigned port, ByteView bytes) override {
    EXPECT_TRUE(open.count(c)) << "send on a closed socket";
    sent.push_back({c, address, port, Bytes(bytes.begin(), bytes.end()), now});
    if (peer) peer(sent.back());
    return true;
  }
  std::uint64_t NowUs() override { return now; }

 private:
  struct Pending {
    std::uint64_t at;
    int order;
    Channel channel;
    Datagram datagram;
  };
  static bool Earlier(const Pending& a, const Pending& b) {
    return a.at != b.at ? a.at < b.at : a.order < b.order;
  }
  std::vector<Pending> m_inbox;
  int m_order = 0;
};

// The simulator's boot loader on the other end of the link.
class DevsimPeer {
 public:
  DevsimPeer(FakeNet& net, devsim::BootLoaderSettings s) : m_net(net), m_client(Settings(s), [](auto&) {}) {
    net.peer = [this](const Sent& s) { OnServer(s); };
    net.idle = [this] { Flush([&](auto& out) { m_client.Tick(Ms(), out); }); };
    Flush([&](auto& out) { m_client.Start(Ms(), out); });
  }
  const devsim::BootLoaderClient& client() const { return m_client; }
  std::function<std::uint64_t(const Bytes&)> extraDelay;  // per datagram sent by the device

 private:
  static devsim::BootLoaderSettings Settings(devsim::BootLoaderSettings s) {
    s.mac = {0x02, 0, 0x5E, 1, 2, 3};
    s.xid = 0xABCD1234;
    return s;
  }
  std::uint64_t Ms() const { return m_net.now / 1000; }
  template <class F>
  void Flush(F produce) {
    std::vector<devsim::BootLoaderSend> out;
    produce(out);
    for (auto& s : out) {
      const Channel c = s.bootp ? Channel::Bootp : s.port == 69 ? Channel::Tftp : Channel::Transfer;
      const std::uint64_t extra = extraDelay ? extraDelay(s.bytes) : 0;
      m_net.Deliver(c, s.bytes, s.bootp ? 68 : 2070, extra);
    }
  }
  void OnServer(const Sent& s) {
    if (s.channel == Channel::Bootp) return Flush([&](auto& out) { m_client.OnBootp(s.bytes, Ms(), out); });
    Flush([&](auto& out) { m_client.OnTftp(s.bytes, "198.51.100.1", kTransferPort, Ms(), out); });
  }
  FakeNet& m_net;
  devsim::BootLoaderClient m_client;
};

BootServeSettings Settings() {
  BootServeSettings s;
  s.firmwarePath = "C:\\fw\\qn520.bin";
  s.clientAddress = kClient;
  s.serverAddress = kServer;
  return s;
}

// A sound sender: a block goes out for the first time only after the previous
// one was acknowledged, and blocks go out in order.
void ExpectStopAndWait(const FakeNet& net) {
  std::uint16_t highest = 0;
  for (const Sent& d : net.Data()) {
    const std::uint16_t block = protocol::Get16(d.bytes, 2);
    EXPECT_TRUE(block == highest || block == highest + 1) << "block " << block << " after " << highest;
    highest = std::max(highest, block);
  }
}

TEST(BootpReply, EveryFieldAtItsOffset) {
  Bytes request(300, 0xEE);
  request[0] = 1, request[1] = 1, request[2] = 6;
  BootServeSettings s = Settings();
  s.firmwarePath = std::string(127, 'p') + "Z";  // 128 characters: no terminator
  const Bytes r = BuildBootpReply(request, s, 1000);
  ASSERT_EQ(r.size(), 516u);
  EXPECT_EQ(r[0], 2);
  EXPECT_EQ(Bytes(r.begin() + 1, r.begin() + 16), Bytes(request.begin() + 1, request.begin() + 16))
      << "echoed";
  EXPECT_EQ(Bytes(r.begin() + 16, r.begin() + 24), (Bytes{198, 51, 100, 20, 198, 51, 100, 1}));
  EXPECT_EQ(Bytes(r.begin() + 24, r.begin() + 108), Bytes(request.begin() + 24, request.begin() + 108));
  EXPECT_EQ(std::string(r.begin() + 108, r.begin() + 236), s.firmwarePath);
  EXPECT_EQ(Bytes(r.begin() + 236, r.begin() + 240), Bytes(4, 0xEE)) << "cookie echoed";
  const Bytes options = {53,  1, 2, 54, 4, 198, 51, 100, 1,  1, 4, 255, 255,
                         255, 0, 3, 4,  0, 0,   0,  0,   13, 2, 0, 2,   255};
  EXPECT_EQ(Bytes(r.begin() + 240, r.begin() + 266), options);
  EXPECT_EQ(Bytes(r.begin() + 266, r.begin() + 300), Bytes(34, 0xEE)) << "rest of the request echoed";
  EXPECT_EQ(Bytes(r.begin() + 300, r.end()), Bytes(216, 0));
}

// Whole exchanges: sizes around the block boundary, with and without faults
// of the boot loader; the image must arrive whole, block by block.
TEST(BootExchange, DeliversTheImageWholeThroughLossRepeatsAndReordering) {
  const struct {
    const char* name;
    std::size_t size;
    std::set<int> drop;
    std::set<int> duplicate;
    int loss, reorder;
    std::uint32_t minRetransmissions;
  } cases[] = {
      {"1000 bytes", 1000, {}, {}, 0, 0, 0},
      {"1024 bytes, empty last block", 1024, {}, {}, 0, 0, 0},
      {"under one block", 300, {}, {}, 0, 0, 0},
      {"lost DATA", 5000, {3}, {}, 0, 0, 1},
      {"lost first DATA", 5000, {1}, {}, 0, 0, 1},
      {"lost last DATA", 5000, {10}, {}, 0, 0, 1},
      {"duplicated ACKs", 5000, {}, {1, 2, 5}, 0, 0, 0},
      {"5 % loss and reordering", 200000, {}, {}, 5, 5, 10},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    devsim::BootLoaderSettings ds;
    ds.dropDataBlocks = k.drop;
    ds.duplicateAckBlocks = k.duplicate;
    ds.lossPercent = k.loss;
    ds.reorderPercent = k.reorder;
    ds.tftpTries = 100;
    DevsimPeer peer(net, ds);
    MemoryFile file(Image(k.size));
    std::vector<std::uint32_t> progress;
    BootServeStats stats;
    const ServeStatus status = ServeBootImage(
        Settings(), net, net, file, [&](std::uint32_t a, std::uint32_t) { progress.push_back(a); }, &stats);
    EXPECT_EQ(status, ServeStatus::Success) << ServeStatusMessage(status);
    EXPECT_EQ(peer.client().state(), devsim::BootLoaderClient::State::Done) << peer.client().failure();
    EXPECT_EQ(peer.client().image(), Image(k.size));
    const std::uint32_t blocks = static_cast<std::uint32_t>(k.size / 512 + 1);
    EXPECT_EQ(stats.blocks, blocks);
    ASSERT_FALSE(net.Data().empty());
    EXPECT_EQ(net.Data().back().bytes.size(), k.size % 512 + 4) << "the last DATA is short";
    EXPECT_EQ(progress.size(), blocks);
    EXPECT_GE(stats.retransmissions, k.minRetransmissions);
    if (k.loss == 0 && k.reorder == 0) {
      EXPECT_EQ(stats.retransmissions, k.minRetransmissions) << "nothing sent twice without a loss";
    }
    ExpectStopAndWait(net);
    EXPECT_TRUE(net.open.empty()) << "every socket closed";
  }
}

// A lost block goes out again after a time-out that follows the round trip,
// long before the boot loader's own 2-second retry. A block acknowledged after
// it went out again gives no round-trip sample: the backed-off time-out stays
// for the next block.
TEST(BootExchange, RetransmitsALostBlockAfterTheMeasuredRoundTrip) {
  const struct {
    const char* name;
    std::set<int> drop;
    int block;  // whose two sends are timed
    std::uint64_t lowUs, highUs;
  } cases[] = {
      {"a 1 ms round trip gives the lower bound", {20}, 20, 20'000, 30'000},
      {"no sample from a resent block", {20, 21}, 21, 40'000, 50'000},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    devsim::BootLoaderSettings ds;
    ds.dropDataBlocks = k.drop;
    DevsimPeer peer(net, ds);
    MemoryFile file(Image(30 * 512));
    ASSERT_EQ(ServeBootImage(Settings(), net, net, file), ServeStatus::Success);
    std::vector<std::uint64_t> times;
    for (const Sent& d : net.Data())
      if (protocol::Get16(d.bytes, 2) == k.block) times.push_back(d.atUs);
    ASSERT_EQ(times.size(), 2u);
    EXPECT_GE(times[1] - times[0], k.lowUs);
    EXPECT_LE(times[1] - times[0], k.highUs);
  }
}

// An acknowledgement that comes late (after the block went out again) arrives
// behind the newer one and must not release a block of its own.
TEST(BootExchange, IgnoresAStaleAcknowledgementThatArrivesLate) {
  FakeNet net;
  DevsimPeer peer(net, {});
  int acks2 = 0;
  peer.extraDelay = [&](const Bytes& b) -> std::uint64_t {
    const bool ack2 = b.size() == 4 && b[1] == 4 && protocol::Get16(b, 2) == 2;
    return ack2 && acks2++ == 0 ? 30'000 : 0;  // the first ACK 2 comes 30 ms late
  };
  MemoryFile file(Image(100 * 512 + 10));
  BootServeStats stats;
  ASSERT_EQ(ServeBootImage(Settings(), net, net, file, {}, &stats), ServeStatus::Success);
  EXPECT_EQ(peer.client().image(), Image(100 * 512 + 10));
  EXPECT_EQ(stats.retransmissions, 1u);
  EXPECT_GE(stats.ignored, 1u) << "the late ACK 2";
  ExpectStopAndWait(net);
  std::map<int, int> sends;
  for (const Sent& d : net.Data()) ++sends[protocol::Get16(d.bytes, 2)];
  std::map<int, int> once;
  for (int b = 1; b <= 101; ++b) once[b] = b == 2 ? 2 : 1;
  EXPECT_EQ(sends, once);
}

// A read request repeated before the first acknowledgement means block 1 was
// lost: it goes out again at once, not only when the time-out falls due.
TEST(BootExchange, AnswersARepeatedReadRequestWithBlockOne) {
  FakeNet net;
  devsim::BootLoaderSettings ds;
  ds.dropDataBlocks = {1};
  ds.tftpTimeoutMs = 1000;
  DevsimPeer peer(net, ds);
  BootServeSettings s = Settings();
  s.initialRtoMs = 5000;
  s.maxRtoMs = 8000;
  MemoryFile file(Image(700));
  const std::uint64_t start = net.now;
  ASSERT_EQ(ServeBootImage(s, net, net, file), ServeStatus::Success);
  EXPECT_LT(net.now - start, 1'100'000u) << "block 1 went out again with the repeated read request";
  EXPECT_EQ(peer.client().image(), Image(700));
}

// Silence from the client ends the exchange 10 seconds after its last word,
// also while blocks are being sent again; success needs the last block's ACK.
TEST(BootExchange, EndsAfterTenSecondsOfSilence) {
  const struct {
    const char* name;
    bool bootLoader;            // a boot loader asks at all
    int ackedBlocksBeforeDead;  // then it falls silent (-1: never)
  } cases[] = {{"nobody asks", false, -1}, {"silent after block 1", true, 1}, {"last ACK lost", true, 2}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    std::optional<DevsimPeer> peer;
    std::uint64_t lastWord = net.now;
    int acks = 0;
    if (k.bootLoader) {
      peer.emplace(net, devsim::BootLoaderSettings{});
      peer->extraDelay = [&](const Bytes& b) -> std::uint64_t {
        if (b.size() == 4 && b[1] == 4 && ++acks > k.ackedBlocksBeforeDead) return 3'600'000'000ull;
        lastWord = net.now + kLinkUs;
        return 0;
      };
    }
    MemoryFile file(Image(3 * 512 - 1));  // three blocks
    BootServeStats stats;
    EXPECT_EQ(ServeBootImage(Settings(), net, net, file, {}, &stats), ServeStatus::Timeout);
    EXPECT_EQ(net.now - lastWord, 10'000'000u);
    EXPECT_LT(stats.retransmissions, 12u);
    EXPECT_TRUE(net.open.empty());
  }
}

// A client that keeps talking without progress neither holds the window open
// nor draws block 1 out more often than the per-block cap.
TEST(BootExchange, TalkWithoutProgressIsCapped) {
  const Bytes rrq = {0, 1, 'f', 0, 'o', 'c', 't', 'e', 't', 0};
  const struct {
    const char* name;
    Channel channel;
    Bytes repeated;
  } cases[] = {
      {"repeated read requests", Channel::Tftp, rrq},
      {"stale acknowledgements", Channel::Transfer, {0, 4, 0, 0}},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    BootServeSettings s = Settings();
    s.answerBootp = false;
    net.Deliver(Channel::Tftp, rrq, 3000);
    for (std::uint64_t second = 1; second < 60; ++second)
      net.Deliver(k.channel, k.repeated, 3000, second * 1'000'000);
    MemoryFile file(Image(2000));
    const std::uint64_t start = net.now;
    EXPECT_EQ(ServeBootImage(s, net, net, file), ServeStatus::Timeout);
    EXPECT_EQ(net.now - start, kLinkUs + 10'000'000u) << "10 s after the read request";
    EXPECT_LE(net.Data().size(), 12u);
  }
}

// With the device's hardware address known, only its BOOTP request is
// answered: a DHCP client of the LAN that asks first gets nothing. A request
// the device repeats (its reply was lost) is answered again until it reads.
TEST(BootExchange, AnswersOnlyTheDevicesBootpRequest) {
  const protocol::MacAddress device = {0x02, 0, 0x5E, 1, 2, 3};
  const struct {
    const char* name;
    bool stranger;
    bool firstReplyLost;
  } cases[] = {{"a stranger asks first", true, false}, {"the first reply is lost", false, true}};
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    devsim::BootLoaderSettings other;
    other.mac = {0x00, 0x1B, 0x21, 9, 9, 9};
    other.xid = 0x55;
    if (k.stranger)
      net.Deliver(Channel::Bootp, devsim::BootLoaderClient(other, [](auto&) {}).BootpRequest(), 68);
    DevsimPeer peer(net, {});
    const auto toDevice = net.peer;
    int replies = 0;
    net.peer = [&](const Sent& d) {
      if (d.channel == Channel::Bootp && replies++ == 0 && k.firstReplyLost) return;
      toDevice(d);
    };
    BootServeSettings s = Settings();
    s.clientMac = device;
    MemoryFile file(Image(1500));
    EXPECT_EQ(ServeBootImage(s, net, net, file), ServeStatus::Success);
    EXPECT_EQ(peer.client().image(), Image(1500));
    EXPECT_EQ(replies, k.firstReplyLost ? 2 : 1);
    for (const Sent& d : net.sent) {
      if (d.channel != Channel::Bootp) continue;
      EXPECT_EQ(Bytes(d.bytes.begin() + 28, d.bytes.begin() + 34), Bytes(device.begin(), device.end()))
          << "a reply to the device only";
    }
    EXPECT_TRUE(net.open.empty());
  }
}

// Datagrams that keep coming without a BOOTP request end the wait after three
// 5-second spells; a request for another hardware type is one of them.
TEST(BootExchange, GivesUpWhenNoBootpRequestComesForThreeSpells) {
  FakeNet net;
  Bytes notEthernet(300, 0);
  notEthernet[0] = 1, notEthernet[1] = 6, notEthernet[2] = 6;
  for (std::uint64_t second = 0; second < 20; ++second)
    net.Deliver(Channel::Bootp, notEthernet, 68, second * 1'000'000);
  MemoryFile file(Image(10));
  const std::uint64_t start = net.now;
  EXPECT_EQ(ServeBootImage(Settings(), net, net, file), ServeStatus::BootpTimeout);
  EXPECT_GT(net.now - start, 15'000'000u);
  EXPECT_LT(net.now - start, 18'000'000u);
  EXPECT_TRUE(net.sent.empty());
}

// Ports held by another program, an unreadable file and an image the boot
// loader cannot take end the exchange before anything is sent.
TEST(BootExchange, RefusesBeforeSendingAnything) {
  const struct {
    const char* name;
    std::set<Channel> busy;
    std::optional<std::uint64_t> size;
    ServeStatus expected;
  } cases[] = {
      {"port 67 in use", {Channel::Bootp}, 10, ServeStatus::Port67InUse},
      {"port 69 in use", {Channel::Tftp}, 10, ServeStatus::Port69InUse},
      {"transfer port in use", {Channel::Transfer}, 10, ServeStatus::Port69InUse},
      {"file missing", {}, std::nullopt, ServeStatus::FileUnreadable},
      {"16 MiB", {}, 16'777'216, ServeStatus::FileTooLarge},
  };
  for (const auto& k : cases) {
    SCOPED_TRACE(k.name);
    FakeNet net;
    net.busy = k.busy;
    MemoryFile file(Image(10), k.size);
    EXPECT_EQ(ServeBootImage(Settings(), net, net, file), k.expected);
    EXPECT_TRUE(net.sent.empty());
    EXPECT_TRUE(net.open.empty());
  }
  MemoryFile largest{Bytes(kMaxImageSize)};
  FakeNet net;
  EXPECT_EQ(ServeBootImage(Settings(), net, net, largest), ServeStatus::Timeout)
      << "the largest image is served";
}

// In two steps, as the window runs it around the upgrade request: Prepare opens
// every socket and sends nothing, and what the boot loader sends before Serve
// is heard. A failed Prepare leaves nothing open and Serve repeats its failure;
// an exchange dropped unserved closes its sockets.
TEST(BootExchange, PreparesItsSocketsBeforeTheDeviceIsTold) {
  {
    FakeNet net;
    MemoryFile file(Image(1000));
    BootExchange exchange(Settings(), net, net, file);
    ASSERT_EQ(exchange.Prepare(), ServeStatus::Success);
    EXPECT_EQ(net.open, (std::set<Channel>{Channel::Bootp, Channel::Tftp, Channel::Transfer}));
    EXPECT_TRUE(net.sent.empty());
    DevsimPeer peer(net, {});  // asks at once
    EXPECT_EQ(exchange.Serve(), ServeStatus::Success);
    EXPECT_EQ(peer.client().image(), Image(1000));
    EXPECT_TRUE(net.open.empty());
  }
  {
    FakeNet net;
    net.busy = {Channel::Tftp};
    MemoryFile file(Image(1000));
    BootExchange exchange(Settings(), net, net, file);
    EXPECT_EQ(exchange.Prepare(), ServeStatus::Port69InUse);
    EXPECT_TRUE(net.open.empty());
    EXPECT_EQ(exchange.Serve(), ServeStatus::Port69InUse);
    EXPECT_TRUE(net.sent.empty());
  }
  FakeNet net;
  MemoryFile file(Image(1000));
  std::optional<BootExchange> exchange(std::in_place, Settings(), net, net, file);
  ASSERT_EQ(exchange->Prepare(), ServeStatus::Success);
  exchange.reset();
  EXPECT_TRUE(net.open.empty());
}

// Datagrams from another address or port than the client's are ignored; a
// TFTP error from the client ends the exchange.
TEST(BootExchange, OnlyTheClientIsHeard) {
  FakeNet net;
  BootServeSettings s = Settings();
  s.answerBootp = false;
  Bytes rrq = {0, 1, 'f', 0, 'o', 'c', 't', 'e', 't', 0};
  net.Deliver(Channel::Tftp, rrq, 3000);
  net.peer = [&](const Sent& d) {
    if (protocol::Get16(d.bytes, 2) != 1) return;
    net.Deliver(Channel::Transfer, {0, 4, 0, 1}, 3001);  // another port
    net.Deliver(Channel::Transfer, {0, 5, 0, 0, 'x', 0}, 3000, 100);
  };
  MemoryFile file(Image(2000));
  BootServeStats stats;
  EXPECT_EQ(ServeBootImage(s, net, net, file, {}, &stats), ServeStatus::ClientAborted);
  EXPECT_EQ(stats.ignored, 1u);
  EXPECT_EQ(net.Data().size(), 1u);
}

}  // namespace
}  // namespace corvane::upgrade
