// The engine driven by a sequence of what happens around one port: the
// program opens, writes, reads, waits, purges and closes (through a small
// model of the driver beside the engine: it hands write pieces one at a time,
// does writes at once within the port's window, refuses the answer of a read
// that is gone), the manager connects and disconnects, the socket connects,
// fails, receives, sends in part or not at all, and time passes. Each input
// byte picks a step, the next bytes its arguments. Invariants:
// - bytes reach the socket in the order they were handed over, each once,
//   and no byte of a write the program was told was refused (or beyond the
//   count it was told) ever does; with nothing dropped on the way (no purge,
//   close, settings or lost socket since everything was last sent), every
//   byte it was told was taken does;
// - the readers get the bytes received in order, each at most once: a
//   refused answer's bytes come back only to the opening and the input that
//   have not been purged since;
// - the engine gives back to the window no more bytes than it got as done
//   writes in the same opening (the driver starts each with an empty one);
// - a write is answered with a count that only grows, all of each piece
//   before the next, and ends whole, refused whole, at its time-out or short
//   only when the port was disconnected under it (then with the bytes that
//   went out, which may be fewer than an earlier piece's answer counted);
// - the bytes held for the reader stay within the engine's stated bound.
#include <algorithm>
#include <cstdint>
#include <deque>
#include <vector>

#include "bridge_records.h"
#include "engine.h"
#include "fuzz_check.h"
#include "port_records.h"
#include "serial_requests.h"

namespace {

using vportd::Action;
using vportd::ActionKind;
using Bytes = std::vector<uint8_t>;

constexpr uint32_t kCom = 7;
constexpr uint32_t kPiece = 16 * 1024;       // the model hands writes in pieces of this
constexpr uint32_t kWindow = 32 * 1024;      // the driver's window for done writes
constexpr size_t kMostReceived = 64 * 1024;  // bytes one Received brings at most

uint8_t ValueAt(uint64_t index) {
  uint64_t x = index * 0x9E3779B97F4A7C15ull;
  return static_cast<uint8_t>(x >> 56);
}

// Settings from bits of `how`: the endpoint, connect at start, and frames of
// 100 bytes or of 64 KiB (a full queue then drains in a few sends).
Bytes Settings(uint8_t how) {
  VportRemoteSettings s{{127, 0, 0, static_cast<uint8_t>(how & 2 ? 2 : 1)},
                        {0x1F, 0x90},
                        0,
                        how & 4 ? 1u : 0u,
                        how & 8 ? 65536u : 100u};
  Bytes out(VPORT_REQ_SIZE);
  VportWriteRemoteRequest(&s, out.data(), out.size());
  return out;
}

// A byte handed to the engine as written: its value and what the program heard of it.
enum class Fate : uint8_t { kPending, kTaken, kRefused, kUnknown };
struct Handed {
  uint8_t value;
  Fate fate;
  bool sent;
};

struct Piece {
  uint32_t offset;
  size_t at;  // where its bytes start in `handed`
  uint32_t length;
};

struct ProgramWrite {
  uint32_t id = 0;
  uint32_t total = 0;
  uint32_t multiplier = 0, constant = 0;
  uint32_t lastCount = 0;  // the count of its last answer
  uint32_t nextOffset = 0;
  bool pieceOut = false;
  bool dropSeen = false;  // the port was disconnected or purged while it was taken
  std::vector<Piece> pieces;
};

struct ReadAnswer {
  uint32_t id;
  uint64_t start;  // where its bytes start in what was received
  uint64_t epoch;
};

class Run {
 public:
  explicit Run(FuzzInput& input) : in_(input) {}

  void Step() {
    switch (in_.Byte() % 17) {
      case 0:
        return Open();
      case 1:
        return Close();
      case 2: {
        const uint8_t how = in_.Byte();
        Drop();
        Notice(VPORT_BRIDGE_SETTINGS, Settings(how), how & 1 ? VPORT_BRIDGE_FLAG_CONNECT : 0);
        return;
      }
      case 3:
        return Write();
      case 4:
        return Pump();
      case 5:
        return Read();
      case 6:
        if (open_) Request(VPORT_BRIDGE_WAIT, ++lastId_, {}, 0, in_.Byte() & 0x3D);
        return;
      case 7:
        if (open_) Notice(VPORT_BRIDGE_MASK, {}, in_.Byte() & 0x3D);
        return;
      case 8:
        return Purge();
      case 9: {
        const uint64_t socket = PickSocket();
        if (socket != socket_ || !connected_) engine_.Connected(socket, now_);
        if (socket == socket_) connected_ = true;
        return;
      }
      case 10:
        return engine_.Failed(PickSocket(), now_);
      case 11:
        return Receive();
      case 12:
        return Send();
      case 13:
        return engine_.Writable(PickSocket(), now_);
      case 14:
        return Outcome();
      case 15:
        if (!aliveReads_.empty()) aliveReads_.pop_front();  // the program cancelled its oldest read
        return;
      default: {
        const uint32_t step = in_.Byte();
        now_ += step * (in_.Byte() % 4 == 0 ? 100u : 1u);
        return engine_.Tick(now_);
      }
    }
  }

  // Does what the engine asked for and checks what can be checked after each step.
  void Settle() {
    for (auto actions = engine_.TakeActions(); !actions.empty(); actions = engine_.TakeActions())
      for (const Action& a : actions) Do(a);
    FUZZ_CHECK(engine_.HeldForReading(kCom) <=
               std::max<size_t>(vportd::kReceiveBufferBytes, mostWanted_) + kMostReceived);
    if (engine_.Unsent(kCom) == 0 && frame_.empty()) Drained();
  }

 private:
  void Request(uint32_t kind, uint32_t id, const Bytes& payload, uint32_t flags, uint32_t length = 0,
               uint32_t total = 0, uint32_t offset = 0, const uint32_t* timeouts = nullptr) {
    VportBridgeRequest request{};
    request.id = id;
    request.kind = kind;
    request.comNumber = kCom;
    request.length = payload.empty() ? length : static_cast<uint32_t>(payload.size());
    for (int i = 0; timeouts != nullptr && i < 5; ++i) request.timeouts[i] = timeouts[i];
    request.flags = flags;
    request.total = total;
    request.offset = offset;
    Bytes record(VPORT_BRIDGE_HEADER_SIZE);
    VportWriteBridgeRequest(&request, record.data(), record.size());
    record.insert(record.end(), payload.begin(), payload.end());
    FUZZ_CHECK(engine_.HandleRequest(record.data(), record.size(), now_));
  }
  void Notice(uint32_t kind, const Bytes& settings, uint32_t flags) { Request(kind, 0, settings, flags); }

  void Open() {
    const uint8_t how = in_.Byte();
    if (open_) return;
    open_ = true;
    windowLinked_ = false;  // until the engine reports the link for this opening
    unanswered_ = 0;
    DropReceived();
    Drop();
    Notice(VPORT_BRIDGE_OPEN, Settings(how), how & 1 ? VPORT_BRIDGE_FLAG_CONNECT : 0);
  }

  void Close() {
    if (!open_) return;
    open_ = false;
    windowLinked_ = false;
    unanswered_ = 0;  // no credit comes for this opening after its close
    EndWrites();
    aliveReads_.clear();
    DropReceived();
    Drop();
    Notice(VPORT_BRIDGE_CLOSE, {}, 0);
  }

  // The program's writes end with the driver: what the engine still takes of them is not known.
  void EndWrites() {
    for (ProgramWrite* write : {&current_}) {
      for (const Piece& piece : write->pieces)
        for (uint32_t i = 0; i < piece.length; ++i)
          if (piece.offset + i >= write->lastCount) handed_[piece.at + i].fate = Fate::kUnknown;
    }
    current_ = ProgramWrite{};
    waiting_.clear();
  }

  void Write() {
    // Up to a little less than the send queue.
    const uint32_t units = in_.Le16() % 512;
    const uint32_t size = units * (in_.Byte() % 8 == 0 ? 256 : 1) + 1;
    const uint8_t timing = in_.Byte();
    if (!open_) return;
    // Done at once: connected, no write of the program waits, and it fits the window.
    if (windowLinked_ && current_.id == 0 && waiting_.empty() && unanswered_ + size <= kWindow) {
      unanswered_ += size;
      Request(VPORT_BRIDGE_WRITE, 0, Hand(size, Fate::kTaken), VPORT_BRIDGE_FLAG_DONE, 0, size, 0);
      return;
    }
    ProgramWrite write;
    write.id = ++lastId_;
    write.total = size;
    write.multiplier = timing & 1 ? timing % 3 : 0;
    write.constant = timing & 2 ? timing * 4u : 0;
    waiting_.push_back(write);
  }

  // The driver hands the next piece of the write in hand, or the next write's first.
  void Pump() {
    if (current_.id == 0) {
      if (waiting_.empty()) return;
      current_ = waiting_.front();
      waiting_.pop_front();
    }
    if (current_.pieceOut) return;
    const uint32_t length = std::min(kPiece, current_.total - current_.nextOffset);
    current_.pieces.push_back(Piece{current_.nextOffset, handed_.size(), length});
    current_.pieceOut = true;
    const uint32_t timeouts[5] = {0, 0, 0, current_.multiplier, current_.constant};
    const uint32_t offset = current_.nextOffset;
    current_.nextOffset += length;
    Request(VPORT_BRIDGE_WRITE, current_.id, Hand(length, Fate::kPending), 0, 0, current_.total, offset,
            timeouts);
  }

  Bytes Hand(uint32_t length, Fate fate) {
    Bytes bytes(length);
    for (uint8_t& b : bytes) {
      b = ValueAt(handed_.size());
      handed_.push_back(Handed{b, fate, false});
    }
    return bytes;
  }

  void Read() {
    const uint8_t how = in_.Byte();
    const uint32_t wanted = (how & 0x80) ? 300 * 1024 : (in_.Le16() % 4096) + 1;
    if (!open_) return;
    static const uint32_t kTimeouts[4][5] = {
        {0xFFFFFFFFu, 0, 0, 0, 0}, {0, 0, 0, 0, 0}, {0, 2, 50, 0, 0}, {20, 0, 0, 0, 0}};
    mostWanted_ = std::max<size_t>(mostWanted_, wanted);
    const uint32_t id = ++lastId_;
    aliveReads_.push_back(id);
    Request(VPORT_BRIDGE_READ, id, {}, 0, wanted, 0, 0, kTimeouts[how % 4]);
  }

  void Purge() {
    const uint32_t flags = in_.Byte() & 0xF;
    if (!open_) return;
    if (flags & VPORT_PURGE_RXABORT) aliveReads_.clear();
    if (flags & VPORT_PURGE_TXABORT) EndWrites();
    if (flags & VPORT_PURGE_RXCLEAR) DropReceived();
    if (flags & (VPORT_PURGE_TXABORT | VPORT_PURGE_TXCLEAR)) Drop();
    Notice(VPORT_BRIDGE_PURGE, {}, flags);
  }

  uint64_t PickSocket() {
    const uint8_t which = in_.Byte();
    return which % 4 == 0 && socket_ > 1 ? socket_ - 1 - which / 4 % (socket_ - 1) : socket_;
  }

  void Receive() {
    const size_t count = in_.Le16() % kMostReceived + 1;
    if (socket_ == 0 || !connected_ || !engine_.HasRoom(socket_)) return;
    Bytes bytes(count);
    for (uint8_t& b : bytes) b = ValueAt(received_++ + (1ull << 40));
    engine_.Received(socket_, bytes.data(), bytes.size(), now_);
  }

  void Send() {
    const uint8_t how = in_.Byte();
    if (frame_.empty()) return;
    const Bytes frame = frame_;
    frame_.clear();
    if (how % 5 == 0) return engine_.Sent(frameSocket_, 0, true, now_);
    const size_t taken = how % 2 == 0 ? frame.size() : std::min<size_t>(frame.size(), how / 2 + 1);
    if (frameSocket_ == socket_)
      for (size_t i = 0; i < taken; ++i) Sent(frame[i]);
    engine_.Sent(frameSocket_, taken, false, now_);
  }

  // A byte reached the socket: the next handed over, bar those refused (after
  // a drop, any later one).
  void Sent(uint8_t value) {
    while (next_ < handed_.size() &&
           (handed_[next_].fate == Fate::kRefused || (loose_ && handed_[next_].value != value) ||
            (handed_[next_].fate == Fate::kUnknown && handed_[next_].value != value)))
      ++next_;
    FUZZ_CHECK(next_ < handed_.size());
    FUZZ_CHECK(handed_[next_].value == value);
    handed_[next_].sent = true;
    ++next_;
  }

  void Outcome() {
    if (answers_.empty()) return;
    const ReadAnswer answer = answers_.front();
    answers_.pop_front();
    auto alive = std::find(aliveReads_.begin(), aliveReads_.end(), answer.id);
    const bool accepted = alive != aliveReads_.end();
    if (accepted) aliveReads_.erase(alive);
    // Refused within the same opening and input, its bytes are the next to be read again.
    if (!accepted && answer.epoch == epoch_) delivered_ = answer.start;
    engine_.ReadAnswered(kCom, answer.id, accepted, now_);
  }

  // Bytes waiting to go out may be dropped from here on.
  void Drop() {
    loose_ = true;
    current_.dropSeen = true;
  }
  // What was received and not read is gone.
  void DropReceived() {
    delivered_ = received_;
    ++epoch_;
  }

  // Nothing is left to send: every byte handed over is settled, and with
  // nothing dropped since the last time, every one the program was told was
  // taken went out.
  void Drained() {
    for (; next_ < handed_.size(); ++next_) {
      const Handed& byte = handed_[next_];
      if (!loose_ && byte.fate == Fate::kTaken) FUZZ_CHECK(byte.sent);
    }
    loose_ = false;
  }

  void Do(const Action& a) {
    FUZZ_CHECK(a.com == kCom);
    switch (a.kind) {
      case ActionKind::kConnect:
        FUZZ_CHECK(a.socket > socket_);
        socket_ = a.socket;
        connected_ = false;
        frame_.clear();
        return;
      case ActionKind::kCloseSocket:
        if (a.socket == socket_) socket_ = 0, connected_ = false;
        if (a.socket == frameSocket_) frame_.clear();
        Drop();
        return;
      case ActionKind::kSend:
        FUZZ_CHECK(frame_.empty() && !a.bytes.empty() && a.socket == socket_ && connected_);
        frame_ = a.bytes;
        frameSocket_ = a.socket;
        return;
      case ActionKind::kAnswerRead: {
        FUZZ_CHECK(a.bytes.size() <= received_ - delivered_);
        for (size_t i = 0; i < a.bytes.size(); ++i)
          FUZZ_CHECK(a.bytes[i] == ValueAt(delivered_ + i + (1ull << 40)));
        answers_.push_back(ReadAnswer{a.id, delivered_, epoch_});
        delivered_ += a.bytes.size();
        return;
      }
      case ActionKind::kAnswerWrite:
        return WriteAnswered(a);
      case ActionKind::kCredit:
        FUZZ_CHECK(a.length <= unanswered_);
        unanswered_ -= a.length;
        if (a.status != 0) Drop();
        return;
      case ActionKind::kReportState:
        if (open_) windowLinked_ = a.state == VPORT_LINK_CONNECTED;
        if (a.state == VPORT_LINK_IDLE) Drop();
        return;
      case ActionKind::kAnswerWait:
      case ActionKind::kReportQueues:
        return;
    }
  }

  void WriteAnswered(const Action& a) {
    if (a.id != current_.id || !current_.pieceOut) return;  // the driver ended that write: not found
    const Piece& piece = current_.pieces.back();
    const uint32_t end = piece.offset + piece.length;
    // Less than an earlier answer said only when bytes taken were then dropped unsent.
    const bool dropped = a.status == vportd::kStatusDeviceNotConnected && current_.dropSeen;
    FUZZ_CHECK(a.length <= end && (a.length >= current_.lastCount || dropped));
    current_.lastCount = a.length;
    current_.pieceOut = false;
    if (a.status == 0) {
      FUZZ_CHECK(a.length == end);
      for (uint32_t i = 0; i < piece.length; ++i) handed_[piece.at + i].fate = Fate::kTaken;
      if (end < current_.total) return;
    } else {
      if (a.status == vportd::kStatusDeviceNotConnected && a.length > 0) FUZZ_CHECK(current_.dropSeen);
      if (a.status == vportd::kStatusTimeout) FUZZ_CHECK(current_.multiplier != 0 || current_.constant != 0);
      for (const Piece& p : current_.pieces)
        for (uint32_t i = 0; i < p.length; ++i) {
          Handed& byte = handed_[p.at + i];
          if (p.offset + i < a.length) {
            byte.fate = Fate::kTaken;
          } else {
            FUZZ_CHECK(!byte.sent);  // the program hears it was not written
            byte.fate = Fate::kRefused;
          }
        }
    }
    current_ = ProgramWrite{};
  }

  FuzzInput& in_;
  vportd::Engine engine_;
  uint64_t now_ = 1000;
  uint32_t lastId_ = 0;
  bool open_ = false;
  // The driver's view.
  bool windowLinked_ = false;
  uint32_t unanswered_ = 0;
  ProgramWrite current_;
  std::deque<ProgramWrite> waiting_;
  std::deque<uint32_t> aliveReads_;
  std::deque<ReadAnswer> answers_;
  size_t mostWanted_ = 0;
  // The socket's view.
  uint64_t socket_ = 0;
  bool connected_ = false;
  Bytes frame_;
  uint64_t frameSocket_ = 0;
  // What went each way.
  std::vector<Handed> handed_;
  size_t next_ = 0;
  bool loose_ = false;
  uint64_t received_ = 0, delivered_ = 0, epoch_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput input(data, size);
  Run run(input);
  for (int steps = 0; input.Left() != 0 && steps < 2000; ++steps) {
    run.Step();
    run.Settle();
  }
  return 0;
}
