#include "engine.h"

#include <algorithm>
#include <limits>
#include <utility>

#include "read_timeouts.h"
#include "serial_requests.h"

namespace vportd {
namespace {

constexpr uint64_t kNever = std::numeric_limits<uint64_t>::max();

bool SameEndpoint(const VportRemoteSettings& a, const VportRemoteSettings& b) {
  return std::equal(a.address, a.address + 4, b.address) && std::equal(a.port, a.port + 2, b.port) &&
         a.type == b.type;
}

const char* KindName(ActionKind kind) {
  switch (kind) {
    case ActionKind::kConnect:
      return "connect";
    case ActionKind::kSend:
      return "send";
    case ActionKind::kCloseSocket:
      return "close socket";
    case ActionKind::kAnswerRead:
      return "answer read";
    case ActionKind::kAnswerWrite:
      return "answer write";
    case ActionKind::kCredit:
      return "credit";
    case ActionKind::kReportQueues:
      return "queues";
    case ActionKind::kReportState:
      return "state";
    case ActionKind::kAnswerWait:
      return "answer wait";
  }
  return "?";
}

}  // namespace

std::string Describe(const Action& a) {
  std::string text = "COM" + std::to_string(a.com) + ": " + KindName(a.kind);
  switch (a.kind) {
    case ActionKind::kConnect:
      text += std::string(a.settings.type == VPORT_TYPE_UDP_CLIENT ? " udp " : " tcp ") +
              std::to_string(a.settings.address[0]) + "." + std::to_string(a.settings.address[1]) + "." +
              std::to_string(a.settings.address[2]) + "." + std::to_string(a.settings.address[3]) + ":" +
              std::to_string(a.settings.port[0] << 8 | a.settings.port[1]);
      break;
    case ActionKind::kSend:
    case ActionKind::kAnswerRead:
      text += " id " + std::to_string(a.id) + ", " + std::to_string(a.bytes.size()) + " bytes";
      break;
    case ActionKind::kAnswerWrite:
      text += " id " + std::to_string(a.id) + ", status " + std::to_string(a.status) + ", " +
              std::to_string(a.length) + " bytes taken";
      break;
    case ActionKind::kCredit:
      text += " " + std::to_string(a.length) + " bytes" +
              (a.status != 0 ? " dropped: the port is not connected" : "");
      break;
    case ActionKind::kReportQueues:
      text += " " + std::to_string(a.inQueued) + " in, " + std::to_string(a.outQueued) + " out";
      break;
    case ActionKind::kReportState:
      text += std::string(" ") + VportLinkStateText(a.state);
      break;
    case ActionKind::kAnswerWait:
      text += " id " + std::to_string(a.id) + ", events " + std::to_string(a.state);
      break;
    case ActionKind::kCloseSocket:
      break;
  }
  if (a.socket != 0) text += " (socket " + std::to_string(a.socket) + ")";
  return text;
}

bool Engine::HandleRequest(const uint8_t* record, size_t size, uint64_t nowMs) {
  VportBridgeRequest request;
  if (!VportReadBridgeRequest(record, size, &request)) return false;
  const uint8_t* payload = record + VPORT_BRIDGE_HEADER_SIZE;
  const size_t payloadSize = std::min<size_t>(request.length, size - VPORT_BRIDGE_HEADER_SIZE);
  // A record of no kind this service knows names no port: it makes none.
  if (request.kind < VPORT_BRIDGE_WRITE || request.kind > VPORT_BRIDGE_PURGE) return false;
  Port& port = PortOf(request.comNumber);
  switch (request.kind) {
    case VPORT_BRIDGE_OPEN:
      port.opening = request.id;  // named again in this opening's link reports and credits
      Open(port, payload, payloadSize, request.flags, nowMs);
      break;
    case VPORT_BRIDGE_SETTINGS:
      ApplySettings(port, payload, payloadSize, (request.flags & VPORT_BRIDGE_FLAG_CONNECT) != 0, nowMs);
      break;
    case VPORT_BRIDGE_CLOSE:
      Close(port, nowMs);
      break;
    case VPORT_BRIDGE_WRITE:
      port.writes.push_back(
          Write{.id = request.id,
                .bytes = std::vector<uint8_t>(payload, payload + payloadSize),
                .total = request.total,
                .offset = request.offset,
                .totalMs = uint64_t{request.timeouts[3]} * request.total + request.timeouts[4],
                .done = (request.flags & VPORT_BRIDGE_FLAG_DONE) != 0});
      break;
    case VPORT_BRIDGE_WAIT:
      Wait(port, request.id, request.length, nowMs);
      break;
    case VPORT_BRIDGE_PURGE:
      Purge(port, request.flags, nowMs);
      break;
    case VPORT_BRIDGE_MASK:
      port.waitId = 0;  // the driver ended it, with no event
      port.eventMask = request.flags;
      port.seenEvents = 0;
      break;
    case VPORT_BRIDGE_READ:
      port.reads.push_back(Read{request.id,
                                request.length,
                                {request.timeouts[0], request.timeouts[1], request.timeouts[2]},
                                nowMs});
      break;
    default:
      return false;
  }
  Settle(port, nowMs);
  return true;
}

Engine::Port& Engine::PortOf(uint32_t com) {
  auto [at, added] = ports_.try_emplace(com);
  Port& port = at->second;
  if (added) {
    port.com = com;
    VportLinkInit(&port.link);
    port.sendStorage.resize(kSendQueueBytes);
    VportTxInit(&port.sendQueue, port.sendStorage.data(), port.sendStorage.size());
  }
  return port;
}

const Engine::Port* Engine::PortOfSocket(uint64_t socket) const {
  for (const auto& [com, port] : ports_)
    if (socket != 0 && port.socket == socket) return &port;
  return nullptr;
}

Engine::Port* Engine::PortOfSocket(uint64_t socket) {
  return const_cast<Port*>(std::as_const(*this).PortOfSocket(socket));
}

namespace {

// The bound on a port's bytes for its reader (see kReceiveBufferBytes).
template <typename P>
size_t ReceiveRoom(const P& port) {
  return port.reads.empty() ? kReceiveBufferBytes
                            : std::max<size_t>(kReceiveBufferBytes, port.reads.front().wanted);
}

}  // namespace

bool Engine::HasRoom(uint64_t socket) const {
  const Port* port = PortOfSocket(socket);
  return port == nullptr || port->received.size() + port->answering.size() < ReceiveRoom(*port);
}

size_t Engine::HeldForReading(uint32_t com) const {
  auto at = ports_.find(com);
  return at == ports_.end() ? 0 : at->second.received.size() + at->second.answering.size();
}

size_t Engine::Unsent(uint32_t com) const {
  auto at = ports_.find(com);
  if (at == ports_.end()) return 0;
  size_t out = at->second.sendQueue.length;
  for (const Write& write : at->second.writes) out += write.bytes.size() - write.accepted;
  return out;
}

// A program opened the port: what an earlier one received is gone, and the
// port connects when it is set to at start or the manager asked for it. What
// an earlier one wrote and was told is done still goes out first, as a serial
// line sends what its transmit buffer holds whoever opens it next (Close),
// unless this opening is for another endpoint or does not connect.
void Engine::Open(Port& port, const uint8_t* payload, size_t size, uint32_t flags, uint64_t nowMs) {
  if (port.open) Close(port, nowMs);
  // The driver starts this opening with an empty window: nothing held from before comes off it.
  for (Write& write : port.writes) write.earlier = true;
  port.uncredited = 0;
  port.creditDueMs = 0;
  port.open = true;
  port.managerConnect = (flags & VPORT_BRIDGE_FLAG_CONNECT) != 0;
  port.eventMask = port.seenEvents = 0;    // a new program sets its own mask
  port.reportedIn = port.reportedOut = 0;  // the driver starts the opening with empty queues
  port.outDueMs = 0;
  // The driver forgot the link state at the open: it hears it again.
  port.reportedState = UINT32_MAX;
  port.received.clear();  // what came while no program had the port is not for this one
  VportRemoteSettings settings;
  if (VportParseRemoteRequest(payload, size, &settings) == VPORT_PARSE_OK) {
    if (!SameEndpoint(settings, port.settings)) Disconnect(port, nowMs);
    port.settings = settings;
  }
  if (port.settings.connectAtStart != 0 || port.managerConnect) {
    port.lingerUntilMs = 0;  // this opening keeps the link
    Connect(port, nowMs);
  } else if (port.lingerUntilMs != 0) {
    // A program that does not connect must not see a link that would take
    // its writes and then go: the earlier bytes go with it.
    Disconnect(port, nowMs);
  }
}

void Engine::ApplySettings(Port& port, const uint8_t* payload, size_t size, bool connect, uint64_t nowMs) {
  VportRemoteSettings settings;
  if (VportParseRemoteRequest(payload, size, &settings) == VPORT_PARSE_OK) {
    // A connection to the old endpoint is of no use any more.
    if (!SameEndpoint(settings, port.settings)) Disconnect(port, nowMs);
    port.settings = settings;
  }
  port.managerConnect = connect;
  if (connect)
    Connect(port, nowMs);
  else
    Disconnect(port, nowMs);
}

// The program purged the port. Writes it aborted are gone from the driver:
// those not yet queued are not sent (a done write is not the program's to
// abort; the output's purge drops it with the rest).
// The bytes of a read answer that is out were not read yet: the input's purge
// drops them too, and the answer's outcome then changes nothing (an answer
// refused must not bring purged bytes back). Aborted reads alone keep them:
// a refused answer gives them back to the next read.
void Engine::Purge(Port& port, uint32_t flags, uint64_t nowMs) {
  if (flags & VPORT_PURGE_RXABORT) port.reads.clear();
  if (flags & VPORT_PURGE_RXCLEAR) {
    port.received.clear();
    port.answerOut = false;
    port.answering.clear();
  }
  if (flags & VPORT_PURGE_TXABORT) {
    std::erase_if(port.writes, [](const Write& write) { return !write.done; });
    port.taking.active = false;
  }
  if (flags & VPORT_PURGE_TXCLEAR) {
    VportTxClear(&port.sendQueue);
    for (const Write& write : port.writes)
      if (write.done && !write.earlier)
        Credit(port, write.bytes.size(), false, nowMs);  // gone: the driver's window opens again
    std::erase_if(port.writes, [](const Write& write) { return write.done; });
  }
}

// Answers the port's wait, if one is out, with `events`.
void Engine::EndWait(Port& port, uint32_t events) {
  if (port.waitId == 0) return;
  Emit(Action{.kind = ActionKind::kAnswerWait, .com = port.com, .id = port.waitId, .state = events});
  port.waitId = 0;
}

// Events of the mask are kept until a wait takes them all, at once when one
// is out; the others are not kept, as on a serial port.
void Engine::Signal(Port& port, uint32_t events, uint64_t nowMs) {
  port.seenEvents |= events & port.eventMask;
  if (port.waitId == 0 || port.seenEvents == 0) return;
  // A program looks at its comm status once its wait ends: the driver hears it first.
  ReportQueues(port, nowMs);
  EndWait(port, port.seenEvents);
  port.seenEvents = 0;
}

// One wait at a time: a new one ends the old with no event. Bytes waiting to
// be read end it at once, also when they came before the mask was set.
void Engine::Wait(Port& port, uint32_t id, uint32_t mask, uint64_t nowMs) {
  EndWait(port, 0);
  port.waitId = id;
  port.eventMask = mask;
  port.seenEvents &= mask;
  Signal(port, port.received.empty() ? 0 : VPORT_EVENT_RXCHAR, nowMs);
}

// Writes the program was told are done still go out, also when another
// program opens the port meanwhile (as a serial line drains its transmit
// buffer): while connected, the port stays so until they are sent or
// kLingerMs passed; one the manager connected stays connected. Their bytes no
// longer go back to a window: the driver starts the next opening with an
// empty one, and credits of these would open it beyond its size. Done writes
// left by an opening before this one, still not queued, are dropped, so a
// port holds those of one closed opening at most. Writes still waiting for
// their answer are gone with the program.
void Engine::Close(Port& port, uint64_t nowMs) {
  port.open = false;
  port.waitId = 0;  // the driver ended it with the program's handle
  std::erase_if(port.writes, [](const Write& write) { return !write.done || write.earlier; });
  for (Write& write : port.writes) write.earlier = true;
  port.taking.active = false;
  port.uncredited = 0;
  port.creditDueMs = 0;
  port.reads.clear();
  port.received.clear();
  port.answerOut = false;
  port.answering.clear();
  // Connected by the manager, the port stays so until the manager closes it.
  if (port.managerConnect) return;
  const bool unsent = port.sendQueue.length > 0 || !port.writes.empty();
  if (port.link.state == VPORT_LINK_CONNECTED && unsent) {
    port.lingerUntilMs = nowMs + kLingerMs;
    return;
  }
  Disconnect(port, nowMs);
}

// A closed port that sent all it had, ran out of time or lost its connection
// is disconnected; what is left is dropped.
void Engine::EndLinger(Port& port, uint64_t nowMs) {
  if (port.lingerUntilMs == 0) return;
  const bool unsent = port.sendQueue.length > 0 || !port.writes.empty();
  if (unsent && port.link.state == VPORT_LINK_CONNECTED && nowMs < port.lingerUntilMs) return;
  port.lingerUntilMs = 0;
  Disconnect(port, nowMs);
}

// Back to idle: bytes held for the connection are dropped, and writes that
// wait are refused (Settle) since nothing will carry them.
void Engine::Disconnect(Port& port, uint64_t nowMs) {
  port.lingerUntilMs = 0;
  DoLink(port, VportLinkClose(&port.link, nowMs));
  DropUnsent(port);
}

// The send queue's bytes are dropped unsent. Those of the write being taken
// are its queue's last bytes (nothing else is queued until it ended), and it
// may count only bytes that went out.
void Engine::DropUnsent(Port& port) {
  Taking& taking = port.taking;
  if (taking.active) taking.dropped += std::min(port.sendQueue.length, taking.taken - taking.dropped);
  VportTxClear(&port.sendQueue);
}

void Engine::Connect(Port& port, uint64_t nowMs) {
  if (!VportHasEndpoint(&port.settings)) return;
  DoLink(port, VportLinkOpen(&port.link, nowMs));
}

void Engine::DoLink(Port& port, unsigned what) {
  if (what == VPORT_LINK_DO_CLOSE && port.socket != 0) {
    Emit(Action{.kind = ActionKind::kCloseSocket, .com = port.com, .socket = port.socket});
    port.socket = 0;
    port.sending = port.blocked = false;
  } else if (what == VPORT_LINK_DO_CONNECT) {
    port.socket = ++lastSocket_;
    port.sending = port.blocked = false;
    Emit(Action{
        .kind = ActionKind::kConnect, .com = port.com, .socket = port.socket, .settings = port.settings});
  }
}

void Engine::Connected(uint64_t socket, uint64_t nowMs) {
  Port* port = PortOfSocket(socket);
  if (port == nullptr) return;
  DoLink(*port, VportLinkConnected(&port->link, nowMs));
  Settle(*port, nowMs);
}

void Engine::Failed(uint64_t socket, uint64_t nowMs) {
  Port* port = PortOfSocket(socket);
  if (port == nullptr) return;
  DoLink(*port, VportLinkFailed(&port->link, nowMs));
  Settle(*port, nowMs);
}

void Engine::Received(uint64_t socket, const uint8_t* bytes, size_t count, uint64_t nowMs) {
  Port* port = PortOfSocket(socket);
  if (port == nullptr || count == 0) return;
  port->received.insert(port->received.end(), bytes, bytes + count);
  port->lastByteMs = nowMs;
  Signal(*port, VPORT_EVENT_RXCHAR, nowMs);
  Settle(*port, nowMs);
}

void Engine::Sent(uint64_t socket, size_t taken, bool wouldBlock, uint64_t nowMs) {
  Port* port = PortOfSocket(socket);
  if (port == nullptr) return;
  VportTxConsume(&port->sendQueue, taken);
  // Sent empty: no byte is queued and no write waits to be.
  if (taken > 0 && port->sendQueue.length == 0 && port->writes.empty())
    Signal(*port, VPORT_EVENT_TXEMPTY, nowMs);
  // Blocked, the send stays out until the socket says it has room.
  port->blocked = taken == 0 && wouldBlock;
  if (!port->blocked) port->sending = false;
  Settle(*port, nowMs);
}

// Room on the socket matters only to a send it refused: a send still on its
// way (asked for, not yet done) must not be asked for twice.
void Engine::Writable(uint64_t socket, uint64_t nowMs) {
  Port* port = PortOfSocket(socket);
  if (port == nullptr || !port->blocked) return;
  port->blocked = false;
  port->sending = false;
  Settle(*port, nowMs);
}

void Engine::ReadAnswered(uint32_t com, uint32_t id, bool accepted, uint64_t nowMs) {
  auto at = ports_.find(com);
  if (at == ports_.end() || !at->second.answerOut || at->second.answerId != id) return;
  Port& port = at->second;
  port.answerOut = false;
  if (!accepted) port.received.insert(port.received.begin(), port.answering.begin(), port.answering.end());
  port.answering.clear();
  Settle(port, nowMs);
}

void Engine::Tick(uint64_t nowMs) {
  for (auto& [com, port] : ports_) {
    if (port.creditDueMs != 0 && nowMs >= port.creditDueMs) GiveCredit(port, 0);
    DoLink(port, VportLinkTick(&port.link, nowMs));
    Settle(port, nowMs);
  }
}

uint64_t Engine::NextDue() const {
  uint64_t due = kNever;
  for (const auto& [com, port] : ports_) {
    due = std::min(due, VportLinkNextDue(&port.link));
    if (port.lingerUntilMs != 0) due = std::min(due, port.lingerUntilMs);
    if (port.creditDueMs != 0) due = std::min(due, port.creditDueMs);
    if (port.outDueMs != 0) due = std::min(due, port.outDueMs);
    if (!port.answerOut && !port.reads.empty()) {
      const Read& read = port.reads.front();
      VportReadTimeouts timeouts{read.timeouts[0], read.timeouts[1], read.timeouts[2]};
      VportRead state{read.wanted, port.received.size(), read.startMs, port.lastByteMs};
      due = std::min(due, VportReadDecide(&timeouts, &state, read.startMs).deadlineMs);
    }
    if (!port.writes.empty() && !port.writes.front().done && port.taking.active &&
        port.taking.id == port.writes.front().id && port.taking.dueMs != 0)
      due = std::min(due, port.taking.dueMs);
  }
  return due;
}

std::vector<Action> Engine::TakeActions() {
  std::vector<Action> taken;
  taken.swap(actions_);
  return taken;
}

// After any event on a port: the driver hears of a new link state (and a
// wait of the modem lines' change after it, so the lines it then reads agree),
// waiting writes go into the send queue, the next frame goes out, reads that
// are due are answered.
void Engine::Settle(Port& port, uint64_t nowMs) {
  if (port.link.state != port.reportedState) {
    const bool wasUp = port.reportedState == VPORT_LINK_CONNECTED;
    port.reportedState = port.link.state;
    Emit(Action{
        .kind = ActionKind::kReportState, .com = port.com, .id = port.opening, .state = port.reportedState});
    if (wasUp != (port.reportedState == VPORT_LINK_CONNECTED)) Signal(port, kLineEvents, nowMs);
  }
  QueueWrites(port, nowMs);
  SendNext(port);
  AnswerReads(port, nowMs);
  EndLinger(port, nowMs);
  ReportQueues(port, nowMs);
}

// What a program's comm status shows. The bytes waiting to be read are told
// when they change while no read waits for them (a program that polls the
// status before it reads) and when they are gone; a read that waits takes
// them as they come, and telling every arrival would cost a request each.
// The bytes to send are told once they waited kQueueReportDelayMs, and when
// none wait any more.
void Engine::ReportQueues(Port& port, uint64_t nowMs) {
  if (!port.open) {
    port.outDueMs = 0;
    return;
  }
  const size_t out = Unsent(port.com);
  if (out == 0) port.outDueMs = 0;
  if (out != 0 && port.outDueMs == 0 && port.reportedOut == 0) port.outDueMs = nowMs + kQueueReportDelayMs;
  const auto in = static_cast<uint32_t>(port.received.size());
  const bool inNews = in != port.reportedIn && (in == 0 || port.reads.empty());
  const bool outNews = out == 0 ? port.reportedOut != 0 : port.outDueMs != 0 && nowMs >= port.outDueMs;
  if (!inNews && !outNews) return;
  if (out != 0) port.outDueMs = 0;
  port.reportedIn = in;
  port.reportedOut = static_cast<uint32_t>(out);
  Emit(Action{.kind = ActionKind::kReportQueues,
              .com = port.com,
              .inQueued = port.reportedIn,
              .outQueued = port.reportedOut});
}

// Writes are taken in order, each whole or refused whole. Connected, one
// that does not fit waits for the queue to drain, until its total time-out
// (counted from when it is the oldest, as a serial port times only the write
// it is sending); being made (again), the hold queue takes one only when all
// of it fits, and any is refused while idle. A write is handed in pieces: its
// first decides (nothing else is queued before its last piece came, so the
// others then fit), its time-out spans them all, and each is answered once it
// is queued with the bytes of the write taken so far. A write of which bytes
// are queued is never refused: it ends with the bytes that went out when the
// port is disconnected under it. A done write is never refused and has no
// time-out: it waits for room in the hold queue too, and only a port
// disconnected drops it. Its bytes go back to the driver's window (Credit)
// instead of an answer.
void Engine::QueueWrites(Port& port, uint64_t nowMs) {
  while (!port.writes.empty()) {
    Write& write = port.writes.front();
    if (!(write.done ? QueueDone(port, write, nowMs) : QueuePiece(port, write, nowMs))) return;
    port.writes.pop_front();
  }
}

// A done write's bytes: false while they wait for room.
bool Engine::QueueDone(Port& port, Write& write, uint64_t nowMs) {
  size_t accepted = 0;
  VportWriteResult result =
      VportTxWrite(&port.sendQueue, port.link.state, write.bytes.data() + write.accepted,
                   write.bytes.size() - write.accepted, &accepted);
  write.accepted += accepted;
  if (result == VPORT_WRITE_PARTIAL || result == VPORT_WRITE_HOLD_FULL) return false;
  if (!write.earlier) Credit(port, write.bytes.size(), result != VPORT_WRITE_TAKEN, nowMs);
  return true;
}

// A piece of a write the driver waits on: false while it waits for room.
bool Engine::QueuePiece(Port& port, Write& write, uint64_t nowMs) {
  Taking& taking = port.taking;
  const bool known = taking.active && taking.id == write.id;
  if (write.offset == 0 && !known) {
    // A new write; one whose next piece never came was cancelled meanwhile.
    taking = Taking{.active = true, .id = write.id, .total = write.total};
  } else if (!known || write.offset + write.accepted != taking.taken) {
    // A piece of a write this service did not take from its start: it ends
    // with what the driver heard was taken before.
    Emit(Action{.kind = ActionKind::kAnswerWrite,
                .com = port.com,
                .id = write.id,
                .status = kStatusDeviceNotConnected,
                .length = write.offset});
    return true;
  }
  if (taking.dueMs == 0 && write.totalMs != 0) taking.dueMs = nowMs + write.totalMs;
  if (port.link.state == VPORT_LINK_IDLE || taking.dropped > 0)
    return EndWrite(port, write.id, kStatusDeviceNotConnected);
  const bool holding = port.link.state != VPORT_LINK_CONNECTED;
  if (holding && taking.taken == 0 && VportTxFree(&port.sendQueue) < size_t{taking.total})
    return EndWrite(port, write.id, kStatusDeviceNotConnected);
  const size_t took = VportTxAppend(&port.sendQueue, write.bytes.data() + write.accepted,
                                    write.bytes.size() - write.accepted);
  write.accepted += took;
  taking.taken += took;
  if (write.accepted == write.bytes.size()) {
    Emit(Action{.kind = ActionKind::kAnswerWrite,
                .com = port.com,
                .id = write.id,
                .status = 0,
                .length = static_cast<uint32_t>(taking.taken)});
    if (write.offset + write.bytes.size() >= taking.total) taking.active = false;
    return true;
  }
  if (taking.dueMs != 0 && nowMs >= taking.dueMs) return EndWrite(port, write.id, kStatusTimeout);
  return false;
}

// Ends the write being taken with `status` and the bytes of it that went or go out.
bool Engine::EndWrite(Port& port, uint32_t id, uint32_t status) {
  Taking& taking = port.taking;
  Emit(Action{.kind = ActionKind::kAnswerWrite,
              .com = port.com,
              .id = id,
              .status = status,
              .length = static_cast<uint32_t>(taking.taken - taking.dropped)});
  taking.active = false;
  return true;
}

// Bytes dropped go back at once, so that the log says so when it happens.
void Engine::Credit(Port& port, size_t bytes, bool dropped, uint64_t nowMs) {
  if (dropped) {
    GiveCredit(port, 0);
    port.uncredited = bytes;
    return GiveCredit(port, kStatusDeviceNotConnected);
  }
  port.uncredited += bytes;
  if (port.uncredited >= kCreditBytes) return GiveCredit(port, 0);
  if (port.creditDueMs == 0) port.creditDueMs = nowMs + kCreditDelayMs;
}

void Engine::GiveCredit(Port& port, uint32_t status) {
  if (port.uncredited > 0)
    Emit(Action{.kind = ActionKind::kCredit,
                .com = port.com,
                .id = port.opening,
                .status = status,
                .length = static_cast<uint32_t>(port.uncredited)});
  port.uncredited = 0;
  port.creditDueMs = 0;
}

void Engine::SendNext(Port& port) {
  if (port.link.state != VPORT_LINK_CONNECTED || port.sending || port.sendQueue.length == 0) return;
  const uint32_t limit = VportFrameLimit(port.settings.type, port.settings.maxPacketSize);
  std::vector<uint8_t> frame(std::min<size_t>(limit, port.sendQueue.length));
  frame.resize(VportTxPeekFrame(&port.sendQueue, limit, frame.data(), frame.size()));
  port.sending = true;
  Emit(Action{.kind = ActionKind::kSend, .com = port.com, .socket = port.socket, .bytes = std::move(frame)});
}

// The oldest read is answered first, and one answer is out at a time: a
// refused one gives its bytes back before any later read could take others.
void Engine::AnswerReads(Port& port, uint64_t nowMs) {
  if (port.answerOut || port.reads.empty()) return;
  const Read& read = port.reads.front();
  VportReadTimeouts timeouts{read.timeouts[0], read.timeouts[1], read.timeouts[2]};
  VportRead state{read.wanted, port.received.size(), read.startMs, port.lastByteMs};
  VportReadDecision decision = VportReadDecide(&timeouts, &state, nowMs);
  if (decision.outcome == VPORT_READ_WAIT) return;
  const auto end = port.received.begin() + static_cast<std::ptrdiff_t>(decision.take);
  port.answering.assign(port.received.begin(), end);
  port.received.erase(port.received.begin(), end);
  port.answerOut = true;
  port.answerId = read.id;
  Emit(Action{.kind = ActionKind::kAnswerRead, .com = port.com, .id = read.id, .bytes = port.answering});
  port.reads.pop_front();
}

void Engine::Emit(Action action) {
  actions_.push_back(std::move(action));
}

}  // namespace vportd
