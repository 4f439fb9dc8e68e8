// The main window's construction and start-up: its template, the controls'
// first state, the host address and netmask, the system menu with the About
// box, the minimised icon, the clock and the message routing.
#include <cstdio>

#include "corvane/ui/main_dlg.h"
#include "tk/platform.h"

namespace corvane::ui {

using namespace tk;

namespace {

constexpr int kIconMain = 128;
constexpr int kBitmapBanner = 146;
constexpr int kProgressRange = 1000;
// The adapter list's first buffer: room for one adapter record and a little.
constexpr unsigned long kAdapterBufferSize = 648;
constexpr const char* kAboutMenuText = "&About Corvane...";

struct ColumnDef {
  const char* caption;
  int width;
};
constexpr ColumnDef kColumns[] = {
    {"", 20},    {"NO.", 40},  {"Device Name", 109}, {"MAC Address", 115}, {"DHCP", 55},
    {"IP", 100}, {"Port", 50}, {"Mode", 50},         {"Status", 70},
};

const DialogTemplate& AboutDialogTemplate() {
  static const DialogTemplate tmpl{
      .caption = "About Corvane",
      .rect = {0, 0, 200, 62},
      .controls{
          IconPicture(kIconMain, {10, 10, 30, 30}),
          Label("Corvane Version 2.9", {40, 10, 190, 20}),
          Label("Device server manager", {40, 24, 190, 34}),
          PushButton(IDOK, "OK", {144, 42, 190, 56}).Default(),
      },
  };
  return tmpl;
}

class CAboutDlg : public CDialog {
 public:
  explicit CAboutDlg(CWnd* parent) : CDialog(AboutDialogTemplate(), parent) {}
};

}  // namespace

const DialogTemplate& MainDialogTemplate() {
  // The caption is replaced by kMainTitle once the single-instance check has run.
  static const DialogTemplate tmpl = [] {
    DialogTemplate t;
    t.caption = kProgramName;
    t.rect = {0, 0, 480, 268};
    t.style |= WS_MINIMIZEBOX;
    t.controls = {
        Picture(kBitmapBanner, {0, 0, 480, 40}),
        GroupBox("Device Status List", {7, 44, 473, 202}),
        ListView(ids::kDeviceList, {13, 55, 467, 196}, LVS_REPORT | LVS_SINGLESEL | LVS_SHOWSELALWAYS)
            .Style(WS_BORDER | WS_TABSTOP),
        GroupBox("CVN Function", {7, 205, 390, 233}),
        PushButton(ids::kSearch, "Search", {13, 215, 63, 229}).Default(),
        PushButton(ids::kIPSearch, "IP Search", {67, 215, 117, 229}),
        PushButton(ids::kDeviceSetup, "Device Setup", {121, 215, 171, 229}),
        PushButton(ids::kRestore, "Restore", {175, 215, 225, 229}),
        PushButton(ids::kReboot, "Reboot", {229, 215, 279, 229}),
        PushButton(ids::kUpgrade, "Upgrade", {283, 215, 333, 229}).Hidden(),
        PushButton(ids::kWebBrowser, "Web Browser", {337, 215, 387, 229}).Hidden().Disabled(),
        GroupBox("CVN Setting", {396, 205, 473, 233}),
        PushButton(ids::kSetting, "Setting", {409, 215, 459, 229}),
        Label("CVN Status:", {7, 240, 50, 250}),
        Label("Idle", {52, 240, 250, 250}, ids::kStatusText),
        Label("Progress:", {258, 240, 292, 250}),
        ProgressBar(ids::kProgress, {294, 239, 473, 249}),
        Label("Current Time:", {7, 254, 55, 264}).Hidden(),
        Label("", {57, 253, 140, 264}, ids::kClockText).Style(SS_SUNKEN).Hidden(),
        Label("Start till now:", {150, 254, 200, 264}).Hidden(),
        Label("", {202, 253, 285, 264}, ids::kElapsedText).Style(SS_SUNKEN).Hidden(),
    };
    return t;
  }();
  return tmpl;
}

// ---- RowList ---------------------------------------------------------------------

void RowList::Reset() {
  rows.fill(-1);
  readIndex = 0;
  remaining = 0;
  ready = 0;
}

bool RowList::Append(int row) {
  const int at = readIndex + remaining;
  if (at < 0 || at >= kCapacity) return false;
  rows[at] = row;
  ++remaining;
  return true;
}

int RowList::Current() const {
  if (remaining <= 0 || readIndex < 0 || readIndex >= kCapacity) return -1;
  return rows[readIndex];
}

void RowList::Advance() {
  ++readIndex;
  --remaining;
}

// ---- construction ------------------------------------------------------------------

CCorvaneDlg::CCorvaneDlg(CWnd* parent)
    : CDialog(MainDialogTemplate(), parent),
      m_searchDlg(this),
      m_ipSearchDlg(this),
      m_settingDlg(this),
      m_icon(LoadAppIcon(kIconMain)),
      m_table(std::make_unique<protocol::DeviceTable>()) {
  m_setupSheet = CreateSetupSheet();
  m_upgradeDlg = CreateUpgradeDialog();
}

CCorvaneDlg::~CCorvaneDlg() = default;

BOOL CCorvaneDlg::OnInitDialog() {
  CDialog::OnInitDialog();

  CMenu sysMenu = GetSystemMenu(false);
  if (sysMenu.GetSafeHmenu() != nullptr) {
    sysMenu.AppendMenu(MF_SEPARATOR);
    sysMenu.AppendMenu(MF_STRING, ids::kAboutCommand, kAboutMenuText);
  }
  SetIcon(m_icon, true);
  SetIcon(m_icon, false);

  // Only one instance runs: this window's own title is not set yet, so the
  // lookup finds only another running copy.
  if (FindTopLevelWindow(kMainTitle) != nullptr) {
    PostMessage(WM_CLOSE);
    return TRUE;
  }
  SetWindowText(kMainTitle);

  StartTimer(ids::timer::kClock, 1000);
  m_elapsedHours = m_elapsedMinutes = m_elapsedSeconds = 0;

  EnableButtons({ids::kDeviceSetup, ids::kWebBrowser, ids::kRestore, ids::kReboot}, false);
  if (m_setupSheet) m_setupSheet->SetTitle("Device Setup");

  int index = 0;
  for (const ColumnDef& column : kColumns)
    m_list.InsertColumnAt(index++, column.caption, LVCFMT_CENTER, column.width);
  m_list.SetCheckboxMode(reportctrl::kCheckboxFree);
  m_list.SetGridLines(true);
  m_list.SetBkColor(kListBackColor);

  RefreshHostAddress();
  LookUpHostNetmask();
  m_ipSearchDlg.m_deviceAddress = DefaultIPSearchAddress(m_hostAddress);

  m_statusText = " Idle";
  m_currentRow = 1000;
  m_restore.list.Reset();
  m_reboot.list.Reset();
  m_upgrade.list.Reset();
  m_progress.SetRange32(0, kProgressRange);
  PushToControls();
  return TRUE;
}

void CCorvaneDlg::DoDataExchange(CDataExchange* pDX) {
  CDialog::DoDataExchange(pDX);
  DDX_Control(pDX, ids::kProgress, m_progress);
  DDX_Control(pDX, ids::kDeviceList, m_list);
  DDX_Text(pDX, ids::kStatusText, m_statusText);
}

// ---- host address and netmask ------------------------------------------------------

void CCorvaneDlg::RefreshHostAddress() {
  if (!SocketsStartup(2, 0)) return;
  std::string name;
  std::string address;
  if (GetHostName(name, 255) && ResolveFirstIPv4(name, address)) m_hostAddress = address;
  SocketsCleanup();
}

void CCorvaneDlg::LookUpHostNetmask() {
  std::vector<AdapterInfo> adapters;
  unsigned long size = kAdapterBufferSize;
  unsigned long result = GetAdaptersInfo(adapters, &size);
  if (result == ERROR_BUFFER_OVERFLOW) result = GetAdaptersInfo(adapters, &size);
  if (result != ERROR_SUCCESS) {
    MessageBox("Call to GetAdaptersInfo failed!", kProgramName);
    MessageBox("Fail to GetAdaptersInfo!", kProgramName);
    return;
  }
  bool matched = false;
  for (const AdapterInfo& adapter : adapters) {
    if (adapter.firstAddress == m_hostAddress) {
      m_hostNetmask = adapter.firstMask;  // a later match overwrites an earlier one
      matched = true;
    }
  }
  if (!matched) MessageBox("Fail to GetAdaptersInfo!", kProgramName);
}

std::string CCorvaneDlg::DefaultIPSearchAddress(const std::string& hostAddress) {
  std::string result;
  std::string part;
  for (char c : hostAddress) {
    part += c;
    if (c == '.') {
      result += part;
      part.clear();
    }
  }
  return result + "1";
}

// ---- clock -------------------------------------------------------------------------

std::string CCorvaneDlg::FormatClockText(const std::tm& local, bool valid) {
  const int hour = valid ? local.tm_hour : -1;
  const int minute = valid ? local.tm_min : -1;
  const int second = valid ? local.tm_sec : -1;
  char text[48];
  if (hour < 12) {
    std::snprintf(text, sizeof text, " AM %02d:%02d:%02d", hour, minute, second);
  } else {
    const int h12 = hour % 12 == 0 ? 12 : hour % 12;
    std::snprintf(text, sizeof text, " PM %02d:%02d:%02d", h12, minute, second);
  }
  return text;
}

std::string CCorvaneDlg::FormatElapsedText(int hours, int minutes, int seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "  %02d:%02d:%02d", hours, minutes, seconds);
  return text;
}

void CCorvaneDlg::OnClockTick() {
  if (++m_elapsedSeconds > 59) {
    ++m_elapsedMinutes;
    m_elapsedSeconds = 0;
  }
  if (m_elapsedMinutes > 59) {
    ++m_elapsedHours;
    m_elapsedMinutes = 0;
  }
  if (m_elapsedHours > 23) m_elapsedHours = 0;
  m_elapsedText = FormatElapsedText(m_elapsedHours, m_elapsedMinutes, m_elapsedSeconds);
  SetDlgItemText(ids::kElapsedText, m_elapsedText);

  m_clockTime = CurrentTime();
  std::tm local{};
  const bool valid = ToLocalTime(m_clockTime, local);
  m_clockText = FormatClockText(local, valid);
  SetDlgItemText(ids::kClockText, m_clockText);
}

void CCorvaneDlg::SetStatusText(const std::string& text) {
  m_statusText = text;
  PushToControls();
}

// ---- window messages -----------------------------------------------------------------

bool CCorvaneDlg::OnSysCommand(UINT id, LPARAM lParam) {
  if (id >= 0x0010 && id <= 0x001F) {
    CAboutDlg about(this);
    about.DoModal();
    return true;
  }
  return CDialog::OnSysCommand(id, lParam);
}

bool CCorvaneDlg::OnPaint() {
  if (!IsIconic()) return CDialog::OnPaint();
  CPaintDC dc(this);
  SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
  const CRect rect = GetClientRect();
  const int x = (rect.Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
  const int y = (rect.Height() - GetSystemMetrics(SM_CYICON) + 1) / 2;
  dc.DrawIcon(x, y, m_icon);
  return true;
}

HICON CCorvaneDlg::OnQueryDragIcon() {
  return m_icon;
}

bool CCorvaneDlg::OnCommand(UINT id, UINT code, Handle control) {
  switch (id) {
    case ids::kSearch:
      OnSearch();
      return true;
    case ids::kIPSearch:
      OnIPSearch();
      return true;
    case ids::kDeviceSetup:
      OnDeviceSetup();
      return true;
    case ids::kUpgrade:
      OnUpgrade();
      return true;
    case ids::kRestore:
      OnRestore();
      return true;
    case ids::kReboot:
      OnReboot();
      return true;
    case ids::kSetting:
      OnSetting();
      return true;
    case ids::kWebBrowser:
      OnWebBrowser();
      return true;
    default:
      return CDialog::OnCommand(id, code, control);
  }
}

bool CCorvaneDlg::OnNotify(int id, Notification& n, LRESULT& result) {
  if (id == ids::kDeviceList && n.code == NM_CLICK) {
    result = OnListClick(n.item, n.subItem);
    return true;
  }
  if (id == ids::kDeviceList && n.code == NM_DBLCLK) {
    result = OnListDoubleClick(n.item);
    return true;
  }
  return CDialog::OnNotify(id, n, result);
}

bool CCorvaneDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  switch (msg) {
    case ids::msg::kRecordRequest:
    case ids::msg::kRowKindRequest:
    case ids::msg::kHostRequest:
    case ids::msg::kSheetClosed:
      result = OnSetupSheetMessage(msg, wParam, lParam);
      return true;
    default:
      return CDialog::OnMessage(msg, wParam, lParam, result);
  }
}

}  // namespace corvane::ui
