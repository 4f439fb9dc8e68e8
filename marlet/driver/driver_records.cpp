#include "marlet/driver/driver_records.h"

namespace marlet {

void PutLe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

std::uint32_t GetLe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 | std::uint32_t{p[2]} << 16 |
         std::uint32_t{p[3]} << 24;
}

void PutBe32(std::uint8_t* p, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<std::uint8_t>(v >> (24 - 8 * i));
}

std::uint32_t GetBe32(const std::uint8_t* p) {
  return std::uint32_t{p[0]} << 24 | std::uint32_t{p[1]} << 16 | std::uint32_t{p[2]} << 8 |
         std::uint32_t{p[3]};
}

void PutBe16(std::uint8_t* p, std::uint16_t v) {
  p[0] = static_cast<std::uint8_t>(v >> 8);
  p[1] = static_cast<std::uint8_t>(v);
}

std::uint16_t GetBe16(const std::uint8_t* p) {
  return static_cast<std::uint16_t>(p[0] << 8 | p[1]);
}

RemoteInfoRequest EncodeRemoteInfoRequest(const RemoteEndpoint& e) {
  RemoteInfoRequest b{};
  PutBe32(&b[request::kAddress], e.address);
  PutBe16(&b[request::kPort], e.port);
  b[request::kType] = e.type;
  PutLe32(&b[request::kConnectAtStart], e.connectAtStart);
  PutLe32(&b[request::kMaxPacketSize], e.maxPacketSize);
  return b;
}

RemoteEndpoint DecodeRemoteInfoRequest(const RemoteInfoRequest& b) {
  RemoteEndpoint e;
  e.address = GetBe32(&b[request::kAddress]);
  e.port = GetBe16(&b[request::kPort]);
  e.type = b[request::kType];
  e.connectAtStart = GetLe32(&b[request::kConnectAtStart]);
  e.maxPacketSize = GetLe32(&b[request::kMaxPacketSize]);
  return e;
}

RemoteInfoReply EncodeRemoteInfoReply(const RemoteEndpoint& e) {
  RemoteInfoReply b{};
  PutBe32(&b[reply::kAddress], e.address);
  PutBe16(&b[reply::kPort], e.port);
  b[reply::kType] = e.type;
  PutLe32(&b[reply::kConnectAtStart], e.connectAtStart);
  PutLe32(&b[reply::kConnected], e.connected);
  PutLe32(&b[reply::kMaxPacketSize], e.maxPacketSize);
  return b;
}

RemoteEndpoint DecodeRemoteInfoReply(const RemoteInfoReply& b) {
  RemoteEndpoint e;
  e.address = GetBe32(&b[reply::kAddress]);
  e.port = GetBe16(&b[reply::kPort]);
  e.type = b[reply::kType];
  e.connectAtStart = GetLe32(&b[reply::kConnectAtStart]);
  e.connected = GetLe32(&b[reply::kConnected]);
  e.maxPacketSize = GetLe32(&b[reply::kMaxPacketSize]);
  return e;
}

std::string DecodeDosName(const DosNameReply& b) {
  std::string name;
  for (std::size_t i = 0; i < kDosNameUsed && b[i] != 0; ++i) name.push_back(static_cast<char>(b[i]));
  return name;
}

}  // namespace marlet
