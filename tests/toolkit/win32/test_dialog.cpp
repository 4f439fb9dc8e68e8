#include <gtest/gtest.h>

#include "win32_test_support.h"

namespace tktest {

namespace {
constexpr tk::UINT_PTR kAnswerTimer = 0xA115;
ModalAnswer* g_answer = nullptr;  // the answer being waited for (one at a time)
int g_answerTicks = 0;
}  // namespace

tk::BOOL TestDialog::OnInitDialog() {
  tk::BOOL result = tk::CDialog::OnInitDialog();
  SetTimer(kWatchdogTimer, kWatchdogMs);
  PostMessage(kRunScript);
  return result;
}

void TestDialog::OnTimer(tk::UINT_PTR id) {
  if (id == kWatchdogTimer) {
    ADD_FAILURE() << "dialog \"" << GetWindowText() << "\" was left open";
    KillTimer(id);
    EndDialog(kWatchdogResult);
    return;
  }
  if (id == kAnswerTimer && g_answer != nullptr) {
    tk::CWnd box(tk::FindTopLevelWindow(g_answer->caption));
    if (box.GetSafeHwnd() != nullptr && box.GetSafeHwnd() != GetSafeHwnd()) {
      KillTimer(id);
      g_answer->seen = true;
      g_answer->texts = ChildTexts(box.GetSafeHwnd());
      box.PostMessage(tk::WM_COMMAND, static_cast<tk::WPARAM>(g_answer->button), 0);
      g_answer = nullptr;
    } else if (++g_answerTicks > 500) {
      KillTimer(id);
      ADD_FAILURE() << "no window \"" << g_answer->caption << "\" appeared";
      g_answer = nullptr;
    }
    return;
  }
  log.push_back("timer " + std::to_string(id));
  if (timer) timer(id);
}

bool TestDialog::OnMessage(tk::UINT msg, tk::WPARAM wp, tk::LPARAM lp, tk::LRESULT& result) {
  if (msg == kRunScript) {
    if (script) script(*this);
    return true;
  }
  return message ? message(msg, wp, lp, result) : false;
}

void AnswerModal(TestDialog& owner, ModalAnswer& answer) {
  g_answer = &answer;
  g_answerTicks = 0;
  owner.SetTimer(kAnswerTimer, 20);
}

tk::DialogTemplate MakeTemplate(const std::string& caption, std::vector<tk::ControlTemplate> controls,
                                tk::CRect rect) {
  tk::DialogTemplate t;
  t.caption = caption;
  t.rect = rect;
  t.controls = std::move(controls);
  return t;
}

}  // namespace tktest
