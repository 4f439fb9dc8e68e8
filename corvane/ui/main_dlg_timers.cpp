// The operation timers: one WM_TIMER handler dispatching on the timer id, and
// the step each timer takes per tick. Every wait is counted in ticks.
//
// A message box runs a message loop of its own, which keeps delivering this
// window's timers and socket notifications. So every step first stops its
// timer (or marks its state) and consumes the reply it acts on, and only then
// shows anything modal; a step entered again from the box finds nothing left
// to do twice.
#include "corvane/protocol/search_poll.h"
#include "corvane/ui/main_dlg.h"
#include "tk/platform.h"

namespace corvane::ui {

using namespace tk;
using protocol::RowKind;
namespace timer = ids::timer;

namespace {
constexpr int kSearchTicksPerPeriod = 10;   // 10 ms ticks per 100 ms of search period
constexpr int kRestoreTicksPerPeriod = 10;  // 100 ms ticks per second of restore period
constexpr unsigned kRebootPauseMsPerDevice = 1200;
constexpr const char* kWarningCaption = "Warning !!";

std::string DeviceMessage(int row, const char* what) {
  return "Device NO." + std::to_string(row + 1) + what;
}
constexpr const char* kUnderWorking = " is under working.";
constexpr const char* kDisconnected = " is disconnected.";
}  // namespace

void CCorvaneDlg::StartTimer(UINT_PTR id, UINT periodMs) {
  if (id == 0 || id >= m_timers.size()) return;
  m_timers[id] = SetTimer(id, periodMs);
}

void CCorvaneDlg::StopTimer(UINT_PTR id) {
  if (id == 0 || id >= m_timers.size()) return;
  KillTimer(id);
  m_timers[id] = 0;
}

void CCorvaneDlg::ShowResult(const std::string& text, const std::string& caption) {
  MessageBox(text, caption, MB_OK | MB_ICONINFORMATION);
}

void CCorvaneDlg::OnTimer(UINT_PTR id) {
  switch (id) {
    case timer::kMulticastSearch:
    case timer::kBroadcastSearch:
      OnSearchTimer(id);
      break;
    case timer::kIPSearch:
      OnIPSearchTimer();
      break;
    case timer::kStateQuery:
      OnStateQueryTimer();
      break;
    case timer::kSettingAck:
      OnSettingTimer();
      break;
    case timer::kRestoreAck:
      OnRestoreAckTimer();
      break;
    case timer::kRestorePacing:
      OnRestorePacingTimer();
      break;
    case timer::kRebootWait:
      OnRebootWaitTimer();
      break;
    case timer::kRebootPacing:
      OnRebootPacingTimer();
      break;
    case timer::kUpgradeWait:
    case timer::kUpgradePacing:
      OnUpgradeTimers(id);
      break;
    case timer::kRestartWait:
      OnRestartWaitTimer();
      break;
    case timer::kClock:
      OnClockTick();
      break;
    default:
      break;
  }
  CDialog::OnTimer(id);
}

// ---- searches (1, 2, 3) -------------------------------------------------------------------

void CCorvaneDlg::OnSearchTimer(UINT_PTR id) {
  protocol::SearchTransport& area = id == timer::kMulticastSearch
                                        ? static_cast<protocol::SearchTransport&>(*m_transports.multicast)
                                        : static_cast<protocol::SearchTransport&>(*m_transports.broadcast);
  const int slot = m_table->NextSlot();
  // The receive slots are not emptied when taken: once 256 replies have been
  // stored, slot 0 would be taken again and again. A search lists at most
  // 256 replies and then waits for its quiet spell.
  const bool full = m_search.replyCount >= protocol::DeviceTable::kSlotCount;
  if (!full && protocol::PollSearchSlot(*m_table, area, m_search.userSearch != 0) >= 0) {
    ++m_search.replyCount;
    const int lowPorts = PlaceRowsOfStoredReply(slot);
    SetProgress(kProgressSearching);
    m_search.waitCount = 0;
    WarnLowPorts(lowPorts);
    return;
  }
  if (m_search.waitCount < m_settingDlg.m_searchPeriod * kSearchTicksPerPeriod) {
    SetProgress(kProgressSearching);
    ++m_search.waitCount;
    return;
  }
  StopTimer(id);
  area.ResetMarkers();
  EndSearch(false);
}

void CCorvaneDlg::EndSearch(bool ipSearch) {
  m_search.waitCount = 0;
  m_search.userSearch = 0;
  EnableButtons({ids::kSetting, ids::kSearch, ids::kIPSearch, ids::kUpgrade}, true);
  SetProgress(kProgressDone);
  SetStatusText(" Idle");
  const bool found = m_search.replyCount > 0;
  if (found) EnableButtons({ids::kDeviceSetup, ids::kRestore, ids::kReboot}, true);
  m_search.searching = 0;
  m_operationPending = 0;
  m_search.refreshRowsCreated = 0;
  // Nothing of the IP search is left to take.
  if (ipSearch) m_transports.unicast->ResetMarker();
  if (!found) ShowResult("No device has found.", "Searching Result");
}

void CCorvaneDlg::OnIPSearchTimer() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const int slot = m_table->NextSlot();
  if (protocol::PollUnicastSearch(*m_table, unicast, m_search.userSearch != 0) >= 0) {
    StopTimer(timer::kIPSearch);
    ++m_search.replyCount;
    m_search.waitCount = 0;
    const bool twoPort = unicast.Marker() == 2;
    // The reply is in the table now: taken from the buffer before anything
    // is written or shown.
    unicast.ResetBuffer();
    unicast.ClearReplyFlags(twoPort);
    const int lowPorts = PlaceRowsOfStoredReply(slot);
    // The first reply ends the search like a quiet spell would, with every
    // command button back.
    EndSearch(true);
    WarnLowPorts(lowPorts);
    return;
  }
  if (m_search.waitCount < m_settingDlg.m_searchPeriod * kSearchTicksPerPeriod) {
    SetProgress(kProgressSearching);
    ++m_search.waitCount;
    return;
  }
  StopTimer(timer::kIPSearch);
  EndSearch(true);
}

// ---- state query (4) ----------------------------------------------------------------------

void CCorvaneDlg::OnStateQueryTimer() {
  const protocol::ReceivedSlot reply = m_transports.unicast->Peek();
  const int result = EvaluateStatusReply(reply.bytes, reply.length);
  if (result < 0) {
    if (m_stateQuery.waitCount < m_settingDlg.m_searchPeriod) {
      ++m_stateQuery.waitCount;
      return;
    }
    StopTimer(timer::kStateQuery);
    m_stateQuery.waitCount = 0;
    OnStateNoAnswer();
    return;
  }
  if (result == 1) {
    OnStateGo();
  } else {
    OnStateInUse();
  }
}

// The state of the other port of a two-port device in the reply just judged;
// -1 for a single-port row or when the reply did not carry that byte.
static int PartnerPortState(const protocol::ReceivedSlot& reply, RowKind kind) {
  if (kind == RowKind::SinglePort) return -1;
  const std::size_t at = kind == RowKind::FirstPort ? protocol::off::kState2 : protocol::off::kState1;
  if (reply.length <= static_cast<int>(at) || at >= reply.bytes.size()) return -1;
  return reply.bytes[at];
}

void CCorvaneDlg::MarkBusyDevice(int row, int partnerState) {
  SetRowStatus(row, "Connected");
  const int partner = PartnerRow(row, m_rowKind);
  if (partner < 0) return;
  if (partnerState == protocol::kStateConnected) SetRowStatus(partner, "Connected");
  if (partnerState == protocol::kStateIdle) SetRowStatus(partner, "Idle");
}

void CCorvaneDlg::OnStateGo() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const int partnerState = PartnerPortState(unicast.Peek(), m_rowKind);
  const bool partnerBusy = partnerState == protocol::kStateConnected;
  unicast.ResetBuffer();
  unicast.ClearReplyFlags(m_rowKind != RowKind::SinglePort);
  StopTimer(timer::kStateQuery);
  m_stateQuery.waitCount = 0;
  m_list.SetRowCheck(m_currentRow, false);

  if (m_operation == kOperationDeviceSetup) {
    if (!partnerBusy) {
      SendSettingRequest();
    } else {
      const int partner = PartnerRow(m_currentRow, m_rowKind);
      SetRowStatus(m_currentRow, "Idle");
      SetRowStatus(partner, "Connected");
      SetProgress(kProgressDone);
      SetStatusText(" Idle");
      ShowResult(DeviceMessage(partner, kUnderWorking), kWarningCaption);
    }
  } else if (m_operation == kOperationRestore) {
    const int listed = m_restore.list.Current();
    if (!partnerBusy) {
      SendRestoreRequest(listed);
      m_restore.list.Advance();
    } else {
      m_restore.list.Advance();
      if (m_restore.list.Empty()) {
        const int partner = PartnerRow(listed, m_rowKind);
        StopTimer(timer::kRestorePacing);
        SetProgress(kProgressDone);
        SetRowStatus(listed, "Idle");
        SetRowStatus(partner, "Connected");
        SetStatusText(" Idle");
        EnableCommandButtons();
        ShowResult(DeviceMessage(partner, kUnderWorking), kWarningCaption);
      }
    }
  } else if (m_operation == kOperationReboot) {
    if (!partnerBusy) {
      if (!TimerRunning(timer::kRebootWait)) StartTimer(timer::kRebootWait, 1000);
      SendRebootRequest(m_reboot.list.Current());
      m_reboot.list.Advance();
      m_reboot.list.ready = 1;
    } else if (const std::optional<int> last = SkipListedDevice()) {
      const int partner = PartnerRow(*last, m_rowKind);
      SetProgress(kProgressDone);
      SetRowStatus(*last, "Idle");
      SetRowStatus(partner, "Connected");
      SetStatusText(" Idle");
      EnableCommandButtons();
      ShowResult(DeviceMessage(partner, kUnderWorking), kWarningCaption);
    }
  }
}

void CCorvaneDlg::OnStateInUse() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const int partnerState = PartnerPortState(unicast.Peek(), m_rowKind);
  unicast.ResetBuffer();
  unicast.ClearReplyFlags(false);
  StopTimer(timer::kStateQuery);
  m_stateQuery.waitCount = 0;

  if (m_operation == kOperationDeviceSetup) {
    if (m_rowKind == RowKind::SinglePort) {
      MarkRowTrouble(m_currentRow, "Connected");
      SetProgress(kProgressDone);
      PushToControls();
      ShowResult(DeviceMessage(m_currentRow, kUnderWorking), kWarningCaption);
    } else if (partnerState == protocol::kStateConnected || partnerState == protocol::kStateIdle) {
      MarkBusyDevice(m_currentRow, partnerState);
      SetProgress(kProgressDone);
      SetStatusText(" Idle");
      ShowResult(DeviceMessage(m_currentRow, kUnderWorking), kWarningCaption);
    }
    return;
  }
  const std::optional<int> last = SkipListedDevice();
  if (!last) return;
  MarkBusyDevice(*last, partnerState);
  EndSkippedOperation(*last, kUnderWorking);
}

void CCorvaneDlg::OnStateNoAnswer() {
  if (m_operation == kOperationDeviceSetup) {
    m_list.SetRowCheck(m_currentRow, false);
    MarkRowTrouble(m_currentRow, "Disconnected");
    SetProgress(kProgressDone);
    SetStatusText(" Idle");
    ShowResult(DeviceMessage(m_currentRow, kDisconnected), kWarningCaption);
    return;
  }
  const std::optional<int> last = SkipListedDevice();
  if (!last) return;
  MarkRowTrouble(m_currentRow, "Disconnected");
  EndSkippedOperation(*last, kDisconnected);
}

// What Restore and Reboot do differently when they skip a listed device.
struct ListedOperation {
  RowList& (*list)(CCorvaneDlg&);
  bool untickSkipped;     // the skipped row loses its tick
  UINT_PTR holdingTimer;  // while it runs the operation does not end (0: none)
  UINT_PTR pacingTimer;   // stopped when the operation ends (0: none)
};
static constexpr ListedOperation kRestoreOperation{
    [](CCorvaneDlg& dlg) -> RowList& { return dlg.m_restore.list; }, false, 0, timer::kRestorePacing};
// The reboot wait (timer 8) shows the end of a Reboot itself once it runs.
static constexpr ListedOperation kRebootOperation{
    [](CCorvaneDlg& dlg) -> RowList& { return dlg.m_reboot.list; }, true, timer::kRebootWait, 0};

std::optional<int> CCorvaneDlg::SkipListedDevice() {
  const ListedOperation& operation = m_operation == kOperationReboot ? kRebootOperation : kRestoreOperation;
  RowList& list = operation.list(*this);
  const int listed = list.Current();
  if (operation.untickSkipped) m_list.SetRowCheck(listed, false);
  list.Advance();
  list.ready = 1;
  if (!list.Empty()) return std::nullopt;
  if (operation.holdingTimer != 0 && TimerRunning(operation.holdingTimer)) return std::nullopt;
  if (operation.pacingTimer != 0) StopTimer(operation.pacingTimer);
  return listed;
}

void CCorvaneDlg::EndSkippedOperation(int listed, const char* what) {
  SetProgress(kProgressDone);
  SetStatusText(" Idle");
  EnableCommandButtons();
  ShowResult(DeviceMessage(listed, what), kWarningCaption);
}

// ---- restore (6, 7) ----------------------------------------------------------------------------

void CCorvaneDlg::OnRestoreAckTimer() {
  protocol::CUnicastSocket& unicast = *m_transports.unicast;
  const protocol::ReceivedSlot reply = unicast.Peek();
  if (m_table->StoreCommandReply(reply.bytes, reply.length, protocol::kReplyRestore) >= 0) {
    StopTimer(timer::kRestoreAck);
    unicast.Consume();
    unicast.ClearReplyFlags(m_rowKind != RowKind::SinglePort);
    m_restore.waitCount = 0;
    m_restore.list.ready = 1;
    m_restore.acknowledged = 1;
    SetProgress(kProgressAck);
    WarnLowPorts(WriteRowsAfterCommandReply(false));
    return;
  }
  const int period = m_settingDlg.m_restorePeriod * kRestoreTicksPerPeriod;
  if (m_restore.waitCount < period + m_tickedCount) {
    if (!m_restore.list.Empty() || m_restore.finished != 0 || m_restore.acknowledged != 0) {
      ++m_restore.waitCount;
    } else {
      SetProgress((900 / period + m_tickedCount) * m_restore.waitCount);
      ++m_restore.waitCount;
    }
    return;
  }
  StopTimer(timer::kRestoreAck);
  m_restore.waitCount = 0;
  m_restore.list.ready = 1;
  if (m_restore.list.Empty() && m_restore.finished == 0 && m_restore.acknowledged == 0) {
    // Nothing is left for the pacing timer to wait for.
    StopTimer(timer::kRestorePacing);
    EnableCommandButtons();
    SetStatusText(" Idle");
    SetProgress(kProgressDone);
    unicast.ResetMarker();
    ShowResult(DeviceMessage(m_currentRow, " resets failed."), "Setting Result");
  }
}

void CCorvaneDlg::TakeListedRow(int row) {
  m_currentRow = row;
  m_rowKind = RowKindOf(row, m_rowKind);
  const int slot = SlotOfRow(row);
  if (slot >= 0) m_table->SetSelectedSlot(slot);
}

void CCorvaneDlg::OnRestorePacingTimer() {
  if (!m_restore.list.Empty()) {
    if (m_restore.list.ready == 1) {
      const int row = m_restore.list.Current();
      TakeListedRow(row);
      SendStateQuery(row);
      m_restore.list.ready = 0;
    }
    return;
  }
  if (m_restore.acknowledged == 0) return;
  StopTimer(timer::kRestorePacing);
  m_restore.finished = 1;
  StartRestartWait();
  StartHiddenProcess("arp -d");
}

// ---- reboot (8, 9) ---------------------------------------------------------------------------------

void CCorvaneDlg::OnRebootWaitTimer() {
  if (m_reboot.waitCount == 0) m_reboot.waitLimit = m_reboot.list.remaining;
  const int limit = m_settingDlg.m_rebootPeriod + m_reboot.waitLimit;
  if (m_reboot.waitCount < limit) {
    SetProgress((850 / limit) * m_reboot.waitCount);
    ++m_reboot.waitCount;
    return;
  }
  if (!m_reboot.list.Empty()) return;
  StopTimer(timer::kRebootWait);
  m_reboot.waitCount = 0;
  m_list.DeleteAllRows();
  // The devices restart meanwhile; the window deliberately does nothing else.
  Sleep(static_cast<unsigned>(m_reboot.total) * kRebootPauseMsPerDevice);
  RepeatLastSearch();
}

void CCorvaneDlg::OnRebootPacingTimer() {
  if (m_reboot.list.Empty()) {
    StopTimer(timer::kRebootPacing);
    m_reboot.list.ready = 0;
    return;
  }
  if (m_reboot.list.ready != 1) return;
  const int row = m_reboot.list.Current();
  TakeListedRow(row);
  SendStateQuery(row);
  m_reboot.list.ready = 0;
}

// ---- restart wait (12) --------------------------------------------------------------------------------

void CCorvaneDlg::OnRestartWaitTimer() {
  const int limit = m_tickedCount + m_settingDlg.m_rebootPeriod;
  if (m_restartWait.count < limit) {
    SetProgress((650 / limit) * m_restartWait.count + kProgressAck);
    ++m_restartWait.count;
    return;
  }
  StopTimer(timer::kRestartWait);
  m_restartWait.count = 0;
  m_transports.unicast->ResetMarker();
  RepeatLastSearch();
}

}  // namespace corvane::ui
