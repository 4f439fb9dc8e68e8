// The main window's commands: Search, IP Search, Restore, Reboot, Setting,
// Web Browser and the list clicks; the selection and subnet rules; the
// requests the commands and the operation timers send.
#include "corvane/protocol/search_poll.h"
#include "corvane/ui/main_dlg.h"
#include "tk/platform.h"
#include "tk/socket.h"

namespace corvane::ui {

using namespace tk;
using protocol::RowKind;

namespace {

constexpr const char* kSelectOneDevice = "Please select a device server in the list !!";
constexpr const char* kSelectDevices = "Please select device(s) in the list !!";
constexpr const char* kSegmentWarning =
    "The device's  ip network segment isn't same as host, Please confirm that the device can access "
    "through Router&Gateway.";

// The platform's dotted-address parser: an unparsable text reads as the
// all-ones address, so two unparsable texts compare equal.
std::uint32_t DottedAddress(const std::string& text) {
  return InetAddr(text);
}

}  // namespace

// ---- buttons ---------------------------------------------------------------------------

void CCorvaneDlg::EnableButtons(std::initializer_list<int> idList, bool enable) {
  for (int id : idList) GetDlgItem(id).EnableWindow(enable);
}

void CCorvaneDlg::DisableCommandButtons() {
  for (int id : ids::kCommandButtons) GetDlgItem(id).EnableWindow(false);
}

void CCorvaneDlg::EnableCommandButtons() {
  EnableButtons({ids::kSetting, ids::kSearch, ids::kIPSearch, ids::kDeviceSetup, ids::kRestore, ids::kReboot,
                 ids::kUpgrade},
                true);
}

// ---- selection and subnet ------------------------------------------------------------------

int CCorvaneDlg::CountTickedRows(RowList* list, bool takeCurrent) {
  m_tickedCount = 0;
  const int count = m_list.GetItemCount();
  for (int row = 0; row < count; ++row) {
    if (!m_list.GetCheck(row)) continue;
    ++m_tickedCount;
    if (takeCurrent) m_currentRow = row;
    if (list != nullptr) list->Append(row);
  }
  return m_tickedCount;
}

bool CCorvaneDlg::SameSegment(const std::string& device, const std::string& host, const std::string& mask) {
  const std::uint32_t m = DottedAddress(mask);
  return (m & DottedAddress(device)) == (m & DottedAddress(host));
}

bool CCorvaneDlg::InHostSegment(const std::string& deviceAddress, int* answer) {
  if (SameSegment(deviceAddress, m_hostAddress, m_hostNetmask)) return true;
  const int result = MessageBox(kSegmentWarning, "Warning", MB_YESNO | MB_ICONINFORMATION | MB_DEFBUTTON2);
  if (answer != nullptr) *answer = result;
  return false;
}

// ---- list clicks ----------------------------------------------------------------------------

LRESULT CCorvaneDlg::OnListClick(int item, int column) {
  TakeClickedRow(item);
  // Column 0 holds the check box, which ticks by itself; a click elsewhere
  // on the row toggles it too.
  if (item >= 0 && item < m_rowCount && column != kColCheck) {
    if (!m_list.GetCheck(item)) {
      m_list.SetRowCheck(item, true);
      m_ipSearchDlg.m_deviceAddress = m_list.GetCellText(item, kColIp);
    } else {
      m_list.SetRowCheck(item, false);
    }
  }
  return 0;
}

LRESULT CCorvaneDlg::OnListDoubleClick(int item) {
  TakeClickedRow(item);
  if (item < 0 || item >= m_rowCount) return 0;
  m_list.SetRowCheck(item, true);
  OnDeviceSetup();
  return 0;
}

// ---- Search and IP Search ---------------------------------------------------------------------

void CCorvaneDlg::OnSearch() {
  m_search.mode = 1;
  m_search.userSearch = 1;
  m_search.addedRows = 0;
  RefreshHostAddress();
  if (m_transports.unicast->IsOpen()) m_transports.ReopenUnicast(m_hostAddress);
  m_table->ClearMacTexts();
  m_search.entryPortCounts.fill(0);
  SetProgress(kProgressStart);
  if (m_searchDlg.DoModal() != IDOK) return;
  SetStatusText(" Searching ...");
  StartSearch();
  m_list.DeleteAllRows();
}

void CCorvaneDlg::OnIPSearch() {
  m_search.mode = 0;
  m_search.userSearch = 1;
  m_search.addedRows = 0;
  m_table->ClearMacTexts();
  m_search.entryPortCounts.fill(0);
  RefreshHostAddress();
  if (m_transports.unicast->IsOpen()) m_transports.ReopenUnicast(m_hostAddress);
  SetProgress(kProgressStart);
  if (m_ipSearchDlg.DoModal() != IDOK) return;
  int answer = IDNO;
  if (!InHostSegment(m_ipSearchDlg.m_deviceAddress, &answer) && answer != IDYES) return;
  SetStatusText(" IP Searching ...");
  StartIPSearch();
  m_list.DeleteAllRows();
}

void CCorvaneDlg::ResetForNewSearch() {
  m_search.replyCount = 0;
  m_search.refreshedRows = 0;
  m_table->ResetForSearch();
  m_transports.unicast->ResetMarker();
  m_search.searching = 1;
}

void CCorvaneDlg::StartSearch() {
  ResetForNewSearch();
  m_list.DeleteAllRows();
  DisableCommandButtons();
  if (m_searchDlg.m_method == protocol::CSearchDlg::kMethodMulticast) {
    m_transports.SendMulticastSearch(m_searchDlg);
    StartTimer(ids::timer::kMulticastSearch, 10);
  } else {
    m_transports.SendBroadcastSearch(m_searchDlg);
    StartTimer(ids::timer::kBroadcastSearch, 10);
  }
}

void CCorvaneDlg::StartIPSearch() {
  ResetForNewSearch();
  DisableCommandButtons();
  m_transports.SendUnicastSearch(m_hostAddress, m_ipSearchDlg.m_deviceAddress);
  StartTimer(ids::timer::kIPSearch, 10);
}

void CCorvaneDlg::RepeatLastSearch() {
  if (m_search.mode == 1) {
    StartSearch();
  } else {
    StartIPSearch();
  }
}

// ---- Restore and Reboot ------------------------------------------------------------------------

void CCorvaneDlg::OnRestore() {
  m_operation = kOperationRestore;
  SetProgress(kProgressStart);
  m_restore.list.Reset();
  m_tickedCount = 0;
  m_restore.acknowledged = 0;
  m_restore.finished = 0;
  m_operationPending = 1;
  RefreshHostAddress();
  CountTickedRows(&m_restore.list, false);
  if (m_tickedCount == 0) {
    MessageBox(kSelectDevices, kProgramName);
    return;
  }
  if (m_tickedCount > 1) {
    MessageBox(kOnlyOneDevice, kProgramName);
    return;
  }
  m_search.replyCount = 0;
  if (!InHostSegment(m_list.GetCellText(m_restore.list.Current(), kColIp), nullptr)) return;
  if (MessageBox(
          "This operation will return the device's default setting and reboot.\r\nDo you want to proceed ?",
          "Reset", MB_YESNO | MB_ICONINFORMATION) != IDYES) {
    return;
  }
  DisableCommandButtons();
  StartTimer(ids::timer::kRestorePacing, 10);
  m_restore.list.ready = 1;
  SetStatusText(" NO " + RowNumbersText(m_currentRow, m_rowKind) + " Resetting ...");
}

void CCorvaneDlg::OnReboot() {
  m_operation = kOperationReboot;
  SetProgress(kProgressStart);
  m_reboot.list.Reset();
  m_operationPending = 1;
  RefreshHostAddress();
  CountTickedRows(&m_reboot.list, false);
  m_reboot.total = m_reboot.list.remaining;
  if (m_tickedCount == 0) {
    MessageBox(kSelectDevices, kProgramName);
    return;
  }
  m_search.replyCount = 0;
  if (MessageBox("Do you really want to REBOOT device(s) ?", "Reboot", MB_YESNO | MB_ICONINFORMATION) !=
      IDYES)
    return;
  const int lastListed = m_reboot.list.rows[m_reboot.list.remaining - 1];
  if (!InHostSegment(m_list.GetCellText(lastListed, kColIp), nullptr)) return;
  DisableCommandButtons();
  SetStatusText(" NO " + RowNumbersText(m_currentRow, m_rowKind) + " Rebooting ...");
  StartTimer(ids::timer::kRebootPacing, 1000);
  m_reboot.list.ready = 1;
}

// ---- Setting and Web Browser ---------------------------------------------------------------------

void CCorvaneDlg::OnSetting() {
  m_settingDlg.DoModal();
}

void CCorvaneDlg::OnWebBrowser() {
  SetProgress(kProgressStart);
  m_tickedCount = 0;
  if (m_list.GetItemCount() == 0) {
    MessageBox(kSelectOneDevice, kProgramName);
    return;
  }
  const int count = m_list.GetItemCount();
  for (int row = 0; row < count; ++row) {
    if (!m_list.GetCheck(row)) continue;
    ++m_tickedCount;
    m_currentRow = row;
    SetStatusText(" Idle");
  }
  if (m_tickedCount != 1) {
    MessageBox(m_tickedCount == 0 ? kSelectOneDevice : kOnlyOneDevice, kProgramName);
    return;
  }
  const std::string address = m_list.GetCellText(m_currentRow, kColIp);
  int answer = IDNO;
  if (!InHostSegment(address, &answer) && answer != IDYES) return;
  ShellOpen("http://" + address + "/setting.htm");
}

// ---- requests ----------------------------------------------------------------------------------------

int CCorvaneDlg::SlotOfRow(int row) const {
  const std::string text = m_list.GetCellText(row, kColMac);
  if (text.empty()) return -1;
  // Every stored record of this search, in slot order.
  for (int slot = 0; slot < protocol::DeviceTable::kSlotCount; ++slot) {
    if (m_table->SlotLength(slot) < 0) continue;
    if (protocol::MacTextOfRecord(m_table->Slot(slot)) == text) return slot;
  }
  return -1;
}

void CCorvaneDlg::SendStateQuery(int row) {
  m_transports.unicast->ResetBuffer();
  m_transports.ReopenUnicast(m_hostAddress);
  const protocol::Bytes request = protocol::BuildSearchRequest();
  m_transports.unicast->Send(request.data(), static_cast<int>(request.size()),
                             m_list.GetCellText(row, kColIp));
  StartTimer(ids::timer::kStateQuery, 100);
}

bool CCorvaneDlg::SendNamedRequest(int row, NamedRequestBuilder build) {
  const int slot = SlotOfRow(row);
  if (slot < 0) return false;
  const bool twoPort = m_rowKind != RowKind::SinglePort;
  const protocol::Bytes request =
      build(m_list.GetCellText(row, kColName), protocol::MacOfRecord(m_table->Slot(slot)), twoPort);
  m_transports.ReopenUnicast(m_hostAddress);
  return m_transports.unicast->Send(request.data(), static_cast<int>(request.size()),
                                    m_list.GetCellText(row, kColIp));
}

void CCorvaneDlg::SendRestoreRequest(int row) {
  SendNamedRequest(row, &protocol::BuildRestoreRequest);
  StartTimer(ids::timer::kRestoreAck, 100);
}

void CCorvaneDlg::SendRebootRequest(int row) {
  SendNamedRequest(row, &protocol::BuildRebootRequest);
}

}  // namespace corvane::ui
