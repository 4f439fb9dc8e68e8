// Window timers on the virtual clock, Sleep, and sent and posted messages.
#include <string>
#include <utility>
#include <vector>

#include "headless_test.h"
#include "tk/tk.h"

namespace {

using namespace tk;
namespace hl = tk::headless;

constexpr UINT kAsk = WM_USER + 9;
constexpr UINT kAnswer = WM_USER + 7;

const DialogTemplate& PlainTemplate() {
  static const DialogTemplate t{
      "Timers", {0, 0, 100, 50}, WS_POPUP | WS_CAPTION | WS_SYSMENU, "MS Shell Dlg", 8, {}};
  return t;
}

class TimerDlg : public CDialog {
 public:
  TimerDlg() : CDialog(PlainTemplate()) {}
  std::vector<std::pair<std::uint64_t, UINT_PTR>> fired;
  std::function<void(UINT_PTR)> onTimer;
  std::vector<UINT> messages;
  int value = 0;

 protected:
  void OnTimer(UINT_PTR id) override {
    fired.emplace_back(hl::Now(), id);
    if (onTimer) onTimer(id);
  }
  bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) override {
    messages.push_back(msg);
    if (msg == kAsk) {
      // The sender passes the address of its member; the answer is written there.
      *reinterpret_cast<int*>(lParam) = static_cast<int>(wParam) * 2;
      result = 77;
      return true;
    }
    return false;
  }
};

class ClockTest : public HeadlessTest {
 protected:
  bool ended = false;
  INT_PTR result = 0;
  void Run(TimerDlg& dlg, const std::function<void(TimerDlg&)>& body) {
    hl::ExpectModal("Timers", [&](CWnd& w) {
      body(dlg);
      if (!ended) hl::CloseBox(w);
    });
    result = dlg.DoModal();
  }
};

using Firings = std::vector<std::pair<std::uint64_t, UINT_PTR>>;

TEST_F(ClockTest, TimersFireInTimeOrderTiesInSetOrderOncePerPeriod) {
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) {
    d.SetTimer(2, 30);
    d.SetTimer(1, 20);
    d.SetTimer(3, 60);
    hl::Advance(59);
    EXPECT_EQ(d.fired, (Firings{{20, 1}, {30, 2}, {40, 1}}));
    d.fired.clear();
    hl::Advance(1);
    // At 60 ms all three are due: the order they were set in.
    EXPECT_EQ(d.fired, (Firings{{60, 2}, {60, 1}, {60, 3}}));
    EXPECT_EQ(hl::Now(), 60u);
    d.KillTimer(1);
    d.KillTimer(2);
    d.KillTimer(3);
  });
}

TEST_F(ClockTest, SetTimerAgainRestartsAndHandlersChangeLaterFirings) {
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) {
    d.SetTimer(1, 100);
    hl::Advance(90);
    d.SetTimer(1, 100);  // restarted at 90: next due at 190
    hl::Advance(90);
    EXPECT_TRUE(d.fired.empty());
    d.onTimer = [&](UINT_PTR id) {
      if (id == 1) {
        d.KillTimer(1);
        d.SetTimer(2, 10);
      }
    };
    hl::Advance(35);
    EXPECT_EQ(d.fired, (Firings{{190, 1}, {200, 2}, {210, 2}}));
    EXPECT_FALSE(hl::HasTimer(d, 1));
    EXPECT_TRUE(hl::HasTimer(d, 2));
    // The window's timers die with it.
  });
  EXPECT_TRUE(hl::Timers().empty());
}

// The platform's modal loop: while a message box is open the window's due
// timers keep firing, and the box answers once its open time has passed. A
// handler that shows a box on every tick nests boxes until the backend
// reports it.
TEST_F(ClockTest, TimersFireWhileAMessageBoxIsOpen) {
  for (const bool boxOnEveryTick : {false, true}) {
    SCOPED_TRACE(boxOnEveryTick ? "a box on every tick" : "one box");
    hl::Reset();
    TimerDlg dlg;
    ScopedFailureCapture failures;
    Run(dlg, [&](TimerDlg& d) {
      const int answered = boxOnEveryTick ? hl::kMaxNestedModals : 1;
      for (int i = 0; i < answered; ++i) hl::ExpectMessageBox("tick");
      d.onTimer = [&](UINT_PTR) {
        if (boxOnEveryTick || d.fired.size() == 1) d.MessageBox("tick", "Timers");
      };
      d.SetTimer(1, 10);
      hl::Advance(10);
      d.KillTimer(1);
    });
    if (boxOnEveryTick) {
      EXPECT_GT(hl::MessageBoxes().size(), static_cast<std::size_t>(hl::kMaxNestedModals));
      ASSERT_FALSE(failures.Failures().empty());
      EXPECT_NE(failures.Failures().front().find("nested"), std::string::npos) << failures.Failures().front();
    } else {
      EXPECT_EQ(hl::MessageBoxes().size(), 1u);
      EXPECT_TRUE(failures.Failures().empty());
      EXPECT_EQ(dlg.fired, (Firings{{10, 1}, {20, 1}, {30, 1}, {40, 1}}));
    }
  }
}

TEST_F(ClockTest, SleepAdvancesTheClockWithoutFiring) {
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) {
    d.SetTimer(1, 50);
    tk::Sleep(120);
    EXPECT_TRUE(d.fired.empty());
    EXPECT_EQ(hl::SleptMs(), 120u);
    EXPECT_EQ(hl::Now(), 120u);
    // An overdue timer fires once, at the current time, and runs on from there.
    hl::Advance(0);
    ASSERT_EQ(d.fired.size(), 1u);
    EXPECT_EQ(d.fired[0].first, 120u);
    hl::Advance(50);
    ASSERT_EQ(d.fired.size(), 2u);
    EXPECT_EQ(d.fired[1].first, 170u);
    d.KillTimer(1);
  });
}

TEST_F(ClockTest, AdvanceUntilStopsWhenDoneOrAtTheLimit) {
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) {
    d.SetTimer(1, 10);
    EXPECT_TRUE(hl::AdvanceUntil([&] { return d.fired.size() == 3; }, 1000));
    EXPECT_EQ(hl::Now(), 30u);
    EXPECT_FALSE(hl::AdvanceUntil([] { return false; }, 25));
    EXPECT_EQ(hl::Now(), 55u);
    d.KillTimer(1);
    EXPECT_FALSE(hl::AdvanceUntil([] { return false; }, 1000));  // no timer left
  });
}

TEST_F(ClockTest, CurrentTimeFollowsTheVirtualClock) {
  hl::Platform().calendarBase = 1700000000;
  hl::Advance(2500);
  EXPECT_EQ(tk::CurrentTime(), 1700000002);
  std::tm tm{};
  ASSERT_TRUE(tk::ToLocalTime(tk::CurrentTime(), tm));
  EXPECT_EQ(tm.tm_year, 123);
  hl::Platform().localTimeFails = true;
  EXPECT_FALSE(tk::ToLocalTime(0, tm));
}

TEST_F(ClockTest, LiveTimersAreLeftovers) {
  TimerDlg dlg;
  hl::ExpectModal("Timers", [](CWnd& w) {
    w.SetTimer(4, 10);
    EXPECT_NE(hl::Leftovers().find("timer 4"), std::string::npos);
    w.KillTimer(4);
    hl::CloseBox(w);
  });
  dlg.DoModal();
}

TEST_F(ClockTest, SendMessageRunsTheHandlerSynchronouslyWithPointers) {
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) {
    int answer = 0;
    EXPECT_EQ(d.SendMessage(kAsk, 21, reinterpret_cast<LPARAM>(&answer)), 77);
    EXPECT_EQ(answer, 42);
    EXPECT_EQ(d.SendMessage(kAnswer), 0);
    EXPECT_EQ(d.messages, (std::vector<UINT>{kAsk, kAnswer}));
  });
}

TEST_F(ClockTest, PostedMessagesWaitForThePump) {
  TimerDlg dlg;
  Run(dlg, [this](TimerDlg& d) {
    EXPECT_TRUE(d.PostMessage(kAnswer, 1, 2));
    EXPECT_TRUE(d.PostMessage(kAnswer + 1));
    EXPECT_TRUE(d.messages.empty());
    EXPECT_EQ(hl::PumpPosted(), 2);
    EXPECT_EQ(d.messages, (std::vector<UINT>{kAnswer, kAnswer + 1}));
    // A posted close ends the dialog when it is pumped.
    d.PostMessage(WM_CLOSE);
    EXPECT_EQ(hl::PumpPosted(), 1);
    EXPECT_EQ(hl::PumpPosted(), 0);
    ended = true;
  });
  EXPECT_EQ(result, IDCANCEL);
}

TEST_F(ClockTest, MessagesToAClosedWindowGoNowhere) {
  TimerDlg dlg;
  Handle gone = nullptr;
  Run(dlg, [&](TimerDlg& d) {
    gone = d.GetSafeHwnd();
    d.PostMessage(kAnswer);
  });
  CWnd stale(gone);
  EXPECT_FALSE(stale.IsWindow());
  EXPECT_FALSE(stale.PostMessage(kAnswer));
  EXPECT_EQ(stale.SendMessage(kAnswer), 0);
  EXPECT_EQ(stale.SetTimer(1, 10), 0u);
  EXPECT_EQ(hl::PumpPosted(), 0);
  EXPECT_TRUE(dlg.messages.empty());
}

// A control object bound to a dialog control and timing itself, as a list
// control may: its own timer reaches its OnTimer (the win32 backend likewise).
class TimedLabel : public CWnd {
 public:
  std::vector<std::uint64_t> ticks;

 protected:
  void OnTimer(UINT_PTR id) override {
    if (id == 21) ticks.push_back(hl::Now());
  }
};

TEST_F(HeadlessTest, ASubclassedControlsOwnTimerReachesItsOnTimer) {
  static const DialogTemplate t{"Control timer",
                                {0, 0, 100, 50},
                                WS_POPUP | WS_CAPTION | WS_SYSMENU,
                                "MS Shell Dlg",
                                8,
                                {Label("status", {7, 7, 90, 17}, 1058)}};
  CDialog dlg(t);
  TimedLabel label;
  hl::ExpectModal("Control timer", [&](CWnd& w) {
    ASSERT_TRUE(label.SubclassDlgItem(1058, &w));
    EXPECT_EQ(label.SetTimer(21, 10), 21u);
    hl::Advance(35);
    EXPECT_TRUE(label.KillTimer(21));
    hl::CloseBox(w);
  });
  EXPECT_EQ(dlg.DoModal(), IDCANCEL);
  EXPECT_EQ(label.ticks, (std::vector<std::uint64_t>{10, 20, 30}));
}

TEST_F(ClockTest, SingleInstanceLookupByExactTitle) {
  hl::Platform().foreignWindowTitles = {"Marlet 1.3"};
  EXPECT_NE(tk::FindTopLevelWindow("Marlet 1.3"), nullptr);
  EXPECT_EQ(tk::FindTopLevelWindow("Marlet"), nullptr);
  TimerDlg dlg;
  Run(dlg, [](TimerDlg& d) { EXPECT_EQ(tk::FindTopLevelWindow("Timers"), d.GetSafeHwnd()); });
  EXPECT_EQ(tk::FindTopLevelWindow("Timers"), nullptr);
}

}  // namespace
