// The main window's flows on the virtual clock against simulated devices: the
// window runs in a "pc" namespace and the devices in a "dev" namespace of the
// test's own, joined by a veth pair, so the fixed ports and the broadcast
// never reach the machine's interfaces.
#include <gtest/gtest-spi.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "corvane/protocol/search_dlg_ids.h"
#include "flow_support.h"

namespace corvane::ui::testing {
namespace {

using tk::CWnd;

devsim::DeviceConfig Device(const std::string& name, std::uint8_t macLast, int hostByte, bool twoPort) {
  return SimulatedDevice(name, macLast, hostByte, twoPort, 2000);
}

class Flows : public FlowTest {
 protected:
  std::vector<std::string> Column(CCorvaneDlg& dlg, int column) {
    std::vector<std::string> texts;
    for (int row = 0; row < dlg.m_list.GetItemCount(); ++row)
      texts.push_back(dlg.m_list.GetCellText(row, column));
    return texts;
  }

  std::vector<std::uint64_t> LoggedTimes(const std::string& text) {
    std::vector<std::uint64_t> times;
    for (const auto& e : sim->Log())
      if (e.text.find(text) != std::string::npos) times.push_back(e.timeMs);
    return times;
  }
};

using Names = std::vector<std::string>;

TEST_F(Flows, BroadcastSearchListsOneAndTwoPortDevicesAndEndsAfterAQuietPeriod) {
  Network({Device("one", 1, 10, false), Device("two", 2, 11, true)});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    hl::ExpectModal("Searching", [](CWnd& w) { hl::Click(w, tk::IDOK); });
    hl::Click(dlg, ids::kSearch);
    EXPECT_EQ(dlg.m_statusText, " Searching ...");
    EXPECT_FALSE(dlg.GetDlgItem(ids::kSearch).IsWindowEnabled());
    Run(900);
    EXPECT_TRUE(hl::HasTimer(dlg, ids::timer::kBroadcastSearch)) << "still inside the quiet period";
    EXPECT_EQ(dlg.m_progress.GetPos(), kProgressSearching);
    Run(300);
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kBroadcastSearch));
    EXPECT_EQ(Column(dlg, kColName), (Names{"one", "two", "two"}));
    EXPECT_EQ(Column(dlg, kColNumber), (Names{"1", "2", "3"}));
    EXPECT_EQ(Column(dlg, kColPort), (Names{"4001", "4001", "4002"}));
    EXPECT_EQ(dlg.m_statusText, " Idle");
    EXPECT_EQ(dlg.m_progress.GetPos(), kProgressDone);
    for (int id :
         {ids::kSearch, ids::kIPSearch, ids::kSetting, ids::kDeviceSetup, ids::kRestore, ids::kReboot})
      EXPECT_TRUE(dlg.GetDlgItem(id).IsWindowEnabled()) << id;
    EXPECT_FALSE(dlg.GetDlgItem(ids::kWebBrowser).IsWindowEnabled());
  });
}

TEST_F(Flows, IPSearchEndsOnTheFirstReply) {
  Network({Device("one", 1, 10, false), Device("two", 2, 11, true)});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    hl::ExpectModal("IP Searching", [](CWnd& w) {
      hl::Type(w, protocol::ids::kIpSearchAddress, "198.51.100.11");
      hl::Click(w, tk::IDOK);
    });
    hl::Click(dlg, ids::kIPSearch);
    Run(100, [&] { return !hl::HasTimer(dlg, ids::timer::kIPSearch); });
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kIPSearch));
    EXPECT_LE(hl::Now(), 50u);
    EXPECT_EQ(Column(dlg, kColName), (Names{"two", "two"}));
    for (int id : {ids::kDeviceSetup, ids::kRestore, ids::kReboot, ids::kSearch})
      EXPECT_TRUE(dlg.GetDlgItem(id).IsWindowEnabled()) << id;
  });
}

TEST_F(Flows, NoDeviceAnsweringReportsIt) {
  Network({Device("gone", 1, 10, false)});
  sim->WithDevice(0, [](devsim::Device& d) { d.faults().noAnswer = true; });
  RunMainWindow([&](CCorvaneDlg& dlg) {
    hl::ExpectMessageBox([](const hl::MessageBoxCall& m) {
      EXPECT_EQ(m.text, "No device has found.");
      EXPECT_EQ(m.caption, "Searching Result");
      EXPECT_EQ(m.type, tk::MB_OK | tk::MB_ICONINFORMATION);
      return tk::IDOK;
    });
    Search(dlg);
    EXPECT_FALSE(dlg.GetDlgItem(ids::kRestore).IsWindowEnabled());
  });
}

TEST_F(Flows, RestoreWithAcknowledgementRestartWaitAndRefresh) {
  Network({Device("one", 1, 10, false), Device("two", 2, 11, true)});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    dlg.m_settingDlg.m_rebootPeriod = 10;
    Search(dlg);
    hl::ClickListCell(dlg.m_list, 2, kColName);  // the second port of "two"
    hl::ExpectMessageBox(
        "This operation will return the device's default setting and reboot.\r\nDo you want to proceed ?",
        tk::IDYES);
    hl::Click(dlg, ids::kRestore);
    EXPECT_EQ(dlg.m_statusText, " NO 2,3 Resetting ...");
    Run(1000, [&] { return hl::HasTimer(dlg, ids::timer::kRestartWait); });
    ASSERT_TRUE(hl::HasTimer(dlg, ids::timer::kRestartWait));
    EXPECT_EQ(Logged("received 9 bytes by unicast"), 1);
    EXPECT_EQ(Logged("restarting (factory settings restored)"), 1);
    EXPECT_EQ(hl::StartedProcesses(), (std::vector<std::string>{"arp -d"}));
    // Restart wait: ticked count + reboot period seconds, then a refresh search.
    Run(10500);
    EXPECT_TRUE(hl::HasTimer(dlg, ids::timer::kRestartWait));
    Run(3500);
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRestartWait));
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kBroadcastSearch));
    EXPECT_EQ(Column(dlg, kColName), (Names{"one", "two", "two"}));
    EXPECT_EQ(dlg.m_operationPending, 0);
    EXPECT_EQ(dlg.m_statusText, " Idle");
  });
}

TEST_F(Flows, RebootOfThreeDevicesOnePerSecondThenPauseAndRefresh) {
  Network({Device("a", 1, 10, false), Device("b", 2, 11, false), Device("c", 3, 12, false)});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    dlg.m_settingDlg.m_rebootPeriod = 10;
    Search(dlg);
    for (int row = 0; row < 3; ++row) hl::ClickListCell(dlg.m_list, row, kColName);
    hl::ExpectMessageBox("Do you really want to REBOOT device(s) ?", tk::IDYES);
    const std::uint64_t start = hl::Now();
    hl::Click(dlg, ids::kReboot);
    EXPECT_EQ(dlg.m_statusText, " NO 3 Rebooting ...");
    Run(4000);
    const auto times = LoggedTimes("reboot requested");
    ASSERT_EQ(times.size(), 3u);
    EXPECT_GE(times[1] - times[0], 1000u);
    EXPECT_GE(times[2] - times[1], 1000u);
    EXPECT_GE(times[0] - start, 1000u);
    Run(16000, [&] { return hl::SleptMs() > 0; });
    EXPECT_EQ(hl::SleptMs(), 3u * 1200u);
    Run(1500);
    EXPECT_EQ(Column(dlg, kColName), (Names{"a", "b", "c"}));
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRebootWait));
    EXPECT_EQ(dlg.m_statusText, " Idle");
  });
}

// A device in use, one that does not answer, and a missing acknowledgement,
// each with its message.
TEST_F(Flows, RestoreFailuresAndTheirMessages) {
  struct Case {
    const char* label;
    int stateOfPort;
    bool silentBeforeQuery;
    bool silentAfterQuery;
    const char* message;
    const char* caption;
    const char* status;
    std::uint64_t messageAtMs;  // after the click; 0: not checked
  } cases[] = {
      {"in use", 1, false, false, "Device NO.1 is under working.", "Warning !!", "Connected", 0},
      // The query goes out on the first 10 ms step; its answer is awaited for the
      // search period (10 ticks of 100 ms) and one tick more.
      {"no answer", 0, true, false, "Device NO.1 is disconnected.", "Warning !!", "Disconnected", 1110},
      {"no acknowledgement", 0, false, true, "Device NO.1 resets failed.", "Setting Result", "Idle", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (sim) {  // each case on a fresh window, network and devices
      TearDown();
      SetUp();
    }
    devsim::DeviceConfig d = Device("one", 1, 10, false);
    d.record.ports[0].state = static_cast<std::uint8_t>(c.stateOfPort);
    Network({d});
    RunMainWindow([&](CCorvaneDlg& dlg) {
      Search(dlg);
      hl::ClickListCell(dlg.m_list, 0, kColName);
      if (c.silentBeforeQuery) sim->WithDevice(0, [](devsim::Device& dev) { dev.faults().noAnswer = true; });
      hl::ExpectMessageBox(
          "This operation will return the device's default setting and reboot.\r\nDo you want to proceed ?",
          tk::IDYES);
      const std::uint64_t clicked = hl::Now();
      hl::Click(dlg, ids::kRestore);
      if (c.silentAfterQuery) {
        Run(1000, [&] { return hl::HasTimer(dlg, ids::timer::kRestoreAck); });
        sim->WithDevice(0, [](devsim::Device& dev) { dev.faults().noAnswer = true; });
      }
      hl::ExpectMessageBox([&](const hl::MessageBoxCall& m) {
        EXPECT_EQ(m.text, c.message);
        EXPECT_EQ(m.caption, c.caption);
        if (c.messageAtMs != 0) {  // the confirmation and this box each stay open a while
          EXPECT_EQ(hl::Now() - clicked, c.messageAtMs + 2 * hl::kDefaultModalOpenMs);
        }
        return tk::IDOK;
      });
      Run(12000,
          [&] { return hl::MessageBoxes().size() > 0 && hl::MessageBoxes().back().text == c.message; });
      EXPECT_EQ(dlg.m_list.GetCellText(0, kColStatus), c.status);
      EXPECT_EQ(dlg.m_progress.GetPos(), kProgressDone);
      EXPECT_TRUE(dlg.GetDlgItem(ids::kSearch).IsWindowEnabled());
      EXPECT_EQ(hl::Timers().size(), 1u) << "only the clock is left";
    });
  }
}

// Reboot skips a listed device that is in use or silent: its row loses its
// tick and the next device is still rebooted. Once a reboot request has gone
// out the reboot wait alone ends the Reboot (pause, refresh search) with no
// warning; only a Reboot that skipped every device warns about the last one.
TEST_F(Flows, RebootSkipsADeviceInUseOrSilent) {
  enum Trouble { kFine, kInUse, kSilent };
  struct Case {
    const char* label;
    Trouble trouble[2];
    const char* warning;     // nullptr: the reboot wait ends the Reboot
    const char* lastStatus;  // of the last row when the warning ends it
  } cases[] = {
      {"first in use", {kInUse, kFine}, nullptr, nullptr},
      {"first silent", {kSilent, kFine}, nullptr, nullptr},
      {"last silent", {kFine, kSilent}, nullptr, nullptr},
      {"all skipped, last in use", {kSilent, kInUse}, "Device NO.2 is under working.", "Connected"},
      {"all skipped, last silent", {kInUse, kSilent}, "Device NO.2 is disconnected.", "Disconnected"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (sim) {  // each case on a fresh window, network and devices
      TearDown();
      SetUp();
    }
    std::vector<devsim::DeviceConfig> devices{Device("a", 1, 10, false), Device("b", 2, 11, false)};
    for (int i = 0; i < 2; ++i)
      if (c.trouble[i] == kInUse) devices[i].record.ports[0].state = 1;
    Network(devices);
    RunMainWindow([&](CCorvaneDlg& dlg) {
      dlg.m_settingDlg.m_rebootPeriod = 10;
      Search(dlg);
      for (int i = 0; i < 2; ++i) {
        hl::ClickListCell(dlg.m_list, i, kColName);
        if (c.trouble[i] == kSilent)
          sim->WithDevice(i, [](devsim::Device& d) { d.faults().noAnswer = true; });
      }
      hl::ExpectMessageBox("Do you really want to REBOOT device(s) ?", tk::IDYES);
      if (c.warning)
        hl::ExpectMessageBox([&](const hl::MessageBoxCall& m) {
          EXPECT_EQ(m.text, c.warning);
          EXPECT_EQ(m.caption, "Warning !!");
          return tk::IDOK;
        });
      const std::uint64_t start = hl::Now();
      hl::Click(dlg, ids::kReboot);
      Run(5000);  // one device a second, each with its state wait
      const std::vector<devsim::LogEntry> log = sim->Log();
      for (int row = 0; row < 2; ++row) {
        EXPECT_FALSE(dlg.m_list.GetRowStates(row) & reportctrl::kRowChecked) << "row " << row;
        const auto reboot = std::find_if(log.begin(), log.end(), [&](const devsim::LogEntry& e) {
          return e.device == devices[row].record.name && e.text.find("reboot requested") != std::string::npos;
        });
        EXPECT_EQ(reboot != log.end(), c.trouble[row] == kFine) << "row " << row;
        if (reboot != log.end()) {  // the pacing timer queries one listed device a second
          EXPECT_GE(reboot->timeMs - start, 1000u * (row + 1)) << "row " << row;
        }
      }
      EXPECT_EQ(hl::HasTimer(dlg, ids::timer::kRebootWait), c.warning == nullptr);
      EXPECT_EQ(dlg.GetDlgItem(ids::kReboot).IsWindowEnabled(), c.warning != nullptr) << "the end is held";
      if (c.warning) {
        EXPECT_EQ(hl::MessageBoxes().size(), 2u);
        EXPECT_EQ(dlg.m_list.GetCellText(1, kColStatus), c.lastStatus);
        EXPECT_EQ(dlg.m_progress.GetPos(), kProgressDone);
        EXPECT_EQ(hl::Timers().size(), 1u) << "only the clock is left";
        EXPECT_EQ(dlg.m_statusText, " Idle");
        return;
      }
      Run(12000, [&] { return hl::SleptMs() > 0; });
      EXPECT_EQ(hl::SleptMs(), 2u * 1200u);
      Run(1500);
      EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRebootWait));
      EXPECT_TRUE(dlg.GetDlgItem(ids::kReboot).IsWindowEnabled());
      EXPECT_EQ(dlg.m_statusText, " Idle");
    });
  }
}

// A waited-for state that never comes fails the test by itself.
TEST_F(Flows, RunFailsWhenItsStopIsNeverReached) {
  Network({});
  ::testing::TestPartResultArray failures;
  {
    ::testing::ScopedFakeTestPartResultReporter reporter(
        ::testing::ScopedFakeTestPartResultReporter::INTERCEPT_ONLY_CURRENT_THREAD, &failures);
    Run(50, [] { return false; });
    Run(50, [] { return true; });
  }
  ASSERT_EQ(failures.size(), 1);
  EXPECT_TRUE(failures.GetTestPartResult(0).nonfatally_failed());
}

// The warning about a port below 1024 is shown from the step that wrote the
// row. The box's message loop runs that step's timer again meanwhile: the
// step has consumed its reply first, so the device is listed and the warning
// shown once.
TEST_F(Flows, LowPortWarningDoesNotRunItsStepAgain) {
  constexpr const char* kLowPort = "Port number should greater than 1024.";
  struct Case {
    const char* label;
    std::uint64_t boxOpenMs;  // longer than the step's timer period
    bool restore;             // IP search, or Restore after a search
  } cases[] = {
      {"IP search", 30, false},
      {"restore acknowledgement", 250, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.label);
    if (sim) {
      TearDown();
      SetUp();
    }
    devsim::DeviceConfig d = Device("low", 1, 10, false);
    d.record.ports[0].dataPort = 502;
    Network({d});
    hl::SetModalOpenTime(c.boxOpenMs, [this] { DevicesAnswer(); });
    auto lowPortBoxes = [] {
      return std::count_if(hl::MessageBoxes().begin(), hl::MessageBoxes().end(),
                           [](const hl::MessageBoxCall& m) { return m.text == kLowPort; });
    };
    RunMainWindow([&](CCorvaneDlg& dlg) {
      hl::ExpectMessageBox(kLowPort);
      hl::ExpectModal("IP Searching", [](CWnd& w) {
        hl::Type(w, protocol::ids::kIpSearchAddress, "198.51.100.10");
        hl::Click(w, tk::IDOK);
      });
      hl::Click(dlg, ids::kIPSearch);
      Run(200, [&] { return dlg.GetDlgItem(ids::kSearch).IsWindowEnabled(); });
      EXPECT_EQ(dlg.m_list.GetItemCount(), 1);
      EXPECT_EQ(lowPortBoxes(), 1);
      EXPECT_EQ(dlg.m_progress.GetPos(), kProgressDone);
      if (!c.restore) return;
      hl::ClickListCell(dlg.m_list, 0, kColName);
      hl::ExpectMessageBox(
          "This operation will return the device's default setting and reboot.\r\nDo you want to proceed ?",
          tk::IDYES);
      hl::ExpectMessageBox(kLowPort);
      hl::Click(dlg, ids::kRestore);
      Run(2000, [&] { return hl::HasTimer(dlg, ids::timer::kRestartWait); });
      EXPECT_EQ(lowPortBoxes(), 2);
      EXPECT_EQ(Logged("restarting (factory settings restored)"), 1);
      EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRestoreAck));
    });
  }
}

}  // namespace
}  // namespace corvane::ui::testing
