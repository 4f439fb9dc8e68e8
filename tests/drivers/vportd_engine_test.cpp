// The data service's logic: bridge records, socket events and time in,
// actions out.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "engine.h"
#include "serial_requests.h"

namespace vportd {
namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint32_t kCom = 7;
constexpr uint32_t kMaxDword = 0xFFFFFFFFu;

struct Timeouts {
  uint32_t interval, multiplier, constant;
};

// A request as NEXT brings it; `length` is the payload's size unless given (a read's bytes wanted).
Bytes Record(uint32_t kind, uint32_t id, const Bytes& payload, uint32_t flags = 0, Timeouts t = {},
             uint32_t length = 0) {
  VportBridgeRequest request{id,
                             kind,
                             kCom,
                             length != 0 ? length : static_cast<uint32_t>(payload.size()),
                             {t.interval, t.multiplier, t.constant, 0, 0},
                             flags,
                             0,
                             0};
  if (kind == VPORT_BRIDGE_WRITE) request.total = request.length;  // the whole write in one piece
  Bytes record(VPORT_BRIDGE_HEADER_SIZE);
  VportWriteBridgeRequest(&request, record.data(), record.size());
  record.insert(record.end(), payload.begin(), payload.end());
  return record;
}

Bytes ReadRecord(uint32_t id, uint32_t wanted, Timeouts t) {
  return Record(VPORT_BRIDGE_READ, id, {}, 0, t, wanted);
}

// A write with its total time-out: `multiplier` ms a byte and `constant` ms.
Bytes WriteRecord(uint32_t id, const Bytes& bytes, uint32_t multiplier, uint32_t constant) {
  Bytes record = Record(VPORT_BRIDGE_WRITE, id, bytes);
  VportBridgeRequest request;
  VportReadBridgeRequest(record.data(), record.size(), &request);
  request.timeouts[3] = multiplier;
  request.timeouts[4] = constant;
  VportWriteBridgeRequest(&request, record.data(), record.size());
  return record;
}

// A piece of write `id` of `total` bytes starting at `offset`, as the driver hands it.
Bytes PieceRecord(uint32_t id, const Bytes& bytes, uint32_t total, uint32_t offset, uint32_t multiplier = 0,
                  uint32_t constant = 0) {
  Bytes record = WriteRecord(id, bytes, multiplier, constant);
  VportBridgeRequest request;
  VportReadBridgeRequest(record.data(), record.size(), &request);
  request.total = total;
  request.offset = offset;
  VportWriteBridgeRequest(&request, record.data(), record.size());
  return record;
}

Bytes Settings(uint8_t type, uint32_t connectAtStart, uint32_t maxPacket, bool endpoint = true) {
  VportRemoteSettings s{{127, 0, 0, 1}, {0x1F, 0x90}, type, connectAtStart, maxPacket};
  if (!endpoint) s.address[0] = s.address[3] = 0;
  Bytes out(VPORT_REQ_SIZE);
  VportWriteRemoteRequest(&s, out.data(), out.size());
  return out;
}

Bytes Text(const std::string& text) {
  return Bytes(text.begin(), text.end());
}

std::string TextOf(const Bytes& bytes) {
  return std::string(bytes.begin(), bytes.end());
}

// Drives one port and keeps the actions it produced.
struct Harness {
  Engine engine;
  uint64_t now = 1000;

  std::vector<Action> Feed(const Bytes& record) {
    EXPECT_TRUE(engine.HandleRequest(record.data(), record.size(), now));
    return engine.TakeActions();
  }
  std::vector<Action> Take() { return engine.TakeActions(); }
  // The socket of the only kConnect among `actions`; 0 if there is none.
  static uint64_t ConnectOf(const std::vector<Action>& actions) {
    uint64_t socket = 0;
    for (const Action& a : actions)
      if (a.kind == ActionKind::kConnect) socket = socket == 0 ? a.socket : ~0ull;
    return socket;
  }
  static std::vector<Action> Only(const std::vector<Action>& actions, ActionKind kind) {
    std::vector<Action> of;
    for (const Action& a : actions)
      if (a.kind == kind) of.push_back(a);
    return of;
  }
  // Opens a TCP port set to connect at start and makes the connection; its socket.
  uint64_t OpenConnected(uint32_t maxPacket = 100) {
    uint64_t socket = ConnectOf(Feed(Record(VPORT_BRIDGE_OPEN, 0, Settings(0, 1, maxPacket))));
    engine.Connected(socket, now);
    Take();
    return socket;
  }
};

// The port connects when opened with "connect at start" or when the manager
// asked for it, and only to an endpoint it has; Connect and Close pressed
// later connect and disconnect it. A port the manager connected stays
// connected when its program closes it.
TEST(VportdEngine, ConnectsAndDisconnectsAsThePortIsSet) {
  struct Case {
    uint32_t connectAtStart, flags;
    bool endpoint, connects;
  } const cases[] = {{1, 0, true, true}, {0, 1, true, true}, {0, 0, true, false}, {1, 1, false, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.connectAtStart << "/" << c.flags << "/" << c.endpoint);
    Harness h;
    auto opened = h.Feed(Record(VPORT_BRIDGE_OPEN, 0, Settings(0, c.connectAtStart, 0, c.endpoint), c.flags));
    EXPECT_EQ(h.ConnectOf(opened) != 0, c.connects);
    if (!c.connects) {
      // The driver hears the link state at every open, here idle; nothing else happens.
      ASSERT_EQ(opened.size(), 1u);
      EXPECT_EQ(opened[0].kind, ActionKind::kReportState);
      EXPECT_EQ(opened[0].state, uint32_t{VPORT_LINK_IDLE});
      continue;
    }
    ASSERT_EQ(h.Only(opened, ActionKind::kReportState).size(), 1u);
    EXPECT_EQ(h.Only(opened, ActionKind::kReportState)[0].state, uint32_t{VPORT_LINK_CONNECTING});
    auto closed = h.Feed(Record(VPORT_BRIDGE_SETTINGS, 0, Settings(0, c.connectAtStart, 0), 0));
    ASSERT_EQ(h.Only(closed, ActionKind::kCloseSocket).size(), 1u);
    EXPECT_EQ(h.Only(closed, ActionKind::kReportState).at(0).state, uint32_t{VPORT_LINK_IDLE});
    uint64_t again = h.ConnectOf(h.Feed(Record(VPORT_BRIDGE_SETTINGS, 0, Settings(0, 0, 0), 1)));
    ASSERT_NE(again, 0u);
    EXPECT_TRUE(h.Only(h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {})), ActionKind::kCloseSocket).empty())
        << "connected by the manager, the port stays so after its program closed it";
    auto gone = h.Feed(Record(VPORT_BRIDGE_SETTINGS, 0, Settings(0, 0, 0), 0));
    ASSERT_EQ(h.Only(gone, ActionKind::kCloseSocket).size(), 1u);
    EXPECT_EQ(h.Only(gone, ActionKind::kCloseSocket)[0].socket, again);
  }
}

// A lost connection is tried again after waits that double; events of a
// socket already given up change nothing.
TEST(VportdEngine, ReconnectsWithBackoffIgnoringOldSockets) {
  Harness h;
  uint64_t first = h.OpenConnected();
  h.engine.Failed(first, h.now);
  auto lost = h.Take();
  ASSERT_EQ(h.Only(lost, ActionKind::kCloseSocket).size(), 1u);
  EXPECT_EQ(h.Only(lost, ActionKind::kReportState).at(0).state, uint32_t{VPORT_LINK_LOST});
  uint64_t socket = first;
  for (uint64_t wait :
       {VPORT_LINK_FIRST_RETRY_MS, 2 * VPORT_LINK_FIRST_RETRY_MS, 4 * VPORT_LINK_FIRST_RETRY_MS}) {
    SCOPED_TRACE(wait);
    EXPECT_EQ(h.engine.NextDue(), h.now + wait);
    h.engine.Tick(h.now + wait - 1);
    EXPECT_TRUE(h.Take().empty());
    h.now += wait;
    h.engine.Tick(h.now);
    uint64_t next = h.ConnectOf(h.Take());
    ASSERT_NE(next, 0u);
    EXPECT_NE(next, socket);
    h.engine.Connected(socket, h.now);  // the old socket's late news
    h.engine.Received(first, Text("stale").data(), 5, h.now);
    EXPECT_TRUE(h.Take().empty());
    socket = next;
    h.engine.Failed(socket, h.now);
    EXPECT_EQ(h.Only(h.Take(), ActionKind::kCloseSocket).at(0).socket, socket);
  }
}

// Writes go out in frames of the packet size, in order, across short and
// blocked sends; a write is answered once all of it is queued, which for one
// larger than the queue is after frames made room.
TEST(VportdEngine, SendsWritesInFramesInOrder) {
  Harness h;
  uint64_t socket = h.OpenConnected(100);
  Bytes written(kSendQueueBytes + 250);
  for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i * 7 + i / 251);
  auto actions = h.Feed(Record(VPORT_BRIDGE_WRITE, 9, written));
  EXPECT_TRUE(h.Only(actions, ActionKind::kAnswerWrite).empty()) << "not all queued yet";
  Bytes sent;
  std::vector<Action> answers;
  for (int round = 0; round < 10000 && sent.size() < written.size(); ++round) {
    auto sends = h.Only(actions, ActionKind::kSend);
    auto answered = h.Only(actions, ActionKind::kAnswerWrite);
    answers.insert(answers.end(), answered.begin(), answered.end());
    ASSERT_EQ(sends.size(), 1u) << "one send out at a time";
    ASSERT_LE(sends[0].bytes.size(), 100u);
    // Every third send is blocked, every other one short; the socket reports
    // room also while a send is on its way, as with a connect just done.
    if (round % 3 == 2) {
      h.engine.Sent(socket, 0, true, h.now);
      EXPECT_TRUE(h.Take().empty());
      h.engine.Writable(socket, h.now);
    } else {
      h.engine.Writable(socket, h.now);  // room reported while the send is on its way: no second send
      size_t taken = round % 2 == 0 ? sends[0].bytes.size() : sends[0].bytes.size() / 2 + 1;
      sent.insert(sent.end(), sends[0].bytes.begin(), sends[0].bytes.begin() + taken);
      h.engine.Sent(socket, taken, false, h.now);
    }
    actions = h.Take();
  }
  EXPECT_TRUE(sent == written);
  ASSERT_EQ(answers.size(), 1u);
  EXPECT_EQ(answers[0].id, 9u);
  EXPECT_EQ(answers[0].status, 0u);
  EXPECT_EQ(answers[0].length, written.size());
}

// While the connection is being made again, writes are held as long as they
// fit and go first once it is back; one that does not fit is refused, as is
// any while the port is not connected.
TEST(VportdEngine, HoldsWritesWhileReconnectingWithinTheBound) {
  Harness h;
  uint64_t socket = h.OpenConnected(1000);
  h.engine.Failed(socket, h.now);
  h.Take();
  Bytes held(kSendQueueBytes - 10, 'h');
  struct Case {
    uint32_t id;
    size_t size;
    uint32_t status;
    uint32_t length;
  } const cases[] = {{1, held.size(), 0, static_cast<uint32_t>(held.size())},
                     {2, 20, kStatusDeviceNotConnected, 0},
                     {3, 10, 0, 10}};
  for (const Case& c : cases) {
    auto answers =
        h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, c.id, Bytes(c.size, 'h'))), ActionKind::kAnswerWrite);
    ASSERT_EQ(answers.size(), 1u) << c.id;
    EXPECT_EQ(answers[0].status, c.status) << c.id;
    EXPECT_EQ(answers[0].length, c.length) << c.id;
  }
  h.now += VPORT_LINK_FIRST_RETRY_MS;
  h.engine.Tick(h.now);
  socket = h.ConnectOf(h.Take());
  h.engine.Connected(socket, h.now);
  auto sends = h.Only(h.Take(), ActionKind::kSend);
  ASSERT_EQ(sends.size(), 1u);
  EXPECT_EQ(sends[0].bytes, Bytes(1000, 'h'));

  h.Feed(Record(VPORT_BRIDGE_SETTINGS, 0, Settings(0, 1, 1000), 0));
  auto idle = h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, 4, Text("x"))), ActionKind::kAnswerWrite);
  ASSERT_EQ(idle.size(), 1u);
  EXPECT_EQ(idle[0].status, kStatusDeviceNotConnected);
}

// A write the driver already told the program is done is never refused: it
// waits for room in the hold queue, and a port closed right after it stays
// connected until its bytes went out or kLingerMs passed. Its bytes go back to
// the driver's window a few kilobytes at a time or kCreditDelayMs after they
// were taken; a port that is disconnected drops them and says so at once.
TEST(VportdEngine, DoneWritesAreNeverRefusedAndGoOutAfterTheClose) {
  Harness h;
  uint64_t socket = h.OpenConnected(1000);
  h.engine.Failed(socket, h.now);
  h.Take();
  h.Feed(Record(VPORT_BRIDGE_WRITE, 1, Bytes(kSendQueueBytes - 10, 'h')));
  auto done = Record(VPORT_BRIDGE_WRITE, 0, Bytes(20, 'd'), VPORT_BRIDGE_FLAG_DONE);
  auto waiting = h.Feed(done);
  EXPECT_TRUE(h.Only(waiting, ActionKind::kAnswerWrite).empty() &&
              h.Only(waiting, ActionKind::kCredit).empty());

  h.now += VPORT_LINK_FIRST_RETRY_MS;
  h.engine.Tick(h.now);
  socket = h.ConnectOf(h.Take());
  h.engine.Connected(socket, h.now);
  h.Take();
  h.engine.Sent(socket, 1000, false, h.now);
  auto actions = h.Take();
  auto sending = h.Only(actions, ActionKind::kSend);
  ASSERT_EQ(sending.size(), 1u);
  EXPECT_TRUE(h.Only(actions, ActionKind::kCredit).empty()) << "20 bytes wait for more";
  EXPECT_EQ(h.engine.NextDue(), h.now + kCreditDelayMs);
  h.now += kCreditDelayMs;
  h.engine.Tick(h.now);
  auto credits = h.Only(h.Take(), ActionKind::kCredit);
  ASSERT_EQ(credits.size(), 1u);
  EXPECT_EQ(credits[0].status, 0u);
  EXPECT_EQ(credits[0].length, 20u);

  // Closed with bytes unsent: every one goes out before the socket closes.
  EXPECT_TRUE(h.Only(h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {})), ActionKind::kCloseSocket).empty());
  size_t sent = 1000;
  for (int frames = 0; frames < 200 && sending.size() == 1; ++frames) {
    sent += sending[0].bytes.size();
    h.engine.Sent(socket, sending[0].bytes.size(), false, h.now);
    actions = h.Take();
    sending = h.Only(actions, ActionKind::kSend);
  }
  EXPECT_EQ(sent, kSendQueueBytes - 10 + 20);
  EXPECT_EQ(h.Only(actions, ActionKind::kCloseSocket).size(), 1u);

  // A device that takes nothing: the socket closes once kLingerMs passed.
  socket = h.OpenConnected(1000);
  credits = h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Bytes(kCreditBytes, 's'), VPORT_BRIDGE_FLAG_DONE)),
                   ActionKind::kCredit);
  ASSERT_EQ(credits.size(), 1u) << "enough bytes go back at once";
  EXPECT_EQ(credits[0].length, kCreditBytes);
  h.engine.Sent(socket, 0, true, h.now);
  h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {}));
  EXPECT_EQ(h.engine.NextDue(), h.now + kLingerMs);
  h.now += kLingerMs;
  h.engine.Tick(h.now);
  EXPECT_EQ(h.Only(h.Take(), ActionKind::kCloseSocket).size(), 1u);

  auto dropped = h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Text("late"), VPORT_BRIDGE_FLAG_DONE)),
                        ActionKind::kCredit);
  ASSERT_EQ(dropped.size(), 1u);
  EXPECT_EQ(dropped[0].status, kStatusDeviceNotConnected);
  EXPECT_EQ(dropped[0].length, 4u);
}

// A purge drops what the program purged: the bytes received and not read,
// the bytes queued to send, the writes it aborted (never answered: the driver
// ended them); done writes purged give their bytes back to the window.
TEST(VportdEngine, PurgeDropsWhatTheProgramPurged) {
  Harness h;
  uint64_t socket = h.OpenConnected(100);
  h.engine.Received(socket, Text("stale").data(), 5, h.now);
  auto sending =
      h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, 1, Bytes(kSendQueueBytes + 10, 'w'))), ActionKind::kSend);
  ASSERT_EQ(sending.size(), 1u);
  h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Text("d"), VPORT_BRIDGE_FLAG_DONE));
  auto purged = h.Feed(Record(VPORT_BRIDGE_PURGE, 0, Bytes(VPORT_BRIDGE_SETTINGS_SIZE),
                              VPORT_PURGE_RXCLEAR | VPORT_PURGE_TXABORT | VPORT_PURGE_TXCLEAR));
  EXPECT_TRUE(h.Only(purged, ActionKind::kAnswerWrite).empty()) << "the aborted write is the driver's to end";

  auto read = h.Only(h.Feed(ReadRecord(2, 10, {kMaxDword, 0, 0})), ActionKind::kAnswerRead);
  ASSERT_EQ(read.size(), 1u);
  EXPECT_TRUE(read[0].bytes.empty()) << "the bytes received before the purge are gone";
  h.engine.Sent(socket, sending[0].bytes.size(), false, h.now);
  auto after = h.Take();
  EXPECT_TRUE(h.Only(after, ActionKind::kSend).empty()) << "nothing queued is left to send";
  EXPECT_TRUE(h.Only(after, ActionKind::kAnswerWrite).empty());
  h.now += kCreditDelayMs;
  h.engine.Tick(h.now);
  auto credits = h.Only(h.Take(), ActionKind::kCredit);
  ASSERT_EQ(credits.size(), 1u);
  EXPECT_EQ(credits[0].length, 1u) << "the purged done write's byte goes back to the window";
}

// Reads are answered when their time-outs say, oldest first, with the oldest
// bytes; an answer the driver refused (its read was gone) gives its bytes
// back to the next read, in their order. Bytes that wait with no read out are
// told to the driver for the program's comm status.
TEST(VportdEngine, AnswersReadsByTheirTimeoutsWithoutLosingBytes) {
  struct Case {
    const char* name;
    Timeouts timeouts;
    uint32_t wanted;
    uint64_t answerAfterMs;  // after the read started; 0: at once
    const char* answer;
  } const cases[] = {
      {"return at once", {kMaxDword, 0, 0}, 10, 0, "abc"},
      {"enough bytes", {0, 0, 0}, 2, 0, "ab"},
      {"total time-out", {0, 10, 50}, 10, 150, "abc"},
      {"interval", {30, 0, 0}, 10, 30, "abc"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    uint64_t socket = h.OpenConnected();
    h.engine.Received(socket, Text("abc").data(), 3, h.now);
    // No read waits: the driver hears what a program polling its comm status should see.
    auto told = h.Only(h.Take(), ActionKind::kReportQueues);
    ASSERT_EQ(told.size(), 1u);
    EXPECT_EQ(told[0].inQueued, 3u);
    auto actions = h.Feed(ReadRecord(5, c.wanted, c.timeouts));
    if (c.answerAfterMs != 0) {
      EXPECT_TRUE(actions.empty());
      ASSERT_EQ(h.engine.NextDue(), h.now + c.answerAfterMs);
      h.engine.Tick(h.now + c.answerAfterMs - 1);
      EXPECT_TRUE(h.Take().empty());
      h.engine.Tick(h.now + c.answerAfterMs);
      actions = h.Take();
    }
    auto answers = h.Only(actions, ActionKind::kAnswerRead);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, 5u);
    EXPECT_EQ(TextOf(answers[0].bytes), c.answer);

    // Refused: the next read, taking everything, gets the same bytes first.
    h.Feed(ReadRecord(6, 100, {kMaxDword, 0, 0}));
    h.engine.Received(socket, Text("de").data(), 2, h.now);
    EXPECT_TRUE(h.Take().empty()) << "one answer out at a time";
    h.engine.ReadAnswered(kCom, 5, false, h.now);
    auto next = h.Only(h.Take(), ActionKind::kAnswerRead);
    ASSERT_EQ(next.size(), 1u);
    EXPECT_EQ(next[0].id, 6u);
    EXPECT_EQ(TextOf(next[0].bytes), "abcde");
  }
}

// A wait on the mask with "byte received" ends when bytes come, or at once
// while bytes wait to be read; a new wait ends the old with none.
TEST(VportdEngine, WaitsOnTheMaskEndWithTheBytesThatCame) {
  Harness h;
  uint64_t socket = h.OpenConnected();
  const Bytes wait = Record(VPORT_BRIDGE_WAIT, 5, {}, 0, {}, VPORT_EVENT_RXCHAR);
  EXPECT_TRUE(h.Only(h.Feed(wait), ActionKind::kAnswerWait).empty()) << "nothing came yet";
  auto ended =
      h.Only(h.Feed(Record(VPORT_BRIDGE_WAIT, 6, {}, 0, {}, VPORT_EVENT_RXCHAR)), ActionKind::kAnswerWait);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].id, 5u);
  EXPECT_EQ(ended[0].state, 0u);
  h.engine.Received(socket, Text("x").data(), 1, h.now);
  auto actions = h.Take();
  auto woke = h.Only(actions, ActionKind::kAnswerWait);
  ASSERT_EQ(woke.size(), 1u);
  EXPECT_EQ(woke[0].id, 6u);
  EXPECT_EQ(woke[0].state, VPORT_EVENT_RXCHAR);
  // The program asks its comm status next: the driver heard of the byte before the wait ended.
  ASSERT_GE(actions.size(), 2u);
  EXPECT_EQ(actions[0].kind, ActionKind::kReportQueues);
  EXPECT_EQ(actions[0].inQueued, 1u);
  h.engine.Received(socket, Text("y").data(), 1, h.now);  // no wait out: the bytes wait to be read
  auto atOnce =
      h.Only(h.Feed(Record(VPORT_BRIDGE_WAIT, 7, {}, 0, {}, VPORT_EVENT_RXCHAR)), ActionKind::kAnswerWait);
  ASSERT_EQ(atOnce.size(), 1u);
  EXPECT_EQ(atOnce[0].state, VPORT_EVENT_RXCHAR);
  EXPECT_TRUE(h.Only(h.Feed(Record(VPORT_BRIDGE_WAIT, 8, {}, 0, {}, 0x4)), ActionKind::kAnswerWait).empty())
      << "a mask without the event waits on";
}

// A wait ends with every event of its mask seen since the mask was set or the
// last wait ended: the modem lines when the link comes or goes (reported to
// the driver first, so the lines the program then reads agree), "sent empty"
// once the last queued byte went. Events outside the mask are not kept, and
// setting the mask forgets those kept.
TEST(VportdEngine, WaitsEndWithTheEventsOfTheirMaskKeptUntilTaken) {
  enum Event { kLineUp, kLineDown, kAttemptFailed, kSentEmpty };
  constexpr uint32_t kRlsd = VPORT_EVENT_RLSD, kTxEmpty = VPORT_EVENT_TXEMPTY, kRx = VPORT_EVENT_RXCHAR;
  struct Case {
    const char* name;
    uint32_t maskFirst;  // the mask set before the event; 0: none
    bool waiting;        // a wait is out when the event comes
    Event event;
    bool maskAgain;  // the mask is set again after the event
    uint32_t waitMask;
    uint32_t ended;  // the events the wait ends with; 0: it waits on
  } const cases[] = {
      {"link up", 0, true, kLineUp, false, kLineEvents | kRx, kLineEvents},
      {"link lost", 0, true, kLineDown, false, VPORT_EVENT_CTS | kRlsd, VPORT_EVENT_CTS | kRlsd},
      {"an attempt failed: the lines stay off", 0, true, kAttemptFailed, false, kLineEvents, 0},
      {"sent empty", 0, true, kSentEmpty, false, kTxEmpty | kRx, kTxEmpty},
      {"outside the wait's mask", 0, true, kSentEmpty, false, kRx | kRlsd, 0},
      {"kept for the next wait", kRlsd, false, kLineDown, false, kRlsd | kTxEmpty, kRlsd},
      {"not kept outside the mask", kRx, false, kLineDown, false, kRx | kRlsd, 0},
      {"forgotten when the mask is set", kRlsd, false, kLineDown, true, kRlsd, 0},
      {"kept, but not in the wait's mask", kRlsd, false, kLineDown, false, kTxEmpty, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Harness h;
    uint64_t socket = h.ConnectOf(h.Feed(Record(VPORT_BRIDGE_OPEN, 0, Settings(0, 1, 100))));
    if (c.event != kLineUp && c.event != kAttemptFailed) {
      h.engine.Connected(socket, h.now);
      h.Take();
    }
    std::vector<Action> after;
    auto feed = [&](const Bytes& record) {
      for (Action& a : h.Feed(record)) after.push_back(std::move(a));
    };
    auto take = [&] {
      for (Action& a : h.Take()) after.push_back(std::move(a));
    };
    if (c.maskFirst != 0) feed(Record(VPORT_BRIDGE_MASK, 0, {}, c.maskFirst));
    if (c.waiting) feed(Record(VPORT_BRIDGE_WAIT, 5, {}, 0, {}, c.waitMask));
    if (c.event == kSentEmpty) {
      feed(Record(VPORT_BRIDGE_WRITE, 9, Text("abcdef")));
      h.engine.Sent(socket, 4, false, h.now);
      take();
      EXPECT_TRUE(h.Only(after, ActionKind::kAnswerWait).empty()) << "two bytes still queued";
      h.engine.Sent(socket, 2, false, h.now);
    } else if (c.event == kLineUp) {
      h.engine.Connected(socket, h.now);
    } else {
      h.engine.Failed(socket, h.now);
    }
    take();
    if (c.maskAgain) feed(Record(VPORT_BRIDGE_MASK, 0, {}, c.waitMask));
    if (!c.waiting) feed(Record(VPORT_BRIDGE_WAIT, 5, {}, 0, {}, c.waitMask));
    auto answers = h.Only(after, ActionKind::kAnswerWait);
    if (c.ended == 0) {
      EXPECT_TRUE(answers.empty());
      continue;
    }
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(answers[0].id, 5u);
    EXPECT_EQ(answers[0].state, c.ended);
    if (c.event == kSentEmpty) continue;
    auto first = [&](ActionKind kind) {
      return std::find_if(after.begin(), after.end(), [kind](const Action& a) { return a.kind == kind; });
    };
    EXPECT_LT(first(ActionKind::kReportState), first(ActionKind::kAnswerWait));
  }
}

// A write held back by a full send queue ends when its total time-out
// (multiplier times its length plus constant, counted from when it is the
// oldest write) passed, with the bytes taken so far; one without a total
// waits for room however long that takes.
TEST(VportdEngine, HeldWritesTimeOutWithWhatWasTaken) {
  Harness h;
  const uint64_t socket = h.OpenConnected(100);
  const Bytes big(kSendQueueBytes + 50, 'b');
  EXPECT_TRUE(h.Only(h.Feed(WriteRecord(1, big, 2, 100)), ActionKind::kAnswerWrite).empty());
  h.Feed(WriteRecord(2, Text("late"), 0, 40));
  // First the comm status learns that bytes wait to be sent.
  ASSERT_EQ(h.engine.NextDue(), h.now + kQueueReportDelayMs);
  h.engine.Tick(h.now + kQueueReportDelayMs);
  auto told = h.Only(h.Take(), ActionKind::kReportQueues);
  ASSERT_EQ(told.size(), 1u);
  EXPECT_EQ(told[0].outQueued, big.size() + 4) << "the queue's bytes and those of both writes still waiting";
  const uint64_t due = h.now + 2 * big.size() + 100;
  EXPECT_EQ(h.engine.NextDue(), due);
  h.engine.Tick(due - 1);
  EXPECT_TRUE(h.Only(h.Take(), ActionKind::kAnswerWrite).empty());
  h.engine.Tick(due);
  auto first = h.Only(h.Take(), ActionKind::kAnswerWrite);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].id, 1u);
  EXPECT_EQ(first[0].status, kStatusTimeout);
  EXPECT_EQ(first[0].length, kSendQueueBytes);
  ASSERT_EQ(h.engine.NextDue(), due + 40) << "the second write's time starts when it is the oldest";
  h.engine.Tick(due + 40);
  auto second = h.Only(h.Take(), ActionKind::kAnswerWrite);
  ASSERT_EQ(second.size(), 1u);
  EXPECT_EQ(second[0].id, 2u);
  EXPECT_EQ(second[0].status, kStatusTimeout);
  EXPECT_EQ(second[0].length, 0u);

  h.Feed(WriteRecord(3, Text("wait"), 0, 0));
  EXPECT_EQ(h.engine.NextDue(), UINT64_MAX);
  h.engine.Tick(due + 3600 * 1000);
  EXPECT_TRUE(h.Only(h.Take(), ActionKind::kAnswerWrite).empty());
  h.engine.Sent(socket, 100, false, h.now);
  auto third = h.Only(h.Take(), ActionKind::kAnswerWrite);
  ASSERT_EQ(third.size(), 1u);
  EXPECT_EQ(third[0].status, 0u);
  EXPECT_EQ(third[0].length, 4u);
}

// A read answer's outcome applies to that answer only: one of an earlier
// opening changes nothing in the new one (its bytes neither come back nor
// make the new answer's refusal lost), and an input purge drops the bytes of
// the answer out, which a refusal then does not bring back. Aborted reads
// alone keep them.
TEST(VportdEngine, ReadAnswersAreMatchedToTheirRead) {
  struct Outcome {
    uint32_t id;
    bool accepted;
  };
  struct Case {
    const char* name;
    uint32_t purge;  // purge flags after the first answer went out; 0: none
    bool reopen;     // closed and opened again, with a second answer out
    std::vector<Outcome> outcomes;
    const char* nextRead;
  } const cases[] = {
      {"input purged, the answer refused",
       VPORT_PURGE_RXABORT | VPORT_PURGE_RXCLEAR,
       false,
       {{5, false}},
       ""},
      {"reads aborted, the answer refused", VPORT_PURGE_RXABORT, false, {{5, false}}, "abc"},
      {"reopened, the earlier answer refused", 0, true, {{5, false}, {6, true}}, ""},
      {"reopened, the earlier answer taken", 0, true, {{5, true}, {6, false}}, "xyz"},
  };
  // Each case runs in a lambda of its own: a failed assertion ends only its case.
  for (const Case& c : cases)
    [&] {
      SCOPED_TRACE(c.name);
      Harness h;
      uint64_t socket = h.OpenConnected();
      h.engine.Received(socket, Text("abc").data(), 3, h.now);
      ASSERT_EQ(h.Only(h.Feed(ReadRecord(5, 10, {kMaxDword, 0, 0})), ActionKind::kAnswerRead).size(), 1u);
      if (c.purge != 0) h.Feed(Record(VPORT_BRIDGE_PURGE, 0, Bytes(VPORT_BRIDGE_SETTINGS_SIZE), c.purge));
      if (c.reopen) {
        h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {}));
        socket = h.OpenConnected();
        h.engine.Received(socket, Text("xyz").data(), 3, h.now);
        auto second = h.Only(h.Feed(ReadRecord(6, 10, {kMaxDword, 0, 0})), ActionKind::kAnswerRead);
        ASSERT_EQ(second.size(), 1u) << "the new opening's read does not wait for an earlier answer";
        EXPECT_EQ(TextOf(second[0].bytes), "xyz");
      }
      for (const Outcome& o : c.outcomes) h.engine.ReadAnswered(kCom, o.id, o.accepted, h.now);
      h.Take();
      auto next = h.Only(h.Feed(ReadRecord(7, 10, {kMaxDword, 0, 0})), ActionKind::kAnswerRead);
      ASSERT_EQ(next.size(), 1u);
      EXPECT_EQ(TextOf(next[0].bytes), c.nextRead);
    }();
}

// A write handed in pieces is taken whole or refused whole. While the link is
// made again, the hold queue takes it only when all of it fits, decided at its
// first piece; each piece's answer counts the write's bytes taken from its
// start. Disconnected under a write whose bytes are queued, it ends with the
// bytes that went out, never more.
TEST(VportdEngine, WritesAreTakenWholeOrRefusedWholeAcrossPieces) {
  constexpr uint32_t kPiece = 64 * 1024;
  struct Answer {
    uint32_t status, length;
  };
  struct Case {
    const char* name;
    size_t held;           // bytes held before it, while reconnecting; 0: connected
    uint32_t total;        // the write's length, in pieces of kPiece
    size_t sentThenClose;  // connected: bytes sent, then the manager's Close before the second piece
    std::vector<Answer> answers;
    size_t deviceGets;  // bytes the device gets of it
  } const cases[] = {
      {"does not fit the hold", 16 * 1024, 2 * kPiece, 0, {{kStatusDeviceNotConnected, 0}}, 0},
      {"fits the hold", 16 * 1024, 100000, 0, {{0, kPiece}, {0, 100000}}, 100000},
      {"disconnected under it", 0, 2 * kPiece, 1000, {{0, kPiece}, {kStatusDeviceNotConnected, 1000}}, 1000},
  };
  for (const Case& c : cases)
    [&] {
      SCOPED_TRACE(c.name);
      Harness h;
      uint64_t socket = h.OpenConnected(kPiece);
      if (c.held != 0) {
        h.engine.Failed(socket, h.now);
        h.Feed(Record(VPORT_BRIDGE_WRITE, 1, Bytes(c.held, 'h')));
      }
      Bytes written(c.total);
      for (size_t i = 0; i < written.size(); ++i) written[i] = static_cast<uint8_t>(i % 253);
      std::vector<Action> actions, answers;
      for (uint32_t offset = 0; offset < c.total; offset += kPiece) {
        // The driver hands the next piece once the last was all taken.
        if (answers.size() != offset / kPiece || (!answers.empty() && answers.back().status != 0)) break;
        const Bytes piece(written.begin() + offset, written.begin() + std::min(c.total, offset + kPiece));
        for (Action& a : h.Feed(PieceRecord(2, piece, c.total, offset))) actions.push_back(a);
        answers = h.Only(actions, ActionKind::kAnswerWrite);
        if (c.sentThenClose != 0 && offset == 0) {
          h.engine.Sent(socket, c.sentThenClose, false, h.now);
          h.Feed(Record(VPORT_BRIDGE_SETTINGS, 0, Settings(0, 1, kPiece), 0));
        }
      }
      ASSERT_EQ(answers.size(), c.answers.size());
      for (size_t i = 0; i < answers.size(); ++i) {
        EXPECT_EQ(answers[i].status, c.answers[i].status) << i;
        EXPECT_EQ(answers[i].length, c.answers[i].length) << i;
      }
      if (c.held == 0) return;
      h.now += VPORT_LINK_FIRST_RETRY_MS;
      h.engine.Tick(h.now);
      socket = h.ConnectOf(h.Take());
      h.engine.Connected(socket, h.now);
      Bytes device;
      for (auto sends = h.Only(h.Take(), ActionKind::kSend); sends.size() == 1;
           sends = h.Only(h.Take(), ActionKind::kSend)) {
        device.insert(device.end(), sends[0].bytes.begin(), sends[0].bytes.end());
        h.engine.Sent(socket, sends[0].bytes.size(), false, h.now);
      }
      ASSERT_EQ(device.size(), c.held + c.deviceGets);
      EXPECT_TRUE(std::equal(written.begin(), written.begin() + static_cast<std::ptrdiff_t>(c.deviceGets),
                             device.begin() + static_cast<std::ptrdiff_t>(c.held)));
    }();
}

// A write's total time-out is multiplier times the whole write's length plus
// constant, counted from when its first piece is the oldest write: a later
// piece does not start it again.
TEST(VportdEngine, AWritesTimeoutSpansItsPieces) {
  constexpr uint32_t kPiece = 64 * 1024, kTotal = 100000;
  Harness h;
  const uint64_t socket = h.OpenConnected(kPiece);
  h.Feed(Record(VPORT_BRIDGE_WRITE, 1, Bytes(kTotal, 'a')));  // leaves room for 31,072 bytes
  const uint64_t start = h.now;
  EXPECT_TRUE(
      h.Only(h.Feed(PieceRecord(2, Bytes(kPiece, 'b'), kTotal, 0, 1, 50)), ActionKind::kAnswerWrite).empty());
  h.now += 30;
  h.engine.Sent(socket, kPiece, false, h.now);
  auto first = h.Only(h.Take(), ActionKind::kAnswerWrite);
  ASSERT_EQ(first.size(), 1u);
  EXPECT_EQ(first[0].status, 0u);
  EXPECT_EQ(first[0].length, kPiece);
  h.now += 10;
  EXPECT_TRUE(h.Only(h.Feed(PieceRecord(2, Bytes(kTotal - kPiece, 'b'), kTotal, kPiece, 1, 50)),
                     ActionKind::kAnswerWrite)
                  .empty());
  const uint64_t due = start + kTotal + 50;
  ASSERT_EQ(h.engine.NextDue(), due);
  h.engine.Tick(due - 1);
  EXPECT_TRUE(h.Only(h.Take(), ActionKind::kAnswerWrite).empty());
  h.engine.Tick(due);
  auto ended = h.Only(h.Take(), ActionKind::kAnswerWrite);
  ASSERT_EQ(ended.size(), 1u);
  EXPECT_EQ(ended[0].status, kStatusTimeout);
  EXPECT_EQ(ended[0].length, kSendQueueBytes - (kTotal - kPiece))
      << "all the queue had room for, from its start";
}

// The bytes held for the reader, counting those of an answer out, stay within
// kReceiveBufferBytes plus one receive, while the oldest read waiting for more
// than that (all read time-outs 0) is filled as bytes come.
TEST(VportdEngine, BytesHeldForTheReaderStayWithinTheirBound) {
  constexpr size_t kChunk = 64 * 1024;
  struct Case {
    const char* name;
    uint32_t wanted;  // the first read's, with no time-outs
    bool refused;     // its answer is refused, after the socket was read while it was out
  } const cases[] = {
      {"a read longer than the bound", 300 * 1024, false},
      {"an answer out, then refused", 100 * 1024, true},
  };
  for (const Case& c : cases)
    [&] {
      SCOPED_TRACE(c.name);
      Harness h;
      const uint64_t socket = h.OpenConnected();
      h.Feed(ReadRecord(1, c.wanted, {0, 0, 0}));
      const Bytes chunk(kChunk, 'r');
      std::vector<Action> answers;
      for (int i = 0; i < 20 && h.engine.HasRoom(socket); ++i) {
        h.engine.Received(socket, chunk.data(), chunk.size(), h.now);
        for (const Action& a : h.Only(h.Take(), ActionKind::kAnswerRead)) {
          answers.push_back(a);
          if (!c.refused) h.engine.ReadAnswered(kCom, a.id, true, h.now);
        }
      }
      ASSERT_EQ(answers.size(), 1u);
      EXPECT_EQ(answers[0].bytes.size(), c.wanted);
      if (c.refused) h.engine.ReadAnswered(kCom, 1, false, h.now);
      h.Take();
      auto rest =
          h.Only(h.Feed(ReadRecord(2, 4 * kReceiveBufferBytes, {kMaxDword, 0, 0})), ActionKind::kAnswerRead);
      ASSERT_EQ(rest.size(), 1u);
      EXPECT_LT(rest[0].bytes.size(), kReceiveBufferBytes + kChunk);
    }();
}

// A program's done writes still go out after it closed the port, also when
// another program that connects opens it meanwhile, on the same connection
// and before the new program's bytes; none of their bytes comes off the new
// opening's window, which the driver starts empty. Connected by the manager or
// lingering after the close, the port keeps its link; opened by a program that
// does not connect, it drops it with them.
TEST(VportdEngine, DoneWritesOfAClosedProgramGoOutWithoutCreditingTheNextOpening) {
  struct Case {
    const char* name;
    uint32_t flags;
    uint32_t reopenConnectAtStart;
    bool carried;
  } const cases[] = {{"lingering after the close", 0, 1, true},
                     {"connected by the manager", VPORT_BRIDGE_FLAG_CONNECT, 1, true},
                     {"opened again without connecting", 0, 0, false}};
  for (const Case& c : cases)
    [&] {
      SCOPED_TRACE(c.name);
      Harness h;
      const Bytes open = Record(VPORT_BRIDGE_OPEN, 0, Settings(0, 1, 1000), c.flags);
      const uint64_t socket = h.ConnectOf(h.Feed(open));
      h.engine.Connected(socket, h.now);
      auto sends =
          h.Only(h.Feed(Record(VPORT_BRIDGE_WRITE, 1, Bytes(kSendQueueBytes, 'w'))), ActionKind::kSend);
      h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Text("done"), VPORT_BRIDGE_FLAG_DONE));  // no room for it yet
      h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {}));
      std::vector<Action> after =
          h.Feed(Record(VPORT_BRIDGE_OPEN, 0, Settings(0, c.reopenConnectAtStart, 1000), c.flags));
      EXPECT_EQ(h.Only(after, ActionKind::kCloseSocket).empty(), c.carried);
      EXPECT_EQ(h.ConnectOf(after), 0u);
      if (!c.carried) {
        EXPECT_TRUE(h.Only(after, ActionKind::kCredit).empty()) << "their bytes never come off a window";
        return;
      }
      for (Action& a : h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Text("new"), VPORT_BRIDGE_FLAG_DONE)))
        after.push_back(a);
      Bytes device;
      while (sends.size() == 1) {
        device.insert(device.end(), sends[0].bytes.begin(), sends[0].bytes.end());
        h.engine.Sent(socket, sends[0].bytes.size(), false, h.now);
        auto actions = h.Take();
        after.insert(after.end(), actions.begin(), actions.end());
        sends = h.Only(actions, ActionKind::kSend);
      }
      h.now += kCreditDelayMs;
      h.engine.Tick(h.now);
      for (Action& a : h.Take()) after.push_back(a);
      ASSERT_EQ(device.size(), kSendQueueBytes + 7);
      EXPECT_EQ(TextOf(Bytes(device.end() - 7, device.end())), "donenew");
      auto credits = h.Only(after, ActionKind::kCredit);
      ASSERT_EQ(credits.size(), 1u);
      EXPECT_EQ(credits[0].length, 3u) << "only the new opening's done write comes off its window";
    }();
}

// The driver numbers each opening in its OPEN's id. The link reports and
// credits of an opening name it, so that the driver can tell them from those
// of the opening before, which may reach it after the new OPEN.
TEST(VportdEngine, LinkReportsAndCreditsNameTheirOpening) {
  Harness h;
  for (uint32_t opening : {7u, 8u}) {
    SCOPED_TRACE(opening);
    auto actions = h.Feed(Record(VPORT_BRIDGE_OPEN, opening, Settings(0, 1, 100)));
    if (uint64_t socket = Harness::ConnectOf(actions); socket != 0) {
      h.engine.Connected(socket, h.now);
      auto connected = h.Take();
      actions.insert(actions.end(), connected.begin(), connected.end());
    }
    auto done = h.Feed(Record(VPORT_BRIDGE_WRITE, 0, Bytes(kCreditBytes, 'c'), VPORT_BRIDGE_FLAG_DONE));
    actions.insert(actions.end(), done.begin(), done.end());
    auto reports = Harness::Only(actions, ActionKind::kReportState);
    auto credits = Harness::Only(actions, ActionKind::kCredit);
    ASSERT_FALSE(reports.empty());
    ASSERT_EQ(credits.size(), 1u);
    for (const Action& named : reports) EXPECT_EQ(named.id, opening) << Describe(named);
    EXPECT_EQ(credits[0].id, opening);
    h.Feed(Record(VPORT_BRIDGE_CLOSE, 0, {}));
  }
}

}  // namespace
}  // namespace vportd
