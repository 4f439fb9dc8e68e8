// The list view: items, columns and states in memory, a fixed geometry for hit
// testing, and the control's own handling of mouse, keys and custom draw.
//
// Geometry (client coordinates): the header is 20 pixels high (none with
// LVS_NOCOLUMNHEADER), rows are 16 pixels high below it, columns are laid out by
// their widths from x = 0, and with LVS_EX_CHECKBOXES the check box occupies the
// first 16 pixels of column 0.
#include <algorithm>

#include "backend.h"
#include "tk/controls.h"
#include "tk/detail/dispatch.h"
#include "tk/platform.h"

namespace tk::headless::detail {

namespace {
constexpr int kHeaderHeight = 20;
constexpr int kRowHeight = 16;
constexpr int kCheckBoxWidth = 16;
constexpr UINT kStateChecked = 2u << 12;
constexpr UINT kStateUnchecked = 1u << 12;
constexpr UINT kNmRDblClk = static_cast<UINT>(-6);
constexpr UINT kMkLButton = 0x0001;
constexpr UINT kMkRButton = 0x0002;
constexpr UINT kMkMButton = 0x0010;
}  // namespace

void InitList(Window* list) {
  list->bkColor = GetSysColor(COLOR_WINDOW);
  list->textColor = GetSysColor(COLOR_WINDOWTEXT);
  DWORD headerStyle = WS_CHILD | WS_VISIBLE;
  if ((list->style & LVS_NOSORTHEADER) == 0) headerStyle |= HDS_BUTTONS;
  if ((list->style & LVS_NOCOLUMNHEADER) != 0) headerStyle &= ~WS_VISIBLE;
  list->header = CreateWindowObject(Kind::Header, list, 0, {}, headerStyle, 0,
                                    {0, 0, list->rect.Width(), kHeaderHeight});
}

bool ItemChecked(const ListItem& item) {
  return (item.state & LVIS_STATEIMAGEMASK) == kStateChecked;
}

void SetItemChecked(ListItem& item, bool checked) {
  item.state = (item.state & ~LVIS_STATEIMAGEMASK) | (checked ? kStateChecked : kStateUnchecked);
}

namespace {

Window* FindList(Handle h) {
  Window* w = Find(h);
  return w != nullptr && w->kind == Kind::ListView ? w : nullptr;
}

bool ValidItem(const Window* w, int item) {
  return item >= 0 && item < static_cast<int>(w->items.size());
}

int CellCount(const Window* w) {
  return std::max(1, static_cast<int>(w->columns.size()));
}

bool ValidCell(const Window* w, int item, int subItem) {
  return ValidItem(w, item) && subItem >= 0 && subItem < CellCount(w);
}

int HeaderHeight(const Window* w) {
  return (w->style & LVS_NOCOLUMNHEADER) != 0 ? 0 : kHeaderHeight;
}

bool HasCheckBoxes(const Window* w) {
  return (w->listExStyle & LVS_EX_CHECKBOXES) != 0;
}

int ColumnLeft(const Window* w, int column) {
  int x = 0;
  for (int c = 0; c < column; ++c) x += w->columns[static_cast<size_t>(c)].width;
  return x;
}

// Applies `state` under `mask` to one item, keeping the platform's rules: one
// focused item, and one selected item in a single-selection list.
void ApplyState(Window* w, int item, UINT state, UINT mask) {
  ListItem& it = w->items[static_cast<size_t>(item)];
  it.state = (it.state & ~mask) | (state & mask);
  for (int i = 0; i < static_cast<int>(w->items.size()); ++i) {
    if (i == item) continue;
    ListItem& other = w->items[static_cast<size_t>(i)];
    if ((mask & state & LVIS_FOCUSED) != 0) other.state &= ~LVIS_FOCUSED;
    if ((mask & state & LVIS_SELECTED) != 0 && (w->style & LVS_SINGLESEL) != 0) other.state &= ~LVIS_SELECTED;
  }
}

struct Hit {
  int item = -1;
  int subItem = -1;
  UINT flags = LVHT_NOWHERE;
};

Hit HitTestCell(const Window* w, CPoint p) {
  Hit hit;
  int top = HeaderHeight(w);
  if (p.y < top || p.x < 0) return hit;
  int row = (p.y - top) / kRowHeight;
  if (!ValidItem(w, row)) return hit;
  int columns = static_cast<int>(w->columns.size());
  for (int c = 0; c < columns; ++c) {
    int left = ColumnLeft(w, c);
    if (p.x < left || p.x >= left + w->columns[static_cast<size_t>(c)].width) continue;
    hit.item = row;
    hit.subItem = c;
    hit.flags = LVHT_ONITEMLABEL;
    if (c == 0 && HasCheckBoxes(w) && p.x < left + kCheckBoxWidth) hit.flags = LVHT_ONITEMSTATEICON;
    return hit;
  }
  return hit;
}

bool IsButtonMessage(UINT msg) {
  return msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK || msg == WM_RBUTTONDOWN ||
         msg == WM_RBUTTONDBLCLK || msg == WM_MBUTTONDOWN || msg == WM_MBUTTONDBLCLK;
}

UINT NotificationFor(UINT msg) {
  switch (msg) {
    case WM_LBUTTONDOWN:
      return NM_CLICK;
    case WM_LBUTTONDBLCLK:
      return NM_DBLCLK;
    case WM_RBUTTONDOWN:
      return NM_RCLICK;
    case WM_RBUTTONDBLCLK:
      return kNmRDblClk;
    default:
      return 0;
  }
}

UINT KeyFlagsFor(UINT msg) {
  if (msg == WM_RBUTTONDOWN || msg == WM_RBUTTONDBLCLK) return kMkRButton;
  if (msg == WM_MBUTTONDOWN || msg == WM_MBUTTONDBLCLK) return kMkMButton;
  return kMkLButton;
}

}  // namespace

// The list's own handling of a mouse button: selection and focus, the check
// box toggle, then the click notification to the parent.
void ListDefaultMouse(Window* w, UINT msg, CPoint point) {
  if (!IsButtonMessage(msg)) return;
  Hit hit = HitTestCell(w, point);
  S().focus = w;
  for (ListItem& it : w->items) it.state &= ~LVIS_SELECTED;
  if (hit.item >= 0) {
    ApplyState(w, hit.item, LVIS_SELECTED | LVIS_FOCUSED, LVIS_SELECTED | LVIS_FOCUSED);
    bool toggles = msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK;
    if (toggles && hit.flags == LVHT_ONITEMSTATEICON) {
      ListItem& it = w->items[static_cast<size_t>(hit.item)];
      SetItemChecked(it, !ItemChecked(it));
    }
  }
  UINT code = NotificationFor(msg);
  if (code == 0) return;
  Notification n;
  n.code = code;
  n.item = hit.item;
  n.subItem = hit.subItem;
  n.point = point;
  NotifyParent(w, n);
}

}  // namespace tk::headless::detail

namespace tk {

using namespace tk::headless::detail;

void CWnd::DefaultMouseMessage(UINT msg, UINT, CPoint point) {
  Window* w = FindList(m_hWnd);
  if (w != nullptr) ListDefaultMouse(w, msg, point);
}

bool CListCtrl::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  Window* p = parent != nullptr ? Find(parent->GetSafeHwnd()) : nullptr;
  if (p == nullptr || Find(m_hWnd) != nullptr) return false;
  DWORD exStyle = 0;
  tk::detail::Dispatch::PreCreate(*this, style, exStyle);
  Window* w = CreateWindowObject(Kind::ListView, p, static_cast<int>(id), {}, style, exStyle, rect);
  InitList(w);
  w->target = this;
  m_hWnd = H(w);
  return true;
}

int CListCtrl::InsertColumn(int col, const std::string& heading, int format, int width, int) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || col < 0) return -1;
  col = std::min(col, static_cast<int>(w->columns.size()));
  bool first = w->columns.empty();
  w->columns.insert(w->columns.begin() + col, {heading, std::max(width, 0), format});
  // Items always hold the text of column 0; later columns add a cell each.
  if (!first) {
    for (ListItem& it : w->items) {
      it.texts.insert(it.texts.begin() + col, std::string());
      it.images.insert(it.images.begin() + col, -1);
    }
  }
  return col;
}

bool CListCtrl::DeleteColumn(int col) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || col < 0 || col >= static_cast<int>(w->columns.size())) return false;
  w->columns.erase(w->columns.begin() + col);
  if (w->columns.empty()) {
    for (ListItem& it : w->items) {
      it.texts.assign(1, std::string());
      it.images.assign(1, -1);
    }
    return true;
  }
  for (ListItem& it : w->items) {
    it.texts.erase(it.texts.begin() + col);
    it.images.erase(it.images.begin() + col);
  }
  return true;
}

int CListCtrl::GetColumnCount() const {
  Window* w = FindList(m_hWnd);
  return w != nullptr ? static_cast<int>(w->columns.size()) : 0;
}

std::string CListCtrl::GetColumnHeading(int col) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || col < 0 || col >= static_cast<int>(w->columns.size())) return {};
  return w->columns[static_cast<size_t>(col)].heading;
}

int CListCtrl::GetColumnWidth(int col) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || col < 0 || col >= static_cast<int>(w->columns.size())) return 0;
  return w->columns[static_cast<size_t>(col)].width;
}

int CListCtrl::GetColumnFormat(int col) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || col < 0 || col >= static_cast<int>(w->columns.size())) return LVCFMT_LEFT;
  return w->columns[static_cast<size_t>(col)].format;
}

CHeaderCtrl CListCtrl::GetHeaderCtrl() const {
  Window* w = FindList(m_hWnd);
  return CHeaderCtrl(w != nullptr ? H(w->header) : nullptr);
}

int CListCtrl::GetItemCount() const {
  Window* w = FindList(m_hWnd);
  return w != nullptr ? static_cast<int>(w->items.size()) : 0;
}

int CListCtrl::InsertItem(int item, const std::string& text) {
  return InsertItem(item, text, 0);
}

int CListCtrl::InsertItem(int item, const std::string& text, LPARAM data) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || item < 0) return -1;
  item = std::min(item, static_cast<int>(w->items.size()));
  ListItem it;
  it.texts.assign(static_cast<size_t>(CellCount(w)), std::string());
  it.images.assign(static_cast<size_t>(CellCount(w)), -1);
  it.texts[0] = text;
  it.data = data;
  if (HasCheckBoxes(w)) SetItemChecked(it, false);
  w->items.insert(w->items.begin() + item, std::move(it));
  return item;
}

bool CListCtrl::DeleteItem(int item) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidItem(w, item)) return false;
  w->items.erase(w->items.begin() + item);
  return true;
}

bool CListCtrl::DeleteAllItems() {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return false;
  w->items.clear();
  return true;
}

bool CListCtrl::SetItemText(int item, int subItem, const std::string& text) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidCell(w, item, subItem)) return false;
  w->items[static_cast<size_t>(item)].texts[static_cast<size_t>(subItem)] = text;
  return true;
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidCell(w, item, subItem)) return {};
  return w->items[static_cast<size_t>(item)].texts[static_cast<size_t>(subItem)];
}

bool CListCtrl::SetItemData(int item, LPARAM data) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidItem(w, item)) return false;
  w->items[static_cast<size_t>(item)].data = data;
  return true;
}

LPARAM CListCtrl::GetItemData(int item) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidItem(w, item)) return 0;
  return w->items[static_cast<size_t>(item)].data;
}

bool CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return false;
  if (item == -1) {  // every item
    for (ListItem& it : w->items) it.state = (it.state & ~mask) | (state & mask);
    return true;
  }
  if (!ValidItem(w, item)) return false;
  ApplyState(w, item, state, mask);
  return true;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidItem(w, item)) return 0;
  return w->items[static_cast<size_t>(item)].state & mask;
}

bool CListCtrl::SetCheck(int item, bool check) {
  return SetItemState(item, check ? (2u << 12) : (1u << 12), LVIS_STATEIMAGEMASK);
}

bool CListCtrl::GetCheck(int item) const {
  return GetItemState(item, LVIS_STATEIMAGEMASK) == (2u << 12);
}

int CListCtrl::GetItemImage(int item, int subItem) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidCell(w, item, subItem)) return -1;
  return w->items[static_cast<size_t>(item)].images[static_cast<size_t>(subItem)];
}

bool CListCtrl::SetItemImage(int item, int subItem, int image) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidCell(w, item, subItem)) return false;
  w->items[static_cast<size_t>(item)].images[static_cast<size_t>(subItem)] = image;
  return true;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return -1;
  UINT wanted = 0;
  if ((flags & LVNI_SELECTED) != 0) wanted |= LVIS_SELECTED;
  if ((flags & LVNI_FOCUSED) != 0) wanted |= LVIS_FOCUSED;
  for (int i = std::max(start + 1, 0); i < static_cast<int>(w->items.size()); ++i) {
    if ((w->items[static_cast<size_t>(i)].state & wanted) == wanted) return i;
  }
  return -1;
}

int CListCtrl::GetSelectedCount() const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return 0;
  return static_cast<int>(std::count_if(w->items.begin(), w->items.end(),
                                        [](const ListItem& it) { return (it.state & LVIS_SELECTED) != 0; }));
}

int CListCtrl::HitTest(CPoint point, UINT* flags) const {
  Window* w = FindList(m_hWnd);
  Hit hit = w != nullptr ? HitTestCell(w, point) : Hit{};
  // Without full-row select only column 0 belongs to the item.
  if (w != nullptr && hit.subItem > 0 && (w->listExStyle & LVS_EX_FULLROWSELECT) == 0) hit = Hit{};
  if (flags != nullptr) *flags = hit.flags;
  return hit.item;
}

int CListCtrl::SubItemHitTest(CPoint point, int* subItem, UINT* flags) const {
  Window* w = FindList(m_hWnd);
  Hit hit = w != nullptr ? HitTestCell(w, point) : Hit{};
  if (subItem != nullptr) *subItem = hit.subItem;
  if (flags != nullptr) *flags = hit.flags;
  return hit.item;
}

bool CListCtrl::GetSubItemRect(int item, int subItem, CRect& rect) const {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || !ValidItem(w, item) || subItem < 0 || subItem >= static_cast<int>(w->columns.size())) {
    return false;
  }
  rect.left = ColumnLeft(w, subItem);
  rect.right = rect.left + w->columns[static_cast<size_t>(subItem)].width;
  rect.top = HeaderHeight(w) + item * kRowHeight;
  rect.bottom = rect.top + kRowHeight;
  return true;
}

DWORD CListCtrl::GetExtendedStyle() const {
  Window* w = FindList(m_hWnd);
  return w != nullptr ? w->listExStyle : 0;
}

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return 0;
  DWORD previous = w->listExStyle;
  w->listExStyle = exStyle;
  // Turning check boxes on gives every item the unchecked state image.
  if ((exStyle & LVS_EX_CHECKBOXES) != 0 && (previous & LVS_EX_CHECKBOXES) == 0) {
    for (ListItem& it : w->items) {
      if ((it.state & LVIS_STATEIMAGEMASK) == 0) SetItemChecked(it, false);
    }
  }
  return previous;
}

bool CListCtrl::SetBkColor(COLORREF color) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr) return false;
  w->bkColor = color;
  return true;
}

COLORREF CListCtrl::GetBkColor() const {
  Window* w = FindList(m_hWnd);
  return w != nullptr ? w->bkColor : 0;
}

bool CListCtrl::RedrawItems(int first, int last) {
  Window* w = FindList(m_hWnd);
  if (w == nullptr || first > last) return false;
  ++w->redrawCount;
  return true;
}

}  // namespace tk

namespace tk::headless {

using namespace detail;

namespace {

Window* UsableList(CListCtrl& list, const char* what) {
  Window* w = FindList(list.GetSafeHwnd());
  if (w == nullptr) {
    Fail(std::string(what) + ": not a live list view");
    return nullptr;
  }
  if ((w->style & WS_VISIBLE) == 0 || (w->style & WS_DISABLED) != 0) {
    Fail(std::string(what) + ": the list is hidden or disabled");
    return nullptr;
  }
  return w;
}

// The point a user would click: the cell's middle, the check box in column 0
// of a list with check boxes; row -1 is the empty space below the rows (under
// the given column), column -1 the empty space right of the columns.
CPoint ClickPoint(const Window* w, int row, int column) {
  const int columns = static_cast<int>(w->columns.size());
  int y = HeaderHeight(w) + row * kRowHeight + kRowHeight / 2;
  if (row < 0) y = HeaderHeight(w) + static_cast<int>(w->items.size()) * kRowHeight + kRowHeight / 2;
  if (column < 0 || column >= columns) return {ColumnLeft(w, columns) + 2, y};
  int left = ColumnLeft(w, column);
  int x = left + w->columns[static_cast<size_t>(column)].width / 2;
  if (row >= 0 && column == 0 && HasCheckBoxes(w)) x = left + kCheckBoxWidth / 2;
  return {x, y};
}

void MouseOnList(Window* w, UINT msg, CPoint point) {
  bool handled =
      w->target != nullptr && tk::detail::Dispatch::Mouse(*w->target, msg, KeyFlagsFor(msg), point);
  if (!handled && Find(w) != nullptr) ListDefaultMouse(w, msg, point);
}

}  // namespace

void ClickListCell(CListCtrl& list, int row, int column, UINT message) {
  Window* w = UsableList(list, "ClickListCell");
  if (w == nullptr) return;
  const bool rowOk = row == -1 || ValidItem(w, row);
  const bool columnOk = column >= -1 && column < static_cast<int>(w->columns.size());
  if (!rowOk || !columnOk) {
    Fail("ClickListCell: no cell at row " + std::to_string(row) + ", column " + std::to_string(column));
    return;
  }
  MouseOnList(w, message, ClickPoint(w, row, column));
}

void DoubleClickListCell(CListCtrl& list, int row, int column) {
  // The platform's sequence: button down, then the double-click message.
  ClickListCell(list, row, column, WM_LBUTTONDOWN);
  Window* w = FindList(list.GetSafeHwnd());
  if (w != nullptr) MouseOnList(w, WM_LBUTTONDBLCLK, ClickPoint(w, row, column));
}

void ClickListHeader(CListCtrl& list, int column) {
  Window* w = UsableList(list, "ClickListHeader");
  if (w == nullptr) return;
  if (column < 0 || column >= static_cast<int>(w->columns.size())) {
    Fail("ClickListHeader: no column " + std::to_string(column));
    return;
  }
  // A header without the button style does not react to clicks.
  if (w->header == nullptr || (w->header->style & HDS_BUTTONS) == 0) return;
  Notification n;
  n.code = LVN_COLUMNCLICK;
  n.subItem = column;
  NotifyParent(w, n);
}

void PressKey(CWnd& control, UINT virtualKey) {
  Window* w = Find(control.GetSafeHwnd());
  if (w == nullptr) {
    Fail("PressKey: not a live window");
    return;
  }
  if (w->target != nullptr && tk::detail::Dispatch::KeyDown(*w->target, virtualKey)) return;
  if (Find(w) == nullptr || w->kind != Kind::ListView) return;
  if (virtualKey == VK_SPACE && HasCheckBoxes(w)) {
    for (ListItem& it : w->items) {
      if ((it.state & LVIS_FOCUSED) != 0) SetItemChecked(it, !ItemChecked(it));
    }
  }
}

CellPaint PaintListCell(CListCtrl& list, int row, int column) {
  CellPaint paint;
  Window* w = FindList(list.GetSafeHwnd());
  if (w == nullptr || !ValidCell(w, row, column)) {
    Fail("PaintListCell: no cell at row " + std::to_string(row) + ", column " + std::to_string(column));
    return paint;
  }
  Notification n;
  n.code = NM_CUSTOMDRAW;
  n.item = row;
  n.subItem = column;
  n.textColor = w->textColor;
  n.textBkColor = w->bkColor;
  n.drawStage = CDDS_PREPAINT;
  paint.prepaintAnswer = NotifyParent(w, n);
  // Later stages are only sent to a handler that asked for them, like the platform.
  if (Find(w) != nullptr && (paint.prepaintAnswer & CDRF_NOTIFYITEMDRAW) != 0) {
    n.drawStage = CDDS_ITEMPREPAINT;
    paint.itemAnswer = NotifyParent(w, n);
    if (Find(w) != nullptr && (paint.itemAnswer & CDRF_NOTIFYSUBITEMDRAW) != 0) {
      n.drawStage = CDDS_ITEMPREPAINT | CDDS_SUBITEM;
      paint.subItemAnswer = NotifyParent(w, n);
    }
  }
  paint.text = n.textColor;
  paint.background = n.textBkColor;
  return paint;
}

}  // namespace tk::headless
