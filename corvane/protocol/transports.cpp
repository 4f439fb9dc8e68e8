// Starting searches on the transports.
#include "corvane/protocol/transports.h"

#include "corvane/protocol/search_dlg.h"

namespace corvane::protocol {

Transports::Transports()
    : broadcast(std::make_unique<CBroadcastSocket>()),
      multicast(std::make_unique<CMulticastSocket>()),
      unicast(std::make_unique<CUnicastSocket>()) {}

Transports::~Transports() = default;

bool Transports::SendBroadcastSearch(const CSearchDlg& dialog) {
  broadcast->ResetForSearch();
  if (broadcastOpened == 0) {
    broadcast->Open(kPcBroadcastPort);
    broadcastOpened = 1;  // whatever the result: one try per run
  }
  const Bytes request = BuildSearchRequest();
  return broadcast->Send(request.data(), static_cast<int>(request.size()), dialog.m_broadcastAddress,
                         kDeviceBroadcastPort);
}

bool Transports::SendMulticastSearch(const CSearchDlg& dialog) {
  multicast->ResetForSearch();
  if (multicastJoined == 0) {
    multicast->Join(dialog.m_ttl, dialog.m_loopback != 0, dialog.m_multicastGroup, kPcMulticastPort);
    multicastJoined = 1;
  }
  const Bytes request = BuildSearchRequest();
  return multicast->Send(request.data(), static_cast<int>(request.size()), dialog.m_multicastGroup,
                         kDeviceMulticastPort);
}

bool Transports::ReopenUnicast(const std::string& hostAddress) {
  unicastOpened = 1;
  return unicast->Reopen(hostAddress);
}

bool Transports::EnsureUnicastOpen(const std::string& hostAddress) {
  if (unicast->IsOpen()) return true;
  unicastOpened = 1;
  return unicast->Open(hostAddress);
}

bool Transports::SendUnicastSearch(const std::string& hostAddress, const std::string& device) {
  unicast->ResetBuffer();
  ReopenUnicast(hostAddress);
  const Bytes request = BuildSearchRequest();
  return unicast->Send(request.data(), static_cast<int>(request.size()), device);
}

}  // namespace corvane::protocol
