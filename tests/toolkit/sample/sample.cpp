// The toolkit sample: a dialog with every control kind the programs use, filled
// with sample values, so the win32 backend's rendering can be looked at.
#include "tk/tk.h"

namespace {

enum : int {
  kSearch = 1000,
  kCheck = 1001,
  kRadioBroadcast = 1002,
  kRadioMulticast = 1003,
  kName = 1004,
  kList = 1005,
  kCombo = 1006,
  kProgress = 1007,
  kAddress = 1008,
  kPeriod = 1009,
  kSpin = 1010,
  kStatus = 1011,
  kBrowse = 1012,
};

const tk::DialogTemplate& SampleTemplate() {
  using namespace tk;
  static const DialogTemplate tmpl = [] {
    DialogTemplate t;
    t.caption = "Toolkit Sample";
    t.rect = {0, 0, 330, 250};
    t.style |= WS_MINIMIZEBOX;
    t.controls = {
        Picture(146, {7, 7, 167, 34}),
        IconPicture(128, {175, 7, 195, 27}),
        PushButton(kSearch, "Search", {270, 7, 323, 21}),
        PushButton(kBrowse, "", {250, 7, 266, 21}).Style(BS_ICON),
        GroupBox("Search by", {7, 40, 160, 80}),
        RadioButton(kRadioBroadcast, "Broadcast", {14, 52, 84, 62}).Group().TabStop(),
        RadioButton(kRadioMulticast, "Multicast", {14, 64, 84, 74}),
        CheckBox(kCheck, "Auto refresh", {90, 52, 155, 62}).Group(),
        Label("Device name:", {170, 42, 220, 52}),
        Edit(kName, {222, 40, 323, 52}),
        Label("Baud rate:", {170, 58, 220, 68}),
        DropDownList(kCombo, {222, 56, 323, 120}, {"9600", "19200", "38400", "57600", "115200"}),
        Label("IP address:", {170, 74, 220, 84}),
        IPAddress(kAddress, {222, 72, 323, 84}),
        ListView(kList, {7, 88, 323, 190}),
        Label("Period:", {7, 198, 40, 208}),
        Edit(kPeriod, {42, 196, 82, 208}).Style(ES_NUMBER),
        UpDown(kSpin, {82, 196, 92, 208}),
        ProgressBar(kProgress, {100, 196, 323, 208}),
        Label(" Idle", {7, 214, 200, 224}, kStatus).Style(SS_SUNKEN),
        PushButton(IDOK, "OK", {216, 229, 266, 243}).Default(),
        PushButton(IDCANCEL, "Cancel", {273, 229, 323, 243}),
    };
    return t;
  }();
  return tmpl;
}

// The list with per-cell colours through custom draw.
class ColourList : public tk::CListCtrl {
 protected:
  bool OnReflectedNotify(tk::Notification& n, tk::LRESULT& result) override {
    if (n.code != tk::NM_CUSTOMDRAW) return false;
    if (n.drawStage == tk::CDDS_PREPAINT) {
      result = tk::CDRF_NOTIFYITEMDRAW;
    } else if (n.drawStage == tk::CDDS_ITEMPREPAINT) {
      result = tk::CDRF_NOTIFYSUBITEMDRAW;
    } else {
      const bool connected = n.subItem == 3 && n.item % 2 == 0;
      n.textColor = connected ? tk::RGB(255, 255, 255) : tk::RGB(0, 0, 0);
      n.textBkColor = connected ? tk::RGB(0, 128, 0)
                                : (n.item % 2 != 0 ? tk::RGB(235, 245, 255) : tk::RGB(255, 255, 255));
      result = tk::CDRF_NEWFONT;
    }
    return true;
  }
};

class CSampleDlg : public tk::CDialog {
 public:
  CSampleDlg() : tk::CDialog(SampleTemplate()) {}

 protected:
  void DoDataExchange(tk::CDataExchange* pDX) override {
    tk::DDX_Control(pDX, kList, m_list);
    tk::DDX_Text(pDX, kName, m_name);
    tk::DDV_MaxChars(pDX, m_name, 15);
    tk::DDX_Text(pDX, kPeriod, m_period);
    tk::DDV_MinMaxInt(pDX, m_period, 10, 1000);
    tk::DDX_Radio(pDX, kRadioBroadcast, m_searchBy);
    tk::DDX_Check(pDX, kCheck, m_autoRefresh);
    tk::DDX_CBIndex(pDX, kCombo, m_baud);
  }

  tk::BOOL OnInitDialog() override {
    tk::CDialog::OnInitDialog();
    tk::HICON icon = tk::LoadAppIcon(128);
    SetIcon(icon, true);
    SetIcon(icon, false);
    tk::CButton(GetDlgItem(kBrowse)).SetIcon(tk::LoadAppIcon(140));
    FillList();
    tk::CProgressCtrl progress(GetDlgItem(kProgress));
    progress.SetRange32(0, 1000);
    progress.SetPos(600);
    tk::CIPAddressCtrl(GetDlgItem(kAddress)).SetAddress(192, 168, 5, 1);
    tk::CSpinButtonCtrl spin(GetDlgItem(kSpin));
    spin.SetRange32(10, 1000);
    spin.SetPos32(m_period);
    return tk::TRUE;
  }

 private:
  void FillList() {
    m_list.SetExtendedStyle(tk::LVS_EX_CHECKBOXES | tk::LVS_EX_GRIDLINES | tk::LVS_EX_FULLROWSELECT);
    m_list.InsertColumn(0, "No", tk::LVCFMT_LEFT, 40);
    m_list.InsertColumn(1, "Device Name", tk::LVCFMT_LEFT, 110);
    m_list.InsertColumn(2, "IP Address", tk::LVCFMT_LEFT, 100);
    m_list.InsertColumn(3, "Status", tk::LVCFMT_CENTER, 90);
    const char* names[] = {"QN-Lab-1", "QN-Lab-2", "Store room", "Line 4"};
    for (int i = 0; i < 4; ++i) {
      m_list.InsertItem(i, std::to_string(i + 1));
      m_list.SetItemText(i, 1, names[i]);
      m_list.SetItemText(i, 2, "192.168.5." + std::to_string(20 + i));
      m_list.SetItemText(i, 3, i % 2 == 0 ? "Connected" : "Idle");
    }
    m_list.SetCheck(0);
    m_list.SetCheck(2);
  }

  ColourList m_list;
  std::string m_name = "QN-Lab-1";
  int m_period = 100;
  int m_searchBy = 0;
  int m_autoRefresh = 1;
  int m_baud = 4;
};

class CSampleApp : public tk::CWinApp {
 public:
  CSampleApp() : tk::CWinApp("Toolkit Sample") {}
  tk::BOOL InitInstance() override {
    CSampleDlg dlg;
    m_pMainWnd = &dlg;
    dlg.DoModal();
    m_pMainWnd = nullptr;
    return tk::FALSE;
  }
};

CSampleApp theApp;

}  // namespace
