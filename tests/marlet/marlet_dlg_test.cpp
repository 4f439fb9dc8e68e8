// The port manager's window on the headless backend against the simulated
// driver and installer: start-up, row clicks, Setting/OK, Connect and Close,
// Add and Remove, a second copy, a port held by a terminal program.
#include <gtest/gtest.h>

#include <functional>
#include <map>

#include "marlet/ui/marlet_app.h"
#include "marlet/ui/marlet_dlg.h"
#include "marlet/ui/marlet_dlg_ids.h"
#include "marlet_fixture.h"

namespace {

namespace hl = tk::headless;
namespace ids = marlet::ids;
using marlet::CMarletDlg;
using Row = std::vector<std::string>;

constexpr const char* kSystemTool = "C:\\WINDOWS\\system32\\devcon.exe";

class MarletDlgTest : public MarletTest {
 protected:
  // Runs the window with `body` as the user, who then closes it.
  void Run(const std::function<void(CMarletDlg&)>& body) {
    CMarletDlg dlg(channel, installer, Recorder().exitProgram);
    hl::ExpectModal(marlet::kMainTitle, [&](tk::CWnd&) {
      body(dlg);
      hl::CloseBox(dlg);
    });
    dlg.DoModal();
  }

  static Row RowTexts(CMarletDlg& dlg, int row) {
    Row texts;
    for (int c = 0; c < 5; ++c) texts.push_back(dlg.List().GetCellText(row, c));
    return texts;
  }

  // Which of Add, Remove, Connect, Close, Setting are enabled, as "ARCXS" with
  // '-' for a disabled one.
  static std::string Buttons(CMarletDlg& dlg) {
    std::string state;
    const std::pair<int, char> buttons[] = {{ids::kAdd, 'A'},
                                            {ids::kRemove, 'R'},
                                            {ids::kConnect, 'C'},
                                            {ids::kClose, 'X'},
                                            {ids::kSetting, 'S'}};
    for (auto [id, letter] : buttons) state.push_back(dlg.GetDlgItem(id).IsWindowEnabled() ? letter : '-');
    return state;
  }

  static tk::DWORD Address(CMarletDlg& dlg) {
    tk::DWORD address = 0;
    tk::CIPAddressCtrl(dlg.GetDlgItem(ids::kRemoteIp)).GetAddress(address);
    return address;
  }

  // Two physical ports, then an idle virtual port and a connected one.
  void TwoPhysicalTwoVirtual() {
    driver.AddPhysicalPort("COM1");
    driver.AddPhysicalPort("COM2");
    driver.AddVirtualPort(0, "COM5");
    driver.AddVirtualPort(1, "COM6");
    driver.ports[2].remote = {0x0A000005, 502, marlet::kTcpClient, 0, 0, 450};
    driver.ports[3].remote = {0xC0A801C8, 4001, marlet::kUdpClient, 1, 1, 512};
  }

  std::vector<std::uint32_t> Codes() const {
    std::vector<std::uint32_t> codes;
    for (const auto& r : driver.requests) codes.push_back(r.code);
    return codes;
  }
};

TEST_F(MarletDlgTest, StartsEmptyWithItsColumnsAndButtonsDisabled) {
  Run([&](CMarletDlg& dlg) {
    EXPECT_EQ(dlg.GetWindowText(), "Marlet 1.3");
    const Row headings = {"Port ID", " Port Name", " Status", " Remote IP", " Remote Port"};
    ASSERT_EQ(dlg.List().GetColumnCount(), 5);
    for (int c = 0; c < 5; ++c) EXPECT_EQ(dlg.List().GetColumnHeading(c), headings[c]);
    EXPECT_EQ(dlg.List().GetItemCount(), 0);
    EXPECT_TRUE(dlg.List().GetExtendedStyle() & tk::LVS_EX_GRIDLINES);
    EXPECT_FALSE(dlg.List().IsSortable());
    EXPECT_EQ(Buttons(dlg), "A----");
    for (int id :
         {ids::kRemoteIp, ids::kRemotePort, ids::kTcpClient, ids::kUdpClient, ids::kConnectAtStart}) {
      EXPECT_FALSE(dlg.GetDlgItem(id).IsWindowEnabled()) << id;
    }
    EXPECT_FALSE(dlg.GetDlgItem(ids::kProgress).IsWindowVisible());
    EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "0");
    auto menu = hl::SystemMenu(dlg);
    ASSERT_FALSE(menu.empty());
    EXPECT_EQ(menu.back().id, ids::kAboutCommand);
    EXPECT_EQ(menu.back().text, "&About Marlet...");
    EXPECT_EQ(hl::IconResourceId(hl::WindowIcon(dlg, true)), ids::kIconMain);
  });
}

TEST_F(MarletDlgTest, ListsTheVirtualPortsBehindTwoPhysicalOnes) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    EXPECT_EQ(dlg.InterfaceCount(), 4);
    EXPECT_EQ(dlg.PortCount(), 2);
    ASSERT_EQ(dlg.List().GetItemCount(), 2);
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"2", "COM5", "Idle", "", ""}));
    EXPECT_EQ(RowTexts(dlg, 1), (Row{"3", "COM6", "Connected", "192.168.1.200", "4001"}));
    // The remote-settings controls show the last listed port.
    EXPECT_EQ(Address(dlg), 0xC0A801C8u);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "4001");
    EXPECT_EQ(dlg.IsDlgButtonChecked(ids::kUdpClient), tk::BST_CHECKED);
    EXPECT_EQ(dlg.IsDlgButtonChecked(ids::kConnectAtStart), tk::BST_CHECKED);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kMaxPacketSize), "512");
  });
  EXPECT_EQ(driver.openDevices(), 0);
}

TEST_F(MarletDlgTest, RowClickEnablesByStateAndLoadsTheDriversSettings) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 1);
    EXPECT_EQ(Buttons(dlg), "ARC-S");
    EXPECT_EQ(Address(dlg), 0x0A000005u);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "502");
    EXPECT_EQ(dlg.IsDlgButtonChecked(ids::kTcpClient), tk::BST_CHECKED);

    hl::ClickListCell(dlg.List(), 1, 1);
    EXPECT_EQ(Buttons(dlg), "A--X-");
    EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "4001");

    hl::ClickListCell(dlg.List(), -1, -1);
    EXPECT_EQ(Buttons(dlg), "A----");
  });
}

TEST_F(MarletDlgTest, SettingThenOkSendsTheControlsToTheSelectedPort) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 0);
    hl::Click(dlg, ids::kSetting);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kSetting), "OK");
    EXPECT_TRUE(dlg.Editing());
    EXPECT_EQ(Buttons(dlg), "----S");
    tk::CIPAddressCtrl(dlg.GetDlgItem(ids::kRemoteIp)).SetAddress(192, 168, 1, 200);
    hl::Type(dlg, ids::kRemotePort, "4001");
    hl::Click(dlg, ids::kUdpClient);
    hl::Click(dlg, ids::kConnectAtStart);
    driver.requests.clear();
    hl::Click(dlg, ids::kSetting);

    ASSERT_EQ(Codes(), std::vector<std::uint32_t>{marlet::IOCTL_SET_REMOTE_INFO});
    EXPECT_EQ(driver.requests[0].position, 2);
    const std::vector<std::uint8_t> golden = {0xC0, 0xA8, 0x01, 0xC8, 0x0F, 0xA1, 0,    0,    1, 0,
                                              0,    0,    1,    0,    0,    0,    0xC2, 0x01, 0, 0};
    EXPECT_EQ(driver.requests[0].input, golden);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kSetting), "Setting");
    EXPECT_EQ(Buttons(dlg), "ARC-S");
    EXPECT_FALSE(dlg.GetDlgItem(ids::kRemotePort).IsWindowEnabled());
    // The row is not changed; the driver holds the new settings.
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"2", "COM5", "Idle", "", ""}));
    EXPECT_EQ(driver.ports[2].remote.port, 4001);
  });
}

// Settings the driver did not store: the failure shows, editing goes on with
// what the user typed, and the row shows what the driver holds.
TEST_F(MarletDlgTest, OkTheDriverRefusesKeepsEditing) {
  const struct {
    bool held;  // a terminal program holds the port
    std::vector<std::string> messages;
    Row row;
  } cases[] = {
      {false, {"IOCTL_SET_REMOTE_INFO Failed (0x1f)\n"}, {"2", "COM5", "Connected", "10.0.0.5", "502"}},
      {true, {"Open serial device failed (0x5)\n"}, {"2", "COM5", "Idle", "", ""}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.held);
    driver.ports.clear();
    TwoPhysicalTwoVirtual();
    Run([&](CMarletDlg& dlg) {
      hl::ClickListCell(dlg.List(), 0, 0);
      hl::Click(dlg, ids::kSetting);
      hl::Type(dlg, ids::kRemotePort, "4001");
      // Meanwhile the port came up connected, which the row does not know yet.
      driver.ports[2].remote.connected = 1;
      driver.failingCodes = {{marlet::IOCTL_SET_REMOTE_INFO, 0x1F}};
      driver.ports[2].heldByTerminal = c.held;
      ExpectMessages(c.messages);
      hl::Click(dlg, ids::kSetting);
      EXPECT_TRUE(dlg.Editing());
      EXPECT_EQ(dlg.GetDlgItemText(ids::kSetting), "OK");
      EXPECT_EQ(Buttons(dlg), "----S");
      EXPECT_TRUE(dlg.GetDlgItem(ids::kRemotePort).IsWindowEnabled());
      EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "4001");
      EXPECT_EQ(driver.ports[2].remote.port, 502);
      EXPECT_EQ(RowTexts(dlg, 0), c.row);
      // Once the driver takes it, OK ends the editing.
      driver.failingCodes.clear();
      driver.ports[2].heldByTerminal = false;
      hl::Click(dlg, ids::kSetting);
      EXPECT_FALSE(dlg.Editing());
      EXPECT_EQ(driver.ports[2].remote.port, 4001);
    });
  }
}

// A port whose settings cannot be read: its zeros are neither shown as the
// driver's settings nor offered to Setting for storing back.
TEST_F(MarletDlgTest, RowClickWithUnreadableSettingsLeavesSettingOff) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    driver.failingCodes = {{marlet::IOCTL_GET_REMOTE_INFO, 0x1F}};
    ExpectMessages({"IOCTL_GET_REMOTE_INFO Failed (0x1f)\n"});
    hl::ClickListCell(dlg.List(), 0, 0);
    EXPECT_EQ(Buttons(dlg), "ARC--");
    EXPECT_EQ(Address(dlg), 0xC0A801C8u) << "the last listed port's, as before the click";
    EXPECT_EQ(dlg.GetDlgItemText(ids::kRemotePort), "4001");
  });
}

TEST_F(MarletDlgTest, OkRefusesAPortAbove65535AndSendsNothing) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 0);
    hl::Click(dlg, ids::kSetting);
    hl::Type(dlg, ids::kRemotePort, "70000");
    driver.requests.clear();
    ExpectMessages({"Please enter an integer between 0 and 65535."});
    hl::Click(dlg, ids::kSetting);
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_TRUE(dlg.Editing());
    // Corrected, it goes through.
    hl::Type(dlg, ids::kRemotePort, "65535");
    hl::Click(dlg, ids::kSetting);
    ASSERT_EQ(driver.requests.size(), 1u);
    EXPECT_EQ(driver.ports[2].remote.port, 65535);
  });
}

TEST_F(MarletDlgTest, OkWithNoSelectedPortLeavesEditingAndSendsNothing) {
  TwoPhysicalTwoVirtual();
  driver.ports[0].remote.port = 7;  // port ID 0 is a physical port
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 0);
    hl::Click(dlg, ids::kSetting);
    // A click on empty space while editing leaves no row selected.
    hl::ClickListCell(dlg.List(), -1, -1);
    ASSERT_EQ(dlg.List().GetSelectedCount(), 0);
    driver.requests.clear();
    hl::Click(dlg, ids::kSetting);
    EXPECT_FALSE(dlg.Editing());
    EXPECT_EQ(dlg.GetDlgItemText(ids::kSetting), "Setting");
    EXPECT_TRUE(driver.requests.empty());
    EXPECT_EQ(Buttons(dlg), "A----");
  });
}

TEST_F(MarletDlgTest, ConnectAndCloseShowTheirStatusAndRowTexts) {
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 0);
    // The driver connects to what it holds, whatever the controls show.
    tk::CIPAddressCtrl(dlg.GetDlgItem(ids::kRemoteIp)).SetAddress(10, 0, 0, 9);
    hl::Click(dlg, ids::kConnect);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "Connected to remote host 10.0.0.5@502 successfully");
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"2", "COM5", "Connected", "10.0.0.5", "502"}));
    EXPECT_EQ(Address(dlg), 0x0A000005u);
    EXPECT_EQ(Buttons(dlg), "A--X-");
    EXPECT_EQ(driver.ports[2].remote.connected, 1u);

    hl::Click(dlg, ids::kClose);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "Connection closed successfully");
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"2", "COM5", "Idle", "", ""}));
    EXPECT_EQ(Buttons(dlg), "ARC-S");
    EXPECT_EQ(driver.ports[2].remote.connected, 0u);

    driver.failingCodes = {{marlet::IOCTL_CONNECTION, 0x1F}};
    ExpectMessages({"IOCTL_CONNECTION failed (0x1f)\n"});
    hl::Click(dlg, ids::kConnect);
    EXPECT_EQ(RowTexts(dlg, 0)[2], "Idle");

    hl::ClickListCell(dlg.List(), 1, 0);
    driver.failingCodes = {{marlet::IOCTL_DISCONNECTION, 0x1F}};
    ExpectMessages({"IOCTL_DISCONNECTION failed (0x1f)\n"});
    hl::Click(dlg, ids::kClose);
    EXPECT_EQ(RowTexts(dlg, 1)[2], "Connected");

    driver.ports[3].heldByTerminal = true;
    ExpectMessages({"Open serial device failed (0x5)\n", "Please stop terminal program first\n"});
    hl::Click(dlg, ids::kClose);
  });
}

// A terminal program holds the port: the list still shows it, and Connect
// and Close change it (through the bridge) with no message.
TEST_F(MarletDlgTest, ConnectAndCloseAPortATerminalProgramHolds) {
  driver.bridge = marlet::sim::SimBridge::kManaging;
  driver.AddVirtualPort(0, "COM5");
  driver.ports[0].remote = {0x0A000005, 502, marlet::kTcpClient, 0, 0, 450};
  driver.ports[0].heldByTerminal = true;
  Run([&](CMarletDlg& dlg) {
    ASSERT_EQ(dlg.PortCount(), 1);
    hl::ClickListCell(dlg.List(), 0, 0);
    hl::Click(dlg, ids::kConnect);
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"0", "COM5", "Connected", "10.0.0.5", "502"}));
    EXPECT_EQ(driver.ports[0].remote.connected, 1u);
    hl::Click(dlg, ids::kClose);
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"0", "COM5", "Idle", "", ""}));
    EXPECT_EQ(driver.ports[0].remote.connected, 0u);
  });
  EXPECT_TRUE(exits.empty());
  EXPECT_TRUE(Messages().empty());
}

// Each second the rows follow the link state the bridge reports, with no
// need to open the ports (a terminal program holds the selected one); the
// selected row's buttons follow its status. An unknown state keeps the row.
TEST_F(MarletDlgTest, TimerShowsEachPortsLinkStateAndTheButtonsFollow) {
  using marlet::sim::SimBridge;
  const Row idle5 = {"2", "COM5", "Idle", "", ""}, up5 = {"2", "COM5", "Connected", "10.0.0.5", "502"};
  const Row idle6 = {"3", "COM6", "Idle", "", ""};
  const auto row6 = [](const char* status) { return Row{"3", "COM6", status, "192.168.1.200", "4001"}; };
  const struct {
    const char* what;
    SimBridge bridge;
    std::map<std::uint32_t, std::uint32_t> states;  // by COM number
    Row row0, row1;
    const char* buttons;
  } steps[] = {
      {"the link drops", SimBridge::kAnswering, {{5, 0}, {6, 3}}, idle5, row6("Reconnecting"), "A--X-"},
      {"an attempt starts", SimBridge::kAnswering, {{5, 0}, {6, 2}}, idle5, row6("Connecting"), "A--X-"},
      {"the selected port goes idle", SimBridge::kAnswering, {{5, 0}, {6, 0}}, idle5, idle6, "ARC-S"},
      {"the other port comes up", SimBridge::kAnswering, {{5, 1}, {6, 0}}, up5, idle6, "ARC-S"},
      {"the selected port comes up",
       SimBridge::kAnswering,
       {{5, 1}, {6, 1}},
       up5,
       row6("Connected"),
       "A--X-"},
      {"no bridge", SimBridge::kAbsent, {{5, 0}, {6, 3}}, up5, row6("Connected"), "A--X-"},
      {"a driver that knows no such question",
       SimBridge::kWithoutQuery,
       {{5, 0}, {6, 3}},
       up5,
       row6("Connected"),
       "A--X-"},
      {"ports the bridge does not know", SimBridge::kAnswering, {{7, 3}}, up5, row6("Connected"), "A--X-"},
  };
  TwoPhysicalTwoVirtual();
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 1, 0);
    driver.ports[3].heldByTerminal = true;
    for (const auto& step : steps) {
      SCOPED_TRACE(step.what);
      driver.bridge = step.bridge;
      driver.linkStates = step.states;
      hl::Advance(marlet::kLinkStatePeriodMs);
      EXPECT_EQ(RowTexts(dlg, 0), step.row0);
      EXPECT_EQ(RowTexts(dlg, 1), step.row1);
      EXPECT_EQ(Buttons(dlg), step.buttons);
    }
  });
  EXPECT_EQ(driver.openDevices(), 0);
}

TEST_F(MarletDlgTest, AddInstallsAPortOrReportsTheFailure) {
  installer.knownHardwareIds = {"QN520xx\\VPort"};
  Run([&](CMarletDlg& dlg) {
    ExpectMessages({"SetupOpenInfFile error, 2\n"});
    hl::Click(dlg, ids::kAdd);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "Added a virtual serial port failed");
    EXPECT_EQ(dlg.List().GetItemCount(), 0);
    EXPECT_TRUE(dlg.GetDlgItem(ids::kAdd).IsWindowEnabled());

    installer.files["QN520xx.inf"] =
        "[Version]\nClass=Ports\n[Manufacturer]\nQ=Models\n[Models]\nPort=Install,QN520xx\\VPort\n";
    hl::Click(dlg, ids::kAdd);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "Added a virtual serial port successfully");
    EXPECT_EQ(RowTexts(dlg, 0), (Row{"0", "", "Idle", "", ""}));
    EXPECT_TRUE(dlg.GetDlgItem(ids::kAdd).IsWindowEnabled());
  });
  EXPECT_EQ(installer.registeredDevices, 0);
}

TEST_F(MarletDlgTest, RemoveReportsWhatTheRemovalToolDid) {
  driver.AddPhysicalPort("COM1");
  driver.AddVirtualPort(10000, "COM7");
  driver.AddVirtualPort(3, "COM8");
  hl::Platform().files = {kSystemTool};
  hl::Platform().processRunner = [&](const std::string& command) -> unsigned long {
    const std::string prefix = "\"" + std::string(kSystemTool) + "\" remove ";
    return command.rfind(prefix, 0) == 0 && driver.RemoveByInstance(command.substr(prefix.size())) ? 0 : 1;
  };
  Run([&](CMarletDlg& dlg) {
    hl::ClickListCell(dlg.List(), 0, 0);
    hl::Click(dlg, ids::kRemove);
    EXPECT_EQ(hl::StartedProcesses().back(),
              "\"C:\\WINDOWS\\system32\\devcon.exe\" remove @root\\ports\\10000");
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "VSP removed successfully");
    ASSERT_EQ(dlg.List().GetItemCount(), 1);
    EXPECT_EQ(RowTexts(dlg, 0)[1], "COM8");
    EXPECT_EQ(Buttons(dlg), "A----");

    // The tool fails: no success, and the refreshed list still shows the port.
    hl::Platform().processRunner = nullptr;
    hl::Platform().processExitCode = 1;
    hl::ClickListCell(dlg.List(), 0, 0);
    ExpectMessages({"Failed to remove the virtual serial port driver!"});
    hl::Click(dlg, ids::kRemove);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatus), "VSP removed successfully");  // unchanged
    EXPECT_EQ(dlg.List().GetItemCount(), 1);

    // The tool cannot be started: the Remove button comes back.
    hl::Platform().processStartResult = 2;
    hl::ClickListCell(dlg.List(), 0, 0);
    ExpectMessages({"Failed to remove the virtual serial port driver!"});
    hl::Click(dlg, ids::kRemove);
    EXPECT_TRUE(dlg.GetDlgItem(ids::kRemove).IsWindowEnabled());
  });
}

// The removal tool runs with the program's rights: it is started by its full
// path, from the program's folder or else the system folder, and a copy lying
// in the folder the program was started from is never the one started.
TEST_F(MarletDlgTest, RemoveStartsTheToolByItsFullPathOnly) {
  const std::string planted = "C:\\Users\\someone\\Downloads\\devcon.exe";
  const std::string beside = "C:\\Program Files\\Test\\devcon.exe";
  const struct {
    std::vector<std::string> files;
    std::string started;  // the program started; empty: none
  } cases[] = {
      {{planted, kSystemTool, beside}, beside},
      {{planted, kSystemTool}, kSystemTool},
      {{planted}, ""},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.started);
    hl::Reset();
    driver.ports.clear();
    driver.AddVirtualPort(0, "COM5");
    hl::Platform().files = c.files;
    Run([&](CMarletDlg& dlg) {
      hl::ClickListCell(dlg.List(), 0, 0);
      if (c.started.empty()) ExpectMessages({"Failed to remove the virtual serial port driver!"});
      hl::Click(dlg, ids::kRemove);
    });
    if (c.started.empty()) {
      EXPECT_TRUE(hl::StartedProcesses().empty());
    } else {
      ASSERT_EQ(hl::StartedProcesses().size(), 1u);
      EXPECT_EQ(hl::StartedProcesses()[0], "\"" + c.started + "\" remove @root\\ports\\0000");
    }
  }
}

TEST_F(MarletDlgTest, ASecondCopyClosesItselfWithoutListing) {
  driver.AddVirtualPort(0, "COM5");
  hl::Platform().foreignWindowTitles = {marlet::kMainTitle};
  CMarletDlg dlg(channel, installer, Recorder().exitProgram);
  dlg.DoModal();
  EXPECT_EQ(driver.listOpens, 0);
}

TEST_F(MarletDlgTest, APortHeldByATerminalProgramEndsTheProgramDuringARefresh) {
  driver.AddVirtualPort(0, "COM5");
  driver.AddVirtualPort(1, "COM6");
  driver.ports[0].heldByTerminal = true;
  ExpectMessages({"Open serial device failed (0x5)\n", "Please stop terminal program first\n"});
  Run([&](CMarletDlg& dlg) {
    EXPECT_EQ(exits, std::vector<int>{0});
    // The refresh stopped at the held port.
    EXPECT_EQ(dlg.PortCount(), 0);
  });
}

TEST_F(MarletDlgTest, AboutBoxAndSocketsFailure) {
  Run([&](CMarletDlg& dlg) {
    hl::ExpectModal("About Marlet", [](tk::CWnd& about) { hl::Click(about, tk::IDOK); });
    hl::SysCommand(dlg, ids::kAboutCommand);
  });
  hl::Platform().socketsStartupFails = true;
  marlet::CMarletApp app(driver, installer, Recorder());
  ExpectMessages({"Windows sockets initialization failed."});
  EXPECT_FALSE(app.InitInstance());
}

}  // namespace
