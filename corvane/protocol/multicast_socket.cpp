// Multicast search transport.
#include "corvane/protocol/multicast_socket.h"

#include "corvane/protocol/broadcast_socket.h"
#include "tk/dialog.h"
#include "tk/platform.h"

namespace corvane::protocol {

CMulticastSocket::CMulticastSocket() {
  m_slotLength.fill(-1);
  m_markers.fill(kMarkerEmpty);
}

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

void CMulticastSocket::ResetForSearch() {
  m_writePosition = 0;
  m_slotLength.fill(-1);
  m_ring.Fill();
}

void CMulticastSocket::OnReceive(int errorCode) {
  const int w = m_writePosition;
  auto& slot = m_ring.slots[w];
  const int n = ReceiveFrom(slot.data(), ReceiveRing::kSlotSize, m_senderAddress, m_senderPort);
  m_slotLength[w] = n;
  if (n == tk::SOCKET_ERROR) {
    slot.fill(kFill);
    tk::AfxMessageBox(kMsgHostGroupReceiveError);
  } else if (m_ownDatagramFilter != 0 && m_senderAddress == m_ownAddress && m_senderPort == m_ownPort) {
    // Our own request: as if it had never arrived.
    slot.fill(kFill);
    m_slotLength[w] = -1;
  } else if (const ReplyMark mark = AcceptReply(MutableByteView(slot.data(), slot.size()), n);
             mark == ReplyMark::Rejected) {
    // The length stays; the poller rejects the slot by its 0xCC code byte.
    slot.fill(kFill);
    m_markers[w] = kMarkerEmpty;
  } else {
    m_replyReceived = 1;
    m_markers[w] = 1;
    if (mark == ReplyMark::TwoPort) {
      m_twoPortReplyReceived = 1;
      m_markers[w] = 2;
    }
    m_writePosition = (w + 1) % ReceiveRing::kSlots;
  }
  CAsyncSocket::OnReceive(errorCode);
}

ReceivedSlot CMulticastSocket::TakeSlot(int k) const {
  if (k < 0 || k >= ReceiveRing::kSlots) return {};
  const auto& slot = m_ring.slots[k];
  return {ByteView(slot.data(), slot.size()), m_slotLength[k], m_markers[k]};
}

void CMulticastSocket::ClearReplyFlags(bool twoPort) {
  m_replyReceived = 0;
  if (twoPort) m_twoPortReplyReceived = 0;
}

void CMulticastSocket::DropSlot(int k) {
  DropRingSlot(m_ring, m_slotLength, m_markers, m_writePosition, k);
}

void CMulticastSocket::ResetMarkers() {
  m_markers.fill(kMarkerEmpty);
}

}  // namespace corvane::protocol
