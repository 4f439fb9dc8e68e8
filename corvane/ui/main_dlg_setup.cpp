// Device Setup on the main window: the command, the setting request and its
// acknowledgement (timer 5), and the answers to the setup sheet's user
// messages. The setup sheet itself comes with its own subsystem; until it is
// there the command stops after the selection and subnet checks.
#include "corvane/ui/main_dlg.h"

namespace corvane::ui {

using namespace tk;
using protocol::RowKind;

std::unique_ptr<CPropertySheet> CCorvaneDlg::CreateSetupSheet() {
  return std::make_unique<CPropertySheet>("Device Setup", this);
}

void CCorvaneDlg::OnDeviceSetup() {
  m_operation = kOperationDeviceSetup;
  SetProgress(kProgressStart);
  m_tickedCount = 0;
  m_operationPending = 1;
  m_userSearch = 1;
  RefreshHostAddress();
  CountTickedRows(nullptr, true);
  if (m_tickedCount == 0) {
    MessageBox("Please select a device server in the list !!", kProgramName);
    return;
  }
  if (m_tickedCount > 1) {
    MessageBox("Please set ONE device server each time !!", kProgramName);
    return;
  }
  // The command never goes on for a device outside the host's segment.
  int answer = IDNO;
  if (!InHostSegment(m_list.GetCellText(m_currentRow, kColIp), &answer)) {
    m_operationPending = 0;
    if (answer != IDYES) SetStatusText(" Idle");
    return;
  }
  // The sheet's pages are not built yet: nothing to show or send.
  if (!m_setupSheet || m_setupSheet->GetPageCount() == 0) {
    m_operationPending = 0;
    return;
  }
  SetProgress(kProgressSheetOpen);
  if (m_setupSheet->DoModal() != IDOK) {
    m_list.SetRowCheck(m_currentRow, false);
    SetStatusText(" Idle");
    SetProgress(kProgressStart);
    return;
  }
  if (MessageBox("This operation will cause the device to reboot.\r\nDo you want to proceed ?",
                 "Device Setup", MB_YESNO | MB_ICONINFORMATION) != IDYES) {
    return;
  }
  SetStatusText(" NO " + RowNumbersText(m_currentRow, m_rowKind) + " setting ...");
  SendStateQuery(m_currentRow);
}

// The request is built by the setup sheet from its pages; until the sheet is
// there nothing is sent and no acknowledgement is awaited.
void CCorvaneDlg::SendSettingRequest() {}

void CCorvaneDlg::OnSettingTimer() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const protocol::ReceivedSlot reply = unicast.Take();
  const bool twoPort = m_rowKind != RowKind::SinglePort;
  if (m_table->StoreCommandReply(reply.bytes, reply.length, protocol::kReplySet) >= 0) {
    WriteRowsAfterCommandReply(true);
    m_waitCount = 0;
    unicast.ResetMarker();
    unicast.ClearReplyFlags(twoPort);
    m_addedRows -= twoPort ? 2 : 1;
    StopTimer(ids::timer::kSettingAck);
    SetProgress(kProgressAck);
    StartRestartWait();
    return;
  }
  if (m_waitCount < m_tickedCount + 100) {
    SetProgress(kProgressAck);
    ++m_waitCount;
    return;
  }
  unicast.ResetMarker();
  StopTimer(ids::timer::kSettingAck);
  SetProgress(kProgressDone);
  m_waitCount = 0;
  ShowResult("Device NO." + std::to_string(m_currentRow + 1) + " sets failed.", "Setting Result");
  SetStatusText(" Idle");
  EnableButtons({ids::kDeviceSetup, ids::kRestore, ids::kReboot}, true);
}

LRESULT CCorvaneDlg::OnSetupSheetMessage(UINT msg, WPARAM, LPARAM) {
  CWnd* sheet = m_setupSheet.get();
  switch (msg) {
    case ids::msg::kHostRequest:
      sheet->SendMessage(ids::msg::kHostAnswer, reinterpret_cast<WPARAM>(&m_hostAddress),
                         reinterpret_cast<LPARAM>(m_table->SelectedSlotAddress()));
      break;
    case ids::msg::kRowKindRequest:
      m_rowCount = m_list.GetItemCount();
      sheet->SendMessage(ids::msg::kRowKindAnswer, reinterpret_cast<WPARAM>(&m_rowKind),
                         reinterpret_cast<LPARAM>(&m_rowCount));
      break;
    case ids::msg::kRecordRequest: {
      const int slot = m_table->FindSlotByMacText(m_list.GetCellText(m_currentRow, kColMac));
      if (slot >= 0) m_table->SetSelectedSlot(slot);
      sheet->SendMessage(ids::msg::kRecordAnswer,
                         reinterpret_cast<WPARAM>(m_table->SlotAddress(m_table->SelectedSlot())),
                         reinterpret_cast<LPARAM>(&m_currentRow));
      break;
    }
    case ids::msg::kSheetClosed:
      m_operationPending = 0;
      break;
    default:
      break;
  }
  return 1;
}

}  // namespace corvane::ui
