// The control codes of the virtual port driver and the byte layouts of their
// buffers, as the driver's own records (port_records.h) define them: one home
// for the contract, which both sides include. Every field is written and read
// at its offset; the address and port travel in network byte order, the flags
// and packet size little-endian.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "port_records.h"

namespace marlet {

constexpr std::uint32_t IOCTL_GET_DOS_NAME = VPORT_IOCTL_GET_DOS_NAME;
constexpr std::uint32_t IOCTL_SET_REMOTE_INFO = VPORT_IOCTL_SET_REMOTE_INFO;
constexpr std::uint32_t IOCTL_CONNECTION = VPORT_IOCTL_CONNECTION;
constexpr std::uint32_t IOCTL_DISCONNECTION = VPORT_IOCTL_DISCONNECTION;
constexpr std::uint32_t IOCTL_GET_REMOTE_INFO = VPORT_IOCTL_GET_REMOTE_INFO;

enum ConnectionType : std::uint8_t { kTcpClient = VPORT_TYPE_TCP_CLIENT, kUdpClient = VPORT_TYPE_UDP_CLIENT };

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
constexpr std::size_t kSize = VPORT_REQ_SIZE;
constexpr std::size_t kAddress = VPORT_REQ_ADDRESS_OFS;  // 4 bytes, network order
constexpr std::size_t kPort = VPORT_REQ_PORT_OFS;        // 2 bytes, network order; 6..7 zero
constexpr std::size_t kType = VPORT_REQ_TYPE_OFS;        // 1 byte; 9..11 zero
constexpr std::size_t kConnectAtStart = VPORT_REQ_CONNECT_AT_START_OFS;
constexpr std::size_t kMaxPacketSize = VPORT_REQ_MAX_PACKET_OFS;
}  // namespace request

// RemoteInfoReply, the output of IOCTL_GET_REMOTE_INFO.
namespace reply {
constexpr std::size_t kSize = VPORT_REPLY_SIZE;
constexpr std::size_t kAddress = VPORT_REPLY_ADDRESS_OFS;
constexpr std::size_t kPort = VPORT_REPLY_PORT_OFS;
constexpr std::size_t kType = VPORT_REPLY_TYPE_OFS;
constexpr std::size_t kConnectAtStart = VPORT_REPLY_CONNECT_AT_START_OFS;
constexpr std::size_t kConnected = VPORT_REPLY_CONNECTED_OFS;
constexpr std::size_t kMaxPacketSize = VPORT_REPLY_MAX_PACKET_OFS;
}  // namespace reply

// DosNameReply, the output of IOCTL_GET_DOS_NAME: the name from offset 0, of
// which only the first kDosNameUsed bytes count.
constexpr std::size_t kDosNameReplySize = VPORT_DOS_NAME_REPLY_SIZE;
constexpr std::size_t kDosNameUsed = VPORT_DOS_NAME_MAX;

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
