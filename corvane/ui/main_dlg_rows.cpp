// The device list rows: one row per device port, written from the stored
// records, placed in reply order by a user search and at the device's earlier
// place by a refresh search, and marked by the status evaluation.
#include "corvane/settings/row_texts.h"
#include "corvane/ui/main_dlg.h"

namespace corvane::ui {

using namespace tk;
using protocol::ByteView;
using protocol::RowKind;

namespace {

constexpr int kLowestDataPort = 1024;

}  // namespace

// ---- writing one row ------------------------------------------------------------------

bool CCorvaneDlg::WritePortRow(int row, ByteView bytes, int length, int port, bool defaultName) {
  const settings::PortRowTexts texts = settings::MakePortRow(bytes, length, port, row + 1, defaultName);
  // Column by column, the controls refreshed after each, in the order the
  // device list has always been filled.
  const std::pair<int, std::string> cells[] = {
      {kColNumber, texts.number}, {kColName, texts.name}, {kColMac, texts.mac},   {kColDhcp, texts.dhcp},
      {kColMode, texts.mode},     {kColIp, texts.ip},     {kColPort, texts.port}, {kColStatus, texts.status},
  };
  m_list.SetCellBackColor(row, -1, kRowBaseColor, true);
  for (const auto& [column, text] : cells) {
    m_list.SetCellText(row, column, text);
    PushToControls();
  }
  if (texts.status == "Connected") m_list.SetCellBackColor(row, -1, kRowConnectedColor, true);
  return texts.portValue < kLowestDataPort;
}

void CCorvaneDlg::WarnLowPorts(int rows) {
  for (int i = 0; i < rows; ++i) {
    MessageBox("Port number should greater than 1024.", "Searching Result", MB_OK | MB_ICONINFORMATION);
  }
}

// ---- placing rows -----------------------------------------------------------------------

int CCorvaneDlg::PlaceRowsOfStoredReply(int slot) {
  // The search that follows a restore, reboot or upgrade rebuilds the rows of
  // the user's search; every other search lists what it finds.
  if (m_operationPending != 0 && m_search.userSearch == 0) return RefreshRowsOfDevice(slot);
  return AddRowsOfNewDevice(slot);
}

int CCorvaneDlg::AddRowsOfNewDevice(int slot) {
  const int ports = m_table->PortCount(slot) == 2 ? 2 : 1;
  if (slot >= 0 && slot < protocol::DeviceTable::kSlotCount) m_search.entryPortCounts[slot] = ports;
  const ByteView record = m_table->Slot(slot);
  const int length = m_table->SlotLength(slot);
  int lowPorts = 0;
  for (int port = 1; port <= ports; ++port) {
    // The rows are written where they were inserted, so the texts always land
    // on the new rows whatever the row counter says.
    const int row = m_list.InsertRow(m_list.GetItemCount(), "");
    if (row < 0) break;
    m_list.SetCellBackColor(row, -1, kRowBaseColor, true);
    ++m_search.addedRows;
    lowPorts += WritePortRow(row, record, length, port, true) ? 1 : 0;
  }
  return lowPorts;
}

int CCorvaneDlg::RefreshRowsOfDevice(int slot) {
  if (m_search.refreshRowsCreated == 0) {
    for (int i = 0; i < m_search.addedRows; ++i) {
      const int row = m_list.InsertRow(m_list.GetItemCount(), "");
      if (row >= 0) m_list.SetCellBackColor(row, -1, kRowBaseColor, true);
    }
    m_search.refreshRowsCreated = 1;
  }
  const int ports = m_table->PortCount(slot) == 2 ? 2 : 1;
  m_search.refreshedRows += ports;

  const ByteView record = m_table->Slot(slot);
  const int entry = m_table->FindMacTextEntry(protocol::MacTextOfRecord(record));
  // A device that was not in the user's search has no place in the list.
  if (entry < 0) return 0;
  int position = 0;
  for (int k = 0; k < entry; ++k) position += m_search.entryPortCounts[k];
  const int length = m_table->SlotLength(slot);
  int lowPorts = 0;
  for (int port = 1; port <= ports; ++port) {
    const int row = position + port - 1;
    if (row >= m_list.GetItemCount()) break;
    lowPorts += WritePortRow(row, record, length, port, true) ? 1 : 0;
  }
  return lowPorts;
}

int CCorvaneDlg::WriteRowsAfterCommandReply(bool fromSetReply) {
  const int slot = m_table->SelectedSlot();
  const ByteView record = m_table->Slot(slot);
  const int length = m_table->SlotLength(slot);
  const bool defaultName = !fromSetReply;
  auto write = [&](int row, int port) {
    return WritePortRow(row, record, length, port, defaultName) ? 1 : 0;
  };
  switch (m_rowKind) {
    case RowKind::SinglePort:
      return write(m_currentRow, 1);
    case RowKind::FirstPort:
      return write(m_currentRow, 1) + write(m_currentRow + 1, 2);
    case RowKind::SecondPort:
      return write(m_currentRow - 1, 1) + write(m_currentRow, 2);
  }
  return 0;
}

// ---- status --------------------------------------------------------------------------------

int CCorvaneDlg::EvaluateStatusReply(ByteView reply, int length) {
  const int state = protocol::StatusQueryState(reply, length, static_cast<int>(m_rowKind));
  if (state < 0) return -1;
  if (state == protocol::kStateIdle) return 1;
  if (state == protocol::kStateConnected) {
    m_list.SetCellTextColor(m_currentRow, -1, kBlack, true);
    m_list.SetCellText(m_currentRow, kColStatus, "Connected");
    m_list.SetRowCheck(m_currentRow, false);
    m_list.SetCellBackColor(m_currentRow, -1, kRowConnectedColor, true);
    PushToControls();
    return 0;
  }
  m_list.SetCellText(m_currentRow, kColStatus, "Unknown");
  return 0;
}

void CCorvaneDlg::SetRowStatus(int row, const std::string& status) {
  m_list.SetCellText(row, kColStatus, status);
}

void CCorvaneDlg::MarkRowTrouble(int row, const std::string& status) {
  m_list.SetCellText(row, kColStatus, status);
  m_list.SetCellTextColor(row, -1, kBlack, true);
  m_list.SetCellBackColor(row, -1, kRowTroubleColor, true);
}

// ---- row kinds --------------------------------------------------------------------------------

RowKind CCorvaneDlg::RowKindOf(int row, RowKind previous) const {
  const int count = m_list.GetItemCount();
  if (row < 0 || row >= count) return previous;
  auto mac = [&](int r) { return r >= 0 && r < count ? m_list.GetCellText(r, kColMac) : std::string(); };
  const std::string own = mac(row);
  if (row == count - 1) {
    if (count == 1) return RowKind::SinglePort;
    return mac(row - 1) == own ? RowKind::SecondPort : RowKind::SinglePort;
  }
  RowKind kind = previous;
  if (row == 0) kind = mac(1) == own ? RowKind::FirstPort : RowKind::SinglePort;
  const bool prevSame = mac(row - 1) == own;
  const bool nextSame = mac(row + 1) == own;
  if (prevSame && !nextSame) kind = RowKind::SecondPort;
  if (!prevSame && nextSame) kind = RowKind::FirstPort;
  if (!prevSame && !nextSame) kind = RowKind::SinglePort;
  return kind;
}

void CCorvaneDlg::TakeClickedRow(int item) {
  m_currentRow = item;
  m_rowCount = m_list.GetItemCount();
  if (item < 0 || item >= m_rowCount) return;
  m_rowKind = RowKindOf(item, m_rowKind);
  const int slot = m_table->FindSlotByMacText(m_list.GetCellText(item, kColMac));
  if (slot >= 0) m_table->SetSelectedSlot(slot);
}

int CCorvaneDlg::PartnerRow(int row, RowKind kind) {
  if (kind == RowKind::FirstPort) return row + 1;
  if (kind == RowKind::SecondPort) return row - 1;
  return -1;
}

std::string CCorvaneDlg::RowNumbersText(int row, RowKind kind) const {
  if (kind == RowKind::FirstPort) return std::to_string(row + 1) + "," + std::to_string(row + 2);
  if (kind == RowKind::SecondPort) return std::to_string(row) + "," + std::to_string(row + 1);
  return std::to_string(row + 1);
}

}  // namespace corvane::ui
