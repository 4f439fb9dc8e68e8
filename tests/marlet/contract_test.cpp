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

struct CodeFields {
  std::uint32_t deviceType, access, function, method;
};
CodeFields Fields(std::uint32_t code) {
  return {code >> 16, (code >> 14) & 3, (code >> 2) & 0xFFF, code & 3};
}

TEST(DriverContract, ControlCodesAndLayoutsArePinned) {
  const struct {
    std::uint32_t code;
    std::uint32_t access, function, method;
  } codes[] = {
      {marlet::IOCTL_GET_DOS_NAME, 0, 0x809, 0},    {marlet::IOCTL_SET_REMOTE_INFO, 0, 0x812, 0},
      {marlet::IOCTL_CONNECTION, 0, 0x813, 2},      {marlet::IOCTL_DISCONNECTION, 0, 0x814, 2},
      {marlet::IOCTL_GET_REMOTE_INFO, 0, 0x822, 0}, {VPORT_BRIDGE_QUERY, 0, 0x903, 0},
      {VPORT_BRIDGE_MANAGE, 2, 0x906, 0},  // write access: the bridge's access list decides
  };
  for (const auto& c : codes) {
    const CodeFields f = Fields(c.code);
    EXPECT_EQ(f.deviceType, 0x22u) << std::hex << c.code;
    EXPECT_EQ(f.access, c.access) << std::hex << c.code;
    EXPECT_EQ(f.function, c.function) << std::hex << c.code;
    EXPECT_EQ(f.method, c.method) << std::hex << c.code;
  }
  const std::pair<std::size_t, std::size_t> layout[] = {
      {marlet::request::kSize, 20},
      {marlet::request::kAddress, 0},
      {marlet::request::kPort, 4},
      {marlet::request::kType, 8},
      {marlet::request::kConnectAtStart, 12},
      {marlet::request::kMaxPacketSize, 16},
      {marlet::reply::kSize, 24},
      {marlet::reply::kConnected, 16},
      {marlet::reply::kMaxPacketSize, 20},
      {marlet::kDosNameReplySize, 12},
      {marlet::kDosNameUsed, 10},
      {VPORT_BRIDGE_QUERY_SIZE, 4},
      {VPORT_MANAGE_CODE_OFS, 0},
      {VPORT_MANAGE_PATH_LENGTH_OFS, 4},
      {VPORT_MANAGE_INPUT_LENGTH_OFS, 8},
      {VPORT_MANAGE_HEADER_SIZE, 12},
      {VPORT_MANAGE_PATH_MAX, 259},
  };
  for (std::size_t i = 0; i < std::size(layout); ++i)
    EXPECT_EQ(layout[i].first, layout[i].second) << "row " << i;
  // The link states as the list shows them and the driver's connected flag reads.
  EXPECT_EQ((std::vector<int>{VPORT_LINK_IDLE, VPORT_LINK_CONNECTED, VPORT_LINK_CONNECTING, VPORT_LINK_LOST}),
            (std::vector<int>{0, 1, 2, 3}));
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
