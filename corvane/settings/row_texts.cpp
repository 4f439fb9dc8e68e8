// The device list's row texts.
#include "corvane/settings/row_texts.h"

#include <algorithm>

namespace corvane::settings {

namespace off = protocol::off;

namespace {

std::string StatusText(int state) {
  if (state == protocol::kStateIdle) return "Idle";
  if (state == protocol::kStateConnected) return "Connected";
  return "Unknown";
}

}  // namespace

PortRowTexts MakePortRow(protocol::ByteView record, int length, int port, int number, bool defaultName) {
  // Whatever the buffer holds past the length is not the device's: the view
  // ends there, and the record's fields past it read as fill.
  protocol::Bytes received(protocol::kMaxDatagram, protocol::kFill);
  const std::size_t kept =
      std::min({record.size(), received.size(), static_cast<std::size_t>(std::max(0, length))});
  std::copy_n(record.begin(), kept, received.begin());
  const protocol::ByteView r = received;

  const bool second = port == 2;
  const bool client = (protocol::Get8(r, second ? off::kMode2 : off::kMode1) & protocol::kModeClient) != 0;
  PortRowTexts row;
  row.portValue = client ? protocol::Get16(r, second ? off::kDestPort2 : off::kDestPort1)
                         : protocol::Get16(r, second ? off::kDataPort2 : off::kDataPort1);
  row.number = std::to_string(number);
  row.name = protocol::NameOfRecord(r);
  if (row.name.empty() && defaultName) row.name = "CVN" + row.number;
  row.mac = protocol::MacTextOfRecord(r);
  row.dhcp = (protocol::Get8(r, off::kMode1) & protocol::kModeDhcp) != 0 ? "Enable" : "Disable";
  row.mode = client ? "Client" : "Server";
  row.ip = protocol::IPv4Text(r, off::kDynamicIp);
  row.port = std::to_string(row.portValue);
  row.status = StatusText(protocol::Get8(r, second ? off::kState2 : off::kState1));
  return row;
}

}  // namespace corvane::settings
