// The byte layouts the virtual port driver reads and writes for the port manager.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "port_records.h"

namespace {

using Bytes = std::vector<uint8_t>;

TEST(PortRecords, RequestFieldsComeBackAtTheirReplyOffsets) {
  // Every field distinct, the padding bytes set, so a shifted or swapped field shows.
  const Bytes request = {192,  0,    2, 33, 0x12, 0x34, 0xEE, 0xEE, 1,    0xEE,
                         0xEE, 0xEE, 1, 0,  0,    0,    0xC2, 0x01, 0x02, 0x03};
  VportRemoteSettings settings{};
  ASSERT_EQ(VportParseRemoteRequest(request.data(), request.size(), &settings), VPORT_PARSE_OK);
  EXPECT_EQ(settings.connectAtStart, 1u);
  EXPECT_EQ(settings.maxPacketSize, 0x030201C2u);

  Bytes reply(VPORT_REPLY_SIZE + 1, 0xCC);
  ASSERT_EQ(VportWriteRemoteReply(&settings, 0x0A0B0C0D, reply.data(), VPORT_REPLY_SIZE),
            size_t{VPORT_REPLY_SIZE});
  const Bytes expected = {192, 0, 2, 33,   0x12, 0x34, 0,    0,    1,    0,    0,    0,   1,
                          0,   0, 0, 0x0D, 0x0C, 0x0B, 0x0A, 0xC2, 0x01, 0x02, 0x03, 0xCC};
  EXPECT_EQ(reply, expected) << "padding zeroed, connected flag at 16, packet size at 20, nothing past 24";

  // Kept between starts as a request again: the same bytes, padding zeroed.
  Bytes kept(VPORT_REQ_SIZE, 0xCC);
  ASSERT_EQ(VportWriteRemoteRequest(&settings, kept.data(), kept.size()), size_t{VPORT_REQ_SIZE});
  const Bytes keptExpected = {192, 0, 2, 33, 0x12, 0x34, 0,    0,    1,    0,
                              0,   0, 1, 0,  0,    0,    0xC2, 0x01, 0x02, 0x03};
  EXPECT_EQ(kept, keptExpected);
}

TEST(PortRecords, ShortRequestsAndUnknownTypesLeaveTheSettingsAlone) {
  Bytes request(VPORT_REQ_SIZE, 7);
  request[VPORT_REQ_TYPE_OFS] = VPORT_TYPE_UDP_CLIENT;
  VportRemoteSettings kept{};
  kept.maxPacketSize = 450;
  for (size_t length = 0; length < VPORT_REQ_SIZE; ++length) {
    EXPECT_EQ(VportParseRemoteRequest(request.data(), length, &kept), VPORT_PARSE_TOO_SHORT) << length;
  }
  EXPECT_EQ(VportParseRemoteRequest(nullptr, VPORT_REQ_SIZE, &kept), VPORT_PARSE_TOO_SHORT);
  request[VPORT_REQ_TYPE_OFS] = 2;
  EXPECT_EQ(VportParseRemoteRequest(request.data(), request.size(), &kept), VPORT_PARSE_BAD_TYPE);
  EXPECT_EQ(kept.maxPacketSize, 450u);
  EXPECT_EQ(kept.address[0], 0);
}

TEST(PortRecords, RepliesNeedTheirWholeSize) {
  VportRemoteSettings settings{};
  Bytes out(VPORT_REPLY_SIZE, 0xCC);
  EXPECT_EQ(VportWriteRemoteReply(&settings, 0, out.data(), VPORT_REPLY_SIZE - 1), 0u);
  EXPECT_EQ(VportWriteRemoteRequest(&settings, out.data(), VPORT_REQ_SIZE - 1), 0u);
  EXPECT_EQ(VportWriteDosNameReply(3, out.data(), VPORT_DOS_NAME_REPLY_SIZE - 1), 0u);
  EXPECT_EQ(out, Bytes(VPORT_REPLY_SIZE, 0xCC)) << "nothing written when the room is short";
}

TEST(PortRecords, DosNameFitsTenBytesWithItsTerminator) {
  struct Case {
    uint32_t number;
    const char* name;  // nullptr: no name can be given
  };
  const Case cases[] = {
      {3, "COM3"}, {255, "COM255"}, {999999, "COM999999"}, {1000000, nullptr}, {0, nullptr}};
  for (const auto& c : cases) {
    Bytes out(VPORT_DOS_NAME_REPLY_SIZE, 0xCC);
    size_t written = VportWriteDosNameReply(c.number, out.data(), out.size());
    if (c.name == nullptr) {
      EXPECT_EQ(written, 0u) << c.number;
      continue;
    }
    ASSERT_EQ(written, size_t{VPORT_DOS_NAME_REPLY_SIZE}) << c.number;
    EXPECT_EQ(std::string(reinterpret_cast<const char*>(out.data())), c.name);
    EXPECT_EQ(out[VPORT_DOS_NAME_REPLY_SIZE - 1], 0) << "trailing bytes zeroed";
  }
}

TEST(PortRecords, AnEndpointNeedsBothAddressAndPort) {
  struct Case {
    Bytes address, port;
    bool usable;
  };
  const Case cases[] = {{{0, 0, 0, 0}, {0x0F, 0xA1}, false},
                        {{198, 51, 100, 7}, {0, 0}, false},
                        {{0, 0, 0, 1}, {0, 1}, true},
                        {{198, 51, 100, 7}, {0x0F, 0xA1}, true}};
  for (const auto& c : cases) {
    VportRemoteSettings settings{};
    std::memcpy(settings.address, c.address.data(), 4);
    std::memcpy(settings.port, c.port.data(), 2);
    EXPECT_EQ(VportHasEndpoint(&settings) != 0, c.usable);
  }
}

}  // namespace
