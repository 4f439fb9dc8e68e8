// The three transports as the main window owns them, with their opened and
// joined flags, and the transport side of starting a search: the broadcast
// transport is opened and the multicast transport joined once per run; later
// changes in the search dialog change only where each request is sent.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "corvane/protocol/broadcast_socket.h"
#include "corvane/protocol/multicast_socket.h"
#include "corvane/protocol/unicast_socket.h"

namespace corvane::protocol {

class CSearchDlg;

struct Transports {
  Transports();
  ~Transports();
  Transports(const Transports&) = delete;
  Transports& operator=(const Transports&) = delete;

  std::unique_ptr<CBroadcastSocket> broadcast;
  std::unique_ptr<CMulticastSocket> multicast;
  std::unique_ptr<CUnicastSocket> unicast;
  std::int32_t broadcastOpened = 0;
  std::int32_t multicastJoined = 0;
  std::int32_t unicastOpened = 0;

  // Resets the broadcast ring, opens the transport on 25120 if this run has
  // not tried yet, and sends the search request to the dialog's broadcast
  // address, port 25122. Returns whether the send succeeded.
  bool SendBroadcastSearch(const CSearchDlg& dialog);
  // The same for multicast: join on 25121 with the dialog's TTL, loopback and
  // group once per run; send to the dialog's group, port 25123.
  bool SendMulticastSearch(const CSearchDlg& dialog);
  // IP search: unicast buffer reset, the socket closed and created again (or
  // created) on 25125 at the host address, the request sent to `device`:25124.
  bool SendUnicastSearch(const std::string& hostAddress, const std::string& device);
  // Before every other unicast request: close and re-create when open, else create.
  bool ReopenUnicast(const std::string& hostAddress);
  // Before the upgrade request: create only when not open.
  bool EnsureUnicastOpen(const std::string& hostAddress);
};

}  // namespace corvane::protocol
