// Modal dialogs on the headless backend: scripted handlers, the dialog's life,
// data exchange with the standard validation messages, and scripted input.
#include <string>
#include <vector>

#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

constexpr int kName = 1001;
constexpr int kCount = 1002;
constexpr int kPort = 1003;
constexpr int kFlag = 1004;
constexpr int kRadioA = 1005;
constexpr int kRadioB = 1006;
constexpr int kRadioC = 1007;
constexpr int kChoice = 1008;
constexpr int kApply = 1009;
constexpr int kDigits = 1010;

const DialogTemplate& SampleTemplate() {
  static const DialogTemplate t{
      "Sample",
      {0, 0, 200, 120},
      WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_SETFONT,
      "MS Shell Dlg",
      8,
      {
          Edit(kName, {5, 5, 80, 17}),
          Edit(kCount, {5, 20, 80, 32}),
          Edit(kPort, {5, 35, 80, 47}),
          CheckBox(kFlag, "Flag", {5, 50, 80, 60}),
          RadioButton(kRadioA, "A", {5, 62, 40, 72}).Group(),
          RadioButton(kRadioB, "B", {45, 62, 80, 72}),
          RadioButton(kRadioC, "C", {85, 62, 120, 72}),
          DropDownList(kChoice, {5, 75, 80, 120}, {"one", "two", "three"}).Group(),
          PushButton(kApply, "Apply", {100, 5, 150, 19}),
          Edit(kDigits, {100, 20, 150, 32}).Style(ES_NUMBER),
          PushButton(IDOK, "OK", {100, 90, 150, 104}).Default(),
          PushButton(IDCANCEL, "Cancel", {150, 90, 195, 104}),
      },
  };
  return t;
}

class SampleDlg : public CDialog {
 public:
  SampleDlg() : CDialog(SampleTemplate()) {}
  std::string name = "dev";
  int count = 5;
  unsigned port = 4001;
  int flag = 1;
  int radio = 1;
  int choice = 2;
  int applied = 0;
  int initCalls = 0;
  int destroyCalls = 0;
  bool closeFromInit = false;
  std::string captionAtInit;

 protected:
  BOOL OnInitDialog() override {
    ++initCalls;
    CDialog::OnInitDialog();
    if (!captionAtInit.empty()) SetWindowText(captionAtInit);
    if (closeFromInit) PostMessage(WM_CLOSE);
    return TRUE;
  }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, kName, name);
    DDV_MaxChars(pDX, name, 8);
    DDX_Text(pDX, kCount, count);
    DDV_MinMaxInt(pDX, count, 1, 128);
    DDX_Text(pDX, kPort, port);
    DDX_Check(pDX, kFlag, flag);
    DDX_Radio(pDX, kRadioA, radio);
    DDX_CBIndex(pDX, kChoice, choice);
  }
  bool OnCommand(UINT id, UINT code, Handle control) override {
    if (id == kApply && code == BN_CLICKED) {
      ++applied;
      return true;
    }
    return CDialog::OnCommand(id, code, control);
  }
  void OnDestroy() override { ++destroyCalls; }
};

class DialogTest : public HeadlessTest {};

TEST_F(DialogTest, ControlsShowTheMembersAndOkReadsThemBack) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [](CWnd& w) {
    auto& d = static_cast<CDialog&>(w);
    EXPECT_EQ(d.GetDlgItemText(kName), "dev");
    EXPECT_EQ(d.GetDlgItemText(kCount), "5");
    EXPECT_EQ(d.GetDlgItemText(kPort), "4001");
    EXPECT_EQ(d.IsDlgButtonChecked(kFlag), BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(kRadioB), BST_CHECKED);
    EXPECT_EQ(d.IsDlgButtonChecked(kRadioA), BST_UNCHECKED);
    EXPECT_EQ(d.GetDlgItemText(kChoice), "three");
    EXPECT_EQ(CEdit(d.GetDlgItem(kName)).GetLimitText(), 8u);  // DDV_MaxChars limits the input
    hl::Type(w, kName, "router");
    hl::Type(w, kCount, "128");
    hl::Click(w, kFlag);
    hl::Click(w, kRadioC);
    EXPECT_EQ(d.IsDlgButtonChecked(kRadioB), BST_UNCHECKED);
    hl::SelectCombo(w, kChoice, 0);
    hl::Click(w, IDOK);
  });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.name, "router");
  EXPECT_EQ(dlg.count, 128);
  EXPECT_EQ(dlg.flag, 0);
  EXPECT_EQ(dlg.radio, 2);
  EXPECT_EQ(dlg.choice, 0);
  EXPECT_EQ(dlg.initCalls, 1);
  EXPECT_EQ(dlg.destroyCalls, 1);
  EXPECT_FALSE(dlg.IsWindow());
  EXPECT_EQ(dlg.GetSafeHwnd(), nullptr);
  EXPECT_TRUE(hl::OpenWindows().empty());
}

struct ValidationCase {
  int field;
  std::string typed;
  std::string message;
};

class DialogValidationTest : public HeadlessTest, public ::testing::WithParamInterface<ValidationCase> {};

TEST_P(DialogValidationTest, FailedCheckShowsTheMessageFocusesTheFieldAndKeepsTheDialogOpen) {
  const ValidationCase& c = GetParam();
  SampleDlg dlg;
  hl::ExpectModal("Sample", [&](CWnd& w) {
    hl::Type(w, c.field, c.typed);
    hl::ExpectMessageBox([&](const hl::MessageBoxCall& call) {
      EXPECT_EQ(call.text, c.message);
      EXPECT_EQ(call.type & MB_ICONMASK, MB_ICONEXCLAMATION);
      return IDOK;
    });
    hl::Click(w, IDOK);
    EXPECT_TRUE(w.IsWindow()) << "the dialog must stay open";
    EXPECT_EQ(hl::FocusedWindow(), w.GetDlgItem(c.field));
    hl::Click(w, IDCANCEL);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(hl::MessageBoxes().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(
    Messages, DialogValidationTest,
    ::testing::Values(ValidationCase{kCount, "129", "Please enter an integer between 1 and 128."},
                      ValidationCase{kCount, "0", "Please enter an integer between 1 and 128."},
                      ValidationCase{kCount, "12a", "Please enter an integer."},
                      ValidationCase{kCount, "", "Please enter an integer."},
                      ValidationCase{kPort, "-1", "Please enter a positive integer."},
                      ValidationCase{kPort, "4294967296", "Please enter a positive integer."}));

TEST_F(DialogTest, MaxCharsMessageWhenTheTextIsSetPastTheLimit) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [](CWnd& w) {
    // Typing stops at the limit; a program-set text does not.
    hl::Type(w, kName, "0123456789");
    EXPECT_EQ(w.GetDlgItem(kName).GetWindowText(), "01234567");
    w.GetDlgItem(kName).SetWindowText("0123456789");
    hl::ExpectMessageBox("Please enter no more than 8 characters.");
    hl::Click(w, IDOK);
    EXPECT_EQ(hl::FocusedWindow(), w.GetDlgItem(kName));
    static_cast<CDialog&>(w).EndDialog(7);
  });
  EXPECT_EQ(dlg.DoModal(), 7);
}

TEST_F(DialogTest, DigitsOnlyEditRefusesOtherKeys) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [](CWnd& w) {
    hl::Type(w, kDigits, "1a2-3 ");
    EXPECT_EQ(w.GetDlgItem(kDigits).GetWindowText(), "123");
    hl::Click(w, IDCANCEL);
  });
  dlg.DoModal();
}

TEST_F(DialogTest, CommandsReachTheOverrideAndCloseBoxCancels) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [&](CWnd& w) {
    hl::Click(w, kApply);
    hl::Click(w, kApply);
    hl::CloseBox(w);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.applied, 2);
}

TEST_F(DialogTest, PostedCloseFromOnInitDialogEndsWithoutTheHandler) {
  SampleDlg dlg;
  dlg.closeFromInit = true;
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);  // no handler installed and none needed
  EXPECT_EQ(dlg.destroyCalls, 1);
}

TEST_F(DialogTest, HandlerIsMatchedByTheCaptionSetDuringInit) {
  SampleDlg dlg;
  dlg.captionAtInit = "Renamed";
  bool wrongOneRan = false;
  hl::OnModal("Sample", [&](CWnd& w) {
    wrongOneRan = true;
    hl::Click(w, IDCANCEL);
  });
  hl::ExpectModal("Renamed", [](CWnd& w) { hl::Click(w, IDOK); });
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_FALSE(wrongOneRan);
}

TEST_F(DialogTest, ExpectedHandlersRunOnceInOrderThenPersistentOnes) {
  std::vector<int> order;
  hl::ExpectModal("Sample", [&](CWnd& w) {
    order.push_back(1);
    hl::Click(w, IDOK);
  });
  hl::ExpectModal("", [&](CWnd& w) {
    order.push_back(2);
    hl::Click(w, IDCANCEL);
  });
  hl::OnModal("Sample", [&](CWnd& w) {
    order.push_back(3);
    hl::Click(w, IDCANCEL);
  });
  SampleDlg dlg;
  EXPECT_EQ(dlg.DoModal(), IDOK);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(order, (std::vector<int>{1, 2, 3, 3}));
}

TEST_F(DialogTest, NestedModalDialogs) {
  SampleDlg outer;
  SampleDlg inner;
  hl::ExpectModal("Sample", [&](CWnd& w) {
    hl::ExpectModal("Sample", [&](CWnd& innerWnd) {
      EXPECT_EQ(hl::OpenWindows().size(), 2u);
      EXPECT_EQ(hl::OpenWindows().front(), w);
      EXPECT_NE(hl::Leftovers().find("open window: dialog \"Sample\""), std::string::npos);
      EXPECT_TRUE(w.IsWindow());
      hl::Type(innerWnd, kName, "inner");
      hl::Click(innerWnd, IDOK);
    });
    EXPECT_EQ(inner.DoModal(), IDOK);
    EXPECT_EQ(hl::OpenWindows().size(), 1u);
    hl::Click(w, IDCANCEL);
  });
  EXPECT_EQ(outer.DoModal(), IDCANCEL);
  EXPECT_EQ(inner.name, "inner");
  EXPECT_EQ(outer.name, "dev");
}

TEST_F(DialogTest, MissingHandlerAndDialogLeftOpenAreReportedAndCancelled) {
  SampleDlg dlg;
  {
    ScopedFailureCapture capture;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(capture.Failures().size(), 1u);
    EXPECT_NE(capture.Failures()[0].find("Sample"), std::string::npos);
  }
  hl::ExpectModal("Sample", [](CWnd&) {});
  {
    ScopedFailureCapture capture;
    EXPECT_EQ(dlg.DoModal(), IDCANCEL);
    ASSERT_EQ(capture.Failures().size(), 1u);
    EXPECT_NE(capture.Failures()[0].find("still open"), std::string::npos);
  }
  EXPECT_FALSE(dlg.IsWindow());
}

TEST_F(DialogTest, ClicksOnDisabledOrHiddenControlsAreRefused) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [&](CWnd& w) {
    w.GetDlgItem(kApply).EnableWindow(false);
    w.GetDlgItem(kFlag).ShowWindow(SW_HIDE);
    {
      ScopedFailureCapture capture;
      hl::Click(w, kApply);
      hl::Click(w, kFlag);
      hl::Click(w, 4242);
      EXPECT_EQ(capture.Failures().size(), 3u);
    }
    EXPECT_EQ(dlg.applied, 0);
    EXPECT_EQ(static_cast<CDialog&>(w).IsDlgButtonChecked(kFlag), BST_CHECKED);
    hl::Click(w, IDCANCEL);
  });
  dlg.DoModal();
}

TEST_F(DialogTest, UnexpectedMessageBoxIsReportedAndAnsweredSafely) {
  ScopedFailureCapture capture;
  EXPECT_EQ(AfxMessageBox("Proceed?", MB_YESNO | MB_ICONQUESTION), IDNO);
  EXPECT_EQ(AfxMessageBox("Done."), IDOK);
  EXPECT_EQ(capture.Failures().size(), 2u);
  ASSERT_EQ(hl::MessageBoxes().size(), 2u);
  EXPECT_EQ(hl::MessageBoxes()[0].type, MB_YESNO | MB_ICONQUESTION);
}

TEST_F(DialogTest, MessageBoxCaptionIsTheProgramNameOrTheGivenOne) {
  CWinApp app("Corvane");
  hl::ExpectMessageBox("a", IDYES);
  hl::ExpectMessageBox("b", IDOK);
  EXPECT_EQ(AfxMessageBox("a", MB_YESNO), IDYES);
  CWnd none;
  none.MessageBox("b", "Searching Result", MB_OK | MB_ICONINFORMATION);
  ASSERT_EQ(hl::MessageBoxes().size(), 2u);
  EXPECT_EQ(hl::MessageBoxes()[0].caption, "Corvane");
  EXPECT_EQ(hl::MessageBoxes()[1].caption, "Searching Result");
  EXPECT_EQ(hl::MessageBoxes()[1].type, MB_OK | MB_ICONINFORMATION);
}

TEST_F(DialogTest, FileDialogsAreRecordedAndAnswered) {
  hl::ExpectFileDialog([](const hl::FileDialogCall& call, std::string& path) {
    EXPECT_FALSE(call.open);
    EXPECT_EQ(call.defaultExt, "txt");
    EXPECT_EQ(call.filter, "Text|*.txt|");
    path = "/tmp/out.txt";
    return IDOK;
  });
  CFileDialog save(false, "txt", "dev.txt", OFN_HIDEREADONLY, "Text|*.txt|");
  EXPECT_EQ(save.DoModal(), IDOK);
  EXPECT_EQ(save.GetPathName(), "/tmp/out.txt");
  hl::ExpectFileDialog([](const hl::FileDialogCall&, std::string&) { return IDCANCEL; });
  CFileDialog open(true);
  EXPECT_EQ(open.DoModal(), IDCANCEL);
  EXPECT_EQ(open.GetPathName(), "");
  ASSERT_EQ(hl::FileDialogs().size(), 2u);
  EXPECT_EQ(hl::FileDialogs()[0].fileName, "dev.txt");
  ScopedFailureCapture capture;
  EXPECT_EQ(open.DoModal(), IDCANCEL);
  EXPECT_EQ(capture.Failures().size(), 1u);
}

TEST_F(DialogTest, UnusedScriptedAnswersAreLeftovers) {
  hl::ExpectMessageBox("never shown");
  hl::ExpectModal("Never", [](CWnd&) {});
  const std::string left = hl::Leftovers();
  EXPECT_NE(left.find("message box"), std::string::npos);
  EXPECT_NE(left.find("Never"), std::string::npos);
  hl::Reset();
  EXPECT_EQ(hl::Leftovers(), "");
}

TEST_F(DialogTest, InitialFocusIsTheFirstTabStopAndTemplateStylesAreKept) {
  SampleDlg dlg;
  hl::ExpectModal("Sample", [](CWnd& w) {
    EXPECT_EQ(hl::FocusedWindow(), w.GetDlgItem(kName));
    EXPECT_EQ(w.GetDlgItem(IDOK).GetStyle() & BS_TYPEMASK, BS_DEFPUSHBUTTON);
    EXPECT_NE(w.GetDlgItem(kDigits).GetStyle() & ES_NUMBER, 0u);
    EXPECT_EQ(hl::ChildIds(w).front(), kName);
    EXPECT_EQ(hl::ChildIds(w).size(), 12u);
    hl::Click(w, IDCANCEL);
  });
  dlg.DoModal();
}

}  // namespace
