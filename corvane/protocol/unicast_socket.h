// The unicast transport: the IP search and every request to one device. It
// expects one reply at a time and keeps the last one in a single buffer.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>
#include <string>

#include "corvane/protocol/receive_ring.h"
#include "tk/socket.h"

namespace corvane::protocol {

class CUnicastSocket : public tk::CAsyncSocket {
 public:
  CUnicastSocket();
  ~CUnicastSocket() override;

  // Local port 25125 on the host address; read, write and close notifications.
  bool Open(const std::string& hostAddress, unsigned localPort = kPcUnicastPort);
  // Closes the socket when it is open, then opens it again.
  bool Reopen(const std::string& hostAddress, unsigned localPort = kPcUnicastPort);
  // One request to a device's unicast port.
  bool Send(const void* bytes, int length, const std::string& address, unsigned port = kDeviceUnicastPort);

  // Length -1 and the buffer 0xCC: nothing to take.
  void ResetBuffer();
  // A view of the last reply; it stays in the buffer until a step consumes
  // it (ResetBuffer, or Consume).
  ReceivedSlot Peek() const;
  // The reply acted on is gone: buffer, length and marker reset, so that a
  // step entered again (from a message box's loop) finds nothing.
  void Consume();
  // The poller's resets, under the lock: the reply-received flag, and the
  // two-port flag too when `twoPort`.
  void ClearReplyFlags(bool twoPort);
  void ResetMarker();

  // Read-only views; Peek() gives the buffer, length and marker together.
  int Length() const { return m_length; }
  int Marker() const { return m_marker; }
  bool ReplyReceived() const { return m_replyReceived != 0; }
  bool TwoPortReplyReceived() const { return m_twoPortReplyReceived != 0; }
  const std::string& SenderAddress() const { return m_senderAddress; }
  unsigned SenderPort() const { return m_senderPort; }

 protected:
  void OnReceive(int errorCode) override;

 private:
  std::array<std::uint8_t, kMaxDatagram> m_buffer;
  std::string m_senderAddress;
  unsigned m_senderPort = 0;
  std::int32_t m_length = -1;
  std::int32_t m_replyReceived = 0;
  std::int32_t m_marker = 0;
  std::int32_t m_twoPortReplyReceived = 0;
  std::mutex m_lock;
};

}  // namespace corvane::protocol
