// The Upgrade command against a simulated device: the window in a "pc"
// namespace, the device in a "dev" namespace of the test's own, so ports 67
// and 69 and the BOOTP broadcast stay inside the pair. While the image is
// served the window blocks, so the simulator runs on its own thread then.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <thread>

#include "corvane/upgrade/boot_exchange.h"
#include "corvane/upgrade/firmware_store.h"
#include "corvane/upgrade/upgrade_dlg.h"
#include "dhcp_stranger.h"
#include "flow_support.h"
#include "tk/socket.h"

namespace corvane::ui::testing {
namespace {

namespace fs = std::filesystem;
using tk::CWnd;

constexpr const char* kConfirm = "Do you really want to upgrade QN520xx firmware code?";
constexpr const char* kNoDevice = "No device has found.";

class UpgradeFlows : public FlowTest {
 protected:
  fs::path home, dir;

  void SetUp() override {
    FlowTest::SetUp();
    home = fs::current_path();
    dir = fs::temp_directory_path() / ("upgrade_flow_" + std::to_string(::getpid()));
    fs::remove_all(dir);
    fs::create_directories(dir);
    fs::current_path(dir);
  }
  void TearDown() override {
    if (!home.empty()) fs::current_path(home);
    if (!dir.empty()) fs::remove_all(dir);
    FlowTest::TearDown();
  }

  using FlowTest::Network;

  // One two-port device at 198.51.100.11 on the simulator's own clock.
  static devsim::DeviceConfig TwoPortDevice(bool inBootLoader = false) {
    devsim::DeviceConfig c = SimulatedDevice("two", 2, 11, true, 100);
    c.startInBootLoader = inBootLoader;
    c.timings.bootLoaderDelayMs = 0;
    return c;
  }
  void Network(bool inBootLoader = false) { Network({TwoPortDevice(inBootLoader)}, false); }

  void SearchAndTickTheDevice(CCorvaneDlg& dlg) {
    Search(dlg);
    ASSERT_EQ(dlg.m_list.GetItemCount(), 2);
    hl::ClickListCell(dlg.m_list, 1, kColName);
  }

  // The command; the window blocks while it serves the image, so the devices
  // answer on their own thread meanwhile.
  void Upgrade(CCorvaneDlg& dlg) {
    sim->Start();
    dlg.OnUpgrade();
    sim->Stop();
  }

  // The device found and ticked, fw.bin chosen on a first run (no store yet)
  // and confirmed, then the command.
  void UpgradeTheTickedDevice(CCorvaneDlg& dlg) {
    SearchAndTickTheDevice(dlg);
    hl::ExpectMessageBox(upgrade::kMsgStoreUnreadable);
    ExpectUpgradeDialog((dir / "fw.bin").string());
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    Upgrade(dlg);
  }

  // The dialog as the user fills it: the firmware path typed, OK.
  static void ExpectUpgradeDialog(const std::string& path) {
    hl::ExpectModal("Firmware Upgrade", [path](CWnd& w) {
      hl::Type(w, upgrade::ids::kFirmwarePath, path);
      hl::Click(w, tk::IDOK);
    });
  }

  static protocol::Bytes WriteImage(const std::string& name, std::size_t size) {
    protocol::Bytes image(size);
    for (std::size_t i = 0; i < image.size(); ++i) image[i] = static_cast<std::uint8_t>(i * 7 + i / 512);
    std::ofstream(name, std::ios::binary).write(reinterpret_cast<const char*>(image.data()), image.size());
    return image;
  }
  static std::string Received(const protocol::Bytes& image) {
    char text[80];
    std::snprintf(text, sizeof text, "image of %zu bytes received and checked, digest %08x", image.size(),
                  devsim::ImageDigest(image));
    return text;
  }
};

TEST_F(UpgradeFlows, TickedTwoPortDeviceGetsTheImageByteExactAndIsSearchedAgain) {
  Network();
  const protocol::Bytes image = WriteImage("fw.bin", 70'000);
  RunMainWindow([&](CCorvaneDlg& dlg) {
    UpgradeTheTickedDevice(dlg);
    EXPECT_EQ(dlg.m_statusText.rfind(" NO 1,2 upgrading ... ", 0), 0u) << dlg.m_statusText;
    EXPECT_NE(dlg.m_statusText.find("70000 of 70000 bytes sent"), std::string::npos) << dlg.m_statusText;
    EXPECT_EQ(dlg.m_progress.GetPos(), kProgressDone);
    EXPECT_EQ(hl::StartedProcesses().back(), "arp -d 198.51.100.1");
    EXPECT_TRUE(Logged("received 98 bytes by unicast from 198.51.100.1"));
    EXPECT_TRUE(Logged(Received(image)));
    EXPECT_TRUE(hl::HasTimer(dlg, ids::timer::kRestartWait));
    EXPECT_FALSE(dlg.GetDlgItem(ids::kSearch).IsWindowEnabled());
    // Timer 12 waits 1 + 15 s and searches again: the upgraded device is listed anew.
    Run(25000, [&] { return dlg.GetDlgItem(ids::kSearch).IsWindowEnabled(); });
    EXPECT_TRUE(dlg.GetDlgItem(ids::kSearch).IsWindowEnabled());
    EXPECT_EQ(dlg.m_list.GetItemCount(), 2);
    // Timer 10 ends without searching again: the device has answered.
    Run(30000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kUpgradeWait));
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kUpgradePacing));
    Run(2000);
    EXPECT_EQ(Logged("by broadcast"), 2);
    EXPECT_EQ(dlg.m_list.GetItemCount(), 2);
  });
}

// A boot loader that asks the moment the device restarts, and never again, is
// served: the server listens before the request goes out. "arp -d" runs
// between the request and the serving; it is held until that one BOOTP
// request has left the device.
TEST_F(UpgradeFlows, ABootLoaderAskingAtOnceAndOnlyOnceIsServed) {
  devsim::DeviceConfig device = TwoPortDevice();
  device.timings.bootpTries = 1;
  Network({device}, false);
  const protocol::Bytes image = WriteImage("fw.bin", 1000);
  hl::Platform().processRunner = [&](const std::string&) -> unsigned long {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(2);
    while (!sim->LogContains("BOOTP request sent") && std::chrono::steady_clock::now() < end)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(sim->LogContains("BOOTP request sent"));
    return 0;
  };
  RunMainWindow([&](CCorvaneDlg& dlg) {
    UpgradeTheTickedDevice(dlg);
    EXPECT_TRUE(Logged(Received(image)));
    Run(25000, [&] { return dlg.GetDlgItem(ids::kSearch).IsWindowEnabled(); });
    Run(30000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
  });
}

// Another DHCP client of the LAN asks just before the boot loader: the ticked
// device is known by its MAC address, so the stranger is offered nothing and
// the device gets the image.
TEST_F(UpgradeFlows, AStrangersDhcpRequestIsNotAnswered) {
  devsim::DeviceConfig device = TwoPortDevice();
  device.timings.bootLoaderDelayMs = 300;
  Network({device}, false);
  const protocol::Bytes image = WriteImage("fw.bin", 1000);
  testnet::DhcpStranger stranger(net->dev);
  ASSERT_TRUE(stranger.ok());
  // "arp -d" runs once the server listens and the device has been told.
  hl::Platform().processRunner = [&](const std::string&) -> unsigned long {
    EXPECT_TRUE(stranger.Ask());
    return 0;
  };
  RunMainWindow([&](CCorvaneDlg& dlg) {
    UpgradeTheTickedDevice(dlg);
    EXPECT_TRUE(Logged(Received(image)));
    EXPECT_FALSE(stranger.WasOffered());
    Run(25000, [&] { return dlg.GetDlgItem(ids::kSearch).IsWindowEnabled(); });
    Run(30000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
  });
}

// Timer 10: when no device answered the search after the restart wait, the
// last search is repeated once more.
TEST_F(UpgradeFlows, Timer10SearchesAgainWhenNoDeviceAnswered) {
  Network();
  WriteImage("fw.bin", 1000);
  RunMainWindow([&](CCorvaneDlg& dlg) {
    UpgradeTheTickedDevice(dlg);
    sim->WithDevice(0, [](devsim::Device& d) { d.faults().noAnswer = true; });
    hl::ExpectMessageBox(kNoDevice);  // the search after the restart wait
    Run(25000, [&] { return Logged("by broadcast") == 2; });
    hl::ExpectMessageBox(kNoDevice);  // timer 10's own search
    Run(40000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
    Run(2000);
    EXPECT_EQ(Logged("by broadcast"), 3);
  });
}

// No ticked row: "CVN1" goes to the stored address and the boot loader waiting
// there is served and offered that address.
TEST_F(UpgradeFlows, NoTickedRowUpgradesTheBootLoaderAtTheStoredAddress) {
  Network(true);
  const protocol::Bytes image = WriteImage("fw.bin", 1024);
  std::ofstream(upgrade::kFirmwareStoreName) << "old.bin\n198.51.100.11\n";
  RunMainWindow([&](CCorvaneDlg& dlg) {
    hl::ExpectModal("Firmware Upgrade", [&](CWnd& w) {
      EXPECT_TRUE(w.GetDlgItem(upgrade::ids::kBootLoaderAddress).IsWindowEnabled());
      hl::Type(w, upgrade::ids::kFirmwarePath, (dir / "fw.bin").string());  // typed: kept with its "/"
      hl::Click(w, tk::IDOK);
    });
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    Upgrade(dlg);
    EXPECT_TRUE(Logged("received 73 bytes by unicast from 198.51.100.1"));
    EXPECT_TRUE(Logged("upgrade request in the boot loader"));
    EXPECT_TRUE(Logged(Received(image)));
    EXPECT_EQ(dlg.m_clientAddress, tk::InetAddr("198.51.100.11"));
    Run(25000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
  });
}

// What is refused before the device is told anything: it never enters its
// boot loader, and no upgrade request or "arp -d" goes out.
TEST_F(UpgradeFlows, RefusalsBeforeTheRequestLeaveTheDeviceAlone) {
  Network();
  std::ofstream("big.bin") << "x";
  fs::resize_file("big.bin", upgrade::kMaxImageSize + 1);  // sparse
  WriteImage("fw.bin", 1000);
  struct Case {
    const char* name;
    std::string path;
    unsigned heldPort;  // held by another program; 0: none
    std::string message;
  } cases[] = {
      {"deleted file", (dir / "gone.bin").string(), 0, "Can not open the production firmware file!!"},
      {"no path", "", 0, "Please press 'Setting' button to set the production firmware path first !!"},
      {"image too large", (dir / "big.bin").string(), 0,
       upgrade::ServeStatusMessage(upgrade::ServeStatus::FileTooLarge)},
      {"port 67 in use", (dir / "fw.bin").string(), 67, "Invalid IP or Port 67 already in use"},
      {"port 69 in use", (dir / "fw.bin").string(), 69, "Invalid IP or Port 69 already in use"},
  };
  RunMainWindow([&](CCorvaneDlg& dlg) {
    SearchAndTickTheDevice(dlg);
    {
      SCOPED_TRACE("two ticked rows");
      hl::ClickListCell(dlg.m_list, 0, kColName);
      hl::ExpectMessageBox("Please set ONE device server each time !!");
      dlg.OnUpgrade();
      hl::ClickListCell(dlg.m_list, 0, kColName);
    }
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      tk::BlockingUdpSocket other;
      if (c.heldPort != 0) {
        ASSERT_TRUE(other.Open() && other.Bind(c.heldPort));
      }
      if (!fs::exists(upgrade::kFirmwareStoreName)) hl::ExpectMessageBox(upgrade::kMsgStoreUnreadable);
      ExpectUpgradeDialog(c.path);
      hl::ExpectMessageBox(kConfirm, tk::IDYES);
      hl::ExpectMessageBox(c.message);
      dlg.OnUpgrade();
      Run(100);
      EXPECT_EQ(hl::MessageBoxes().back().caption, kProgramName);
    }
    EXPECT_FALSE(Logged("code 5"));
    EXPECT_FALSE(Logged("boot loader"));
    EXPECT_TRUE(hl::StartedProcesses().empty());
    Run(25000, [&] {
      return dlg.GetDlgItem(ids::kSearch).IsWindowEnabled() && !hl::HasTimer(dlg, ids::timer::kUpgradeWait);
    });
  });
}

// No ticked row and the store gone (a folder of its name, which can be neither
// read nor written): both of the command's messages, and no request, as there
// is no address to send it to. A boot loader that asks anyway is served and
// offered the address the dialog was closed with.
TEST_F(UpgradeFlows, StoreMissingWithoutATickedRowSendsNoRequest) {
  Network(true);
  const protocol::Bytes image = WriteImage("fw.bin", 1000);
  fs::create_directory(upgrade::kFirmwareStoreName);
  auto expectError = [](std::string text, const std::function<void()>& meanwhile = {}) {
    hl::ExpectMessageBox([text, meanwhile](const hl::MessageBoxCall& call) {
      EXPECT_EQ(call.text, text);
      EXPECT_EQ(call.caption, "ERROR");
      if (meanwhile) meanwhile();
      return tk::IDOK;
    });
  };
  RunMainWindow([&](CCorvaneDlg& dlg) {
    expectError(upgrade::kMsgStoreUnreadable);
    hl::ExpectModal("Firmware Upgrade", [&](CWnd& w) {
      hl::Type(w, upgrade::ids::kFirmwarePath, (dir / "fw.bin").string());
      hl::Type(w, upgrade::ids::kBootLoaderAddress, "198.51.100.11");
      hl::Click(w, tk::IDOK);
    });
    expectError(upgrade::kMsgStoreUnwritable);
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    expectError("Couldn't find the fwupdate.dat file!!");
    expectError("DF_SendUpgReq: Couldn't find the fwupdate.dat file for reading data!!", [&] {
      // The device was left in its boot loader by an earlier attempt; it asks now.
      sim->WithDevice(0, [](devsim::Device& d) {
        std::vector<devsim::Outgoing> ignored;
        d.OnManagement(devsim::Listener::Unicast, protocol::BuildBootLoaderUpgradeRequest(),
                       "an earlier attempt", 0, 0, ignored);
      });
    });
    Upgrade(dlg);
    EXPECT_FALSE(Logged("by unicast from 198.51.100.1"));
    EXPECT_TRUE(Logged(Received(image)));
    EXPECT_EQ(dlg.m_clientAddress, tk::InetAddr("198.51.100.11")) << "the address the dialog was closed with";
    Run(60000, [&] { return !hl::HasTimer(dlg, ids::timer::kUpgradeWait); });
  });
}

}  // namespace
}  // namespace corvane::ui::testing
