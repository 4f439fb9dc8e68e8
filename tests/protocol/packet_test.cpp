// The management packet: field offsets and encodings, request builders, MAC
// text and reply acceptance. Expected bytes are written out here by hand, not
// produced by the encoder under test.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "corvane/protocol/packet.h"

namespace corvane::protocol {
namespace {

using Raw = std::vector<std::uint8_t>;

const Raw kMagicBytes = {'M', 'O', 'R', 'K', 'E', 'L', 'A', 'N'};

Raw Magic() {
  return kMagicBytes;
}

std::string Hex(const Raw& b, std::size_t from, std::size_t to) {
  std::string s;
  char part[4];
  for (std::size_t i = from; i < to && i < b.size(); ++i) {
    std::snprintf(part, sizeof part, "%02X ", b[i]);
    s += part;
  }
  return s;
}

// Compares two packets byte by byte and names the first offset that differs.
void ExpectSameBytes(const Raw& expected, const Raw& actual) {
  ASSERT_EQ(expected.size(), actual.size());
  for (std::size_t i = 0; i < expected.size(); ++i) {
    ASSERT_EQ(expected[i], actual[i]) << "first difference at offset " << i << "\nexpected "
                                      << Hex(expected, i, i + 8) << "\nactual   " << Hex(actual, i, i + 8);
  }
}

// ---- header and simple requests ---------------------------------------------------

TEST(SearchRequest, IsTheMagicAndOneZeroByte) {
  Raw expected = Magic();
  expected.push_back(0x00);
  ExpectSameBytes(expected, BuildSearchRequest());
}

struct NamedRequestCase {
  const char* label;
  Bytes (*build)(const std::string&, const MacAddress&, bool);
  std::uint8_t code;
  std::uint8_t flags;
};

class NamedRequest : public ::testing::TestWithParam<NamedRequestCase> {};

TEST_P(NamedRequest, CarriesCodeNameMacAndSecondMagicForTwoPorts) {
  const auto& c = GetParam();
  const MacAddress mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
  for (bool twoPort : {false, true}) {
    Raw expected(twoPort ? 98 : 73, 0);
    std::memcpy(expected.data(), "MORKELAN", 8);
    expected[8] = c.code;
    expected[9] = c.flags;
    std::memcpy(expected.data() + 10, "dev-a", 5);  // offsets 15..25 stay 0
    const std::uint8_t macBytes[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
    std::memcpy(expected.data() + 26, macBytes, 6);
    if (twoPort) std::memcpy(expected.data() + 73, "MORKELAN", 8);
    SCOPED_TRACE(std::string(c.label) + (twoPort ? " two-port" : " one-port"));
    ExpectSameBytes(expected, c.build("dev-a", mac, twoPort));
  }
}

void PrintTo(const NamedRequestCase& c, std::ostream* os) {
  *os << c.label;
}

INSTANTIATE_TEST_SUITE_P(Requests, NamedRequest,
                         ::testing::Values(NamedRequestCase{"restore", BuildRestoreRequest, 0x08, 0x01},
                                           NamedRequestCase{"reboot", BuildRebootRequest, 0x0B, 0x00},
                                           NamedRequestCase{"upgrade", BuildUpgradeRequest, 0x05, 0x00}),
                         [](const auto& info) { return std::string(info.param.label); });

TEST(NamedRequest, NameOfSixteenCharactersHasNoTerminatorAndLongerNamesAreCut) {
  const Bytes req = BuildRebootRequest("ABCDEFGHIJKLMNOPQR", MacAddress{1, 2, 3, 4, 5, 6}, false);
  EXPECT_EQ(std::string(req.begin() + 10, req.begin() + 26), "ABCDEFGHIJKLMNOP");
  EXPECT_EQ(req[26], 1) << "the MAC follows the name directly";
}

TEST(BootLoaderUpgradeRequest, IsCvn1WithMacZeroZeroZeroZeroZeroOne) {
  Raw expected(73, 0);
  std::memcpy(expected.data(), "MORKELAN", 8);
  expected[8] = 0x05;
  std::memcpy(expected.data() + 10, "CVN1", 4);
  expected[31] = 0x01;  // 00-00-00-00-00-01
  ExpectSameBytes(expected, BuildBootLoaderUpgradeRequest());
}

// ---- the set request, field by field --------------------------------------------------

DeviceRecord SampleTwoPortRecord() {
  DeviceRecord r;
  r.flags = kFlagAutoConnect;
  r.name = "ABC";
  r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};
  r.dhcp = true;
  r.multicastMgmt = false;
  r.broadcastMgmt = true;
  r.timeoutMinutes = 5;
  r.dynamicIp = 0xC6336410;  // 198.51.100.16
  r.staticIp = 0xC6336411;
  r.broadcastListenPort = 1111;  // never sent in a set request
  r.multicastListenPort = 2222;
  r.netmask = 0xFFFFFF00;
  r.gateway = 0xC6336401;
  r.dns = 0x08080808;
  r.portCount = 2;
  r.port2MgmtBits = kModeBroadcastMgmt;
  r.timeoutCopy = 5;
  PortSettings& p1 = r.ports[0];
  p1.client = true;
  p1.udp = true;
  p1.tcp = false;
  p1.dataPort = 4001;
  p1.destIp = 0xCB007105;  // 203.0.113.5
  p1.destPort = 502;
  p1.lineA = EncodeLineFormatA(1, 3);
  p1.lineB = EncodeLineFormatB(2, 2, 0);
  p1.state = 1;  // replies only
  p1.txTimerMs = 300;
  p1.rs485 = true;
  PortSettings& p2 = r.ports[1];
  p2.client = true;
  p2.tcp = true;
  p2.dataPort = 4002;
  p2.destIp = 0xCB007106;
  p2.destPort = 5000;
  p2.lineA = EncodeLineFormatA(5, 2);
  p2.lineB = EncodeLineFormatB(1, 1, 1);
  p2.txTimerMs = 0x1234;
  return r;
}

TEST(SetRequest, EveryFieldAtItsOffset) {
  Raw e(98, 0);
  std::memcpy(e.data(), "MORKELAN", 8);
  e[8] = 0x02;                                                      // set
  e[9] = 0x03;                                                      // write request + auto connect
  e[10] = 'A', e[11] = 'B', e[12] = 'C';                            // name, 13..25 zero
  const std::uint8_t mac[] = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F};  // MAC
  std::memcpy(e.data() + 26, mac, 6);
  e[32] = 0x80 | 0x40 | 0x08 | 0x01;                 // client, DHCP, UDP, broadcast mgmt
  e[33] = 5;                                         // timeout
  e[34] = 198, e[35] = 51, e[36] = 100, e[37] = 16;  // dynamic IP
  e[38] = 198, e[39] = 51, e[40] = 100, e[41] = 17;  // static IP
  e[42] = 0x0F, e[43] = 0xA1;                        // data port 4001
  /* 44..47: listening ports, always 0 in a set request */
  e[48] = 203, e[49] = 0, e[50] = 113, e[51] = 5;    // destination IP
  e[52] = 0x01, e[53] = 0xF6;                        // destination port 502
  e[54] = 255, e[55] = 255, e[56] = 255, e[57] = 0;  // netmask
  e[58] = 198, e[59] = 51, e[60] = 100, e[61] = 1;   // gateway
  e[62] = 8, e[63] = 8, e[64] = 8, e[65] = 8;        // DNS
  e[66] = 0x0B;                                      // 115200, 8 bits
  e[67] = 0x48;                                      // none, none, 1
  /* 68 reserved, 69 state: 0 in requests */
  e[70] = 0x01, e[71] = 0x2C;  // 300 ms
  e[72] = 0x01;                // RS485
  std::memcpy(e.data() + 73, "MORKELAN", 8);
  e[81] = 0x80 | 0x04 | 0x01;  // client, TCP, broadcast copy
  e[82] = 5;                   // timeout copy
  e[83] = 0x0F, e[84] = 0xA2;  // data port 4002
  e[85] = 203, e[86] = 0, e[87] = 113, e[88] = 6;
  e[89] = 0x13, e[90] = 0x88;       // 5000
  e[91] = (5 << 3) | 2;             // 9600, 7 bits
  e[92] = (1 << 5) | (1 << 2) | 1;  // even, hardware, 1.5
  e[95] = 0x12, e[96] = 0x34;
  e[97] = 0x00;
  ExpectSameBytes(e, BuildSetRequest(SampleTwoPortRecord()));
}

TEST(SetRequest, OnePortRecordIs73BytesWithoutSecondSection) {
  DeviceRecord r = SampleTwoPortRecord();
  r.portCount = 1;
  const Bytes req = BuildSetRequest(r);
  ASSERT_EQ(req.size(), 73u);
  EXPECT_EQ(req[72], 0x01);
}

TEST(SetRequest, ShortNameLeavesTheRestOfTheFieldZero) {
  DeviceRecord r;
  r.name = "ABC";
  const Bytes req = BuildSetRequest(r);
  for (std::size_t i = 13; i < 26; ++i) EXPECT_EQ(req[i], 0) << "offset " << i;
}

TEST(SetRequest, RowKindDecidesSizeAndThePort2Copies) {
  DeviceRecord r = SampleTwoPortRecord();
  r.multicastMgmt = true;  // offset 32 bits 1..0 = 11
  r.port2MgmtBits = 0;
  r.timeoutCopy = 0;
  const Bytes first = BuildSetRequest(r, RowKind::FirstPort);
  ASSERT_EQ(first.size(), 98u);
  EXPECT_EQ(first[81] & 0x80, 0x80) << "port 2's client bit unchanged";
  EXPECT_EQ(first[81] & 0x03, first[32] & 0x03) << "management bits copied";
  EXPECT_EQ(first[81] & 0x03, 0x03);
  EXPECT_EQ(first[82], 5) << "timeout copied";

  r.port2MgmtBits = 0x03;  // whatever the record held, a second row sends zeros
  r.timeoutCopy = 9;
  const Bytes second = BuildSetRequest(r, RowKind::SecondPort);
  ASSERT_EQ(second.size(), 98u);
  EXPECT_EQ(second[81] & 0x03, 0);
  EXPECT_EQ(second[81] & 0x80, 0x80);
  EXPECT_EQ(second[82], 0);

  const Bytes single = BuildSetRequest(r, RowKind::SinglePort);
  EXPECT_EQ(single.size(), 73u);
}

// ---- bit fields and codes ---------------------------------------------------------------

struct LineCase {
  int baud, data, parity, flow, stop;
  std::uint8_t a, b;
};

class LineFormatCodes : public ::testing::TestWithParam<LineCase> {};

TEST_P(LineFormatCodes, EncodeAndDecode) {
  const auto& c = GetParam();
  EXPECT_EQ(EncodeLineFormatA(c.baud, c.data), c.a);
  EXPECT_EQ(EncodeLineFormatB(c.parity, c.flow, c.stop), c.b);
  const LineFormat f = DecodeLineFormat(c.a, c.b);
  EXPECT_EQ(f.baudCode, c.baud);
  EXPECT_EQ(f.dataBitsCode, c.data);
  EXPECT_EQ(f.parityCode, c.parity);
  EXPECT_EQ(f.flowCode, c.flow);
  EXPECT_EQ(f.stopBitsCode, c.stop);
}

void PrintTo(const LineCase& c, std::ostream* os) {
  *os << "A=" << int(c.a) << " B=" << int(c.b);
}

INSTANTIATE_TEST_SUITE_P(Codes, LineFormatCodes,
                         ::testing::Values(LineCase{1, 3, 2, 2, 0, 0x0B, 0x48},  // 115200 8N1, no flow
                                           LineCase{0, 0, 0, 0, 0, 0x00, 0x00},  // 921600 5 odd Xon/Xoff
                                           LineCase{8, 3, 1, 1, 1, 0x43, 0x25},  // 1200 8E1.5 hardware
                                           LineCase{5, 2, 2, 0, 1, 0x2A, 0x41}));

TEST(BaudRateCodes, TableAndOutOfRange) {
  EXPECT_EQ(BaudRateOfCode(0), 921600);
  EXPECT_EQ(BaudRateOfCode(1), 115200);
  EXPECT_EQ(BaudRateOfCode(8), 1200);
  EXPECT_EQ(BaudRateOfCode(9), 0);
  EXPECT_EQ(BaudRateOfCode(-1), 0);
}

TEST(ModeFlags, ClientDhcpUdpBroadcastIsC9) {
  DeviceRecord r;
  r.dhcp = true;
  r.broadcastMgmt = true;
  r.multicastMgmt = false;
  r.ports[0].client = true;
  r.ports[0].udp = true;
  r.ports[0].tcp = false;
  EXPECT_EQ(EncodeRecord(r)[32], 0xC9);
}

TEST(Numbers, BigEndianAndFirstOctetFirst) {
  Raw b(8, 0);
  Put16(b, 0, 4001);
  EXPECT_EQ(b[0], 0x0F);
  EXPECT_EQ(b[1], 0xA1);
  PutIPv4(b, 2, 0xC0A80003);
  EXPECT_EQ(IPv4Text(b, 2), "192.168.0.3");
  EXPECT_EQ(GetIPv4(b, 2), 0xC0A80003u);
  EXPECT_EQ(Get16(b, 0), 4001);
}

TEST(Numbers, ReadersAndWritersStayInsideTheBuffer) {
  Raw b(4, 0xAA);
  EXPECT_EQ(Get16(b, 3), 0);
  EXPECT_EQ(GetIPv4(b, 1), 0u);
  EXPECT_EQ(Get8(b, 4), 0);
  EXPECT_EQ(Get16(b, static_cast<std::size_t>(-1)), 0) << "offset overflow";
  Put16(b, 3, 0x1234);
  PutIPv4(b, 2, 0x01020304);
  EXPECT_EQ(b, Raw(4, 0xAA));
}

// ---- record decoding ----------------------------------------------------------------------

TEST(DecodeRecord, RoundTripsEveryField) {
  DeviceRecord in = SampleTwoPortRecord();
  in.code = 0x21;
  DeviceRecord out;
  ASSERT_TRUE(DecodeRecord(EncodeRecord(in), out));
  EXPECT_EQ(out.name, "ABC");
  EXPECT_EQ(out.mac, in.mac);
  EXPECT_EQ(out.portCount, 2);
  EXPECT_TRUE(out.dhcp);
  EXPECT_FALSE(out.multicastMgmt);
  EXPECT_EQ(out.staticIp, in.staticIp);
  EXPECT_EQ(out.ports[0].destPort, 502);
  EXPECT_EQ(out.ports[0].state, 1);
  EXPECT_TRUE(out.ports[0].rs485);
  EXPECT_EQ(out.ports[1].dataPort, 4002);
  EXPECT_EQ(out.ports[1].txTimerMs, 0x1234);
  EXPECT_EQ(out.port2MgmtBits, kModeBroadcastMgmt);
}

TEST(DecodeRecord, RefusesOnlyBuffersWithoutTheMagic) {
  DeviceRecord out;
  Bytes full = EncodeRecord(SampleTwoPortRecord());
  EXPECT_FALSE(DecodeRecord(ByteView(full.data(), 7), out));
  full[0] = 'X';
  EXPECT_FALSE(DecodeRecord(full, out));
}

// A reply of any length is read; fields beyond it read as 0.
TEST(DecodeRecord, ReadsShortRepliesUpToTheirLength) {
  Bytes full = EncodeRecord(SampleTwoPortRecord());
  DeviceRecord out;
  ASSERT_TRUE(DecodeRecord(ByteView(full.data(), 40), out));
  EXPECT_EQ(out.name, "ABC");
  EXPECT_EQ(out.ports[0].dataPort, 0);
  EXPECT_EQ(out.portCount, 1);
}

// The acceptance rule marks any reply with the second magic as two-port; the
// decoder agrees, and port 2's fields beyond the length read as 0.
TEST(DecodeRecord, SecondMagicMakesTwoPortsWhateverTheLength) {
  Bytes full = EncodeRecord(SampleTwoPortRecord());
  DeviceRecord out;
  ASSERT_TRUE(DecodeRecord(ByteView(full.data(), 90), out));
  EXPECT_EQ(out.portCount, 2);
  EXPECT_EQ(out.ports[1].dataPort, 4002);
  EXPECT_EQ(out.ports[1].state, 0);
}

TEST(DecodeRecord, NameLeavesOutFillBytes) {
  Bytes b = EncodeRecord(SampleTwoPortRecord());
  const Raw name = {0xCC, 'A', 0xCC, 'B', 'C', 0xCC, 0, 'Z'};
  std::copy(name.begin(), name.end(), b.begin() + off::kName);
  DeviceRecord out;
  ASSERT_TRUE(DecodeRecord(b, out));
  EXPECT_EQ(out.name, "ABC");
}

TEST(DecodeReplyRecord, AcceptsOnlyRecordCarryingReplyCodes) {
  Bytes b = EncodeRecord(SampleTwoPortRecord());
  for (int code = 0; code < 0x20; ++code) {
    b[off::kCode] = static_cast<std::uint8_t>(code);
    DeviceRecord out;
    const int low = code & 0x0F;
    EXPECT_EQ(DecodeReplyRecord(b, out), low == 1 || low == 3 || low == 9 || low == 12) << code;
  }
}

TEST(DecodeRecord, NameOfSixteenCharactersWithoutTerminator) {
  DeviceRecord r;
  r.name = "0123456789ABCDEF";
  DeviceRecord out;
  ASSERT_TRUE(DecodeRecord(EncodeRecord(r), out));
  EXPECT_EQ(out.name, "0123456789ABCDEF");
}

// ---- MAC text ---------------------------------------------------------------------------

TEST(MacText, UpperCaseTwoDigitsJoinedByDashes) {
  EXPECT_EQ(MacText({0x02, 0x00, 0x5E, 0x01, 0xA2, 0x0F}), "02-00-5E-01-A2-0F");
  EXPECT_EQ(MacText({0xFF, 0x10, 0x0A, 0x00, 0x01, 0xAB}), "FF-10-0A-00-01-AB");
}

TEST(MacText, ParseAcceptsDashesAndColonsAndRefusesJunk) {
  MacAddress mac{};
  ASSERT_TRUE(ParseMacText("02-00-5e-01-A2-0F", mac));
  EXPECT_EQ(MacText(mac), "02-00-5E-01-A2-0F");
  ASSERT_TRUE(ParseMacText("02:00:5E:01:A2:10", mac));
  EXPECT_EQ(mac[5], 0x10);
  for (const char* bad :
       {"", "02-00-5E-01-A2", "02-00-5E-01-A2-0G", "02-00-5E-01-A2-0F-", "0200-5E-01-A2-0F0"})
    EXPECT_FALSE(ParseMacText(bad, mac)) << bad;
}

// ---- accepting replies -------------------------------------------------------------------

Raw ReceiveArea(const Raw& datagram) {
  Raw area(256, 0xCC);
  std::copy(datagram.begin(), datagram.end(), area.begin());
  return area;
}

Raw TwoPortReply() {
  Raw r(98, 0);
  std::memcpy(r.data(), "MORKELAN", 8);
  r[8] = 0x01;
  std::memcpy(r.data() + 73, "MORKELAN", 8);
  for (std::size_t i = 81; i < 98; ++i) r[i] = static_cast<std::uint8_t>(i);
  return r;
}

TEST(AcceptReply, TwoPortWhenTheSecondMagicIsThere) {
  Raw area = ReceiveArea(TwoPortReply());
  EXPECT_EQ(AcceptReply(area, 98), ReplyMark::TwoPort);
  EXPECT_EQ(area[97], 97) << "the second section is kept";
}

TEST(AcceptReply, DamagedSecondMagicGivesOnePortAndWipesTheSecondSection) {
  Raw reply = TwoPortReply();
  reply[80] = 'X';
  Raw area = ReceiveArea(reply);
  EXPECT_EQ(AcceptReply(area, 98), ReplyMark::OnePort);
  for (std::size_t i = 73; i < 98; ++i) EXPECT_EQ(area[i], 0xCC) << "offset " << i;
  EXPECT_EQ(area[72], 0) << "the first section is untouched";
}

TEST(AcceptReply, WrongMagicOrTooShortIsRejected) {
  Raw reply = TwoPortReply();
  reply[3] = 'k';
  Raw area = ReceiveArea(reply);
  EXPECT_EQ(AcceptReply(area, 98), ReplyMark::Rejected);
  Raw shortOne = ReceiveArea(Magic());
  EXPECT_EQ(AcceptReply(shortOne, 7), ReplyMark::Rejected);
  EXPECT_EQ(AcceptReply(shortOne, -1), ReplyMark::Rejected);
}

TEST(AcceptReply, StaleSecondMagicBeyondTheLengthDoesNotCount) {
  Raw area = ReceiveArea(TwoPortReply());  // left over from an earlier datagram
  EXPECT_EQ(AcceptReply(area, 73), ReplyMark::OnePort);
  EXPECT_EQ(area[73], 0xCC);
}

struct CodeCase {
  std::uint8_t byte8;
  int code;
};
class ReplyCodes : public ::testing::TestWithParam<CodeCase> {};
TEST_P(ReplyCodes, LowFourBits) {
  Raw r = Magic();
  r.push_back(GetParam().byte8);
  EXPECT_EQ(ReplyCode(r, 9), GetParam().code);
}
void PrintTo(const CodeCase& c, std::ostream* os) {
  *os << "byte8=" << int(c.byte8);
}

INSTANTIATE_TEST_SUITE_P(Byte8, ReplyCodes,
                         ::testing::Values(CodeCase{0x01, 1}, CodeCase{0x21, 1}, CodeCase{0x03, 3},
                                           CodeCase{0xF9, 9}, CodeCase{0x0C, 12}, CodeCase{0xCC, 12}));

TEST(ReplyCodes, TooShortHasNoCode) {
  EXPECT_EQ(ReplyCode(Magic(), 8), -1);
}

// ---- status query -----------------------------------------------------------------------

TEST(StatusQuery, StateByteByRowKind) {
  Raw r = ReceiveArea(TwoPortReply());
  r[69] = 0;
  r[94] = 1;
  EXPECT_EQ(StatusQueryState(r, 98, 11), 0);
  EXPECT_EQ(StatusQueryState(r, 98, 21), 0);
  EXPECT_EQ(StatusQueryState(r, 98, 22), 1);
  r[69] = 2;
  EXPECT_EQ(StatusQueryState(r, 98, 11), 2);
}

// A short datagram after a longer reply must not be judged by the earlier
// reply's state byte still in the buffer.
TEST(StatusQuery, CountsOnlyWhenTheLengthReachesTheStateByte) {
  Raw r = ReceiveArea(TwoPortReply());
  r[69] = 0;
  r[94] = 0;
  EXPECT_EQ(StatusQueryState(r, 9, 11), -1);
  EXPECT_EQ(StatusQueryState(r, 69, 11), -1);
  EXPECT_EQ(StatusQueryState(r, 70, 11), 0);
  EXPECT_EQ(StatusQueryState(r, 94, 22), -1);
  EXPECT_EQ(StatusQueryState(r, 95, 22), 0);
}

TEST(StatusQuery, DoesNotCountWithoutAValidReply) {
  Raw r = ReceiveArea(TwoPortReply());
  EXPECT_EQ(StatusQueryState(r, -1, 11), -1);
  EXPECT_EQ(StatusQueryState(r, 98, 12), -1);
  r[8] = 0x03;
  EXPECT_EQ(StatusQueryState(r, 98, 11), -1);
}

TEST(RowKinds, RequestSizes) {
  EXPECT_EQ(RequestSizeFor(RowKind::SinglePort), 73u);
  EXPECT_EQ(RequestSizeFor(RowKind::FirstPort), 98u);
  EXPECT_EQ(RequestSizeFor(RowKind::SecondPort), 98u);
  EXPECT_TRUE(IsValidRowKind(22));
  EXPECT_FALSE(IsValidRowKind(12));
}

}  // namespace
}  // namespace corvane::protocol
