// Cases for the route of a property sheet's commands, shared by the headless and
// the win32 suites so both backends are held to the same table: a two-page
// sheet, a few steps sent as the platform would send them (WM_COMMAND from a
// button, WM_CLOSE from the close box), and what the pages and the sheet saw.
// The steps run from a message posted at OnInitDialog, inside the modal loop.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tk/tk.h"

namespace tktest {

enum class SheetStep {
  ClickOk,
  ClickApply,
  ClickCancel,
  CloseBox,
  ShowSecondPage,
  EndWith77,  // ends a sheet that the steps before left open
};

struct SheetCase {
  const char* label;
  bool firstPageRefusesToLeave;
  bool sheetTakesOk;     // the sheet's OnCommand handles IDOK itself
  bool sheetTakesClose;  // the sheet's OnClose ends it with 5
  std::vector<SheetStep> steps;
  tk::INT_PTR result;
  const char* log;  // what pages and sheet saw, joined by ", "
};

inline const std::vector<SheetCase>& SheetCases() {
  using S = SheetStep;
  static const std::vector<SheetCase> cases = {
      {"OkValidatesThenAppliesEveryCreatedPage",
       false,
       false,
       false,
       {S::ShowSecondPage, S::ClickOk},
       tk::IDOK,
       "Network set, Network kill, Serial set, sheet 1, Serial kill, Network ok, Serial ok"},
      {"APageThatRefusesToLeaveKeepsTheSheetOpen",
       true,
       false,
       false,
       {S::ClickOk, S::EndWith77},
       77,
       "Network set, sheet 1, Network kill"},
      {"ApplyAppliesAndTheSheetStaysOpen",
       false,
       false,
       false,
       {S::ClickApply, S::EndWith77},
       77,
       "Network set, sheet 12321, Network kill, Network ok, Network set"},
      {"CancelCancelsEveryCreatedPage",
       false,
       false,
       false,
       {S::ClickCancel},
       tk::IDCANCEL,
       "Network set, sheet 2, Network cancel"},
      {"TheCloseBoxIsCancelWithoutAControl",
       false,
       false,
       false,
       {S::CloseBox},
       tk::IDCANCEL,
       "Network set, sheet close, sheet 2 (no control), Network cancel"},
      {"AHandledCloseBoxDoesNotCancel", false, false, true, {S::CloseBox}, 5, "Network set, sheet close"},
      {"OkTheSheetHandlesItselfSkipsTheStandardHandling",
       false,
       true,
       false,
       {S::ClickOk, S::EndWith77},
       77,
       "Network set, sheet 1"},
  };
  return cases;
}

constexpr int kSheetPageEdit = 1101;

class LoggingPage : public tk::CPropertyPage {
 public:
  LoggingPage(const tk::DialogTemplate& t, std::vector<std::string>& log)
      : tk::CPropertyPage(t), m_log(log) {}
  bool refuseToLeave = false;

 protected:
  tk::BOOL OnSetActive() override {
    m_log.push_back(GetTabCaption() + " set");
    return tk::TRUE;
  }
  tk::BOOL OnKillActive() override {
    m_log.push_back(GetTabCaption() + " kill");
    return refuseToLeave ? tk::FALSE : tk::TRUE;
  }
  void OnOK() override { m_log.push_back(GetTabCaption() + " ok"); }
  void OnCancel() override { m_log.push_back(GetTabCaption() + " cancel"); }

 private:
  std::vector<std::string>& m_log;
};

inline tk::DialogTemplate SheetPageTemplate(const std::string& caption) {
  return {caption,
          {0, 0, 220, 120},
          tk::WS_CHILD | tk::WS_CAPTION | tk::DS_SETFONT,
          "MS Shell Dlg",
          8,
          {tk::Edit(kSheetPageEdit, {7, 7, 107, 19})}};
}

// A "Device Setup" sheet with the pages "Network" and "Serial" that runs one
// case's steps and logs what it sees.
class CaseSheet : public tk::CPropertySheet {
 public:
  static constexpr tk::UINT kRunSteps = tk::WM_APP + 300;
  static constexpr tk::UINT_PTR kWatchdog = 0xBEEF;

  explicit CaseSheet(const SheetCase& c)
      : tk::CPropertySheet("Device Setup"),
        m_case(c),
        m_network(m_networkTemplate, log),
        m_serial(m_serialTemplate, log) {
    m_network.refuseToLeave = c.firstPageRefusesToLeave;
    AddPage(&m_network);
    AddPage(&m_serial);
  }
  std::vector<std::string> log;

  std::string Log() const {
    std::string joined;
    for (const std::string& entry : log) joined += (joined.empty() ? "" : ", ") + entry;
    return joined;
  }

 protected:
  tk::BOOL OnInitDialog() override {
    GetDlgItem(tk::ID_APPLY_NOW).EnableWindow(true);
    PostMessage(kRunSteps);
    SetTimer(kWatchdog, 15000);  // only a real clock reaches it
    return tk::TRUE;
  }
  bool OnCommand(tk::UINT id, tk::UINT code, tk::Handle control) override {
    const bool standard = id == static_cast<tk::UINT>(tk::IDOK) ||
                          id == static_cast<tk::UINT>(tk::IDCANCEL) ||
                          id == static_cast<tk::UINT>(tk::ID_APPLY_NOW);
    if (standard && code == tk::BN_CLICKED)
      log.push_back("sheet " + std::to_string(id) + (control == nullptr ? " (no control)" : ""));
    return m_case.sheetTakesOk && id == static_cast<tk::UINT>(tk::IDOK);
  }
  bool OnClose() override {
    log.push_back("sheet close");
    if (!m_case.sheetTakesClose) return false;
    EndDialog(5);
    return true;
  }
  bool OnMessage(tk::UINT msg, tk::WPARAM, tk::LPARAM, tk::LRESULT&) override {
    if (msg != kRunSteps) return false;
    for (SheetStep step : m_case.steps) Run(step);
    return true;
  }
  void OnTimer(tk::UINT_PTR id) override {
    if (id != kWatchdog) return;
    ADD_FAILURE() << "sheet left open";
    KillTimer(id);
    EndDialog(-2);
  }

 private:
  void Press(int id) {
    SendMessage(tk::WM_COMMAND, static_cast<tk::WPARAM>(id),
                reinterpret_cast<tk::LPARAM>(GetDlgItem(id).GetSafeHwnd()));
  }
  void Run(SheetStep step) {
    switch (step) {
      case SheetStep::ClickOk:
        Press(tk::IDOK);
        break;
      case SheetStep::ClickApply:
        Press(tk::ID_APPLY_NOW);
        break;
      case SheetStep::ClickCancel:
        Press(tk::IDCANCEL);
        break;
      case SheetStep::CloseBox:
        SendMessage(tk::WM_CLOSE);
        break;
      case SheetStep::ShowSecondPage:
        SetActivePage(1);
        break;
      case SheetStep::EndWith77:
        EndDialog(77);
        break;
    }
  }

  const SheetCase& m_case;
  tk::DialogTemplate m_networkTemplate = SheetPageTemplate("Network");
  tk::DialogTemplate m_serialTemplate = SheetPageTemplate("Serial");
  LoggingPage m_network;
  LoggingPage m_serial;
};

}  // namespace tktest
