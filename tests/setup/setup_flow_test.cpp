// Device Setup from the main window on the virtual clock: the sheet, the
// confirmation, the state query, the set request the simulated device
// receives, its acknowledgement, the restart wait and the refresh search. The
// window runs in a "pc" namespace and the devices in a "dev" namespace of the
// test's own, so nothing reaches the machine's interfaces.
#include <gtest/gtest.h>

#include "corvane/setup/setup_ids.h"
#include "corvane/setup/setup_sheet.h"
#include "flow_support.h"

namespace corvane::ui::testing {
namespace {

using tk::CWnd;
constexpr const char* kConfirm =
    "This operation will cause the device to reboot.\r\nDo you want to proceed ?";

devsim::DeviceConfig Device(const std::string& name, std::uint8_t macLast, int hostByte, bool twoPort) {
  devsim::DeviceConfig c = SimulatedDevice(name, macLast, hostByte, twoPort, 1000);
  c.record.staticIp = c.record.dynamicIp;
  c.record.ports[0].destPort = 5001;
  c.record.ports[1].destPort = 5002;
  return c;
}

class SetupFlow : public FlowTest {
 protected:
  // Opens Device Setup on `row`; `edit` plays the user on the open sheet.
  void DeviceSetup(CCorvaneDlg& dlg, int row, const std::function<void(setup::CDeviceSetupMain&)>& edit) {
    hl::ClickListCell(dlg.m_list, row, kColName);
    hl::ExpectModal("Device Setup", [&](CWnd& w) { edit(static_cast<setup::CDeviceSetupMain&>(w)); });
    hl::Click(dlg, ids::kDeviceSetup);
  }
};

TEST_F(SetupFlow, SecondPortRowSubmitReachesTheDeviceAndTheListIsSearchedAgain) {
  devsim::DeviceConfig two = Device("two", 2, 11, true);
  two.record.ports[1].client = true;  // port 2 works as a client: its destination is editable
  Network({Device("one", 1, 10, false), two});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    dlg.m_settingDlg.m_rebootPeriod = 2;
    Search(dlg);
    setup::CDeviceSetupMain* sheet = nullptr;
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    DeviceSetup(dlg, 2, [&](setup::CDeviceSetupMain& s) {
      sheet = &s;
      hl::Type(s.NetworkPage(), setup::ids::kDestPort, "6000");
      hl::Click(s, tk::IDOK);
    });
    EXPECT_EQ(dlg.m_statusText, " NO 2,3 setting ...");
    EXPECT_EQ(dlg.m_operationPending, 0) << "the sheet's close notice";
    Run(1000, [&] { return hl::HasTimer(dlg, ids::timer::kRestartWait); });
    ASSERT_TRUE(hl::HasTimer(dlg, ids::timer::kRestartWait));
    EXPECT_EQ(Logged("received 98 bytes by unicast"), 1);
    EXPECT_EQ(Logged("settings applied"), 1);
    // The bytes that went out are the device's own settings with the one change.
    protocol::DeviceRecord expected = two.record;
    expected.ports[1].destPort = 6000;
    const auto& sent = sheet->TwoPortRequest();
    EXPECT_EQ(protocol::Bytes(sent.begin(), sent.end()),
              protocol::BuildSetRequest(expected, protocol::RowKind::SecondPort));
    sim->WithDevice(1, [](devsim::Device& d) {
      EXPECT_EQ(d.record().ports[1].destPort, 6000);
      EXPECT_EQ(d.record().ports[0].destPort, 5001);
    });
    Run(5000, [&] { return !hl::HasTimer(dlg, ids::timer::kRestartWait); });
    Run(1500);
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kBroadcastSearch));
    EXPECT_EQ(dlg.m_list.GetItemCount(), 3);
    EXPECT_EQ(dlg.m_statusText, " Idle");
  });
}

TEST_F(SetupFlow, InUseUnacknowledgedAndClosedSetupsSendNoSettings) {
  devsim::DeviceConfig busy = Device("busy", 3, 12, false);
  busy.record.ports[0].state = protocol::kStateConnected;
  Network({Device("one", 1, 10, false), busy});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    Search(dlg);
    // The close box: nothing is sent, the row is unticked.
    DeviceSetup(dlg, 0, [](setup::CDeviceSetupMain& s) { hl::CloseBox(s); });
    EXPECT_FALSE(dlg.m_list.GetCheck(0));
    EXPECT_EQ(dlg.m_statusText, " Idle");
    Run(500);
    EXPECT_EQ(Logged("received 9 bytes by unicast"), 0);

    // A device whose port is in use.
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    DeviceSetup(dlg, 1, [](setup::CDeviceSetupMain& s) { hl::Click(s, tk::IDOK); });
    hl::ExpectMessageBox("Device NO.2 is under working.");
    Run(1000);
    EXPECT_EQ(Logged("received 73 bytes by unicast"), 0);

    // A device that takes the request but never acknowledges it.
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    DeviceSetup(dlg, 0, [](setup::CDeviceSetupMain& s) { hl::Click(s, tk::IDOK); });
    Run(1000, [&] { return hl::HasTimer(dlg, ids::timer::kSettingAck); });
    ASSERT_TRUE(hl::HasTimer(dlg, ids::timer::kSettingAck));
    sim->WithDevice(0, [](devsim::Device& d) { d.faults().noAnswer = true; });
    hl::ExpectMessageBox("Device NO.1 sets failed.");
    Run(2000, [&] { return !hl::HasTimer(dlg, ids::timer::kSettingAck); });
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kSettingAck));
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kRestartWait));
  });
}

// Submit checks only the port on the sheet; the other port's data port below
// 1024 is warned about when the acknowledgement rewrites the rows. The box's
// message loop runs the acknowledgement timer meanwhile: the acknowledgement
// is acted on once.
TEST_F(SetupFlow, LowPortWarningAfterTheAcknowledgementIsShownOnce) {
  constexpr const char* kLowPort = "Port number should greater than 1024.";
  devsim::DeviceConfig two = Device("two", 2, 11, true);
  two.record.ports[0].dataPort = 502;
  Network({two});
  RunMainWindow([&](CCorvaneDlg& dlg) {
    hl::ExpectMessageBox(kLowPort);
    Search(dlg);
    ASSERT_EQ(dlg.m_search.addedRows, 2);
    hl::ExpectMessageBox(kConfirm, tk::IDYES);
    DeviceSetup(dlg, 1, [](setup::CDeviceSetupMain& s) { hl::Click(s, tk::IDOK); });
    const std::size_t before = hl::MessageBoxes().size();
    hl::ExpectMessageBox(kLowPort);
    Run(1000, [&] { return hl::HasTimer(dlg, ids::timer::kRestartWait); });
    EXPECT_EQ(hl::MessageBoxes().size(), before + 1);
    EXPECT_EQ(dlg.m_search.addedRows, 0);
    EXPECT_EQ(Logged("received 98 bytes by unicast"), 1);
    EXPECT_FALSE(hl::HasTimer(dlg, ids::timer::kSettingAck));
    EXPECT_EQ(dlg.m_progress.GetPos(), kProgressAck);
  });
}

}  // namespace
}  // namespace corvane::ui::testing
