// Field-by-field reading and writing of the management packet.
#include "corvane/protocol/packet.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace corvane::protocol {

bool IsValidRowKind(int kind) {
  return kind == static_cast<int>(RowKind::SinglePort) || kind == static_cast<int>(RowKind::FirstPort) ||
         kind == static_cast<int>(RowKind::SecondPort);
}

std::size_t RequestSizeFor(RowKind kind) {
  return kind == RowKind::SinglePort ? kOnePortRecordSize : kTwoPortRecordSize;
}

// ---- line formats ------------------------------------------------------------------

std::uint8_t EncodeLineFormatA(int baudCode, int dataBitsCode) {
  return static_cast<std::uint8_t>(((baudCode & 0x1F) << 3) | (dataBitsCode & 0x07));
}

std::uint8_t EncodeLineFormatB(int parityCode, int flowCode, int stopBitsCode) {
  return static_cast<std::uint8_t>(((parityCode & 0x07) << 5) | ((flowCode & 0x07) << 2) |
                                   (stopBitsCode & 0x03));
}

LineFormat DecodeLineFormat(std::uint8_t a, std::uint8_t b) {
  LineFormat f;
  f.baudCode = a >> 3;
  f.dataBitsCode = a & 0x07;
  f.parityCode = b >> 5;
  f.flowCode = (b >> 2) & 0x07;
  f.stopBitsCode = b & 0x03;
  return f;
}

long BaudRateOfCode(int code) {
  static constexpr long kRates[] = {921600, 115200, 57600, 38400, 19200, 9600, 4800, 2400, 1200};
  if (code < 0 || code >= static_cast<int>(std::size(kRates))) return 0;
  return kRates[code];
}

// ---- field access ------------------------------------------------------------------

namespace {
bool Fits(std::size_t size, std::size_t offset, std::size_t width) {
  return offset <= size && width <= size - offset;
}
}  // namespace

std::uint8_t Get8(ByteView b, std::size_t offset) {
  return Fits(b.size(), offset, 1) ? b[offset] : 0;
}

std::uint16_t Get16(ByteView b, std::size_t offset) {
  if (!Fits(b.size(), offset, 2)) return 0;
  return static_cast<std::uint16_t>((b[offset] << 8) | b[offset + 1]);
}

std::uint32_t GetIPv4(ByteView b, std::size_t offset) {
  if (!Fits(b.size(), offset, 4)) return 0;
  return (std::uint32_t{b[offset]} << 24) | (std::uint32_t{b[offset + 1]} << 16) |
         (std::uint32_t{b[offset + 2]} << 8) | std::uint32_t{b[offset + 3]};
}

void Put8(MutableByteView b, std::size_t offset, std::uint8_t v) {
  if (Fits(b.size(), offset, 1)) b[offset] = v;
}

void Put16(MutableByteView b, std::size_t offset, std::uint16_t v) {
  if (!Fits(b.size(), offset, 2)) return;
  b[offset] = static_cast<std::uint8_t>(v >> 8);
  b[offset + 1] = static_cast<std::uint8_t>(v);
}

void PutIPv4(MutableByteView b, std::size_t offset, std::uint32_t hostOrder) {
  if (!Fits(b.size(), offset, 4)) return;
  for (int i = 0; i < 4; ++i) b[offset + i] = static_cast<std::uint8_t>(hostOrder >> (24 - 8 * i));
}

std::string IPv4Text(ByteView b, std::size_t offset) {
  std::string text;
  for (std::size_t i = 0; i < 4; ++i) {
    if (i > 0) text += '.';
    text += std::to_string(Get8(b, offset + i));
  }
  return text;
}

bool HasMagicAt(ByteView b, std::size_t offset) {
  if (!Fits(b.size(), offset, kMagicSize)) return false;
  return std::memcmp(b.data() + offset, kMagic, kMagicSize) == 0;
}

void PutMagic(MutableByteView b, std::size_t offset) {
  if (Fits(b.size(), offset, kMagicSize)) std::memcpy(b.data() + offset, kMagic, kMagicSize);
}

int ReplyCode(ByteView b, int length) {
  if (length <= static_cast<int>(off::kCode) || b.size() <= off::kCode) return -1;
  return b[off::kCode] & 0x0F;
}

// ---- MAC text ------------------------------------------------------------------------

std::string MacText(const MacAddress& mac) {
  std::string text;
  char part[8];
  for (std::size_t i = 0; i < kMacSize; ++i) {
    if (i > 0) text += '-';
    std::snprintf(part, sizeof part, "%X", static_cast<unsigned>(mac[i]));
    if (mac[i] < 0x10) text += '0';
    text += part;
  }
  return text;
}

MacAddress MacOfRecord(ByteView record) {
  MacAddress mac{};
  for (std::size_t i = 0; i < kMacSize; ++i) mac[i] = Get8(record, off::kMac + i);
  return mac;
}

std::string NameOfRecord(ByteView record) {
  std::string name;
  for (std::size_t i = 0; i < kNameSize && off::kName + i < record.size(); ++i) {
    const std::uint8_t c = record[off::kName + i];
    if (c == 0) break;
    if (c != kFill) name += static_cast<char>(c);
  }
  return name;
}

std::string MacTextOfRecord(ByteView record) {
  return MacText(MacOfRecord(record));
}

bool ParseMacText(const std::string& text, MacAddress& mac) {
  if (text.size() != 17) return false;
  MacAddress parsed{};
  for (std::size_t i = 0; i < kMacSize; ++i) {
    const std::size_t at = i * 3;
    if (i > 0 && text[at - 1] != '-' && text[at - 1] != ':') return false;
    unsigned value = 0;
    for (std::size_t k = 0; k < 2; ++k) {
      const char c = text[at + k];
      int digit = -1;
      if (c >= '0' && c <= '9') digit = c - '0';
      if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
      if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
      if (digit < 0) return false;
      value = value * 16 + static_cast<unsigned>(digit);
    }
    parsed[i] = static_cast<std::uint8_t>(value);
  }
  mac = parsed;
  return true;
}

// ---- device record -------------------------------------------------------------------

namespace {

void PutName(MutableByteView b, const std::string& name) {
  const std::size_t n = std::min(name.size(), kNameSize);
  for (std::size_t i = 0; i < n; ++i) b[off::kName + i] = static_cast<std::uint8_t>(name[i]);
}

void PutMac(MutableByteView b, const MacAddress& mac) {
  for (std::size_t i = 0; i < kMacSize; ++i) b[off::kMac + i] = mac[i];
}

std::uint8_t PortModeBits(const PortSettings& p) {
  std::uint8_t bits = 0;
  if (p.client) bits |= kModeClient;
  if (p.udp) bits |= kModeUdp;
  if (p.tcp) bits |= kModeTcp;
  return bits;
}

void PutFirstSection(MutableByteView b, const DeviceRecord& r) {
  PutMagic(b, off::kMagic);
  b[off::kCode] = r.code;
  b[off::kFlags] = r.flags;
  PutName(b, r.name);
  PutMac(b, r.mac);
  const PortSettings& p = r.ports[0];
  std::uint8_t mode = PortModeBits(p);
  if (r.dhcp) mode |= kModeDhcp;
  if (r.multicastMgmt) mode |= kModeMulticastMgmt;
  if (r.broadcastMgmt) mode |= kModeBroadcastMgmt;
  b[off::kMode1] = mode;
  b[off::kTimeout] = r.timeoutMinutes;
  PutIPv4(b, off::kDynamicIp, r.dynamicIp);
  PutIPv4(b, off::kStaticIp, r.staticIp);
  Put16(b, off::kDataPort1, p.dataPort);
  Put16(b, off::kBroadcastListenPort, r.broadcastListenPort);
  Put16(b, off::kMulticastListenPort, r.multicastListenPort);
  PutIPv4(b, off::kDestIp1, p.destIp);
  Put16(b, off::kDestPort1, p.destPort);
  PutIPv4(b, off::kNetmask, r.netmask);
  PutIPv4(b, off::kGateway, r.gateway);
  PutIPv4(b, off::kDns, r.dns);
  b[off::kLineA1] = p.lineA;
  b[off::kLineB1] = p.lineB;
  b[off::kState1] = p.state;
  Put16(b, off::kTxTimer1, p.txTimerMs);
  b[off::kTransfer1] = p.rs485 ? kTransferRs485 : 0;
}

void PutSecondSection(MutableByteView b, const DeviceRecord& r) {
  const PortSettings& p = r.ports[1];
  PutMagic(b, off::kMagic2);
  b[off::kMode2] = static_cast<std::uint8_t>(PortModeBits(p) | (r.port2MgmtBits & kModeMgmtBits));
  b[off::kTimeoutCopy] = r.timeoutCopy;
  Put16(b, off::kDataPort2, p.dataPort);
  PutIPv4(b, off::kDestIp2, p.destIp);
  Put16(b, off::kDestPort2, p.destPort);
  b[off::kLineA2] = p.lineA;
  b[off::kLineB2] = p.lineB;
  b[off::kState2] = p.state;
  Put16(b, off::kTxTimer2, p.txTimerMs);
  b[off::kTransfer2] = p.rs485 ? kTransferRs485 : 0;
}

PortSettings ReadPort(ByteView b, std::size_t mode, std::size_t dataPort, std::size_t destIp,
                      std::size_t destPort, std::size_t lineA, std::size_t state, std::size_t txTimer,
                      std::size_t transfer) {
  PortSettings p;
  const std::uint8_t bits = Get8(b, mode);
  p.client = (bits & kModeClient) != 0;
  p.udp = (bits & kModeUdp) != 0;
  p.tcp = (bits & kModeTcp) != 0;
  p.dataPort = Get16(b, dataPort);
  p.destIp = GetIPv4(b, destIp);
  p.destPort = Get16(b, destPort);
  p.lineA = Get8(b, lineA);
  p.lineB = Get8(b, lineA + 1);
  p.state = Get8(b, state);
  p.txTimerMs = Get16(b, txTimer);
  p.rs485 = (Get8(b, transfer) & kTransferRs485) != 0;
  return p;
}

}  // namespace

Bytes EncodeRecord(const DeviceRecord& record) {
  const bool two = record.portCount == 2;
  Bytes bytes(two ? kTwoPortRecordSize : kOnePortRecordSize, 0);
  PutFirstSection(bytes, record);
  if (two) PutSecondSection(bytes, record);
  return bytes;
}

bool DecodeRecord(ByteView b, DeviceRecord& r) {
  // Every reader below returns 0 past the end of `b`, so a short reply reads
  // as far as it goes and no further.
  if (!HasMagicAt(b, off::kMagic)) return false;
  r = DeviceRecord{};
  r.code = Get8(b, off::kCode);
  r.flags = Get8(b, off::kFlags);
  for (std::size_t i = 0; i < kNameSize && off::kName + i < b.size(); ++i) {
    const std::uint8_t c = b[off::kName + i];
    if (c == 0) break;
    if (c != kFill) r.name += static_cast<char>(c);
  }
  r.mac = MacOfRecord(b);
  const std::uint8_t mode = Get8(b, off::kMode1);
  r.dhcp = (mode & kModeDhcp) != 0;
  r.multicastMgmt = (mode & kModeMulticastMgmt) != 0;
  r.broadcastMgmt = (mode & kModeBroadcastMgmt) != 0;
  r.timeoutMinutes = Get8(b, off::kTimeout);
  r.dynamicIp = GetIPv4(b, off::kDynamicIp);
  r.staticIp = GetIPv4(b, off::kStaticIp);
  r.broadcastListenPort = Get16(b, off::kBroadcastListenPort);
  r.multicastListenPort = Get16(b, off::kMulticastListenPort);
  r.netmask = GetIPv4(b, off::kNetmask);
  r.gateway = GetIPv4(b, off::kGateway);
  r.dns = GetIPv4(b, off::kDns);
  r.ports[0] = ReadPort(b, off::kMode1, off::kDataPort1, off::kDestIp1, off::kDestPort1, off::kLineA1,
                        off::kState1, off::kTxTimer1, off::kTransfer1);
  r.portCount = HasMagicAt(b, off::kMagic2) ? 2 : 1;
  if (r.portCount == 2) {
    r.ports[1] = ReadPort(b, off::kMode2, off::kDataPort2, off::kDestIp2, off::kDestPort2, off::kLineA2,
                          off::kState2, off::kTxTimer2, off::kTransfer2);
    r.port2MgmtBits = Get8(b, off::kMode2) & kModeMgmtBits;
    r.timeoutCopy = Get8(b, off::kTimeoutCopy);
  }
  return true;
}

bool DecodeReplyRecord(ByteView b, DeviceRecord& r) {
  const int code = ReplyCode(b, static_cast<int>(b.size()));
  if (code != kReplySearch && code != kReplySet && code != kReplyRestore && code != kReplyReboot)
    return false;
  return DecodeRecord(b, r);
}

// ---- request builders ----------------------------------------------------------------

Bytes BuildSearchRequest() {
  Bytes bytes(kSearchRequestSize, 0);
  PutMagic(bytes, off::kMagic);
  bytes[off::kCode] = static_cast<std::uint8_t>(Command::Search);
  return bytes;
}

Bytes BuildSetRequest(const DeviceRecord& record) {
  Bytes bytes = EncodeRecord(record);
  bytes[off::kCode] = static_cast<std::uint8_t>(Command::Set);
  bytes[off::kFlags] = static_cast<std::uint8_t>(kFlagWriteRequest | (record.flags & kFlagAutoConnect));
  // Fields that only replies carry, and the listening ports the pages cannot set.
  bytes[off::kReserved1] = 0;
  bytes[off::kState1] = 0;
  Put16(bytes, off::kBroadcastListenPort, 0);
  Put16(bytes, off::kMulticastListenPort, 0);
  if (bytes.size() == kTwoPortRecordSize) {
    bytes[off::kReserved2] = 0;
    bytes[off::kState2] = 0;
  }
  return bytes;
}

Bytes BuildSetRequest(const DeviceRecord& record, RowKind kind) {
  DeviceRecord r = record;
  r.portCount = kind == RowKind::SinglePort ? 1 : 2;
  if (kind == RowKind::FirstPort) {
    r.port2MgmtBits = static_cast<std::uint8_t>((r.multicastMgmt ? kModeMulticastMgmt : 0) |
                                                (r.broadcastMgmt ? kModeBroadcastMgmt : 0));
    r.timeoutCopy = r.timeoutMinutes;
  } else {
    r.port2MgmtBits = 0;
    r.timeoutCopy = 0;
  }
  return BuildSetRequest(r);
}

namespace {
Bytes BuildNamedRequest(Command code, const std::string& name, const MacAddress& mac, bool twoPort) {
  Bytes bytes(twoPort ? kTwoPortRecordSize : kOnePortRecordSize, 0);
  PutMagic(bytes, off::kMagic);
  bytes[off::kCode] = static_cast<std::uint8_t>(code);
  PutName(bytes, name);
  PutMac(bytes, mac);
  if (twoPort) PutMagic(bytes, off::kMagic2);
  return bytes;
}
}  // namespace

Bytes BuildRestoreRequest(const std::string& name, const MacAddress& mac, bool twoPort) {
  Bytes bytes = BuildNamedRequest(Command::Restore, name, mac, twoPort);
  bytes[off::kFlags] = kFlagWriteRequest;
  return bytes;
}

Bytes BuildRebootRequest(const std::string& name, const MacAddress& mac, bool twoPort) {
  return BuildNamedRequest(Command::Reboot, name, mac, twoPort);
}

Bytes BuildUpgradeRequest(const std::string& name, const MacAddress& mac, bool twoPort) {
  return BuildNamedRequest(Command::Upgrade, name, mac, twoPort);
}

Bytes BuildBootLoaderUpgradeRequest() {
  return BuildNamedRequest(Command::Upgrade, kBootLoaderName, kBootLoaderMac, false);
}

// ---- accepting a reply -------------------------------------------------------------

ReplyMark AcceptReply(MutableByteView buffer, int length) {
  if (length < static_cast<int>(kMagicSize) || !HasMagicAt(buffer, off::kMagic)) return ReplyMark::Rejected;
  if (length >= static_cast<int>(off::kMagic2 + kMagicSize) && HasMagicAt(buffer, off::kMagic2))
    return ReplyMark::TwoPort;
  const std::size_t end = std::min<std::size_t>(buffer.size(), kTwoPortRecordSize);
  for (std::size_t i = off::kMagic2; i < end; ++i) buffer[i] = kFill;
  return ReplyMark::OnePort;
}

int StatusQueryState(ByteView reply, int length, int rowKind) {
  if (length < 0 || !IsValidRowKind(rowKind)) return -1;
  if (ReplyCode(reply, length) != kReplySearch) return -1;
  const std::size_t at = rowKind == static_cast<int>(RowKind::SecondPort) ? off::kState2 : off::kState1;
  // The state byte must be part of what this datagram carried: the buffer may
  // still hold an earlier, longer reply beyond the length.
  if (length <= static_cast<int>(at) || at >= reply.size()) return -1;
  return reply[at];
}

}  // namespace corvane::protocol
