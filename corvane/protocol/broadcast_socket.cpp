// Broadcast search transport.
#include "corvane/protocol/broadcast_socket.h"

namespace corvane::protocol {

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

void CBroadcastSocket::OnReceive(int errorCode) {
  const int n = ReceiveFrom(m_receive.WriteSlot(), ReceiveRing::kSlotSize, m_senderAddress, m_senderPort);
  // A datagram that is no reply leaves no length behind either.
  if (m_receive.Record(n) == SlotResult::WrongMagic) m_receive.DiscardWriteSlot();
  CAsyncSocket::OnReceive(errorCode);
}

}  // namespace corvane::protocol
