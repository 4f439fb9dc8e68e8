// Record -> item texts, item texts -> set request.
#include "corvane/settings/encoding.h"

#include <algorithm>
#include <vector>

namespace corvane::settings {

namespace off = protocol::off;
using protocol::Get16;
using protocol::Get8;
using protocol::IPv4Text;
using protocol::Put16;
using protocol::Put8;

namespace {

// Where one port's fields live in a record or request.
struct PortOffsets {
  std::size_t mode, dataPort, destIp, destPort, lineA, lineB, txTimer, transfer;
};
constexpr PortOffsets kPort1{off::kMode1,  off::kDataPort1, off::kDestIp1,  off::kDestPort1,
                             off::kLineA1, off::kLineB1,    off::kTxTimer1, off::kTransfer1};
constexpr PortOffsets kPort2{off::kMode2,  off::kDataPort2, off::kDestIp2,  off::kDestPort2,
                             off::kLineA2, off::kLineB2,    off::kTxTimer2, off::kTransfer2};
const PortOffsets& OffsetsOf(int port) {
  return port == 2 ? kPort2 : kPort1;
}

// Byte arithmetic is modulo 256, ports modulo 65536: it is done on unsigned
// values, so any number a text or a file holds wraps instead of overflowing.
std::uint32_t UnsignedNumber(const std::string& text) {
  return static_cast<std::uint32_t>(NumberFromText(text));
}
std::uint8_t Low8(std::uint32_t v) {
  return static_cast<std::uint8_t>(v & 0xFFu);
}
std::uint16_t Low16(std::uint32_t v) {
  return static_cast<std::uint16_t>(v & 0xFFFFu);
}

void Add8(MutableByteView b, std::size_t offset, std::uint32_t v) {
  if (offset < b.size()) Put8(b, offset, Low8(std::uint32_t{b[offset]} + v));
}

void PutPortText(MutableByteView b, std::size_t offset, const std::string& text) {
  Put16(b, offset, Low16(UnsignedNumber(text)));
}

// A port-specific item of one port into that port's section.
void EncodePortItem(MutableByteView b, const PortOffsets& p, int item, const std::string& text) {
  const std::uint32_t v = UnsignedNumber(text);
  switch (item) {
    case kServerClient:
      Put8(b, p.mode, Low8(v * 128u));
      break;
    case kDataPort:
      PutPortText(b, p.dataPort, text);
      break;
    case kDestIp:
      PutAddressText(b, p.destIp, text);
      break;
    case kDestPort:
      PutPortText(b, p.destPort, text);
      break;
    case kUdp:
      Add8(b, p.mode, v * 8u);
      break;
    case kTcp:
      Add8(b, p.mode, v * 4u);
      break;
    case kTxTimer:
      PutPortText(b, p.txTimer, text);
      break;
    case kBaudRate:
      Put8(b, p.lineA, Low8(v * 8u));
      break;
    case kDataBits:
      Add8(b, p.lineA, v);
      break;
    case kParity:
      Put8(b, p.lineB, Low8(v * 32u));
      break;
    case kStopBits:
      Add8(b, p.lineB, v);
      break;
    case kFlowControl:
      Add8(b, p.lineB, v * 4u);
      break;
    case kTransferMode:
      Put8(b, p.transfer, Low8(v));
      break;
    default:
      break;
  }
}

void EncodeDeviceItem(MutableByteView b, int rowKind, int item, const std::string& text,
                      ByteView recordCopy) {
  const std::uint32_t v = UnsignedNumber(text);
  switch (item) {
    case kDeviceName:
      protocol::PutMagic(b, off::kMagic);
      Put8(b, off::kCode, static_cast<std::uint8_t>(protocol::Command::Set));
      Put8(b, off::kFlags, protocol::kFlagWriteRequest);
      for (std::size_t i = 0; i < std::min(text.size(), protocol::kNameSize); ++i) {
        Put8(b, off::kName + i, static_cast<std::uint8_t>(text[i]));
      }
      if (IsTwoPortRow(rowKind)) protocol::PutMagic(b, off::kMagic2);
      break;
    case kMacAddress:
      for (std::size_t i = 0; i < protocol::kMacSize; ++i)
        Put8(b, off::kMac + i, Get8(recordCopy, off::kMac + i));
      break;
    case kDhcp:
      Add8(b, off::kMode1, v * 64u);
      break;
    case kDynamicIp:
      PutAddressText(b, off::kDynamicIp, text);
      break;
    case kStaticIp:
      PutAddressText(b, off::kStaticIp, text);
      break;
    case kBroadcastListenPort:
      if (rowKind == kSecondPortRow)
        Put16(b, off::kBroadcastListenPort, 0);
      else
        PutPortText(b, off::kBroadcastListenPort, text);
      break;
    case kMulticastListenPort:
      if (rowKind == kSecondPortRow)
        Put16(b, off::kMulticastListenPort, 0);
      else
        PutPortText(b, off::kMulticastListenPort, text);
      break;
    case kAutoConnect:
      if (off::kFlags < b.size()) b[off::kFlags] = static_cast<std::uint8_t>(b[off::kFlags] | Low8(v * 2u));
      break;
    case kBroadcast:
      Add8(b, off::kMode1, v);
      if (rowKind == kFirstPortRow) Add8(b, off::kMode2, v);
      break;
    case kMulticast:
      Add8(b, off::kMode1, v * 2u);
      if (rowKind == kFirstPortRow) Add8(b, off::kMode2, v * 2u);
      break;
    case kNetmask:
      PutAddressText(b, off::kNetmask, text);
      break;
    case kGateway:
      PutAddressText(b, off::kGateway, text);
      break;
    case kDns:
      PutAddressText(b, off::kDns, text);
      break;
    case kConnectionTimeout:
      Put8(b, off::kTimeout, Low8(v));
      if (rowKind == kFirstPortRow) Put8(b, off::kTimeoutCopy, Low8(v));
      break;
    default:
      break;
  }
}

std::string Flag(bool on) {
  return on ? "1" : "0";
}

// Largest code of each serial list (the lists' last index).
int LastListCode(int item) {
  switch (item) {
    case kBaudRate:
      return 8;
    case kDataBits:
      return 3;
    case kParity:
      return 2;
    case kStopBits:
      return 1;
    case kFlowControl:
      return 2;
    default:
      return -1;
  }
}

int DeviceSerialCode(ByteView recordCopy, int port, int item) {
  const PortOffsets& p = OffsetsOf(port);
  const protocol::LineFormat f =
      protocol::DecodeLineFormat(Get8(recordCopy, p.lineA), Get8(recordCopy, p.lineB));
  switch (item) {
    case kBaudRate:
      return f.baudCode;
    case kDataBits:
      return f.dataBitsCode;
    case kParity:
      return f.parityCode;
    case kStopBits:
      return f.stopBitsCode;
    default:
      return f.flowCode;
  }
}

}  // namespace

void PutAddressText(MutableByteView request, std::size_t offset, const std::string& text) {
  std::string accumulator;
  int dots = 0;
  for (char c : text) {
    if (c == '.') {
      const std::size_t byte = dots == 0 ? 0 : dots == 1 ? 1 : 2;
      Put8(request, offset + byte, Low8(NumberFromText(accumulator)));
      accumulator.clear();
      ++dots;
    } else {
      accumulator += c;
    }
    Put8(request, offset + 3, Low8(NumberFromText(accumulator)));
  }
}

std::size_t RequestSize(int rowKind) {
  if (rowKind == kSinglePortRow) return protocol::kOnePortRecordSize;
  if (IsTwoPortRow(rowKind)) return protocol::kTwoPortRecordSize;
  return 0;
}

void EncodeItem(MutableByteView request, int rowKind, int item, const std::string& text,
                const OtherPortStore& store, ByteView recordCopy) {
  const int shown = DisplayedPort(rowKind);
  if (shown == 0) return;
  const std::optional<StoreText> storeText = StoreTextOfItem(item);
  if (!storeText) {
    EncodeDeviceItem(request, rowKind, item, text, recordCopy);
    return;
  }
  EncodePortItem(request, OffsetsOf(shown), item, text);
  if (IsTwoPortRow(rowKind)) {
    const int other = shown == 1 ? 2 : 1;
    EncodePortItem(request, OffsetsOf(other), item, store.ForPort(other)[*storeText]);
  }
}

void EncodeRequest(MutableByteView request, int rowKind, const DeviceSettings& settings,
                   ByteView recordCopy) {
  std::fill(request.begin(), request.end(), std::uint8_t{0});
  for (int item = 0; item < kItemCount; ++item) {
    EncodeItem(request, rowKind, item, settings.items[static_cast<std::size_t>(item)], settings.store,
               recordCopy);
  }
}

bool DecodeRecord(ByteView record, int rowKind, int rowNumber, DeviceSettings& s) {
  const int code = Get8(record, off::kCode) & 0x0F;
  if (code != protocol::kReplySearch && code != protocol::kReplySet && code != protocol::kReplyRestore &&
      code != protocol::kReplyReboot) {
    return false;
  }
  const int shown = DisplayedPort(rowKind);
  if (shown == 0) return true;
  auto& item = s.items;

  const std::string name = protocol::NameOfRecord(record);
  item[kDeviceName] = name.empty() ? "CVN" + std::to_string(rowNumber + 1) : name;
  item[kMacAddress] = protocol::MacTextOfRecord(record);
  const std::uint8_t mode1 = Get8(record, off::kMode1);
  item[kDhcp] = Flag((mode1 & protocol::kModeDhcp) != 0);
  item[kDynamicIp] = IPv4Text(record, off::kDynamicIp);
  item[kStaticIp] = IPv4Text(record, off::kStaticIp);
  item[kAutoConnect] = Flag((Get8(record, off::kFlags) & protocol::kFlagAutoConnect) != 0);
  item[kBroadcast] = Flag((mode1 & protocol::kModeBroadcastMgmt) != 0);
  item[kMulticast] = Flag((mode1 & protocol::kModeMulticastMgmt) != 0);
  item[kNetmask] = IPv4Text(record, off::kNetmask);
  item[kGateway] = IPv4Text(record, off::kGateway);
  item[kDns] = IPv4Text(record, off::kDns);
  item[kConnectionTimeout] = std::to_string(Get8(record, off::kTimeout) & 0x1F);

  // One port's fields, into the item texts (shown port) or the store (other port).
  auto decodePort = [&](int port, auto&& put) {
    const PortOffsets& p = OffsetsOf(port);
    const std::uint8_t mode = Get8(record, p.mode);
    put(kServerClient, Flag((mode & protocol::kModeClient) != 0));
    put(kDataPort, std::to_string(Get16(record, p.dataPort)));
    put(kDestIp, IPv4Text(record, p.destIp));
    put(kDestPort, std::to_string(Get16(record, p.destPort)));
    put(kUdp, Flag((mode & protocol::kModeUdp) != 0));
    put(kTcp, Flag((mode & protocol::kModeTcp) != 0));
    put(kTxTimer, std::to_string(Get16(record, p.txTimer)));
    const std::uint8_t a = Get8(record, p.lineA);
    const std::uint8_t b = Get8(record, p.lineB);
    auto putCode = [&](int it, int value, int last) {
      if (value >= 0 && value <= last) put(it, std::to_string(value));
    };
    putCode(kBaudRate, a >> 3, 8);
    putCode(kDataBits, a & 7, 3);
    putCode(kParity, b >> 5, 2);
    putCode(kStopBits, b & 3, 2);
    putCode(kFlowControl, (b >> 2) & 7, 2);
    put(kTransferMode, Flag((Get8(record, p.transfer) & protocol::kTransferRs485) != 0));
  };
  decodePort(shown, [&](int it, std::string text) { item[static_cast<std::size_t>(it)] = std::move(text); });
  if (IsTwoPortRow(rowKind)) {
    const int other = shown == 1 ? 2 : 1;
    PortStore& store = s.store.ForPort(other);
    decodePort(other, [&](int it, std::string text) { store[*StoreTextOfItem(it)] = std::move(text); });
  }
  return true;
}

void FillUnselectedSerialCodes(DeviceSettings& s, int rowKind, ByteView recordCopy) {
  const int shown = DisplayedPort(rowKind);
  if (shown == 0) return;
  for (int item = kBaudRate; item <= kFlowControl; ++item) {
    std::string& text = s.items[static_cast<std::size_t>(item)];
    // Empty (no text at all) is unselected too: the decoder leaves a code
    // outside the list empty, and empty must not read as code 0.
    if (text.empty() || NumberFromText(text) < 0)
      text = std::to_string(DeviceSerialCode(recordCopy, shown, item));
    if (!IsTwoPortRow(rowKind)) continue;
    const int other = shown == 1 ? 2 : 1;
    std::string& stored = s.store.ForPort(other)[*StoreTextOfItem(item)];
    const std::int32_t code = NumberFromText(stored);
    if (stored.empty() || code < 0 || code > LastListCode(item))
      stored = std::to_string(DeviceSerialCode(recordCopy, other, item));
  }
}

std::optional<AddressProblem> FindBadAddress(const DeviceSettings& s, int rowKind) {
  struct Field {
    std::string name;
    int item;
    int port;
    const std::string& text;
    bool mayBeEmpty;
  };
  const int shown = DisplayedPort(rowKind);
  std::vector<Field> fields;
  // The static address matters only while DHCP is off; the netmask always.
  if (NumberFromText(s.items[kDhcp]) == 0)
    fields.push_back({"Listening IP", kStaticIp, 0, s.items[kStaticIp], false});
  fields.push_back({"Netmask", kNetmask, 0, s.items[kNetmask], false});
  fields.push_back({"Gateway", kGateway, 0, s.items[kGateway], true});
  fields.push_back({"DNS Server", kDns, 0, s.items[kDns], true});
  fields.push_back({"Destination IP", kDestIp, shown, s.items[kDestIp], true});
  if (IsTwoPortRow(rowKind)) {
    const int other = shown == 1 ? 2 : 1;
    fields.push_back({"Port " + std::to_string(other) + " Destination IP", kDestIp, other,
                      s.store.ForPort(other)[kStoreDestIp], true});
  }
  for (const Field& f : fields) {
    if ((f.mayBeEmpty && f.text.empty()) || IsDottedQuad(f.text)) continue;
    return AddressProblem{
        f.item, f.port,
        f.name + " \"" + f.text +
            "\" is not a valid IP address.\nEnter four numbers from 0 to 255 separated by dots."};
  }
  return std::nullopt;
}

std::optional<std::string> CheckAddresses(const DeviceSettings& s, int rowKind) {
  if (auto problem = FindBadAddress(s, rowKind)) return problem->message;
  return std::nullopt;
}

}  // namespace corvane::settings
