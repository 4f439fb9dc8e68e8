// Another DHCP client on the devices' LAN: a boot loader whose MAC no test
// device has, broadcasting its BOOTP request from inside the devices'
// namespace. A boot server that answers only the devices it was asked to
// upgrade must offer it nothing.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>
#include <vector>

#include "netns.h"

namespace devsim_test {
class UdpPeer;
}

namespace testnet {

class DhcpStranger {
 public:
  // The socket is made inside `ns`; ok() tells whether it could be.
  explicit DhcpStranger(const testnet::Namespace& ns);
  ~DhcpStranger();  // stops asking
  DhcpStranger(const DhcpStranger&) = delete;
  DhcpStranger& operator=(const DhcpStranger&) = delete;

  bool ok() const;
  // One request, broadcast to port 67.
  bool Ask() const;
  // Asks every 10 ms on a thread of its own until Stop (a minute at most), so
  // that it asks before, while and after a device's boot loader does.
  void KeepAsking();
  void Stop();
  // True when anything was sent to it.
  bool WasOffered() const;

 private:
  std::unique_ptr<devsim_test::UdpPeer> m_peer;
  std::vector<std::uint8_t> m_request;
  std::atomic<bool> m_stop{false};
  std::thread m_asking;
};

}  // namespace testnet
