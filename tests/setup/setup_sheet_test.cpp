// The setup sheet and its pages: opening, enabling rules, Submit and the close.
#include <gtest/gtest.h>

#include <memory>

#include "corvane/setup/setup_ids.h"
#include "headless_test.h"
#include "settings_fixtures.h"
#include "sheet_host.h"
#include "tk/controls.h"

namespace {

using namespace corvane;
using namespace setup_test;
namespace ids = setup::ids;
namespace hl = tk::headless;
namespace off = protocol::off;
using tk::CWnd;

class SetupSheetTest : public HeadlessTest {
 protected:
  std::unique_ptr<SheetHost> hostObject = std::make_unique<SheetHost>();
  // A main window and sheet as after start-up, with the page defaults.
  SheetHost& Fresh() {
    hostObject = std::make_unique<SheetHost>();
    return *hostObject;
  }
  CWnd& Network() { return hostObject->sheet.NetworkPage(); }
  CWnd& Serial() { return hostObject->sheet.SerialPage(); }
  bool Checked(int id) { return tk::CButton(Network().GetDlgItem(id)).GetCheck() == tk::BST_CHECKED; }
  bool Enabled(int id) { return Network().GetDlgItem(id).IsWindowEnabled(); }
  bool Visible(int id) { return Network().GetDlgItem(id).IsWindowVisible(); }

  void Open(int rowKind, const protocol::DeviceRecord& record) {
    hostObject->rowKind = rowKind;
    hostObject->rowCount = record.portCount;
    hostObject->rowNumber = rowKind == 22 ? 1 : 0;
    hostObject->SetRecord(protocol::EncodeRecord(record));
  }
  static protocol::DeviceRecord OnePortServer() {
    protocol::DeviceRecord r = settings_fixtures::TwoPortRecord();
    r.portCount = 1;
    r.dhcp = false;
    r.staticIp = 0xC6336414;  // 198.51.100.20
    r.ports[0].destPort = 4100;
    return r;
  }
};

TEST_F(SetupSheetTest, OpeningFillsThePagesAndTheCloseBoxSendsNothing) {
  SheetHost& host = *hostObject;
  Open(22, settings_fixtures::TwoPortRecord());
  auto result = host.Run([&](tk::CPropertySheet& sheet) {
    EXPECT_EQ(sheet.GetDlgItem(tk::IDOK).GetWindowText(), "Submit");
    EXPECT_EQ(sheet.GetDlgItem(tk::IDCANCEL).GetWindowText(), "Save");
    EXPECT_EQ(sheet.GetDlgItem(tk::ID_APPLY_NOW).GetWindowText(), "Load");
    EXPECT_TRUE(sheet.GetDlgItem(tk::ID_APPLY_NOW).IsWindowEnabled());
    EXPECT_FALSE(sheet.GetDlgItem(tk::IDHELP).IsWindowVisible());
    EXPECT_TRUE(Serial().IsWindow());
    EXPECT_EQ(Network().GetDlgItem(ids::kDeviceName).GetWindowText(), "LINE-7");
    EXPECT_EQ(Network().GetDlgItem(ids::kMacAddress).GetWindowText(), "02-00-5E-01-A2-10");
    EXPECT_EQ(Network().GetDlgItem(ids::kDestPort).GetWindowText(), "5001") << "port 2's value";
    EXPECT_TRUE(Checked(ids::kClient));
    EXPECT_TRUE(Visible(ids::kDynamicIp) && !Enabled(ids::kDynamicIp) && !Visible(ids::kStaticIp));
    EXPECT_EQ(tk::CComboBox(Serial().GetDlgItem(ids::kBaudRate)).GetCurSel(), 8);
    hl::CloseBox(sheet);
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(host.closeNotices, 1);
  EXPECT_EQ(host.sheet.RowKind(), 22);
  EXPECT_EQ(host.sheet.HostAddress(), "198.51.100.1");
  EXPECT_EQ(host.sheet.TableSlot(), 4);

  // A record with a reply code the sheet does not accept leaves the previous values.
  protocol::DeviceRecord other = settings_fixtures::TwoPortRecord();
  other.name = "OTHER";
  other.code = 2;
  Open(22, other);
  result = host.Run([&](tk::CPropertySheet& sheet) {
    EXPECT_EQ(Network().GetDlgItem(ids::kDeviceName).GetWindowText(), "LINE-7");
    // A page check that fails on Submit, then the close box.
    hl::Type(Network(), ids::kTxTimer, "70000");
    hl::ExpectMessageBox("Please enter an integer between 0 and 65535.");
    hl::Click(sheet, tk::IDOK);
    hl::CloseBox(sheet);
  });
  EXPECT_EQ(result, 2);
  EXPECT_EQ(host.closeNotices, 2);
}

TEST_F(SetupSheetTest, NetworkPageKeepsItsControlsConsistent) {
  SheetHost& host = *hostObject;
  Open(11, OnePortServer());  // server, TCP, broadcast and multicast, RS422/RS232
  host.Run([&](tk::CPropertySheet& sheet) {
    CWnd& page = Network();
    EXPECT_TRUE(Checked(ids::kTcp) && !Checked(ids::kUdp));
    EXPECT_FALSE(Enabled(ids::kDestIp) || Enabled(ids::kDestPort));
    hl::Click(page, ids::kTcp);
    EXPECT_TRUE(!Checked(ids::kTcp) && Checked(ids::kUdp) && Enabled(ids::kAutoConnect));
    hl::Click(page, ids::kAutoConnect);
    hl::Click(page, ids::kTcp);
    EXPECT_TRUE(Checked(ids::kTcp) && !Checked(ids::kUdp));
    EXPECT_FALSE(Checked(ids::kAutoConnect) || Enabled(ids::kAutoConnect));

    hl::Click(page, ids::kMulticast);
    EXPECT_TRUE(Checked(ids::kBroadcast) && !Checked(ids::kMulticast));
    hl::Click(page, ids::kBroadcast);
    EXPECT_TRUE(!Checked(ids::kBroadcast) && Checked(ids::kMulticast)) << "one of the two stays ticked";

    EXPECT_TRUE(!Checked(ids::kRs485) && Checked(ids::kRs422));
    hl::Click(page, ids::kRs485);
    EXPECT_TRUE(Checked(ids::kRs485) && !Checked(ids::kRs422));
    hl::Click(page, ids::kRs422);
    EXPECT_TRUE(!Checked(ids::kRs485) && Checked(ids::kRs422));

    hl::Click(page, ids::kUdp);
    hl::Click(page, ids::kAutoConnect);
    hl::Click(page, ids::kClient);
    EXPECT_FALSE(Enabled(ids::kDataPort) || Enabled(ids::kAutoConnect) || Checked(ids::kAutoConnect));
    EXPECT_TRUE(Enabled(ids::kDestIp) && Enabled(ids::kDestPort));
    hl::Click(page, ids::kServer);
    EXPECT_TRUE(Enabled(ids::kDataPort) && Enabled(ids::kAutoConnect)) << "UDP in server mode";

    EXPECT_TRUE(Visible(ids::kStaticIp) && !Visible(ids::kDynamicIp));
    hl::SelectCombo(page, ids::kDhcp, 1);
    EXPECT_TRUE(Visible(ids::kDynamicIp) && !Enabled(ids::kDynamicIp) && !Visible(ids::kStaticIp));
    hl::SelectCombo(page, ids::kDhcp, 0);
    EXPECT_TRUE(Visible(ids::kStaticIp) && !Visible(ids::kDynamicIp));
    EXPECT_EQ(tk::CEdit(page.GetDlgItem(ids::kDeviceName)).GetLimitText(), 16u);
    hl::CloseBox(sheet);
  });
}

TEST_F(SetupSheetTest, SubmitChecksKeepTheSheetOpenAndSendNothing) {
  const struct {
    std::vector<std::pair<int, const char*>> typed;
    const char* message;  // prefix of the one message shown
    const char* caption;
    // Submit pressed on the serial page, the network page's text put there
    // as a loaded settings file puts it (no page change could leave it).
    bool onSerialPage = false;
  } cases[] = {
      {{{ids::kDeviceName, "Lab 1"}}, "1. Device name must LESS THAN 16 LETTERS", "Error Info"},
      {{{ids::kDeviceName, "Lab 1"}, {ids::kDataPort, "1023"}}, "1. Device name", "Error Info"},
      {{{ids::kDataPort, "1023"}}, "Port number(s) should greater than 1024", "Searching Result"},
      {{{ids::kDataPort, "65536"}}, "Port number(s)", "Searching Result"},
      {{{ids::kDataPort, ""}}, "Port number(s)", "Searching Result"},
      {{{ids::kDataPort, "4294968320"}}, "Port number(s)", "Searching Result"},
      {{{ids::kStaticIp, "192.168.1.300"}},
       "Listening IP \"192.168.1.300\" is not a valid IP address.",
       "Error Info"},
      {{{ids::kGateway, "10.0.5"}}, "Gateway \"10.0.5\"", "Error Info"},
      {{{ids::kNetmask, "1.2.3.4.5"}}, "Netmask", "Error Info"},
      {{{ids::kTxTimer, "70000"}}, "Please enter an integer between 0 and 65535.", ""},
      {{{ids::kTxTimer, "70000"}}, "Please enter an integer between 0 and 65535.", "", true},
  };
  for (const auto& c : cases) {
    SheetHost& host = Fresh();
    Open(11, OnePortServer());
    const std::size_t boxes = hl::MessageBoxes().size();
    const auto result = host.Run([&](tk::CPropertySheet& sheet) {
      if (c.onSerialPage) {
        ASSERT_TRUE(sheet.SetActivePage(1));
        for (const auto& [id, text] : c.typed) Network().GetDlgItem(id).SetWindowText(text);
      } else {
        for (const auto& [id, text] : c.typed) hl::Type(Network(), id, text);
      }
      hl::ExpectMessageBox([](const hl::MessageBoxCall&) { return tk::IDOK; });
      hl::Click(sheet, tk::IDOK);
      hl::CloseBox(sheet);
    });
    EXPECT_EQ(result, 2) << c.message;
    ASSERT_EQ(hl::MessageBoxes().size(), boxes + 1) << c.message;
    EXPECT_EQ(hl::MessageBoxes().back().text.rfind(c.message, 0), 0u) << hl::MessageBoxes().back().text;
    EXPECT_EQ(hl::MessageBoxes().back().caption, c.caption);
  }
  // The destination port is checked in server mode too, where its field is disabled.
  protocol::DeviceRecord lowDest = OnePortServer();
  lowDest.ports[0].destPort = 80;
  Fresh();
  Open(11, lowDest);
  hostObject->Run([&](tk::CPropertySheet& sheet) {
    hl::ExpectMessageBox("Port number(s) should greater than 1024 or smaller than 65535.");
    hl::Click(sheet, tk::IDOK);
    hl::CloseBox(sheet);
  });
}

TEST_F(SetupSheetTest, SubmitAcceptsPortLimitsAndStopsAtTheFirstNonDigit) {
  for (const auto& [text, port] : {std::pair{"1024", 1024}, {"65535", 65535}, {"4001x", 4001}}) {
    SheetHost& host = Fresh();
    Open(11, OnePortServer());
    const auto result = host.Run([&](tk::CPropertySheet& sheet) {
      hl::Type(Network(), ids::kDataPort, text);
      // Submit's own check passes "4001x" as 4001; the page's number check then keeps the sheet open.
      if (port == 4001) hl::ExpectMessageBox("Please enter a positive integer.");
      hl::Click(sheet, tk::IDOK);
      if (port == 4001) hl::CloseBox(sheet);
    });
    EXPECT_EQ(protocol::Get16(host.sheet.OnePortRequest(), off::kDataPort1), port) << text;
    EXPECT_EQ(result, port == 4001 ? 2 : 1) << text;
  }
}

// One changed field from the port 2 row: the request is the device's own
// settings with that field changed, port 1 carried along from the store.
TEST_F(SetupSheetTest, SubmitFromTheSecondPortRowBuildsTheTwoPortRequest) {
  SheetHost& host = *hostObject;
  const protocol::DeviceRecord record = settings_fixtures::TwoPortRecord();
  Open(22, record);
  const auto result = host.Run([&](tk::CPropertySheet& sheet) {
    hl::Type(Network(), ids::kDestPort, "6000");
    hl::Click(sheet, tk::IDOK);
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(host.closeNotices, 1);
  protocol::DeviceRecord expected = record;
  expected.ports[1].destPort = 6000;
  expected.flags &= static_cast<std::uint8_t>(~protocol::kFlagAutoConnect);  // port 2 is a client
  const protocol::Bytes want = protocol::BuildSetRequest(expected, protocol::RowKind::SecondPort);
  EXPECT_EQ(protocol::Bytes(host.sheet.TwoPortRequest().begin(), host.sheet.TwoPortRequest().end()), want);
}

TEST_F(SetupSheetTest, SerialListWithoutSelectionWritesTheDevicesCodeBack) {
  SheetHost& host = *hostObject;
  protocol::DeviceRecord record = settings_fixtures::TwoPortRecord();
  record.ports[0].lineB = protocol::EncodeLineFormatB(1, 0, 2);  // stop-bits code 2: not in the list
  record.ports[0].destPort = 4100;
  Open(21, record);
  const auto result = host.Run([&](tk::CPropertySheet& sheet) {
    EXPECT_EQ(host.sheet.ReadItem(24), "-1");
    hl::Click(sheet, tk::IDOK);
  });
  ASSERT_EQ(result, 1);
  EXPECT_EQ(host.sheet.TwoPortRequest()[off::kLineA1], record.ports[0].lineA);
  EXPECT_EQ(host.sheet.TwoPortRequest()[off::kLineB1], record.ports[0].lineB);
}

}  // namespace
