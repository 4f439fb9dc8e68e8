// Settings file layouts, writing and reading.
#include "corvane/settings/settings_file.h"

#include <cstdint>

namespace corvane::settings {

namespace {

constexpr FileLine kOnePortLayout[] = {
    {kDeviceName, 0, " // ( 1) Device name\r\n"},
    {kMacAddress, 0, " // ( 2) MAC address\r\n"},
    {kServerClient, 1, " // ( 3) Server/Client switch, 0: Server, 1: Client\r\n"},
    {kDhcp, 0, " // ( 4) DHCP function switch, 0: Disable, 1: Enable\r\n"},
    {kDynamicIp, 0, " // ( 5) Server dynamic listening IP\r\n"},
    {kStaticIp, 0, " // ( 6) Server static listening IP\r\n"},
    {kDataPort, 1, " // ( 7) Server data listening Port\r\n"},
    {kBroadcastListenPort, 0, " // ( 8) Server broadcast listening Port\r\n"},
    {kMulticastListenPort, 0, " // ( 9) Server mulitcast listening Port\r\n"},
    {kDestIp, 1, " // (10) Client destination IP\r\n"},
    {kDestPort, 1, " // (11) Clinet destination Port\r\n"},
    {kUdp, 1, " // (12) UDP Protocol, 0: Disable 1: Enable\r\n"},
    {kAutoConnect, 0, " // (13) Auto connect after reboot, 0: Disable 1: Enable\r\n"},
    {kTcp, 1, " // (14) TCP Protocol, 0: Disable 1: Enable\r\n"},
    {kBroadcast, 0, " // (15) Broadcast, 0: Disable 1: Enable\r\n"},
    {kMulticast, 0, " // (16) Multicast, 0: Disable 1: Enable\r\n"},
    {kNetmask, 0, " // (17) Netmask\r\n"},
    {kGateway, 0, " // (18) Gateway\r\n"},
    {kDns, 0, " // (19) DNS server\r\n"},
    {kConnectionTimeout, 0, " // (20) Connection timeout (min)\r\n"},
    {kTxTimer, 1, " // (21) Transmission timer (ms)\r\n"},
    {kBaudRate, 1,
     " // (22) Baud rate(bps), 0: 921600, 1: 115200, 2: 57600, 3: 38400, 4: 19200, 5: 9600, 6: 4800, 7: "
     "2400, "
     "8: 1200\r\n"},
    {kDataBits, 1, " // (23) Data bits, 0: 5bits, 1: 6bits, 2: 7bits, 3: 8bits\r\n"},
    {kParity, 1, " // (24) Parity, 0: Odd, 1: Even, 2: None\r\n"},
    {kStopBits, 1, " // (25) Stop bits, 0: 1bit, 1: 1.5bits\r\n"},
    {kFlowControl, 1, " // (26) Flow Control, 0: Xon/Xoff, 1: Hardware, 2: None\r\n"},
    {kTransferMode, 1, " // (27) Transfer Mode, 0: RS422/RS232, 1: RS485\r\n"},
};

constexpr FileLine kTwoPortLayout[] = {
    {kDeviceName, 0, " // ( 1) Device name\r\n"},
    {kMacAddress, 0, " // ( 2) MAC address\r\n"},
    {kServerClient, 1, " // ( 3) Port 1 Server/Client switch, 0: Server, 1: Client\r\n"},
    {kServerClient, 2, " // ( 4) port 2 Server/Client switch, 0: Server, 1: Client\r\n"},
    {kDhcp, 0, " // ( 5) DHCP function switch, 0: Disable, 1: Enable\r\n"},
    {kDynamicIp, 0, " // ( 6) Server dynamic listening IP\r\n"},
    {kStaticIp, 0, " // ( 7) Server static listening IP\r\n"},
    {kDataPort, 1, " // ( 8) Port 1 Server data listening Port\r\n"},
    {kDataPort, 2, " // ( 9) Port 2 Server data listening Port\r\n"},
    {kBroadcastListenPort, 0, " // (10) Server broadcast listening Port\r\n"},
    {kMulticastListenPort, 0, " // (11) Server mulitcast listening Port\r\n"},
    {kDestIp, 1, " // (12) Port 1 Client destination IP\r\n"},
    {kDestIp, 2, " // (13) Port 2 Client destination IP\r\n"},
    {kDestPort, 1, " // (14) Port 1 Clinet destination Port\r\n"},
    {kDestPort, 2, " // (15) Port 2 Clinet destination Port\r\n"},
    {kUdp, 1, " // (16) Port 1 UDP Protocol, 0: Disable 1: Enable\r\n"},
    {kUdp, 2, " // (17) Port 2 UDP Protocol, 0: Disable 1: Enable\r\n"},
    {kAutoConnect, 0, " // (18) Auto connect after reboot, 0: Disable 1: Enable\r\n"},
    {kTcp, 1, " // (19) Port 1 TCP Protocol, 0: Disable 1: Enable\r\n"},
    {kTcp, 2, " // (20) Port 2 TCP Protocol, 0: Disable 1: Enable\r\n"},
    {kBroadcast, 0, " // (21) Broadcast, 0: Disable 1: Enable\r\n"},
    {kMulticast, 0, " // (22) Multicast, 0: Disable 1: Enable\r\n"},
    {kNetmask, 0, " // (23) Netmask\r\n"},
    {kGateway, 0, " // (24) Gateway\r\n"},
    {kDns, 0, " // (25) DNS server\r\n"},
    {kConnectionTimeout, 0, " // (26) Connection timeout (min)\r\n"},
    {kTxTimer, 1, " // (27) Port 1 Transmission timer (ms)\r\n"},
    {kTxTimer, 2, " // (28) Port 2 Transmission timer (ms)\r\n"},
    {kBaudRate, 1,
     " // (29) Port 1 Baud rate(bps), 0: 921600, 1: 115200, 2: 57600, 3: 38400, 4: 19200, 5: 9600, 6: 4800, "
     "7: "
     "2400, 8: 1200\r\n"},
    {kBaudRate, 2,
     " // (30) Port 2 Baud rate(bps), 0: 921600, 1: 115200, 2: 57600, 3: 38400, 4: 19200, 5: 9600, 6: 4800, "
     "7: "
     "2400, 8: 1200\r\n"},
    {kDataBits, 1, " // (31) Port 1 Data bits, 0: 5bits, 1: 6bits, 2: 7bits, 3: 8bits\r\n"},
    {kDataBits, 2, " // (32) Port 2 Data bits, 0: 5bits, 1: 6bits, 2: 7bits, 3: 8bits\r\n"},
    {kParity, 1, " // (33) Port 1 Parity, 0: Odd, 1: Even, 2: None\r\n"},
    {kParity, 2, " // (34) Port 2 Parity, 0: Odd, 1: Even, 2: None\r\n"},
    {kStopBits, 1, " // (35) Port 1 Stop bits, 0: 1bit, 1: 1.5bits\r\n"},
    {kStopBits, 2, " // (36) Port 2 Stop bits, 0: 1bit, 1: 1.5bits\r\n"},
    {kFlowControl, 1, " // (37) Port 1 Flow Control, 0: Xon/Xoff, 1: Hardware, 2: None\r\n"},
    {kFlowControl, 2, " // (38) Port 2 Flow Control, 0: Xon/Xoff, 1: Hardware, 2: None\r\n"},
    {kTransferMode, 1, " // (39) Port 1 Transfer Mode, 0: RS422/RS232, 1: RS485\r\n"},
    {kTransferMode, 2, " // (40) Port 2 Transfer Mode, 0: RS422/RS232, 1: RS485\r\n"},
};

static_assert(std::size(kOnePortLayout) == kItemCount);
static_assert(std::size(kTwoPortLayout) == 40);

// The members behind the item texts are unsigned for the port, timeout and
// timer fields and signed for the rest; a loaded number takes the member's type.
bool IsUnsignedItem(int item) {
  return item == kDataPort || item == kDestPort || item == kConnectionTimeout || item == kTxTimer;
}

std::string MemberNumberText(int item, const std::string& text) {
  const std::int32_t n = NumberFromText(text);
  return IsUnsignedItem(item) ? std::to_string(static_cast<std::uint32_t>(n)) : std::to_string(n);
}

bool IsLineBreak(char c) {
  return c == '\r' || c == '\n';
}

}  // namespace

int FileLineCount(int rowKind) {
  if (rowKind == kSinglePortRow) return static_cast<int>(std::size(kOnePortLayout));
  if (IsTwoPortRow(rowKind)) return static_cast<int>(std::size(kTwoPortLayout));
  return 0;
}

const FileLine& LayoutLine(int rowKind, int index) {
  return IsTwoPortRow(rowKind) ? kTwoPortLayout[index] : kOnePortLayout[index];
}

const std::string& LineValue(const DeviceSettings& s, int rowKind, const FileLine& line) {
  if (line.port == 0 || line.port == DisplayedPort(rowKind) || !IsTwoPortRow(rowKind)) {
    return s.items[static_cast<std::size_t>(line.item)];
  }
  return s.store.ForPort(line.port)[*StoreTextOfItem(line.item)];
}

std::string BuildSettingsFileText(const DeviceSettings& s, int rowKind) {
  std::string text;
  for (int i = 0; i < FileLineCount(rowKind); ++i) {
    const FileLine& line = LayoutLine(rowKind, i);
    std::string value = LineValue(s, rowKind, line);
    if (value.size() < kValueWidth) value.append(kValueWidth - value.size(), ' ');
    text += value;
    text += line.comment;
  }
  return text;
}

std::optional<std::string> NameFileFault(std::string_view name) {
  if (name.find(' ') != std::string_view::npos) {
    return std::string("1. Device name must LESS THAN 16 LETTERS\n2. NO SPACES between the letters.");
  }
  for (const char c : name) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      return std::string(
          "The device name contains a control character (such as a line break) and cannot be "
          "saved to a file. Change the name first.");
    }
  }
  return std::nullopt;
}

std::vector<std::optional<std::string>> ReadFileValues(std::string_view data, int count) {
  std::vector<std::optional<std::string>> values;
  // A file with CR LF line ends (every file this program writes) ends its
  // lines only there: a stray CR or LF inside a line, such as one in a device
  // name, ends that line's value but does not shift the lines after it. A file
  // without any CR LF is read line by line at each LF.
  const bool crLfLines = data.find("\r\n") != std::string_view::npos;
  std::size_t pos = 0;
  for (int i = 0; i < count; ++i) {
    if (pos >= data.size()) {
      values.emplace_back(std::nullopt);
      continue;
    }
    std::size_t end = pos;
    while (end < data.size() && data[end] != ' ' && !IsLineBreak(data[end])) ++end;
    values.emplace_back(std::string(data.substr(pos, end - pos)));
    const std::size_t lineEnd = crLfLines ? data.find("\r\n", end) : data.find_first_of("\r\n", end);
    if (lineEnd == std::string_view::npos) {
      pos = data.size();
    } else {
      pos = lineEnd + (data[lineEnd] == '\r' ? 2 : 1);
    }
  }
  return values;
}

bool ApplyItem(DeviceSettings& s, int item, const std::string& text, int& dhcpShown) {
  if (item < 0 || item >= kItemCount) return false;
  if (text.empty()) return item == kDynamicIp || item == kBroadcastListenPort || item == kMulticastListenPort;
  std::string& target = s.items[static_cast<std::size_t>(item)];
  switch (item) {
    case kMacAddress:
    case kDynamicIp:
    case kBroadcastListenPort:
    case kMulticastListenPort:
      break;  // the MAC and the current address always come from the device
    case kDeviceName:
    case kStaticIp:
    case kDestIp:
    case kNetmask:
    case kGateway:
    case kDns:
      target = text;
      break;
    case kDhcp:
      target = MemberNumberText(item, text);
      dhcpShown = NumberFromText(text) != 0 ? 1 : 0;
      break;
    case kTransferMode:
      target = NumberFromText(text) != 0 ? "1" : "0";
      break;
    default:
      target = MemberNumberText(item, text);
      break;
  }
  return true;
}

bool ApplyFileField(DeviceSettings& s, int rowKind, int field, const std::string& text, int& dhcpShown) {
  if (!IsTwoPortRow(rowKind) || field < 0 || field >= FileLineCount(rowKind)) return false;
  const FileLine& line = LayoutLine(rowKind, field);
  if (line.port == 0 || line.port == DisplayedPort(rowKind)) return ApplyItem(s, line.item, text, dhcpShown);
  if (text.empty()) return false;
  std::string& stored = s.store.ForPort(line.port)[*StoreTextOfItem(line.item)];
  stored = line.item == kTransferMode ? (NumberFromText(text) != 0 ? "1" : "0") : text;
  return true;
}

}  // namespace corvane::settings
