// The broadcast search transport: sends the search request to the broadcast
// address and collects the replies in its receive ring.
#pragma once

#include <string>

#include "corvane/protocol/receive_ring.h"
#include "tk/socket.h"

namespace corvane::protocol {

// A 256-reply burst must fit into the socket's queue before the window thread
// gets to read it.
constexpr int kSearchReceiveBufferBytes = 256 * 2048;

// The poller reaches the receive area through the socket's SearchTransport
// side; everything else is read through the accessors.
class CBroadcastSocket : public tk::CAsyncSocket, public SearchTransport {
 public:
  ~CBroadcastSocket() override;

  // A datagram socket on `localPort`, any address, broadcast allowed.
  bool Open(unsigned localPort);
  bool Send(const void* bytes, int length, const std::string& address, unsigned port);
  // Before each search: write position 0, lengths -1, ring 0xCC.
  void ResetForSearch() { m_receive.ResetForSearch(); }

  ReceivedSlot TakeSlot(int k) const override { return m_receive.TakeSlot(k); }
  void ClearReplyFlags(bool twoPort) override { m_receive.ClearReplyFlags(twoPort); }
  void DropSlot(int k) override { m_receive.DropSlot(k); }
  void ResetMarkers() override { m_receive.ResetMarkers(); }

  // The replies as received.
  const SearchReceiveArea& Received() const { return m_receive; }
  const std::string& SenderAddress() const { return m_senderAddress; }
  unsigned SenderPort() const { return m_senderPort; }
  unsigned LocalPort() const { return m_localPort; }
  const std::string& DestinationAddress() const { return m_destinationAddress; }
  unsigned DestinationPort() const { return m_destinationPort; }

 protected:
  void OnReceive(int errorCode) override;

 private:
  SearchReceiveArea m_receive;
  std::string m_senderAddress;
  unsigned m_senderPort = 0;
  unsigned m_localPort = 0;
  std::string m_destinationAddress;
  unsigned m_destinationPort = 0;
};

}  // namespace corvane::protocol
