// The control codes of the virtual port driver and the byte layouts of their
// buffers. Every field is written and read at its offset; the address and port
// travel in network byte order, the flags and packet size little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace marlet {

// (device type 0x22 << 16) | (access 0 << 14) | (function << 2) | method
constexpr std::uint32_t ControlCode(std::uint32_t function, std::uint32_t method) {
  return (0x22u << 16) | (0u << 14) | (function << 2) | method;
}
constexpr std::uint32_t IOCTL_GET_DOS_NAME = ControlCode(0x809, 0);
constexpr std::uint32_t IOCTL_SET_REMOTE_INFO = ControlCode(0x812, 0);
constexpr std::uint32_t IOCTL_CONNECTION = ControlCode(0x813, 2);
constexpr std::uint32_t IOCTL_DISCONNECTION = ControlCode(0x814, 2);
constexpr std::uint32_t IOCTL_GET_REMOTE_INFO = ControlCode(0x822, 0);

enum ConnectionType : std::uint8_t { kTcpClient = 0, kUdpClient = 1 };

// One port's remote settings as the window holds them (host order).
struct RemoteEndpoint {
  std::uint32_t address = 0;  // first octet of the dotted form in the high byte
  std::uint16_t port = 0;
  std::uint8_t type = kTcpClient;
  std::uint32_t connectAtStart = 0;
  std::uint32_t connected = 0;  // read only
  std::uint32_t maxPacketSize = 0;
};

// RemoteInfoRequest, the input of IOCTL_SET_REMOTE_INFO.
namespace request {
constexpr std::size_t kSize = 20;
constexpr std::size_t kAddress = 0;          // 4 bytes, network order
constexpr std::size_t kPort = 4;             // 2 bytes, network order; 6..7 zero
constexpr std::size_t kType = 8;             // 1 byte; 9..11 zero
constexpr std::size_t kConnectAtStart = 12;  // 4 bytes
constexpr std::size_t kMaxPacketSize = 16;   // 4 bytes
}  // namespace request

// RemoteInfoReply, the output of IOCTL_GET_REMOTE_INFO.
namespace reply {
constexpr std::size_t kSize = 24;
constexpr std::size_t kAddress = 0;
constexpr std::size_t kPort = 4;
constexpr std::size_t kType = 8;
constexpr std::size_t kConnectAtStart = 12;
constexpr std::size_t kConnected = 16;
constexpr std::size_t kMaxPacketSize = 20;
}  // namespace reply

// DosNameReply, the output of IOCTL_GET_DOS_NAME: the name from offset 0, of
// which only the first kDosNameUsed bytes count.
constexpr std::size_t kDosNameReplySize = 12;
constexpr std::size_t kDosNameUsed = 10;

using RemoteInfoRequest = std::array<std::uint8_t, request::kSize>;
using RemoteInfoReply = std::array<std::uint8_t, reply::kSize>;
using DosNameReply = std::array<std::uint8_t, kDosNameReplySize>;

RemoteInfoRequest EncodeRemoteInfoRequest(const RemoteEndpoint& endpoint);
RemoteEndpoint DecodeRemoteInfoReply(const RemoteInfoReply& bytes);
// The inverse pair, for a driver (the simulated one) that receives requests and
// answers with replies.
RemoteEndpoint DecodeRemoteInfoRequest(const RemoteInfoRequest& bytes);
RemoteInfoReply EncodeRemoteInfoReply(const RemoteEndpoint& endpoint);
std::string DecodeDosName(const DosNameReply& bytes);

// Little-endian and network-order field access.
void PutLe32(std::uint8_t* p, std::uint32_t v);
std::uint32_t GetLe32(const std::uint8_t* p);
void PutBe32(std::uint8_t* p, std::uint32_t v);
std::uint32_t GetBe32(const std::uint8_t* p);
void PutBe16(std::uint8_t* p, std::uint16_t v);
std::uint16_t GetBe16(const std::uint8_t* p);

}  // namespace marlet
