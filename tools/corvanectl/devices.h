// The devices as the command-line companion sees them: searches and status
// queries over one datagram socket, the replies kept byte for byte, and the
// texts of the main window's rows made from them.
#pragma once

#include <string>
#include <vector>

#include "corvane/protocol/packet.h"

namespace corvanectl {

using corvane::protocol::Bytes;

// One device's last reply: the whole 256-byte receive area (bytes past the
// length are the fill byte) and the length received.
struct FoundDevice {
  std::string address;  // the sender's address
  Bytes bytes;
  int length = 0;
  int portCount = 1;

  std::string MacText() const;
};

enum class SearchKind { Broadcast, Multicast, Unicast };

struct SearchOptions {
  SearchKind kind = SearchKind::Broadcast;
  std::string address;  // for Unicast
  int waitMs = 1000;
  // Further broadcast addresses the search also goes to (the adapters' own);
  // the search then fails only when it could be sent nowhere.
  std::vector<std::string> alsoTo;
};

// Sends one search request and gathers the replies until `waitMs` has passed,
// one entry per MAC in reply order (a later reply of the same device replaces
// the earlier one). False when the socket could not be opened or the request
// not sent; `error` then says why.
bool Search(const SearchOptions& options, std::vector<FoundDevice>& found, std::string& error);

// Takes one received datagram into `device` (its address left empty) when it
// is a search reply of a device.
bool TakeSearchReply(const std::uint8_t* data, int length, FoundDevice& device);

// A device named by an IP address (asked directly) or a MAC address (found by
// a broadcast search). False with `error` set when it does not answer.
bool FindTarget(const std::string& target, int waitMs, FoundDevice& device, std::string& error);

// Sends `request` to the device's own address and waits up to `waitMs` for its
// reply with `replyCode` carrying the device's MAC. False with `error` set when
// the request cannot be sent or no such reply comes.
bool SendAndAwaitReply(const FoundDevice& device, const Bytes& request, int replyCode, int waitMs,
                       std::string& error);

// The device's name as its record holds it (up to 16 bytes, no fill).
std::string RecordName(const FoundDevice& device);

// The texts of one row of the main window's device list.
struct RowTexts {
  std::string number, name, mac, dhcp, ip, port, mode, status;
};
// Row `number` (1-based) for port 1 or 2 of the reply.
RowTexts PortRow(const FoundDevice& device, int number, int port);

// The row kind of a device's port: 11 for a one-port device, 21 or 22 for the
// ports of a two-port device.
int RowKindOf(const FoundDevice& device, int port);

}  // namespace corvanectl
