// Receive ring maintenance shared by the search transports.
#include "corvane/protocol/receive_ring.h"

namespace corvane::protocol {

void DropRingSlot(ReceiveRing& ring, std::array<std::int32_t, ReceiveRing::kSlots>& lengths,
                  std::array<std::uint8_t, ReceiveRing::kSlots>& markers, std::int32_t& writePosition,
                  int k) {
  if (k < 0 || k >= ReceiveRing::kSlots) return;
  int last = k;
  if (k < writePosition) {
    for (int i = k; i + 1 < writePosition; ++i) {
      ring.slots[i] = ring.slots[i + 1];
      lengths[i] = lengths[i + 1];
      markers[i] = markers[i + 1];
    }
    last = writePosition - 1;
    writePosition = last;
  }
  ring.slots[last].fill(kFill);
  lengths[last] = -1;
  markers[last] = kMarkerEmpty;
}

}  // namespace corvane::protocol
