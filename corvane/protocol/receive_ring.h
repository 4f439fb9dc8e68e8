// The receive area of a search transport and the view the search poller takes
// of one slot.
#pragma once

#include <array>
#include <cstdint>

#include "corvane/protocol/packet.h"

namespace corvane::protocol {

// 256 receive slots of 256 bytes each; fill byte 0xCC.
struct ReceiveRing {
  static constexpr int kSlots = 256;
  static constexpr int kSlotSize = static_cast<int>(kMaxDatagram);
  std::array<std::array<std::uint8_t, kMaxDatagram>, kSlots> slots;

  ReceiveRing() { Fill(); }
  void Fill() {
    for (auto& slot : slots) slot.fill(kFill);
  }
};

// Removes slot k of a ring whose next write goes to `writePosition`: the
// slots after it, up to the write position, move down one place and the write
// position follows. Outside that range the slot is only emptied.
void DropRingSlot(ReceiveRing& ring, std::array<std::int32_t, ReceiveRing::kSlots>& lengths,
                  std::array<std::uint8_t, ReceiveRing::kSlots>& markers, std::int32_t& writePosition, int k);

// Slot markers: 0xCC nothing, 1 one-port reply, 2 two-port reply.
constexpr std::uint8_t kMarkerEmpty = kFill;
// The unicast transport's marker while nothing has been taken.
constexpr std::int32_t kUnicastMarkerReset = static_cast<std::int32_t>(0xCCCCCCCCu);

// One receive slot as the poller takes it: the bytes, the length received (-1
// when nothing usable) and the marker.
struct ReceivedSlot {
  ByteView bytes;
  int length = -1;
  int marker = kMarkerEmpty;
};

// What the search poller needs of the broadcast and multicast transports.
class SearchTransport {
 public:
  virtual ~SearchTransport() = default;
  virtual ReceivedSlot TakeSlot(int k) const = 0;
  // After a stored reply: clear the reply-received flag, and the two-port flag
  // after a two-port reply.
  virtual void ClearReplyFlags(bool twoPort) = 0;
  // Removes slot k (an accepted datagram that is not a search reply) by moving
  // the later slots down one place, so that the k-th search reply still lands
  // in slot k.
  virtual void DropSlot(int k) = 0;
  // The markers of every slot back to 0xCC (at the end of a search).
  virtual void ResetMarkers() = 0;
};

}  // namespace corvane::protocol
