#include "reportctrl/report_ctrl.h"

#include "reportctrl/column_format.h"
#include "reportctrl/row_compare.h"
#include "tk/platform.h"

namespace reportctrl {

using tk::COLORREF;
using tk::DWORD;
using tk::LPARAM;
using tk::UINT;

namespace {

bool IsClickMessage(UINT msg) {
  switch (msg) {
    case tk::WM_LBUTTONDOWN:
    case tk::WM_LBUTTONDBLCLK:
    case tk::WM_MBUTTONDOWN:
    case tk::WM_MBUTTONDBLCLK:
    case tk::WM_RBUTTONDOWN:
    case tk::WM_RBUTTONDBLCLK:
      return true;
    default:
      return false;
  }
}

COLORREF DefaultTextColor() {
  return tk::GetSysColor(tk::COLOR_WINDOWTEXT);
}
COLORREF DefaultBackColor() {
  return tk::GetSysColor(tk::COLOR_WINDOW);
}

}  // namespace

CReportCtrl::CReportCtrl() = default;

CReportCtrl::~CReportCtrl() = default;

// ---- creation and styles ---------------------------------------------------------

bool CReportCtrl::CreateInParent(tk::CWnd* parent, UINT id, const tk::CRect* rect, DWORD style) {
  if (parent == nullptr || parent->GetSafeHwnd() == nullptr) return false;
  tk::CRect area = rect != nullptr ? *rect : parent->GetClientRect();
  // The toolkit's Create runs PreCreateWindow, which applies the style rules.
  return Create(style, area, parent, id);
}

bool CReportCtrl::Create(DWORD style, const tk::CRect& rect, tk::CWnd* parent, UINT id) {
  if (!CListCtrl::Create(style, rect, parent, id)) return false;
  // Creation keeps whatever extended style the platform set and adds ours.
  SetExtendedStyle(GetExtendedStyle());
  return true;
}

DWORD CReportCtrl::SetExtendedStyle(DWORD exStyle) {
  return CListCtrl::SetExtendedStyle(exStyle | kExStyleAdded);
}

void CReportCtrl::PreCreateWindow(DWORD& style, DWORD& exStyle) {
  (void)exStyle;
  style = (style & ~kStyleRemoved) | kStyleAdded;
}

void CReportCtrl::PreSubclassWindow() {
  ModifyStyle(kStyleRemoved, kStyleAdded);
  CListCtrl::SetExtendedStyle(kExStyleAdded);
}

// ---- columns ---------------------------------------------------------------------

bool CReportCtrl::SetColumns(const std::string& columnFormat) {
  DeleteAllRows();
  // Bounded by the count: a platform that refuses a delete must not loop forever.
  for (int left = GetColumnCount(); left > 0 && GetColumnCount() > 0; --left) DeleteColumn(0);
  bool added = false;
  for (const ColumnFormat& column : ParseColumnFormat(columnFormat)) {
    if (InsertColumnAt(GetColumnCount(), column.name, column.format, column.width, -1) >= 0) added = true;
  }
  return added;
}

int CReportCtrl::InsertColumnAt(int index, const std::string& heading, int format, int width, int subItem) {
  if (index < 0) return -1;
  int inserted = InsertColumn(index, heading, format, width, subItem);
  if (inserted < 0) return -1;
  for (auto& [key, record] : m_records) {
    auto at = static_cast<std::size_t>(inserted);
    if (at <= record->textColors.size())
      record->textColors.insert(record->textColors.begin() + inserted, DefaultTextColor());
    if (at <= record->backColors.size())
      record->backColors.insert(record->backColors.begin() + inserted, DefaultBackColor());
  }
  return inserted;
}

bool CReportCtrl::DeleteColumnAt(int index) {
  if (!IsValidColumn(index) || !DeleteColumn(index)) return false;
  for (auto& [key, record] : m_records) {
    auto at = static_cast<std::size_t>(index);
    if (at < record->textColors.size()) record->textColors.erase(record->textColors.begin() + index);
    if (at < record->backColors.size()) record->backColors.erase(record->backColors.begin() + index);
  }
  return true;
}

// ---- rows and cells --------------------------------------------------------------

RowRecord* CReportCtrl::RecordOf(int row) const {
  if (!IsValidRow(row)) return nullptr;
  auto key = reinterpret_cast<const RowRecord*>(CListCtrl::GetItemData(row));
  auto found = m_records.find(key);
  return found != m_records.end() ? found->second.get() : nullptr;
}

void CReportCtrl::ResetSortState() {
  m_sortColumn = -1;
  m_sortAscending = true;
}

int CReportCtrl::InsertRow(int row, const std::string& text) {
  ResetSortState();
  if (row < 0 || row > GetItemCount()) return -1;
  int inserted = InsertItem(row, text);
  if (inserted < 0) return -1;
  auto record = std::make_unique<RowRecord>();
  auto columns = static_cast<std::size_t>(GetColumnCount());
  record->textColors.assign(columns, DefaultTextColor());
  record->backColors.assign(columns, DefaultBackColor());
  const RowRecord* key = record.get();
  m_records.emplace(key, std::move(record));
  CListCtrl::SetItemData(inserted, reinterpret_cast<LPARAM>(key));
  return inserted;
}

bool CReportCtrl::SetCellText(int row, int column, const std::string& text) {
  ResetSortState();
  if (!IsValidRow(row) || !IsValidColumn(column)) return false;
  return SetItemText(row, column, text);
}

bool CReportCtrl::DeleteRow(int row) {
  if (!IsValidRow(row)) return false;
  const RowRecord* record = RecordOf(row);
  if (!DeleteItem(row)) return false;
  if (record != nullptr) m_records.erase(record);
  return true;
}

int CReportCtrl::DeleteAllRows() {
  bool locked = LockWindowUpdate();
  int count = GetItemCount();
  m_records.clear();
  DeleteAllItems();
  if (locked) UnlockWindowUpdate();
  return count;
}

LPARAM CReportCtrl::GetRowData(int row) const {
  const RowRecord* record = RecordOf(row);
  return record != nullptr ? record->data : 0;
}

bool CReportCtrl::SetRowData(int row, LPARAM data) {
  RowRecord* record = RecordOf(row);
  if (record == nullptr) return false;
  record->data = data;
  return true;
}

// ---- row states ------------------------------------------------------------------

DWORD CReportCtrl::GetRowStates(int row) const {
  if (!IsValidRow(row)) return 0;
  DWORD states = 0;
  states |= GetItemState(row, tk::LVIS_SELECTED) != 0 ? kRowSelected : kRowUnselected;
  states |= GetCheck(row) ? kRowChecked : kRowUnchecked;
  states |= GetItemState(row, tk::LVIS_FOCUSED) != 0 ? kRowFocused : kRowUnfocused;
  return states;
}

namespace {

bool Matches(DWORD states, DWORD filter) {
  if (filter == 0) return false;
  if ((filter & kRowAll) != 0) return true;
  return (states & filter) == filter;
}

}  // namespace

int CReportCtrl::CountRows(DWORD filter) const {
  const int count = GetItemCount();
  if (filter == kRowAll) return count;
  int matching = 0;
  for (int row = 0; row < count; ++row) {
    if (Matches(GetRowStates(row), filter)) ++matching;
  }
  return matching;
}

int CReportCtrl::FindRow(DWORD filter, int after) const {
  const int count = GetItemCount();
  for (int row = after < 0 ? 0 : after + 1; row < count; ++row) {
    if (Matches(GetRowStates(row), filter)) return row;
  }
  return -1;
}

void CReportCtrl::ApplyStates(int row, DWORD request) {
  if ((request & kRowSelected) != 0) SetItemState(row, tk::LVIS_SELECTED, tk::LVIS_SELECTED);
  if ((request & kRowUnselected) != 0) SetItemState(row, 0, tk::LVIS_SELECTED);
  if ((request & kRowChecked) != 0) SetCheck(row, true);
  if ((request & kRowUnchecked) != 0) SetCheck(row, false);
  if ((request & kRowFocused) != 0) SetItemState(row, tk::LVIS_FOCUSED, tk::LVIS_FOCUSED);
  if ((request & kRowUnfocused) != 0) SetItemState(row, 0, tk::LVIS_FOCUSED);
}

bool CReportCtrl::SetRowStates(int row, DWORD request) {
  if (!IsValidRow(row)) return false;
  ApplyStates(row, request);
  if ((request & kRowChecked) != 0 && GetCheck(row)) ApplySingleRule(row);
  return true;
}

bool CReportCtrl::SetRowCheck(int row, bool checked) {
  if (!IsValidRow(row) || !SetCheck(row, checked)) return false;
  if (checked) ApplySingleRule(row);
  return true;
}

// Single mode keeps one checked row: the one just checked, or without one the
// first checked row. Programmatic checks clear earlier rows too, as a click does.
void CReportCtrl::ApplySingleRule(int checkedRow) {
  if (m_checkboxMode != kCheckboxSingle) return;
  int keep = checkedRow >= 0 ? checkedRow : FindRow(kRowChecked);
  if (keep < 0) return;
  const int count = GetItemCount();
  for (int row = 0; row < count; ++row) {
    if (row != keep && GetCheck(row)) SetCheck(row, false);
  }
}

void CReportCtrl::UncheckAllRows() {
  const int count = GetItemCount();
  for (int row = 0; row < count; ++row) {
    if (GetCheck(row)) SetCheck(row, false);
  }
}

void CReportCtrl::SelectOnly(int row) {
  const int count = GetItemCount();
  for (int other = 0; other < count; ++other) {
    if (GetItemState(other, tk::LVIS_SELECTED) != 0) SetItemState(other, 0, tk::LVIS_SELECTED);
  }
  const UINT both = tk::LVIS_SELECTED | tk::LVIS_FOCUSED;
  SetItemState(row, both, both);
}

// ---- looks -------------------------------------------------------------------------

void CReportCtrl::SetCheckboxMode(int mode) {
  if (mode < kCheckboxNone || mode > kCheckboxReadOnly) return;
  m_checkboxMode = mode;
  DWORD exStyle = GetExtendedStyle();
  if (mode == kCheckboxNone) {
    SetExtendedStyle(exStyle & ~tk::LVS_EX_CHECKBOXES);
    return;
  }
  SetExtendedStyle(exStyle | tk::LVS_EX_CHECKBOXES);
  ApplySingleRule(-1);
}

void CReportCtrl::SetGridLines(bool on) {
  DWORD exStyle = GetExtendedStyle();
  SetExtendedStyle(on ? exStyle | tk::LVS_EX_GRIDLINES : exStyle & ~tk::LVS_EX_GRIDLINES);
}

void CReportCtrl::SetCellTextColor(int row, int column, COLORREF color, bool redraw) {
  SetColors(row, column, color == kSystemColor ? DefaultTextColor() : color, true, redraw);
}

void CReportCtrl::SetCellBackColor(int row, int column, COLORREF color, bool redraw) {
  SetColors(row, column, color == kSystemColor ? DefaultBackColor() : color, false, redraw);
}

// An invalid row or column means "every row" / "every column". Indices past a
// record's arrays (columns added behind the control's back) are skipped.
void CReportCtrl::SetColors(int row, int column, COLORREF color, bool text, bool redraw) {
  const int firstRow = IsValidRow(row) ? row : 0;
  const int lastRow = IsValidRow(row) ? row : GetItemCount() - 1;
  for (int r = firstRow; r <= lastRow; ++r) {
    RowRecord* record = RecordOf(r);
    if (record == nullptr) continue;
    std::vector<COLORREF>& colors = text ? record->textColors : record->backColors;
    if (IsValidColumn(column)) {
      if (static_cast<std::size_t>(column) < colors.size()) colors[static_cast<std::size_t>(column)] = color;
    } else {
      for (COLORREF& c : colors) c = color;
    }
  }
  if (redraw) RedrawList();
}

COLORREF CReportCtrl::GetCellTextColor(int row, int column) const {
  const RowRecord* record = RecordOf(row);
  if (record == nullptr || column < 0 || static_cast<std::size_t>(column) >= record->textColors.size()) {
    return DefaultTextColor();
  }
  return record->textColors[static_cast<std::size_t>(column)];
}

COLORREF CReportCtrl::GetCellBackColor(int row, int column) const {
  const RowRecord* record = RecordOf(row);
  if (record == nullptr || column < 0 || static_cast<std::size_t>(column) >= record->backColors.size()) {
    return DefaultBackColor();
  }
  return record->backColors[static_cast<std::size_t>(column)];
}

void CReportCtrl::RedrawList() {
  Invalidate(true);
  UpdateWindow();
}

// ---- sorting ---------------------------------------------------------------------

bool CReportCtrl::SetSortable(bool on) {
  if ((GetStyle() & tk::LVS_NOCOLUMNHEADER) != 0) return false;
  tk::CHeaderCtrl header = GetHeaderCtrl();
  if (header.GetSafeHwnd() == nullptr) return false;
  if (on) {
    header.ModifyStyle(0, tk::HDS_BUTTONS);
  } else {
    header.ModifyStyle(tk::HDS_BUTTONS, 0);
    ResetSortState();
  }
  header.UpdateWindow();
  header.Invalidate(true);
  return true;
}

bool CReportCtrl::IsSortable() const {
  tk::CHeaderCtrl header = GetHeaderCtrl();
  return header.GetSafeHwnd() != nullptr && (header.GetStyle() & tk::HDS_BUTTONS) != 0;
}

void CReportCtrl::SortByColumn(int column, bool ascending) {
  if (!IsValidColumn(column) || !IsSortable()) return;
  m_sortColumn = column;
  m_sortAscending = ascending;
  SortRows();
  NotifyParent(WM_REPORT_SORTED, static_cast<tk::WPARAM>(column), ascending ? 1 : 0);
}

int CReportCtrl::CompareRows(int rowA, int rowB) const {
  return CompareCellTexts(GetItemText(rowA, m_sortColumn), GetItemText(rowB, m_sortColumn));
}

// Orders row indices, snapshots every row once, then writes the rows back in the
// new order. The raw item data moves too, so each RowRecord stays with its row.
// Cells are written with the list's own setters: the control's SetCellText would
// forget the sort that is being applied.
void CReportCtrl::SortRows() {
  const int count = GetItemCount();
  if (count < 2) return;
  std::vector<int> order(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) order[static_cast<std::size_t>(row)] = row;
  QuickSort(
      order, [this](int a, int b) { return CompareRows(a, b); }, m_sortAscending);

  const int columns = GetColumnCount();
  std::vector<RowSnapshot> snapshot(static_cast<std::size_t>(count));
  for (int row = 0; row < count; ++row) {
    RowSnapshot& shot = snapshot[static_cast<std::size_t>(row)];
    shot.states = GetRowStates(row);
    shot.rawData = CListCtrl::GetItemData(row);
    for (int column = 0; column < columns; ++column) {
      shot.images.push_back(GetItemImage(row, column));
      shot.texts.push_back(GetItemText(row, column));
    }
  }
  for (int row = 0; row < count; ++row) {
    const RowSnapshot& shot = snapshot[static_cast<std::size_t>(order[static_cast<std::size_t>(row)])];
    // States are restored exactly; the single-mode rule would clear checks still to be written.
    ApplyStates(row, shot.states);
    CListCtrl::SetItemData(row, shot.rawData);
    for (int column = 0; column < columns; ++column) {
      SetItemImage(row, column, shot.images[static_cast<std::size_t>(column)]);
      SetItemText(row, column, shot.texts[static_cast<std::size_t>(column)]);
    }
  }
}

void CReportCtrl::NotifyParent(UINT msg, tk::WPARAM wParam, LPARAM lParam) {
  tk::CWnd parent = GetParent();
  if (parent.GetSafeHwnd() != nullptr) parent.SendMessage(msg, wParam, lParam);
}

// ---- messages ----------------------------------------------------------------------

bool CReportCtrl::OnMouseMessage(UINT msg, UINT keyFlags, tk::CPoint point) {
  if (!IsClickMessage(msg)) return false;
  int column = -1;
  const int row = SubItemHitTest(point, &column);
  const bool wasChecked = IsValidRow(row) && GetCheck(row);
  DefaultMouseMessage(msg, keyFlags, point);

  if (!IsValidRow(row) || m_checkboxMode == kCheckboxNone || GetCheck(row) == wasChecked) return true;
  if (m_checkboxMode == kCheckboxReadOnly) {
    SetCheck(row, wasChecked);
    return true;
  }
  if (m_checkboxMode == kCheckboxSingle && GetCheck(row)) {
    UncheckAllRows();
    SetRowCheck(row, true);
  }
  SelectOnly(row);
  NotifyParent(WM_REPORT_ITEMCLICK, static_cast<tk::WPARAM>(row), static_cast<LPARAM>(msg));
  return true;
}

bool CReportCtrl::OnKeyDown(UINT virtualKey) {
  // The space bar would toggle the focused row's check box behind the modes' back.
  return virtualKey == tk::VK_SPACE;
}

bool CReportCtrl::OnReflectedNotify(tk::Notification& n, tk::LRESULT& result) {
  if (n.code == tk::NM_CUSTOMDRAW) {
    if (n.drawStage == tk::CDDS_PREPAINT || n.drawStage == tk::CDDS_ITEMPREPAINT) {
      result = tk::CDRF_NOTIFYSUBITEMDRAW;
    } else if (n.drawStage == (tk::CDDS_ITEMPREPAINT | tk::CDDS_SUBITEM)) {
      n.textColor = GetCellTextColor(n.item, n.subItem);
      n.textBkColor = GetCellBackColor(n.item, n.subItem);
      result = tk::CDRF_DODEFAULT;
    } else {
      result = tk::CDRF_DODEFAULT;
    }
    return true;
  }
  if (n.code == tk::LVN_COLUMNCLICK) {
    const int column = n.subItem;
    const bool ascending = column != m_sortColumn || !m_sortAscending;
    SortByColumn(column, ascending);
    return true;
  }
  return false;
}

void CReportCtrl::OnDestroy() {
  DeleteAllRows();
  CListCtrl::OnDestroy();
}

}  // namespace reportctrl
