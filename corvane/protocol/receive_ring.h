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

// What became of a datagram read into the write slot.
enum class SlotResult {
  ReadFailed,  // nothing read (too long for a slot, or a failed read)
  WrongMagic,  // read, but not a reply
  Reply,       // an accepted one- or two-port reply
};

// The receive side of the broadcast and multicast transports: the ring with
// its slot lengths and markers, the write position and the two reply flags.
// The socket reads each datagram into WriteSlot() and hands the result to
// Record(); what a transport does beyond that (its own filters and messages)
// stays with the transport.
class SearchReceiveArea : public SearchTransport {
 public:
  SearchReceiveArea();

  // Before each search: write position 0, lengths -1, ring 0xCC.
  void ResetForSearch();

  // Where the next datagram goes: ReceiveRing::kSlotSize bytes.
  std::uint8_t* WriteSlot() { return m_ring.slots[m_writePosition].data(); }
  // Records a read of `length` bytes into the write slot (negative: the read
  // failed) as that slot's length. A failed read or a wrong magic refills the
  // slot with 0xCC and keeps the write position, so the next datagram reuses
  // the slot; a wrong magic also empties the marker. An accepted reply sets
  // the reply flags and the marker (1, or 2 with the second magic) and moves
  // the write position on, from 255 back to 0.
  SlotResult Record(int length);
  // The write slot back to 0xCC with length -1, write position kept: the
  // datagram counts as never received.
  void DiscardWriteSlot();

  ReceivedSlot TakeSlot(int k) const override;
  void ClearReplyFlags(bool twoPort) override;
  void DropSlot(int k) override;
  void ResetMarkers() override;

  // Read-only views; only the methods above change the area.
  int WritePosition() const { return m_writePosition; }
  bool ReplyReceived() const { return m_replyReceived != 0; }
  bool TwoPortReplyReceived() const { return m_twoPortReplyReceived != 0; }
  // Slots holding a datagram (length above 0), for burst counts.
  int FilledSlots() const;

 private:
  void MarkReply(ReplyMark mark);

  std::int32_t m_replyReceived = 0;
  std::int32_t m_twoPortReplyReceived = 0;
  std::array<std::int32_t, ReceiveRing::kSlots> m_slotLength;
  std::int32_t m_writePosition = 0;
  ReceiveRing m_ring;
  std::array<std::uint8_t, ReceiveRing::kSlots> m_markers;
};

}  // namespace corvane::protocol
