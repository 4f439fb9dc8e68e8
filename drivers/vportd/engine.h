// The data service's logic for every virtual COM port, with no platform
// header: it takes the driver's bridge requests, the sockets' events and the
// time, and says what to do (actions) without doing any of it. The program
// around it owns the bridge handle, the sockets and the clock.
//
// Per port: the connection to the remote host (link_state.h, with its backoff),
// the send queue that is also the hold queue while (re)connecting (tx_queue.h),
// the bytes received and the reads waiting for them (read_timeouts.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <string>
#include <vector>

#include "bridge_records.h"
#include "link_state.h"
#include "port_records.h"
#include "tx_queue.h"

namespace vportd {

// The platform status a refused write or a read of a port that went away ends with.
constexpr uint32_t kStatusDeviceNotConnected = 0xC000009Du;
// The platform status a write ends with when its total time-out passed before
// all of it was taken: a success, with the bytes taken so far.
constexpr uint32_t kStatusTimeout = 0x00000102u;
// The modem lines' events: the lines follow the link, so they change together.
constexpr uint32_t kLineEvents = VPORT_EVENT_CTS | VPORT_EVENT_DSR | VPORT_EVENT_RLSD;
// Bytes a port holds on their way out: the send queue, and the hold queue while
// the connection is being made again.
constexpr size_t kSendQueueBytes = 128 * 1024;
// Bytes received that a port holds for its reader (those in a read answer that
// is out count too: a refused one gives them back); beyond, the socket is left
// unread until the reader took some. A read that waits for more bytes than
// that raises the bound to its length while it is the oldest, or it could
// never be filled. So a port holds at most
//   max(kReceiveBufferBytes, the oldest waiting read's length) + one Received's bytes
// as the caller asks HasRoom before each Received.
constexpr size_t kReceiveBufferBytes = 256 * 1024;
// How long a port whose program closed it stays connected to send what that
// program wrote before.
constexpr uint64_t kLingerMs = 2000;
// Bytes of done writes (the driver ended them and keeps a window for them)
// are given back to the driver once this many were taken, or kCreditDelayMs
// after the first of them: one control request per few kilobytes, not one per
// write.
constexpr size_t kCreditBytes = 8 * 1024;
constexpr uint64_t kCreditDelayMs = 20;
// Bytes to send are told to the driver (the comm status) once they waited this
// long: most writes are sent sooner, and telling each would cost a request.
constexpr uint64_t kQueueReportDelayMs = 20;

enum class ActionKind {
  kConnect,       // open a client socket of settings.type to settings' address and port
  kSend,          // send `bytes` on `socket`; report with Sent
  kCloseSocket,   // close `socket`
  kAnswerRead,    // answer read `id` with `bytes`; report with ReadAnswered
  kAnswerWrite,   // answer write `id`'s piece: `status`, `length` bytes of the whole write taken so far
  kReportState,   // tell the driver the port's link state `state`, of its opening `id`
  kAnswerWait,    // answer wait `id` with the events `state` (bits of the wait mask)
  kCredit,        // give `length` bytes of done writes back to the port's window; a
                  // nonzero `status` says they were dropped (the port was disconnected)
  kReportQueues,  // tell the driver the bytes held each way: `inQueued` to be read, `outQueued` to send
};

struct Action {
  ActionKind kind{};
  uint32_t com = 0;
  uint64_t socket = 0;  // names a socket in socket events; never reused
  VportRemoteSettings settings{};
  uint32_t id = 0;
  uint32_t status = 0;
  uint32_t length = 0;
  uint32_t state = 0;
  std::vector<uint8_t> bytes{};
  uint32_t inQueued = 0;
  uint32_t outQueued = 0;
};

std::string Describe(const Action& action);

class Engine {
 public:
  // A record NEXT brought of `size` bytes; false (and nothing done) when it is malformed.
  bool HandleRequest(const uint8_t* record, size_t size, uint64_t nowMs);

  // Socket events, by the socket's name from kConnect; those of a socket
  // already closed are ignored.
  void Connected(uint64_t socket, uint64_t nowMs);
  void Failed(uint64_t socket, uint64_t nowMs);  // attempt failed, error, or peer closed
  void Received(uint64_t socket, const uint8_t* bytes, size_t count, uint64_t nowMs);
  // The outcome of a kSend: `taken` bytes went (0 with wouldBlock: wait for Writable).
  void Sent(uint64_t socket, size_t taken, bool wouldBlock, uint64_t nowMs);
  void Writable(uint64_t socket, uint64_t nowMs);
  // Whether the socket's port has room for more bytes received.
  bool HasRoom(uint64_t socket) const;
  // The bytes a port holds for its reader: received, and in the answer out.
  size_t HeldForReading(uint32_t com) const;
  // The bytes of a port still to go out: queued, and of writes waiting to be.
  size_t Unsent(uint32_t com) const;

  // The outcome of the kAnswerRead of read `id`: refused when the read was
  // gone, whose bytes then go back to the front of what the port received.
  // The outcome of an answer the port no longer waits for (its program closed
  // the port, or purged what was received) changes nothing.
  void ReadAnswered(uint32_t com, uint32_t id, bool accepted, uint64_t nowMs);

  // Time passed: connection attempts and read time-outs that are due.
  void Tick(uint64_t nowMs);
  // When Tick has something to do next; UINT64_MAX: nothing until an event.
  uint64_t NextDue() const;

  // The actions since the last call, in the order they must be done.
  std::vector<Action> TakeActions();

 private:
  struct Read {
    uint32_t id;
    uint32_t wanted;
    uint32_t timeouts[3];  // interval, total multiplier, total constant
    uint64_t startMs;
  };
  // One piece of a write, as the driver handed it.
  struct Write {
    uint32_t id;
    std::vector<uint8_t> bytes;
    uint32_t total = 0;    // the whole write's length
    uint32_t offset = 0;   // where this piece starts in it
    uint64_t totalMs = 0;  // the whole write's total time-out; 0: none
    size_t accepted = 0;   // bytes of this piece queued
    bool done = false;     // the program was told it is written: never refused
    bool earlier = false;  // done by a program that closed the port since: no credit for it
  };
  // The write whose pieces are being taken: a write is taken whole or refused
  // whole, and timed out as one, across its pieces.
  struct Taking {
    bool active = false;
    uint32_t id = 0;
    uint32_t total = 0;
    size_t taken = 0;    // bytes of it queued, from its start
    size_t dropped = 0;  // of those, dropped unsent when the port was disconnected
    uint64_t dueMs = 0;  // when it times out, set once it is the oldest write; 0: none (yet)
  };
  struct Port {
    uint32_t com = 0;
    VportRemoteSettings settings{};
    bool open = false;
    bool managerConnect = false;  // the manager's Connect: connected with or without a program
    VportLink link{};
    uint32_t reportedState = VPORT_LINK_IDLE;
    uint32_t opening = 0;  // the driver's number of the port's last opening (its OPEN's id)
    uint64_t socket = 0;   // 0: none
    std::vector<uint8_t> sendStorage;
    VportTxQueue sendQueue{};
    bool sending = false;  // a kSend is out, or one waits for Writable
    bool blocked = false;  // the socket had no room for the last send
    std::deque<Write> writes;
    Taking taking;
    std::deque<uint8_t> received;
    uint64_t lastByteMs = 0;
    std::deque<Read> reads;
    bool answerOut = false;          // a kAnswerRead waits for its outcome
    uint32_t answerId = 0;           // its read's id
    std::vector<uint8_t> answering;  // its bytes, which come back when it is refused
    uint32_t waitId = 0;             // a wait on the event mask, or 0
    uint32_t eventMask = 0;          // the program's event mask, as last told
    uint32_t seenEvents = 0;         // events of the mask since it was set or a wait last ended
    uint64_t lingerUntilMs = 0;      // closed, sending what is left until then; 0: not lingering
    uint32_t reportedIn = 0;         // the queues as the driver last heard them
    uint32_t reportedOut = 0;
    uint64_t outDueMs = 0;     // bytes to send that wait are told then, if they still wait; 0: none
    size_t uncredited = 0;     // bytes of done writes taken, not yet given back
    uint64_t creditDueMs = 0;  // when they are given back at the latest; 0: none waits
  };

  Port& PortOf(uint32_t com);
  Port* PortOfSocket(uint64_t socket);
  const Port* PortOfSocket(uint64_t socket) const;
  void Open(Port& port, const uint8_t* payload, size_t size, uint32_t flags, uint64_t nowMs);
  void ApplySettings(Port& port, const uint8_t* payload, size_t size, bool connect, uint64_t nowMs);
  void Close(Port& port, uint64_t nowMs);
  void EndWait(Port& port, uint32_t events);
  void Signal(Port& port, uint32_t events, uint64_t nowMs);
  void Wait(Port& port, uint32_t id, uint32_t mask, uint64_t nowMs);
  void Disconnect(Port& port, uint64_t nowMs);
  void Connect(Port& port, uint64_t nowMs);
  void DoLink(Port& port, unsigned what);
  void LinkFailed(Port& port, uint64_t nowMs);
  void Settle(Port& port, uint64_t nowMs);
  void EndLinger(Port& port, uint64_t nowMs);
  void Purge(Port& port, uint32_t flags, uint64_t nowMs);
  void ReportQueues(Port& port, uint64_t nowMs);
  void Credit(Port& port, size_t bytes, bool dropped, uint64_t nowMs);
  void GiveCredit(Port& port, uint32_t status);
  void QueueWrites(Port& port, uint64_t nowMs);
  bool QueueDone(Port& port, Write& write, uint64_t nowMs);
  bool QueuePiece(Port& port, Write& write, uint64_t nowMs);
  bool EndWrite(Port& port, uint32_t id, uint32_t status);
  void DropUnsent(Port& port);
  void SendNext(Port& port);
  void AnswerReads(Port& port, uint64_t nowMs);
  void Emit(Action action);

  std::map<uint32_t, Port> ports_;
  uint64_t lastSocket_ = 0;
  std::vector<Action> actions_;
};

}  // namespace vportd
