// Sockets on real non-blocking BSD sockets, with the Windows Sockets error
// numbers and the platform's rule that a datagram longer than the receive
// buffer is a failed receive.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <utility>
#include <vector>

#include "backend.h"
#include "tk/detail/dispatch.h"
#include "tk/socket.h"

namespace tk::headless::detail {

namespace {
std::atomic<int> g_blockingSockets{0};
}

int OpenBlockingSockets() {
  return g_blockingSockets.load();
}

}  // namespace tk::headless::detail

namespace tk {

using namespace tk::headless::detail;

// The friend of CAsyncSocket through which the pump reaches its notifications.
class SocketDispatch {
 public:
  static int Fd(const CAsyncSocket& s) { return static_cast<int>(s.m_socket); }
  static long Events(const CAsyncSocket& s) { return s.m_events; }
  static void Receive(CAsyncSocket& s) {
    tk::detail::Dispatch::Guarded("OnReceive", [&] { s.OnReceive(0); });
  }
  static void Forget(CAsyncSocket& s) {
    ::close(static_cast<int>(s.m_socket));
    s.m_socket = -1;
  }
};

namespace {

constexpr int kWsaEAcces = 10013;
constexpr int kWsaENetUnreach = 10051;
constexpr int kWsaEConnRefused = 10061;
constexpr int kWsaEHostUnreach = 10065;
constexpr int kWsaENoBufs = 10055;

int WsaError(int err) {
  switch (err) {
    case EAGAIN:
      return WSAEWOULDBLOCK;
    case EMSGSIZE:
      return WSAEMSGSIZE;
    case EADDRINUSE:
      return WSAEADDRINUSE;
    case EADDRNOTAVAIL:
      return WSAEADDRNOTAVAIL;
    case ECONNRESET:
      return WSAECONNRESET;
    case ECONNREFUSED:
      // A datagram socket learns of an unreachable port this way; the platform
      // reports it as a reset connection.
      return WSAECONNRESET;
    case EBADF:
    case ENOTSOCK:
      return WSAENOTSOCK;
    case EACCES:
    case EPERM:
      return kWsaEAcces;
    case ENETUNREACH:
      return kWsaENetUnreach;
    case EHOSTUNREACH:
      return kWsaEHostUnreach;
    case ENOBUFS:
    case ENOMEM:
      return kWsaENoBufs;
    default:
      return WSAEINVAL;
  }
}

// A dotted address for sending or binding. "255.255.255.255" is the broadcast
// address although inet_addr cannot tell it from an error.
bool ToSockAddr(const std::string& address, unsigned port, bool emptyIsAny, sockaddr_in& out) {
  out = {};
  out.sin_family = AF_INET;
  out.sin_port = htons(static_cast<std::uint16_t>(port));
  if (address.empty()) {
    if (!emptyIsAny) return false;
    out.sin_addr.s_addr = htonl(INADDR_ANY);
    return port <= 0xFFFF;
  }
  std::uint32_t a = InetAddr(address);
  if (a == 0xFFFFFFFFu && address != "255.255.255.255") return false;
  out.sin_addr.s_addr = htonl(a);
  return port <= 0xFFFF;
}

bool SetIntOption(int fd, int level, int name, int value, int& lastError) {
  if (::setsockopt(fd, level, name, &value, sizeof value) == 0) return true;
  lastError = WsaError(errno);
  return false;
}

bool SockName(int fd, std::string& address, unsigned& port, int& lastError) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) {
    lastError = WsaError(errno);
    return false;
  }
  address = InetNtoa(ntohl(a.sin_addr.s_addr));
  port = ntohs(a.sin_port);
  return true;
}

tk::headless::SendGuard& Guard() {
  static tk::headless::SendGuard guard;
  return guard;
}

int SendDatagram(int fd, const void* buf, int len, unsigned port, const std::string& address,
                 int& lastError) {
  sockaddr_in to{};
  if (len < 0 || !ToSockAddr(address, port, false, to)) {
    lastError = WSAEINVAL;
    return SOCKET_ERROR;
  }
  if (Guard()) {
    const std::string refusal = Guard()(fd, ntohl(to.sin_addr.s_addr), port);
    if (!refusal.empty()) {
      Fail("send refused: " + refusal);
      lastError = kWsaEAcces;
      return SOCKET_ERROR;
    }
  }
  ssize_t sent = ::sendto(fd, buf, static_cast<size_t>(len), 0, reinterpret_cast<sockaddr*>(&to), sizeof to);
  if (sent < 0) {
    lastError = WsaError(errno);
    return SOCKET_ERROR;
  }
  return static_cast<int>(sent);
}

int ReceiveDatagram(int fd, void* buf, int len, std::string& sender, unsigned& senderPort, int& lastError) {
  if (len < 0) {
    lastError = WSAEINVAL;
    return SOCKET_ERROR;
  }
  sockaddr_in from{};
  socklen_t fromLen = sizeof from;
  // MSG_TRUNC reports the datagram's real length; the datagram is consumed either way.
  ssize_t got =
      ::recvfrom(fd, buf, static_cast<size_t>(len), MSG_TRUNC, reinterpret_cast<sockaddr*>(&from), &fromLen);
  if (got < 0) {
    lastError = WsaError(errno);
    return SOCKET_ERROR;
  }
  if (got > len) {
    lastError = WSAEMSGSIZE;
    return SOCKET_ERROR;
  }
  sender = InetNtoa(ntohl(from.sin_addr.s_addr));
  senderPort = ntohs(from.sin_port);
  return static_cast<int>(got);
}

bool JoinGroup(int fd, const std::string& group, const std::string& interfaceAddress, int& lastError) {
  ip_mreq req{};
  std::uint32_t g = InetAddr(group);
  std::uint32_t i = interfaceAddress.empty() ? INADDR_ANY : InetAddr(interfaceAddress);
  if (g == 0xFFFFFFFFu || i == 0xFFFFFFFFu) {
    lastError = WSAEINVAL;
    return false;
  }
  req.imr_multiaddr.s_addr = htonl(g);
  req.imr_interface.s_addr = htonl(i);
  if (::setsockopt(fd, IPPROTO_IP, IP_ADD_MEMBERSHIP, &req, sizeof req) == 0) return true;
  lastError = WsaError(errno);
  return false;
}

}  // namespace

// ---- CAsyncSocket ------------------------------------------------------------------

bool CAsyncSocket::Create(unsigned port, int type, long events, const std::string& address) {
  if (IsOpen()) {
    m_lastError = WSAEINVAL;
    return false;
  }
  sockaddr_in local{};
  if (!ToSockAddr(address, port, true, local) || (type != SOCK_STREAM && type != SOCK_DGRAM)) {
    m_lastError = WSAEINVAL;
    return false;
  }
  int fd =
      ::socket(AF_INET, (type == SOCK_DGRAM ? SOCK_DGRAM : SOCK_STREAM) | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    m_lastError = WsaError(errno);
    return false;
  }
  if (::bind(fd, reinterpret_cast<sockaddr*>(&local), sizeof local) != 0) {
    m_lastError = WsaError(errno);
    ::close(fd);
    return false;
  }
  m_socket = fd;
  m_events = events;
  S().asyncSockets.insert(this);
  return true;
}

void CAsyncSocket::Close() {
  if (!IsOpen()) return;
  S().asyncSockets.erase(this);
  ::close(static_cast<int>(m_socket));
  m_socket = -1;
}

bool CAsyncSocket::IsOpen() const {
  return m_socket != -1;
}

int CAsyncSocket::SendTo(const void* buf, int len, unsigned port, const std::string& address, int) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return SendDatagram(static_cast<int>(m_socket), buf, len, port, address, m_lastError);
}

int CAsyncSocket::ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort, int) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return ReceiveDatagram(static_cast<int>(m_socket), buf, len, senderAddress, senderPort, m_lastError);
}

bool CAsyncSocket::GetSockName(std::string& address, unsigned& port) const {
  int ignored = 0;
  return IsOpen() && SockName(static_cast<int>(m_socket), address, port, ignored);
}

bool CAsyncSocket::SetBroadcast(bool on) {
  return IsOpen() &&
         SetIntOption(static_cast<int>(m_socket), SOL_SOCKET, SO_BROADCAST, on ? 1 : 0, m_lastError);
}

bool CAsyncSocket::SetReuseAddress(bool on) {
  return IsOpen() &&
         SetIntOption(static_cast<int>(m_socket), SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0, m_lastError);
}

bool CAsyncSocket::SetReceiveBufferSize(int bytes) {
  return IsOpen() && SetIntOption(static_cast<int>(m_socket), SOL_SOCKET, SO_RCVBUF, bytes, m_lastError);
}

int CAsyncSocket::GetReceiveBufferSize() const {
  int value = 0;
  socklen_t len = sizeof value;
  if (!IsOpen() || ::getsockopt(static_cast<int>(m_socket), SOL_SOCKET, SO_RCVBUF, &value, &len) != 0)
    return -1;
  return value;
}

bool CAsyncSocket::JoinMulticastGroup(const std::string& group, const std::string& interfaceAddress) {
  return IsOpen() && JoinGroup(static_cast<int>(m_socket), group, interfaceAddress, m_lastError);
}

bool CAsyncSocket::SetMulticastTTL(int ttl) {
  return IsOpen() && SetIntOption(static_cast<int>(m_socket), IPPROTO_IP, IP_MULTICAST_TTL, ttl, m_lastError);
}

bool CAsyncSocket::SetMulticastLoopback(bool on) {
  if (IsOpen() && S().platform.multicastLoopbackFails) {
    m_lastError = WSAEINVAL;
    return false;
  }
  return IsOpen() &&
         SetIntOption(static_cast<int>(m_socket), IPPROTO_IP, IP_MULTICAST_LOOP, on ? 1 : 0, m_lastError);
}

// ---- BlockingUdpSocket ----------------------------------------------------------------

BlockingUdpSocket::~BlockingUdpSocket() {
  Close();
}

bool BlockingUdpSocket::Open() {
  if (IsOpen()) return true;
  int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    m_lastError = WsaError(errno);
    return false;
  }
  m_socket = fd;
  ++g_blockingSockets;
  return true;
}

bool BlockingUdpSocket::SetBroadcast(bool on) {
  return IsOpen() &&
         SetIntOption(static_cast<int>(m_socket), SOL_SOCKET, SO_BROADCAST, on ? 1 : 0, m_lastError);
}

bool BlockingUdpSocket::SetReuseAddress(bool on) {
  return IsOpen() &&
         SetIntOption(static_cast<int>(m_socket), SOL_SOCKET, SO_REUSEADDR, on ? 1 : 0, m_lastError);
}

bool BlockingUdpSocket::Bind(unsigned port, const std::string& address) {
  sockaddr_in local{};
  if (!IsOpen() || !ToSockAddr(address, port, true, local)) {
    m_lastError = IsOpen() ? WSAEINVAL : WSAENOTSOCK;
    return false;
  }
  if (::bind(static_cast<int>(m_socket), reinterpret_cast<sockaddr*>(&local), sizeof local) == 0) return true;
  m_lastError = WsaError(errno);
  return false;
}

int BlockingUdpSocket::WaitReadable(int timeoutMs) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return -1;
  }
  pollfd p{static_cast<int>(m_socket), POLLIN, 0};
  int n = 0;
  do {
    n = ::poll(&p, 1, timeoutMs < 0 ? 0 : timeoutMs);
  } while (n < 0 && errno == EINTR);
  if (n < 0) {
    m_lastError = WsaError(errno);
    return -1;
  }
  return n > 0 ? 1 : 0;
}

int BlockingUdpSocket::WaitAnyReadable(const std::vector<BlockingUdpSocket*>& sockets, int timeoutMs,
                                       std::vector<bool>& readable) {
  std::vector<pollfd> polls;
  for (BlockingUdpSocket* s : sockets)
    polls.push_back({s->IsOpen() ? static_cast<int>(s->m_socket) : -1, POLLIN, 0});
  int n = 0;
  do {
    n = ::poll(polls.data(), polls.size(), timeoutMs < 0 ? 0 : timeoutMs);
  } while (n < 0 && errno == EINTR);
  readable.assign(sockets.size(), false);
  if (n <= 0) return n < 0 ? -1 : 0;
  for (std::size_t i = 0; i < polls.size(); ++i) readable[i] = (polls[i].revents & (POLLIN | POLLERR)) != 0;
  return n;
}

int BlockingUdpSocket::ReceiveFrom(void* buf, int len, std::string& senderAddress, unsigned& senderPort) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return ReceiveDatagram(static_cast<int>(m_socket), buf, len, senderAddress, senderPort, m_lastError);
}

int BlockingUdpSocket::SendTo(const void* buf, int len, unsigned port, const std::string& address) {
  if (!IsOpen()) {
    m_lastError = WSAENOTSOCK;
    return SOCKET_ERROR;
  }
  return SendDatagram(static_cast<int>(m_socket), buf, len, port, address, m_lastError);
}

bool BlockingUdpSocket::GetSockName(std::string& address, unsigned& port) const {
  int ignored = 0;
  return IsOpen() && SockName(static_cast<int>(m_socket), address, port, ignored);
}

void BlockingUdpSocket::Close() {
  if (!IsOpen()) return;
  ::close(static_cast<int>(m_socket));
  m_socket = -1;
  --g_blockingSockets;
}

}  // namespace tk

namespace tk::headless::detail {

void CloseAllSockets() {
  // Sockets of objects a failed test left behind: close the descriptors; the
  // objects themselves may be gone, so only their descriptors are touched.
  std::vector<CAsyncSocket*> open(S().asyncSockets.begin(), S().asyncSockets.end());
  for (CAsyncSocket* s : open) SocketDispatch::Forget(*s);
  S().asyncSockets.clear();
}

int NotifyingSocketCount() {
  int count = 0;
  for (CAsyncSocket* s : S().asyncSockets) {
    if ((SocketDispatch::Events(*s) & FD_READ) != 0) ++count;
  }
  return count;
}

}  // namespace tk::headless::detail

namespace tk::headless {

using namespace detail;

int PumpSockets(int maxWaitMs) {
  std::vector<CAsyncSocket*> sockets;
  std::vector<pollfd> fds;
  for (CAsyncSocket* s : S().asyncSockets) {
    if ((SocketDispatch::Events(*s) & FD_READ) == 0) continue;
    sockets.push_back(s);
    fds.push_back({SocketDispatch::Fd(*s), POLLIN, 0});
  }
  if (fds.empty()) return 0;
  int n = 0;
  do {
    n = ::poll(fds.data(), fds.size(), maxWaitMs < 0 ? 0 : maxWaitMs);
  } while (n < 0 && errno == EINTR);
  if (n <= 0) return 0;
  int delivered = 0;
  for (size_t i = 0; i < fds.size(); ++i) {
    if ((fds[i].revents & (POLLIN | POLLERR)) == 0) continue;
    // An earlier handler may have closed this socket.
    if (S().asyncSockets.count(sockets[i]) == 0 || SocketDispatch::Fd(*sockets[i]) != fds[i].fd) continue;
    SocketDispatch::Receive(*sockets[i]);
    ++delivered;
  }
  return delivered;
}

void SetSendGuard(SendGuard guard) {
  Guard() = std::move(guard);
}

int OpenSocketCount() {
  return static_cast<int>(S().asyncSockets.size()) + OpenBlockingSockets();
}

}  // namespace tk::headless
