// Property sheets on the headless backend: page creation and switching, the
// standard handling of the four buttons and the close box, DestroyWindow.
#include <algorithm>
#include <string>
#include <vector>

#include "../propsheet_cases.h"
#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

constexpr int kValue = 1100;

DialogTemplate PageTemplate(const std::string& caption) {
  return {caption,
          {0, 0, 200, 100},
          WS_CHILD | WS_CAPTION | DS_SETFONT,
          "MS Shell Dlg",
          8,
          {Edit(kValue, {5, 5, 60, 17})}};
}

const DialogTemplate& FirstTemplate() {
  static const DialogTemplate t = PageTemplate("Network");
  return t;
}
const DialogTemplate& SecondTemplate() {
  static const DialogTemplate t = PageTemplate("Serial");
  return t;
}

class Page : public CPropertyPage {
 public:
  explicit Page(const DialogTemplate& t, std::vector<std::string>& log) : CPropertyPage(t), m_log(log) {}
  int value = 10;
  bool refuseToLeave = false;

 protected:
  BOOL OnInitDialog() override {
    m_log.push_back(GetTabCaption() + ":init");
    return CPropertyPage::OnInitDialog();
  }
  BOOL OnSetActive() override {
    m_log.push_back(GetTabCaption() + ":set");
    return CPropertyPage::OnSetActive();
  }
  BOOL OnKillActive() override {
    m_log.push_back(GetTabCaption() + ":kill");
    return refuseToLeave ? FALSE : CPropertyPage::OnKillActive();
  }
  void OnOK() override { m_log.push_back(GetTabCaption() + ":ok"); }
  void OnCancel() override { m_log.push_back(GetTabCaption() + ":cancel"); }
  void OnDestroy() override { m_log.push_back(GetTabCaption() + ":destroy"); }
  void DoDataExchange(CDataExchange* pDX) override {
    DDX_Text(pDX, kValue, value);
    DDV_MinMaxInt(pDX, value, 1, 99);
  }

 private:
  std::vector<std::string>& m_log;
};

class Sheet : public CPropertySheet {
 public:
  Sheet() : CPropertySheet("Device Setup"), first(FirstTemplate(), log), second(SecondTemplate(), log) {
    AddPage(&first);
    AddPage(&second);
  }
  std::vector<std::string> log;
  Page first;
  Page second;
  bool bothPagesAtInit = false;
  int destroyCalls = 0;
  bool skipBaseDestroy = false;  // an override that acts and does not call the base
  int loads = 0;
  std::vector<bool> cancelFromButton;

 protected:
  BOOL OnInitDialog() override {
    CPropertySheet::OnInitDialog();
    log.push_back("sheet:init");
    if (bothPagesAtInit) {
      SetActivePage(1);
      SetActivePage(0);
    }
    GetDlgItem(IDOK).SetWindowText("Submit");
    GetDlgItem(IDHELP).ShowWindow(SW_HIDE);
    return TRUE;
  }
  bool OnCommand(UINT id, UINT code, Handle control) override {
    if (id == static_cast<UINT>(IDCANCEL)) cancelFromButton.push_back(control != nullptr);
    if (id == static_cast<UINT>(ID_APPLY_NOW) && control != nullptr) {
      ++loads;
      return true;
    }
    return CPropertySheet::OnCommand(id, code, control);
  }
  BOOL DestroyWindow() override {
    ++destroyCalls;
    if (skipBaseDestroy) return TRUE;
    return CPropertySheet::DestroyWindow();
  }
};

class PropertySheetTest : public HeadlessTest {};

TEST_F(PropertySheetTest, FirstPageIsCreatedBeforeTheSheetInitialises) {
  Sheet sheet;
  hl::ExpectModal("Device Setup", [&](CWnd& w) {
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    EXPECT_TRUE(sheet.first.IsWindow());
    EXPECT_FALSE(sheet.second.IsWindow());
    EXPECT_EQ(sheet.first.GetParent(), w);
    EXPECT_EQ(sheet.first.GetSheet(), &sheet);
    hl::CloseBox(w);
  });
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(sheet.log, (std::vector<std::string>{"Network:init", "Network:set", "sheet:init",
                                                 "Network:cancel", "Network:destroy"}));
  EXPECT_EQ(sheet.destroyCalls, 1);
  EXPECT_FALSE(sheet.first.IsWindow());
  EXPECT_EQ(sheet.cancelFromButton, std::vector<bool>{false});  // the close box carries no control
}

TEST_F(PropertySheetTest, ButtonsExistWithDefaultCaptionsAndCanBeChanged) {
  Sheet sheet;
  hl::ExpectModal("Device Setup", [](CWnd& w) {
    EXPECT_EQ(w.GetDlgItem(IDOK).GetWindowText(), "Submit");
    EXPECT_EQ(w.GetDlgItem(IDCANCEL).GetWindowText(), "Cancel");
    EXPECT_EQ(w.GetDlgItem(ID_APPLY_NOW).GetWindowText(), "&Apply");
    EXPECT_FALSE(w.GetDlgItem(ID_APPLY_NOW).IsWindowEnabled());
    EXPECT_FALSE(w.GetDlgItem(IDHELP).IsWindowVisible());
    EXPECT_EQ(w.GetDlgItem(IDOK).QueryDlgCode(), DLGC_BUTTON | DLGC_DEFPUSHBUTTON);
    EXPECT_EQ(w.GetDlgItem(IDCANCEL).QueryDlgCode(), DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON);
    EXPECT_EQ(hl::ChildIds(w), (std::vector<int>{IDOK, IDCANCEL, ID_APPLY_NOW, IDHELP}));
    {
      ScopedFailureCapture capture;
      hl::Click(w, ID_APPLY_NOW);  // disabled
      hl::Click(w, IDHELP);        // hidden
      EXPECT_EQ(capture.Failures().size(), 2u);
    }
    w.GetDlgItem(ID_APPLY_NOW).EnableWindow(true);
    hl::Click(w, ID_APPLY_NOW);
    hl::Click(w, IDCANCEL);
  });
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(sheet.loads, 1);
  EXPECT_EQ(sheet.cancelFromButton, std::vector<bool>{true});
}

TEST_F(PropertySheetTest, OkValidatesTheActivePageThenEveryCreatedPageGetsOk) {
  Sheet sheet;
  sheet.bothPagesAtInit = true;
  hl::ExpectModal("Device Setup", [&](CWnd& w) {
    EXPECT_TRUE(sheet.second.IsWindow());
    hl::Type(sheet.first, kValue, "100");
    hl::ExpectMessageBox("Please enter an integer between 1 and 99.");
    hl::Click(w, IDOK);
    EXPECT_TRUE(w.IsWindow());
    EXPECT_EQ(hl::FocusedWindow(), sheet.first.GetDlgItem(kValue));
    hl::Type(sheet.first, kValue, "42");
    sheet.log.clear();
    hl::Click(w, IDOK);
  });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_EQ(sheet.first.value, 42);
  EXPECT_EQ(sheet.log, (std::vector<std::string>{"Network:kill", "Network:ok", "Serial:ok", "Network:destroy",
                                                 "Serial:destroy"}));
}

TEST_F(PropertySheetTest, SwitchingPagesAsksTheOldPageFirst) {
  Sheet sheet;
  hl::ExpectModal("Device Setup", [&](CWnd& w) {
    sheet.first.refuseToLeave = true;
    EXPECT_FALSE(sheet.SetActivePage(1));
    EXPECT_EQ(sheet.GetActiveIndex(), 0);
    sheet.first.refuseToLeave = false;
    EXPECT_TRUE(sheet.SetActivePage(&sheet.second));
    EXPECT_EQ(sheet.GetActivePage(), &sheet.second);
    EXPECT_FALSE(sheet.first.IsWindowVisible());
    EXPECT_TRUE(sheet.second.IsWindowVisible());
    EXPECT_FALSE(sheet.SetActivePage(5));
    hl::CloseBox(w);
  });
  sheet.DoModal();
  EXPECT_EQ(sheet.log,
            (std::vector<std::string>{"Network:init", "Network:set", "sheet:init", "Network:kill",
                                      "Network:kill", "Serial:init", "Serial:set", "Network:cancel",
                                      "Serial:cancel", "Network:destroy", "Serial:destroy"}));
}

TEST_F(PropertySheetTest, ReopeningCreatesThePagesAnew) {
  Sheet sheet;
  hl::OnModal("Device Setup", [](CWnd& w) { hl::Click(w, IDCANCEL); });
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(sheet.DoModal(), IDCANCEL);
  EXPECT_EQ(sheet.destroyCalls, 2);
  EXPECT_EQ(std::count(sheet.log.begin(), sheet.log.end(), "Network:init"), 2);
}

// The shared table: the steps end the sheet from inside the modal loop.
class SheetRoute : public HeadlessTest, public ::testing::WithParamInterface<tktest::SheetCase> {};

TEST_P(SheetRoute, PagesAndSheetSeeWhatThePlatformSheetShows) {
  const tktest::SheetCase& c = GetParam();
  tktest::CaseSheet sheet(c);
  EXPECT_EQ(sheet.DoModal(), c.result);
  EXPECT_EQ(sheet.Log(), c.log);
}

INSTANTIATE_TEST_SUITE_P(Shared, SheetRoute, ::testing::ValuesIn(tktest::SheetCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(PropertySheetTest, StartPageChosenBeforeOpening) {
  Sheet sheet;
  EXPECT_TRUE(sheet.SetActivePage(1));
  EXPECT_EQ(sheet.GetActiveIndex(), 1);
  hl::ExpectModal("Device Setup", [&](CWnd& w) {
    EXPECT_FALSE(sheet.first.IsWindow());
    EXPECT_TRUE(sheet.second.IsWindow());
    hl::Click(w, IDCANCEL);
  });
  sheet.DoModal();
}

TEST_F(PropertySheetTest, ADestroyWindowThatSkipsTheBaseStillClosesTheSheet) {
  Sheet sheet;
  sheet.skipBaseDestroy = true;
  Handle window = nullptr;
  hl::ExpectModal("Device Setup", [&](CWnd& w) {
    window = w.GetSafeHwnd();
    static_cast<Sheet&>(w).EndDialog(IDOK);
  });
  EXPECT_EQ(sheet.DoModal(), IDOK);
  EXPECT_EQ(sheet.destroyCalls, 1);
  EXPECT_FALSE(CWnd(window).IsWindow());
  EXPECT_TRUE(hl::OpenWindows().empty());
  EXPECT_EQ(sheet.first.GetSafeHwnd(), nullptr);
}

}  // namespace
