// The device setup sheet: opening, the conversions between pages and settings,
// Submit and the close.
#include "corvane/setup/setup_sheet.h"

#include <algorithm>
#include <span>

#include "corvane/settings/encoding.h"
#include "corvane/settings/settings_file.h"
#include "corvane/settings/submit_check.h"
#include "corvane/setup/setup_ids.h"
#include "corvane/setup/setup_messages.h"
#include "tk/controls.h"

namespace corvane::setup {

using namespace tk;
using namespace corvane::settings;

namespace {

// Where ReadItem takes each item from: a control of the network (or, for the
// line settings, the serial) page and how it reads.
enum class Read { Text, Check, ComboIndex, ServerClient, Empty };
struct ItemSource {
  int id;
  Read read;
  bool serial;
};
constexpr ItemSource kSources[kItemCount] = {
    {ids::kDeviceName, Read::Text, false},
    {ids::kMacAddress, Read::Text, false},
    {ids::kServer, Read::ServerClient, false},
    {ids::kDhcp, Read::ComboIndex, false},
    {ids::kDynamicIp, Read::Text, false},
    {ids::kStaticIp, Read::Text, false},
    {ids::kDataPort, Read::Text, false},
    {0, Read::Empty, false},
    {0, Read::Empty, false},
    {ids::kDestIp, Read::Text, false},
    {ids::kDestPort, Read::Text, false},
    {ids::kUdp, Read::Check, false},
    {ids::kAutoConnect, Read::Check, false},
    {ids::kTcp, Read::Check, false},
    {ids::kBroadcast, Read::Check, false},
    {ids::kMulticast, Read::Check, false},
    {ids::kNetmask, Read::Text, false},
    {ids::kGateway, Read::Text, false},
    {ids::kDns, Read::Text, false},
    {ids::kConnectionTimeout, Read::Text, false},
    {ids::kTxTimer, Read::Text, false},
    {ids::kBaudRate, Read::ComboIndex, true},
    {ids::kDataBits, Read::ComboIndex, true},
    {ids::kParity, Read::ComboIndex, true},
    {ids::kStopBits, Read::ComboIndex, true},
    {ids::kFlowControl, Read::ComboIndex, true},
    {ids::kRs485, Read::Check, false},
};

std::string Number(long v) {
  return std::to_string(v);
}

}  // namespace

CDeviceSetupMain::CDeviceSetupMain(CWnd* owner) : CPropertySheet("Device Setup", owner), m_owner(owner) {
  AddPage(&m_network);
  AddPage(&m_serial);
}

CWnd* CDeviceSetupMain::MainWindow() const {
  return m_owner != nullptr ? m_owner : AfxGetMainWnd();
}

CWnd CDeviceSetupMain::PageControl(int id) const {
  for (const CPropertyPage* page :
       {static_cast<const CPropertyPage*>(&m_network), static_cast<const CPropertyPage*>(&m_serial)}) {
    CWnd control = page->GetDlgItem(id);
    if (control.GetSafeHwnd() != nullptr) return control;
  }
  return CWnd();
}

// ---- opening and closing -------------------------------------------------------------

BOOL CDeviceSetupMain::OnInitDialog() {
  CPropertySheet::OnInitDialog();
  GetDlgItem(IDOK).SetWindowText("Submit");
  GetDlgItem(IDCANCEL).SetWindowText("Save");
  CWnd help = GetDlgItem(IDHELP);
  help.SetWindowText("Exit");
  help.ShowWindow(SW_HIDE);
  CWnd apply = GetDlgItem(ID_APPLY_NOW);
  apply.SetWindowText("Load");
  apply.EnableWindow(true);
  // Both page windows exist from here to the close, so that values can be read
  // from and written to either page at any time.
  SetActivePage(&m_serial);
  SetActivePage(&m_network);
  // The record is decoded with the row kind, so the row kind comes first.
  if (CWnd* main = MainWindow()) {
    main->SendMessage(kAskHostInfo);
    main->SendMessage(kAskRowKind);
    main->SendMessage(kAskRecord);
  }
  return TRUE;
}

bool CDeviceSetupMain::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  const auto* second = reinterpret_cast<const int*>(lParam);
  switch (msg) {
    case kHostInfo:
      if (wParam != 0) m_hostAddress = *reinterpret_cast<const std::string*>(wParam);
      if (second != nullptr) m_tableSlot = *second;
      break;
    case kRowKind:
      if (wParam != 0) m_rowKind = *reinterpret_cast<const int*>(wParam);
      if (second != nullptr) m_rowCount = *second;
      break;
    case kRecord: {
      const auto* record = reinterpret_cast<const std::uint8_t*>(wParam);
      if (record == nullptr) break;
      DecodeRecord(record, second != nullptr ? *second : 0);
      std::copy_n(record, m_recordCopy.size(), m_recordCopy.begin());
      break;
    }
    default:
      return CPropertySheet::OnMessage(msg, wParam, lParam, result);
  }
  result = 1;
  return true;
}

BOOL CDeviceSetupMain::DestroyWindow() {
  if (IsWindow()) {
    if (CWnd* main = MainWindow()) main->SendMessage(kSheetClosed);
  }
  return CPropertySheet::DestroyWindow();
}

// ---- commands --------------------------------------------------------------------------

// A click of one of the sheet's own push buttons; anything else (the close box
// carries no control window) takes the sheet's standard route.
bool CDeviceSetupMain::IsButtonClick(UINT code, Handle control) const {
  if (control == nullptr || code != BN_CLICKED) return false;
  CWnd button(control);
  if ((button.QueryDlgCode() & (DLGC_BUTTON | DLGC_DEFPUSHBUTTON)) == 0) return false;
  const DWORD type = button.GetStyle() & BS_TYPEMASK;
  return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || type == BS_USERBUTTON || type == BS_OWNERDRAW;
}

bool CDeviceSetupMain::OnCommand(UINT id, UINT code, Handle control) {
  if (IsButtonClick(code, control)) {
    switch (static_cast<int>(id)) {
      case IDOK:
        // A Submit whose checks pass leaves OK to the standard handling: the
        // current page validates its fields and the sheet ends with 1.
        return !Submit();
      case IDHELP:
        return true;
      case IDCANCEL:
        SaveSettingsFile();
        return true;
      case ID_APPLY_NOW:
        LoadSettingsFile();
        return true;
      default:
        break;
    }
  }
  return CPropertySheet::OnCommand(id, code, control);
}

bool CDeviceSetupMain::Submit() {
  m_onePortRequest.fill(0);
  m_twoPortRequest.fill(0);
  DeviceSettings s = SettingsFromControls();
  // Only the first problem is shown; no address the user typed may reach the
  // device as another address.
  if (const auto problem = CheckSubmit(s, m_rowKind)) {
    if (problem->fault == SubmitFault::PortNumber) {
      MessageBox(problem->message, "Searching Result", MB_OK | MB_ICONINFORMATION);
    } else {
      MessageBox(problem->message, "Error Info", MB_OK | MB_ICONSTOP);
    }
    return false;
  }
  // The network page's range checks hold even when Submit is pressed on the
  // serial page (a loaded file may have put a bad value there).
  if (GetActivePage() != &m_network && m_network.IsWindow() && !m_network.UpdateData(TRUE)) return false;
  FillUnselectedSerialCodes(s, m_rowKind, m_recordCopy);
  if (m_rowKind == kSinglePortRow) EncodeRequest(m_onePortRequest, m_rowKind, s, m_recordCopy);
  if (IsTwoPortRow(m_rowKind)) EncodeRequest(m_twoPortRequest, m_rowKind, s, m_recordCopy);
  return true;
}

// ---- conversions between pages and settings --------------------------------------------

std::string CDeviceSetupMain::ReadItem(int item) const {
  if (item < 0 || item >= kItemCount) return {};
  const ItemSource& src = kSources[item];
  if (src.read == Read::Empty) return {};
  const CWnd control = PageControl(src.id);
  if (control.GetSafeHwnd() == nullptr) return SettingsFromMembers().items[static_cast<std::size_t>(item)];
  switch (src.read) {
    case Read::Text:
      return control.GetWindowText();
    case Read::Check:
      return Number(CButton(control).GetCheck());
    case Read::ComboIndex:
      return Number(CComboBox(control).GetCurSel());
    case Read::ServerClient:
      return CButton(control).GetCheck() == BST_CHECKED ? "0" : "1";
    default:
      return {};
  }
}

DeviceSettings CDeviceSetupMain::SettingsFromControls() const {
  DeviceSettings s;
  for (int item = 0; item < kItemCount; ++item) s.items[static_cast<std::size_t>(item)] = ReadItem(item);
  s.store = m_store;
  return s;
}

DeviceSettings CDeviceSetupMain::SettingsFromMembers() const {
  const CDeviceSetupNetworkPage& n = m_network;
  const CDeviceSetupSerialPage& p = m_serial;
  DeviceSettings s;
  s.items = {n.m_deviceName,
             n.m_macAddress,
             Number(n.m_serverClient),
             Number(n.m_dhcp),
             n.m_dynamicIp,
             n.m_staticIp,
             Number(n.m_dataPort),
             "",
             "",
             n.m_destIp,
             Number(n.m_destPort),
             Number(n.m_udp),
             Number(n.m_autoConnect),
             Number(n.m_tcp),
             Number(n.m_broadcast),
             Number(n.m_multicast),
             n.m_netmask,
             n.m_gateway,
             n.m_dns,
             Number(n.m_connectionTimeout),
             Number(n.m_txTimer),
             Number(p.m_baudRate),
             Number(p.m_dataBits),
             Number(p.m_parity),
             Number(p.m_stopBits),
             Number(p.m_flowControl),
             Number(n.m_rs485)};
  s.store = m_store;
  return s;
}

// Writes back the items that changed, and `alwaysItem` (the item just applied,
// whose side effects hold even when its text did not change).
void CDeviceSetupMain::MembersFromSettings(const DeviceSettings& s, const DeviceSettings& before,
                                           int alwaysItem) {
  CDeviceSetupNetworkPage& n = m_network;
  CDeviceSetupSerialPage& p = m_serial;
  for (int item = 0; item < kItemCount; ++item) {
    const std::string& text = s.items[static_cast<std::size_t>(item)];
    if (text == before.items[static_cast<std::size_t>(item)] && item != alwaysItem) continue;
    const std::int32_t v = NumberFromText(text);
    const auto u = static_cast<unsigned int>(v);
    switch (item) {
      case kDeviceName:
        n.m_deviceName = text;
        break;
      case kMacAddress:
        n.m_macAddress = text;
        break;
      case kServerClient:
        n.m_serverClient = v;
        break;
      case kDhcp:
        n.m_dhcp = v;
        break;
      case kDynamicIp:
        n.m_dynamicIp = text;
        break;
      case kStaticIp:
        n.m_staticIp = text;
        break;
      case kDataPort:
        n.m_dataPort = u;
        break;
      case kDestIp:
        n.m_destIp = text;
        break;
      case kDestPort:
        n.m_destPort = u;
        break;
      case kUdp:
        n.m_udp = v;
        break;
      case kAutoConnect:
        n.m_autoConnect = v;
        break;
      case kTcp:
        n.m_tcp = v;
        break;
      case kBroadcast:
        n.m_broadcast = v;
        break;
      case kMulticast:
        n.m_multicast = v;
        break;
      case kNetmask:
        n.m_netmask = text;
        break;
      case kGateway:
        n.m_gateway = text;
        break;
      case kDns:
        n.m_dns = text;
        break;
      case kConnectionTimeout:
        n.m_connectionTimeout = u;
        break;
      case kTxTimer:
        n.m_txTimer = u;
        break;
      case kBaudRate:
        p.m_baudRate = v;
        break;
      case kDataBits:
        p.m_dataBits = v;
        break;
      case kParity:
        p.m_parity = v;
        break;
      case kStopBits:
        p.m_stopBits = v;
        break;
      case kFlowControl:
        p.m_flowControl = v;
        break;
      case kTransferMode:
        n.m_rs485 = v != 0 ? 1 : 0;
        n.m_rs422 = v != 0 ? 0 : 1;
        break;
      default:
        break;
    }
  }
  m_store = s.store;
}

void CDeviceSetupMain::DecodeRecord(const std::uint8_t* record, int rowNumber) {
  const DeviceSettings before = SettingsFromMembers();
  DeviceSettings s = before;
  if (!settings::DecodeRecord(std::span(record, kRecordSlotMinSize), m_rowKind, rowNumber, s)) return;
  if (DisplayedPort(m_rowKind) != 0) {
    m_dhcpShown = NumberFromText(s.items[kDhcp]) != 0 ? 1 : 0;
    MembersFromSettings(s, before, kTransferMode);
  }
  RefreshPages();
}

bool CDeviceSetupMain::ApplyItem(int item, const std::string& text) {
  const DeviceSettings before = SettingsFromMembers();
  DeviceSettings s = before;
  const bool ok = settings::ApplyItem(s, item, text, m_dhcpShown);
  MembersFromSettings(s, before, ok ? item : -1);
  RefreshPages();
  return ok;
}

bool CDeviceSetupMain::ApplyFileField(int field, const std::string& text) {
  const DeviceSettings before = SettingsFromMembers();
  DeviceSettings s = before;
  const bool ok = settings::ApplyFileField(s, m_rowKind, field, text, m_dhcpShown);
  int applied = -1;
  if (ok && field >= 0 && field < FileLineCount(m_rowKind)) {
    const FileLine& line = LayoutLine(m_rowKind, field);
    if (line.port == 0 || line.port == DisplayedPort(m_rowKind)) applied = line.item;
  }
  MembersFromSettings(s, before, applied);
  RefreshPages();
  return ok;
}

void CDeviceSetupMain::RefreshPages() {
  if (m_network.IsWindow()) m_network.Refresh();
  if (m_serial.IsWindow()) m_serial.Refresh();
  // The current address is shown, never edited.
  if (m_network.IsWindow()) m_network.GetDlgItem(ids::kDynamicIp).EnableWindow(false);
}

}  // namespace corvane::setup
