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

// Like the broadcast transport, the poller reaches the receive area through
// the socket's SearchTransport side.
class CMulticastSocket : public tk::CAsyncSocket, public SearchTransport {
 public:
  ~CMulticastSocket() override;

  // Creates the socket on `localPort`, joins `group` on any interface and sets
  // TTL and loopback. False when the socket cannot be created or the group
  // cannot be joined.
  bool Join(int ttl, bool loopback, const std::string& group, unsigned localPort);
  bool Send(const void* bytes, int length, const std::string& group, unsigned port);
  // Before each search: write position 0, lengths -1, ring 0xCC.
  void ResetForSearch() { m_receive.ResetForSearch(); }

  ReceivedSlot TakeSlot(int k) const override { return m_receive.TakeSlot(k); }
  void ClearReplyFlags(bool twoPort) override { m_receive.ClearReplyFlags(twoPort); }
  void DropSlot(int k) override { m_receive.DropSlot(k); }
  void ResetMarkers() override { m_receive.ResetMarkers(); }

  // The replies as received.
  const SearchReceiveArea& Received() const { return m_receive; }
  const std::string& DestinationAddress() const { return m_destinationAddress; }
  unsigned DestinationPort() const { return m_destinationPort; }
  const std::string& MembershipGroup() const { return m_membershipGroup; }
  // The TTL set at the join; 0 when it could not be set.
  int JoinedTtl() const { return m_joinedTtl; }
  const std::string& SenderAddress() const { return m_senderAddress; }
  unsigned SenderPort() const { return m_senderPort; }
  // On when loopback could not be switched off: our own datagrams, recognised
  // by the own address and port, are then ignored.
  bool OwnDatagramFilterOn() const { return m_ownDatagramFilter != 0; }
  const std::string& OwnAddress() const { return m_ownAddress; }
  unsigned OwnPort() const { return m_ownPort; }

 protected:
  void OnReceive(int errorCode) override;

 private:
  void TurnOwnDatagramFilterOn();
  bool IsOwnDatagram() const;

  SearchReceiveArea m_receive;
  std::string m_destinationAddress;
  unsigned m_destinationPort = 0;
  std::string m_membershipGroup;
  int m_joinedTtl = 0;
  unsigned m_senderPort = 0;
  std::string m_senderAddress;
  unsigned m_ownPort = 0;
  std::string m_ownAddress;
  std::int32_t m_ownDatagramFilter = 0;
};

}  // namespace corvane::protocol
