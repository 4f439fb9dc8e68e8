// The broadcast transport on the win32 backend: a burst of 256 device replies
// sent at once to 127.0.0.1 lands in the receive ring without loss, in order,
// through the window thread's socket notifications.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "corvane/protocol/broadcast_socket.h"
#include "corvane/protocol/device_table.h"
#include "corvane/protocol/search_poll.h"
#include "message_pump.h"
#include "tk/platform.h"
#include "tk/socket.h"

namespace corvane::protocol {
namespace {

constexpr int kBurst = ReceiveRing::kSlots;
constexpr int kMaxPumpMs = 10000;

// Reply i of the burst: a one-port search reply whose MAC ends in i.
Bytes Reply(int i) {
  DeviceRecord r;
  r.code = kReplySearch;
  r.name = "burst";
  r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, static_cast<std::uint8_t>(i)};
  r.staticIp = r.dynamicIp = 0x7F000001;
  return EncodeRecord(r);
}

class BroadcastBurst : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(tk::SocketsStartup(2, 2)); }
  void TearDown() override { tk::SocketsCleanup(); }
};

TEST_F(BroadcastBurst, TheSocketAsksForAReceiveBufferThatHoldsTheBurst) {
  CBroadcastSocket b;
  ASSERT_TRUE(b.Open(0));
  EXPECT_GE(b.GetReceiveBufferSize(), kSearchReceiveBufferBytes);
}

TEST_F(BroadcastBurst, TwoHundredFiftySixRepliesLandInOrderWithoutLoss) {
  CBroadcastSocket b;
  ASSERT_TRUE(b.Open(0));  // a free port, never one of the protocol's own
  std::string bound;
  unsigned port = 0;
  ASSERT_TRUE(b.GetSockName(bound, port));
  ASSERT_NE(port, 0u);

  tk::BlockingUdpSocket sender;
  ASSERT_TRUE(sender.Open());
  // Every reply is sent before the window thread reads any of them.
  for (int i = 0; i < kBurst; ++i) {
    const Bytes reply = Reply(i);
    ASSERT_EQ(sender.SendTo(reply.data(), static_cast<int>(reply.size()), port, "127.0.0.1"),
              static_cast<int>(kOnePortRecordSize))
        << "reply " << i;
  }

  const bool all = protocol_win32_test::PumpMessagesUntil(
      [&] { return b.Received().FilledSlots() == kBurst; }, kMaxPumpMs);
  ASSERT_TRUE(all) << b.Received().FilledSlots() << " of " << kBurst << " replies arrived";
  EXPECT_EQ(b.Received().WritePosition(), 0) << "wrapped after 256";
  EXPECT_EQ(b.SenderAddress(), "127.0.0.1");

  auto table = std::make_unique<DeviceTable>();
  for (int i = 0; i < kBurst; ++i) {
    ASSERT_EQ(b.TakeSlot(i).length, static_cast<int>(kOnePortRecordSize)) << "slot " << i;
    ASSERT_EQ(b.TakeSlot(i).marker, 1) << "slot " << i;
    ASSERT_EQ(PollSearchSlot(*table, b, true), static_cast<int>(kOnePortRecordSize)) << "reply " << i;
    ASSERT_EQ(table->Slot(i)[off::kMac + 5], i) << "in arrival order";
  }
  EXPECT_EQ(table->FindSlotByMacText("02-00-5E-01-A2-FF"), kBurst - 1);
}

}  // namespace
}  // namespace corvane::protocol
