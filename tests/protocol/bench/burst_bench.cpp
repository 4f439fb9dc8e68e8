// Benchmark: a burst of N device replies arriving at once at the broadcast
// transport. Prints how many of the N replies landed in the receive ring and
// how long the burst took, for N = 64 and 256. Needs root for its network
// namespaces; nothing leaves them.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>

#include "corvane/protocol/broadcast_socket.h"
#include "devsim/device.h"
#include "netns.h"
#include "send_guard.h"
#include "tk/headless.h"

namespace {

using namespace corvane::protocol;

devsim::DeviceConfig Device(int i) {
  devsim::DeviceConfig c;
  c.record.name = "burst";
  c.record.mac = {0x02, 0x00, 0x5E, 0x01, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
  c.record.portCount = i % 2 == 0 ? 1 : 2;
  c.address = "198.51.100.10";
  return c;
}

bool RunBurst(int n) {
  testnet::PcDevNetwork net({"198.51.100.10"});
  if (!net.ok()) {
    std::printf("skipped: %s\n", net.error().c_str());
    return false;
  }
  int blaster = -1;
  {
    testnet::Enter inDev(net.dev);
    if (inDev.ok()) blaster = ::socket(AF_INET, SOCK_DGRAM, 0);
  }
  testnet::Enter inPc(net.pc);
  CBroadcastSocket b;
  if (blaster < 0 || !inPc.ok() || !b.Open(kPcBroadcastPort)) {
    if (blaster >= 0) ::close(blaster);
    std::printf("skipped: cannot open the sockets\n");
    return false;
  }
  std::vector<Bytes> replies;
  for (int i = 0; i < n; ++i) replies.push_back(devsim::Device(Device(i)).Reply(0x01));
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(kPcBroadcastPort);
  to.sin_addr.s_addr = inet_addr(testnet::PcDevNetwork::kPcAddress);
  const auto start = std::chrono::steady_clock::now();
  for (const Bytes& r : replies) testguard::GuardedSendTo(blaster, r.data(), r.size(), 0, to);
  tk::headless::PumpUntil([&] { return b.Received().FilledSlots() == n; }, 2000);
  const auto ms = std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
  ::close(blaster);
  std::printf("N=%3d: %3d of %3d replies arrived in the ring in %.2f ms (receive buffer %d bytes)\n", n,
              b.Received().FilledSlots(), n, ms, b.GetReceiveBufferSize());
  return true;
}

}  // namespace

int main() {
  tk::headless::Reset();
  testguard::Install();
  for (int n : {64, 256}) {
    if (!RunBurst(n)) return 0;
  }
  return 0;
}
