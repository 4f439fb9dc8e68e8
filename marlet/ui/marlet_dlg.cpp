#include "marlet/ui/marlet_dlg.h"

#include <cstdio>
#include <cstdlib>
#include <optional>

#include "link_state.h"
#include "marlet/install/device_info_set.h"
#include "marlet/install/port_removal.h"
#include "marlet/ui/marlet_dlg_ids.h"

namespace marlet {

namespace {

constexpr int kColumnPortId = 0;
constexpr int kColumnPortName = 1;
constexpr int kColumnStatus = 2;
constexpr int kColumnRemoteIp = 3;
constexpr int kColumnRemotePort = 4;
constexpr const char* kIdle = "Idle";
constexpr const char* kConnected = "Connected";
constexpr const char* kStopTerminal = "Please stop terminal program first\n";
constexpr unsigned kHighestPort = 65535;

std::string DottedAddress(std::uint32_t address) {
  char text[32];
  std::snprintf(text, sizeof text, "%d.%d.%d.%d", static_cast<int>(address >> 24 & 0xFF),
                static_cast<int>(address >> 16 & 0xFF), static_cast<int>(address >> 8 & 0xFF),
                static_cast<int>(address & 0xFF));
  return text;
}

// Connected, or on the way there: the port is switched on, and its buttons
// are those of a connected port (Close stops a port that keeps reconnecting).
bool SwitchedOn(const std::string& status) {
  return status == kConnected || status == VportLinkStateText(VPORT_LINK_CONNECTING) ||
         status == VportLinkStateText(VPORT_LINK_LOST);
}

// The COM number of a port name such as "COM5"; 0 for any other name.
std::uint32_t ComNumberOf(const std::string& name) {
  constexpr std::size_t kPrefix = 3, kMostDigits = 6;
  if (name.size() <= kPrefix || name.size() > kPrefix + kMostDigits || name.compare(0, kPrefix, "COM") != 0)
    return 0;
  std::uint32_t number = 0;
  for (std::size_t i = kPrefix; i < name.size(); ++i) {
    if (name[i] < '0' || name[i] > '9') return 0;
    number = number * 10 + static_cast<std::uint32_t>(name[i] - '0');
  }
  return number;
}

// The port text as the user typed it: decimal digits, at most five.
unsigned long PortValue(const std::string& text) {
  return std::strtoul(text.c_str(), nullptr, 10);
}

}  // namespace

const tk::DialogTemplate& MarletDialogTemplate() {
  using namespace tk;
  static const DialogTemplate tmpl = [] {
    DialogTemplate t;
    t.caption = "Marlet";
    t.rect = {0, 0, 400, 262};
    t.style |= WS_MINIMIZEBOX;
    t.controls = {
        Picture(ids::kBitmapBanner, {0, 0, 400, 30}),
        GroupBox("Virtual Port", {7, 34, 120, 112}),
        PushButton(ids::kAdd, "Add", {16, 50, 110, 66}),
        PushButton(ids::kRemove, "Remove", {16, 76, 110, 92}),
        GroupBox("Network", {126, 34, 393, 112}),
        RadioButton(ids::kTcpClient, "TCP client", {134, 46, 194, 56}).Group().TabStop().Disabled(),
        RadioButton(ids::kUdpClient, "UDP client", {200, 46, 260, 56}).Disabled(),
        Label("Remote host IP address", {134, 62, 220, 70}),
        IPAddress(ids::kRemoteIp, {224, 60, 316, 72}),
        Label("Remote host port", {134, 78, 220, 86}),
        Edit(ids::kRemotePort, {224, 76, 264, 88}).Style(ES_NUMBER).Disabled(),
        CheckBox(ids::kConnectAtStart, "Connect when Windows Start", {134, 94, 264, 104}).Disabled(),
        Label("Max Packet Size", {270, 78, 326, 86}).Hidden(),
        Edit(ids::kMaxPacketSize, {270, 90, 316, 102}).Style(ES_NUMBER).Hidden(),
        PushButton(ids::kConnect, "Connect", {330, 46, 386, 60}),
        PushButton(ids::kClose, "Close", {330, 66, 386, 80}),
        PushButton(ids::kSetting, "Setting", {330, 86, 386, 100}),
        Label("Virtual Port List", {7, 118, 120, 126}),
        ListView(ids::kList, {7, 128, 393, 226}).Style(LVS_SHOWSELALWAYS),
        Label("", {7, 232, 320, 242}, ids::kStatus),
        ProgressBar(ids::kProgress, {7, 246, 200, 254}).Hidden(),
        PushButton(ids::kUnused, "Button1", {336, 242, 386, 256}).Hidden(),
    };
    return t;
  }();
  return tmpl;
}

CMarletDlg::CMarletDlg(PortDriverChannel& channel, DeviceInstallPlatform& installer,
                       std::function<void(int)> exitProgram)
    : tk::CDialog(MarletDialogTemplate()),
      m_channel(channel),
      m_installer(installer),
      m_exitProgram(std::move(exitProgram)),
      m_icon(tk::LoadAppIcon(ids::kIconMain)) {}

void CMarletDlg::DoDataExchange(tk::CDataExchange* pDX) {
  tk::DDX_Control(pDX, ids::kList, m_list);
  tk::DDX_Text(pDX, ids::kStatus, m_status);
  tk::DDX_Text(pDX, ids::kRemotePort, m_portText);
  tk::DDV_MaxChars(pDX, m_portText, 5);
  tk::DDX_Radio(pDX, ids::kTcpClient, m_connectionType);
  tk::DDX_Check(pDX, ids::kConnectAtStart, m_connectAtStart);
  tk::DDX_Text(pDX, ids::kMaxPacketSize, m_maxPacketSize);
}

tk::BOOL CMarletDlg::OnInitDialog() {
  tk::CDialog::OnInitDialog();
  tk::CMenu menu = GetSystemMenu(false);
  menu.AppendMenu(tk::MF_SEPARATOR);
  menu.AppendMenu(tk::MF_STRING, ids::kAboutCommand, "&About Marlet...");
  SetIcon(m_icon, true);
  SetIcon(m_icon, false);

  // One copy at a time: the check runs before this window takes the title.
  if (tk::FindTopLevelWindow(kMainTitle) != nullptr) {
    PostMessage(tk::WM_CLOSE);
    return tk::TRUE;
  }
  SetWindowText(kMainTitle);

  m_list.SetCheckboxMode(reportctrl::kCheckboxNone);
  m_list.SetColumns(kPortListColumns);
  m_list.SetGridLines(true);

  m_portCount = 0;
  m_interfaceCount = 0;
  m_editing = 0;
  tk::CIPAddressCtrl(GetDlgItem(ids::kRemoteIp)).SetAddress(0);
  Enable(ids::kRemoteIp, false);
  GetDlgItem(ids::kProgress).ShowWindow(tk::SW_HIDE);
  for (int id : {ids::kRemove, ids::kConnect, ids::kClose, ids::kSetting}) Enable(id, false);

  RefreshPortList();
  m_list.SetSortable(false);
  SetTimer(kLinkStateTimer, kLinkStatePeriodMs);
  return tk::TRUE;
}

bool CMarletDlg::OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) {
  if (code != tk::BN_CLICKED) return tk::CDialog::OnCommand(id, code, control);
  switch (static_cast<int>(id)) {
    case ids::kAdd:
      OnAdd();
      return true;
    case ids::kRemove:
      OnRemove();
      return true;
    case ids::kConnect:
      OnConnect();
      return true;
    case ids::kClose:
      OnDisconnect();
      return true;
    case ids::kSetting:
      OnSetting();
      return true;
    default:
      return tk::CDialog::OnCommand(id, code, control);
  }
}

bool CMarletDlg::OnNotify(int id, tk::Notification& n, tk::LRESULT& result) {
  if (id == ids::kList && n.code == tk::NM_CLICK) {
    OnRowClick(n.item);
    result = 0;
    return true;
  }
  return tk::CDialog::OnNotify(id, n, result);
}

bool CMarletDlg::OnSysCommand(tk::UINT id, tk::LPARAM lParam) {
  if ((id & 0xFFF0) == ids::kAboutCommand) {
    CAboutDlg about;
    about.DoModal();
    return true;
  }
  return tk::CDialog::OnSysCommand(id, lParam);
}

bool CMarletDlg::OnPaint() {
  if (!IsIconic()) return false;
  tk::CPaintDC dc(this);
  SendMessage(tk::WM_ICONERASEBKGND, reinterpret_cast<tk::WPARAM>(dc.GetSafeHdc()), 0);
  tk::CRect rect = GetClientRect();
  int x = (rect.Width() - tk::GetSystemMetrics(tk::SM_CXICON) + 1) / 2;
  int y = (rect.Height() - tk::GetSystemMetrics(tk::SM_CYICON) + 1) / 2;
  dc.DrawIcon(x, y, m_icon);
  return true;
}

tk::HICON CMarletDlg::OnQueryDragIcon() {
  return m_icon;
}

void CMarletDlg::OnTimer(tk::UINT_PTR id) {
  if (id == kLinkStateTimer) {
    RefreshLinkStates();
    return;
  }
  tk::CDialog::OnTimer(id);
}

void CMarletDlg::Enable(int id, bool enable) {
  GetDlgItem(id).EnableWindow(enable);
}

void CMarletDlg::EnableRemoteFields(bool enable) {
  for (int id : {ids::kRemoteIp, ids::kRemotePort, ids::kMaxPacketSize, ids::kConnectAtStart, ids::kTcpClient,
                 ids::kUdpClient}) {
    Enable(id, enable);
  }
}

int CMarletDlg::SelectedRow() const {
  return m_list.GetNextItem(-1, tk::LVNI_SELECTED);
}

int CMarletDlg::SelectedPortId() const {
  int row = SelectedRow();
  return row < 0 ? -1 : std::atoi(m_list.GetCellText(row, kColumnPortId).c_str());
}

void CMarletDlg::ShowEndpoint(const RemoteEndpoint& e) {
  m_connectionType = e.type;
  m_connectAtStart = static_cast<int>(e.connectAtStart);
  m_maxPacketSize = e.maxPacketSize;
  m_portText = std::to_string(e.port);
  tk::CIPAddressCtrl(GetDlgItem(ids::kRemoteIp)).SetAddress(e.address);
  UpdateData(tk::FALSE);
}

std::uint32_t CMarletDlg::AddressFromControl() const {
  tk::DWORD address = 0;
  tk::CIPAddressCtrl(GetDlgItem(ids::kRemoteIp)).GetAddress(address);
  return address;
}

void CMarletDlg::ShowRowState(int row, const RemoteEndpoint& e) {
  const bool idle = e.connected == 0;
  RememberEndpoint(row, e);
  m_list.SetCellText(row, kColumnStatus, VportLinkStateText(e.connected));
  m_list.SetCellText(row, kColumnRemoteIp, !idle && e.address != 0 ? DottedAddress(e.address) : "");
  m_list.SetCellText(row, kColumnRemotePort, !idle && e.port != 0 ? std::to_string(e.port) : "");
}

void CMarletDlg::RememberEndpoint(int row, const RemoteEndpoint& endpoint) {
  if (row < 0) return;
  const auto index = static_cast<std::size_t>(row);
  if (index >= m_rowEndpoints.size()) m_rowEndpoints.resize(index + 1);
  m_rowEndpoints[index] = endpoint;
}

void CMarletDlg::RefreshLinkStates() {
  // While the settings are edited the buttons stay as editing set them.
  if (m_editing != 0) return;
  const int selected = SelectedRow();
  bool selectedChanged = false;
  for (int row = 0; row < m_list.GetItemCount(); ++row) {
    const std::uint32_t com = ComNumberOf(m_list.GetCellText(row, kColumnPortName));
    const std::optional<std::uint32_t> state = com == 0 ? std::nullopt : m_channel.QueryLinkState(com);
    // Rewritten only when the state changed: the list does not flicker.
    if (!state || m_list.GetCellText(row, kColumnStatus) == VportLinkStateText(*state)) continue;
    const auto index = static_cast<std::size_t>(row);
    RemoteEndpoint endpoint = index < m_rowEndpoints.size() ? m_rowEndpoints[index] : RemoteEndpoint{};
    endpoint.connected = *state;
    ShowRowState(row, endpoint);
    selectedChanged = selectedChanged || row == selected;
  }
  if (selectedChanged) EnableForStatus(selected);
}

void CMarletDlg::SetStatus(const std::string& text) {
  m_status = text;
  UpdateData(tk::FALSE);
}

void CMarletDlg::RefreshPortList() {
  m_list.DeleteAllRows();
  m_rowEndpoints.clear();
  m_portCount = 0;
  m_interfaceCount = 0;
  bool ended = false;
  bool complete = m_channel.EnumeratePortInterfaces([&](int position, const std::string& path) {
    ++m_interfaceCount;
    if (path.find(kVirtualPortMarker) == std::string::npos) return true;
    const int row = m_portCount;
    m_list.InsertRow(row, std::to_string(position));
    std::string name;
    if (!m_channel.GetDosName(position, name)) {
      // A terminal program holds the port: the program cannot list it and ends.
      ended = true;
      if (m_exitProgram) m_exitProgram(0);
      return false;
    }
    m_list.SetCellText(row, kColumnPortName, name);
    m_list.SetCellText(row, kColumnStatus, kIdle);
    RemoteEndpoint endpoint;
    if (m_channel.GetRemoteInfo(position, endpoint).opened) {
      m_connected = endpoint.connected;
      ShowEndpoint(endpoint);
      ShowRowState(row, endpoint);
    }
    ++m_portCount;
    return true;
  });
  if (!ended && !complete && m_channel.DetailReadFailed() && m_list.GetItemCount() >= kRowLimit) {
    Enable(ids::kAdd, false);
  }
}

void CMarletDlg::OnRowClick(int row) {
  // While the settings are edited the buttons stay as editing set them; the
  // click only chooses the port that OK sends to.
  if (m_editing != 0) return;
  UpdateData(tk::TRUE);
  if (row < 0 || row >= m_list.GetItemCount()) {
    for (int id : {ids::kRemove, ids::kConnect, ids::kClose, ids::kSetting}) Enable(id, false);
    return;
  }
  const int portId = std::atoi(m_list.GetCellText(row, kColumnPortId).c_str());
  if (!EnableForStatus(row)) return;
  RemoteEndpoint endpoint;
  const ControlResult read = m_channel.GetRemoteInfo(portId, endpoint);
  if (!read.opened) return;
  if (!read.succeeded) {
    // The driver did not say what it holds (the message told the user): the
    // zeros are not shown as its settings, for OK to store them back.
    Enable(ids::kSetting, false);
    return;
  }
  RememberEndpoint(row, endpoint);
  ShowEndpoint(endpoint);
}

bool CMarletDlg::EnableForStatus(int row) {
  const std::string status = m_list.GetCellText(row, kColumnStatus);
  Enable(ids::kRemove, true);
  const bool idle = status == kIdle;
  if (!idle && !SwitchedOn(status)) return false;
  Enable(ids::kConnect, idle);
  Enable(ids::kClose, !idle);
  Enable(ids::kRemove, idle);
  Enable(ids::kSetting, idle);
  return true;
}

void CMarletDlg::OnSetting() {
  if (m_editing == 0) {
    SetDlgItemText(ids::kSetting, "OK");
    m_editing = 1;
    EnableRemoteFields(true);
    for (int id : {ids::kAdd, ids::kRemove, ids::kConnect, ids::kClose}) Enable(id, false);
    return;
  }
  const int row = SelectedRow();
  const int portId = SelectedPortId();
  if (!UpdateData(tk::TRUE)) return;
  const unsigned long port = PortValue(m_portText);
  if (port > kHighestPort) {
    // Refused rather than sent modulo 65536 to another port number.
    tk::AfxMessageBox(tk::FormatRangeMessage(0, kHighestPort), tk::MB_ICONEXCLAMATION);
    GotoDlgCtrl(ids::kRemotePort);
    return;
  }
  // With no port selected there is nothing to send to: port ID 0 may be a
  // physical port that is not ours.
  if (portId >= 0) {
    RemoteEndpoint endpoint;
    endpoint.address = AddressFromControl();
    endpoint.port = static_cast<std::uint16_t>(port);
    endpoint.type = static_cast<std::uint8_t>(m_connectionType == 1 ? kUdpClient : kTcpClient);
    endpoint.connectAtStart = static_cast<std::uint32_t>(m_connectAtStart);
    endpoint.maxPacketSize = m_maxPacketSize;
    const ControlResult stored = m_channel.SetRemoteInfo(portId, endpoint);
    if (!stored.succeeded) {
      // Not stored (the failure has been shown): editing goes on with what the
      // user typed, and the row shows what the driver still holds.
      RemoteEndpoint held;
      if (stored.opened && row >= 0 && m_channel.GetRemoteInfo(portId, held).succeeded)
        ShowRowState(row, held);
      return;
    }
    if (row >= 0) RememberEndpoint(row, endpoint);
  }
  SetDlgItemText(ids::kSetting, "Setting");
  m_editing = 0;
  EnableRemoteFields(false);
  Enable(ids::kAdd, true);
  const bool connected = row >= 0 && SwitchedOn(m_list.GetCellText(row, kColumnStatus));
  Enable(ids::kRemove, row >= 0 && !connected);
  Enable(ids::kConnect, row >= 0 && !connected);
  Enable(ids::kClose, connected);
  Enable(ids::kSetting, row >= 0 && !connected);
}

void CMarletDlg::OnConnect() {
  const int row = SelectedRow();
  const int portId = SelectedPortId();
  if (row < 0) return;
  UpdateData(tk::TRUE);
  unsigned long port = PortValue(m_portText);
  std::uint32_t address = AddressFromControl();
  ControlResult result = m_channel.ConnectPort(portId);
  if (!result.opened) {
    tk::AfxMessageBox(kStopTerminal);
    return;
  }
  if (!result.succeeded) {
    tk::AfxMessageBox(FormatCode("IOCTL_CONNECTION failed (0x%x)\n", result.error));
    return;
  }
  // The driver connects to the endpoint it holds, which need not be the one
  // in the controls: report and show that one.
  RemoteEndpoint held;
  if (m_channel.GetRemoteInfo(portId, held).succeeded) {
    address = held.address;
    port = held.port;
    ShowEndpoint(held);
  } else {
    held.address = address;
    held.port = static_cast<std::uint16_t>(port);
  }
  RememberEndpoint(row, held);
  char text[128];
  std::snprintf(text, sizeof text, "Connected to remote host %s@%lu successfully",
                DottedAddress(address).c_str(), port);
  SetStatus(text);
  m_list.SetCellText(row, kColumnStatus, kConnected);
  for (int id : {ids::kConnect, ids::kSetting, ids::kRemove, ids::kRemoteIp, ids::kRemotePort})
    Enable(id, false);
  Enable(ids::kClose, true);
  m_list.SetCellText(row, kColumnRemoteIp, DottedAddress(address));
  m_list.SetCellText(row, kColumnRemotePort, std::to_string(port));
}

void CMarletDlg::OnDisconnect() {
  const int row = SelectedRow();
  const int portId = SelectedPortId();
  if (row < 0) return;
  ControlResult result = m_channel.DisconnectPort(portId);
  if (!result.opened) {
    tk::AfxMessageBox(kStopTerminal);
    return;
  }
  if (!result.succeeded) {
    tk::AfxMessageBox(FormatCode("IOCTL_DISCONNECTION failed (0x%x)\n", result.error));
  } else {
    SetStatus("Connection closed successfully");
    m_list.SetCellText(row, kColumnStatus, kIdle);
    Enable(ids::kConnect, true);
    Enable(ids::kClose, false);
    Enable(ids::kSetting, true);
    m_list.SetCellText(row, kColumnRemoteIp, "");
    m_list.SetCellText(row, kColumnRemotePort, "");
  }
  Enable(ids::kAdd, true);
  Enable(ids::kRemove, true);
}

void CMarletDlg::OnAdd() {
  SetStatus("Adding virtual serial port driver...");
  const int before = m_portCount;
  UpdateData(tk::TRUE);
  Enable(ids::kAdd, false);
  m_infName = kInstallationFile;
  InstallVirtualPort(m_installer, m_infName);
  RefreshPortList();
  SetStatus(m_portCount == before ? "Added a virtual serial port failed"
                                  : "Added a virtual serial port successfully");
  Enable(ids::kAdd, true);
}

void CMarletDlg::OnRemove() {
  const int portId = SelectedPortId();
  if (portId < 0) return;
  Enable(ids::kRemove, false);
  RemovalResult result = RemoveVirtualPort(m_channel, portId);
  if (result == RemovalResult::kLookupFailed || result == RemovalResult::kNotStarted) {
    tk::AfxMessageBox("Failed to remove the virtual serial port driver!");
    if (m_channel.DetailReadFailed() && m_list.GetItemCount() >= kRowLimit) Enable(ids::kAdd, false);
    Enable(ids::kRemove, true);
    return;
  }
  if (result == RemovalResult::kToolFailed)
    tk::AfxMessageBox("Failed to remove the virtual serial port driver!");
  // The tool may have removed the port or not: the driver's list says which.
  RefreshPortList();
  if (result == RemovalResult::kRemoved) SetStatus("VSP removed successfully");
  Enable(ids::kAdd, true);
  for (int id : {ids::kRemove, ids::kConnect, ids::kClose, ids::kSetting}) Enable(id, false);
}

const tk::DialogTemplate& AboutTemplate() {
  using namespace tk;
  static const DialogTemplate tmpl = [] {
    DialogTemplate t;
    t.caption = "About Marlet";
    t.rect = {0, 0, 220, 62};
    t.controls = {
        IconPicture(ids::kIconMain, {10, 10, 30, 30}),
        Label("Marlet Version 1.3", {40, 10, 170, 18}),
        Label("Virtual serial port manager", {40, 24, 170, 32}),
        PushButton(IDOK, "OK", {163, 40, 213, 54}).Default(),
    };
    return t;
  }();
  return tmpl;
}

CAboutDlg::CAboutDlg() : tk::CDialog(AboutTemplate()) {}

}  // namespace marlet
