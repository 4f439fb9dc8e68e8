// Messages between windows, real timers, the system menu, the window icon and
// single-instance lookup.
#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace {

using tktest::TestDialog;

constexpr tk::UINT kAskHost = 0x409;
constexpr tk::UINT kAnswerHost = 0x40A;

tk::DialogTemplate Frame(const std::string& caption) {
  return tktest::MakeTemplate(caption, {tk::PushButton(tk::IDOK, "OK", {7, 7, 57, 21}).Default(),
                                        tk::Label("status", {7, 30, 157, 40}, 1058)});
}

TEST(Messages, SendMessageBetweenWindowsRunsTheHandlerBeforeReturning) {
  const tk::DialogTemplate outerT = Frame("Outer");
  const tk::DialogTemplate innerT = Frame("Inner");
  TestDialog outer(outerT);
  std::string host = "192.168.5.20";
  int slot = 17;
  std::string copiedHost;
  int copiedSlot = 0;
  tk::LRESULT answer = 0;
  outer.message = [&](tk::UINT msg, tk::WPARAM, tk::LPARAM, tk::LRESULT& result) {
    if (msg != kAskHost) return false;
    // The main window answers with the addresses of its own members.
    TestDialog* inner = static_cast<TestDialog*>(tk::AfxGetApp()->m_pMainWnd);
    result = inner->SendMessage(kAnswerHost, reinterpret_cast<tk::WPARAM>(&host),
                                reinterpret_cast<tk::LPARAM>(&slot));
    return true;
  };
  outer.script = [&](TestDialog& o) {
    TestDialog inner(innerT, &o);
    inner.message = [&](tk::UINT msg, tk::WPARAM wp, tk::LPARAM lp, tk::LRESULT& result) {
      if (msg != kAnswerHost) return false;
      copiedHost = *reinterpret_cast<const std::string*>(wp);
      copiedSlot = *reinterpret_cast<const int*>(lp);
      result = 1;
      return true;
    };
    inner.script = [&](TestDialog& i) {
      tk::AfxGetApp()->m_pMainWnd = &i;
      answer = i.GetParentWnd()->SendMessage(kAskHost);
      tk::AfxGetApp()->m_pMainWnd = nullptr;
      i.EndDialog(tk::IDOK);
    };
    EXPECT_EQ(inner.DoModal(), tk::IDOK);
    o.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(outer.DoModal(), tk::IDOK);
  EXPECT_EQ(answer, 1);
  EXPECT_EQ(copiedHost, "192.168.5.20");
  EXPECT_EQ(copiedSlot, 17);
}

TEST(Messages, PostedMessagesArriveLaterAndInOrder) {
  const tk::DialogTemplate t = Frame("Posting");
  TestDialog dlg(t);
  std::vector<tk::WPARAM> seen;
  dlg.message = [&](tk::UINT msg, tk::WPARAM wp, tk::LPARAM, tk::LRESULT&) {
    if (msg != tk::WM_USER + 5) return false;
    seen.push_back(wp);
    if (wp == 3) dlg.EndDialog(tk::IDOK);
    return true;
  };
  size_t seenWhenPosting = 99;
  dlg.script = [&](TestDialog& d) {
    for (tk::WPARAM i = 1; i <= 3; ++i) EXPECT_TRUE(d.PostMessage(tk::WM_USER + 5, i, 0));
    seenWhenPosting = seen.size();
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(seenWhenPosting, 0u);
  EXPECT_EQ(seen, (std::vector<tk::WPARAM>{1, 2, 3}));
}

TEST(Timers, FireRepeatedlyUntilKilledAndKeepTheirIds) {
  const tk::DialogTemplate t = Frame("Timers");
  TestDialog dlg(t);
  int fast = 0;
  int slow = 0;
  dlg.timer = [&](tk::UINT_PTR id) {
    if (id == 13) ++fast;
    if (id == 7) ++slow;
    if (fast == 5) {
      EXPECT_TRUE(dlg.KillTimer(13));
      EXPECT_FALSE(dlg.KillTimer(13));  // already gone
      dlg.EndDialog(tk::IDOK);
    }
  };
  dlg.script = [&](TestDialog& d) {
    EXPECT_EQ(d.SetTimer(13, 10), 13u);
    EXPECT_EQ(d.SetTimer(7, 5000), 7u);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(fast, 5);
  EXPECT_EQ(slow, 0);
}

// A control object bound to a dialog control sets a timer on that control.
class TimedLabel : public tk::CWnd {
 public:
  int ticks = 0;
  std::function<void()> tick;

 protected:
  void OnTimer(tk::UINT_PTR id) override {
    if (id != 21) return;
    ++ticks;
    if (tick) tick();
  }
};

TEST(Timers, ASubclassedControlsOwnTimerReachesItsOnTimer) {
  const tk::DialogTemplate t = Frame("Control timer");
  TestDialog dlg(t);
  TimedLabel label;
  label.tick = [&] {
    if (label.ticks < 3) return;
    EXPECT_TRUE(label.KillTimer(21));
    dlg.EndDialog(tk::IDOK);
  };
  dlg.script = [&](TestDialog& d) {
    ASSERT_TRUE(label.SubclassDlgItem(1058, &d));
    EXPECT_EQ(label.SetTimer(21, 10), 21u);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(label.ticks, 3);
}

TEST(SystemMenu, AppendedItemsAppearAndTheirCommandReachesOnSysCommand) {
  const tk::DialogTemplate t = Frame("Menu");
  TestDialog dlg(t);
  std::vector<tk::UINT> commands;
  dlg.sysCommand = [&](tk::UINT id, tk::LPARAM) {
    commands.push_back(id);
    if ((id & 0xFFF0) == 0x10) {
      dlg.EndDialog(tk::IDOK);
      return true;
    }
    return false;
  };
  std::vector<std::pair<unsigned, std::string>> items;
  dlg.script = [&](TestDialog& d) {
    tk::CMenu menu = d.GetSystemMenu(false);
    ASSERT_NE(menu.GetSafeHmenu(), nullptr);
    EXPECT_TRUE(menu.AppendMenu(tk::MF_SEPARATOR));
    EXPECT_TRUE(menu.AppendMenu(tk::MF_STRING, 0x10, "&About Corvane..."));
    items = tktest::MenuItems(menu.GetSafeHmenu());
    d.PostMessage(tk::WM_SYSCOMMAND, 0x10, 0);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  ASSERT_GE(items.size(), 2u);
  EXPECT_EQ(items.back(), (std::pair<unsigned, std::string>{0x10, "&About Corvane..."}));
  EXPECT_EQ(items[items.size() - 2].first, 0u);  // the separator
  EXPECT_EQ(commands, std::vector<tk::UINT>{0x10});
}

TEST(SingleInstance, FindsATopLevelWindowByItsExactTitleOnly) {
  const tk::DialogTemplate t = Frame("Lookup");
  TestDialog dlg(t);
  tk::Handle exact = nullptr;
  tk::Handle prefix = reinterpret_cast<tk::Handle>(1);
  tk::Handle before = reinterpret_cast<tk::Handle>(1);
  dlg.script = [&](TestDialog& d) {
    before = tk::FindTopLevelWindow("Corvane 2.9");
    d.SetWindowText("Corvane 2.9");
    exact = tk::FindTopLevelWindow("Corvane 2.9");
    prefix = tk::FindTopLevelWindow("Corvane 2");
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
  EXPECT_EQ(before, nullptr);
  EXPECT_NE(exact, nullptr);
  EXPECT_EQ(prefix, nullptr);
}

TEST(Windows, GenericOperationsOnControls) {
  const tk::DialogTemplate t = Frame("Generic");
  TestDialog dlg(t);
  dlg.script = [&](TestDialog& d) {
    tk::CWnd ok = d.GetDlgItem(tk::IDOK);
    EXPECT_FALSE(ok.EnableWindow(false));  // was enabled
    EXPECT_FALSE(ok.IsWindowEnabled());
    EXPECT_TRUE(ok.EnableWindow(true));  // was disabled
    ok.ShowWindow(tk::SW_HIDE);
    EXPECT_FALSE(ok.IsWindowVisible());
    ok.ShowWindow(tk::SW_SHOW);
    EXPECT_TRUE(ok.IsWindowVisible());
    ok.SetFocus();
    EXPECT_TRUE(ok.HasFocus());
    EXPECT_EQ(ok.GetParent().GetSafeHwnd(), d.GetSafeHwnd());
    EXPECT_EQ(ok.QueryDlgCode() & tk::DLGC_DEFPUSHBUTTON, tk::DLGC_DEFPUSHBUTTON);
    EXPECT_TRUE(ok.ModifyStyle(0, tk::BS_MULTILINE));
    EXPECT_NE(ok.GetStyle() & tk::BS_MULTILINE, 0u);
    EXPECT_FALSE(ok.ModifyStyle(0, tk::BS_MULTILINE));  // nothing changed
    tk::CRect r = d.GetClientRect();
    EXPECT_GT(r.Width(), 0);
    EXPECT_GT(r.Height(), 0);
    tk::HICON icon = tk::LoadAppIcon(128);
    d.SetIcon(icon, true);
    EXPECT_EQ(reinterpret_cast<tk::HICON>(d.SendMessage(0x007F /* WM_GETICON */, 1 /* ICON_BIG */)), icon);
    d.SetDlgItemText(1058, " Idle");
    EXPECT_EQ(d.GetDlgItemText(1058), " Idle");
    d.EndDialog(tk::IDOK);
  };
  EXPECT_EQ(dlg.DoModal(), tk::IDOK);
}

}  // namespace
