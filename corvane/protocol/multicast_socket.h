// The multicast search transport: joins the host group once per run, sends the
// search request to the group and collects the replies in its receive ring.
#pragma once

#include <cstdint>
#include <string>

#include "corvane/protocol/receive_ring.h"
#include "tk/socket.h"

namespace corvane::protocol {

constexpr const char* kMsgTtlError = "Warning! Error Setting TTL";
constexpr const char* kMsgHostGroupReceiveError = "Error receiving data from the host group";

class CMulticastSocket : public tk::CAsyncSocket {
 public:
  ~CMulticastSocket() override;

  // Creates the socket on `localPort`, joins `group` on any interface and sets
  // TTL and loopback. False when the socket cannot be created or the group
  // cannot be joined.
  bool Join(int ttl, bool loopback, const std::string& group, unsigned localPort);
  bool Send(const void* bytes, int length, const std::string& group, unsigned port);

  // The replies as received; the search poller takes them from here.
  SearchReceiveArea m_receive;
  std::string m_destinationAddress;
  unsigned m_destinationPort = 0;
  std::string m_membershipGroup;
  int m_joinedTtl = 0;  // the TTL set at the join, for inspection
  unsigned m_senderPort = 0;
  std::string m_senderAddress;
  unsigned m_ownPort = 0;
  std::string m_ownAddress;
  std::int32_t m_ownDatagramFilter = 0;

 protected:
  void OnReceive(int errorCode) override;

 private:
  void TurnOwnDatagramFilterOn();
  bool IsOwnDatagram() const;
};

}  // namespace corvane::protocol
