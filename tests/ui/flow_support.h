// The fixture of the main window's flows against simulated devices: the window
// runs in a "pc" namespace and the devices in a "dev" namespace of the test's
// own, joined by a veth pair, so the fixed ports and the broadcasts never reach
// the machine's interfaces. Without namespaces (no root) SetUp skips the test
// and nothing is sent.
#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "devsim/simulator.h"
#include "main_window_support.h"
#include "netns.h"

namespace corvane::ui::testing {

// A simulated device answering at MakeRecord's address in the pair's /24,
// silent for `restartMs` after each restart.
inline devsim::DeviceConfig SimulatedDevice(const std::string& name, std::uint8_t macLast, int hostByte,
                                            bool twoPort, int restartMs) {
  devsim::DeviceConfig c;
  c.record = MakeRecord(name, macLast, hostByte, twoPort);
  c.record.netmask = 0xFFFFFF00;
  c.address = "198.51.100." + std::to_string(hostByte);
  c.timings.restartMs = restartMs;
  return c;
}

class FlowTest : public HeadlessTest {
 protected:
  std::unique_ptr<testnet::PcDevNetwork> net;
  std::unique_ptr<devsim::Simulator> sim;
  std::unique_ptr<testnet::Enter> inPc;

  void SetUp() override {
    HeadlessTest::SetUp();
    net = std::make_unique<testnet::PcDevNetwork>(
        std::vector<std::string>{"198.51.100.10", "198.51.100.11", "198.51.100.12"});
    if (!net->ok()) GTEST_SKIP() << "network namespaces unavailable: " << net->error();
    inPc = std::make_unique<testnet::Enter>(net->pc);
    ASSERT_TRUE(inPc->ok());
    hl::Platform().hostAddresses = {testnet::PcDevNetwork::kPcAddress};
    hl::Platform().adapters = {{"veth", "", testnet::PcDevNetwork::kPcAddress, "255.255.255.0"}};
  }
  void TearDown() override {
    if (sim) sim->Stop();
    inPc.reset();
    sim.reset();
    net.reset();
    HeadlessTest::TearDown();
  }

  // The simulated devices, opened in "dev". On the virtual clock they answer
  // while Run polls them; on their own clock (for flows in which the window
  // blocks) they answer on their own thread once started.
  void Network(const std::vector<devsim::DeviceConfig>& devices, bool virtualClock = true) {
    testnet::Enter inDev(net->dev);
    ASSERT_TRUE(inDev.ok());
    devsim::SimulatorOptions o;
    if (virtualClock) o.clock = [] { return hl::Now(); };
    sim = std::make_unique<devsim::Simulator>(o);
    for (const auto& d : devices) {
      std::string error;
      ASSERT_TRUE(sim->AddDevice(d, &error)) << error;
    }
    if (virtualClock) hl::SetModalOpenTime(hl::kDefaultModalOpenMs, [this] { DevicesAnswer(); });
  }

  // Virtual time in 10 ms steps; between steps the devices answer what
  // reached them and the window's sockets read the answers. With `stop`, runs
  // until it holds and fails the test when it does not hold within `ms`.
  void Run(std::uint64_t ms, const std::function<bool()>& stop = {}) {
    for (std::uint64_t t = 0; t < ms; t += 10) {
      DevicesAnswer();
      hl::Advance(10);
      if (stop && stop()) return;
    }
    if (stop) ADD_FAILURE() << "the awaited state was not reached within " << ms << " ms";
  }

  // The devices answer and the window's sockets read; also on each step of
  // a message box's modal loop.
  void DevicesAnswer() {
    sim->Poll(1);
    hl::PumpSockets(2);
  }

  void Search(CCorvaneDlg& dlg) {
    hl::ExpectModal("Searching", [](tk::CWnd& w) { hl::Click(w, tk::IDOK); });
    hl::Click(dlg, ids::kSearch);
    Run(1500);
  }

  // How many lines of the devices' log contain `text`.
  int Logged(const std::string& text) const {
    int n = 0;
    for (const auto& e : sim->Log()) n += e.text.find(text) != std::string::npos ? 1 : 0;
    return n;
  }
};

}  // namespace corvane::ui::testing
