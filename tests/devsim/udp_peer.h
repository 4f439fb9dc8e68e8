// A plain UDP socket for the tests that play the PC side against the simulator.
// Its sends pass the send guard: loopback, or inside a namespace of the test's.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "send_guard.h"

namespace devsim_test {

struct Datagram {
  std::vector<std::uint8_t> bytes;
  std::string from;
  unsigned port = 0;
};

class UdpPeer {
 public:
  explicit UdpPeer(const std::string& address = "127.0.0.1", unsigned port = 0) {
    m_fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    const int one = 1;
    ::setsockopt(m_fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<std::uint16_t>(port));
    a.sin_addr.s_addr = inet_addr(address.c_str());
    m_bound = ::bind(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
  }
  ~UdpPeer() {
    if (m_fd >= 0) ::close(m_fd);
  }
  UdpPeer(const UdpPeer&) = delete;
  UdpPeer& operator=(const UdpPeer&) = delete;

  bool ok() const { return m_fd >= 0 && m_bound; }
  unsigned Port() const {
    sockaddr_in a{};
    socklen_t len = sizeof a;
    ::getsockname(m_fd, reinterpret_cast<sockaddr*>(&a), &len);
    return ntohs(a.sin_port);
  }
  bool Send(const std::vector<std::uint8_t>& bytes, const std::string& address, unsigned port) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(static_cast<std::uint16_t>(port));
    to.sin_addr.s_addr = inet_addr(address.c_str());
    return testguard::GuardedSendTo(m_fd, bytes.data(), bytes.size(), 0, to) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Waits up to waitMs for one datagram.
  std::optional<Datagram> Receive(int waitMs) const {
    pollfd p{m_fd, POLLIN, 0};
    if (::poll(&p, 1, waitMs) <= 0) return std::nullopt;
    Datagram d;
    d.bytes.resize(65536);
    sockaddr_in from{};
    socklen_t len = sizeof from;
    const ssize_t n =
        ::recvfrom(m_fd, d.bytes.data(), d.bytes.size(), 0, reinterpret_cast<sockaddr*>(&from), &len);
    if (n < 0) return std::nullopt;
    d.bytes.resize(static_cast<std::size_t>(n));
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &from.sin_addr, text, sizeof text);
    d.from = text;
    d.port = ntohs(from.sin_port);
    return d;
  }

 private:
  int m_fd = -1;
  bool m_bound = false;
};

}  // namespace devsim_test
