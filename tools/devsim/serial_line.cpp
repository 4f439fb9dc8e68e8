// A simulated serial port's data side: listeners, peers, echo, side channel.
#include "devsim/serial_line.h"

#include <arpa/inet.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace devsim {

namespace {

constexpr std::size_t kReadSize = 65536;
// Bytes shown in hex per log line; the count says how many there were.
constexpr std::size_t kLoggedBytes = 32;

std::string HexPreview(const std::uint8_t* bytes, std::size_t size) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = std::to_string(size) + " bytes:";
  for (std::size_t i = 0; i < std::min(size, kLoggedBytes); ++i) {
    text += ' ';
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  if (size > kLoggedBytes) text += " ...";
  return text;
}

std::string PeerText(const sockaddr_in& a) {
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
  return std::string(text) + ":" + std::to_string(ntohs(a.sin_port));
}

unsigned BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (fd < 0 || ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

bool WouldBlock() {
  return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
}

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// Sends what it can of `out` without blocking and removes it; false when the
// connection failed (errno tells why).
bool SendSome(int fd, std::vector<std::uint8_t>& out) {
  std::size_t sent = 0;
  while (sent < out.size()) {
    const ssize_t n = ::send(fd, out.data() + sent, out.size() - sent, MSG_NOSIGNAL);
    if (n < 0) {
      if (WouldBlock()) break;
      return false;
    }
    sent += static_cast<std::size_t>(n);
  }
  out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(sent));
  return true;
}

}  // namespace

SerialLine::SerialLine(int number, SerialLineConfig config, Log log, ConnectedHook connected)
    : m_number(number),
      m_config(std::move(config)),
      m_log(std::move(log)),
      m_connected(std::move(connected)) {}

SerialLine::~SerialLine() {
  CloseFd(m_tcpListener);
  CloseFd(m_tcp);
  CloseFd(m_udp);
  CloseFd(m_side);
  CloseFd(m_sideListener);
  if (m_sideBound) ::unlink(m_config.sideChannel.c_str());
}

void SerialLine::Note(const std::string& text) const {
  m_log("serial " + std::to_string(m_number) + ": " + text);
}

bool SerialLine::OpenSideChannel(std::string& error) {
  const std::string& path = m_config.sideChannel;
  if (path.empty()) return true;
  sockaddr_un a{};
  if (path.size() >= sizeof a.sun_path) {
    error = "side channel path \"" + path + "\" is longer than " + std::to_string(sizeof a.sun_path - 1) +
            " characters";
    return false;
  }
  a.sun_family = AF_UNIX;
  std::memcpy(a.sun_path, path.c_str(), path.size() + 1);
  // A socket file left by an earlier run is replaced; one that still answers,
  // or anything else, is kept.
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error = "side channel path \"" + path + "\" exists and is not a socket";
      return false;
    }
    const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    const bool live = probe >= 0 && ::connect(probe, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
    if (probe >= 0) ::close(probe);
    if (live) {
      error = "side channel \"" + path + "\" is in use by another program";
      return false;
    }
    ::unlink(path.c_str());
  }
  m_sideListener = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (m_sideListener < 0 || ::bind(m_sideListener, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0 ||
      ::listen(m_sideListener, 2) != 0) {
    error = "side channel \"" + path + "\": " + std::strerror(errno);
    CloseFd(m_sideListener);
    return false;
  }
  m_sideBound = true;
  Note("side channel at " + path);
  return true;
}

void SerialLine::Listen(const SocketMaker& make, const DataListen& where) {
  m_listening = true;
  const char* plug = m_config.echo ? " (echo)" : "";
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = inet_addr(where.address.c_str());
  const auto open = [&](int type, unsigned port, const char* name) {
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    int fd = make(type);
    const int one = 1;
    if (fd >= 0 && type == SOCK_STREAM) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0 ||
        (type == SOCK_STREAM && ::listen(fd, 4) != 0)) {
      Note(std::string("cannot listen on ") + name + " " + where.address + ":" + std::to_string(port) + ": " +
           std::strerror(errno));
      CloseFd(fd);
      return fd;
    }
    Note(std::string("listening on ") + name + " " + where.address + ":" + std::to_string(BoundPort(fd)) +
         plug);
    return fd;
  };
  if (where.tcp) m_tcpListener = open(SOCK_STREAM, where.tcpPort, "TCP");
  if (where.udp) m_udp = open(SOCK_DGRAM, where.udpPort, "UDP");
}

void SerialLine::DropNetwork(const std::string& why) {
  if (!m_listening) return;
  if (m_tcp >= 0) CloseTcp(why, true);
  CloseFd(m_tcpListener);
  CloseFd(m_udp);
  m_udpPeer.reset();
  if (!m_held.empty()) Note(std::to_string(m_held.size()) + " bytes for the network lost (" + why + ")");
  m_held.clear();
  m_listening = false;
  Note("data port closed (" + why + ")");
}

unsigned SerialLine::TcpPort() const {
  return BoundPort(m_tcpListener);
}

unsigned SerialLine::UdpPort() const {
  return BoundPort(m_udp);
}

void SerialLine::AddPollFds(std::vector<pollfd>& fds) const {
  const auto add = [&](int fd, short events) {
    if (fd >= 0 && events != 0) fds.push_back({fd, events, 0});
  };
  add(m_tcpListener, POLLIN);
  add(m_tcp, static_cast<short>((m_tcpOut.size() < kHoldLimit && RoomTowardsSide() ? POLLIN : 0) |
                                (m_tcpOut.empty() ? 0 : POLLOUT)));
  add(m_udp, RoomTowardsSide() ? POLLIN : 0);
  add(m_sideListener, POLLIN);
  add(m_side, static_cast<short>((RoomTowardsNetwork() ? POLLIN : 0) | (m_sideOut.empty() ? 0 : POLLOUT)));
}

void SerialLine::Handle(const pollfd& ready) {
  const int fd = ready.fd;
  const bool readable = (ready.revents & (POLLIN | POLLHUP | POLLERR)) != 0;
  if (fd == m_tcpListener && readable) AcceptTcp();
  if (fd == m_sideListener && readable) AcceptSide();
  if (fd == m_udp && readable) ReadUdp();
  if (fd == m_tcp && (ready.revents & POLLOUT)) FlushTcp();
  if (fd == m_tcp && readable) ReadTcp();
  if (fd == m_side && (ready.revents & POLLOUT)) FlushSide();
  if (fd == m_side && readable) ReadSide();
}

// ---- the network side ------------------------------------------------------------------------

void SerialLine::AcceptTcp() {
  sockaddr_in from{};
  socklen_t len = sizeof from;
  const int fd =
      ::accept4(m_tcpListener, reinterpret_cast<sockaddr*>(&from), &len, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (!SendAllowed(fd, ntohl(from.sin_addr.s_addr))) {
    Note("TCP connection from " + PeerText(from) + " refused by the send guard");
    ::close(fd);
    return;
  }
  // One peer at a time, the newest: a client that lost its connection without
  // the device noticing comes back on a new one.
  if (m_tcp >= 0) CloseTcp("replaced by a new connection", false);
  // A serial line's bytes go out as they come, as a device server forwards
  // them: without this, small echoes wait for the peer's delayed ACK.
  const int noDelay = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &noDelay, sizeof noDelay);
  m_tcp = fd;
  m_tcpPeer = PeerText(from);
  Note("TCP connection from " + m_tcpPeer);
  if (m_connected) m_connected(true);
  SendHeld();
}

void SerialLine::ReadTcp() {
  std::uint8_t buffer[kReadSize];
  const ssize_t n = ::recv(m_tcp, buffer, sizeof buffer, 0);
  if (n > 0) return FromNetwork(buffer, static_cast<std::size_t>(n), false, m_tcpPeer);
  if (n == 0) return CloseTcp("closed by the peer", false);
  if (!WouldBlock()) CloseTcp(std::string("failed: ") + std::strerror(errno), false);
}

void SerialLine::FlushTcp() {
  if (m_tcp >= 0 && !SendSome(m_tcp, m_tcpOut))
    CloseTcp(std::string("failed: ") + std::strerror(errno), false);
}

void SerialLine::CloseTcp(const std::string& why, bool reset) {
  if (reset) {
    // An abortive close: the peer learns at once that the connection is gone,
    // as it would from a device that came back from a restart.
    const linger abort{1, 0};
    ::setsockopt(m_tcp, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
  }
  CloseFd(m_tcp);
  m_tcpOut.clear();
  Note("TCP connection from " + m_tcpPeer + " closed (" + why + ")");
  if (m_connected) m_connected(false);
}

void SerialLine::ReadUdp() {
  std::uint8_t buffer[kReadSize];
  // A burst of datagrams is read in one go, as long as the side channel has room.
  for (int i = 0; i < 64 && m_udp >= 0 && RoomTowardsSide(); ++i) {
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n = ::recvfrom(m_udp, buffer, sizeof buffer, 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return;
    if (!m_udpPeer || m_udpPeer->sin_addr.s_addr != from.sin_addr.s_addr ||
        m_udpPeer->sin_port != from.sin_port)
      Note("UDP peer is now " + PeerText(from));
    m_udpPeer = from;
    FromNetwork(buffer, static_cast<std::size_t>(n), true, PeerText(from));
    SendHeld();
  }
}

void SerialLine::SendUdp(const std::uint8_t* bytes, std::size_t size, const char* what) {
  const sockaddr_in& to = *m_udpPeer;
  if (!SendAllowed(m_udp, ntohl(to.sin_addr.s_addr))) {
    Note("UDP to " + PeerText(to) + " refused by the send guard");
  } else if (::sendto(m_udp, bytes, size, 0, reinterpret_cast<const sockaddr*>(&to), sizeof to) < 0) {
    Note("UDP to " + PeerText(to) + " failed: " + std::strerror(errno));
  } else {
    Note(std::string("out by UDP to ") + PeerText(to) + " (" + what + "), " + HexPreview(bytes, size));
  }
}

// Bytes the device received on its data port: they cross the serial line to the
// serial device, and come back at once when the line has its echo plug.
void SerialLine::FromNetwork(const std::uint8_t* bytes, std::size_t size, bool udp, const std::string& peer) {
  Note(std::string("in by ") + (udp ? "UDP" : "TCP") + " from " + peer + ", " + HexPreview(bytes, size));
  if (m_config.echo && udp) SendUdp(bytes, size, "echo");
  if (m_config.echo && !udp) {
    m_tcpOut.insert(m_tcpOut.end(), bytes, bytes + size);
    Note("out by TCP to " + peer + " (echo), " + HexPreview(bytes, size));
    FlushTcp();
  }
  if (m_sideListener < 0) return;
  std::size_t kept = size;
  if (m_side < 0) kept = std::min(size, kHoldLimit - std::min(kHoldLimit, m_sideOut.size()));
  if (kept < size) Note(std::to_string(size - kept) + " bytes dropped: no one reads the side channel");
  m_sideOut.insert(m_sideOut.end(), bytes, bytes + kept);
  FlushSide();
}

// Bytes the serial device sent: to the network peers, or held until there is one.
void SerialLine::FromSerialDevice(const std::uint8_t* bytes, std::size_t size) {
  Note("serial device sent " + HexPreview(bytes, size));
  if (!HasNetworkPeer()) {
    m_held.insert(m_held.end(), bytes, bytes + size);
    return;
  }
  if (m_tcp >= 0) {
    m_tcpOut.insert(m_tcpOut.end(), bytes, bytes + size);
    Note("out by TCP to " + m_tcpPeer + ", " + HexPreview(bytes, size));
    FlushTcp();
  }
  if (m_udpPeer) {
    for (std::size_t at = 0; at < size; at += kUdpChunk)
      SendUdp(bytes + at, std::min(kUdpChunk, size - at), "serial device");
  }
}

void SerialLine::SendHeld() {
  if (m_held.empty() || !HasNetworkPeer()) return;
  Bytes held;
  held.swap(m_held);
  FromSerialDevice(held.data(), held.size());
}

// ---- the side channel ----------------------------------------------------------------------

void SerialLine::AcceptSide() {
  const int fd = ::accept4(m_sideListener, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (m_side >= 0) CloseSide("replaced by a new client");
  m_side = fd;
  Note("side channel client connected");
  FlushSide();
}

void SerialLine::ReadSide() {
  std::uint8_t buffer[kReadSize];
  const ssize_t n = ::recv(m_side, buffer, sizeof buffer, 0);
  if (n > 0) return FromSerialDevice(buffer, static_cast<std::size_t>(n));
  if (n == 0) return CloseSide("closed by the client");
  if (!WouldBlock()) CloseSide(std::string("failed: ") + std::strerror(errno));
}

void SerialLine::FlushSide() {
  if (m_side >= 0 && !SendSome(m_side, m_sideOut)) CloseSide(std::string("failed: ") + std::strerror(errno));
}

void SerialLine::CloseSide(const std::string& why) {
  CloseFd(m_side);
  Note("side channel client gone (" + why + ")");
}

}  // namespace devsim
