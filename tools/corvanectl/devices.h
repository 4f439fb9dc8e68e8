// The devices as the command-line companion sees them: searches and status
// queries over one datagram socket, the replies kept byte for byte.
#pragma once

#include <string>
#include <vector>

#include <optional>

#include "corvane/protocol/packet.h"
#include "corvanectl/commands.h"

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

// The search that the search options of the command line ask for (search,
// backup --all): Network when the adapters cannot be listed.
Fault SearchOptionsOf(const Options& options, SearchOptions& search);

// A search whose replies keep coming ends at the latest after this many quiet spells.
constexpr int kSearchLimitFactor = 10;

// Sends one search request and gathers the replies until `waitMs` has passed
// without a new one (at most kSearchLimitFactor times `waitMs` in all),
// one entry per MAC in reply order (a later reply of the same device replaces
// the earlier one). A Network fault when the socket could not be opened or the
// request sent nowhere.
Fault Search(const SearchOptions& options, std::vector<FoundDevice>& found);

// Takes one received datagram into `device` (its address left empty) when it
// is a search reply of a device.
bool TakeSearchReply(const std::uint8_t* data, int length, FoundDevice& device);

// A device named by an IP address (asked directly) or a MAC address (found by
// a broadcast search): NoAnswer when it does not answer, Network when the
// search could not be sent, Usage for a target that names no device.
Fault FindTarget(const std::string& target, int waitMs, FoundDevice& device);

// Sends `request` to the device's own address and waits up to `waitMs` for its
// reply with `replyCode` carrying the device's MAC: Network when the request
// cannot be sent, NoAnswer when no such reply comes.
Fault SendAndAwaitReply(const FoundDevice& device, const Bytes& request, int replyCode, int waitMs);

// Why the device may not be changed or restarted now: a serial port that is
// not idle ("serial port 2 is in use (Connected)"); nullopt when all are idle.
std::optional<std::string> PortInUse(const FoundDevice& device);

// The row kind of a device's port: 11 for a one-port device, 21 or 22 for the
// ports of a two-port device.
int RowKindOf(const FoundDevice& device, int port);

}  // namespace corvanectl
