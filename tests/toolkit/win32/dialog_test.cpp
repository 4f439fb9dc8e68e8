// Dialogs from templates, the modal run, data exchange and validation, and
// message boxes, on the real platform.
#include <gtest/gtest.h>

#include <algorithm>

#include "win32_test_support.h"

namespace {

using tktest::TestDialog;

constexpr int kEditName = 1001;
constexpr int kEditCount = 1002;
constexpr int kCheck = 1003;
constexpr int kRadioA = 1004;
constexpr int kRadioB = 1005;
constexpr int kCombo = 1006;
constexpr int kDisabled = 1007;
constexpr int kHidden = 1008;
constexpr int kList = 1009;
constexpr int kProgress = 1010;
constexpr int kIp = 1011;
constexpr int kSpin = 1012;
constexpr int kUnsigned = 1013;

tk::DialogTemplate FormTemplate() {
  using namespace tk;
  return tktest::MakeTemplate(
      "Form", {
                  Edit(kEditName, {7, 7, 107, 19}),
                  Edit(kEditCount, {7, 22, 57, 34}).Style(ES_NUMBER),
                  CheckBox(kCheck, "Enabled", {7, 37, 77, 47}),
                  RadioButton(kRadioA, "A", {7, 50, 37, 60}).Group(),
                  RadioButton(kRadioB, "B", {40, 50, 70, 60}),
                  DropDownList(kCombo, {7, 63, 107, 120}, {"first", "second", "third"}).Group(),
                  PushButton(kDisabled, "Off", {120, 7, 170, 21}).Disabled(),
                  PushButton(kHidden, "Gone", {120, 24, 170, 38}).Hidden(),
                  ListView(kList, {120, 41, 290, 100}),
                  ProgressBar(kProgress, {120, 103, 290, 113}),
                  IPAddress(kIp, {120, 116, 220, 128}),
                  UpDown(kSpin, {222, 116, 232, 128}),
                  Edit(kUnsigned, {7, 130, 57, 142}),
                  Label("Name:", {240, 150, 290, 160}),
                  PushButton(IDOK, "OK", {180, 175, 230, 189}).Default(),
                  PushButton(IDCANCEL, "Cancel", {235, 175, 285, 189}),
              });
}

TEST(DialogTemplate, ControlsExistWithTheirClassStyleAndCaption) {
  const tk::DialogTemplate t = FormTemplate();
  TestDialog dlg(t);
  dlg.script = [&](TestDialog& d) {
    struct Expect {
      int id;
      const char* cls;
    };
    const Expect expected[] = {{kEditName, "Edit"},
                               {kCheck, "Button"},
                               {kCombo, "ComboBox"},
                               {kList, "SysListView32"},
                               {kProgress, "msctls_progress32"},
                               {kIp, "SysIPAddress32"},
                               {kSpin, "msctls_updown32"},
                               {tk::IDOK, "Button"}};
    for (const Expect& e : expected) {
      tk::CWnd c = d.GetDlgItem(e.id);
      ASSERT_NE(c.GetSafeHwnd(), nullptr) << "control " << e.id;
      EXPECT_STREQ(tktest::ClassOf(c.GetSafeHwnd()).c_str(), e.cls) << "control " << e.id;
      EXPECT_EQ(c.GetDlgCtrlID(), e.id);
      // The template's own style bits reach the control, except those the
      // platform turns into something else: a border becomes the client edge,
      // a drop-down list keeps its scroll bar on the list part.
      const tk::ControlTemplate* ct = t.Find(e.id);
      const tk::DWORD kept = ct->style & ~(tk::WS_BORDER | tk::WS_VSCROLL);
      EXPECT_EQ(c.GetStyle() & kept, kept) << "control " << e.id << " style " << std::hex << c.GetStyle();
    }
    EXPECT_EQ(tk::CButton(d.GetDlgItem(tk::IDOK)).GetButtonStyle(), tk::BS_DEFPUSHBUTTON);
    EXPECT_EQ(tk::CButton(d.GetDlgItem(kCheck)).GetButtonStyle(), tk::BS_AUTOCHECKBOX);
    EXPECT_EQ(tk::CButton(d.GetDlgItem(kRadioA)).GetButtonStyle(), tk::BS_AUTORADIOBUTTON);
    EXPECT_NE(d.GetDlgItem(kEditCount).GetStyle() & tk::ES_NUMBER, 0u);
    EXPECT_NE(d.GetDlgItem(kRadioA).GetStyle() & tk::WS_GROUP, 0u);
    EXPECT_EQ(d.GetDlgItemText(kCheck), "Enabled");
    EXPECT_EQ(d.GetDlgItemText(tk::IDCANCEL), "Cancel");
    EXPECT_FALSE(d.GetDlgItem(kDisabled).IsWindowEnabled());
    EXPECT_FALSE(d.GetDlgItem(kHidden).IsWindowVisible());
    EXPECT_TRUE(d.GetDlgItem(kEditName).IsWindowVisible());
    EXPECT_EQ(d.GetDlgItem(4242).GetSafeHwnd(), nullptr);
    // Combo entries come from the template, in order.
    tk::CComboBox combo(d.GetDlgItem(kCombo));
    ASSERT_EQ(combo.GetCount(), 3);
    EXPECT_EQ(combo.GetLBText(1), "second");
    EXPECT_EQ(combo.GetCurSel(), tk::CB_ERR);
    // Children come in template order (the radio group relies on it).
    std::vector<tk::Handle> children = tk::detail::ChildWindows(d.GetSafeHwnd());
    ASSERT_EQ(children.size(), t.controls.size());
    EXPECT_EQ(children[0], d.GetDlgItem(kEditName).GetSafeHwnd());
    EXPECT_EQ(children[4], d.GetDlgItem(kRadioB).GetSafeHwnd());
    EXPECT_EQ(d.GetWindowText(), "Form");
    d.EndDialog(77);
  };
  EXPECT_EQ(dlg.DoModal(), 77);
  EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
}

TEST(DialogModal, OkCancelAndCloseBoxEndTheDialog) {
  const tk::DialogTemplate t = FormTemplate();
  struct Case {
    const char* name;
    tk::UINT msg;
    tk::WPARAM wp;
    tk::INT_PTR expected;
  };
  const Case cases[] = {
      {"ok button", tk::WM_COMMAND, tk::IDOK, tk::IDOK},
      {"cancel button", tk::WM_COMMAND, tk::IDCANCEL, tk::IDCANCEL},
      {"close box", tk::WM_SYSCOMMAND, tk::SC_CLOSE, tk::IDCANCEL},
      {"close message", tk::WM_CLOSE, 0, tk::IDCANCEL},
  };
  for (const Case& c : cases) {
    TestDialog dlg(t);
    dlg.script = [&](TestDialog& d) { d.PostMessage(c.msg, c.wp, 0); };
    EXPECT_EQ(dlg.DoModal(), c.expected) << c.name;
  }
}

TEST(DialogDataExchange, WritesMembersToControlsAndReadsThemBack) {
  const tk::DialogTemplate t = FormTemplate();
  TestDialog dlg(t);
  std::string name = "device one";
  int count = 42;
  unsigned int positive = 7;
  int check = 1;
  int radio = 1;
  int combo = 2;
  dlg.exchange = [&](tk::CDataExchange* pDX) {
    tk::DDX_Text(pDX, kEditName, name);
    tk::DDV_MaxChars(pDX, name, 15);
    tk::DDX_Text(pDX, kEditCount, count);
    tk::DDV_MinMaxInt(pDX, count, 1, 128);
    tk::DDX_Text(pDX, kUnsigned, positive);
    tk::DDX_Check(pDX, kCheck, check);
    tk::DDX_Radio(pDX, kRadioA, radio);
    tk::DDX_CBIndex(pDX, kCombo, combo);
  };
  dlg.script = [&](TestDialog& d) {
    // OnInitDialog pushed the members.
    EXPECT_EQ(d.GetDlgItemText(kEditName), "device one");
    EXPECT_EQ(tk::CEdit(d.GetDlgItem(kEditName)).GetLimitText(), 15u);
    EXPECT_EQ(d.GetDlgItemText(kEditCount), "42");
    EXPECT_EQ(d.IsDlgButtonChecked(kCheck), tk::BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(kRadioA), tk::BST_UNCHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(kRadioB), tk::BST_CHECKED);
    EXPECT_EQ(tk::CComboBox(d.GetDlgItem(kCombo)).GetCurSel(), 2);
    // The user changes everything; OK reads it back.
    d.SetDlgItemText(kEditName, "renamed");
    d.SetDlgItemText(kEditCount, " 128 ");
    d.SetDlgItemText(kUnsigned, "4000000000");
    d.CheckDlgButton(kCheck, tk::BST_UNCHECKED);
    d.CheckRadioButton(kRadioA, kRadioB, kRadioA);
    tk::CComboBox(d.GetDlgItem(kCombo)).SetCurSel(0);
    d.PostMessage(tk::WM_COMMAND, tk::IDOK, 0);
  };
  ASSERT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(name, "renamed");
  EXPECT_EQ(count, 128);
  EXPECT_EQ(positive, 4000000000u);
  EXPECT_EQ(check, 0);
  EXPECT_EQ(radio, 0);
  EXPECT_EQ(combo, 0);
}

TEST(DialogDataExchange, FailedCheckShowsTheMessageFocusesTheFieldAndKeepsTheDialogOpen) {
  const tk::DialogTemplate t = FormTemplate();
  struct Case {
    const char* typed;
    int field;
    const char* message;
  };
  const Case cases[] = {
      {"129", kEditCount, "Please enter an integer between 1 and 128."},
      {"abc", kEditCount, "Please enter an integer."},
      {"-5", kUnsigned, "Please enter a positive integer."},
      {"sixteen chars!!!", kEditName, "Please enter no more than 15 characters."},
  };
  for (const Case& c : cases) {
    TestDialog dlg(t);
    std::string name = "x";
    int count = 1;
    unsigned int positive = 1;
    dlg.exchange = [&](tk::CDataExchange* pDX) {
      tk::DDX_Text(pDX, kEditName, name);
      tk::DDV_MaxChars(pDX, name, 15);
      tk::DDX_Text(pDX, kEditCount, count);
      tk::DDV_MinMaxInt(pDX, count, 1, 128);
      tk::DDX_Text(pDX, kUnsigned, positive);
    };
    tktest::ModalAnswer answer{"tk_win32_tests", tk::IDOK, {}, false};
    tk::BOOL updated = tk::TRUE;
    bool focused = false;
    dlg.script = [&](TestDialog& d) {
      // Typed text is not cut by the limit when set by code.
      d.GetDlgItem(c.field).SetWindowText(c.typed);
      tktest::AnswerModal(d, answer);
      updated = d.UpdateData(tk::TRUE);
      focused = d.GetDlgItem(c.field).HasFocus();
      d.EndDialog(tk::IDCANCEL);
    };
    EXPECT_EQ(dlg.DoModal(), tk::IDCANCEL) << c.typed;
    EXPECT_EQ(updated, tk::FALSE) << c.typed;
    EXPECT_TRUE(focused) << c.typed;
    ASSERT_TRUE(answer.seen) << c.typed;
    EXPECT_NE(std::find(answer.texts.begin(), answer.texts.end(), c.message), answer.texts.end())
        << c.typed << ": expected \"" << c.message << "\"";
  }
}

TEST(MessageBoxes, ReturnTheButtonPressedAndShowCaptionAndText) {
  const tk::DialogTemplate t = FormTemplate();
  TestDialog dlg(t);
  tktest::ModalAnswer first{"Searching Result", tk::IDNO, {}, false};
  tktest::ModalAnswer second{"tk_win32_tests", tk::IDOK, {}, false};
  int answer1 = 0;
  int answer2 = 0;
  dlg.script = [&](TestDialog& d) {
    tktest::AnswerModal(d, first);
    answer1 = d.MessageBox("Reboot the device?", "Searching Result", tk::MB_YESNO | tk::MB_ICONQUESTION);
    tktest::AnswerModal(d, second);
    answer2 = tk::AfxMessageBox("No device has found.");
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(answer1, tk::IDNO);
  EXPECT_EQ(answer2, tk::IDOK);
  EXPECT_NE(std::find(first.texts.begin(), first.texts.end(), "Reboot the device?"), first.texts.end());
  EXPECT_NE(std::find(second.texts.begin(), second.texts.end(), "No device has found."), second.texts.end());
}

TEST(FileDialogs, FilterAndCancel) {
  const tk::DialogTemplate t = FormTemplate();
  TestDialog dlg(t);
  tk::INT_PTR result = 0;
  std::vector<std::string> filterEntries;
  dlg.timer = [&](tk::UINT_PTR id) {
    if (id != 77) return;
    tk::CWnd box(tk::FindTopLevelWindow("Open"));
    if (box.GetSafeHwnd() == nullptr) return;
    dlg.KillTimer(77);
    tk::CComboBox types(tktest::ChildById(box.GetSafeHwnd(), 0x470));  // the file-type combo box
    for (int i = 0; i < types.GetCount(); ++i) filterEntries.push_back(types.GetLBText(i));
    box.PostMessage(tk::WM_COMMAND, tk::IDCANCEL, 0);
  };
  tk::CFileDialog file(true, "*.bin", {}, tk::OFN_HIDEREADONLY, "Binary files(*.bin)|*.bin|");
  dlg.script = [&](TestDialog& d) {
    d.SetTimer(77, 20);
    result = file.DoModal();
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(result, tk::IDCANCEL);
  EXPECT_EQ(file.GetPathName(), "");
  ASSERT_EQ(filterEntries.size(), 1u);
  EXPECT_EQ(filterEntries[0], "Binary files(*.bin)");
}

}  // namespace
