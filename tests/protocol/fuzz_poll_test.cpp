// Hostile input for the receive area of the search transports and the search
// poll that moves its slots into the device table: random datagrams and polls
// interleaved the way the socket and the timers interleave them.
#include <gtest/gtest.h>

#include <memory>

#include "corvane/protocol/receive_ring.h"
#include "corvane/protocol/search_poll.h"
#include "fuzz_input.h"

namespace corvane::protocol {
namespace {

using namespace fuzz;

// Datagrams arrive in random order with polls in between, as the timers and
// the socket interleave them; every stored slot holds an accepted search reply.
TEST(ReceiveAreaFuzz, RandomArrivalsAndPollsKeepEveryInvariant) {
  Fuzzer f(3001);
  auto area = std::make_unique<SearchReceiveArea>();
  auto table = std::make_unique<DeviceTable>();
  int replies = 0;
  for (int i = 0; i < kCases; ++i) {
    const int op = f.Int(0, 9);
    if (op == 0) {
      area->ResetForSearch();
      area->ResetMarkers();
      table->ResetForSearch();
    } else if (op <= 5) {
      const Raw d = f.Datagram();
      // The socket reports a datagram over 256 bytes as a failed read.
      const int length = d.size() > kMaxDatagram || f.Chance(5) ? -1 : static_cast<int>(d.size());
      const int w = area->WritePosition();
      std::uint8_t* slot = area->WriteSlot();
      if (length > 0) std::memcpy(slot, d.data(), d.size());
      const SlotResult r = area->Record(length);
      const bool magic = length >= 8 && MagicAt(d.data());
      ASSERT_EQ(r, length < 0 ? SlotResult::ReadFailed : magic ? SlotResult::Reply : SlotResult::WrongMagic);
      if (r == SlotResult::Reply) {
        ++replies;
        ASSERT_EQ(area->WritePosition(), (w + 1) % ReceiveRing::kSlots);
        const int marker = area->TakeSlot(w).marker;
        ASSERT_EQ(marker, length >= 81 && MagicAt(d.data() + off::kMagic2) ? 2 : 1);
      } else {
        ASSERT_EQ(area->WritePosition(), w);
        ASSERT_TRUE(std::all_of(slot, slot + ReceiveRing::kSlotSize, [](auto x) { return x == kFill; }));
      }
    } else {
      const int k = table->NextSlot();
      const int stored = PollSearchSlot(*table, *area, f.Chance(50));
      if (stored >= 0) {
        const ByteView s = table->Slot(k);
        ASSERT_TRUE(MagicAt(s.data()));
        ASSERT_EQ(s[off::kCode] & 0x0F, kReplySearch);
        const bool second = MagicAt(s.data() + off::kMagic2);
        const bool filled = std::all_of(s.begin() + off::kMagic2, s.begin() + kTwoPortRecordSize,
                                        [](auto x) { return x == kFill; });
        ASSERT_TRUE(table->PortCount(k) == 1 ? filled : second);
      }
    }
    ASSERT_GE(area->WritePosition(), 0);
    ASSERT_LT(area->WritePosition(), ReceiveRing::kSlots);
    for (int k = 0; k < ReceiveRing::kSlots; ++k) {
      const int len = area->TakeSlot(k).length;
      ASSERT_TRUE(len >= -1 && len <= static_cast<int>(kMaxDatagram)) << "slot " << k;
      const int m = area->TakeSlot(k).marker;
      ASSERT_TRUE(m == kMarkerEmpty || m == 1 || m == 2) << "slot " << k;
    }
    CheckTable(*table, i);
  }
  EXPECT_GT(replies, kCases / 10);
}

}  // namespace
}  // namespace corvane::protocol
