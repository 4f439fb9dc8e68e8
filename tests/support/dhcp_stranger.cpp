#include "dhcp_stranger.h"

#include <chrono>

#include "devsim/boot_loader.h"
#include "udp_peer.h"

namespace testnet {

DhcpStranger::DhcpStranger(const testnet::Namespace& ns) {
  {
    testnet::Enter inside(ns);
    if (inside.ok()) m_peer = std::make_unique<devsim_test::UdpPeer>("0.0.0.0", 0);
  }
  devsim::BootLoaderSettings stranger;
  stranger.mac = {0x00, 0x1B, 0x21, 9, 9, 9};
  stranger.xid = 0x77;
  m_request = devsim::BootLoaderClient(stranger, [](auto&) {}).BootpRequest();
}

DhcpStranger::~DhcpStranger() {
  Stop();
}

bool DhcpStranger::ok() const {
  return m_peer && m_peer->ok();
}

bool DhcpStranger::Ask() const {
  return ok() && m_peer->Send(m_request, "255.255.255.255", 67);
}

void DhcpStranger::KeepAsking() {
  m_stop = false;
  m_asking = std::thread([this] {
    for (int i = 0; i < 6000 && !m_stop; ++i) {
      Ask();
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  });
}

void DhcpStranger::Stop() {
  m_stop = true;
  if (m_asking.joinable()) m_asking.join();
}

bool DhcpStranger::WasOffered() const {
  return ok() && m_peer->Receive(0).has_value();
}

}  // namespace testnet
