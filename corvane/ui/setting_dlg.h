// CCVNSettingDlg: the manager's three timing periods. They last until the
// program ends; every start begins with 10, 10 and 15.
#pragma once

#include "tk/dialog.h"

namespace corvane::ui {

const tk::DialogTemplate& SettingDialogTemplate();

class CCVNSettingDlg : public tk::CDialog {
 public:
  static constexpr int kSearchPeriodLow = 5;
  static constexpr int kRestorePeriodLow = 10;
  static constexpr int kRebootPeriodLow = 10;
  static constexpr int kPeriodHigh = 1000;

  explicit CCVNSettingDlg(tk::CWnd* parent = nullptr);

  int m_searchPeriod = 10;   // x 100 ms: quiet spell that ends a search, state-reply wait
  int m_restorePeriod = 10;  // x 100 ms: wait for the restore acknowledgement
  int m_rebootPeriod = 15;   // seconds waited for restarting devices

 protected:
  // Cancel, like the toolkit's OK, takes the edited values and closes only
  // when all three periods lie in their ranges.
  void OnCancel() override;
  void DoDataExchange(tk::CDataExchange* pDX) override;
};

}  // namespace corvane::ui
