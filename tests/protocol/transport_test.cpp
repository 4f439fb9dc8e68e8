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
    return Exchange(sim.get(), [&] { return socket.m_length != -1; });
  }
};

TEST_F(UnicastTransport, MarksOneAndTwoPortReplies) {
  ASSERT_TRUE(sim->AddDevice(MakeDevice("one", 1, "127.0.0.41", false)));
  ASSERT_TRUE(sim->AddDevice(MakeDevice("two", 2, "127.0.0.42", true)));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  ASSERT_TRUE(Query(socket, 0));
  EXPECT_EQ(socket.m_length, 73);
  EXPECT_EQ(socket.m_marker, 1);
  EXPECT_EQ(socket.m_replyReceived, 1);
  EXPECT_EQ(socket.m_twoPortReplyReceived, 0);
  EXPECT_EQ(socket.m_buffer[73], 0xCC);
  EXPECT_EQ(socket.m_senderAddress, "127.0.0.41");
  ASSERT_TRUE(Query(socket, 1));
  EXPECT_EQ(socket.m_length, 98);
  EXPECT_EQ(socket.m_marker, 2);
  EXPECT_EQ(socket.m_twoPortReplyReceived, 1);
  socket.ClearReplyFlags(true);
  EXPECT_EQ(socket.m_replyReceived, 0);
  EXPECT_EQ(socket.m_twoPortReplyReceived, 0);
}

TEST_F(UnicastTransport, WrongMagicMarksZeroAndWipesTheBufferButKeepsTheLength) {
  DeviceConfig c = MakeDevice("bad", 3, "127.0.0.43", false);
  c.faults.wrongMagic = true;
  ASSERT_TRUE(sim->AddDevice(c));
  CUnicastSocket socket;
  ASSERT_TRUE(socket.Open("127.0.0.1", 0));
  ASSERT_TRUE(Query(socket, 0));
  EXPECT_EQ(socket.m_length, 73);
  EXPECT_EQ(socket.m_marker, 0);
  EXPECT_EQ(socket.m_replyReceived, 0);
  EXPECT_EQ(socket.m_buffer[0], 0xCC);
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
  socket.m_length = -2;  // a value no receive leaves behind
  const Bytes request = BuildSearchRequest();
  socket.Send(request.data(), 9, sim->Address(0), sim->UnicastPort(0));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return socket.m_length != -2; }));
  EXPECT_EQ(socket.m_length, -1);
  EXPECT_EQ(socket.m_replyReceived, 0);
  EXPECT_EQ(socket.m_buffer[0], 0xCC);
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

void PutReply(SearchReceiveArea& s, int k, std::uint8_t code, std::uint8_t macLast, int marker) {
  auto& slot = s.m_ring.slots[k];
  std::memcpy(slot.data(), "MORKELAN", 8);
  slot[8] = code;
  slot[31] = macLast;
  s.m_slotLength[k] = 73;
  s.m_markers[k] = static_cast<std::uint8_t>(marker);
}

TEST_F(PollerTest, TakesSlotKInStepWithTheTable) {
  SearchReceiveArea s;
  PutReply(s, 0, 0x01, 0xA0, 1);
  PutReply(s, 1, 0x21, 0xA1, 2);
  s.m_writePosition = 2;
  s.m_replyReceived = s.m_twoPortReplyReceived = 1;
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), 73);
  EXPECT_EQ(PollSearchSlot(*table, s, true), 73);
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1) << "slot 2 is empty";
  EXPECT_EQ(table->Slot(0)[31], 0xA0);
  EXPECT_EQ(table->Slot(1)[31], 0xA1);
  EXPECT_EQ(table->PortCount(1), 2);
  EXPECT_EQ(s.m_replyReceived, 0);
  EXPECT_EQ(s.m_twoPortReplyReceived, 0);
}

TEST_F(PollerTest, AnAcceptedReplyThatIsNotASearchReplyIsSkipped) {
  SearchReceiveArea s;
  PutReply(s, 0, 0x03, 0xB0, 1);  // a set reply where a search reply was expected
  PutReply(s, 1, 0x01, 0xB1, 1);
  s.m_writePosition = 2;
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  EXPECT_EQ(s.m_writePosition, 1);
  EXPECT_EQ(PollSearchSlot(*table, s, true), 73);
  EXPECT_EQ(table->Slot(0)[31], 0xB1);
  EXPECT_EQ(s.m_slotLength[1], -1);
}

TEST_F(PollerTest, EmptyOrRejectedSlotsAreNotStored) {
  SearchReceiveArea s;
  auto table = std::make_unique<DeviceTable>();
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  PutReply(s, 0, 0x01, 0xC0, kMarkerEmpty);  // the multicast transport's wrong-magic leftovers
  EXPECT_EQ(PollSearchSlot(*table, s, true), -1);
  EXPECT_EQ(table->NextSlot(), 0);
}

// ---- broadcast and multicast in namespaces ---------------------------------------------------

class NamespacedTransport : public HeadlessTest {
 protected:
  std::unique_ptr<testnet::PcDevNetwork> net;
  std::unique_ptr<Simulator> sim;

  void Network(const std::vector<std::string>& deviceAddresses) {
    net = std::make_unique<testnet::PcDevNetwork>(deviceAddresses);
    if (!net->ok()) GTEST_SKIP() << "network namespaces unavailable: " << net->error();
  }
  // Devices in the "dev" namespace, on the protocol's own ports.
  void Devices(const std::vector<DeviceConfig>& devices) {
    testnet::Enter inDev(net->dev);
    ASSERT_TRUE(inDev.ok());
    sim = std::make_unique<Simulator>();
    for (const auto& d : devices) {
      std::string error;
      ASSERT_TRUE(sim->AddDevice(d, &error)) << error;
    }
  }
  void TearDown() override {
    sim.reset();
    net.reset();
    HeadlessTest::TearDown();
  }
};

TEST_F(NamespacedTransport, TwoRepliesBeforeAPollLandInSlots0And1) {
  Network({"198.51.100.10", "198.51.100.11"});
  Devices({MakeDevice("a", 0x0A, "198.51.100.10", false), MakeDevice("b", 0x0B, "198.51.100.11", true)});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  EXPECT_EQ(t.broadcastOpened, 1);
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.broadcast->m_receive.m_writePosition == 2; }));
  const CBroadcastSocket& b = *t.broadcast;
  EXPECT_EQ(b.m_receive.m_slotLength[0] + b.m_receive.m_slotLength[1], 73 + 98);
  EXPECT_EQ(b.m_receive.m_markers[0] + b.m_receive.m_markers[1], 3) << "one one-port and one two-port reply";
  EXPECT_EQ(b.m_receive.m_slotLength[2], -1);
  EXPECT_EQ(b.m_receive.m_markers[2], kMarkerEmpty);
  EXPECT_EQ(b.m_receive.m_replyReceived, 1);
  EXPECT_EQ(b.m_receive.m_twoPortReplyReceived, 1);
  auto table = std::make_unique<DeviceTable>();
  EXPECT_GT(PollSearchSlot(*table, t.broadcast->m_receive, true), 0);
  EXPECT_EQ(table->NextSlot(), 1);
  EXPECT_GT(PollSearchSlot(*table, t.broadcast->m_receive, true), 0);
  EXPECT_EQ(table->NextSlot(), 2);
  EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0A"), -1);
  EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0B"), -1);
}

TEST_F(NamespacedTransport, AWrongMagicLeavesTheSlotForTheNextGoodReply) {
  Network({"198.51.100.10", "198.51.100.11"});
  DeviceConfig bad = MakeDevice("bad", 0x0A, "198.51.100.10", false);
  bad.faults.wrongMagic = true;
  DeviceConfig good = MakeDevice("good", 0x0B, "198.51.100.11", false);
  good.faults.replyDelayMs = 100;  // so that the damaged reply comes first
  Devices({bad, good});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.broadcast->m_receive.m_writePosition == 1; }));
  EXPECT_EQ(Answers(*sim), 2);
  tk::headless::PumpSockets(50);
  EXPECT_EQ(t.broadcast->m_receive.m_writePosition, 1);
  EXPECT_EQ(t.broadcast->m_receive.m_ring.slots[0][31], 0x0B);
  EXPECT_EQ(t.broadcast->m_receive.m_slotLength[1], -1);
  EXPECT_EQ(t.broadcast->m_receive.m_ring.slots[1][0], 0xCC);
}

TEST_F(NamespacedTransport, BroadcastReplyOver256BytesLeavesTheSlotEmpty) {
  Network({"198.51.100.10"});
  DeviceConfig big = MakeDevice("big", 0x0A, "198.51.100.10", false);
  big.faults.oversizeReply = 257;
  Devices({big});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  t.broadcast->m_receive.m_slotLength[0] = -2;  // a value no receive leaves behind
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.broadcast->m_receive.m_slotLength[0] != -2; }));
  EXPECT_EQ(t.broadcast->m_receive.m_writePosition, 0);
  EXPECT_EQ(t.broadcast->m_receive.m_slotLength[0], -1);
  EXPECT_EQ(t.broadcast->m_receive.m_replyReceived, 0);
}

TEST_F(NamespacedTransport, ASearchNobodyAnswersLeavesEverySlotEmpty) {
  Network({"198.51.100.10"});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  ASSERT_TRUE(t.SendBroadcastSearch(dialog));
  tk::headless::PumpSockets(100);
  for (int k = 0; k < ReceiveRing::kSlots; ++k) {
    ASSERT_EQ(t.broadcast->m_receive.m_slotLength[k], -1) << k;
    ASSERT_EQ(t.broadcast->m_receive.m_markers[k], kMarkerEmpty) << k;
  }
}

TEST_F(NamespacedTransport, MulticastIsJoinedOncePerRun) {
  Network({"198.51.100.10"});
  Devices({MakeDevice("a", 0x0A, "198.51.100.10", false)});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  dialog.m_ttl = 1;
  ASSERT_TRUE(t.SendMulticastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return t.multicast->m_receive.m_writePosition == 1; }));
  EXPECT_EQ(t.multicast->m_receive.m_markers[0], 1);
  EXPECT_EQ(t.multicast->m_joinedTtl, 1);

  dialog.m_ttl = 5;
  dialog.m_multicastGroup = "225.1.2.4";
  t.SendMulticastSearch(dialog);
  EXPECT_EQ(t.multicast->m_joinedTtl, 1) << "the joined socket keeps its TTL";
  EXPECT_EQ(t.multicast->m_membershipGroup, "225.1.2.3");
  EXPECT_EQ(t.multicast->m_destinationAddress, "225.1.2.4") << "the destination follows the dialog";
  EXPECT_EQ(t.multicast->m_receive.m_writePosition, 0) << "the ring was reset for the new search";
}

TEST_F(NamespacedTransport, MulticastReceiveFailureShowsItsMessage) {
  Network({"198.51.100.10"});
  DeviceConfig big = MakeDevice("big", 0x0A, "198.51.100.10", false);
  big.faults.oversizeReply = 300;
  Devices({big});
  testnet::Enter inPc(net->pc);
  Transports t;
  CSearchDlg dialog;
  tk::headless::ExpectMessageBox(kMsgHostGroupReceiveError);
  ASSERT_TRUE(t.SendMulticastSearch(dialog));
  ASSERT_TRUE(Exchange(sim.get(), [&] { return !tk::headless::MessageBoxes().empty(); }));
  EXPECT_EQ(t.multicast->m_receive.m_slotLength[0], -1);
  EXPECT_EQ(t.multicast->m_receive.m_writePosition, 0);
}

TEST_F(NamespacedTransport, TheOwnDatagramFilterIgnoresOurOwnDatagrams) {
  Network({"198.51.100.10"});
  testnet::Enter inPc(net->pc);
  CMulticastSocket m;
  ASSERT_TRUE(m.Join(1, true, kDefaultMulticastGroup, kPcMulticastPort));
  // A reply-shaped datagram sent by the socket to its own port comes back
  // through multicast loopback with our own address and port as sender.
  Bytes echo(73, 0);
  std::memcpy(echo.data(), "MORKELAN", 8);
  echo[8] = 0x01;
  m.m_ownDatagramFilter = 1;
  m.m_ownAddress = testnet::PcDevNetwork::kPcAddress;
  m.m_ownPort = kPcMulticastPort;
  ASSERT_TRUE(m.Send(echo.data(), 73, kDefaultMulticastGroup, kPcMulticastPort));
  ASSERT_TRUE(Exchange(nullptr, [&] { return m.m_senderPort == kPcMulticastPort; }));
  EXPECT_EQ(m.m_receive.m_writePosition, 0);
  EXPECT_EQ(m.m_receive.m_slotLength[0], -1);
  EXPECT_EQ(m.m_receive.m_replyReceived, 0);

  m.m_ownDatagramFilter = 0;  // the same datagram without the filter is taken
  ASSERT_TRUE(m.Send(echo.data(), 73, kDefaultMulticastGroup, kPcMulticastPort));
  ASSERT_TRUE(Exchange(nullptr, [&] { return m.m_receive.m_writePosition == 1; }));
}

// 256 replies arriving at once land in the ring without loss.
TEST_F(NamespacedTransport, ABurstOf256RepliesLandsWithoutLoss) {
  Network({"198.51.100.10"});
  int blaster = -1;
  {
    testnet::Enter inDev(net->dev);
    blaster = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  ASSERT_GE(blaster, 0);
  testnet::Enter inPc(net->pc);
  CBroadcastSocket b;
  ASSERT_TRUE(b.Open(kPcBroadcastPort));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kPcBroadcastPort);
  to.sin_addr.s_addr = inet_addr(testnet::PcDevNetwork::kPcAddress);
  for (int i = 0; i < 256; ++i) {
    devsim::Device d(MakeDevice("burst", static_cast<std::uint8_t>(i), "198.51.100.10", i % 2 == 1));
    const Bytes reply = d.Reply(0x01);
    ::sendto(blaster, reply.data(), reply.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  }
  ::close(blaster);
  tk::headless::PumpUntil([&] { return b.m_receive.m_slotLength[255] > 0; }, 5000);
  EXPECT_EQ(b.m_receive.m_writePosition, 0) << "wrapped after 256";
  auto table = std::make_unique<DeviceTable>();
  for (int i = 0; i < 256; ++i) {
    ASSERT_GT(PollSearchSlot(*table, b.m_receive, true), 0) << "reply " << i;
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
  Network({"198.51.100.10", "198.51.100.11"});
  Child devsim({"ip", "netns", "exec", net->dev.name(), DEVSIM_PROGRAM, "--config",
                DEVSIM_EXAMPLES_DIR "/two-devices.json"});
  const std::string banner = devsim.ReadUntil("ready");
  ASSERT_NE(banner.find("2 device(s) ready"), std::string::npos) << banner;
  {
    testnet::Enter inPc(net->pc);
    Transports t;
    CSearchDlg dialog;
    ASSERT_TRUE(t.SendBroadcastSearch(dialog));
    EXPECT_TRUE(tk::headless::PumpUntil([&] { return t.broadcast->m_receive.m_writePosition == 2; }, 3000));
    auto table = std::make_unique<DeviceTable>();
    PollSearchSlot(*table, t.broadcast->m_receive, true);
    PollSearchSlot(*table, t.broadcast->m_receive, true);
    EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-A2-0F"), -1);
    EXPECT_NE(table->FindSlotByMacText("02-00-5E-01-B3-20"), -1);
  }
  EXPECT_EQ(devsim.Stop(), 0) << "a clean exit after SIGTERM";
}

}  // namespace
}  // namespace corvane::protocol
