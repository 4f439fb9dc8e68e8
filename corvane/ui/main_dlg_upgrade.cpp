// Upgrade on the main window: the command, the upgrade request and the
// upgrade timers (10 and 11). The upgrade dialog and the boot-loader file
// server come with their own subsystem; until then the command does nothing.
#include "corvane/ui/main_dlg.h"

namespace corvane::ui {

using namespace tk;

std::unique_ptr<CDialog> CCorvaneDlg::CreateUpgradeDialog() {
  return nullptr;
}

void CCorvaneDlg::OnUpgrade() {}

void CCorvaneDlg::SendUpgradeRequest(int row) {
  (void)row;
}

void CCorvaneDlg::OnUpgradeTimers(UINT_PTR id) {
  StopTimer(id);
}

}  // namespace corvane::ui
