// The search poller's side of the transports.
#include "corvane/protocol/search_poll.h"

#include "corvane/protocol/unicast_socket.h"

namespace corvane::protocol {

namespace {
bool IsReplyMarker(int marker) {
  return marker == 1 || marker == 2;
}
}  // namespace

int StoreSearchReply(DeviceTable& table, const ReceivedSlot& slot, bool userSearch) {
  if (slot.length < 0 || !IsReplyMarker(slot.marker)) return -1;
  const ReplyMark mark = slot.marker == 2 ? ReplyMark::TwoPort : ReplyMark::OnePort;
  return table.StoreReply(slot.bytes, slot.length, mark, userSearch);
}

int PollSearchSlot(DeviceTable& table, SearchTransport& transport, bool userSearch) {
  const int k = table.NextSlot();
  const ReceivedSlot slot = transport.TakeSlot(k);
  const int stored = StoreSearchReply(table, slot, userSearch);
  if (stored >= 0) {
    transport.ClearReplyFlags(slot.marker == 2);
  } else if (slot.length >= 0 && IsReplyMarker(slot.marker)) {
    transport.DropSlot(k);
  }
  return stored;
}

int PollUnicastSearch(DeviceTable& table, const CUnicastSocket& transport, bool userSearch) {
  return StoreSearchReply(table, transport.Peek(), userSearch);
}

}  // namespace corvane::protocol
