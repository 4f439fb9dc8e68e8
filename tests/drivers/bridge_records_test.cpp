// What crosses the bridge between the port driver and the data service.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "bridge_records.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(BridgeRecords, RequestsReadBackAsWrittenAndRefuseShortBuffers) {
  VportBridgeRequest request{7, VPORT_BRIDGE_WRITE, 3, 4, {0xFFFFFFFF, 1, 2, 3, 0x01020304}, 0, 10, 6};
  Bytes buffer(VPORT_BRIDGE_HEADER_SIZE + VPORT_BRIDGE_SETTINGS_SIZE, 0xEE);
  ASSERT_EQ(VportWriteBridgeRequest(&request, buffer.data(), buffer.size()),
            size_t{VPORT_BRIDGE_HEADER_SIZE});
  EXPECT_EQ(Bytes(buffer.begin() + 32, buffer.begin() + 36), (Bytes{4, 3, 2, 1})) << "little-endian";
  EXPECT_EQ(buffer[VPORT_BRIDGE_HEADER_SIZE], 0xEE) << "the bytes after the header are the caller's";
  VportBridgeRequest back{};
  ASSERT_TRUE(VportReadBridgeRequest(buffer.data(), VPORT_BRIDGE_HEADER_SIZE + 4, &back));
  EXPECT_EQ(back.id, 7u);
  EXPECT_EQ(back.comNumber, 3u);
  EXPECT_EQ(back.timeouts[0], 0xFFFFFFFFu);
  EXPECT_EQ(back.total, 10u);
  EXPECT_EQ(back.offset, 6u);
  EXPECT_FALSE(VportReadBridgeRequest(buffer.data(), VPORT_BRIDGE_HEADER_SIZE + 3, &back))
      << "a write cut short";
  for (auto [total, offset] : {std::pair{9u, 6u}, {5u, 6u}, {3u, 0xFFFFFFFFu}}) {
    request.total = total;
    request.offset = offset;
    VportWriteBridgeRequest(&request, buffer.data(), buffer.size());
    EXPECT_FALSE(VportReadBridgeRequest(buffer.data(), buffer.size(), &back))
        << "a piece of " << offset << "+4 bytes outside a write of " << total;
  }
  request.total = 10;
  request.offset = 6;

  request.kind = VPORT_BRIDGE_SETTINGS;  // a notice's settings follow it
  request.length = VPORT_BRIDGE_SETTINGS_SIZE;
  request.flags = VPORT_BRIDGE_FLAG_CONNECT;
  VportWriteBridgeRequest(&request, buffer.data(), buffer.size());
  EXPECT_FALSE(VportReadBridgeRequest(buffer.data(), buffer.size() - 1, &back));
  ASSERT_TRUE(VportReadBridgeRequest(buffer.data(), buffer.size(), &back));
  EXPECT_EQ(back.flags, VPORT_BRIDGE_FLAG_CONNECT);

  request.kind = VPORT_BRIDGE_READ;
  request.length = 4096;  // a read's length is what it wants, not what follows
  VportWriteBridgeRequest(&request, buffer.data(), buffer.size());
  EXPECT_TRUE(VportReadBridgeRequest(buffer.data(), VPORT_BRIDGE_HEADER_SIZE, &back));
  EXPECT_EQ(VportWriteBridgeRequest(&request, buffer.data(), VPORT_BRIDGE_HEADER_SIZE - 1), 0u);
}

TEST(BridgeRecords, AnswersTellHowManyBytesTheyHold) {
  Bytes answer(VPORT_ANSWER_HEADER_SIZE + 3, 'x');
  ASSERT_EQ(VportWriteBridgeAnswer(9, 0, 3, answer.data(), answer.size()), size_t{VPORT_ANSWER_HEADER_SIZE});
  VportBridgeAnswer read{};
  ASSERT_TRUE(VportReadBridgeAnswer(answer.data(), answer.size(), &read));
  EXPECT_EQ(read.id, 9u);
  EXPECT_EQ(read.length, 3u);
  EXPECT_EQ(read.data, answer.data() + VPORT_ANSWER_HEADER_SIZE);
  ASSERT_TRUE(VportReadBridgeAnswer(answer.data(), answer.size() - 1, &read));
  EXPECT_EQ(read.dataLength, 2u) << "it announces more than it holds: the reader sees how much is there";
  EXPECT_FALSE(VportReadBridgeAnswer(answer.data(), VPORT_ANSWER_HEADER_SIZE - 1, &read));
}

}  // namespace
