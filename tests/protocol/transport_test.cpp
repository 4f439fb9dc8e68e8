// The transports on real sockets against the simulated devices: unicast on
// loopback; broadcast and multicast inside network namespaces of the test's
// own (a "pc" side and a "dev" side joined by a veth pair).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "corvane/protocol/search_dlg.h"
#include "corvane/protocol/search_poll.h"
#include "corvane/protocol/transports.h"
#include "devsim/simulator.h"
#include "headless_test.h"
#include "netns.h"
#include "send_guard.h"
#include "tk/headless.h"

namespace corvane::protocol {
namespace {

using devsim::DeviceConfig;
using devsim::Simulator;

DeviceConfig MakeDevice(const std::string& name, std::uint8_t macLast, const std::string& address,
                        bool twoPort) {
  DeviceConfig c;
  c.record.name = name;
  c.record.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, macLast};
  c.record.portCount = twoPort ? 2 : 1;
  c.address = address;
  c.timings.restartMs = 100;
  return c;
}

int Answers(const Simulator& sim) {
  int n = 0;
  for (const auto& e : sim.Log()) n += e.text.rfind("answered code 1", 0) == 0 ? 1 : 0;
  return n;
}

// Lets the devices answer and the transports read, until `done` (bounded).
bool Exchange(Simulator* sim, const std::function<bool()>& done, int rounds = 100) {
  for (int i = 0; i < rounds; ++i) {
    if (sim != nullptr) sim->Poll(5);
    tk::headless::PumpSockets(5);
    if (done()) return true;
  }
  return done();
}

// Lets the devices answer until the transports had `n` read notifications (bounded).
bool ExchangeReads(Simulator* sim, int n) {
  int delivered = 0;
  for (int i = 0; i < 100 && delivered < n; ++i) {
    if (sim != nullptr) sim->Poll(5);
    delivered += tk::headless::PumpSockets(5);
  }
  return delivered >= n;
}

// ---- unicast on loopback ----------------------------------------------------------------

class UnicastTransport : public HeadlessTest {
 protected:
  std::unique_ptr<Simulator> sim;

  void SetUp() override {
    HeadlessTest::SetUp();
    devsim::SimulatorOptions o;
    o.unicastPort = 0;
    o.listenBroadcast = o.listenMulticast = false;
    sim = std::make_unique<Simulator>(o);
  }
  void TearDown() override {
    sim.reset();
    HeadlessTest::TearDown();
  }
  // A status query from `socket` to device `index`; waits for its reply.
  bool Query(CUnicastSocket& socket, int index) {
    socket.ResetBuffer();
    const Bytes request = BuildSearchRequest();
    EXPECT_TRUE(socket.Send(request.data(), 9, sim->Address(index), sim->UnicastPort(index)));
    return Exchange(sim.get(), [&] { return socket.Length() != -1; });
  }
};

TEST_F(UnicastTransport, MarksOneAndTwoPortReplies) {
  ASSERT_TRUE(sim->AddDevice(MakeDevice("one", 1, "127.0.0.41", false)));
  ASSERT_TRUE(sim->AddDevice(MakeDevice("two", 2, "127.0.0.42", true)));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  ASSERT_TRUE(Query(socket, 0));
  EXPECT_EQ(socket.Length(), 73);
  EXPECT_EQ(socket.Marker(), 1);
  EXPECT_TRUE(socket.ReplyReceived());
  EXPECT_FALSE(socket.TwoPortReplyReceived());
  EXPECT_EQ(socket.Peek().bytes[73], 0xCC);
  EXPECT_EQ(socket.SenderAddress(), "127.0.0.41");
  ASSERT_TRUE(Query(socket, 1));
  EXPECT_EQ(socket.Length(), 98);
  EXPECT_EQ(socket.Marker(), 2);
  EXPECT_TRUE(socket.TwoPortReplyReceived());
  socket.ClearReplyFlags(true);
  EXPECT_FALSE(socket.ReplyReceived());
  EXPECT_FALSE(socket.TwoPortReplyReceived());
}

TEST_F(UnicastTransport, WrongMagicMarksZeroAndWipesTheBufferButKeepsTheLength) {
  DeviceConfig c = MakeDevice("bad", 3, "127.0.0.43", false);
  c.faults.wrongMagic = true;
  ASSERT_TRUE(sim->AddDevice(c));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  ASSERT_TRUE(Query(socket, 0));
  EXPECT_EQ(socket.Length(), 73);
  EXPECT_EQ(socket.Marker(), 0);
  EXPECT_FALSE(socket.ReplyReceived());
  EXPECT_EQ(socket.Peek().bytes[0], 0xCC);
  DeviceTable table;
  EXPECT_EQ(PollUnicastSearch(table, socket, true), -1);
}

TEST_F(UnicastTransport, ADatagramOver256BytesIsAFailedReceive) {
  DeviceConfig c = MakeDevice("big", 4, "127.0.0.44", false);
  c.faults.oversizeReply = 300;
  ASSERT_TRUE(sim->AddDevice(c));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  socket.ResetBuffer();
  const Bytes request = BuildSearchRequest();
  socket.Send(request.data(), 9, sim->Address(0), sim->UnicastPort(0));
  ASSERT_TRUE(ExchangeReads(sim.get(), 1));
  EXPECT_EQ(socket.Length(), -1);
  EXPECT_FALSE(socket.ReplyReceived());
  EXPECT_EQ(socket.Peek().bytes[0], 0xCC);
}

TEST_F(UnicastTransport, AnIPSearchReplyIsStoredInTheTable) {
  ASSERT_TRUE(sim->AddDevice(MakeDevice("dev", 0x0F, "127.0.0.45", true)));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  ASSERT_TRUE(Query(socket, 0));
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollUnicastSearch(*table, socket, true), 98);
  EXPECT_EQ(table->PortCount(0), 2);
  EXPECT_EQ(table->MacTextEntry(0), "02-00-5E-01-A2-0F");
}

// ---- the poller on a ring filled by hand -------------------------------------------------

class PollerTest : public HeadlessTest {};

// Receives one reply-shaped datagram into the write slot, as a transport does:
// one-port (73 bytes), two-port (98 bytes, second magic) or with a wrong magic
// (the multicast transport then leaves the length behind).
enum class Shape { OnePort, TwoPort, WrongMagic };
void PutReply(SearchReceiveArea& s, std::uint8_t code, std::uint8_t macLast, Shape shape) {
  const int length = shape == Shape::TwoPort ? 98 : 73;
  std::uint8_t* slot = s.WriteSlot();
  std::memcpy(slot, shape == Shape::WrongMagic ? "MORKELAX" : "MORKELAN", 8);
  slot[8] = code;
  slot[31] = macLast;
  if (shape == Shape::TwoPort) std::memcpy(slot + 73, "MORKELAN", 8);
  s.Record(length);
}

TEST_F(PollerTest, TakesSlotKInStepWithTheTable) {
  SearchReceiveArea s;
  PutReply(s, 0x01, 0xA0, Shape::OnePort);
  PutReply(s, 0x21, 0xA1, Shape::TwoPort);
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), 73);
  EXPECT_EQ(PollSearchSlot(*table, s, true), 98);
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1) << "slot 2 is empty";
  EXPECT_EQ(table->Slot(0)[31], 0xA0);
  EXPECT_EQ(table->Slot(1)[31], 0xA1);
  EXPECT_EQ(table->PortCount(1), 2);
  EXPECT_FALSE(s.ReplyReceived());
  EXPECT_FALSE(s.TwoPortReplyReceived());
}

TEST_F(PollerTest, AnAcceptedReplyThatIsNotASearchReplyIsSkipped) {
  SearchReceiveArea s;
  PutReply(s, 0x03, 0xB0, Shape::OnePort);  // a set reply where a search reply was expected
  PutReply(s, 0x01, 0xB1, Shape::OnePort);
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  EXPECT_EQ(s.WritePosition(), 1);
  EXPECT_EQ(PollSearchSlot(*table, s, true), 73);
  EXPECT_EQ(table->Slot(0)[31], 0xB1);
  EXPECT_EQ(s.TakeSlot(1).length, -1);
}

TEST_F(PollerTest, EmptyOrRejectedSlotsAreNotStored) {
  SearchReceiveArea s;
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  PutReply(s, 0x01, 0xC0, Shape::WrongMagic);  // the multicast transport's wrong-magic leftovers
  ASSERT_EQ(s.TakeSlot(0).length, 73);
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  EXPECT_EQ(table->NextSlot(), 0);
}

// ---- broadcast and multicast in namespaces ---------------------------------------------------

// Each test gets a "pc" and a "dev" namespace of its own (device addresses
// .10 and .11); without them (no root, no ip tool) the test is skipped here,
// before it can send anything.
class NamespacedTransport : public HeadlessTest {
 protected:
  std::unique_ptr<testnet::PcDevNetwork> net;
  std::unique_ptr<Simulator> sim;

  void SetUp() override {
    HeadlessTest::SetUp();
    net = std::make_unique<testnet::PcDevNetwork>(std::vector<std::string>{"198.51.100.10", "198.51.100.11"});
    if (!net->ok()) GTEST_SKIP() << "network namespaces unavailable: " << net->error();
  }
  // Devices in the "dev" namespace, on the protocol's own ports.
  ::testing::AssertionResult Devices(const std::vector<DeviceConfig>& devices) {
    testnet::Enter inDev(net->dev);
    if (!inDev.ok()) return ::testing::AssertionFailure() << "cannot enter " << net->dev.name();
    sim = std::make_unique<Simulator>();
    for (const auto& d : devices) {
      std::string error;
      if (!sim->AddDevice(d, &error)) return ::testing::AssertionFailure() << error;
    }
    return ::testing::AssertionSuccess();
  }
  void TearDown() override {
    sim.reset();
    net.reset();
    HeadlessTest::TearDown();
  }
};

TEST_F(NamespacedTransport, TwoRepliesBeforeAPollLandInSlots0And1) {
  ASSERT_TRUE(
      Devices({MakeDevice("a", 0x0A, "198.51.100.10", false), MakeDevice("b", 0x0B, "198.51.100.11", true)}));
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  EXPECT_EQ(t.broadcastOpened, 1);
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.broadcast->Received().WritePosition() == 2; }));
  const CBroadcastSocket& b = *t.broadcast;
  EXPECT_EQ(b.TakeSlot(0).length + b.TakeSlot(1).length, 73 + 98);
  EXPECT_EQ(b.TakeSlot(0).marker + b.TakeSlot(1).marker, 3) << "one one-port and one two-port reply";
  EXPECT_EQ(b.TakeSlot(2).length, -1);
  EXPECT_EQ(b.TakeSlot(2).marker, kMarkerEmpty);
  EXPECT_TRUE(b.Received().ReplyReceived());
  EXPECT_TRUE(b.Received().TwoPortReplyReceived());
  auto table = std::make_unique<DeviceTable>();
  EXPECT_GT(PollSearchSlot(*table, *t.broadcast, true), 0);
  EXPECT_EQ(table->NextSlot(), 1);
  EXPECT_GT(PollSearchSlot(*table, *t.broadcast, true), 0);
  EXPECT_EQ(table->NextSlot(), 2);
  EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0A"), -1);
  EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0B"), -1);
}

TEST_F(NamespacedTransport, AWrongMagicLeavesTheSlotForTheNextGoodReply) {
  DeviceConfig bad = MakeDevice("bad", 0x0A, "198.51.100.10", false);
  bad.faults.wrongMagic = true;
  DeviceConfig good = MakeDevice("good", 0x0B, "198.51.100.11", false);
  good.faults.replyDelayMs = 100;  // so that the damaged reply comes first
  ASSERT_TRUE(Devices({bad, good}));
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.broadcast->Received().WritePosition() == 1; }));
  EXPECT_EQ(Answers(*sim), 2);
  tk::headless::PumpSockets(50);
  EXPECT_EQ(t.broadcast->Received().WritePosition(), 1);
  EXPECT_EQ(t.broadcast->TakeSlot(0).bytes[31], 0x0B);
  EXPECT_EQ(t.broadcast->TakeSlot(1).length, -1);
  EXPECT_EQ(t.broadcast->TakeSlot(1).bytes[0], 0xCC);
}

TEST_F(NamespacedTransport, BroadcastReplyOver256BytesLeavesTheSlotEmpty) {
  DeviceConfig big = MakeDevice("big", 0x0A, "198.51.100.10", false);
  big.faults.oversizeReply = 257;
  ASSERT_TRUE(Devices({big}));
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  ASSERT_TRUE(ExchangeReads(sim.get(), 1));
  EXPECT_EQ(t.broadcast->Received().WritePosition(), 0);
  EXPECT_EQ(t.broadcast->TakeSlot(0).length, -1);
  EXPECT_FALSE(t.broadcast->Received().ReplyReceived());
}

TEST_F(NamespacedTransport, ASearchNobodyAnswersLeavesEverySlotEmpty) {
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  tk::headless::PumpSockets(100);
  for (int k = 0; k < ReceiveRing::kSlots; ++k) {
    ASSERT_EQ(t.broadcast->TakeSlot(k).length, -1) << k;
    ASSERT_EQ(t.broadcast->TakeSlot(k).marker, kMarkerEmpty) << k;
  }
}

TEST_F(NamespacedTransport, MulticastIsJoinedOncePerRun) {
  ASSERT_TRUE(Devices({MakeDevice("a", 0x0A, "198.51.100.10", false)}));
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  dialog.m_ttl = 1;
  ASSERT_TRUE(t.SendMulticastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.multicast->Received().WritePosition() == 1; }));
  EXPECT_EQ(t.multicast->TakeSlot(0).marker, 1);
  EXPECT_EQ(t.multicast->JoinedTtl(), 1);

  dialog.m_ttl = 5;
  dialog.m_multicastGroup = "225.1.2.4";
  t.SendMulticastSearch(dialog);
  EXPECT_EQ(t.multicast->JoinedTtl(), 1) << "the joined socket keeps its TTL";
  EXPECT_EQ(t.multicast->MembershipGroup(), "225.1.2.3");
  EXPECT_EQ(t.multicast->DestinationAddress(), "225.1.2.4") << "the destination follows the dialog";
  EXPECT_EQ(t.multicast->Received().WritePosition(), 0) << "the ring was reset for the new search";
}

TEST_F(NamespacedTransport, MulticastReceiveFailureShowsItsMessage) {
  DeviceConfig big = MakeDevice("big", 0x0A, "198.51.100.10", false);
  big.faults.oversizeReply = 300;
  ASSERT_TRUE(Devices({big}));
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  Transports t;
  CSearchDlg dialog;
  tk::headless::ExpectMessageBox(kMsgHostGroupReceiveError);
  ASSERT_TRUE(t.SendMulticastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return !tk::headless::MessageBoxes().empty(); }));
  EXPECT_EQ(t.multicast->TakeSlot(0).length, -1);
  EXPECT_EQ(t.multicast->Received().WritePosition(), 0);
}

TEST_F(NamespacedTransport, TheOwnDatagramFilterIgnoresOurOwnDatagrams) {
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  // A stack that refuses to switch loopback off: the filter must take over.
  tk::headless::Platform().multicastLoopbackFails = true;
  tk::headless::Platform().hostAddresses = {testnet::PcDevNetwork::kPcAddress};
  CMulticastSocket m;
  ASSERT_TRUE(m.Join(1, false, kDefaultMulticastGroup, kPcMulticastPort));
  ASSERT_TRUE(m.OwnDatagramFilterOn());
  EXPECT_EQ(m.OwnAddress(), testnet::PcDevNetwork::kPcAddress);
  EXPECT_EQ(m.OwnPort(), kPcMulticastPort);
  // A reply-shaped datagram sent by the socket to its own port comes back
  // through multicast loopback with our own address and port as sender.
  Bytes echo(73, 0);
  std::memcpy(echo.data(), "MORKELAN", 8);
  echo[8] = 0x01;
  ASSERT_TRUE(m.Send(echo.data(), 73, kDefaultMulticastGroup, kPcMulticastPort));
  ASSERT_TRUE(Exchange(nullptr, [&] { return m.SenderPort() == kPcMulticastPort; }));
  EXPECT_EQ(m.Received().WritePosition(), 0);
  EXPECT_EQ(m.TakeSlot(0).length, -1);
  EXPECT_FALSE(m.Received().ReplyReceived());

  // The same datagram from another port of this PC is taken.
  tk::BlockingUdpSocket other;
  ASSERT_TRUE(other.Open());
  ASSERT_EQ(other.SendTo(echo.data(), 73, kPcMulticastPort, kDefaultMulticastGroup), 73);
  ASSERT_TRUE(Exchange(nullptr, [&] { return m.Received().WritePosition() == 1; }));
}

// 256 replies arriving at once land in the ring without loss.
TEST_F(NamespacedTransport, ABurstOf256RepliesLandsWithoutLoss) {
  int blaster = -1;
  {
    testnet::Enter inDev(net->dev);
    ASSERT_TRUE(inDev.ok());
    blaster = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  ASSERT_GE(blaster, 0);
  testnet::Enter inPc(net->pc);
  ASSERT_TRUE(inPc.ok());
  CBroadcastSocket b;
  ASSERT_TRUE(b.Open(kPcBroadcastPort));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kPcBroadcastPort);
  to.sin_addr.s_addr = inet_addr(testnet::PcDevNetwork::kPcAddress);
  for (int i = 0; i < 256; ++i) {
    devsim::Device d(MakeDevice("burst", static_cast<std::uint8_t>(i), "198.51.100.10", i % 2 == 1));
    const Bytes reply = d.Reply(0x01);
    testguard::GuardedSendTo(blaster, reply.data(), reply.size(), 0, to);
  }
  ::close(blaster);
  tk::headless::PumpUntil([&] { return b.TakeSlot(255).length > 0; }, 5000);
  EXPECT_EQ(b.Received().WritePosition(), 0) << "wrapped after 256";
  auto table = std::make_unique<DeviceTable>();
  for (int i = 0; i < 256; ++i) {
    ASSERT_GT(PollSearchSlot(*table, b, true), 0) << "reply " << i;
    ASSERT_EQ(table->Slot(i)[31], i) << "in arrival order";
    ASSERT_EQ(table->PortCount(i), i % 2 == 1 ? 2 : 1);
  }
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-FF"), 255);
}

// A program started by the test, stopped by its pid when the test ends.
class Child {
 public:
  // Runs the arguments with stdout into a pipe.
  explicit Child(const std::vector<std::string>& args) {
    int out[2];
    if (::pipe(out) != 0) return;
    m_pid = ::fork();
    if (m_pid == 0) {
      ::dup2(out[1], 1);
      ::close(out[0]);
      std::vector<char*> argv;
      for (const auto& a : args) argv.push_back(const_cast<char*>(a.c_str()));
      argv.push_back(nullptr);
      ::execvp(argv[0], argv.data());
      ::_exit(127);
    }
    ::close(out[1]);
    m_out = out[0];
  }
  ~Child() {
    Stop();
    if (m_out >= 0) ::close(m_out);
  }
  // Reads its output until `text` appears or the output ends.
  std::string ReadUntil(const std::string& text) {
    std::string seen;
    char c = 0;
    while (m_out >= 0 && seen.find(text) == std::string::npos && ::read(m_out, &c, 1) == 1) seen += c;
    return seen;
  }
  // SIGTERM, then its exit status (-1 when it did not exit normally).
  int Stop() {
    if (m_pid <= 0) return m_status;
    ::kill(m_pid, SIGTERM);
    int status = 0;
    ::waitpid(m_pid, &status, 0);
    m_pid = -1;
    m_status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return m_status;
  }

 private:
  pid_t m_pid = -1;
  int m_out = -1;
  int m_status = -1;
};

// The simulator program with the two-device example answers a search.
TEST_F(NamespacedTransport, TheDevsimProgramWithTheExampleAnswersABroadcastSearch) {
  Child devsim({"ip", "netns", "exec", net->dev.name(), DEVSIM_PROGRAM, "--config",
                DEVSIM_EXAMPLES_DIR "/two-devices.json"});
  const std::string banner = devsim.ReadUntil("ready");
  ASSERT_NE(banner.find("2 device(s) ready"), std::string::npos) << banner;
  {
    testnet::Enter inPc(net->pc);
    ASSERT_TRUE(inPc.ok());
    Transports t;
    CSearchDlg dialog;
    ASSERT_TRUE(t.SendBroadcastSearch(dialog));
    EXPECT_TRUE(tk::headless::PumpUntil([&] { return t.broadcast->Received().WritePosition() == 2; }, 3000));
    auto table = std::make_unique<DeviceTable>();
    PollSearchSlot(*table, *t.broadcast, true);
    PollSearchSlot(*table, *t.broadcast, true);
    EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0F"), -1);
    EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-B3-20"), -1);
  }
  EXPECT_EQ(devsim.Stop(), 0) << "a clean exit after SIGTERM";
}

}  // namespace
}  // namespace corvane::protocol
