// Device Setup on the main window: the command, the setting request and its
// acknowledgement (timer 5), and the answers to the setup sheet's user
// messages. The sheet itself (corvane/setup) builds the request; this side
// only sends the sheet's buffer.
#include "corvane/setup/setup_sheet.h"
#include "corvane/ui/main_dlg.h"

namespace corvane::ui {

using namespace tk;
using protocol::RowKind;

std::unique_ptr<CPropertySheet> CCorvaneDlg::CreateSetupSheet() {
  return std::make_unique<setup::CDeviceSetupMain>(this);
}

void CCorvaneDlg::OnDeviceSetup() {
  m_operation = kOperationDeviceSetup;
  SetProgress(kProgressStart);
  m_tickedCount = 0;
  m_operationPending = 1;
  m_search.userSearch = 1;
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

// Sends the request that the last Submit built in the sheet's own buffer: 73
// bytes for a single-port row, 98 for either row of a two-port device.
void CCorvaneDlg::SendSettingRequest() {
  DisableCommandButtons();
  m_search.replyCount = 0;
  m_transports.ReopenUnicast(m_hostAddress);
  const auto& sheet = static_cast<const setup::CDeviceSetupMain&>(*m_setupSheet);
  const std::string address = m_list.GetCellText(m_currentRow, kColIp);
  if (m_rowKind == RowKind::SinglePort) {
    const auto& request = sheet.OnePortRequest();
    m_transports.unicast->Send(request.data(), static_cast<int>(request.size()), address);
  } else {
    const auto& request = sheet.TwoPortRequest();
    m_transports.unicast->Send(request.data(), static_cast<int>(request.size()), address);
  }
  StartTimer(ids::timer::kSettingAck, 10);
}

void CCorvaneDlg::OnSettingTimer() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const protocol::ReceivedSlot reply = unicast.Peek();
  const bool twoPort = m_rowKind != RowKind::SinglePort;
  if (m_table->StoreCommandReply(reply.bytes, reply.length, protocol::kReplySet) >= 0) {
    // The acknowledgement is acted on once: timer and reply go first, since
    // a low-port warning's message loop would run this step again.
    StopTimer(ids::timer::kSettingAck);
    unicast.Consume();
    unicast.ClearReplyFlags(twoPort);
    m_setup.waitCount = 0;
    m_search.addedRows -= twoPort ? 2 : 1;
    SetProgress(kProgressAck);
    StartRestartWait();
    WarnLowPorts(WriteRowsAfterCommandReply(true));
    return;
  }
  if (m_setup.waitCount < m_tickedCount + 100) {
    SetProgress(kProgressAck);
    ++m_setup.waitCount;
    return;
  }
  unicast.ResetMarker();
  StopTimer(ids::timer::kSettingAck);
  SetProgress(kProgressDone);
  m_setup.waitCount = 0;
  SetStatusText(" Idle");
  EnableButtons({ids::kDeviceSetup, ids::kRestore, ids::kReboot}, true);
  ShowResult("Device NO." + std::to_string(m_currentRow + 1) + " sets failed.", "Setting Result");
}

LRESULT CCorvaneDlg::OnSetupSheetMessage(UINT msg, WPARAM, LPARAM) {
  CWnd* sheet = m_setupSheet.get();
  switch (msg) {
    case ids::msg::kHostRequest:
      sheet->SendMessage(ids::msg::kHostAnswer, reinterpret_cast<WPARAM>(&m_hostAddress),
                         reinterpret_cast<LPARAM>(m_table->SelectedSlotAddress()));
      break;
    case ids::msg::kRowKindRequest: {
      m_rowCount = m_list.GetItemCount();
      // The sheet reads a 32-bit number; it has done so when SendMessage returns.
      const int rowKind = static_cast<int>(m_rowKind);
      sheet->SendMessage(ids::msg::kRowKindAnswer, reinterpret_cast<WPARAM>(&rowKind),
                         reinterpret_cast<LPARAM>(&m_rowCount));
      break;
    }
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
