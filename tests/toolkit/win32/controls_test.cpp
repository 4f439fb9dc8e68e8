// The control wrappers against the real controls, and painting.
#include <gtest/gtest.h>

#include "../ip_text_cases.h"

#include "win32_test_support.h"

namespace {

using tktest::TestDialog;

constexpr int kEdit = 1201;
constexpr int kCombo = 1202;
constexpr int kProgress = 1203;
constexpr int kIp = 1204;
constexpr int kSpin = 1205;
constexpr int kIconButton = 1206;
constexpr int kIconStatic = 1207;
constexpr int kBanner = 1208;

tk::DialogTemplate ControlsTemplate() {
  using namespace tk;
  return tktest::MakeTemplate("Controls", {
                                              Edit(kEdit, {7, 7, 107, 19}),
                                              DropDownList(kCombo, {7, 22, 107, 80}),
                                              ProgressBar(kProgress, {7, 40, 207, 50}),
                                              IPAddress(kIp, {7, 55, 107, 67}),
                                              UpDown(kSpin, {110, 55, 120, 67}),
                                              PushButton(kIconButton, "", {130, 55, 150, 75}).Style(BS_ICON),
                                              IconPicture(140, {160, 55, 180, 75}, kIconStatic),
                                              Picture(146, {7, 80, 167, 107}, kBanner),
                                          });
}

using tktest::IpTextCase;
using tktest::kIpTexts;

TEST(Controls, IpAddressTextIsFourDecimalFields) {
  const tk::DialogTemplate t = ControlsTemplate();
  TestDialog dlg(t);
  dlg.script = [&](TestDialog& d) {
    tk::CIPAddressCtrl ip(d.GetDlgItem(kIp));
    for (const IpTextCase& c : kIpTexts) {
      ip.SetAddress(1, 2, 3, 4);
      ip.SetWindowText(c.text);
      tk::DWORD a = 1;
      EXPECT_EQ(ip.IsBlank(), c.blank) << c.text;
      EXPECT_EQ(ip.GetAddress(a), c.blank ? 0 : 4) << c.text;
      EXPECT_EQ(a, c.address) << c.text;
      EXPECT_EQ(ip.GetWindowText(), c.shown) << c.text;
    }
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

TEST(Controls, EditComboProgressAddressAndSpin) {
  const tk::DialogTemplate t = ControlsTemplate();
  TestDialog dlg(t);
  dlg.script = [&](TestDialog& d) {
    tk::CEdit edit(d.GetDlgItem(kEdit));
    edit.SetLimitText(15);
    EXPECT_EQ(edit.GetLimitText(), 15u);
    edit.SetWindowText("abcdef");
    edit.SetSel(0, -1);

    tk::CComboBox combo(d.GetDlgItem(kCombo));
    EXPECT_EQ(combo.AddString("TCP"), 0);
    EXPECT_EQ(combo.AddString("UDP"), 1);
    EXPECT_EQ(combo.SetCurSel(1), 1);
    EXPECT_EQ(combo.GetCurSel(), 1);
    EXPECT_EQ(combo.SetCurSel(5), tk::CB_ERR);  // no such entry: cleared
    EXPECT_EQ(combo.GetCurSel(), tk::CB_ERR);
    EXPECT_EQ(combo.GetLBText(7), "");
    combo.ResetContent();
    EXPECT_EQ(combo.GetCount(), 0);

    tk::CProgressCtrl progress(d.GetDlgItem(kProgress));
    progress.SetRange32(0, 1000);
    int low = -1;
    int high = -1;
    progress.GetRange(low, high);
    EXPECT_EQ(low, 0);
    EXPECT_EQ(high, 1000);
    progress.SetPos(250);
    EXPECT_EQ(progress.SetPos(600), 250);
    EXPECT_EQ(progress.GetPos(), 600);

    tk::CIPAddressCtrl ip(d.GetDlgItem(kIp));
    EXPECT_TRUE(ip.IsBlank());
    ip.SetAddress(192, 168, 5, 1);
    tk::DWORD address = 0;
    EXPECT_EQ(ip.GetAddress(address), 4);
    EXPECT_EQ(address, 0xC0A80501u);  // first octet in the high byte
    ip.SetAddress(0xFFFFFFFFu);
    ip.GetAddress(address);
    EXPECT_EQ(address, 0xFFFFFFFFu);
    ip.ClearAddress();
    EXPECT_TRUE(ip.IsBlank());
    EXPECT_EQ(ip.GetAddress(address), 0);

    tk::CSpinButtonCtrl spin(d.GetDlgItem(kSpin));
    spin.SetRange32(10, 1000);
    spin.GetRange32(low, high);
    EXPECT_EQ(low, 10);
    EXPECT_EQ(high, 1000);
    spin.SetPos32(100);
    EXPECT_EQ(spin.GetPos32(), 100);

    // The browse button takes the icon held by a hidden picture.
    tk::CStatic picture(d.GetDlgItem(kIconStatic));
    tk::HICON icon = picture.GetIcon();
    EXPECT_NE(icon, nullptr);  // loaded by the dialog from resource 140
    tk::CButton button(d.GetDlgItem(kIconButton));
    button.SetIcon(icon);
    EXPECT_EQ(button.GetIcon(), icon);
    tk::HICON other = tk::LoadAppIcon(128);
    EXPECT_EQ(picture.SetIcon(other), icon);
    EXPECT_EQ(picture.GetIcon(), other);
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

TEST(Painting, OnPaintDrawsTheIconAndQueryDragIconAnswersIt) {
  const tk::DialogTemplate t = ControlsTemplate();
  TestDialog dlg(t);
  const tk::HICON icon = tk::LoadAppIcon(128);
  dlg.dragIcon = icon;
  int paints = 0;
  bool drawn = false;
  dlg.paint = [&] {
    tk::CPaintDC dc(&dlg);
    EXPECT_NE(dc.GetSafeHdc(), nullptr);
    drawn = dc.DrawIcon(2, 2, icon);
    ++paints;
    return true;
  };
  tk::LRESULT dragAnswer = 0;
  dlg.script = [&](TestDialog& d) {
    d.ShowWindow(tk::SW_SHOW);
    d.Invalidate();
    d.UpdateWindow();
    dragAnswer = d.SendMessage(tk::WM_QUERYDRAGICON);
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_GE(paints, 1);
  EXPECT_TRUE(drawn);
  EXPECT_EQ(reinterpret_cast<tk::HICON>(dragAnswer), icon);
}

TEST(Painting, MinimiseAndRestore) {
  tk::DialogTemplate t = ControlsTemplate();
  t.style |= tk::WS_MINIMIZEBOX;
  TestDialog dlg(t);
  bool iconic = false;
  bool restored = true;
  dlg.script = [&](TestDialog& d) {
    d.ShowWindow(tk::SW_MINIMIZE);
    iconic = d.IsIconic();
    d.ShowWindow(tk::SW_RESTORE);
    restored = !d.IsIconic();
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_TRUE(iconic);
  EXPECT_TRUE(restored);
}

}  // namespace
