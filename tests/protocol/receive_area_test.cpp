// The receive area of the search transports on its own: what each datagram
// leaves in the write slot, its length, its marker, the flags and the write
// position; and the poller's operations on slot indices from anywhere.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "corvane/protocol/receive_ring.h"

namespace corvane::protocol {
namespace {

using Raw = std::vector<std::uint8_t>;

// A reply-shaped datagram of `size` bytes: the magic, code 1, and `tail`
// in every other byte; with `secondMagic` the magic again at offset 73.
Raw Datagram(std::size_t size, bool goodMagic, bool secondMagic, std::uint8_t tail = 0x5A) {
  Raw b(size, tail);
  std::memcpy(b.data(), goodMagic ? "MORKELAN" : "MORKELAX", 8);
  b[8] = 0x01;
  if (secondMagic && size >= 81) std::memcpy(b.data() + 73, "MORKELAN", 8);
  return b;
}

// What a socket does: copy into the write slot, then record the length read
// (-1 for a failed read).
SlotResult Receive(SearchReceiveArea& area, const Raw& datagram, int length) {
  std::memcpy(area.WriteSlot(), datagram.data(), datagram.size());
  return area.Record(length);
}

struct RecordCase {
  const char* label;
  Raw datagram;
  int length;
  SlotResult result;
  int storedLength;
  std::uint8_t marker;
  int writePosition;
  int replyReceived;
  int twoPortReplyReceived;
  std::uint8_t byte0;   // slot 0, offset 0 afterwards
  std::uint8_t byte73;  // slot 0, offset 73 afterwards
};

class RecordDatagram : public ::testing::TestWithParam<RecordCase> {};

TEST_P(RecordDatagram, LeavesSlotLengthMarkerFlagsAndPosition) {
  const RecordCase& c = GetParam();
  SearchReceiveArea area;
  EXPECT_EQ(Receive(area, c.datagram, c.length), c.result);
  EXPECT_EQ(area.m_slotLength[0], c.storedLength);
  EXPECT_EQ(area.m_markers[0], c.marker);
  EXPECT_EQ(area.m_writePosition, c.writePosition);
  EXPECT_EQ(area.m_replyReceived, c.replyReceived);
  EXPECT_EQ(area.m_twoPortReplyReceived, c.twoPortReplyReceived);
  EXPECT_EQ(area.m_ring.slots[0][0], c.byte0);
  EXPECT_EQ(area.m_ring.slots[0][73], c.byte73);
  EXPECT_EQ(area.m_ring.slots[0][255], c.result == SlotResult::Reply ? 0x5A : 0xCC)
      << "only an accepted reply keeps bytes outside the second section";
}

INSTANTIATE_TEST_SUITE_P(
    SearchReceiveArea, RecordDatagram,
    ::testing::Values(
        // A partial read must not survive a failed receive.
        RecordCase{"FailedRead", Datagram(256, true, false), -1, SlotResult::ReadFailed, -1, 0xCC, 0, 0, 0,
                   0xCC, 0xCC},
        RecordCase{"WrongMagic", Datagram(256, false, false), 73, SlotResult::WrongMagic, 73, 0xCC, 0, 0, 0,
                   0xCC, 0xCC},
        // Offsets 73..97 are wiped even when the sender put bytes there.
        RecordCase{"OnePort", Datagram(256, true, false), 73, SlotResult::Reply, 73, 1, 1, 1, 0, 'M', 0xCC},
        RecordCase{"TwoPort", Datagram(256, true, true), 98, SlotResult::Reply, 98, 2, 1, 1, 1, 'M', 'M'},
        // A magic damaged in its last byte only.
        RecordCase{"DamagedSecondMagicIsOnePort",
                   [] {
                     Raw b = Datagram(256, true, true);
                     b[80] = 'X';
                     return b;
                   }(),
                   98, SlotResult::Reply, 98, 1, 1, 1, 0, 'M', 0xCC}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(SearchReceiveArea, ARejectedDatagramLeavesItsSlotToTheNextReply) {
  SearchReceiveArea area;
  Receive(area, Datagram(73, true, false, 0x01), 73);
  Receive(area, Datagram(73, false, false), 73);
  Receive(area, Datagram(73, true, false, 0x02), -1);
  EXPECT_EQ(area.m_writePosition, 1);
  Receive(area, Datagram(73, true, false, 0x03), 73);
  EXPECT_EQ(area.m_writePosition, 2);
  EXPECT_EQ(area.m_ring.slots[1][31], 0x03);
  EXPECT_EQ(area.m_markers[1], 1);
}

TEST(SearchReceiveArea, TheWritePositionWrapsAfterSlot255) {
  SearchReceiveArea area;
  for (int i = 0; i < ReceiveRing::kSlots; ++i) {
    Raw b = Datagram(73, true, false);
    b[31] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(Receive(area, b, 73), SlotResult::Reply) << i;
  }
  EXPECT_EQ(area.m_writePosition, 0);
  EXPECT_EQ(area.m_ring.slots[255][31], 255);
  Receive(area, Datagram(73, true, false, 0x77), 73);
  EXPECT_EQ(area.m_ring.slots[0][31], 0x77) << "the 257th reply overwrites slot 0";
}

TEST(SearchReceiveArea, DiscardEmptiesTheWriteSlotAndStaysThere) {
  SearchReceiveArea area;
  Receive(area, Datagram(73, true, false), 73);
  std::memcpy(area.WriteSlot(), "MORKELAN", 8);
  area.m_slotLength[1] = 73;
  area.DiscardWriteSlot();
  EXPECT_EQ(area.m_writePosition, 1);
  EXPECT_EQ(area.m_slotLength[1], -1);
  EXPECT_EQ(area.m_ring.slots[1][0], 0xCC);
  EXPECT_EQ(area.m_markers[0], 1) << "the slot before is untouched";
}

TEST(SearchReceiveArea, ResetForSearchEmptiesRingAndLengthsButNotMarkers) {
  SearchReceiveArea area;
  Receive(area, Datagram(98, true, true), 98);
  area.ResetForSearch();
  EXPECT_EQ(area.m_writePosition, 0);
  EXPECT_EQ(area.m_slotLength[0], -1);
  EXPECT_EQ(area.m_ring.slots[0][0], 0xCC);
  EXPECT_EQ(area.m_markers[0], 2) << "the poller resets the markers at the end of its search";
  area.ResetMarkers();
  EXPECT_EQ(area.m_markers[0], kMarkerEmpty);
}

TEST(SearchReceiveArea, SlotIndicesOutsideTheRingTakeAndDropNothing) {
  SearchReceiveArea area;
  Receive(area, Datagram(73, true, false), 73);
  for (int k : {-1, ReceiveRing::kSlots, 1 << 30}) {
    const ReceivedSlot slot = area.TakeSlot(k);
    EXPECT_TRUE(slot.bytes.empty()) << k;
    EXPECT_EQ(slot.length, -1) << k;
    area.DropSlot(k);
  }
  EXPECT_EQ(area.m_writePosition, 1);
  EXPECT_EQ(area.m_slotLength[0], 73);
}

TEST(SearchReceiveArea, DroppingASlotAtOrPastTheWritePositionOnlyEmptiesIt) {
  SearchReceiveArea area;
  Receive(area, Datagram(73, true, false), 73);
  area.m_slotLength[5] = 73;
  area.m_markers[5] = 1;
  area.DropSlot(5);
  EXPECT_EQ(area.m_writePosition, 1);
  EXPECT_EQ(area.m_slotLength[5], -1);
  EXPECT_EQ(area.m_markers[5], kMarkerEmpty);
  EXPECT_EQ(area.m_slotLength[0], 73);
}

}  // namespace
}  // namespace corvane::protocol
