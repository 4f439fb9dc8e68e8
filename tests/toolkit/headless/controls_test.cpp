// Controls on the headless backend: styles, state, dialog codes, the system
// menu and the minimised icon.
#include <string>
#include <vector>

#include "../ip_text_cases.h"
#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

enum : int {
  kPush = 1200,
  kDefPush,
  kCheck,
  kRadio,
  kGroup,
  kEdit,
  kLabel,
  kCombo,
  kSorted,
  kProgress,
  kIp,
  kSpin,
  kIcon,
};
constexpr int kAppIcon = 128;
constexpr UINT kAboutCommand = 0x10;

const DialogTemplate& ControlsTemplate() {
  static const DialogTemplate t{
      "Controls",
      {0, 0, 200, 200},
      WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME,
      "MS Shell Dlg",
      8,
      {
          PushButton(kPush, "Push", {0, 0, 10, 10}),
          PushButton(kDefPush, "Default", {0, 0, 10, 10}).Default(),
          CheckBox(kCheck, "Check", {0, 0, 10, 10}),
          RadioButton(kRadio, "Radio", {0, 0, 10, 10}).Group(),
          GroupBox("Group", {0, 0, 10, 10}, kGroup),
          Edit(kEdit, {0, 0, 10, 10}).Disabled(),
          Label("Label", {0, 0, 10, 10}, kLabel),
          DropDownList(kCombo, {0, 0, 10, 10}, {"b", "a"}),
          DropDownList(kSorted, {0, 0, 10, 10}, {"Beta", "alpha", "Gamma"}).Style(CBS_SORT),
          ProgressBar(kProgress, {0, 0, 10, 10}),
          IPAddress(kIp, {0, 0, 10, 10}),
          UpDown(kSpin, {0, 0, 10, 10}),
          IconPicture(kAppIcon, {0, 0, 10, 10}, kIcon),
          PushButton(IDCANCEL, "Cancel", {0, 0, 10, 10}).Hidden(),
      },
  };
  return t;
}

class ControlsDlg : public CDialog {
 public:
  ControlsDlg() : CDialog(ControlsTemplate()) {}
  std::function<void(ControlsDlg&)> body;
  std::vector<UINT> sysCommands;
  int paints = 0;

 protected:
  BOOL OnInitDialog() override {
    CDialog::OnInitDialog();
    CMenu menu = GetSystemMenu(false);
    menu.AppendMenu(MF_SEPARATOR);
    menu.AppendMenu(MF_STRING, kAboutCommand, "&About...");
    SetIcon(LoadAppIcon(kAppIcon), true);
    SetIcon(LoadAppIcon(kAppIcon), false);
    return TRUE;
  }
  bool OnSysCommand(UINT id, LPARAM) override {
    sysCommands.push_back(id);
    return id == kAboutCommand;
  }
  bool OnPaint() override {
    ++paints;
    if (!IsIconic()) return false;
    CPaintDC dc(this);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);
    int x = (GetClientRect().Width() - GetSystemMetrics(SM_CXICON) + 1) / 2;
    dc.DrawIcon(x, 0, LoadAppIcon(kAppIcon));
    return true;
  }
  HICON OnQueryDragIcon() override { return LoadAppIcon(kAppIcon); }
};

class ControlsTest : public HeadlessTest {
 protected:
  void Run(const std::function<void(ControlsDlg&)>& body) {
    ControlsDlg dlg;
    hl::ExpectModal("Controls", [&](CWnd&) {
      body(dlg);
      dlg.EndDialog(IDOK);
    });
    dlg.DoModal();
  }
};

TEST_F(ControlsTest, DialogCodesAnswerLikeTheRealControls) {
  struct Case {
    int id;
    UINT code;
  };
  const Case cases[] = {
      {kPush, DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON},
      {kDefPush, DLGC_BUTTON | DLGC_DEFPUSHBUTTON},
      {kCheck, DLGC_BUTTON},
      {kRadio, DLGC_BUTTON | DLGC_RADIOBUTTON},
  };
  Run([&](ControlsDlg& d) {
    for (const Case& c : cases) EXPECT_EQ(d.GetDlgItem(c.id).QueryDlgCode(), c.code) << c.id;
    EXPECT_EQ(d.GetDlgItem(kGroup).QueryDlgCode() & DLGC_BUTTON, 0u);
    EXPECT_EQ(d.GetDlgItem(kEdit).QueryDlgCode() & DLGC_BUTTON, 0u);
    EXPECT_EQ(static_cast<UINT>(d.GetDlgItem(kPush).SendMessage(WM_GETDLGCODE)), cases[0].code);
    EXPECT_EQ(CButton(d.GetDlgItem(kDefPush)).GetButtonStyle(), BS_DEFPUSHBUTTON);
  });
}

TEST_F(ControlsTest, StylesFollowEnableShowAndModifyStyle) {
  Run([](ControlsDlg& d) {
    CWnd edit = d.GetDlgItem(kEdit);
    EXPECT_NE(edit.GetStyle() & WS_DISABLED, 0u);
    EXPECT_TRUE(edit.EnableWindow(true));  // it was disabled
    EXPECT_EQ(edit.GetStyle() & WS_DISABLED, 0u);
    EXPECT_FALSE(edit.EnableWindow(false));
    EXPECT_FALSE(edit.IsWindowEnabled());
    CWnd cancel = d.GetDlgItem(IDCANCEL);
    EXPECT_FALSE(cancel.IsWindowVisible());
    EXPECT_FALSE(cancel.ShowWindow(SW_SHOW));
    EXPECT_NE(cancel.GetStyle() & WS_VISIBLE, 0u);
    EXPECT_TRUE(cancel.ModifyStyle(0, BS_MULTILINE));
    EXPECT_FALSE(cancel.ModifyStyle(0, BS_MULTILINE));  // nothing changed
    EXPECT_EQ(d.GetDlgItem(kLabel).GetWindowText(), "Label");
    EXPECT_EQ(d.GetDlgItem(kLabel).GetDlgCtrlID(), kLabel);
    EXPECT_EQ(d.GetDlgItem(4242).GetSafeHwnd(), nullptr);
  });
}

TEST_F(ControlsTest, ComboEntriesSortingAndSelection) {
  Run([](ControlsDlg& d) {
    CComboBox combo(d.GetDlgItem(kCombo));
    EXPECT_EQ(combo.GetCount(), 2);
    EXPECT_EQ(combo.GetLBText(0), "b");
    EXPECT_EQ(combo.GetCurSel(), CB_ERR);
    EXPECT_EQ(combo.SetCurSel(1), 1);
    EXPECT_EQ(combo.GetWindowText(), "a");
    EXPECT_EQ(combo.SetCurSel(5), CB_ERR);
    EXPECT_EQ(combo.GetCurSel(), -1);
    EXPECT_EQ(combo.GetLBText(5), "");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);
    CComboBox sorted(d.GetDlgItem(kSorted));
    EXPECT_EQ(sorted.GetLBText(0), "alpha");
    EXPECT_EQ(sorted.GetLBText(2), "Gamma");
    sorted.SetCurSel(0);
    EXPECT_EQ(sorted.AddString("aardvark"), 0);
    EXPECT_EQ(sorted.GetCurSel(), 1);  // the selected entry moved down
  });
}

TEST_F(ControlsTest, ProgressUpDownAndIpAddress) {
  Run([](ControlsDlg& d) {
    CProgressCtrl progress(d.GetDlgItem(kProgress));
    progress.SetRange32(0, 50);
    EXPECT_EQ(progress.SetPos(20), 0);
    EXPECT_EQ(progress.SetPos(80), 20);
    EXPECT_EQ(progress.GetPos(), 50);
    int low = -1;
    int high = -1;
    progress.GetRange(low, high);
    EXPECT_EQ(high, 50);
    CSpinButtonCtrl spin(d.GetDlgItem(kSpin));
    spin.SetRange32(0, 20);
    spin.SetPos32(-3);
    EXPECT_EQ(spin.GetPos32(), 0);
    spin.GetRange32(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 20);
    CIPAddressCtrl ip(d.GetDlgItem(kIp));
    DWORD a = 1;
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.GetAddress(a), 0);
    ip.SetAddress(192, 168, 1, 254);
    EXPECT_EQ(ip.GetAddress(a), 4);
    EXPECT_EQ(a, 0xC0A801FEu);
    EXPECT_EQ(ip.GetWindowText(), "192.168.1.254");
    hl::Type(d, kIp, "10.0.0.7");
    ip.GetAddress(a);
    EXPECT_EQ(a, 0x0A000007u);
    ip.ClearAddress();
    EXPECT_TRUE(ip.IsBlank());
  });
}

using tktest::IpTextCase;
using tktest::kIpTexts;

TEST_F(ControlsTest, IpAddressTextIsFourDecimalFields) {
  Run([](ControlsDlg& d) {
    CIPAddressCtrl ip(d.GetDlgItem(kIp));
    for (const IpTextCase& c : kIpTexts) {
      ip.SetAddress(1, 2, 3, 4);
      ip.SetWindowText(c.text);
      DWORD a = 1;
      EXPECT_EQ(ip.IsBlank(), c.blank) << c.text;
      EXPECT_EQ(ip.GetAddress(a), c.blank ? 0 : 4) << c.text;
      EXPECT_EQ(a, c.address) << c.text;
      EXPECT_EQ(ip.GetWindowText(), c.shown) << c.text;
    }
    hl::Type(d, kIp, "010.000.000.009");
    DWORD a = 0;
    ip.GetAddress(a);
    EXPECT_EQ(a, 0x0A000009u);
  });
}

TEST_F(ControlsTest, SystemMenuCommandsAndMinimisedIcon) {
  Run([](ControlsDlg& d) {
    std::vector<hl::MenuItem> menu = hl::SystemMenu(d);
    ASSERT_EQ(menu.size(), 2u);
    EXPECT_EQ(menu[0].flags, MF_SEPARATOR);
    EXPECT_EQ(menu[1].id, kAboutCommand);
    EXPECT_EQ(menu[1].text, "&About...");
    EXPECT_EQ(hl::IconResourceId(hl::WindowIcon(d, true)), kAppIcon);
    EXPECT_EQ(hl::IconResourceId(CStatic(d.GetDlgItem(kIcon)).GetIcon()), kAppIcon);
    hl::SysCommand(d, kAboutCommand);
    EXPECT_EQ(d.sysCommands, std::vector<UINT>{kAboutCommand});
    EXPECT_FALSE(hl::IconBackgroundErased(d));
    hl::SysCommand(d, SC_MINIMIZE);  // not handled: the platform minimises
    EXPECT_TRUE(d.IsIconic());
    EXPECT_TRUE(hl::IconBackgroundErased(d));
    ASSERT_EQ(hl::IconDraws(d).size(), 1u);
    EXPECT_EQ(hl::IconResourceId(hl::IconDraws(d)[0].icon), kAppIcon);
    EXPECT_EQ(hl::IconResourceId(reinterpret_cast<HICON>(d.SendMessage(WM_QUERYDRAGICON))), kAppIcon);
    hl::SetIconic(d, false);
    EXPECT_FALSE(d.IsIconic());
    EXPECT_EQ(hl::IconDraws(d).size(), 1u);
    EXPECT_EQ(hl::IconResourceId(&d), 0);
  });
}

TEST_F(ControlsTest, SystemCloseCancelsTheDialog) {
  ControlsDlg dlg;
  hl::ExpectModal("Controls", [](CWnd& w) { hl::SysCommand(w, SC_CLOSE); });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
}

// A control wrapper bound with SubclassWindow.
class Bound : public CButton {
 public:
  int preSubclass = 0;

 protected:
  void PreSubclassWindow() override {
    ++preSubclass;
    ModifyStyle(0, BS_MULTILINE);  // the handle is usable here
  }
};

TEST_F(ControlsTest, SubclassingBindsOnceAndEndsWithTheWindow) {
  Bound bound;
  Bound other;
  Run([&](ControlsDlg& d) {
    EXPECT_TRUE(bound.SubclassDlgItem(kPush, &d));
    EXPECT_EQ(bound.preSubclass, 1);
    EXPECT_NE(bound.GetStyle() & BS_MULTILINE, 0u);
    EXPECT_TRUE(bound.IsSubclassed());
    ScopedFailureCapture capture;
    EXPECT_FALSE(other.SubclassWindow(d.GetDlgItem(kPush).GetSafeHwnd()));
    EXPECT_FALSE(other.SubclassDlgItem(4242, &d));
    EXPECT_EQ(capture.Failures().size(), 2u);
  });
  EXPECT_EQ(bound.GetSafeHwnd(), nullptr);
  EXPECT_FALSE(bound.IsWindow());
}

}  // namespace
