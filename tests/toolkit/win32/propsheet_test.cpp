// Property sheets: standard OK and cancel, the close box, re-captioned
// buttons, page activation with validation, and DestroyWindow at every close.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include "../propsheet_cases.h"
#include "win32_test_support.h"

namespace {

constexpr int kPageEdit = 1101;
constexpr tk::UINT kRunSheetScript = tk::WM_APP + 200;

tk::DialogTemplate PageTemplate(const std::string& caption) {
  // The default (popup) frame: the sheet makes the page a child.
  return tktest::MakeTemplate(caption, {tk::Edit(kPageEdit, {7, 7, 107, 19})}, {0, 0, 220, 120});
}

class Page : public tk::CPropertyPage {
 public:
  Page(const tk::DialogTemplate& t, std::vector<std::string>& log) : tk::CPropertyPage(t), m_log(log) {}
  int value = 5;
  bool refuseToLeave = false;

 protected:
  void DoDataExchange(tk::CDataExchange* pDX) override { tk::DDX_Text(pDX, kPageEdit, value); }
  tk::BOOL OnSetActive() override {
    m_log.push_back(GetTabCaption() + " setactive");
    return tk::TRUE;
  }
  tk::BOOL OnKillActive() override {
    m_log.push_back(GetTabCaption() + " killactive");
    if (refuseToLeave) return tk::FALSE;
    return tk::CPropertyPage::OnKillActive();
  }
  void OnOK() override { m_log.push_back(GetTabCaption() + " ok"); }
  void OnCancel() override { m_log.push_back(GetTabCaption() + " cancel"); }

 private:
  std::vector<std::string>& m_log;
};

class Sheet : public tk::CPropertySheet {
 public:
  explicit Sheet(std::vector<std::string>& log) : tk::CPropertySheet("Device Setup"), m_log(log) {}
  std::function<void(Sheet&)> script;
  std::function<void(Sheet&, tk::UINT_PTR)> timer;
  std::map<int, std::string> captions;  // read in OnInitDialog
  bool helpVisible = true;
  int destroyCount = 0;
  bool skipBaseDestroy = false;  // an override that acts and does not call the base
  std::string receivedText;

 protected:
  tk::BOOL OnInitDialog() override {
    GetDlgItem(tk::IDOK).SetWindowText("Submit");
    GetDlgItem(tk::IDCANCEL).SetWindowText("Save");
    GetDlgItem(tk::ID_APPLY_NOW).SetWindowText("Load");
    GetDlgItem(tk::ID_APPLY_NOW).EnableWindow(true);
    GetDlgItem(tk::IDHELP).SetWindowText("Exit");
    GetDlgItem(tk::IDHELP).ShowWindow(tk::SW_HIDE);
    for (int id : {tk::IDOK, tk::IDCANCEL, tk::ID_APPLY_NOW, tk::IDHELP})
      captions[id] = GetDlgItem(id).GetWindowText();
    helpVisible = GetDlgItem(tk::IDHELP).IsWindowVisible();
    PostMessage(kRunSheetScript);
    SetTimer(tktest::kWatchdogTimer, tktest::kWatchdogMs);
    return tk::TRUE;
  }
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override {
    if (id == static_cast<tk::UINT>(tk::IDCANCEL)) {
      m_log.push_back(control == nullptr ? "sheet cancel (close box)" : "sheet cancel (button)");
    }
    return tk::CPropertySheet::OnCommand(id, code, control);
  }
  bool OnMessage(tk::UINT msg, tk::WPARAM wp, tk::LPARAM, tk::LRESULT& result) override {
    if (msg == kRunSheetScript) {
      if (script) script(*this);
      return true;
    }
    if (msg == 0x409) {
      receivedText = *reinterpret_cast<const std::string*>(wp);
      result = 1;
      return true;
    }
    return false;
  }
  void OnTimer(tk::UINT_PTR id) override {
    if (id != tktest::kWatchdogTimer) {
      if (timer) timer(*this, id);
      return;
    }
    ADD_FAILURE() << "sheet left open";
    KillTimer(id);
    EndDialog(tktest::kWatchdogResult);
  }
  tk::BOOL DestroyWindow() override {
    ++destroyCount;
    m_log.push_back("destroy");
    if (skipBaseDestroy) return tk::TRUE;
    return tk::CPropertySheet::DestroyWindow();
  }

 private:
  std::vector<std::string>& m_log;
};

struct SheetFixture : ::testing::Test {
  std::vector<std::string> log;
  tk::DialogTemplate networkT = PageTemplate("Network");
  tk::DialogTemplate serialT = PageTemplate("Serial");
  Page network{networkT, log};
  Page serial{serialT, log};
  Sheet sheet{log};
  SheetFixture() {
    sheet.AddPage(&network);
    sheet.AddPage(&serial);
  }
};

TEST_F(SheetFixture, ButtonsTakeNewCaptionsAndTheHelpButtonHides) {
  tk::DWORD pageStyle = 0;
  bool pageInSheet = false;
  sheet.script = [&](Sheet& s) {
    pageStyle = network.GetStyle();
    pageInSheet = network.GetParent() == s;
    s.EndDialog(tk::IDCANCEL);
  };
  EXPECT_EQ(sheet.DoModal(), tk::IDCANCEL);
  EXPECT_EQ(pageStyle & (tk::WS_CHILD | tk::WS_POPUP | tk::WS_CAPTION), tk::WS_CHILD);
  EXPECT_TRUE(pageInSheet);
  EXPECT_EQ(sheet.captions[tk::IDOK], "Submit");
  EXPECT_EQ(sheet.captions[tk::IDCANCEL], "Save");
  EXPECT_EQ(sheet.captions[tk::ID_APPLY_NOW], "Load");
  EXPECT_EQ(sheet.captions[tk::IDHELP], "Exit");
  EXPECT_FALSE(sheet.helpVisible);
  EXPECT_EQ(sheet.destroyCount, 1);
  EXPECT_EQ(sheet.GetSafeHwnd(), nullptr);
}

TEST_F(SheetFixture, ADestroyWindowThatSkipsTheBaseStillClosesTheSheet) {
  sheet.skipBaseDestroy = true;
  tk::Handle window = nullptr;
  sheet.script = [&](Sheet& s) {
    window = s.GetSafeHwnd();
    s.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(sheet.DoModal(), tk::IDOK);
  EXPECT_EQ(sheet.destroyCount, 1);
  ASSERT_NE(window, nullptr);
  EXPECT_FALSE(tk::CWnd(window).IsWindow());
  EXPECT_EQ(tk::FindTopLevelWindow("Device Setup"), nullptr);
  EXPECT_EQ(network.GetSafeHwnd(), nullptr);
}

// The shared table, on the platform's own sheet.
class SheetRoute : public ::testing::TestWithParam<tktest::SheetCase> {};

TEST_P(SheetRoute, PagesAndSheetSeeWhatThePlatformSheetShows) {
  const tktest::SheetCase& c = GetParam();
  tktest::CaseSheet sheet(c);
  EXPECT_EQ(sheet.DoModal(), c.result);
  EXPECT_EQ(sheet.Log(), c.log);
  EXPECT_EQ(sheet.GetSafeHwnd(), nullptr);
}

INSTANTIATE_TEST_SUITE_P(Shared, SheetRoute, ::testing::ValuesIn(tktest::SheetCases()),
                         [](const auto& info) { return std::string(info.param.label); });

TEST_F(SheetFixture, PageSwitchAsksTheOldPageAndARefusalKeepsIt) {
  int activeAfterRefusal = -1;
  int activeAfterSwitch = -1;
  bool refused = true;
  sheet.script = [&](Sheet& s) {
    network.refuseToLeave = true;
    refused = s.SetActivePage(1);
    activeAfterRefusal = s.GetActiveIndex();
    network.refuseToLeave = false;
    s.SetActivePage(&serial);
    activeAfterSwitch = s.GetActiveIndex();
    s.EndDialog(tk::IDCANCEL);
  };
  EXPECT_EQ(sheet.DoModal(), tk::IDCANCEL);
  EXPECT_FALSE(refused);
  EXPECT_EQ(activeAfterRefusal, 0);
  EXPECT_EQ(activeAfterSwitch, 1);
  EXPECT_EQ(log, (std::vector<std::string>{"Network setactive", "Network killactive", "Network killactive",
                                           "Serial setactive", "destroy"}));
}

TEST_F(SheetFixture, InvalidPageValueBlocksOkAndTheSheetStaysOpen) {
  std::vector<std::string> boxTexts;
  bool stillOpen = false;
  sheet.timer = [&](Sheet& s, tk::UINT_PTR id) {
    if (id == 99) {  // the validation message: read it and press OK
      tk::CWnd box(tk::FindTopLevelWindow("tk_win32_tests"));
      if (box.GetSafeHwnd() == nullptr) return;
      s.KillTimer(99);
      boxTexts = tktest::ChildTexts(box.GetSafeHwnd());
      box.PostMessage(tk::WM_COMMAND, tk::IDOK, 0);
      s.SetTimer(100, 50);
    } else if (id == 100) {  // after the OK handling returned
      s.KillTimer(100);
      stillOpen = s.IsWindow() && s.GetActiveIndex() == 0;
      s.EndDialog(tk::IDCANCEL);
    }
  };
  sheet.script = [&](Sheet& s) {
    s.GetPage(0)->SetDlgItemText(kPageEdit, "x");
    s.SetTimer(99, 20);
    s.PostMessage(tk::WM_COMMAND, tk::IDOK,
                  reinterpret_cast<tk::LPARAM>(s.GetDlgItem(tk::IDOK).GetSafeHwnd()));
  };
  EXPECT_EQ(sheet.DoModal(), tk::IDCANCEL);
  EXPECT_TRUE(stillOpen);
  EXPECT_NE(std::find(boxTexts.begin(), boxTexts.end(), "Please enter an integer."), boxTexts.end());
  EXPECT_EQ(log, (std::vector<std::string>{"Network setactive", "Network killactive", "destroy"}));
}

TEST_F(SheetFixture, UserMessagesReachTheSheet) {
  std::string host = "10.0.0.7";
  tk::LRESULT answer = 0;
  sheet.script = [&](Sheet& s) {
    answer = s.SendMessage(0x409, reinterpret_cast<tk::WPARAM>(&host), 0);
    s.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(sheet.DoModal(), tk::IDOK);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(sheet.receivedText, "10.0.0.7");
}

}  // namespace
