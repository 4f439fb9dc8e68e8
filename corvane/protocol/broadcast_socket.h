// The broadcast search transport: sends the search request to the broadcast
// address and collects the replies in its receive ring.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "corvane/protocol/receive_ring.h"
#include "tk/socket.h"

namespace corvane::protocol {

// A 256-reply burst must fit into the socket's queue before the window thread
// gets to read it.
constexpr int kSearchReceiveBufferBytes = 256 * 2048;

class CBroadcastSocket : public tk::CAsyncSocket, public SearchTransport {
 public:
  CBroadcastSocket();
  ~CBroadcastSocket() override;

  // A datagram socket on `localPort`, any address, broadcast allowed.
  bool Open(unsigned localPort);
  bool Send(const void* bytes, int length, const std::string& address, unsigned port);
  // Before each search: write position 0, lengths -1, ring 0xCC.
  void ResetForSearch();

  ReceivedSlot TakeSlot(int k) const override;
  void ClearReplyFlags(bool twoPort) override;
  void DropSlot(int k) override;
  void ResetMarkers() override;

  std::int32_t m_replyReceived = 0;
  std::int32_t m_twoPortReplyReceived = 0;
  std::array<std::int32_t, ReceiveRing::kSlots> m_slotLength;
  std::int32_t m_writePosition = 0;
  ReceiveRing m_ring;
  std::string m_senderAddress;
  unsigned m_senderPort = 0;
  unsigned m_localPort = 0;
  std::string m_destinationAddress;
  unsigned m_destinationPort = 0;
  std::array<std::uint8_t, ReceiveRing::kSlots> m_markers;

 protected:
  void OnReceive(int errorCode) override;
};

}  // namespace corvane::protocol
