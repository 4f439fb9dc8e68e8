// The main window without a network: start-up state, host netmask, clock,
// the Setting dialog, the device list rows and the commands' selection and
// subnet rules.
#include <gtest/gtest.h>

#include "corvane/protocol/search_dlg_ids.h"
#include "main_window_support.h"
#include "netns.h"
#include "tk/controls.h"

namespace corvane::ui::testing {
namespace {

using tk::CWnd;

class MainWindow : public HeadlessTest {};

bool Enabled(CCorvaneDlg& dlg, int id) {
  return dlg.GetDlgItem(id).IsWindowEnabled();
}
bool Visible(CCorvaneDlg& dlg, int id) {
  return dlg.GetDlgItem(id).IsWindowVisible();
}

// ---- start-up ------------------------------------------------------------------------------

TEST_F(MainWindow, StartsWithTitleColumnsButtonsAndDefaults) {
  hl::Platform().hostAddresses = {"10.0.0.7"};
  hl::Platform().adapters = {{"eth0", "", "10.0.0.7", "255.255.255.0"}};
  RunMainWindow([](CCorvaneDlg& dlg) {
    EXPECT_EQ(dlg.GetWindowText(), "Corvane 2.9");
    const char* captions[] = {"",   "NO.",  "Device Name", "MAC Address", "DHCP",
                              "IP", "Port", "Mode",        "Status"};
    const int widths[] = {20, 40, 109, 115, 55, 100, 50, 50, 70};
    ASSERT_EQ(dlg.m_list.GetColumnCount(), 9);
    for (int c = 0; c < 9; ++c) {
      EXPECT_EQ(dlg.m_list.GetColumnHeading(c), captions[c]);
      EXPECT_EQ(dlg.m_list.GetColumnWidth(c), widths[c]);
      EXPECT_EQ(dlg.m_list.GetColumnFormat(c), tk::LVCFMT_CENTER);
    }
    const tk::DWORD ex = dlg.m_list.GetExtendedStyle();
    EXPECT_TRUE(ex & tk::LVS_EX_CHECKBOXES);
    EXPECT_TRUE(ex & tk::LVS_EX_GRIDLINES);
    EXPECT_TRUE(ex & tk::LVS_EX_FULLROWSELECT);
    EXPECT_EQ(dlg.m_list.GetBkColor(), tk::RGB(216, 216, 192));
    for (int id : {ids::kSearch, ids::kIPSearch, ids::kSetting}) EXPECT_TRUE(Enabled(dlg, id)) << id;
    for (int id : {ids::kDeviceSetup, ids::kWebBrowser, ids::kRestore, ids::kReboot}) {
      EXPECT_FALSE(Enabled(dlg, id)) << id;
    }
    for (int id : {ids::kUpgrade, ids::kWebBrowser, ids::kClockText, ids::kElapsedText}) {
      EXPECT_FALSE(Visible(dlg, id)) << id;
    }
    EXPECT_EQ(dlg.GetDlgItemText(ids::kStatusText), " Idle");
    int low = -1, high = -1;
    dlg.m_progress.GetRange(low, high);
    EXPECT_EQ(high, 1000);
    EXPECT_EQ(dlg.m_hostAddress, "10.0.0.7");
    EXPECT_EQ(dlg.m_hostNetmask, "255.255.255.0");
    EXPECT_EQ(dlg.m_ipSearchDlg.m_deviceAddress, "10.0.0.1");
    EXPECT_TRUE(hl::HasTimer(dlg, ids::timer::kClock));
    EXPECT_EQ(hl::IconResourceId(hl::WindowIcon(dlg, true)), 128);
    const auto menu = hl::SystemMenu(dlg);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[1].id, ids::kAboutCommand);
    EXPECT_EQ(menu[1].text, "&About Corvane...");
    hl::ExpectModal("About Corvane", [](CWnd& about) { hl::Click(about, tk::IDOK); });
    hl::SysCommand(dlg, ids::kAboutCommand);
  });
}

TEST_F(MainWindow, ASecondInstanceClosesItself) {
  hl::Platform().foreignWindowTitles = {"Corvane 2.9"};
  CCorvaneDlg dlg;
  // The close posted from its start-up ends the window before anyone sees it.
  EXPECT_EQ(dlg.DoModal(), tk::IDCANCEL);
  EXPECT_EQ(dlg.GetWindowText(), "");
  EXPECT_TRUE(hl::MessageBoxes().empty());
}

struct NetmaskCase {
  const char* label;
  std::vector<tk::AdapterInfo> adapters;
  unsigned long error;
  const char* mask;
  std::vector<std::string> messages;
};

TEST_F(MainWindow, NetmaskComesFromTheAdapterCarryingTheHostAddress) {
  const NetmaskCase cases[] = {
      {"second adapter matches",
       {{"a", "", "192.168.1.5", "255.255.0.0"}, {"b", "", "10.0.0.7", "255.0.0.0"}},
       0,
       "255.0.0.0",
       {}},
      {"no adapter matches", {{"a", "", "192.168.1.5", "255.255.0.0"}}, 0, "", {"Fail to GetAdaptersInfo!"}},
      {"adapter list fails", {}, 232, "", {"Call to GetAdaptersInfo failed!", "Fail to GetAdaptersInfo!"}},
  };
  for (const NetmaskCase& c : cases) {
    SCOPED_TRACE(c.label);
    SetUp();
    hl::Platform().hostAddresses = {"10.0.0.7"};
    hl::Platform().adapters = c.adapters;
    hl::Platform().adaptersError = c.error;
    for (const std::string& m : c.messages) hl::ExpectMessageBox(m);
    RunMainWindow([&](CCorvaneDlg& dlg) { EXPECT_EQ(dlg.m_hostNetmask, c.mask); });
  }
}

// ---- clock ---------------------------------------------------------------------------------

TEST_F(MainWindow, ClockTextFormats) {
  struct Case {
    int h, m, s;
    bool valid;
    const char* text;
  } cases[] = {
      {0, 5, 9, true, " AM 00:05:09"},    {12, 0, 0, true, " PM 12:00:00"},
      {23, 59, 59, true, " PM 11:59:59"}, {11, 59, 59, true, " AM 11:59:59"},
      {0, 0, 0, false, " AM -1:-1:-1"},
  };
  for (const Case& c : cases) {
    std::tm t{};
    t.tm_hour = c.h;
    t.tm_min = c.m;
    t.tm_sec = c.s;
    EXPECT_EQ(CCorvaneDlg::FormatClockText(t, c.valid), c.text);
  }
}

TEST_F(MainWindow, ElapsedTimeAfter3725Seconds) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    hl::Advance(3725 * 1000);
    EXPECT_EQ(dlg.GetDlgItemText(ids::kElapsedText), "  01:02:05");
    EXPECT_EQ(dlg.GetDlgItemText(ids::kClockText).size(), 12u);
  });
}

// ---- Setting --------------------------------------------------------------------------------

TEST_F(MainWindow, SettingRefusesPeriodsOutOfRangeOnOkAndCancel) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    for (int button : {tk::IDOK, tk::IDCANCEL}) {
      hl::ExpectModal("Setting", [button](CWnd& w) {
        hl::Type(w, ids::kSearchPeriod, "3");
        hl::ExpectMessageBox("Please enter an integer between 5 and 1000.");
        hl::Click(w, button);
        hl::Type(w, ids::kSearchPeriod, "7");
        hl::Type(w, ids::kRebootPeriod, "5");
        hl::ExpectMessageBox("Please enter an integer between 10 and 1000.");
        hl::Click(w, button);
        hl::Type(w, ids::kRebootPeriod, "12");
        hl::Click(w, button);
      });
      hl::Click(dlg, ids::kSetting);
      EXPECT_EQ(dlg.m_settingDlg.m_searchPeriod, 7);
      EXPECT_EQ(dlg.m_settingDlg.m_rebootPeriod, 12);
    }
  });
}

// ---- rows ------------------------------------------------------------------------------------

TEST_F(MainWindow, RowTextsOfOneAndTwoPortDevices) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    dlg.m_search.userSearch = 1;
    protocol::DeviceRecord a = MakeRecord("ABC", 0x0F, 10, false);
    a.dhcp = true;
    protocol::DeviceRecord b = MakeRecord("", 0x10, 11, true);
    b.ports[0].state = 2;
    b.ports[1].client = true;
    b.ports[1].destPort = 5000;
    b.ports[1].state = 1;
    Deliver(dlg, a);
    Deliver(dlg, b);
    const std::vector<std::vector<std::string>> expected = {
        {"1", "ABC", "02-00-5E-01-A2-0F", "Enable", "198.51.100.10", "4001", "Server", "Idle"},
        {"2", "CVN2", "02-00-5E-01-A2-10", "Disable", "198.51.100.11", "4001", "Server", "Unknown"},
        {"3", "CVN3", "02-00-5E-01-A2-10", "Disable", "198.51.100.11", "5000", "Client", "Connected"},
    };
    ASSERT_EQ(dlg.m_list.GetItemCount(), 3);
    for (int row = 0; row < 3; ++row) {
      for (int col = 1; col <= 8; ++col) {
        EXPECT_EQ(dlg.m_list.GetCellText(row, col), expected[row][col - 1]) << row << "," << col;
      }
    }
    EXPECT_EQ(dlg.m_list.GetCellBackColor(0, 4), kRowBaseColor);
    EXPECT_EQ(dlg.m_list.GetCellBackColor(2, 4), kRowConnectedColor);
    EXPECT_EQ(dlg.m_search.addedRows, 3);
  });
}

TEST_F(MainWindow, PortBelow1024RaisesTheMessageOncePerRow) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    dlg.m_search.userSearch = 1;
    protocol::DeviceRecord r = MakeRecord("x", 1, 10, false);
    r.ports[0].client = true;
    r.ports[0].destPort = 502;
    hl::ExpectMessageBox([](const hl::MessageBoxCall& m) {
      EXPECT_EQ(m.text, "Port number should greater than 1024.");
      EXPECT_EQ(m.caption, "Searching Result");
      EXPECT_EQ(m.type, tk::MB_OK | tk::MB_ICONINFORMATION);
      return tk::IDOK;
    });
    Deliver(dlg, r);
    EXPECT_EQ(dlg.m_list.GetCellText(0, kColPort), "502");
  });
}

// A refresh search writes each device back at the place the user's search
// gave it, whatever the order of the replies; an unknown device writes nothing.
TEST_F(MainWindow, RefreshPlacesRowsByMacTextWhateverTheReplyOrder) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    const auto two = MakeRecord("two", 1, 10, true);
    const auto one = MakeRecord("one", 2, 11, false);
    const auto last = MakeRecord("last", 3, 12, true);
    dlg.m_search.userSearch = 1;
    for (const auto& r : {two, one, last}) Deliver(dlg, r);
    // The search the manager starts after an operation, as StartSearch resets for it.
    dlg.m_search.userSearch = 0;
    dlg.m_operationPending = 1;
    dlg.m_table->ResetForSearch();
    dlg.m_list.DeleteAllRows();
    for (const auto& r : {last, MakeRecord("stranger", 9, 13, false), one}) Deliver(dlg, r);
    ASSERT_EQ(dlg.m_list.GetItemCount(), 5);
    const char* names[] = {"", "", "one", "last", "last"};
    for (int row = 0; row < 5; ++row) EXPECT_EQ(dlg.m_list.GetCellText(row, kColName), names[row]) << row;
    EXPECT_EQ(dlg.m_list.GetCellText(3, kColNumber), "4");
  });
}

TEST_F(MainWindow, RowKindFromTheNeighboursMacTexts) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    dlg.m_search.userSearch = 1;
    for (const auto& r :
         {MakeRecord("a", 1, 10, true), MakeRecord("b", 2, 11, false), MakeRecord("c", 3, 12, true)})
      Deliver(dlg, r);
    using K = protocol::RowKind;
    const K kinds[] = {K::FirstPort, K::SecondPort, K::SinglePort, K::FirstPort, K::SecondPort};
    for (int row = 0; row < 5; ++row) {
      hl::ClickListCell(dlg.m_list, row, kColCheck);
      EXPECT_EQ(dlg.m_rowKind, kinds[row]) << row;
      EXPECT_EQ(dlg.m_currentRow, row);
    }
  });
}

TEST_F(MainWindow, ClickOnTheIpColumnTicksAndPresetsTheIpSearch) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    dlg.m_search.userSearch = 1;
    Deliver(dlg, MakeRecord("a", 1, 10, false));
    hl::ClickListCell(dlg.m_list, 0, kColIp);
    EXPECT_TRUE(dlg.m_list.GetCheck(0));
    EXPECT_EQ(dlg.m_ipSearchDlg.m_deviceAddress, "198.51.100.10");
    hl::ClickListCell(dlg.m_list, 0, kColIp);
    EXPECT_FALSE(dlg.m_list.GetCheck(0));
  });
}

// ---- selection and subnet rules ------------------------------------------------------------

// Devices at .10 (two-port, rows 0-1) and .11, and one outside the host's
// segment at 203.0.113.5 (row 3); the host is 198.51.100.1/24.
void ListDevices(CCorvaneDlg& dlg) {
  dlg.m_search.userSearch = 1;
  Deliver(dlg, MakeRecord("a", 1, 10, true));
  Deliver(dlg, MakeRecord("b", 2, 11, false));
  auto far = MakeRecord("far", 3, 0, false);
  far.dynamicIp = (203u << 24) | (0u << 16) | (113u << 8) | 5u;
  Deliver(dlg, far);
  dlg.m_search.userSearch = 0;
  for (int id : {ids::kDeviceSetup, ids::kRestore, ids::kReboot, ids::kWebBrowser})
    dlg.GetDlgItem(id).EnableWindow(true);
}

// Web Browser is created hidden: its command runs as the button would run it.
void Press(CCorvaneDlg& dlg, int id) {
  if (id == ids::kWebBrowser) {
    dlg.OnWebBrowser();
  } else {
    hl::Click(dlg, id);
  }
}

class Commands : public MainWindow {
 protected:
  void SetUp() override {
    MainWindow::SetUp();
    hl::Platform().hostAddresses = {"198.51.100.1"};
    hl::Platform().adapters = {{"veth", "", "198.51.100.1", "255.255.255.0"}};
  }
};

struct SelectionCase {
  int button;
  std::vector<int> ticked;
  const char* message;
};

TEST_F(Commands, SelectionMessages) {
  const SelectionCase cases[] = {
      {ids::kDeviceSetup, {}, "Please select a device server in the list !!"},
      {ids::kDeviceSetup, {0, 2}, "Please set ONE device server each time !!"},
      {ids::kRestore, {}, "Please select device(s) in the list !!"},
      {ids::kRestore, {0, 2}, "Please set ONE device server each time !!"},
      {ids::kReboot, {}, "Please select device(s) in the list !!"},
      {ids::kWebBrowser, {}, "Please select a device server in the list !!"},
      {ids::kWebBrowser, {0, 2}, "Please set ONE device server each time !!"},
  };
  RunMainWindow([&](CCorvaneDlg& dlg) {
    ListDevices(dlg);
    for (const SelectionCase& c : cases) {
      for (int row = 0; row < dlg.m_list.GetItemCount(); ++row) dlg.m_list.SetRowCheck(row, false);
      for (int row : c.ticked) dlg.m_list.SetRowCheck(row, true);
      hl::ExpectMessageBox([&](const hl::MessageBoxCall& m) {
        EXPECT_EQ(m.text, c.message) << c.button;
        EXPECT_EQ(m.caption, "Corvane");
        return tk::IDOK;
      });
      Press(dlg, c.button);
      EXPECT_TRUE(hl::Timers().size() == 1) << "only the clock runs after " << c.button;
    }
  });
}

// The warning's answer for each command: what goes on and what stops.
struct SubnetCase {
  int button;
  int answer;
  bool goesOn;  // a timer of the operation starts, or the page opens
};

TEST_F(Commands, SubnetWarningYesAndNo) {
  const SubnetCase cases[] = {
      {ids::kDeviceSetup, tk::IDYES, false}, {ids::kDeviceSetup, tk::IDNO, false},
      {ids::kRestore, tk::IDYES, false},     {ids::kRestore, tk::IDNO, false},
      {ids::kReboot, tk::IDYES, false},      {ids::kReboot, tk::IDNO, false},
      {ids::kWebBrowser, tk::IDYES, true},   {ids::kWebBrowser, tk::IDNO, false},
      {ids::kIPSearch, tk::IDYES, true},     {ids::kIPSearch, tk::IDNO, false},
  };
  // The IP search that goes on sends to the far address: from a namespace
  // of the test's own with nothing but loopback, so it reaches nobody.
  testnet::Namespace ns("ui-subnet");
  if (!ns.ok()) GTEST_SKIP() << "network namespaces unavailable: " << ns.error();
  testnet::Enter inside(ns);
  ASSERT_TRUE(inside.ok());
  for (const SubnetCase& c : cases) {
    SCOPED_TRACE(std::to_string(c.button) + (c.answer == tk::IDYES ? " yes" : " no"));
    RunMainWindow([&](CCorvaneDlg& dlg) {
      ListDevices(dlg);
      dlg.m_list.SetRowCheck(3, true);
      if (c.button == ids::kReboot)
        hl::ExpectMessageBox("Do you really want to REBOOT device(s) ?", tk::IDYES);
      if (c.button == ids::kIPSearch) {
        hl::ExpectModal("IP Searching", [](CWnd& w) {
          hl::Type(w, protocol::ids::kIpSearchAddress, "203.0.113.5");
          hl::Click(w, tk::IDOK);
        });
      }
      hl::ExpectMessageBox([&](const hl::MessageBoxCall& m) {
        EXPECT_EQ(
            m.text,
            "The device's  ip network segment isn't same as host, Please confirm that the device can access "
            "through Router&Gateway.");
        EXPECT_EQ(m.caption, "Warning");
        EXPECT_EQ(m.type, tk::MB_YESNO | tk::MB_ICONINFORMATION | tk::MB_DEFBUTTON2);
        return c.answer;
      });
      Press(dlg, c.button);
      const bool searching = hl::HasTimer(dlg, ids::timer::kIPSearch);
      const bool opened = !hl::OpenedUrls().empty();
      EXPECT_EQ(searching || opened, c.goesOn);
      EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRestorePacing));
      EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRebootPacing));
      if (opened) {
        EXPECT_EQ(hl::OpenedUrls()[0], "http://203.0.113.5/setting.htm");
      }
      if (searching) {
        hl::ExpectMessageBox("No device has found.");
        hl::Advance(2000);
      }
    });
    SetUp();
  }
}

// Reboot judges the segment by the last ticked device only.
TEST_F(Commands, RebootWarnsOnlyForTheLastTickedDevice) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    ListDevices(dlg);
    dlg.m_search.userSearch = 1;
    Deliver(dlg, MakeRecord("d", 4, 12, false));  // row 4, inside the segment
    dlg.m_list.SetRowCheck(3, true);
    dlg.m_list.SetRowCheck(4, true);
    hl::ExpectMessageBox("Do you really want to REBOOT device(s) ?", tk::IDYES);
    hl::ExpectMessageBox("Do you really want to REBOOT device(s) ?", tk::IDYES);
    hl::Click(dlg, ids::kReboot);  // .12 last: no warning
    EXPECT_TRUE(hl::HasTimer(dlg, ids::timer::kRebootPacing));
    EXPECT_EQ(dlg.m_reboot.total, 2);
    dlg.StopTimer(ids::timer::kRebootPacing);
    dlg.EnableCommandButtons();
    dlg.m_list.SetRowCheck(4, false);
    dlg.m_list.SetRowCheck(2, true);
    hl::ExpectMessageBox(
        "The device's  ip network segment isn't same as host, Please confirm that the device can access "
        "through "
        "Router&Gateway.",
        tk::IDYES);
    hl::Click(dlg, ids::kReboot);  // the far device last: warned, nothing rebooted
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRebootPacing));
  });
}

TEST_F(Commands, OperationStatusTextNamesBothRowsOfATwoPortDevice) {
  RunMainWindow([](CCorvaneDlg& dlg) {
    ListDevices(dlg);
    for (int clicked : {0, 1}) {
      hl::ClickListCell(dlg.m_list, clicked, kColName);  // ticks it
      hl::ExpectMessageBox(
          "This operation will return the device's default setting and reboot.\r\nDo you want to proceed ?",
          tk::IDYES);
      hl::Click(dlg, ids::kRestore);
      EXPECT_EQ(dlg.m_statusText, " NO 1,2 Resetting ...");
      dlg.StopTimer(ids::timer::kRestorePacing);
      dlg.EnableCommandButtons();
      dlg.m_list.SetRowCheck(clicked, false);
    }
  });
}

}  // namespace
}  // namespace corvane::ui::testing
