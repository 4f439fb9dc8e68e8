#include "win32/listview.h"

#include <commctrl.h>

#include "win32/window_access.h"

namespace uidrive {

RemoteBlock::RemoteBlock(HWND window, std::size_t size) {
  DWORD pid = 0;
  GetWindowThreadProcessId(window, &pid);
  m_process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
  if (!m_process) Fail("cannot open process " + std::to_string(pid));
  m_address = VirtualAllocEx(m_process, nullptr, size, MEM_COMMIT, PAGE_READWRITE);
  if (!m_address) {
    CloseHandle(m_process);
    Fail("cannot place memory in process " + std::to_string(pid));
  }
}

RemoteBlock::~RemoteBlock() {
  VirtualFreeEx(m_process, m_address, 0, MEM_RELEASE);
  CloseHandle(m_process);
}

void RemoteBlock::Write(std::size_t offset, const void* data, std::size_t size) {
  SIZE_T done = 0;
  if (!WriteProcessMemory(m_process, static_cast<char*>(m_address) + offset, data, size, &done) ||
      done != size)
    Fail("cannot write the other process's memory");
}

void RemoteBlock::Read(std::size_t offset, void* data, std::size_t size) const {
  SIZE_T done = 0;
  if (!ReadProcessMemory(m_process, static_cast<const char*>(m_address) + offset, data, size, &done) ||
      done != size)
    Fail("cannot read the other process's memory");
}

namespace {

constexpr std::size_t kTextSize = 1024;

void RequireList(HWND list) {
  if (!IsClass(list, WC_LISTVIEWA)) Fail("not a list view");
}

// The text of one cell: LVITEM and its text buffer side by side in the target.
std::string CellText(HWND list, RemoteBlock& block, int row, int subItem) {
  LVITEMA item{};
  item.mask = LVIF_TEXT;
  item.iItem = row;
  item.iSubItem = subItem;
  item.pszText = reinterpret_cast<char*>(block.param(sizeof item));
  item.cchTextMax = kTextSize;
  block.Write(0, &item, sizeof item);
  const auto length = static_cast<std::size_t>(Send(list, LVM_GETITEMTEXTA, row, block.param()));
  std::string text(length < kTextSize ? length : kTextSize - 1, '\0');
  if (!text.empty()) block.Read(sizeof item, text.data(), text.size());
  return text;
}

void SetState(HWND list, int row, UINT state, UINT mask) {
  RemoteBlock block(list, sizeof(LVITEMA));
  LVITEMA item{};
  item.stateMask = mask;
  item.state = state;
  block.Write(0, &item, sizeof item);
  if (!Send(list, LVM_SETITEMSTATE, row, block.param())) Fail("the list refused the new state");
}

void RequireRow(HWND list, int row) {
  const int count = static_cast<int>(Send(list, LVM_GETITEMCOUNT));
  if (row < 0 || row >= count)
    Fail("no row " + std::to_string(row) + " (the list has " + std::to_string(count) + ")");
}

}  // namespace

std::vector<ListColumn> ListColumns(HWND list) {
  RequireList(list);
  HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER));
  const int count = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT)) : 0;
  std::vector<ListColumn> columns;
  RemoteBlock block(list, sizeof(LVCOLUMNA) + kTextSize);
  for (int i = 0; i < count; ++i) {
    LVCOLUMNA column{};
    column.mask = LVCF_TEXT | LVCF_WIDTH;
    column.pszText = reinterpret_cast<char*>(block.param(sizeof column));
    column.cchTextMax = kTextSize;
    block.Write(0, &column, sizeof column);
    const char none = 0;
    block.Write(sizeof column, &none, 1);
    if (!Send(list, LVM_GETCOLUMNA, i, block.param())) Fail("cannot read column " + std::to_string(i));
    block.Read(0, &column, sizeof column);
    char text[kTextSize] = {};
    block.Read(sizeof column, text, kTextSize - 1);
    columns.push_back({text, column.cx});
  }
  return columns;
}

std::vector<ListRow> ListRows(HWND list) {
  RequireList(list);
  HWND header = reinterpret_cast<HWND>(Send(list, LVM_GETHEADER));
  const int columns = header ? static_cast<int>(Send(header, HDM_GETITEMCOUNT)) : 1;
  const int count = static_cast<int>(Send(list, LVM_GETITEMCOUNT));
  RemoteBlock block(list, sizeof(LVITEMA) + kTextSize);
  std::vector<ListRow> rows;
  for (int row = 0; row < count; ++row) {
    ListRow r;
    for (int sub = 0; sub < (columns > 0 ? columns : 1); ++sub)
      r.texts.push_back(CellText(list, block, row, sub));
    const auto state =
        static_cast<UINT>(Send(list, LVM_GETITEMSTATE, row, LVIS_STATEIMAGEMASK | LVIS_SELECTED));
    r.checked = ((state & LVIS_STATEIMAGEMASK) >> 12) == 2;
    r.selected = (state & LVIS_SELECTED) != 0;
    rows.push_back(std::move(r));
  }
  return rows;
}

void SetRowChecked(HWND list, int row, bool checked) {
  RequireList(list);
  RequireRow(list, row);
  SetState(list, row, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
}

void SelectRow(HWND list, int row) {
  RequireList(list);
  RequireRow(list, row);
  SetState(list, row, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
}

RECT CellRect(HWND list, int row, int subItem) {
  RequireList(list);
  RequireRow(list, row);
  RemoteBlock block(list, sizeof(RECT));
  RECT rect{};
  rect.top = subItem;
  rect.left = subItem == 0 ? LVIR_LABEL : LVIR_BOUNDS;
  block.Write(0, &rect, sizeof rect);
  if (!Send(list, LVM_GETSUBITEMRECT, row, block.param())) Fail("no cell " + std::to_string(subItem));
  block.Read(0, &rect, sizeof rect);
  return rect;
}

}  // namespace uidrive
