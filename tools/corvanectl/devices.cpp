// Searches and row texts of the command-line companion.
#include "corvanectl/devices.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "corvane/settings/setting_items.h"
#include "tk/socket.h"

namespace corvanectl {

namespace protocol = corvane::protocol;
namespace off = protocol::off;

std::string FoundDevice::MacText() const {
  return protocol::MacTextOfRecord(bytes);
}

namespace {

struct Destination {
  std::string address;
  unsigned port;
};

Destination DestinationOf(const SearchOptions& options) {
  switch (options.kind) {
    case SearchKind::Multicast:
      return {protocol::kDefaultMulticastGroup, protocol::kDeviceMulticastPort};
    case SearchKind::Unicast:
      return {options.address, protocol::kDeviceUnicastPort};
    case SearchKind::Broadcast:
      break;
  }
  return {protocol::kDefaultBroadcastAddress, protocol::kDeviceBroadcastPort};
}

// Takes one datagram into `device` when it is a search reply.
bool AcceptSearchReply(const std::uint8_t* data, int length, FoundDevice& device) {
  if (length <= 0) return false;
  device.bytes.assign(protocol::kMaxDatagram, protocol::kFill);
  const int kept = std::min<int>(length, static_cast<int>(protocol::kMaxDatagram));
  std::copy(data, data + kept, device.bytes.begin());
  const auto mark = protocol::AcceptReply(device.bytes, kept);
  if (mark == protocol::ReplyMark::Rejected) return false;
  if (protocol::ReplyCode(device.bytes, kept) != protocol::kReplySearch) return false;
  // A record too short to hold the MAC names no device.
  if (kept < static_cast<int>(off::kMac + protocol::kMacSize)) return false;
  device.length = kept;
  device.portCount = mark == protocol::ReplyMark::TwoPort ? 2 : 1;
  return true;
}

}  // namespace

bool TakeSearchReply(const std::uint8_t* data, int length, FoundDevice& device) {
  return AcceptSearchReply(data, length, device);
}

bool Search(const SearchOptions& options, std::vector<FoundDevice>& found, std::string& error) {
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.SetBroadcast(true) || !socket.Bind(0)) {
    error = "cannot open a UDP socket (error " + std::to_string(socket.GetLastError()) + ")";
    return false;
  }
  const Destination to = DestinationOf(options);
  const Bytes request = protocol::BuildSearchRequest();
  int sent = 0;
  std::string firstFailure;
  for (std::size_t i = 0; i <= options.alsoTo.size(); ++i) {
    const std::string& address = i == 0 ? to.address : options.alsoTo[i - 1];
    if (socket.SendTo(request.data(), static_cast<int>(request.size()), to.port, address) >= 0) {
      ++sent;
    } else if (firstFailure.empty()) {
      firstFailure =
          "cannot send the search to " + address + " (error " + std::to_string(socket.GetLastError()) + ")";
    }
  }
  if (sent == 0) {
    error = firstFailure;
    return false;
  }
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(0, options.waitMs));
  std::uint8_t buffer[2048];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0 || socket.WaitReadable(static_cast<int>(left)) <= 0) break;
    std::string sender;
    unsigned senderPort = 0;
    const int n = socket.ReceiveFrom(buffer, sizeof buffer, sender, senderPort);
    FoundDevice device;
    if (!AcceptSearchReply(buffer, n, device)) continue;
    // A directed search counts only the device asked.
    if (options.kind == SearchKind::Unicast && sender != options.address) continue;
    device.address = sender;
    const auto same = std::find_if(found.begin(), found.end(),
                                   [&](const FoundDevice& f) { return f.MacText() == device.MacText(); });
    if (same != found.end()) {
      *same = std::move(device);
    } else {
      found.push_back(std::move(device));
    }
    // One device asked directly: its answer is all there is to wait for.
    if (options.kind == SearchKind::Unicast) break;
  }
  return true;
}

bool FindTarget(const std::string& target, int waitMs, FoundDevice& device, std::string& error) {
  protocol::MacAddress mac{};
  const bool byMac = protocol::ParseMacText(target, mac);
  SearchOptions options;
  options.waitMs = waitMs;
  if (!byMac) {
    if (!corvane::settings::IsDottedQuad(target)) {
      error = "\"" + target + "\" is neither an IP address nor a MAC address";
      return false;
    }
    options.kind = SearchKind::Unicast;
    options.address = target;
  }
  std::vector<FoundDevice> found;
  if (!Search(options, found, error)) return false;
  const std::string macText = byMac ? protocol::MacText(mac) : std::string();
  for (auto& f : found) {
    if (!byMac || f.MacText() == macText) {
      device = std::move(f);
      return true;
    }
  }
  error = "no answer from " + target;
  return false;
}

bool SendAndAwaitReply(const FoundDevice& device, const Bytes& request, int replyCode, int waitMs,
                       std::string& error) {
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.Bind(0)) {
    error = "cannot open a UDP socket";
    return false;
  }
  if (socket.SendTo(request.data(), static_cast<int>(request.size()), protocol::kDeviceUnicastPort,
                    device.address) < 0) {
    error = "cannot send to " + device.address;
    return false;
  }
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
  std::uint8_t buffer[2048];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0 || socket.WaitReadable(static_cast<int>(left)) <= 0) break;
    std::string sender;
    unsigned senderPort = 0;
    const int n = socket.ReceiveFrom(buffer, sizeof buffer, sender, senderPort);
    if (n <= 0 || sender != device.address) continue;
    const protocol::ByteView reply(buffer,
                                   static_cast<std::size_t>(std::min<int>(n, protocol::kMaxDatagram)));
    if (!protocol::HasMagicAt(reply, 0) ||
        protocol::ReplyCode(reply, static_cast<int>(reply.size())) != replyCode) {
      continue;
    }
    if (reply.size() >= off::kMac + protocol::kMacSize &&
        protocol::MacTextOfRecord(reply) != device.MacText()) {
      continue;
    }
    return true;
  }
  error = "no acknowledgement";
  return false;
}

std::string RecordName(const FoundDevice& device) {
  std::string name;
  for (std::size_t i = 0; i < protocol::kNameSize; ++i) {
    const std::uint8_t c = protocol::Get8(device.bytes, off::kName + i);
    if (c == 0) break;
    if (c != protocol::kFill) name += static_cast<char>(c);
  }
  return name;
}

namespace {

std::string StatusText(int state) {
  if (state == protocol::kStateIdle) return "Idle";
  if (state == protocol::kStateConnected) return "Connected";
  return "Unknown";
}

}  // namespace

RowTexts PortRow(const FoundDevice& device, int number, int port) {
  const protocol::ByteView r = device.bytes;
  const bool second = port == 2;
  const bool client = (protocol::Get8(r, second ? off::kMode2 : off::kMode1) & protocol::kModeClient) != 0;
  const int portValue = client ? protocol::Get16(r, second ? off::kDestPort2 : off::kDestPort1)
                               : protocol::Get16(r, second ? off::kDataPort2 : off::kDataPort1);
  RowTexts row;
  row.number = std::to_string(number);
  row.name = RecordName(device);
  if (row.name.empty()) row.name = "CVN" + row.number;
  row.mac = device.MacText();
  row.dhcp = (protocol::Get8(r, off::kMode1) & protocol::kModeDhcp) != 0 ? "Enable" : "Disable";
  row.mode = client ? "Client" : "Server";
  row.ip = protocol::IPv4Text(r, off::kDynamicIp);
  row.port = std::to_string(portValue);
  row.status = StatusText(protocol::Get8(r, second ? off::kState2 : off::kState1));
  return row;
}

int RowKindOf(const FoundDevice& device, int port) {
  if (device.portCount < 2) return corvane::settings::kSinglePortRow;
  return port == 2 ? corvane::settings::kSecondPortRow : corvane::settings::kFirstPortRow;
}

}  // namespace corvanectl
