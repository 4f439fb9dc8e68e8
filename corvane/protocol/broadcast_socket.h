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

class CBroadcastSocket : public tk::CAsyncSocket {
 public:
  ~CBroadcastSocket() override;

  // A datagram socket on `localPort`, any address, broadcast allowed.
  bool Open(unsigned localPort);
  bool Send(const void* bytes, int length, const std::string& address, unsigned port);

  // The replies as received; the search poller takes them from here.
  SearchReceiveArea m_receive;
  std::string m_senderAddress;
  unsigned m_senderPort = 0;
  unsigned m_localPort = 0;
  std::string m_destinationAddress;
  unsigned m_destinationPort = 0;

 protected:
  void OnReceive(int errorCode) override;
};

}  // namespace corvane::protocol
