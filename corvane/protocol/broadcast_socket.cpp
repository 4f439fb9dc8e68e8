// Broadcast search transport.
#include "corvane/protocol/broadcast_socket.h"

#include <algorithm>
#include <cstring>

namespace corvane::protocol {

CBroadcastSocket::CBroadcastSocket() {
  m_slotLength.fill(-1);
  m_markers.fill(kMarkerEmpty);
}

CBroadcastSocket::~CBroadcastSocket() {
  if (IsOpen()) Close();
}

bool CBroadcastSocket::Open(unsigned localPort) {
  if (!Create(localPort, tk::SOCK_DGRAM, tk::FD_READ | tk::FD_WRITE)) return false;
  if (!SetBroadcast(true)) return false;
  SetReceiveBufferSize(kSearchReceiveBufferBytes);
  m_localPort = localPort;
  return true;
}

bool CBroadcastSocket::Send(const void* bytes, int length, const std::string& address, unsigned port) {
  m_destinationAddress = address;
  m_destinationPort = port;
  return SendTo(bytes, length, port, address) >= 0;
}

void CBroadcastSocket::ResetForSearch() {
  m_writePosition = 0;
  m_slotLength.fill(-1);
  m_ring.Fill();
}

void CBroadcastSocket::OnReceive(int errorCode) {
  const int w = m_writePosition;
  auto& slot = m_ring.slots[w];
  const int n = ReceiveFrom(slot.data(), ReceiveRing::kSlotSize, m_senderAddress, m_senderPort);
  m_slotLength[w] = n;
  if (n == tk::SOCKET_ERROR) {
    // Too long for a slot, or a failed read: nothing usable, nothing left over.
    slot.fill(kFill);
  } else if (const ReplyMark mark = AcceptReply(MutableByteView(slot.data(), slot.size()), n);
             mark == ReplyMark::Rejected) {
    slot.fill(kFill);
    m_markers[w] = kMarkerEmpty;
    m_slotLength[w] = -1;
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

ReceivedSlot CBroadcastSocket::TakeSlot(int k) const {
  if (k < 0 || k >= ReceiveRing::kSlots) return {};
  const auto& slot = m_ring.slots[k];
  return {ByteView(slot.data(), slot.size()), m_slotLength[k], m_markers[k]};
}

void CBroadcastSocket::ClearReplyFlags(bool twoPort) {
  m_replyReceived = 0;
  if (twoPort) m_twoPortReplyReceived = 0;
}

void CBroadcastSocket::DropSlot(int k) {
  DropRingSlot(m_ring, m_slotLength, m_markers, m_writePosition, k);
}

void CBroadcastSocket::ResetMarkers() {
  m_markers.fill(kMarkerEmpty);
}

}  // namespace corvane::protocol
