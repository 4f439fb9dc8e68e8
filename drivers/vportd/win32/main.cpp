// vportd.exe: the data service of the virtual COM ports. It waits on the port
// driver's bridge for the ports' requests, carries their bytes over TCP or UDP
// client sockets to the remote hosts, and answers the ports' reads and writes.
// One thread: one wait on the bridge's pending request, the sockets' events
// and the engine's next deadline.
//
//   vportd [--ready-event NAME] [--stop-event NAME]
//
// --ready-event: set the named event once the bridge is open and the first
// request is being waited for. --stop-event: end when the named event is set.
#include <winsock2.h>
#include <ws2tcpip.h>
// <windows.h> after Winsock 2, which it would otherwise bring in as version 1.
#include <windows.h>

#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <string>
#include <vector>

#include "engine.h"
#include "log.h"
#include "service.h"

namespace {

using vportd::Action;
using vportd::ActionKind;
using Bytes = std::vector<uint8_t>;

// The largest write piece the driver hands over in one request.
constexpr size_t kPieceBytes = 64 * 1024;
constexpr DWORD kBridgeRetryMs = 500;
constexpr int kMostFailedNexts = 10;

uint64_t Now() {
  return GetTickCount64();
}

using vportd::Log;

// The driver's bridge device, with NEXT requests kept waiting on it. Two wait
// at once, so that a request the driver has while the service works on the
// last one goes out at once instead of waiting for the service to ask again.
// The driver fills them in the order they were made; the service takes them
// in that order.
class Bridge {
 public:
  static constexpr size_t kSlots = 2;

  Bridge()
      : controlEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)),
        answerEvent_(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {
    for (Slot& slot : slots_) {
      slot.event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      slot.buffer.resize(VPORT_BRIDGE_HEADER_SIZE + kPieceBytes);
    }
  }
  ~Bridge() {
    if (handle_ != INVALID_HANDLE_VALUE) {
      CancelIo(handle_);
      // The driver may still write to an answer's block: it goes only once ended.
      DWORD done = 0;
      for (Answer& answer : answers_)
        if (answer.pending) GetOverlappedResult(handle_, &answer.overlapped, &done, TRUE);
      CloseHandle(handle_);
    }
    for (Slot& slot : slots_) CloseHandle(slot.event);
    CloseHandle(controlEvent_);
    CloseHandle(answerEvent_);
  }
  Bridge(const Bridge&) = delete;
  Bridge& operator=(const Bridge&) = delete;

  // Opens the bridge, waiting while the driver has not made it yet; false
  // when `stop` was set meanwhile or it cannot be opened for another reason.
  bool Open(HANDLE stop) {
    for (bool told = false;; told = true) {
      handle_ = CreateFileA(VPORT_BRIDGE_DOS_NAME, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                            FILE_FLAG_OVERLAPPED, nullptr);
      if (handle_ != INVALID_HANDLE_VALUE) return true;
      DWORD error = GetLastError();
      if (error != ERROR_FILE_NOT_FOUND && error != ERROR_PATH_NOT_FOUND) {
        Log("cannot open the bridge: error " + std::to_string(error));
        return false;
      }
      if (!told) Log("waiting for the port driver's bridge");
      if (stop != nullptr && WaitForSingleObject(stop, kBridgeRetryMs) == WAIT_OBJECT_0) return false;
      if (stop == nullptr) Sleep(kBridgeRetryMs);
    }
  }

  // The events the slots' requests and the answers set when they end.
  void AddEvents(std::vector<HANDLE>& handles) const {
    for (const Slot& slot : slots_) handles.push_back(slot.event);
    handles.push_back(answerEvent_);
  }

  // Starts every slot waiting; false when the driver refused at once.
  bool StartAll() {
    for (size_t i = 0; i < kSlots; ++i)
      if (!Start(slots_[i])) return false;
    return true;
  }

  // Whether the oldest slot's request has ended (read without asking the platform).
  bool HasNext() const { return HasOverlappedIoCompleted(&slots_[oldest_].overlapped); }

  // The oldest slot's request, once HasNext(); empty when the wait failed. The
  // slot waits again at once (false in `restarted` when the driver refused).
  Bytes TakeNext(bool& restarted) {
    Slot& slot = slots_[oldest_];
    oldest_ = (oldest_ + 1) % kSlots;
    DWORD got = 0;
    Bytes record;
    if (GetOverlappedResult(handle_, &slot.overlapped, &got, FALSE))
      record.assign(slot.buffer.begin(), slot.buffer.begin() + got);
    else
      Log("waiting for requests failed: error " + std::to_string(GetLastError()));
    restarted = Start(slot);
    return record;
  }

  // Sends the answer to a read, a write or a wait, and goes on without
  // waiting for the driver to take it: each answer would otherwise hold the
  // service for a round trip to the driver. TakeEndedAnswers tells how it went.
  void Complete(const Action& action, uint32_t status, uint32_t length, const Bytes& bytes) {
    Bytes record(VPORT_ANSWER_HEADER_SIZE + bytes.size());
    VportWriteBridgeAnswer(action.id, status, length, record.data(), record.size());
    std::copy(bytes.begin(), bytes.end(), record.begin() + VPORT_ANSWER_HEADER_SIZE);
    Start(VPORT_BRIDGE_COMPLETE, action, std::move(record));
  }

  // Tells the driver the bytes held for a port each way, the same way.
  void ReportQueues(const Action& action) {
    Bytes record(VPORT_BRIDGE_QUEUES_SIZE);
    const uint32_t fields[3] = {action.com, action.inQueued, action.outQueued};
    for (int f = 0; f < 3; ++f)
      for (int i = 0; i < 4; ++i) record[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
    Start(VPORT_BRIDGE_QUEUES, action, std::move(record));
  }

  // Gives bytes of a port's done writes back to its window, the same way.
  void Credit(const Action& action) {
    Start(VPORT_BRIDGE_CREDIT, action, Tagged(action.com, action.length, action.id));
  }

  // Hands each answer the driver took, or refused, to `ended` with its
  // action and the platform's error (0: taken), in the order they were sent.
  void TakeEndedAnswers(const std::function<void(const Action&, DWORD)>& ended) {
    if (answers_.empty()) return;
    ResetEvent(answerEvent_);
    while (!answers_.empty()) {
      Answer& answer = answers_.front();
      if (answer.pending && !HasOverlappedIoCompleted(&answer.overlapped)) return;
      DWORD done = 0;
      if (answer.pending && !GetOverlappedResult(handle_, &answer.overlapped, &done, FALSE))
        answer.error = GetLastError();
      const Action action = answer.action;
      const DWORD error = answer.error;
      answers_.pop_front();
      ended(action, error);
    }
  }

  DWORD ReportState(const Action& action) {
    Bytes record = Tagged(action.com, action.state, action.id);
    return Control(VPORT_BRIDGE_STATE, record);
  }

 private:
  // A port's record with a value, named for the opening it belongs to.
  static Bytes Tagged(uint32_t com, uint32_t value, uint32_t opening) {
    Bytes record(VPORT_BRIDGE_TAGGED_SIZE);
    const uint32_t fields[3] = {com, value, opening};
    for (int f = 0; f < 3; ++f)
      for (int i = 0; i < 4; ++i) record[4 * f + i] = static_cast<uint8_t>(fields[f] >> (8 * i));
    return record;
  }

  struct Slot {
    HANDLE event = nullptr;
    OVERLAPPED overlapped{};
    Bytes buffer;
  };
  struct Answer {
    Action action;
    Bytes buffer;
    OVERLAPPED overlapped{};
    bool pending = false;  // the driver has not ended it yet
    DWORD error = 0;
  };

  void Start(DWORD code, const Action& action, Bytes record) {
    Answer& answer = answers_.emplace_back();
    answer.action = {.kind = action.kind, .com = action.com, .id = action.id};
    answer.buffer = std::move(record);
    answer.overlapped.hEvent = answerEvent_;
    if (DeviceIoControl(handle_, code, answer.buffer.data(), static_cast<DWORD>(answer.buffer.size()),
                        nullptr, 0, nullptr, &answer.overlapped))
      return;
    answer.error = GetLastError();
    answer.pending = answer.error == ERROR_IO_PENDING;
    if (answer.pending) answer.error = 0;
  }

  bool Start(Slot& slot) {
    slot.overlapped = OVERLAPPED{};
    slot.overlapped.hEvent = slot.event;
    ResetEvent(slot.event);
    if (DeviceIoControl(handle_, VPORT_BRIDGE_NEXT, nullptr, 0, slot.buffer.data(),
                        static_cast<DWORD>(slot.buffer.size()), nullptr, &slot.overlapped))
      return true;
    return GetLastError() == ERROR_IO_PENDING;
  }

  // A control request that the driver finishes at once; waits for it all the same.
  DWORD Control(DWORD code, Bytes& input) {
    OVERLAPPED overlapped{};
    overlapped.hEvent = controlEvent_;
    ResetEvent(controlEvent_);
    DWORD done = 0, error = 0;
    if (!DeviceIoControl(handle_, code, input.data(), static_cast<DWORD>(input.size()), nullptr, 0, &done,
                         &overlapped)) {
      error = GetLastError();
      if (error == ERROR_IO_PENDING)
        error = GetOverlappedResult(handle_, &overlapped, &done, TRUE) ? 0 : GetLastError();
    }
    return error;
  }

  HANDLE handle_ = INVALID_HANDLE_VALUE;
  HANDLE controlEvent_;
  HANDLE answerEvent_;         // set whenever an answer ends
  std::list<Answer> answers_;  // in the order sent; a list keeps each OVERLAPPED in place
  Slot slots_[kSlots];
  size_t oldest_ = 0;
};

struct Socket {
  SOCKET handle = INVALID_SOCKET;
  WSAEVENT event = WSA_INVALID_EVENT;
  uint32_t com = 0;
  bool udp = false;
  bool paused = false;      // bytes wait in it until the port has room for them
  bool peerClosed = false;  // the remote host closed; what it sent is still being taken
};

class Service {
 public:
  explicit Service(HANDLE stop) : stop_(stop) {}
  ~Service() {
    for (auto& [id, socket] : sockets_) CloseSocket(socket);
  }

  // Serves until `stop` is set or the bridge fails; the exit status.
  int Run(HANDLE ready) {
    if (!bridge_.Open(stop_)) return 1;
    if (!bridge_.StartAll()) {
      Log("the bridge refused to hand over requests: error " + std::to_string(GetLastError()));
      return 1;
    }
    Log("bridge open, waiting for requests");
    if (ready != nullptr) SetEvent(ready);
    for (int failures = 0; failures < kMostFailedNexts;) {
      // The stop event first: when it is set it is the one the wait names.
      std::vector<HANDLE> handles;
      if (stop_ != nullptr) handles.push_back(stop_);
      bridge_.AddEvents(handles);
      const size_t fixed = handles.size();
      for (auto& [id, socket] : sockets_)
        if (handles.size() < MAXIMUM_WAIT_OBJECTS) handles.push_back(socket.event);
      // Sockets beyond what one wait covers are polled often instead.
      const bool someLeftOut = sockets_.size() > handles.size() - fixed;
      DWORD woke = WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), FALSE,
                                          WaitMs(someLeftOut));
      if (stop_ != nullptr && woke == WAIT_OBJECT_0) {
        Log("stopping");
        return 0;
      }
      bridge_.TakeEndedAnswers([this](const Action& action, DWORD error) { AnswerEnded(action, error); });
      while (bridge_.HasNext()) {
        bool restarted = false;
        failures = OnNext(restarted) ? 0 : failures + 1;
        if (!restarted) {
          Log("the bridge refused to hand over requests: error " + std::to_string(GetLastError()));
          return 1;
        }
        if (failures >= kMostFailedNexts) break;
      }
      PollSockets();
      engine_.Tick(Now());
      Execute();
    }
    Log("giving up: the bridge keeps failing");
    return 1;
  }

 private:
  static constexpr uint64_t kPollMs = 50;

  // Until the engine's next deadline.
  DWORD WaitMs(bool polling) {
    uint64_t due = engine_.NextDue(), now = Now();
    uint64_t wait = due <= now ? 0 : due - now;
    if (polling && wait > kPollMs) wait = kPollMs;
    return wait >= INFINITE ? INFINITE : static_cast<DWORD>(wait);
  }

  // Hands the request that came to the engine; false when none came.
  bool OnNext(bool& restarted) {
    Bytes record = bridge_.TakeNext(restarted);
    if (!record.empty() && !engine_.HandleRequest(record.data(), record.size(), Now()))
      Log("ignoring a malformed request of " + std::to_string(record.size()) + " bytes");
    Execute();
    return !record.empty();
  }

  void PollSockets() {
    std::vector<uint64_t> ids;
    for (auto& [id, socket] : sockets_) ids.push_back(id);
    for (uint64_t id : ids) {
      auto at = sockets_.find(id);
      // Asking for the socket's events also clears them: one call, not a poll and then the ask.
      if (at != sockets_.end()) OnSocket(id);
      // A socket left unread for want of room gets no new read event: read it once there is room.
      at = sockets_.find(id);
      if (at != sockets_.end() && at->second.paused && engine_.HasRoom(id)) Receive(id, at->second);
      Execute();
    }
  }

  void OnSocket(uint64_t id) {
    Socket& socket = sockets_.at(id);
    WSANETWORKEVENTS events{};
    if (WSAEnumNetworkEvents(socket.handle, socket.event, &events) != 0) return;
    if (events.lNetworkEvents & FD_CONNECT) {
      const int error = events.iErrorCode[FD_CONNECT_BIT];
      Log("COM" + std::to_string(socket.com) + ": " +
          (error == 0 ? std::string("connected") : "connection failed: error " + std::to_string(error)));
      if (error != 0) return engine_.Failed(id, Now());
      engine_.Connected(id, Now());
    }
    if (events.lNetworkEvents & FD_WRITE) engine_.Writable(id, Now());
    if (events.lNetworkEvents & FD_CLOSE) socket.peerClosed = true;
    if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) Receive(id, socket);
  }

  // Hands what arrived to the engine while the port has room for it. The
  // connection counts as lost on an error (such as a UDP port unreachable
  // coming back), or once the remote host closed it and every byte it sent
  // before was taken. Over UDP nothing is closed: recv's 0 is a datagram
  // without bytes, which carries nothing for the port.
  void Receive(uint64_t id, Socket& socket) {
    static char buffer[64 * 1024];
    // Left in the socket, bytes hold the remote host back (TCP) or are
    // dropped there (UDP) until the port's reader took what it has.
    for (socket.paused = !engine_.HasRoom(id); !socket.paused; socket.paused = !engine_.HasRoom(id)) {
      int got = recv(socket.handle, buffer, sizeof buffer, 0);
      if (got > 0) {
        engine_.Received(id, reinterpret_cast<const uint8_t*>(buffer), static_cast<size_t>(got), Now());
        continue;
      }
      if (got == 0 && socket.udp) continue;
      const int error = got < 0 ? WSAGetLastError() : 0;
      if (error == WSAEWOULDBLOCK && !socket.peerClosed) return;
      if (error != 0 && error != WSAEWOULDBLOCK)
        Log("COM" + std::to_string(socket.com) + ": receive failed: error " + std::to_string(error));
      else
        Log("COM" + std::to_string(socket.com) + ": the remote host closed the connection");
      return engine_.Failed(id, Now());
    }
  }

  // Does what the engine asked for until it asks for nothing more.
  void Execute() {
    for (auto actions = engine_.TakeActions(); !actions.empty(); actions = engine_.TakeActions())
      for (const Action& action : actions) Do(action);
  }

  // What the log shows: the connections, the link states and what was refused
  // or dropped, not every byte carried.
  static bool Logged(const Action& action) {
    switch (action.kind) {
      case ActionKind::kConnect:
      case ActionKind::kCloseSocket:
      case ActionKind::kReportState:
        return true;
      case ActionKind::kAnswerWrite:
      case ActionKind::kCredit:
        return action.status != 0;
      default:
        return false;
    }
  }

  // An answer the driver took or refused. A read's refused answer means its
  // read was gone: the engine takes the bytes back.
  void AnswerEnded(const Action& action, DWORD error) {
    const char* what = action.kind == ActionKind::kAnswerRead     ? "read answer"
                       : action.kind == ActionKind::kAnswerWrite  ? "write answer"
                       : action.kind == ActionKind::kCredit       ? "credit"
                       : action.kind == ActionKind::kReportQueues ? "queue report"
                                                                  : "wait answer";
    if (error != 0)
      Log("COM" + std::to_string(action.com) + ": " + what + " refused: error " + std::to_string(error));
    if (action.kind == ActionKind::kAnswerRead)
      engine_.ReadAnswered(action.com, action.id, error == 0, Now());
  }

  void Do(const Action& action) {
    if (Logged(action)) Log(vportd::Describe(action));
    switch (action.kind) {
      case ActionKind::kConnect:
        return Connect(action);
      case ActionKind::kSend:
        return Send(action);
      case ActionKind::kCloseSocket: {
        auto at = sockets_.find(action.socket);
        if (at == sockets_.end()) return;
        CloseSocket(at->second);
        sockets_.erase(at);
        return;
      }
      case ActionKind::kAnswerRead:
        return bridge_.Complete(action, 0, static_cast<uint32_t>(action.bytes.size()), action.bytes);
      case ActionKind::kAnswerWait: {
        const Bytes events{static_cast<uint8_t>(action.state), static_cast<uint8_t>(action.state >> 8),
                           static_cast<uint8_t>(action.state >> 16),
                           static_cast<uint8_t>(action.state >> 24)};
        return bridge_.Complete(action, 0, 4, events);
      }
      case ActionKind::kAnswerWrite:
        return bridge_.Complete(action, action.status, action.length, {});
      case ActionKind::kCredit:
        return bridge_.Credit(action);
      case ActionKind::kReportQueues:
        return bridge_.ReportQueues(action);
      case ActionKind::kReportState: {
        DWORD error = bridge_.ReportState(action);
        if (error != 0)
          Log("COM" + std::to_string(action.com) + ": state report refused: error " + std::to_string(error));
        return;
      }
    }
  }

  void Connect(const Action& action) {
    const bool udp = action.settings.type == VPORT_TYPE_UDP_CLIENT;
    Socket socket;
    socket.com = action.com;
    socket.udp = udp;
    socket.handle = ::socket(AF_INET, udp ? SOCK_DGRAM : SOCK_STREAM, udp ? IPPROTO_UDP : IPPROTO_TCP);
    socket.event = WSACreateEvent();
    // A serial line carries small writes that wait for an answer: each goes out at once.
    const BOOL noDelay = TRUE;
    if (!udp && socket.handle != INVALID_SOCKET)
      setsockopt(socket.handle, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&noDelay),
                 sizeof noDelay);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    std::copy(action.settings.address, action.settings.address + 4, reinterpret_cast<uint8_t*>(&to.sin_addr));
    std::copy(action.settings.port, action.settings.port + 2, reinterpret_cast<uint8_t*>(&to.sin_port));
    // WSAEventSelect makes the socket non-blocking: a TCP connect completes with FD_CONNECT.
    bool started =
        socket.handle != INVALID_SOCKET && socket.event != WSA_INVALID_EVENT &&
        WSAEventSelect(socket.handle, socket.event, FD_CONNECT | FD_READ | FD_WRITE | FD_CLOSE) == 0;
    int result = started ? connect(socket.handle, reinterpret_cast<sockaddr*>(&to), sizeof to) : SOCKET_ERROR;
    int error = result == 0 ? 0 : WSAGetLastError();
    sockets_[action.socket] = socket;
    if (started && result != 0 && error == WSAEWOULDBLOCK) return;
    // A UDP socket is ready at once; a TCP connect may be too, on loopback.
    if (result == 0) return engine_.Connected(action.socket, Now());
    if (result != 0)
      Log("COM" + std::to_string(action.com) + ": cannot connect: error " + std::to_string(error));
    if (result != 0) engine_.Failed(action.socket, Now());
  }

  void Send(const Action& action) {
    auto at = sockets_.find(action.socket);
    if (at == sockets_.end()) return;
    int sent = send(at->second.handle, reinterpret_cast<const char*>(action.bytes.data()),
                    static_cast<int>(action.bytes.size()), 0);
    if (sent >= 0) return engine_.Sent(action.socket, static_cast<size_t>(sent), false, Now());
    int error = WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return engine_.Sent(action.socket, 0, true, Now());
    Log("COM" + std::to_string(action.com) + ": send failed: error " + std::to_string(error));
    engine_.Failed(action.socket, Now());
  }

  static void CloseSocket(Socket& socket) {
    if (socket.handle != INVALID_SOCKET) closesocket(socket.handle);
    if (socket.event != WSA_INVALID_EVENT) WSACloseEvent(socket.event);
    socket.handle = INVALID_SOCKET;
    socket.event = WSA_INVALID_EVENT;
  }

  HANDLE stop_;
  Bridge bridge_;
  vportd::Engine engine_;
  std::map<uint64_t, Socket> sockets_;
};

// Opens the named event after `flag`; null when the flag is absent. False when it cannot be opened.
bool EventArgument(int argc, char** argv, const char* flag, HANDLE* event) {
  *event = nullptr;
  for (int i = 1; i + 1 < argc; ++i) {
    if (std::string(argv[i]) != flag) continue;
    *event = OpenEventA(EVENT_MODIFY_STATE | SYNCHRONIZE, FALSE, argv[i + 1]);
    if (*event == nullptr) Log(std::string("cannot open the event ") + argv[i + 1]);
    return *event != nullptr;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  HANDLE ready = nullptr, stop = nullptr;
  if (!EventArgument(argc, argv, "--ready-event", &ready) ||
      !EventArgument(argc, argv, "--stop-event", &stop)) {
    std::fprintf(stderr, "usage: vportd [--service] [--ready-event NAME] [--stop-event NAME]\n");
    return 2;
  }
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) {
    Log("cannot start Winsock");
    return 1;
  }
  // The installer registers the service with --service. Only then is the
  // service control manager asked: Wine's answers a program started elsewhere
  // only after a wait of seconds, and could hand it a starting service's place.
  bool asService = false;
  for (int i = 1; i < argc; ++i) asService = asService || std::string(argv[i]) == "--service";
  int status = 0;
  bool served = false;
  if (asService) {
    served =
        vportd::RunAsService([](HANDLE serviceStop) { return Service(serviceStop).Run(nullptr); }, &status);
    const DWORD error = served ? 0 : GetLastError();
    if (!served && error != ERROR_FAILED_SERVICE_CONTROLLER_CONNECT) {
      Log("cannot reach the service control manager: error " + std::to_string(error));
      WSACleanup();
      return 1;
    }
    if (!served) Log("not started as a service: serving as a program");
  }
  if (!served) status = Service(stop).Run(ready);
  WSACleanup();
  return status;
}
