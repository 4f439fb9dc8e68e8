// Searches, target lookups and requests of the command-line companion.
#include "corvanectl/devices.h"

#include <algorithm>
#include <chrono>

#include "corvane/settings/setting_items.h"
#include "corvanectl/oplog.h"
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

}  // namespace

bool TakeSearchReply(const std::uint8_t* data, int length, FoundDevice& device) {
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

Fault Search(const SearchOptions& options, std::vector<FoundDevice>& found) {
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.SetBroadcast(true) || !socket.Bind(0)) {
    return {Failure::Network,
            "cannot open a UDP socket (error " + std::to_string(socket.GetLastError()) + ")"};
  }
  const Destination to = DestinationOf(options);
  const Bytes request = protocol::BuildSearchRequest();
  int sent = 0;
  std::string firstFailure;
  for (std::size_t i = 0; i <= options.alsoTo.size(); ++i) {
    const std::string& address = i == 0 ? to.address : options.alsoTo[i - 1];
    if (oplog::SendTo(socket, request.data(), static_cast<int>(request.size()), to.port, address) >= 0) {
      ++sent;
    } else if (firstFailure.empty()) {
      firstFailure =
          "cannot send the search to " + address + " (error " + std::to_string(socket.GetLastError()) + ")";
    }
  }
  if (sent == 0) return {Failure::Network, firstFailure};
  // The search ends after a quiet spell: `waitMs` without a new reply, so a
  // site whose answers are still coming in is listed whole however late the
  // last ones are. Devices that never stop answering cannot hold it forever.
  using Clock = std::chrono::steady_clock;
  const auto quiet = std::chrono::milliseconds(std::max(0, options.waitMs));
  const auto start = Clock::now();
  const auto latest = start + quiet * kSearchLimitFactor;
  auto end = start + quiet;
  std::uint8_t buffer[2048];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0 || socket.WaitReadable(static_cast<int>(left)) <= 0) break;
    std::string sender;
    unsigned senderPort = 0;
    const int n = oplog::ReceiveFrom(socket, buffer, sizeof buffer, sender, senderPort);
    FoundDevice device;
    if (!TakeSearchReply(buffer, n, device)) continue;
    // A directed search counts only the device asked.
    if (options.kind == SearchKind::Unicast && sender != options.address) continue;
    end = std::min(Clock::now() + quiet, latest);
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
  return {};
}

Fault FindTarget(const std::string& target, int waitMs, FoundDevice& device) {
  protocol::MacAddress mac{};
  const bool byMac = protocol::ParseMacText(target, mac);
  SearchOptions options;
  options.waitMs = waitMs;
  if (!byMac) {
    if (!corvane::settings::IsDottedQuad(target)) {
      return {Failure::Usage, "\"" + target + "\" is neither an IP address nor a MAC address"};
    }
    options.kind = SearchKind::Unicast;
    options.address = target;
  }
  std::vector<FoundDevice> found;
  if (Fault fault = Search(options, found); fault.Failed()) return fault;
  const std::string macText = byMac ? protocol::MacText(mac) : std::string();
  for (auto& f : found) {
    if (!byMac || f.MacText() == macText) {
      device = std::move(f);
      return {};
    }
  }
  return {Failure::NoAnswer, "no answer from " + target};
}

Fault SendAndAwaitReply(const FoundDevice& device, const Bytes& request, int replyCode, int waitMs) {
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.Bind(0)) return {Failure::Network, "cannot open a UDP socket"};
  if (oplog::SendTo(socket, request.data(), static_cast<int>(request.size()), protocol::kDeviceUnicastPort,
                    device.address) < 0) {
    return {Failure::Network, "cannot send to " + device.address};
  }
  using Clock = std::chrono::steady_clock;
  const auto end = Clock::now() + std::chrono::milliseconds(std::max(0, waitMs));
  std::uint8_t buffer[2048];
  for (;;) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count();
    if (left <= 0 || socket.WaitReadable(static_cast<int>(left)) <= 0) break;
    std::string sender;
    unsigned senderPort = 0;
    const int n = oplog::ReceiveFrom(socket, buffer, sizeof buffer, sender, senderPort);
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
    return {};
  }
  return {Failure::NoAnswer, "no acknowledgement"};
}

std::optional<std::string> PortInUse(const FoundDevice& device) {
  for (int port = 1; port <= device.portCount; ++port) {
    const int state = protocol::Get8(device.bytes, port == 2 ? off::kState2 : off::kState1);
    if (state == protocol::kStateIdle) continue;
    return "serial port " + std::to_string(port) + " is in use (" +
           (state == protocol::kStateConnected ? std::string("Connected")
                                               : "state " + std::to_string(state)) +
           ")";
  }
  return std::nullopt;
}

int RowKindOf(const FoundDevice& device, int port) {
  if (device.portCount < 2) return corvane::settings::kSinglePortRow;
  return port == 2 ? corvane::settings::kSecondPortRow : corvane::settings::kFirstPortRow;
}

}  // namespace corvanectl
