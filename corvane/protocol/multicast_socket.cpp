// Multicast search transport.
#include "corvane/protocol/multicast_socket.h"

#include "corvane/protocol/broadcast_socket.h"
#include "tk/dialog.h"
#include "tk/platform.h"

namespace corvane::protocol {

CMulticastSocket::~CMulticastSocket() {
  if (IsOpen()) Close();
}

bool CMulticastSocket::Join(int ttl, bool loopback, const std::string& group, unsigned localPort) {
  if (!Create(localPort, tk::SOCK_DGRAM, tk::FD_READ)) return false;
  SetReuseAddress(true);
  SetReceiveBufferSize(kSearchReceiveBufferBytes);
  m_membershipGroup = group;
  if (!JoinMulticastGroup(group)) return false;
  if (SetMulticastTTL(ttl)) {
    m_joinedTtl = ttl;
  } else {
    tk::AfxMessageBox(kMsgTtlError);
  }
  if (!SetMulticastLoopback(loopback) && !loopback) TurnOwnDatagramFilterOn();
  return true;
}

// Loopback could not be switched off: our own search request will come back,
// so remember our own address and port to recognise it.
void CMulticastSocket::TurnOwnDatagramFilterOn() {
  m_ownDatagramFilter = 1;
  std::string host;
  if (tk::GetHostName(host)) tk::ResolveFirstIPv4(host, m_ownAddress);
  std::string bound;
  GetSockName(bound, m_ownPort);
}

bool CMulticastSocket::Send(const void* bytes, int length, const std::string& group, unsigned port) {
  m_destinationAddress = group;
  m_destinationPort = port;
  return SendTo(bytes, length, port, group) != tk::SOCKET_ERROR;
}

// A datagram from our own address and port: our own request coming back.
bool CMulticastSocket::IsOwnDatagram() const {
  return m_ownDatagramFilter != 0 && m_senderAddress == m_ownAddress && m_senderPort == m_ownPort;
}

void CMulticastSocket::OnReceive(int errorCode) {
  const int n = ReceiveFrom(m_receive.WriteSlot(), ReceiveRing::kSlotSize, m_senderAddress, m_senderPort);
  if (n != tk::SOCKET_ERROR && IsOwnDatagram()) {
    m_receive.DiscardWriteSlot();  // as if it had never arrived
  } else if (m_receive.Record(n) == SlotResult::ReadFailed) {
    tk::AfxMessageBox(kMsgHostGroupReceiveError);
  }
  // After a wrong magic the length stays; the poller rejects the slot by its
  // 0xCC code byte and marker.
  CAsyncSocket::OnReceive(errorCode);
}

}  // namespace corvane::protocol
