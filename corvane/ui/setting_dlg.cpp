// The "Setting" dialog: template, data exchange, closing rule.
#include "corvane/ui/setting_dlg.h"

#include "corvane/ui/main_dlg_ids.h"

namespace corvane::ui {

using namespace tk;

const DialogTemplate& SettingDialogTemplate() {
  static const DialogTemplate tmpl{
      .caption = "Setting",
      .rect = {0, 0, 200, 96},
      .controls{
          GroupBox("Timer setting", {7, 7, 193, 68}),
          Label("Search period", {14, 20, 70, 30}),
          Edit(ids::kSearchPeriod, {74, 18, 120, 30}).Style(ES_NUMBER),
          Label("(100ms)", {124, 20, 186, 30}),
          Label("Restore period", {14, 36, 70, 46}),
          Edit(ids::kRestorePeriod, {74, 34, 120, 46}).Style(ES_NUMBER),
          Label("(100ms)", {124, 36, 186, 46}),
          Label("Reboot period", {14, 52, 70, 62}),
          Edit(ids::kRebootPeriod, {74, 50, 120, 62}).Style(ES_NUMBER),
          Label("(sec / unit)", {124, 52, 186, 62}),
          PushButton(IDOK, "OK", {40, 74, 90, 88}).Default(),
          PushButton(IDCANCEL, "Cancel", {110, 74, 160, 88}),
      },
  };
  return tmpl;
}

CCVNSettingDlg::CCVNSettingDlg(CWnd* parent) : CDialog(SettingDialogTemplate(), parent) {}

void CCVNSettingDlg::DoDataExchange(CDataExchange* pDX) {
  DDX_Text(pDX, ids::kSearchPeriod, m_searchPeriod);
  DDV_MinMaxInt(pDX, m_searchPeriod, kSearchPeriodLow, kPeriodHigh);
  DDX_Text(pDX, ids::kRestorePeriod, m_restorePeriod);
  DDV_MinMaxInt(pDX, m_restorePeriod, kRestorePeriodLow, kPeriodHigh);
  DDX_Text(pDX, ids::kRebootPeriod, m_rebootPeriod);
  DDV_MinMaxInt(pDX, m_rebootPeriod, kRebootPeriodLow, kPeriodHigh);
}

// Cancel keeps the edited values just as OK does. The validation shows the
// range message itself; the dialog then stays open.
void CCVNSettingDlg::OnCancel() {
  if (UpdateData(TRUE)) EndDialog(IDCANCEL);
}

}  // namespace corvane::ui
