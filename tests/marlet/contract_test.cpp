// The contract between marlet and the port driver, pinned: the control codes
// and the offsets and sizes of every record that crosses between them
// (port_records.h, bridge_records.h), and marlet's encoders read back by the
// driver's own parsers. A change to a layout on either side fails here.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "bridge_records.h"
#include "marlet/driver/driver_records.h"
#include "port_records.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

// Device type, access, function and method of a control code.
std::vector<std::uint32_t> Fields(std::uint32_t code) {
  return {code >> 16, (code >> 14) & 3, (code >> 2) & 0xFFF, code & 3};
}

TEST(DriverContract, ControlCodesAndLayoutsArePinned) {
  using V = std::vector<std::uint32_t>;
  EXPECT_EQ(Fields(marlet::IOCTL_GET_DOS_NAME), (V{0x22, 0, 0x809, 0}));
  EXPECT_EQ(Fields(marlet::IOCTL_SET_REMOTE_INFO), (V{0x22, 0, 0x812, 0}));
  EXPECT_EQ(Fields(marlet::IOCTL_CONNECTION), (V{0x22, 0, 0x813, 2}));
  EXPECT_EQ(Fields(marlet::IOCTL_DISCONNECTION), (V{0x22, 0, 0x814, 2}));
  EXPECT_EQ(Fields(marlet::IOCTL_GET_REMOTE_INFO), (V{0x22, 0, 0x822, 0}));
  EXPECT_EQ(Fields(VPORT_BRIDGE_QUERY), (V{0x22, 0, 0x903, 0}));
  EXPECT_EQ(Fields(VPORT_BRIDGE_MANAGE), (V{0x22, 2, 0x906, 0}))
      << "write access: the bridge's access list decides";
  using Z = std::vector<std::size_t>;
  namespace rq = marlet::request;
  namespace rp = marlet::reply;
  // The set request: size, address, port, type, connect at start, packet size.
  EXPECT_EQ((Z{rq::kSize, rq::kAddress, rq::kPort, rq::kType, rq::kConnectAtStart, rq::kMaxPacketSize}),
            (Z{20, 0, 4, 8, 12, 16}));
  // The reply: size, connected flag, packet size; the DOS name reply: size,
  // bytes that count; the state question's size.
  EXPECT_EQ((Z{rp::kSize, rp::kConnected, rp::kMaxPacketSize, marlet::kDosNameReplySize, marlet::kDosNameUsed,
               VPORT_BRIDGE_QUERY_SIZE}),
            (Z{24, 16, 20, 12, 10, 4}));
  // The manage header: code, path length, input length, size; the longest path.
  EXPECT_EQ((Z{VPORT_MANAGE_CODE_OFS, VPORT_MANAGE_PATH_LENGTH_OFS, VPORT_MANAGE_INPUT_LENGTH_OFS,
               VPORT_MANAGE_HEADER_SIZE, VPORT_MANAGE_PATH_MAX}),
            (Z{0, 4, 8, 12, 259}));
  // The link states as the list shows them and the driver's connected flag reads.
  EXPECT_EQ((V{VPORT_LINK_IDLE, VPORT_LINK_CONNECTED, VPORT_LINK_CONNECTING, VPORT_LINK_LOST}),
            (V{0, 1, 2, 3}));
}

TEST(DriverContract, TheDriverReadsWhatMarletWritesAndBack) {
  marlet::RemoteEndpoint e;
  e.address = 0xC6336409;  // 198.51.100.9
  e.port = 0x1234;
  e.type = marlet::kUdpClient;
  e.connectAtStart = 1;
  e.maxPacketSize = 0x01020304;
  const marlet::RemoteInfoRequest request = marlet::EncodeRemoteInfoRequest(e);
  VportRemoteSettings settings{};
  ASSERT_EQ(VportParseRemoteRequest(request.data(), request.size(), &settings), VPORT_PARSE_OK);
  EXPECT_EQ(Bytes(settings.address, settings.address + 4), (Bytes{198, 51, 100, 9}));
  EXPECT_EQ(Bytes(settings.port, settings.port + 2), (Bytes{0x12, 0x34}));
  EXPECT_EQ(settings.type, VPORT_TYPE_UDP_CLIENT);
  EXPECT_EQ(settings.maxPacketSize, 0x01020304u);

  marlet::RemoteInfoReply reply{};
  ASSERT_EQ(VportWriteRemoteReply(&settings, 3, reply.data(), reply.size()), reply.size());
  const marlet::RemoteEndpoint back = marlet::DecodeRemoteInfoReply(reply);
  EXPECT_EQ(back.address, e.address);
  EXPECT_EQ(back.port, e.port);
  EXPECT_EQ(back.type, e.type);
  EXPECT_EQ(back.connectAtStart, 1u);
  EXPECT_EQ(back.connected, 3u);
  EXPECT_EQ(back.maxPacketSize, e.maxPacketSize);

  marlet::DosNameReply name{};
  ASSERT_EQ(VportWriteDosNameReply(123, name.data(), name.size()), name.size());
  EXPECT_EQ(marlet::DecodeDosName(name), "COM123");
}

TEST(DriverContract, ManageRequestsCarryThePathAndThePortRequestsInput) {
  const std::string path = "\\\\?\\root#ports#0000#{x}";
  const Bytes input = {1, 2, 3};
  Bytes buffer(VPORT_MANAGE_HEADER_SIZE + path.size() + input.size() + 1, 0xEE);
  ASSERT_EQ(VportWriteManageRequest(VPORT_IOCTL_SET_REMOTE_INFO, path.data(), path.size(), input.data(),
                                    input.size(), buffer.data(), buffer.size()),
            buffer.size() - 1);
  const Bytes header = {0x48, 0x20, 0x22, 0, static_cast<std::uint8_t>(path.size()), 0, 0, 0, 3, 0, 0, 0};
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + 12), header);
  EXPECT_EQ(buffer.back(), 0xEE) << "nothing written past the request";
  VportManageRequest read{};
  ASSERT_TRUE(VportReadManageRequest(buffer.data(), buffer.size() - 1, &read));
  EXPECT_EQ(read.code, VPORT_IOCTL_SET_REMOTE_INFO);
  EXPECT_EQ(std::string(read.path, read.path + read.pathLength), path);
  EXPECT_EQ(Bytes(read.input, read.input + read.inputLength), input);

  // Lengths that reach past what came, and paths empty or too long, are refused.
  EXPECT_FALSE(VportReadManageRequest(buffer.data(), buffer.size() - 2, &read));
  EXPECT_FALSE(VportReadManageRequest(buffer.data(), VPORT_MANAGE_HEADER_SIZE - 1, &read));
  for (std::uint32_t pathLength : {0u, 260u, 0xFFFFFFF8u}) {
    Bytes bad = buffer;
    for (int i = 0; i < 4; ++i)
      bad[VPORT_MANAGE_PATH_LENGTH_OFS + i] = static_cast<std::uint8_t>(pathLength >> (8 * i));
    EXPECT_FALSE(VportReadManageRequest(bad.data(), bad.size(), &read)) << pathLength;
  }
  Bytes wrapping = buffer;
  for (int i = 0; i < 4; ++i) wrapping[VPORT_MANAGE_INPUT_LENGTH_OFS + i] = 0xFF;
  EXPECT_FALSE(VportReadManageRequest(wrapping.data(), wrapping.size(), &read));
  const std::string tooLong(260, 'a');
  EXPECT_EQ(VportWriteManageRequest(1, tooLong.data(), tooLong.size(), nullptr, 0, buffer.data(), 4096), 0u);
}

// The manager's enumerated path against the name the driver registered.
TEST(DriverContract, InterfacePathsMatchWhateverTheirPrefixAndCase) {
  const std::u16string kernel = u"\\??\\ROOT#PORTS#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
  const struct {
    std::string path;
    bool matches;
  } cases[] = {
      {"\\\\?\\root#ports#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", true},
      {"\\??\\Root#Ports#0000#{86E0D1E0-8089-11D0-9CE4-08003E301F73}", true},
      {"\\\\?\\root#ports#0001#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", false},
      {"\\\\?\\root#ports#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}x", false},
      {"\\\\?\\root#ports#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f7}", false},
      {"\\\\.\\root#ports#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f73}", false},
      {"\\\\?\\root#ports#0000#{86e0d1e0-8089-11d0-9ce4-08003e301f7\xC3", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(
        VportInterfacePathMatches(reinterpret_cast<const std::uint8_t*>(c.path.data()), c.path.size(),
                                  reinterpret_cast<const std::uint16_t*>(kernel.data()), kernel.size()) != 0,
        c.matches)
        << c.path;
  }
}

}  // namespace
