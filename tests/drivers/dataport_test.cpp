// The port's data path in plain C: framing and the hold queue, the connection's
// state machine with its backoff, and the read time-out rules.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "link_state.h"
#include "read_timeouts.h"
#include "tx_queue.h"

namespace {

using Bytes = std::vector<uint8_t>;
constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

Bytes Pattern(size_t size) {
  Bytes bytes(size);
  uint32_t seed = static_cast<uint32_t>(size);
  for (auto& b : bytes) {
    seed = seed * 1103515245u + 12345u;
    b = static_cast<uint8_t>(seed >> 16);
  }
  return bytes;
}

// ---- framing and the hold queue -------------------------------------------------------------

// Bytes stream through a ring smaller than what is written, so it wraps; the
// frames taken out never exceed the port's limit, a datagram is always as full
// as the limit allows, and together they are the bytes written, in order.
TEST(DataportFraming, FramesKeepTheLimitAndTheBytes) {
  struct Case {
    uint8_t type;  // 0 TCP, 1 UDP
    uint32_t maxPacketSize;
    size_t capacity;
    size_t total;
    uint32_t limit;  // the frame limit expected
  };
  const Case cases[] = {
      {0, 450, 1000, 10000, 450},
      {1, 0, 1000, 5000, VPORT_DEFAULT_PACKET_SIZE},
      {1, 1, 10, 100, 1},
      {1, 100000, 200000, 300000, VPORT_MAX_UDP_PAYLOAD},
      {0, 100000, 150000, 300000, 100000},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "type " << int{c.type} << ", max packet size " << c.maxPacketSize);
    const uint32_t limit = VportFrameLimit(c.type, c.maxPacketSize);
    ASSERT_EQ(limit, c.limit);
    Bytes storage(c.capacity);
    VportTxQueue q;
    VportTxInit(&q, storage.data(), storage.size());
    const Bytes written = Pattern(c.total);
    Bytes sent, frame(limit + 16);
    size_t at = 0;
    for (int round = 0; sent.size() < written.size() && round < 100000; ++round) {
      size_t accepted = 0;
      const size_t chunk = std::min<size_t>(written.size() - at, 777);
      VportTxWrite(&q, VPORT_LINK_CONNECTED, written.data() + at, chunk, &accepted);
      at += accepted;
      const size_t held = q.length;
      const size_t size = VportTxPeekFrame(&q, limit, frame.data(), frame.size());
      ASSERT_EQ(size, std::min<size_t>(held, limit)) << "a frame is as full as the limit allows";
      // TCP may take less than the frame; what it did not take goes again.
      const size_t taken = c.type == 0 ? std::min<size_t>(size, 300) : size;
      sent.insert(sent.end(), frame.begin(), frame.begin() + static_cast<std::ptrdiff_t>(taken));
      VportTxConsume(&q, taken);
    }
    EXPECT_TRUE(sent == written) << sent.size() << " of " << written.size() << " bytes, or out of order";
  }
}

TEST(DataportFraming, WritesFollowTheLinkState) {
  struct Case {
    VportLinkState state;
    size_t held;  // already queued, of a capacity of 100
    size_t write;
    VportWriteResult result;
    size_t accepted;
  };
  const Case cases[] = {
      {VPORT_LINK_CONNECTED, 0, 20, VPORT_WRITE_TAKEN, 20},
      {VPORT_LINK_CONNECTED, 90, 20, VPORT_WRITE_PARTIAL, 10},
      {VPORT_LINK_LOST, 80, 20, VPORT_WRITE_TAKEN, 20},
      {VPORT_LINK_LOST, 90, 11, VPORT_WRITE_HOLD_FULL, 0},
      {VPORT_LINK_CONNECTING, 0, 101, VPORT_WRITE_HOLD_FULL, 0},
      {VPORT_LINK_IDLE, 0, 1, VPORT_WRITE_NOT_OPEN, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << VportLinkStateText(c.state) << ", " << c.held << " held, write of "
                                    << c.write);
    Bytes storage(100);
    VportTxQueue q;
    VportTxInit(&q, storage.data(), storage.size());
    const Bytes before = Pattern(c.held), write(c.write, 0xEE);
    ASSERT_EQ(VportTxWrite(&q, VPORT_LINK_CONNECTED, before.data(), before.size(), nullptr),
              VPORT_WRITE_TAKEN);
    size_t accepted = 999;
    EXPECT_EQ(VportTxWrite(&q, c.state, write.data(), write.size(), &accepted), c.result);
    EXPECT_EQ(accepted, c.accepted);
    Bytes expected = before;
    expected.insert(expected.end(), write.begin(), write.begin() + static_cast<std::ptrdiff_t>(c.accepted));
    Bytes queued(200);
    queued.resize(VportTxPeekFrame(&q, 1000, queued.data(), queued.size()));
    EXPECT_TRUE(queued == expected) << "the queue holds what was there and what was taken, nothing else";
  }
}

// ---- the connection's state machine ---------------------------------------------------------

TEST(DataportLink, ATimelineOfEvents) {
  using Event = unsigned (*)(VportLink*, uint64_t);
  const Event Open = VportLinkOpen, Close = VportLinkClose, Connected = VportLinkConnected,
              Failed = VportLinkFailed, Tick = VportLinkTick;
  struct Step {
    uint64_t at;
    Event event;
    unsigned action;
    const char* text;  // the state as the port list shows it
    uint64_t due;
  };
  const Step steps[] = {
      {0, Open, VPORT_LINK_DO_CONNECT, "Connecting", 5000},
      {100, Failed, VPORT_LINK_DO_CLOSE, "Reconnecting", 600},
      {599, Tick, VPORT_LINK_DO_NOTHING, "Reconnecting", 600},
      {600, Tick, VPORT_LINK_DO_CONNECT, "Connecting", 5600},
      {600, Open, VPORT_LINK_DO_NOTHING, "Connecting", 5600},
      // No answer at all: the attempt is given up, the next wait doubled.
      {5600, Tick, VPORT_LINK_DO_CLOSE, "Reconnecting", 6600},
      {6600, Tick, VPORT_LINK_DO_CONNECT, "Connecting", 11600},
      {6700, Connected, VPORT_LINK_DO_NOTHING, "Connected", kNever},
      // Dropped after 100 ms: the waits keep growing.
      {6800, Failed, VPORT_LINK_DO_CLOSE, "Reconnecting", 8800},
      {8800, Tick, VPORT_LINK_DO_CONNECT, "Connecting", 13800},
      {8900, Connected, VPORT_LINK_DO_NOTHING, "Connected", kNever},
      // Held for 10 s: a good connection, so the waits start again from the first.
      {18900, Failed, VPORT_LINK_DO_CLOSE, "Reconnecting", 19400},
      // A lost link has no socket to close.
      {19000, Close, VPORT_LINK_DO_NOTHING, "Idle", kNever},
      {19001, Connected, VPORT_LINK_DO_NOTHING, "Idle", kNever},
      {19002, Tick, VPORT_LINK_DO_NOTHING, "Idle", kNever},
      {19003, Open, VPORT_LINK_DO_CONNECT, "Connecting", 24003},
      {19004, Close, VPORT_LINK_DO_CLOSE, "Idle", kNever},
  };
  VportLink link;
  VportLinkInit(&link);
  for (const Step& s : steps) {
    SCOPED_TRACE(testing::Message() << "step at " << s.at << " ms");
    const unsigned action = s.event(&link, s.at);
    EXPECT_EQ(action, s.action);
    EXPECT_STREQ(VportLinkStateText(link.state), s.text);
    EXPECT_EQ(VportLinkNextDue(&link), s.due);
  }
}

TEST(DataportLink, WaitsDoubleUpToTheirBound) {
  const uint64_t expected[] = {500, 1000, 2000, 4000, 8000, 16000, 30000, 30000, 30000};
  VportLink link;
  VportLinkInit(&link);
  uint64_t now = 0;
  VportLinkOpen(&link, now);
  for (const uint64_t wait : expected) {
    ASSERT_EQ(VportLinkFailed(&link, now), VPORT_LINK_DO_CLOSE);
    EXPECT_EQ(VportLinkNextDue(&link) - now, wait);
    now = VportLinkNextDue(&link);
    ASSERT_EQ(VportLinkTick(&link, now), VPORT_LINK_DO_CONNECT);
  }
}

// ---- read time-outs ------------------------------------------------------------------------

TEST(DataportReadTimeouts, WhenAReadCompletes) {
  constexpr uint32_t kMax = VPORT_MAXDWORD;
  constexpr uint64_t kStart = 1000;
  struct Case {
    const char* label;
    VportReadTimeouts timeouts;
    size_t wanted, buffered;
    uint64_t lastByte, now;
    VportReadOutcome outcome;
    size_t take;
    uint64_t deadline;
  };
  const Case cases[] = {
      {"no time-outs: waits for all", {0, 0, 0}, 10, 3, 1005, 90000, VPORT_READ_WAIT, 0, kNever},
      {"all there", {0, 0, 0}, 10, 12, 1005, kStart, VPORT_READ_DONE_FULL, 10, kNever},
      {"nothing asked", {kMax, kMax, 100}, 0, 0, 0, kStart, VPORT_READ_DONE_FULL, 0, kNever},
      {"at once, empty", {kMax, 0, 0}, 10, 0, 0, kStart, VPORT_READ_DONE_AT_ONCE, 0, kNever},
      {"at once, some", {kMax, 0, 0}, 10, 3, 990, kStart, VPORT_READ_DONE_AT_ONCE, 3, kNever},
      {"first byte: none yet", {kMax, kMax, 200}, 10, 0, 0, 1199, VPORT_READ_WAIT, 0, 1200},
      {"first byte: none in time", {kMax, kMax, 200}, 10, 0, 0, 1200, VPORT_READ_DONE_TOTAL, 0, kNever},
      {"first byte: came", {kMax, kMax, 200}, 10, 2, 1050, 1050, VPORT_READ_DONE_FIRST_BYTES, 2, kNever},
      {"all three MAXDWORD is no special form",
       {kMax, kMax, kMax},
       1,
       0,
       0,
       kStart,
       VPORT_READ_WAIT,
       0,
       kStart + 2ull * kMax},
      {"total: before", {0, 10, 100}, 5, 2, 1100, 1149, VPORT_READ_WAIT, 0, 1150},
      {"total: reached", {0, 10, 100}, 5, 2, 1100, 1150, VPORT_READ_DONE_TOTAL, 2, kNever},
      {"interval: not before the first byte", {50, 0, 0}, 5, 0, 0, 90000, VPORT_READ_WAIT, 0, kNever},
      {"interval: from the last byte", {50, 0, 0}, 5, 2, 1030, 1079, VPORT_READ_WAIT, 0, 1080},
      {"interval: passed", {50, 0, 0}, 5, 2, 1030, 1080, VPORT_READ_DONE_INTERVAL, 2, kNever},
      {"interval: bytes from before the read count from its start",
       {50, 0, 0},
       5,
       1,
       900,
       1049,
       VPORT_READ_WAIT,
       0,
       1050},
      {"interval before total", {50, 0, 70}, 5, 1, 1010, 1060, VPORT_READ_DONE_INTERVAL, 1, kNever},
      {"total before interval", {50, 0, 70}, 5, 1, 1030, 1070, VPORT_READ_DONE_TOTAL, 1, kNever},
      {"interval MAXDWORD with a total is a total alone",
       {kMax, 0, 100},
       5,
       1,
       1090,
       1099,
       VPORT_READ_WAIT,
       0,
       1100},
      {"a total too large for the clock never passes",
       {0, kMax, 1},
       std::numeric_limits<size_t>::max(),
       0,
       0,
       kNever - 1,
       VPORT_READ_WAIT,
       0,
       kNever},
  };
  for (const Case& c : cases) {
    const VportRead read{c.wanted, c.buffered, kStart, c.lastByte};
    const VportReadDecision d = VportReadDecide(&c.timeouts, &read, c.now);
    EXPECT_EQ(d.outcome, c.outcome) << c.label;
    EXPECT_EQ(d.take, c.take) << c.label;
    EXPECT_EQ(d.deadlineMs, c.deadline) << c.label;
  }
}

}  // namespace
