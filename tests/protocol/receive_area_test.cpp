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
  const ReceivedSlot slot = area.TakeSlot(0);
  EXPECT_EQ(slot.length, c.storedLength);
  EXPECT_EQ(slot.marker, c.marker);
  EXPECT_EQ(area.WritePosition(), c.writePosition);
  EXPECT_EQ(area.ReplyReceived(), c.replyReceived != 0);
  EXPECT_EQ(area.TwoPortReplyReceived(), c.twoPortReplyReceived != 0);
  EXPECT_EQ(slot.bytes[0], c.byte0);
  EXPECT_EQ(slot.bytes[73], c.byte73);
  EXPECT_EQ(slot.bytes[255], c.result == SlotResult::Reply ? 0x5A : 0xCC)
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
  EXPECT_EQ(area.WritePosition(), 1);
  Receive(area, Datagram(73, true, false, 0x03), 73);
  EXPECT_EQ(area.WritePosition(), 2);
  EXPECT_EQ(area.TakeSlot(1).bytes[31], 0x03);
  EXPECT_EQ(area.TakeSlot(1).marker, 1);
}

TEST(SearchReceiveArea, TheWritePositionWrapsAfterSlot255) {
  SearchReceiveArea area;
  for (int i = 0; i < ReceiveRing::kSlots; ++i) {
    Raw b = Datagram(73, true, false);
    b[31] = static_cast<std::uint8_t>(i);
    ASSERT_EQ(Receive(area, b, 73), SlotResult::Reply) << i;
  }
  EXPECT_EQ(area.WritePosition(), 0);
  EXPECT_EQ(area.TakeSlot(255).bytes[31], 255);
  Receive(area, Datagram(73, true, false, 0x77), 73);
  EXPECT_EQ(area.TakeSlot(0).bytes[31], 0x77) << "the 257th reply overwrites slot 0";
}

TEST(SearchReceiveArea, DiscardEmptiesTheWriteSlotAndStaysThere) {
  SearchReceiveArea area;
  Receive(area, Datagram(73, true, false), 73);
  Receive(area, Datagram(73, false, false), 73);  // a wrong magic keeps its length
  std::memcpy(area.WriteSlot(), "MORKELAN", 8);
  area.DiscardWriteSlot();
  EXPECT_EQ(area.WritePosition(), 1);
  EXPECT_EQ(area.TakeSlot(1).length, -1);
  EXPECT_EQ(area.TakeSlot(1).bytes[0], 0xCC);
  EXPECT_EQ(area.TakeSlot(0).marker, 1) << "the slot before is untouched";
}

TEST(SearchReceiveArea, ResetForSearchEmptiesRingAndLengthsButNotMarkers) {
  SearchReceiveArea area;
  Receive(area, Datagram(98, true, true), 98);
  area.ResetForSearch();
  EXPECT_EQ(area.WritePosition(), 0);
  EXPECT_EQ(area.TakeSlot(0).length, -1);
  EXPECT_EQ(area.TakeSlot(0).bytes[0], 0xCC);
  EXPECT_EQ(area.TakeSlot(0).marker, 2) << "the poller resets the markers at the end of its search";
  area.ResetMarkers();
  EXPECT_EQ(area.TakeSlot(0).marker, kMarkerEmpty);
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
  EXPECT_EQ(area.WritePosition(), 1);
  EXPECT_EQ(area.TakeSlot(0).length, 73);
}

TEST(SearchReceiveArea, DroppingASlotAtOrPastTheWritePositionOnlyEmptiesIt) {
  SearchReceiveArea area;
  // After a wrap the slots past the write position still hold last round's replies.
  for (int i = 0; i <= ReceiveRing::kSlots; ++i) Receive(area, Datagram(73, true, false), 73);
  area.DropSlot(5);
  EXPECT_EQ(area.WritePosition(), 1);
  EXPECT_EQ(area.TakeSlot(5).length, -1);
  EXPECT_EQ(area.TakeSlot(5).marker, kMarkerEmpty);
  EXPECT_EQ(area.TakeSlot(6).length, 73) << "the later slots stay where they are";
  EXPECT_EQ(area.TakeSlot(0).length, 73);
}

}  // namespace
}  // namespace corvane::protocol
