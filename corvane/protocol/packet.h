// The management packet: one byte layout for every request and reply exchanged
// with the device servers, and the device record that a reply carries.
//
// Every field lives at a named offset below; the request builders, the reply
// checks, the device simulator and the tests all read and write through these
// constants, field by field. Numbers are big-endian; IPv4 addresses are stored
// first octet first.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace corvane::protocol {

// ---- ports -------------------------------------------------------------------

constexpr unsigned kPcBroadcastPort = 25120;
constexpr unsigned kPcMulticastPort = 25121;
constexpr unsigned kPcUnicastPort = 25125;
constexpr unsigned kDeviceBroadcastPort = 25122;
constexpr unsigned kDeviceMulticastPort = 25123;
constexpr unsigned kDeviceUnicastPort = 25124;
constexpr const char* kDefaultBroadcastAddress = "255.255.255.255";
constexpr const char* kDefaultMulticastGroup = "225.1.2.3";

// ---- header ----------------------------------------------------------------------

constexpr char kMagic[] = "MORKELAN";
constexpr std::size_t kMagicSize = 8;

// Offsets of the first section (one-port devices, and device + port 1 of
// two-port devices).
namespace off {
constexpr std::size_t kMagic = 0;
constexpr std::size_t kCode = 8;
constexpr std::size_t kFlags = 9;
constexpr std::size_t kName = 10;
constexpr std::size_t kMac = 26;
constexpr std::size_t kMode1 = 32;
constexpr std::size_t kTimeout = 33;
constexpr std::size_t kDynamicIp = 34;
constexpr std::size_t kStaticIp = 38;
constexpr std::size_t kDataPort1 = 42;
constexpr std::size_t kBroadcastListenPort = 44;
constexpr std::size_t kMulticastListenPort = 46;
constexpr std::size_t kDestIp1 = 48;
constexpr std::size_t kDestPort1 = 52;
constexpr std::size_t kNetmask = 54;
constexpr std::size_t kGateway = 58;
constexpr std::size_t kDns = 62;
constexpr std::size_t kLineA1 = 66;
constexpr std::size_t kLineB1 = 67;
constexpr std::size_t kReserved1 = 68;
constexpr std::size_t kState1 = 69;
constexpr std::size_t kTxTimer1 = 70;
constexpr std::size_t kTransfer1 = 72;
// Second section (two-port devices only).
constexpr std::size_t kMagic2 = 73;
constexpr std::size_t kMode2 = 81;
constexpr std::size_t kTimeoutCopy = 82;
constexpr std::size_t kDataPort2 = 83;
constexpr std::size_t kDestIp2 = 85;
constexpr std::size_t kDestPort2 = 89;
constexpr std::size_t kLineA2 = 91;
constexpr std::size_t kLineB2 = 92;
constexpr std::size_t kReserved2 = 93;
constexpr std::size_t kState2 = 94;
constexpr std::size_t kTxTimer2 = 95;
constexpr std::size_t kTransfer2 = 97;
}  // namespace off

constexpr std::size_t kNameSize = 16;
constexpr std::size_t kMacSize = 6;
constexpr std::size_t kSearchRequestSize = 9;
constexpr std::size_t kOnePortRecordSize = 73;
constexpr std::size_t kTwoPortRecordSize = 98;
// The transports never take more than this from one datagram.
constexpr std::size_t kMaxDatagram = 256;
// Fill byte of everything that holds no data.
constexpr std::uint8_t kFill = 0xCC;

// Request codes (byte 8 of a request).
enum class Command : std::uint8_t {
  Search = 0x00,  // also the status query of one device
  Set = 0x02,
  Upgrade = 0x05,
  Restore = 0x08,
  Reboot = 0x0B,
};

// Reply codes (low four bits of byte 8 of a reply): the request's code plus one.
constexpr int kReplySearch = 1;
constexpr int kReplySet = 3;
constexpr int kReplyRestore = 9;
constexpr int kReplyReboot = 12;

// Byte 9.
constexpr std::uint8_t kFlagWriteRequest = 0x01;  // set and restore requests
constexpr std::uint8_t kFlagAutoConnect = 0x02;

// Mode flag bits (offset 32; offset 81 for port 2 except DHCP).
constexpr std::uint8_t kModeClient = 0x80;
constexpr std::uint8_t kModeDhcp = 0x40;
constexpr std::uint8_t kModeUdp = 0x08;
constexpr std::uint8_t kModeTcp = 0x04;
constexpr std::uint8_t kModeMulticastMgmt = 0x02;
constexpr std::uint8_t kModeBroadcastMgmt = 0x01;
constexpr std::uint8_t kModeMgmtBits = kModeMulticastMgmt | kModeBroadcastMgmt;

// Transfer mode (offsets 72 and 97), bit 0.
constexpr std::uint8_t kTransferRs485 = 0x01;

// Connection state (offsets 69 and 94).
constexpr int kStateIdle = 0;
constexpr int kStateConnected = 1;

// Row kinds: which list row a command works on.
enum class RowKind : int {
  SinglePort = 11,  // SinglePortRow
  FirstPort = 21,   // FirstPortRow
  SecondPort = 22,  // SecondPortRow
};
bool IsValidRowKind(int kind);
// 73 bytes for a single-port row, 98 for either row of a two-port device.
std::size_t RequestSizeFor(RowKind kind);

// ---- line-format codes -------------------------------------------------------------

// Line format A: bits 7..3 baud-rate code, bits 2..0 data-bits code.
// Line format B: bits 7..5 parity, bits 4..2 flow control, bits 1..0 stop bits.
struct LineFormat {
  int baudCode = 0;      // 0 = 921600 ... 8 = 1200
  int dataBitsCode = 0;  // 0 = 5 ... 3 = 8
  int parityCode = 0;    // 0 odd, 1 even, 2 none
  int flowCode = 0;      // 0 Xon/Xoff, 1 hardware, 2 none
  int stopBitsCode = 0;  // 0 = 1, 1 = 1.5
};
std::uint8_t EncodeLineFormatA(int baudCode, int dataBitsCode);
std::uint8_t EncodeLineFormatB(int parityCode, int flowCode, int stopBitsCode);
LineFormat DecodeLineFormat(std::uint8_t a, std::uint8_t b);
// Bits per second of a baud-rate code; 0 for a code outside the table.
long BaudRateOfCode(int code);

// ---- field access ------------------------------------------------------------------
// Readers take the field's offset and return 0 when the buffer is too short;
// writers do nothing past the end of the buffer.

using Bytes = std::vector<std::uint8_t>;
using ByteView = std::span<const std::uint8_t>;
using MutableByteView = std::span<std::uint8_t>;

std::uint8_t Get8(ByteView b, std::size_t offset);
std::uint16_t Get16(ByteView b, std::size_t offset);
std::uint32_t GetIPv4(ByteView b, std::size_t offset);  // host order, first octet high
void Put8(MutableByteView b, std::size_t offset, std::uint8_t v);
void Put16(MutableByteView b, std::size_t offset, std::uint16_t v);
void PutIPv4(MutableByteView b, std::size_t offset, std::uint32_t hostOrder);
// Dotted text of the four bytes at `offset`, each "%d".
std::string IPv4Text(ByteView b, std::size_t offset);

bool HasMagicAt(ByteView b, std::size_t offset);
void PutMagic(MutableByteView b, std::size_t offset);

// The reply code of a reply (low four bits of byte 8); -1 when too short.
int ReplyCode(ByteView b, int length);

// ---- MAC text ------------------------------------------------------------------------

using MacAddress = std::array<std::uint8_t, kMacSize>;
// "%X" per byte with a leading "0" below 0x10, joined by "-": 02-00-5E-01-A2-0F.
std::string MacText(const MacAddress& mac);
// The MAC text of the record's bytes 26 to 31.
std::string MacTextOfRecord(ByteView record);
MacAddress MacOfRecord(ByteView record);
// The device name the record holds at bytes 10 to 25: up to the first zero
// byte, fill bytes left out; a record that ends early ends the name there.
std::string NameOfRecord(ByteView record);
// Parses "02-00-5E-01-A2-0F" (also with ':'); false when malformed.
bool ParseMacText(const std::string& text, MacAddress& mac);

// ---- device record -------------------------------------------------------------------

// One serial port's settings as the record holds them.
struct PortSettings {
  bool client = false;
  bool udp = false;
  bool tcp = true;
  std::uint16_t dataPort = 4001;
  std::uint32_t destIp = 0;
  std::uint16_t destPort = 0;
  std::uint8_t lineA = 0;
  std::uint8_t lineB = 0;
  std::uint8_t state = 0;  // connection state, replies only
  std::uint16_t txTimerMs = 0;
  bool rs485 = false;
};

// A whole device record, decoded. Encoding it gives the 73- or 98-byte layout.
struct DeviceRecord {
  std::uint8_t code = 0;
  std::uint8_t flags = 0;
  std::string name;  // at most 16 characters are encoded
  MacAddress mac{};
  bool dhcp = false;
  bool multicastMgmt = true;
  bool broadcastMgmt = true;
  std::uint8_t timeoutMinutes = 0;
  std::uint32_t dynamicIp = 0;
  std::uint32_t staticIp = 0;
  std::uint16_t broadcastListenPort = 0;
  std::uint16_t multicastListenPort = 0;
  std::uint32_t netmask = 0;
  std::uint32_t gateway = 0;
  std::uint32_t dns = 0;
  int portCount = 1;
  // Port 2's copies of the management bits and of the timeout (offsets 81
  // bits 1..0 and 82); written as given.
  std::uint8_t port2MgmtBits = 0;
  std::uint8_t timeoutCopy = 0;
  std::array<PortSettings, 2> ports{};
};

// Writes the record field by field: 73 bytes, or 98 with the second section.
Bytes EncodeRecord(const DeviceRecord& record);
// Reads a record from the bytes received (the view's size is the length).
// Fields beyond the length read as 0, the name leaves out every 0xCC byte, and
// the port count is 2 whenever the second magic is present, as the acceptance
// rule marks it. False only when the bytes do not open with the magic. The
// code byte is not judged: the simulator decodes set requests with it.
bool DecodeRecord(ByteView bytes, DeviceRecord& record);
// DecodeRecord for a reply that must carry a record: reply code 1, 3, 9 or 12
// (low four bits of byte 8); false for any other code.
bool DecodeReplyRecord(ByteView bytes, DeviceRecord& record);

// ---- request builders ----------------------------------------------------------------

// "MORKELAN" followed by 0x00: the search request and the status query.
Bytes BuildSearchRequest();
// A set request: the record's fields with code 0x02 and byte 9 bit 0 set; the
// caller's record decides the port count (98 bytes for two ports).
Bytes BuildSetRequest(const DeviceRecord& record);
// The set request for the row being edited: 73 bytes for a single-port row, 98
// for either row of a two-port device. Port 2's copies of the management bits
// (offset 81 bits 1..0) and of the timeout (offset 82) carry the values of
// offsets 32 and 33 when the request is made from a first row and are 0 when
// it is made from a second row.
Bytes BuildSetRequest(const DeviceRecord& record, RowKind kind);
// Restore, reboot and upgrade of a listed device: magic, code, the name as
// given (at most 16 characters, no terminator), the MAC, the second magic
// when `twoPort`. Restore also sets byte 9 to 1.
Bytes BuildRestoreRequest(const std::string& name, const MacAddress& mac, bool twoPort);
Bytes BuildRebootRequest(const std::string& name, const MacAddress& mac, bool twoPort);
Bytes BuildUpgradeRequest(const std::string& name, const MacAddress& mac, bool twoPort);
// The upgrade request for a device waiting in its boot loader: name "CVN1",
// MAC 00-00-00-00-00-01, 73 bytes.
Bytes BuildBootLoaderUpgradeRequest();
constexpr const char* kBootLoaderName = "CVN1";
constexpr MacAddress kBootLoaderMac = {0, 0, 0, 0, 0, 1};

// ---- accepting a reply -------------------------------------------------------------

// What a transport decides about a datagram that just arrived.
enum class ReplyMark : std::uint8_t {
  Rejected = 0,  // wrong magic
  OnePort = 1,
  TwoPort = 2,
};
// Checks the magic of `length` received bytes in `buffer` (the whole 256-byte
// receive area). A wrong magic gives Rejected and leaves the buffer alone (the
// transport decides how to clear it). A right magic gives TwoPort when offsets
// 73..80 hold the magic too; otherwise OnePort, and offsets 73..97 of the buffer
// are overwritten with 0xCC so that nothing of a second section survives.
ReplyMark AcceptReply(MutableByteView buffer, int length);

// Connection state of a status-query reply for a row kind: -1 when the reply
// does not count (negative length, code not 1, invalid row kind, or a length
// that does not reach the state byte), else the state byte (offset 69, or 94
// for a second row).
int StatusQueryState(ByteView reply, int length, int rowKind);

}  // namespace corvane::protocol
