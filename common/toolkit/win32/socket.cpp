// Sockets on Windows Sockets. Asynchronous sockets get their notifications
// through WSAAsyncSelect as messages to a hidden window of the thread that
// created them, so OnReceive runs on the window thread.
#include <map>

#include "win32_platform.h"

namespace tk {

// Calls the protected notification handlers (a friend of CAsyncSocket).
class SocketDispatch {
 public:
  static void Notify(CAsyncSocket& socket, long event, int error);
  static SOCKET Native(const CAsyncSocket& socket) { return static_cast<SOCKET>(socket.m_socket); }
};

namespace {

constexpr UINT kSocketMessage = WM_USER + 1;
constexpr char kNotifyClass[] = "tk.SocketNotify";

// The sockets of this thread by handle; owned by the thread's notify window.
using SocketTable = std::map<SOCKET, CAsyncSocket*>;

bool IsReadable(SOCKET s) {
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(s, &readable);
  timeval now{0, 0};
  return select(0, &readable, nullptr, nullptr, &now) > 0;
}

::LRESULT CALLBACK NotifyProc(HWND h, ::UINT msg, ::WPARAM wp, ::LPARAM lp) {
  if (msg == kSocketMessage) {
    auto* table = reinterpret_cast<SocketTable*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    if (table == nullptr) return 0;
    auto it = table->find(static_cast<SOCKET>(wp));
    // A notification still queued for a socket closed since is dropped. The
    // platform may already have given its handle to a new socket, so a read
    // notification only goes out while a datagram is really waiting (as on the
    // headless backend, OnReceive means there is something to receive).
    if (it == table->end()) return 0;
    const long event = WSAGETSELECTEVENT(lp);
    const int error = WSAGETSELECTERROR(lp);
    if (event == FD_READ && error == 0 && !IsReadable(it->first)) return 0;
    SocketDispatch::Notify(*it->second, event, error);
    return 0;
  }
  if (msg == WM_NCDESTROY) {
    delete reinterpret_cast<SocketTable*>(GetWindowLongPtrA(h, GWLP_USERDATA));
    SetWindowLongPtrA(h, GWLP_USERDATA, 0);
  }
  return DefWindowProcA(h, msg, wp, lp);
}

HWND NotifyWindow() {
  thread_local HWND window = nullptr;
  if (window != nullptr && IsWindow(window)) return window;
  static const ATOM atom = [] {
    WNDCLASSA wc{};
    wc.lpfnWndProc = NotifyProc;
    wc.hInstance = GetModuleHandleA(nullptr);
    wc.lpszClassName = kNotifyClass;
    return RegisterClassA(&wc);
  }();
  (void)atom;
  window = CreateWindowExA(0, kNotifyClass, "", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr)
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(new SocketTable()));
  return window;
}

SocketTable* Table(HWND window) {
  return window != nullptr ? reinterpret_cast<SocketTable*>(GetWindowLongPtrA(window, GWLP_USERDATA))
                           : nullptr;
}

// An address text to a network-order address: dotted form, else a host name.
bool ToAddress(const std::string& text, in_addr& out) {
  if (text.empty()) {
    out.s_addr = htonl(INADDR_ANY);
    return true;
  }
  unsigned long value = inet_addr(text.c_str());
  if (value != INADDR_NONE || text == "255.255.255.255") {
    out.s_addr = value;
    return true;
  }
  hostent* host = gethostbyname(text.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list[0] == nullptr) return false;
  memcpy(&out, host->h_addr_list[0], sizeof(out));
  return true;
}

sockaddr_in MakeAddress(const in_addr& address, unsigned port) {
  sockaddr_in sa{};
  sa.sin_family = AF_INET;
  sa.sin_port = htons(static_cast<u_short>(port));
  sa.sin_addr = address;
  return sa;
}

bool LocalName(SOCKET s, std::string& address, unsigned& port) {
  sockaddr_in sa{};
  int length = sizeof(sa);
  if (getsockname(s, reinterpret_cast<sockaddr*>(&sa), &length) != 0) return false;
  address = inet_ntoa(sa.sin_addr);
  port = ntohs(sa.sin_port);
  return true;
}

int Receive(SOCKET s, void* buf, int len, int flags, std::string& senderAddress, unsigned& senderPort) {
  sockaddr_in from{};
  int fromLength = sizeof(from);
  int n = recvfrom(s, static_cast<char*>(buf), len, flags, reinterpret_cast<sockaddr*>(&from), &fromLength);
  if (n == SOCKET_ERROR) return SOCKET_ERROR;
  senderAddress = inet_ntoa(from.sin_addr);
  senderPort = ntohs(from.sin_port);
  return n;
}

bool SetIntOption(SOCKET s, int level, int name, int value) {
  return setsockopt(s, level, name, reinterpret_cast<const char*>(&value), sizeof(value)) == 0;
}

}  // namespace

void SocketDispatch::Notify(CAsyncSocket& socket, long event, int error) {
  switch (event) {
    case FD_READ:
      detail::Dispatch::Guarded("OnReceive", [&] { socket.OnReceive(error); });
      break;
    case FD_WRITE:
      detail::Dispatch::Guarded("OnSend", [&] { socket.OnSend(error); });
      break;
    case FD_CLOSE:
      detail::Dispatch::Guarded("OnClose", [&] { socket.OnClose(error); });
      break;
    default:
      break;
  }
}

// ---- CAsyncSocket ----------------------------------------------------------------------

bool CAsyncSocket::Create(unsigned port, int type, long events, const std::string& address) {
  if (IsOpen()) {
    m_lastError = WSAEINVAL;
    return false;
  }
  in_addr local{};
  if (!ToAddress(address, local)) {
    m_lastError = WSAEINVAL;
    return false;
  }
  SOCKET s = socket(AF_INET, type, 0);
  if (s == INVALID_SOCKET) {
    m_lastError = WSAGetLastError();
    return false;
  }
  HWND window = NotifyWindow();
  sockaddr_in sa = MakeAddress(local, port);
  if (window == nullptr || WSAAsyncSelect(s, window, kSocketMessage, events) != 0 ||
      bind(s, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    m_lastError = window == nullptr ? WSAENOTSOCK : WSAGetLastError();
    closesocket(s);
    return false;
  }
  m_socket = static_cast<std::intptr_t>(s);
  m_events = events;
  (*Table(window))[s] = this;
  return true;
}

void CAsyncSocket::Close() {
  if (!IsOpen()) return;
  SOCKET s = SocketDispatch::Native(*this);
  if (SocketTable* table = Table(NotifyWindow())) table->erase(s);
  closesocket(s);
  m_socket = -1;
  m_events = 0;
}

bool CAsyncSocket::IsOpen() const {
  return m_socket != -1;
}

int CAsyncSocket::SendTo(const void* buf, int len, unsigned port, const std::string& address, int flags) {
  in_addr to{};
  if (!IsOpen() || !ToAddress(address, to)) {
    m_lastError = IsOpen() ? WSAEADDRNOTAVAIL : WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  sockaddr_in sa = MakeAddress(to, port);
  int n = sendto(SocketDispatch::Native(*this), static_cast<const char*>(buf), len, flags,
                 reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  if (n == SOCKET_ERROR) m_lastError = WSAGetLastError();
  return n;
}

int CAsyncSocket::ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort,
                              int flags) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  int n = Receive(SocketDispatch::Native(*this), buf, len, flags, senderAddress, senderPort);
  if (n == SOCKET_ERROR) m_lastError = WSAGetLastError();
  return n;
}

bool CAsyncSocket::GetSockName(std::string& address, unsigned& port) const {
  return IsOpen() && LocalName(SocketDispatch::Native(*this), address, port);
}

bool CAsyncSocket::SetBroadcast(bool on) {
  bool ok = IsOpen() && SetIntOption(SocketDispatch::Native(*this), SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool CAsyncSocket::SetReuseAddress(bool on) {
  bool ok = IsOpen() && SetIntOption(SocketDispatch::Native(*this), SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool CAsyncSocket::SetReceiveBufferSize(int bytes) {
  bool ok = IsOpen() && SetIntOption(SocketDispatch::Native(*this), SOL_SOCKET, SO_RCVBUF, bytes);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

int CAsyncSocket::GetReceiveBufferSize() const {
  if (!IsOpen()) return -1;
  int value = 0;
  int length = sizeof(value);
  if (getsockopt(SocketDispatch::Native(*this), SOL_SOCKET, SO_RCVBUF, reinterpret_cast<char*>(&value),
                 &length) != 0) {
    return -1;
  }
  return value;
}

bool CAsyncSocket::JoinMulticastGroup(const std::string& group, const std::string& interfaceAddress) {
  ip_mreq request{};
  request.imr_multiaddr.s_addr = inet_addr(group.c_str());
  request.imr_interface.s_addr =
      interfaceAddress.empty() ? htonl(INADDR_ANY) : inet_addr(interfaceAddress.c_str());
  bool ok = IsOpen() && setsockopt(SocketDispatch::Native(*this), IPPROTO_IP, IP_ADD_MEMBERSHIP,
                                   reinterpret_cast<const char*>(&request), sizeof(request)) == 0;
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool CAsyncSocket::SetMulticastTTL(int ttl) {
  bool ok = IsOpen() && SetIntOption(SocketDispatch::Native(*this), IPPROTO_IP, IP_MULTICAST_TTL, ttl);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool CAsyncSocket::SetMulticastLoopback(bool on) {
  bool ok =
      IsOpen() && SetIntOption(SocketDispatch::Native(*this), IPPROTO_IP, IP_MULTICAST_LOOP, on ? 1 : 0);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

// ---- BlockingUdpSocket --------------------------------------------------------------------

BlockingUdpSocket::~BlockingUdpSocket() {
  Close();
}

bool BlockingUdpSocket::Open() {
  if (IsOpen()) return true;
  SOCKET s = socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == INVALID_SOCKET) {
    m_lastError = WSAGetLastError();
    return false;
  }
  m_socket = static_cast<std::intptr_t>(s);
  return true;
}

bool BlockingUdpSocket::SetBroadcast(bool on) {
  bool ok = IsOpen() && SetIntOption(static_cast<SOCKET>(m_socket), SOL_SOCKET, SO_BROADCAST, on ? 1 : 0);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool BlockingUdpSocket::SetReuseAddress(bool on) {
  bool ok = IsOpen() && SetIntOption(static_cast<SOCKET>(m_socket), SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0);
  if (!ok) m_lastError = WSAGetLastError();
  return ok;
}

bool BlockingUdpSocket::Bind(unsigned port, const std::string& address) {
  in_addr local{};
  if (!IsOpen() || !ToAddress(address, local)) {
    m_lastError = IsOpen() ? WSAEINVAL : WSAENOTSOCK;
    return false;
  }
  sockaddr_in sa = MakeAddress(local, port);
  if (bind(static_cast<SOCKET>(m_socket), reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) != 0) {
    m_lastError = WSAGetLastError();
    return false;
  }
  return true;
}

int BlockingUdpSocket::WaitAnyReadable(const std::vector<BlockingUdpSocket*>& sockets, int timeoutMs,
                                       std::vector<bool>& readable) {
  fd_set set;
  FD_ZERO(&set);
  for (BlockingUdpSocket* s : sockets) {
    if (s->IsOpen() && set.fd_count < FD_SETSIZE) FD_SET(static_cast<SOCKET>(s->m_socket), &set);
  }
  readable.assign(sockets.size(), false);
  if (timeoutMs < 0) timeoutMs = 0;
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  const int n = select(0, &set, nullptr, nullptr, &timeout);
  if (n == SOCKET_ERROR) return -1;
  for (std::size_t i = 0; i < sockets.size(); ++i) {
    readable[i] = sockets[i]->IsOpen() && FD_ISSET(static_cast<SOCKET>(sockets[i]->m_socket), &set);
  }
  return n;
}

int BlockingUdpSocket::WaitReadable(int timeoutMs) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return -1;
  }
  fd_set readable;
  FD_ZERO(&readable);
  FD_SET(static_cast<SOCKET>(m_socket), &readable);
  // A negative wait is a poll, as on every backend (select refuses a negative time).
  if (timeoutMs < 0) timeoutMs = 0;
  timeval timeout{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
  int n = select(0, &readable, nullptr, nullptr, &timeout);
  if (n == SOCKET_ERROR) {
    m_lastError = WSAGetLastError();
    return -1;
  }
  return n > 0 ? 1 : 0;
}

int BlockingUdpSocket::ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  int n = Receive(static_cast<SOCKET>(m_socket), buf, len, 0, senderAddress, senderPort);
  if (n == SOCKET_ERROR) m_lastError = WSAGetLastError();
  return n;
}

int BlockingUdpSocket::SendTo(const void* buf, int len, unsigned port, const std::string& address) {
  in_addr to{};
  if (!IsOpen() || !ToAddress(address, to)) {
    m_lastError = IsOpen() ? WSAEADDRNOTAVAIL : WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  sockaddr_in sa = MakeAddress(to, port);
  int n = sendto(static_cast<SOCKET>(m_socket), static_cast<const char*>(buf), len, 0,
                 reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
  if (n == SOCKET_ERROR) m_lastError = WSAGetLastError();
  return n;
}

bool BlockingUdpSocket::GetSockName(std::string& address, unsigned& port) const {
  return IsOpen() && LocalName(static_cast<SOCKET>(m_socket), address, port);
}

void BlockingUdpSocket::Close() {
  if (!IsOpen()) return;
  closesocket(static_cast<SOCKET>(m_socket));
  m_socket = -1;
}

}  // namespace tk
