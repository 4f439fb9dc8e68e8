// The network and serial setting pages: templates, data exchange, and the
// network page's enabling rules.
#include "corvane/setup/setup_pages.h"

#include "corvane/settings/setting_items.h"
#include "corvane/setup/setup_ids.h"
#include "tk/controls.h"

namespace corvane::setup {

using namespace tk;

namespace {
constexpr int kAddressChars = 15;
constexpr int kNameChars = corvane::settings::kMaxNameChars;
constexpr int kMacChars = 23;
constexpr unsigned kPortHigh = corvane::settings::kMaxPortNumber;
constexpr unsigned kTimeoutHigh = corvane::settings::kMaxTimeoutMinutes;
// The timer goes to the device as a 16-bit number: a larger value would arrive
// cut to its low 16 bits.
constexpr unsigned kTxTimerHigh = corvane::settings::kMaxTxTimerMs;
constexpr DWORD kPageStyle = WS_CHILD | WS_CAPTION | DS_SETFONT;
}  // namespace

const DialogTemplate& NetworkPageTemplate() {
  static const DialogTemplate tmpl{
      "Network Setting",
      {0, 0, 290, 216},
      kPageStyle,
      "MS Shell Dlg",
      8,
      {
          Label("Device Name", {8, 10, 70, 20}),
          Edit(ids::kDeviceName, {74, 8, 160, 20}),
          Label("MAC Address", {8, 26, 70, 36}),
          Edit(ids::kMacAddress, {74, 24, 160, 36}).Disabled(),
          Label("DHCP", {8, 42, 70, 52}),
          DropDownList(ids::kDhcp, {74, 40, 160, 100}, {"Disable", "Enable"}),
          RadioButton(ids::kServer, "Server", {170, 8, 220, 20}).Group().TabStop(),
          RadioButton(ids::kClient, "Client", {226, 8, 280, 20}),
          Label("Listening IP", {8, 58, 70, 68}),
          Edit(ids::kDynamicIp, {74, 56, 160, 68}).Disabled().Group(),
          Edit(ids::kStaticIp, {74, 56, 160, 68}),
          Label("Data listening port", {8, 74, 70, 84}),
          Edit(ids::kDataPort, {74, 72, 160, 84}),
          Label("Destination IP", {8, 90, 70, 100}),
          Edit(ids::kDestIp, {74, 88, 160, 100}),
          Label("Destination Port", {8, 106, 70, 116}),
          Edit(ids::kDestPort, {74, 104, 160, 116}),
          Label("Netmask", {8, 122, 70, 132}),
          Edit(ids::kNetmask, {74, 120, 160, 132}),
          Label("Gateway", {8, 138, 70, 148}),
          Edit(ids::kGateway, {74, 136, 160, 148}),
          Label("DNS Server", {8, 154, 70, 164}),
          Edit(ids::kDns, {74, 152, 160, 164}),
          Label("Transmist Timer (ms)", {8, 170, 70, 180}),
          Edit(ids::kTxTimer, {74, 168, 160, 180}),
          Label("Connection Timeout", {8, 186, 70, 196}).Hidden(),
          Edit(ids::kConnectionTimeout, {74, 184, 150, 196}).Hidden(),
          UpDown(ids::kTimeoutSpin, {150, 184, 160, 196}).Hidden(),
          GroupBox("Data Packet Type", {170, 28, 282, 92}),
          CheckBox(ids::kUdp, "UDP", {178, 40, 220, 50}),
          CheckBox(ids::kTcp, "TCP", {226, 40, 276, 50}),
          CheckBox(ids::kAutoConnect, "Auto connect after reboot", {178, 56, 276, 86}).Style(BS_MULTILINE),
          GroupBox("Management Packet Type", {170, 98, 282, 126}),
          CheckBox(ids::kBroadcast, "Broadcast", {178, 110, 226, 120}),
          CheckBox(ids::kMulticast, "Multicast", {228, 110, 280, 120}),
          GroupBox("transfer mode", {170, 132, 282, 160}),
          CheckBox(ids::kRs485, "RS485", {178, 144, 220, 154}),
          CheckBox(ids::kRs422, "RS422/RS232", {222, 144, 280, 154}),
      },
  };
  return tmpl;
}

const DialogTemplate& SerialPageTemplate() {
  static const DialogTemplate tmpl{
      "Serial Port Setting",
      {0, 0, 290, 216},
      kPageStyle,
      "MS Shell Dlg",
      8,
      {
          Label("Baud rate", {16, 18, 80, 28}),
          DropDownList(ids::kBaudRate, {90, 16, 170, 120},
                       {"921600", "115200", "57600", "38400", "19200", "9600", "4800", "2400", "1200"}),
          Label("Data bits", {16, 38, 80, 48}),
          DropDownList(ids::kDataBits, {90, 36, 170, 100}, {"5", "6", "7", "8"}),
          Label("Parity", {16, 58, 80, 68}),
          DropDownList(ids::kParity, {90, 56, 170, 110}, {"Odd", "Even", "None"}),
          Label("Stop bits", {16, 78, 80, 88}),
          DropDownList(ids::kStopBits, {90, 76, 170, 120}, {"1", "1.5"}),
          Label("Flow Control", {16, 98, 80, 108}),
          DropDownList(ids::kFlowControl, {90, 96, 170, 150}, {"Xon/Xoff", "Hardware", "None"}),
      },
  };
  return tmpl;
}

// ---- network page ------------------------------------------------------------------

CDeviceSetupNetworkPage::CDeviceSetupNetworkPage() : CPropertyPage(NetworkPageTemplate()) {}

void CDeviceSetupNetworkPage::DoDataExchange(CDataExchange* pDX) {
  DDX_Check(pDX, ids::kBroadcast, m_broadcast);
  DDX_Check(pDX, ids::kMulticast, m_multicast);
  DDX_Check(pDX, ids::kTcp, m_tcp);
  DDX_Check(pDX, ids::kUdp, m_udp);
  DDX_Text(pDX, ids::kDestIp, m_destIp);
  DDV_MaxChars(pDX, m_destIp, kAddressChars);
  DDX_Text(pDX, ids::kDestPort, m_destPort);
  DDV_MinMaxUInt(pDX, m_destPort, 0, kPortHigh);
  DDX_Text(pDX, ids::kDeviceName, m_deviceName);
  DDV_MaxChars(pDX, m_deviceName, kNameChars);
  DDX_Text(pDX, ids::kDns, m_dns);
  DDV_MaxChars(pDX, m_dns, kAddressChars);
  DDX_Text(pDX, ids::kGateway, m_gateway);
  DDV_MaxChars(pDX, m_gateway, kAddressChars);
  DDX_Text(pDX, ids::kDynamicIp, m_dynamicIp);
  DDV_MaxChars(pDX, m_dynamicIp, kAddressChars);
  DDX_Text(pDX, ids::kMacAddress, m_macAddress);
  DDV_MaxChars(pDX, m_macAddress, kMacChars);
  DDX_Text(pDX, ids::kNetmask, m_netmask);
  DDV_MaxChars(pDX, m_netmask, kAddressChars);
  DDX_Text(pDX, ids::kDataPort, m_dataPort);
  DDV_MinMaxUInt(pDX, m_dataPort, 0, kPortHigh);
  DDX_Text(pDX, ids::kStaticIp, m_staticIp);
  DDV_MaxChars(pDX, m_staticIp, kAddressChars);
  DDX_Text(pDX, ids::kConnectionTimeout, m_connectionTimeout);
  DDV_MinMaxUInt(pDX, m_connectionTimeout, 0, kTimeoutHigh);
  DDX_Radio(pDX, ids::kServer, m_serverClient);
  DDX_CBIndex(pDX, ids::kDhcp, m_dhcp);
  DDX_Text(pDX, ids::kTxTimer, m_txTimer);
  DDV_MinMaxUInt(pDX, m_txTimer, 0, kTxTimerHigh);
  DDX_Check(pDX, ids::kAutoConnect, m_autoConnect);
  DDX_Check(pDX, ids::kRs485, m_rs485);
  DDX_Check(pDX, ids::kRs422, m_rs422);
}

BOOL CDeviceSetupNetworkPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  CSpinButtonCtrl(GetDlgItem(ids::kTimeoutSpin)).SetRange32(0, static_cast<int>(kTimeoutHigh));
  OnServer();
  OnClient();
  return TRUE;
}

BOOL CDeviceSetupNetworkPage::OnSetActive() {
  UpdateData(FALSE);
  OnServer();
  OnClient();
  OnDhcpChange();
  return CPropertyPage::OnSetActive();
}

bool CDeviceSetupNetworkPage::OnCommand(UINT id, UINT code, Handle control) {
  if (code == CBN_SELCHANGE && id == static_cast<UINT>(ids::kDhcp)) {
    OnDhcpChange();
    return true;
  }
  if (code == BN_CLICKED) {
    switch (static_cast<int>(id)) {
      case ids::kServer:
        OnServer();
        return true;
      case ids::kClient:
        OnClient();
        return true;
      case ids::kTcp:
        OnTcp();
        return true;
      case ids::kUdp:
        OnUdp();
        return true;
      case ids::kMulticast:
        OnMulticast();
        return true;
      case ids::kBroadcast:
        OnBroadcast();
        return true;
      case ids::kRs485:
        OnRs485();
        return true;
      case ids::kRs422:
        OnRs422();
        return true;
      default:
        break;
    }
  }
  return CPropertyPage::OnCommand(id, code, control);
}

void CDeviceSetupNetworkPage::Enable(int id, bool enable) {
  GetDlgItem(id).EnableWindow(enable);
}
void CDeviceSetupNetworkPage::Show(int id, bool show) {
  GetDlgItem(id).ShowWindow(show ? SW_SHOW : SW_HIDE);
}

// Every handler reads the controls back first and goes on with what it got,
// even when a field failed its check (the check's message has been shown).
void CDeviceSetupNetworkPage::OnServer() {
  UpdateData(TRUE);
  if (m_serverClient != 0) return;
  Enable(ids::kDynamicIp, true);
  Enable(ids::kDataPort, true);
  Enable(ids::kDestIp, false);
  Enable(ids::kDestPort, false);
  OnDhcpChange();
  // Auto connect is enabled with UDP but not disabled otherwise: in server
  // mode with TCP it keeps whatever state it had.
  if (m_udp == 1) Enable(ids::kAutoConnect, true);
}

void CDeviceSetupNetworkPage::OnClient() {
  UpdateData(TRUE);
  if (m_serverClient != 1) return;
  Enable(ids::kDynamicIp, false);
  Enable(ids::kDataPort, false);
  Enable(ids::kDestIp, true);
  Enable(ids::kDestPort, true);
  OnDhcpChange();
  Enable(ids::kAutoConnect, false);
  m_autoConnect = 0;
  UpdateData(FALSE);
}

// The dynamic address is shown, never editable, while DHCP is on: it is the
// address the device uses now.
void CDeviceSetupNetworkPage::OnDhcpChange() {
  UpdateData(TRUE);
  if (m_dhcp == 0) {
    Show(ids::kDynamicIp, false);
    Show(ids::kStaticIp, true);
  } else {
    Show(ids::kDynamicIp, true);
    Enable(ids::kDynamicIp, false);
    Show(ids::kStaticIp, false);
  }
}

void CDeviceSetupNetworkPage::OnTcp() {
  UpdateData(TRUE);
  if (m_tcp == 1) {
    m_udp = 0;
    m_autoConnect = 0;
    Enable(ids::kAutoConnect, false);
  } else {
    m_udp = 1;
    if (m_serverClient == 0) Enable(ids::kAutoConnect, true);
  }
  UpdateData(FALSE);
}

void CDeviceSetupNetworkPage::OnUdp() {
  UpdateData(TRUE);
  if (m_udp == 1) {
    m_tcp = 0;
    if (m_serverClient == 0) Enable(ids::kAutoConnect, true);
  } else {
    m_tcp = 1;
    m_autoConnect = 0;
    Enable(ids::kAutoConnect, false);
  }
  UpdateData(FALSE);
}

void CDeviceSetupNetworkPage::OnMulticast() {
  UpdateData(TRUE);
  if (m_multicast == 0) m_broadcast = 1;
  UpdateData(FALSE);
}

void CDeviceSetupNetworkPage::OnBroadcast() {
  UpdateData(TRUE);
  if (m_broadcast == 0) m_multicast = 1;
  UpdateData(FALSE);
}

void CDeviceSetupNetworkPage::OnRs485() {
  UpdateData(TRUE);
  m_rs422 = m_rs485 != 1 ? 1 : 0;
  UpdateData(FALSE);
}

void CDeviceSetupNetworkPage::OnRs422() {
  UpdateData(TRUE);
  m_rs485 = m_rs422 != 1 ? 1 : 0;
  UpdateData(FALSE);
}

// ---- serial page -------------------------------------------------------------------

CDeviceSetupSerialPage::CDeviceSetupSerialPage() : CPropertyPage(SerialPageTemplate()) {}

void CDeviceSetupSerialPage::DoDataExchange(CDataExchange* pDX) {
  DDX_CBIndex(pDX, ids::kBaudRate, m_baudRate);
  DDX_CBIndex(pDX, ids::kDataBits, m_dataBits);
  DDX_CBIndex(pDX, ids::kFlowControl, m_flowControl);
  DDX_CBIndex(pDX, ids::kParity, m_parity);
  DDX_CBIndex(pDX, ids::kStopBits, m_stopBits);
}

BOOL CDeviceSetupSerialPage::OnInitDialog() {
  CPropertyPage::OnInitDialog();
  UpdateData(FALSE);
  return TRUE;
}

BOOL CDeviceSetupSerialPage::OnSetActive() {
  UpdateData(FALSE);
  return CPropertyPage::OnSetActive();
}

}  // namespace corvane::setup
