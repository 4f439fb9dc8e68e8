// The device table: reset, storing search and command replies, wrap after 256
// replies, MAC lookups and the MAC-text lifecycle.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <vector>

#include "corvane/protocol/device_table.h"

namespace corvane::protocol {
namespace {

using Raw = std::vector<std::uint8_t>;

// A reply written out by hand: magic, code, MAC at 26, optional second magic.
Raw Reply(std::uint8_t code, std::uint8_t macLast, bool twoPort = false) {
  Raw r(twoPort ? 98 : 73, 0);
  std::memcpy(r.data(), "MORKELAN", 8);
  r[8] = code;
  const std::uint8_t mac[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, macLast};
  std::memcpy(r.data() + 26, mac, 6);
  if (twoPort) std::memcpy(r.data() + 73, "MORKELAN", 8);
  return r;
}

class DeviceTableTest : public ::testing::Test {
 protected:
  std::unique_ptr<DeviceTable> table = std::make_unique<DeviceTable>();  // 512 KB: not on the stack

  int Store(const Raw& r, bool userSearch = true, ReplyMark mark = ReplyMark::OnePort) {
    return table->StoreReply(r, static_cast<int>(r.size()), mark, userSearch);
  }
};

TEST_F(DeviceTableTest, StartsEmpty) {
  EXPECT_EQ(table->NextSlot(), 0);
  for (int k : {0, 128, 255}) {
    EXPECT_EQ(table->SlotLength(k), -1);
    EXPECT_EQ(table->PortCount(k), 0xCC);
    EXPECT_EQ(table->Slot(k)[0], 0xCC);
    EXPECT_EQ(table->Slot(k)[1999], 0xCC);
    EXPECT_TRUE(table->MacTextEntry(k).empty());
  }
}

TEST_F(DeviceTableTest, StoresSearchRepliesInArrivalOrderWithPortCounts) {
  EXPECT_EQ(Store(Reply(0x01, 0x0F)), 73);
  EXPECT_EQ(Store(Reply(0x21, 0x10, true), true, ReplyMark::TwoPort), 98);
  EXPECT_EQ(table->NextSlot(), 2);
  EXPECT_EQ(table->SlotLength(0), 73);
  EXPECT_EQ(table->PortCount(0), 1);
  EXPECT_EQ(table->PortCount(1), 2);
  EXPECT_EQ(table->Slot(0)[73], 0xCC) << "bytes beyond the reply keep the fill byte";
  EXPECT_EQ(table->Slot(1)[31], 0x10);
  EXPECT_EQ(table->MacTextEntry(1), "02-00-5E-01-A2-10");
  EXPECT_EQ(table->LookupCount(), 2);
}

TEST_F(DeviceTableTest, RefusesWhatIsNotASearchReply) {
  EXPECT_EQ(Store(Reply(0x03, 1)), -1) << "a set reply";
  EXPECT_EQ(Store(Reply(0x00, 1)), -1) << "a request";
  EXPECT_EQ(table->StoreReply(Reply(0x01, 1), -1, ReplyMark::OnePort, true), -1) << "a failed receive";
  EXPECT_EQ(table->NextSlot(), 0);
  EXPECT_EQ(table->SlotLength(0), -1);
}

TEST_F(DeviceTableTest, WrapsAfter256RepliesAndKeepsFindingEveryDevice) {
  for (int i = 0; i < 256; ++i) ASSERT_EQ(Store(Reply(0x01, static_cast<std::uint8_t>(i))), 73);
  EXPECT_EQ(table->NextSlot(), 0);
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-FF"), 255);
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-00"), 0);
  Raw later = Reply(0x01, 0x00);
  later[10] = 'Z';
  Store(later);
  EXPECT_EQ(table->Slot(0)[10], 'Z') << "the 257th reply overwrites the earliest slot";
  EXPECT_EQ(table->NextSlot(), 1);
}

TEST_F(DeviceTableTest, ResetForSearchEmptiesSlotsButKeepsMacTexts) {
  Store(Reply(0x01, 0x0F));
  table->ResetForSearch();
  EXPECT_EQ(table->NextSlot(), 0);
  EXPECT_EQ(table->SlotLength(0), -1);
  EXPECT_EQ(table->Slot(0)[0], 0xCC);
  EXPECT_EQ(table->PortCount(0), 0xCC);
  EXPECT_EQ(table->MacTextEntry(0), "02-00-5E-01-A2-0F");
  table->ClearMacTexts();
  EXPECT_TRUE(table->MacTextEntry(0).empty());
}

TEST_F(DeviceTableTest, SearchesTheManagerStartsKeepTheUsersMacTextsAndLookupCount) {
  Store(Reply(0x01, 0x0A));
  Store(Reply(0x01, 0x0B));
  table->ResetForSearch();
  Store(Reply(0x01, 0x0B), /*userSearch=*/false);  // answers in another order
  EXPECT_EQ(table->LookupCount(), 2);
  EXPECT_EQ(table->MacTextEntry(0), "02-00-5E-01-A2-0A");
  EXPECT_EQ(table->FindMacTextEntry("02-00-5E-01-A2-0B"), 1) << "the device keeps its position";
}

TEST_F(DeviceTableTest, FindSlotByMacTextAmongSeveralDevices) {
  Store(Reply(0x01, 0x01));
  Raw target = Reply(0x01, 0x0F);
  target[26] = 0x02, target[27] = 0x00, target[28] = 0x5E, target[29] = 0x01, target[30] = 0xA2;
  Store(target);
  Store(Reply(0x01, 0x03));
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-0F"), 1);
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-99"), -1);
  EXPECT_EQ(table->FindSlotByMacText("02-00-5e-01-a2-0f"), -1) << "the text is compared exactly";
}

TEST_F(DeviceTableTest, CommandReplyOverwritesTheSelectedSlotOnlyWithTheExpectedCode) {
  Store(Reply(0x01, 0x01));
  Store(Reply(0x01, 0x02));
  table->SetSelectedSlot(1);
  Raw setReply = Reply(0x03, 0x02);
  setReply[10] = 'N';
  EXPECT_EQ(table->StoreCommandReply(setReply, 73, kReplyRestore), -1);
  EXPECT_EQ(table->Slot(1)[10], 0);
  EXPECT_EQ(table->StoreCommandReply(setReply, -1, kReplySet), -1);
  EXPECT_EQ(table->StoreCommandReply(setReply, 73, kReplySet), 73);
  EXPECT_EQ(table->Slot(1)[10], 'N');
  EXPECT_EQ(table->Slot(0)[10], 0);
  EXPECT_EQ(table->NextSlot(), 2) << "a command reply is not a new device";
}

TEST_F(DeviceTableTest, OutOfRangeSlotsAreHarmless) {
  EXPECT_TRUE(table->Slot(256).empty());
  EXPECT_EQ(table->SlotLength(-1), -1);
  EXPECT_EQ(table->SlotAddress(300), nullptr);
  table->SetSelectedSlot(-5);
  EXPECT_EQ(table->StoreCommandReply(Reply(0x03, 1), 73, kReplySet), -1);
}

}  // namespace
}  // namespace corvane::protocol
