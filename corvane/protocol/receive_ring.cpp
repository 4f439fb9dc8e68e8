// The receive area shared by the search transports.
#include "corvane/protocol/receive_ring.h"

namespace corvane::protocol {

SearchReceiveArea::SearchReceiveArea() {
  m_slotLength.fill(-1);
  m_markers.fill(kMarkerEmpty);
}

void SearchReceiveArea::ResetForSearch() {
  m_writePosition = 0;
  m_slotLength.fill(-1);
  m_ring.Fill();
}

SlotResult SearchReceiveArea::Record(int length) {
  const int w = m_writePosition;
  auto& slot = m_ring.slots[w];
  m_slotLength[w] = length;
  if (length < 0) {
    // Nothing usable, and nothing of a partial read left over.
    slot.fill(kFill);
    return SlotResult::ReadFailed;
  }
  const ReplyMark mark = AcceptReply(MutableByteView(slot.data(), slot.size()), length);
  if (mark == ReplyMark::Rejected) {
    slot.fill(kFill);
    m_markers[w] = kMarkerEmpty;
    return SlotResult::WrongMagic;
  }
  MarkReply(mark);
  return SlotResult::Reply;
}

void SearchReceiveArea::MarkReply(ReplyMark mark) {
  const int w = m_writePosition;
  m_replyReceived = 1;
  m_markers[w] = 1;
  if (mark == ReplyMark::TwoPort) {
    m_twoPortReplyReceived = 1;
    m_markers[w] = 2;
  }
  m_writePosition = (w + 1) % ReceiveRing::kSlots;
}

void SearchReceiveArea::DiscardWriteSlot() {
  m_ring.slots[m_writePosition].fill(kFill);
  m_slotLength[m_writePosition] = -1;
}

ReceivedSlot SearchReceiveArea::TakeSlot(int k) const {
  if (k < 0 || k >= ReceiveRing::kSlots) return {};
  const auto& slot = m_ring.slots[k];
  return {ByteView(slot.data(), slot.size()), m_slotLength[k], m_markers[k]};
}

void SearchReceiveArea::ClearReplyFlags(bool twoPort) {
  m_replyReceived = 0;
  if (twoPort) m_twoPortReplyReceived = 0;
}

// Slots after k, up to the write position, move down one place and the write
// position follows; a slot at or past the write position is only emptied.
void SearchReceiveArea::DropSlot(int k) {
  if (k < 0 || k >= ReceiveRing::kSlots) return;
  int last = k;
  if (k < m_writePosition) {
    for (int i = k; i + 1 < m_writePosition; ++i) {
      m_ring.slots[i] = m_ring.slots[i + 1];
      m_slotLength[i] = m_slotLength[i + 1];
      m_markers[i] = m_markers[i + 1];
    }
    last = m_writePosition - 1;
    m_writePosition = last;
  }
  m_ring.slots[last].fill(kFill);
  m_slotLength[last] = -1;
  m_markers[last] = kMarkerEmpty;
}

void SearchReceiveArea::ResetMarkers() {
  m_markers.fill(kMarkerEmpty);
}

int SearchReceiveArea::FilledSlots() const {
  int filled = 0;
  for (const std::int32_t length : m_slotLength) filled += length > 0 ? 1 : 0;
  return filled;
}

}  // namespace corvane::protocol
