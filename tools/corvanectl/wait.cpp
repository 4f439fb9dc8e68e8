// The wait for restarting devices.
#include "corvanectl/wait.h"

#include <algorithm>
#include <chrono>

#include "corvanectl/oplog.h"
#include "tk/socket.h"

namespace corvanectl {

namespace protocol = corvane::protocol;

namespace {

using Clock = std::chrono::steady_clock;

int MsUntil(Clock::time_point when) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(when - Clock::now()).count();
  return static_cast<int>(std::max<long long>(0, left));
}

// One round of questions to every device not yet back.
void AskThoseNotBack(tk::BlockingUdpSocket& socket, const std::vector<ComeBack>& devices) {
  const Bytes request = protocol::BuildSearchRequest();
  const int size = static_cast<int>(request.size());
  bool broadcast = false;
  for (const ComeBack& d : devices) {
    if (d.back) continue;
    oplog::SendTo(socket, request.data(), size, protocol::kDeviceUnicastPort, d.device.address);
    for (const std::string& address : d.alsoAt) {
      oplog::SendTo(socket, request.data(), size, protocol::kDeviceUnicastPort, address);
    }
    broadcast = broadcast || d.byBroadcast;
  }
  if (broadcast) {
    oplog::SendTo(socket, request.data(), size, protocol::kDeviceBroadcastPort,
                  protocol::kDefaultBroadcastAddress);
  }
}

// Takes one datagram: a search reply of a device being waited for marks it back.
void TakeAnswer(tk::BlockingUdpSocket& socket, std::vector<ComeBack>& devices) {
  std::uint8_t buffer[2048];
  std::string sender;
  unsigned senderPort = 0;
  const int n = oplog::ReceiveFrom(socket, buffer, sizeof buffer, sender, senderPort);
  FoundDevice answer;
  if (!TakeSearchReply(buffer, n, answer)) return;
  for (ComeBack& d : devices) {
    if (d.back || answer.MacText() != d.device.MacText()) continue;
    answer.address = sender;
    d.device = std::move(answer);
    d.back = true;
    d.backAt = std::chrono::steady_clock::now();
    return;
  }
}

}  // namespace

bool AwaitComeBack(std::vector<ComeBack>& devices, const ComeBackTiming& timing, std::string& error) {
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.SetBroadcast(true) || !socket.Bind(0)) {
    error = "cannot open a UDP socket (error " + std::to_string(socket.GetLastError()) + ")";
    return false;
  }
  const auto start = Clock::now();
  const auto end = start + std::chrono::milliseconds(std::max(0, timing.limitMs));
  // A short limit shortens the quiet start too, so that at least one round is asked.
  auto nextRound = start + std::chrono::milliseconds(std::clamp(timing.quietMs, 0, timing.limitMs / 2));
  const auto pending = [&] {
    return std::any_of(devices.begin(), devices.end(), [](const ComeBack& d) { return !d.back; });
  };
  while (pending() && Clock::now() < end) {
    if (Clock::now() >= nextRound) {
      AskThoseNotBack(socket, devices);
      nextRound = Clock::now() + std::chrono::milliseconds(std::max(1, timing.probeMs));
    }
    const int ready = socket.WaitReadable(std::min(MsUntil(nextRound), MsUntil(end)));
    if (ready < 0) break;  // the socket is broken: whoever is not back stays so
    if (ready > 0) TakeAnswer(socket, devices);
  }
  return true;
}

std::string SecondsText(int ms) {
  std::string text = std::to_string(ms / 1000);
  if (ms % 1000 != 0) {
    text += "." + std::to_string(1000 + ms % 1000).substr(1);
    while (text.back() == '0') text.pop_back();
  }
  return text;
}

}  // namespace corvanectl
