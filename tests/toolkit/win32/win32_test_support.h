// Helpers of the win32 backend's tests: a dialog whose behaviour each test
// scripts, a bounded message pump, and probes that read platform facts (the
// tests themselves see only the toolkit API; the probes hold the platform
// calls). The dialog runs its script from a posted
// message, so the script runs inside the real modal loop; a watchdog timer ends
// a dialog that a failing test would leave open.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tk/detail/dispatch.h"
#include "tk/tk.h"

namespace tktest {

constexpr tk::UINT kRunScript = tk::WM_APP + 100;
constexpr tk::UINT_PTR kWatchdogTimer = 0xBEEF;
constexpr tk::UINT kWatchdogMs = 15000;
constexpr int kWatchdogResult = -2;

class TestDialog : public tk::CDialog {
 public:
  using Script = std::function<void(TestDialog&)>;
  explicit TestDialog(const tk::DialogTemplate& t, tk::CWnd* parent = nullptr) : tk::CDialog(t, parent) {}

  Script script;  // runs once, inside the modal loop, after OnInitDialog
  std::function<void(tk::CDataExchange*)> exchange;
  std::function<bool(tk::UINT id, tk::UINT code, tk::Handle control)> command;
  std::function<void(tk::UINT_PTR id)> timer;
  std::function<bool(tk::UINT msg, tk::WPARAM, tk::LPARAM, tk::LRESULT&)> message;
  std::function<bool(int id, tk::Notification&, tk::LRESULT&)> notify;
  std::function<bool(tk::UINT id, tk::LPARAM)> sysCommand;
  std::function<void()> ok;
  std::function<bool()> paint;
  tk::HICON dragIcon = nullptr;
  std::vector<std::string> log;  // what the handlers saw, in order

  using tk::CDialog::OnCancel;
  using tk::CDialog::OnOK;

 protected:
  tk::BOOL OnInitDialog() override;
  void DoDataExchange(tk::CDataExchange* pDX) override {
    if (exchange) exchange(pDX);
  }
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override {
    if (command && command(id, code, control)) return true;
    return tk::CDialog::OnCommand(id, code, control);
  }
  void OnTimer(tk::UINT_PTR id) override;
  bool OnMessage(tk::UINT msg, tk::WPARAM wp, tk::LPARAM lp, tk::LRESULT& result) override;
  bool OnNotify(int id, tk::Notification& n, tk::LRESULT& result) override {
    return notify ? notify(id, n, result) : false;
  }
  bool OnSysCommand(tk::UINT id, tk::LPARAM lp) override { return sysCommand ? sysCommand(id, lp) : false; }
  bool OnPaint() override { return paint ? paint() : false; }
  tk::HICON OnQueryDragIcon() override { return dragIcon; }
  void OnOK() override {
    if (ok) {
      ok();
      return;
    }
    tk::CDialog::OnOK();
  }
};

// A template with the usual frame and the given controls.
tk::DialogTemplate MakeTemplate(const std::string& caption, std::vector<tk::ControlTemplate> controls,
                                tk::CRect rect = {0, 0, 300, 200});

// ---- probes (platform calls) ----------------------------------------------------

// Pumps this thread's messages until `done` or `maxMs` of real time passed.
bool PumpUntil(const std::function<bool()>& done, int maxMs);
// The texts of a window's direct children (a message box's text is one).
std::vector<std::string> ChildTexts(tk::Handle window);
std::string ClassOf(tk::Handle window);
// A child of `window` by id, for windows the toolkit did not create.
tk::Handle ChildById(tk::Handle window, int id);
// The items of a menu: (id, text); separators have id 0 and no text.
std::vector<std::pair<unsigned, std::string>> MenuItems(tk::Handle menu);
// The colour of a pixel in a window's client area.
tk::COLORREF PixelAt(tk::Handle window, int x, int y);
unsigned long CurrentThreadId();
// Waits, without dispatching anything, until a message `msg` is queued for
// this thread; false when none came within `maxMs`.
bool WaitForQueuedMessage(unsigned msg, int maxMs);
// The platform's own inet_addr, in host order.
std::uint32_t PlatformInetAddr(const std::string& text);
tk::COLORREF PlatformSysColor(int index);
// The full path of the running program's file, as the platform gives it.
std::string PlatformProgramPath();
// The platform's mouse-message key flags and packed point.
tk::LPARAM PackPoint(int x, int y);

// Installs a timer on `owner` that waits for a top-level window titled
// `caption` (a message box or file dialog), records its child texts, and
// presses `button` in it. Fails the test when none appears within the limit.
struct ModalAnswer {
  std::string caption;
  int button = tk::IDOK;
  std::vector<std::string> texts;
  bool seen = false;
};
void AnswerModal(TestDialog& owner, ModalAnswer& answer);

}  // namespace tktest
