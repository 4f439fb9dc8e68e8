// A dialog that hosts one CReportCtrl (control 1000, subclassed through the data
// exchange) and records the notifications the list sends to its parent.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "reportctrl/report_ctrl.h"
#include "tk/dialog.h"
#include "tk/headless.h"

namespace reportctrl::testing {

constexpr int kListId = 1000;
constexpr const char* kHostCaption = "Report host";
// A template style that breaks every style rule, so the rules show.
constexpr tk::DWORD kTemplateListStyle =
    tk::LVS_SMALLICON | tk::LVS_EDITLABELS | tk::LVS_NOSCROLL | tk::LVS_SHOWSELALWAYS | tk::WS_TABSTOP;

struct ParentMessage {
  tk::UINT msg = 0;
  tk::WPARAM wParam = 0;
  tk::LPARAM lParam = 0;
  bool operator==(const ParentMessage&) const = default;
};

class CHostDlg : public tk::CDialog {
 public:
  CHostDlg() : CDialog(Template()) {}

  static const tk::DialogTemplate& Template() {
    static const tk::DialogTemplate tmpl{kHostCaption,
                                         {0, 0, 300, 200},
                                         tk::WS_POPUP | tk::WS_CAPTION | tk::DS_MODALFRAME,
                                         "MS Shell Dlg",
                                         8,
                                         {tk::ListView(kListId, {5, 5, 295, 195}, kTemplateListStyle)}};
    return tmpl;
  }

  CReportCtrl m_list;
  std::vector<ParentMessage> m_reports;   // WM_REPORT_ITEMCLICK and WM_REPORT_SORTED
  std::vector<tk::UINT> m_notifications;  // WM_NOTIFY codes from the list

 protected:
  void DoDataExchange(tk::CDataExchange* pDX) override { tk::DDX_Control(pDX, kListId, m_list); }

  bool OnMessage(tk::UINT msg, tk::WPARAM wParam, tk::LPARAM lParam, tk::LRESULT& result) override {
    if (msg != WM_REPORT_ITEMCLICK && msg != WM_REPORT_SORTED) return false;
    m_reports.push_back({msg, wParam, lParam});
    result = 0;
    return true;
  }

  bool OnNotify(int id, tk::Notification& n, tk::LRESULT& result) override {
    if (id != kListId) return false;
    m_notifications.push_back(n.code);
    result = 0;
    return false;
  }
};

// Runs `body` while the host dialog is open, then closes it.
inline void RunInHost(const std::function<void(CHostDlg&)>& body) {
  CHostDlg dlg;
  tk::headless::ExpectModal(kHostCaption, [&](tk::CWnd&) {
    body(dlg);
    dlg.EndDialog(tk::IDOK);
  });
  dlg.DoModal();
}

}  // namespace reportctrl::testing
