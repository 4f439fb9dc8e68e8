// The poll contract between the transports and the search timers: each tick
// takes receive slot k, where k is the device table's next slot, and stores an
// accepted search reply in table slot k.
#pragma once

#include "corvane/protocol/device_table.h"
#include "corvane/protocol/receive_ring.h"

namespace corvane::protocol {

class CUnicastSocket;

// Stores one taken slot into the table when it holds an accepted search reply
// (length not negative, marker 1 or 2, reply code 1). Returns the length, or
// -1 when nothing was stored.
int StoreSearchReply(DeviceTable& table, const ReceivedSlot& slot, bool userSearch);

// One tick of a broadcast or multicast search: takes slot k = table.NextSlot();
// stores it and clears the transport's reply flags when it holds a search
// reply. An accepted datagram that is not a search reply (another reply code)
// is dropped from the ring so that the next tick finds the later replies.
// Returns the stored length or -1.
int PollSearchSlot(DeviceTable& table, SearchTransport& transport, bool userSearch);

// One tick of an IP search: the unicast buffer, stored like a search slot.
// The caller resets the buffer and the flags when the search ends.
int PollUnicastSearch(DeviceTable& table, const CUnicastSocket& transport, bool userSearch);

}  // namespace corvane::protocol
