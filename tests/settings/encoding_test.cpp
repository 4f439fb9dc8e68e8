// Item texts <-> device record and set request, without windows.
#include <gtest/gtest.h>

#include "corvane/settings/encoding.h"
#include "corvane/settings/submit_check.h"
#include "settings_fixtures.h"

namespace {

using namespace corvane;
using namespace corvane::settings;
namespace off = protocol::off;
using protocol::Bytes;
using settings_fixtures::OnePortSettings;
using settings_fixtures::TwoPortRecord;

Bytes Encode(const DeviceSettings& s, int rowKind, const Bytes& recordCopy = Bytes(kRecordCopySize, 0)) {
  Bytes request(RequestSize(rowKind), 0xEE);
  EncodeRequest(request, rowKind, s, recordCopy);
  return request;
}

DeviceSettings Decoded(const Bytes& record, int rowKind, int rowNumber = 0) {
  DeviceSettings s;
  EXPECT_TRUE(DecodeRecord(record, rowKind, rowNumber, s));
  return s;
}

TEST(SettingsEncoding, OnePortExampleDeviceBitFields) {
  DeviceSettings s = OnePortSettings();  // AB, client, DHCP off, UDP, broadcast, 1/3/2/0/2, RS422
  Bytes recordCopy(kRecordCopySize, 0);
  for (std::size_t i = 0; i < 6; ++i) recordCopy[off::kMac + i] = static_cast<std::uint8_t>(0x10 + i);
  const Bytes r = Encode(s, kSinglePortRow, recordCopy);
  ASSERT_EQ(r.size(), 73u);
  EXPECT_TRUE(protocol::HasMagicAt(r, 0));
  EXPECT_EQ(r[off::kCode], 0x02);
  EXPECT_EQ(r[off::kFlags], 0x01);
  EXPECT_EQ(r[off::kMode1], 0x89);
  EXPECT_EQ(r[off::kLineA1], 0x0B);
  EXPECT_EQ(r[off::kLineB1], 0x48);
  EXPECT_EQ(r[off::kTransfer1], 0);
  EXPECT_EQ(r[10], 'A');
  EXPECT_EQ(r[11], 'B');
  for (std::size_t i = 12; i <= 25; ++i) EXPECT_EQ(r[i], 0) << "name byte " << i;
  for (std::size_t i = 0; i < 6; ++i) EXPECT_EQ(r[off::kMac + i], 0x10 + i) << "MAC from the record copy";
  EXPECT_EQ(protocol::IPv4Text(r, off::kStaticIp), "192.168.0.50");
  EXPECT_EQ(protocol::Get16(r, off::kDataPort1), 4001);
  EXPECT_EQ(protocol::Get16(r, off::kTxTimer1), 100);
  EXPECT_EQ(r[off::kTimeout], 5);
}

// Decoding a record and encoding the texts again gives the set request of the
// packet layer, for every row kind: every field lands where the device reads it.
TEST(SettingsEncoding, DecodeThenEncodeMatchesTheSetRequestOfEachRowKind) {
  const protocol::DeviceRecord record = TwoPortRecord();
  const Bytes bytes = protocol::EncodeRecord(record);
  const struct {
    int rowKind;
    protocol::RowKind kind;
  } cases[] = {{kFirstPortRow, protocol::RowKind::FirstPort},
               {kSecondPortRow, protocol::RowKind::SecondPort}};
  for (const auto& c : cases) {
    const Bytes request =
        Encode(Decoded(bytes, c.rowKind), c.rowKind, Bytes(bytes.begin(), bytes.begin() + 96));
    EXPECT_EQ(request, protocol::BuildSetRequest(record, c.kind)) << "row kind " << c.rowKind;
  }
  protocol::DeviceRecord one = record;
  one.portCount = 1;
  const Bytes oneBytes = protocol::EncodeRecord(one);
  Bytes copy = oneBytes;
  copy.resize(96, 0xCC);
  EXPECT_EQ(Encode(Decoded(oneBytes, kSinglePortRow), kSinglePortRow, copy),
            protocol::BuildSetRequest(one, protocol::RowKind::SinglePort));
}

TEST(SettingsEncoding, SecondPortRowPutsPageValuesInSectionTwoAndStoreInSectionOne) {
  DeviceSettings s = Decoded(protocol::EncodeRecord(TwoPortRecord()), kSecondPortRow);
  s.items[kDestPort] = "6000";
  const Bytes r = Encode(s, kSecondPortRow);
  EXPECT_EQ(protocol::Get16(r, off::kDestPort2), 6000);
  EXPECT_EQ(r[off::kMode2], 0x88) << "port 2: client, UDP, no management bits";
  EXPECT_EQ(r[off::kTimeoutCopy], 0);
  EXPECT_EQ(r[off::kMode1], 0x40 | 0x04 | 0x03) << "port 1 from the store: server, TCP; DHCP and management";
  EXPECT_EQ(protocol::Get16(r, off::kDataPort1), 4001);
  EXPECT_EQ(r[off::kLineA1], protocol::EncodeLineFormatA(5, 3));
  EXPECT_EQ(r[off::kTransfer2], 1);
  EXPECT_EQ(r[off::kTransfer1], 0);
}

TEST(SettingsEncoding, FirstPortRowWithStoredClientSetsPortTwoClientBit) {
  DeviceSettings s = Decoded(protocol::EncodeRecord(TwoPortRecord()), kFirstPortRow);
  EXPECT_EQ(s.store.port2[kStoreServerClient], "1");
  const Bytes r = Encode(s, kFirstPortRow);
  EXPECT_EQ(r[off::kMode2] & 0x80, 0x80);
  EXPECT_EQ(r[off::kMode2] & 0x03, 0x03) << "management bits repeated from a first row";
  EXPECT_EQ(r[off::kTimeoutCopy], 3);
}

TEST(SettingsEncoding, AddressTextIsWrittenGroupByGroup) {
  const struct {
    const char* text;
    std::uint8_t expected[4];
  } cases[] = {
      {"192.168.0.3", {192, 168, 0, 3}},    {"10.0.5", {10, 0, 0xAA, 5}},   {"1.2.3.4.5", {1, 2, 4, 5}},
      {"192.168.1.300", {192, 168, 1, 44}}, {"", {0xAA, 0xAA, 0xAA, 0xAA}},
  };
  for (const auto& c : cases) {
    Bytes b(4, 0xAA);
    PutAddressText(b, 0, c.text);
    EXPECT_EQ(b, Bytes(c.expected, c.expected + 4)) << c.text;
  }
}

TEST(SettingsEncoding, DecodeRecordNamesLineCodesAndReplyCodes) {
  Bytes record = protocol::EncodeRecord(TwoPortRecord());
  for (std::size_t i = 0; i < 16; ++i) record[off::kName + i] = protocol::kFill;
  EXPECT_EQ(Decoded(record, kSecondPortRow, 2).items[kDeviceName], "CVN3");

  DeviceSettings s = Decoded(record, kFirstPortRow);
  s.items[kBaudRate] = "4";
  record[off::kLineA1] = protocol::EncodeLineFormatA(12, 3);
  record[off::kLineB1] = protocol::EncodeLineFormatB(0, 0, 2);
  ASSERT_TRUE(DecodeRecord(record, kFirstPortRow, 0, s));
  EXPECT_EQ(s.items[kBaudRate], "4") << "baud code 12 leaves the previous value";
  EXPECT_EQ(s.items[kStopBits], "2") << "stop-bits code 2 is taken (the list then has no selection)";
  EXPECT_EQ(Decoded(protocol::EncodeRecord(TwoPortRecord()), kSecondPortRow).items[kBaudRate], "8");

  for (int code : {0, 2, 5, 0x0B}) {
    record[off::kCode] = static_cast<std::uint8_t>(code);
    DeviceSettings before = s;
    EXPECT_FALSE(DecodeRecord(record, kFirstPortRow, 0, s)) << code;
    EXPECT_EQ(s, before);
  }
}

TEST(SettingsEncoding, SerialListWithoutSelectionSendsTheDevicesOwnCode) {
  protocol::DeviceRecord device = TwoPortRecord();
  device.ports[1].lineA = protocol::EncodeLineFormatA(12, 3);  // a baud code outside the list
  const Bytes record = protocol::EncodeRecord(device);
  const Bytes copy(record.begin(), record.begin() + 96);
  DeviceSettings s = Decoded(record, kFirstPortRow);
  s.items[kStopBits] = "-1";
  s.items[kBaudRate] = "-1";
  s.store.port2[kStoreParity] = "7";  // outside the parity list
  FillUnselectedSerialCodes(s, kFirstPortRow, copy);
  const Bytes r = Encode(s, kFirstPortRow, copy);
  EXPECT_EQ(r[off::kLineA1], record[off::kLineA1]);
  EXPECT_EQ(r[off::kLineB1], record[off::kLineB1]);
  EXPECT_EQ(r[off::kLineB2], record[off::kLineB2]);
  EXPECT_EQ(r[off::kLineA2], record[off::kLineA2]);
}

// Any number a file holds wraps to the field's width (no signed overflow).
TEST(SettingsEncoding, HugeNumbersWrapToTheFieldsWidth) {
  DeviceSettings s = Decoded(protocol::EncodeRecord(TwoPortRecord()), kFirstPortRow);
  s.store.port2[kStoreServerClient] = "16777216";  // 2^24: times 128 is 2^31
  s.store.port2[kStoreUdp] = s.store.port2[kStoreTcp] = "0";
  s.items[kBaudRate] = "2147483647";
  s.items[kDhcp] = "2147483647";
  const Bytes r = Encode(s, kFirstPortRow);
  EXPECT_EQ(r[off::kMode2] & 0x80, 0) << "2^24 * 128 wraps to 0: server";
  EXPECT_EQ(r[off::kLineA1] & 0xF8, 0xF8) << "(2^31 - 1) * 8 keeps its low bits";
}

// Submit holds the other port's stored values to the ranges of its page.
TEST(SettingsEncoding, SubmitChecksTheOtherPortsStoredValues) {
  const struct {
    int store;
    const char* text;
    const char* message;  // empty: accepted
  } cases[] = {
      {kStoreServerClient, "16777216",
       "Port 2 Server/Client switch: Please enter an integer between 0 and 1."},
      {kStoreDataPort, "65536", "Port 2 data listening port: Please enter an integer between 0 and 65535."},
      {kStoreDestPort, "-1", "Port 2 destination port: Please enter an integer between 0 and 65535."},
      {kStoreTxTimer, "65535", ""},
      {kStoreUdp, "1", ""},
  };
  for (const auto& c : cases) {
    DeviceSettings s = Decoded(protocol::EncodeRecord(TwoPortRecord()), kFirstPortRow);
    s.items[kDataPort] = s.items[kDestPort] = "4001";
    s.store.port2[static_cast<std::size_t>(c.store)] = c.text;
    const auto problem = CheckSubmit(s, kFirstPortRow);
    if (*c.message == 0) {
      EXPECT_FALSE(problem) << c.text << ": " << problem->message;
      continue;
    }
    ASSERT_TRUE(problem) << c.text;
    EXPECT_EQ(problem->fault, SubmitFault::StoredValue);
    EXPECT_EQ(problem->port, 2);
    EXPECT_EQ(problem->message, c.message);
  }
}

TEST(SettingsEncoding, AddressCheckNamesTheFirstBadField) {
  const struct {
    int item;
    const char* text;
    const char* field;  // nullptr: accepted
  } cases[] = {
      {kStaticIp, "192.168.1.300", "Listening IP"},
      {kStaticIp, "", "Listening IP"},
      {kNetmask, "255.255.0", "Netmask"},
      {kNetmask, "", "Netmask"},
      {kGateway, "1.2.3.4.5", "Gateway"},
      {kGateway, "", nullptr},
      {kDns, "8.8.8.x", "DNS Server"},
      {kDestIp, "10.0.5", "Destination IP"},
      {kDestIp, "", nullptr},
      {kDestIp, "255.255.255.255", nullptr},
  };
  for (const auto& c : cases) {
    DeviceSettings s = OnePortSettings();
    s.items[static_cast<std::size_t>(c.item)] = c.text;
    const auto message = CheckAddresses(s, kSinglePortRow);
    if (c.field == nullptr) {
      EXPECT_FALSE(message) << c.text << ": " << *message;
    } else {
      ASSERT_TRUE(message) << c.text;
      EXPECT_EQ(message->rfind(c.field, 0), 0u) << *message;
    }
  }
  DeviceSettings dhcp = OnePortSettings();
  dhcp.items[kDhcp] = "1";
  dhcp.items[kStaticIp] = "";
  EXPECT_FALSE(CheckAddresses(dhcp, kSinglePortRow)) << "the static address is not sent while DHCP is on";
  DeviceSettings two = Decoded(protocol::EncodeRecord(TwoPortRecord()), kFirstPortRow);
  two.store.port2[kStoreDestIp] = "10.1.2";
  EXPECT_EQ(CheckAddresses(two, kFirstPortRow)->rfind("Port 2 Destination IP", 0), 0u);
}

TEST(SettingsEncoding, DottedQuadAcceptsOnlyFourBytes) {
  for (const char* good : {"0.0.0.0", "255.255.255.255", "192.168.000.1"})
    EXPECT_TRUE(IsDottedQuad(good)) << good;
  for (const char* bad : {"", "1.2.3", "1.2.3.4.", ".1.2.3", "1..2.3", "256.1.1.1", "1.2.3.4 ", "1.2.3.0004",
                          "-1.2.3.4", "a.b.c.d"}) {
    EXPECT_FALSE(IsDottedQuad(bad)) << bad;
  }
}

}  // namespace
