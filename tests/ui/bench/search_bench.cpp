// Benchmark: N simulated devices answer one broadcast search of the main
// window. Prints, for N = 16, 64 and 256, how many rows were listed and the
// virtual and real time until the last row was written. Needs root for its
// network namespaces; nothing leaves them.
#include <chrono>
#include <cstdio>
#include <memory>

#include "corvane/ui/main_dlg.h"
#include "devsim/simulator.h"
#include "netns.h"
#include "tk/headless.h"

namespace {

namespace hl = tk::headless;
using corvane::ui::CCorvaneDlg;

constexpr const char* kDeviceAddress = "198.51.100.10";

devsim::DeviceConfig Device(int i) {
  devsim::DeviceConfig c;
  c.record.code = corvane::protocol::kReplySearch;
  c.record.name = "bench";
  c.record.mac = {0x02, 0x00, 0x5E, 0x01, static_cast<std::uint8_t>(i >> 8), static_cast<std::uint8_t>(i)};
  c.record.portCount = 1;
  c.record.ports[0].dataPort = 4001;
  c.address = kDeviceAddress;
  return c;
}

bool RunSearch(int n) {
  hl::Reset();
  hl::SetFailureHandler([](const std::string& f) { std::printf("unexpected: %s\n", f.c_str()); });
  testnet::PcDevNetwork net({kDeviceAddress});
  if (!net.ok()) {
    std::printf("skipped: %s\n", net.error().c_str());
    return false;
  }
  std::unique_ptr<devsim::Simulator> sim;
  {
    testnet::Enter inDev(net.dev);
    devsim::SimulatorOptions o;
    o.unicastPort = 0;  // the devices share one address
    o.keepLog = false;
    o.clock = [] { return hl::Now(); };
    sim = std::make_unique<devsim::Simulator>(o);
    for (int i = 0; i < n; ++i) sim->AddDevice(Device(i));
  }
  testnet::Enter inPc(net.pc);
  hl::Platform().hostAddresses = {testnet::PcDevNetwork::kPcAddress};
  hl::Platform().adapters = {{"veth", "", testnet::PcDevNetwork::kPcAddress, "255.255.255.0"}};

  auto dlg = std::make_unique<CCorvaneDlg>();
  int rows = 0;
  std::uint64_t virtualMs = 0;
  double realMs = 0;
  hl::ExpectModal(corvane::ui::kMainTitle, [&](tk::CWnd&) {
    hl::ExpectModal("Searching", [](tk::CWnd& w) { hl::Click(w, tk::IDOK); });
    const std::uint64_t start = hl::Now();
    const auto realStart = std::chrono::steady_clock::now();
    hl::Click(*dlg, corvane::ui::ids::kSearch);
    while (hl::HasTimer(*dlg, corvane::ui::ids::timer::kBroadcastSearch) && hl::Now() - start < 60000) {
      sim->Poll(0);
      hl::PumpSockets(1);
      hl::Advance(10);
      if (dlg->m_list.GetItemCount() > rows) {
        rows = dlg->m_list.GetItemCount();
        virtualMs = hl::Now() - start;
        realMs =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - realStart).count();
      }
    }
    dlg->EndDialog(tk::IDCANCEL);
  });
  dlg->DoModal();
  std::printf("N=%3d: %3d rows listed; last row after %5llu ms virtual, %8.1f ms real\n", n, rows,
              static_cast<unsigned long long>(virtualMs), realMs);
  return true;
}

}  // namespace

int main() {
  for (int n : {16, 64, 256}) {
    if (!RunSearch(n)) return 0;
  }
  return 0;
}
