// Unicast transport.
#include "corvane/protocol/unicast_socket.h"

namespace corvane::protocol {

CUnicastSocket::CUnicastSocket() {
  m_buffer.fill(kFill);
}

CUnicastSocket::~CUnicastSocket() {
  if (IsOpen()) Close();
}

bool CUnicastSocket::Open(const std::string& hostAddress, unsigned localPort) {
  return Create(localPort, tk::SOCK_DGRAM, tk::FD_READ | tk::FD_WRITE | tk::FD_CLOSE, hostAddress);
}

bool CUnicastSocket::Reopen(const std::string& hostAddress, unsigned localPort) {
  if (IsOpen()) Close();
  return Open(hostAddress, localPort);
}

bool CUnicastSocket::Send(const void* bytes, int length, const std::string& address, unsigned port) {
  return SendTo(bytes, length, port, address) != tk::SOCKET_ERROR;
}

void CUnicastSocket::ResetBuffer() {
  m_length = -1;
  m_buffer.fill(kFill);
}

ReceivedSlot CUnicastSocket::Peek() const {
  return {ByteView(m_buffer.data(), m_buffer.size()), m_length, m_marker};
}

void CUnicastSocket::Consume() {
  ResetBuffer();
  ResetMarker();
}

void CUnicastSocket::ClearReplyFlags(bool twoPort) {
  std::lock_guard guard(m_lock);
  m_replyReceived = 0;
  if (twoPort) m_twoPortReplyReceived = 0;
}

void CUnicastSocket::ResetMarker() {
  m_marker = kUnicastMarkerReset;
}

void CUnicastSocket::OnReceive(int errorCode) {
  m_length = ReceiveFrom(m_buffer.data(), static_cast<int>(m_buffer.size()), m_senderAddress, m_senderPort);
  if (m_length == tk::SOCKET_ERROR) {
    m_buffer.fill(kFill);
  } else if (const ReplyMark mark = AcceptReply(MutableByteView(m_buffer.data(), m_buffer.size()), m_length);
             mark == ReplyMark::Rejected) {
    m_marker = 0;
    m_buffer.fill(kFill);
  } else {
    std::lock_guard guard(m_lock);
    m_replyReceived = 1;
    m_marker = 1;
    if (mark == ReplyMark::TwoPort) {
      m_twoPortReplyReceived = 1;
      m_marker = 2;
    }
  }
  CAsyncSocket::OnReceive(errorCode);
}

}  // namespace corvane::protocol
