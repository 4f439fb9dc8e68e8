// The control wrappers: each call is one message to the platform control.
#include "win32_platform.h"

namespace tk {

namespace {

HWND H(Handle h) {
  return static_cast<HWND>(h);
}

LRESULT Send(Handle h, UINT msg, WPARAM wp = 0, LPARAM lp = 0) {
  return SendMessageA(H(h), msg, wp, lp);
}

template <typename T>
LPARAM Ptr(T* p) {
  return reinterpret_cast<LPARAM>(p);
}

}  // namespace

// ---- buttons, edits, statics ---------------------------------------------------

int CButton::GetCheck() const {
  return static_cast<int>(Send(m_hWnd, BM_GETCHECK));
}

void CButton::SetCheck(int check) {
  Send(m_hWnd, BM_SETCHECK, static_cast<WPARAM>(check));
}

DWORD CButton::GetButtonStyle() const {
  return GetStyle() & BS_TYPEMASK;
}

void CButton::SetIcon(HICON icon) {
  Send(m_hWnd, BM_SETIMAGE, IMAGE_ICON, Ptr(icon));
}

HICON CButton::GetIcon() const {
  return reinterpret_cast<HICON>(Send(m_hWnd, BM_GETIMAGE, IMAGE_ICON));
}

void CEdit::SetLimitText(UINT maxChars) {
  Send(m_hWnd, EM_LIMITTEXT, maxChars);
}

UINT CEdit::GetLimitText() const {
  return static_cast<UINT>(Send(m_hWnd, EM_GETLIMITTEXT));
}

void CEdit::SetSel(int start, int end) {
  Send(m_hWnd, EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
}

HICON CStatic::GetIcon() const {
  return reinterpret_cast<HICON>(Send(m_hWnd, STM_GETICON));
}

HICON CStatic::SetIcon(HICON icon) {
  return reinterpret_cast<HICON>(Send(m_hWnd, STM_SETICON, reinterpret_cast<WPARAM>(icon)));
}

// ---- combo box ---------------------------------------------------------------------

int CComboBox::AddString(const std::string& text) {
  return static_cast<int>(Send(m_hWnd, CB_ADDSTRING, 0, Ptr(text.c_str())));
}

int CComboBox::GetCount() const {
  return static_cast<int>(Send(m_hWnd, CB_GETCOUNT));
}

int CComboBox::GetCurSel() const {
  return static_cast<int>(Send(m_hWnd, CB_GETCURSEL));
}

int CComboBox::SetCurSel(int index) {
  // An index with no entry clears the selection, as -1 does (not every
  // implementation of the control clears it by itself).
  if (index < 0 || index >= GetCount()) {
    Send(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(-1));
    return CB_ERR;
  }
  return static_cast<int>(Send(m_hWnd, CB_SETCURSEL, static_cast<WPARAM>(index)));
}

std::string CComboBox::GetLBText(int index) const {
  LRESULT length = Send(m_hWnd, CB_GETLBTEXTLEN, static_cast<WPARAM>(index));
  if (length == CB_ERR) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  LRESULT copied = Send(m_hWnd, CB_GETLBTEXT, static_cast<WPARAM>(index), Ptr(text.data()));
  text.resize(copied > 0 ? static_cast<size_t>(copied) : 0);
  return text;
}

void CComboBox::ResetContent() {
  Send(m_hWnd, CB_RESETCONTENT);
}

// ---- progress, IP address, up-down, header ---------------------------------------------

void CProgressCtrl::SetRange32(int low, int high) {
  Send(m_hWnd, PBM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void CProgressCtrl::GetRange(int& low, int& high) const {
  PBRANGE range{};
  Send(m_hWnd, PBM_GETRANGE, FALSE, Ptr(&range));
  low = range.iLow;
  high = range.iHigh;
}

int CProgressCtrl::SetPos(int pos) {
  return static_cast<int>(Send(m_hWnd, PBM_SETPOS, static_cast<WPARAM>(pos)));
}

int CProgressCtrl::GetPos() const {
  return static_cast<int>(Send(m_hWnd, PBM_GETPOS));
}

void CIPAddressCtrl::SetAddress(DWORD address) {
  Send(m_hWnd, IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
}

void CIPAddressCtrl::SetAddress(int b0, int b1, int b2, int b3) {
  SetAddress(static_cast<DWORD>(MAKEIPADDRESS(b0, b1, b2, b3)));
}

int CIPAddressCtrl::GetAddress(DWORD& address) const {
  ::DWORD value = 0;
  int fields = static_cast<int>(Send(m_hWnd, IPM_GETADDRESS, 0, Ptr(&value)));
  address = static_cast<DWORD>(value);
  return fields;
}

void CIPAddressCtrl::ClearAddress() {
  Send(m_hWnd, IPM_CLEARADDRESS);
}

bool CIPAddressCtrl::IsBlank() const {
  return Send(m_hWnd, IPM_ISBLANK) != 0;
}

void CSpinButtonCtrl::SetRange32(int low, int high) {
  Send(m_hWnd, UDM_SETRANGE32, static_cast<WPARAM>(low), static_cast<LPARAM>(high));
}

void CSpinButtonCtrl::GetRange32(int& low, int& high) const {
  Send(m_hWnd, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&low), Ptr(&high));
}

int CSpinButtonCtrl::SetPos32(int pos) {
  return static_cast<int>(Send(m_hWnd, UDM_SETPOS32, 0, pos));
}

int CSpinButtonCtrl::GetPos32() const {
  return static_cast<int>(Send(m_hWnd, UDM_GETPOS32));
}

int CHeaderCtrl::GetItemCount() const {
  return static_cast<int>(Send(m_hWnd, HDM_GETITEMCOUNT));
}

// ---- list view -------------------------------------------------------------------------

bool CListCtrl::Create(DWORD style, const CRect& rect, CWnd* parent, UINT id) {
  if (parent == nullptr || parent->GetSafeHwnd() == nullptr) return false;
  win32::InitControls();
  DWORD exStyle = 0;
  detail::Dispatch::PreCreate(*this, style, exStyle);
  HWND h = CreateWindowExA(exStyle, WC_LISTVIEWA, "", style, rect.left, rect.top, rect.Width(), rect.Height(),
                           H(parent->GetSafeHwnd()), reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)),
                           GetModuleHandleA(nullptr), nullptr);
  if (h == nullptr) return false;
  return win32::HookControl(*this, h);
}

int CListCtrl::InsertColumn(int col, const std::string& heading, int format, int width, int subItem) {
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT | LVCF_FMT;
  column.fmt = format;
  column.pszText = const_cast<char*>(heading.c_str());
  if (width != -1) {
    column.mask |= LVCF_WIDTH;
    column.cx = width;
  }
  if (subItem != -1) {
    column.mask |= LVCF_SUBITEM;
    column.iSubItem = subItem;
  }
  return static_cast<int>(Send(m_hWnd, LVM_INSERTCOLUMNA, static_cast<WPARAM>(col), Ptr(&column)));
}

bool CListCtrl::DeleteColumn(int col) {
  return Send(m_hWnd, LVM_DELETECOLUMN, static_cast<WPARAM>(col)) != 0;
}

int CListCtrl::GetColumnCount() const {
  return GetHeaderCtrl().GetItemCount();
}

std::string CListCtrl::GetColumnHeading(int col) const {
  char buffer[260] = {};
  LVCOLUMNA column{};
  column.mask = LVCF_TEXT;
  column.pszText = buffer;
  column.cchTextMax = sizeof(buffer);
  if (Send(m_hWnd, LVM_GETCOLUMNA, static_cast<WPARAM>(col), Ptr(&column)) == 0) return {};
  return column.pszText != nullptr ? std::string(column.pszText) : std::string();
}

int CListCtrl::GetColumnWidth(int col) const {
  return static_cast<int>(Send(m_hWnd, LVM_GETCOLUMNWIDTH, static_cast<WPARAM>(col)));
}

int CListCtrl::GetColumnFormat(int col) const {
  LVCOLUMNA column{};
  column.mask = LVCF_FMT;
  if (Send(m_hWnd, LVM_GETCOLUMNA, static_cast<WPARAM>(col), Ptr(&column)) == 0) return -1;
  return column.fmt & LVCFMT_JUSTIFYMASK;
}

CHeaderCtrl CListCtrl::GetHeaderCtrl() const {
  return CHeaderCtrl(reinterpret_cast<Handle>(Send(m_hWnd, LVM_GETHEADER)));
}

int CListCtrl::GetItemCount() const {
  return static_cast<int>(Send(m_hWnd, LVM_GETITEMCOUNT));
}

int CListCtrl::InsertItem(int item, const std::string& text) {
  LVITEMA row{};
  row.mask = LVIF_TEXT;
  row.iItem = item;
  row.pszText = const_cast<char*>(text.c_str());
  return static_cast<int>(Send(m_hWnd, LVM_INSERTITEMA, 0, Ptr(&row)));
}

int CListCtrl::InsertItem(int item, const std::string& text, LPARAM data) {
  LVITEMA row{};
  row.mask = LVIF_TEXT | LVIF_PARAM;
  row.iItem = item;
  row.pszText = const_cast<char*>(text.c_str());
  row.lParam = data;
  return static_cast<int>(Send(m_hWnd, LVM_INSERTITEMA, 0, Ptr(&row)));
}

bool CListCtrl::DeleteItem(int item) {
  return Send(m_hWnd, LVM_DELETEITEM, static_cast<WPARAM>(item)) != 0;
}

bool CListCtrl::DeleteAllItems() {
  return Send(m_hWnd, LVM_DELETEALLITEMS) != 0;
}

bool CListCtrl::SetItemText(int item, int subItem, const std::string& text) {
  LVITEMA cell{};
  cell.iSubItem = subItem;
  cell.pszText = const_cast<char*>(text.c_str());
  return Send(m_hWnd, LVM_SETITEMTEXTA, static_cast<WPARAM>(item), Ptr(&cell)) != 0;
}

std::string CListCtrl::GetItemText(int item, int subItem) const {
  // The control copies at most the buffer; grow until the text fits.
  for (size_t size = 256; size <= 65536; size *= 4) {
    std::string buffer(size, '\0');
    LVITEMA cell{};
    cell.iSubItem = subItem;
    cell.pszText = buffer.data();
    cell.cchTextMax = static_cast<int>(size);
    LRESULT length = Send(m_hWnd, LVM_GETITEMTEXTA, static_cast<WPARAM>(item), Ptr(&cell));
    if (length < 0) return {};
    if (static_cast<size_t>(length) + 1 < size) {
      buffer.resize(static_cast<size_t>(length));
      return buffer;
    }
  }
  return {};
}

bool CListCtrl::SetItemData(int item, LPARAM data) {
  LVITEMA row{};
  row.mask = LVIF_PARAM;
  row.iItem = item;
  row.lParam = data;
  return Send(m_hWnd, LVM_SETITEMA, 0, Ptr(&row)) != 0;
}

LPARAM CListCtrl::GetItemData(int item) const {
  LVITEMA row{};
  row.mask = LVIF_PARAM;
  row.iItem = item;
  if (Send(m_hWnd, LVM_GETITEMA, 0, Ptr(&row)) == 0) return 0;
  return row.lParam;
}

bool CListCtrl::SetItemState(int item, UINT state, UINT mask) {
  LVITEMA row{};
  row.state = state;
  row.stateMask = mask;
  return Send(m_hWnd, LVM_SETITEMSTATE, static_cast<WPARAM>(item), Ptr(&row)) != 0;
}

UINT CListCtrl::GetItemState(int item, UINT mask) const {
  return static_cast<UINT>(
      Send(m_hWnd, LVM_GETITEMSTATE, static_cast<WPARAM>(item), static_cast<LPARAM>(mask)));
}

bool CListCtrl::SetCheck(int item, bool check) {
  // State image 2 is the ticked box, 1 the empty one.
  return SetItemState(item, INDEXTOSTATEIMAGEMASK(check ? 2 : 1), LVIS_STATEIMAGEMASK);
}

bool CListCtrl::GetCheck(int item) const {
  return ((GetItemState(item, LVIS_STATEIMAGEMASK) >> 12) - 1) == 1;
}

int CListCtrl::GetItemImage(int item, int subItem) const {
  LVITEMA cell{};
  cell.mask = LVIF_IMAGE;
  cell.iItem = item;
  cell.iSubItem = subItem;
  if (Send(m_hWnd, LVM_GETITEMA, 0, Ptr(&cell)) == 0) return -1;
  return cell.iImage;
}

bool CListCtrl::SetItemImage(int item, int subItem, int image) {
  LVITEMA cell{};
  cell.mask = LVIF_IMAGE;
  cell.iItem = item;
  cell.iSubItem = subItem;
  cell.iImage = image;
  return Send(m_hWnd, LVM_SETITEMA, 0, Ptr(&cell)) != 0;
}

int CListCtrl::GetNextItem(int start, UINT flags) const {
  return static_cast<int>(Send(m_hWnd, LVM_GETNEXTITEM, static_cast<WPARAM>(start), MAKELPARAM(flags, 0)));
}

int CListCtrl::GetSelectedCount() const {
  return static_cast<int>(Send(m_hWnd, LVM_GETSELECTEDCOUNT));
}

int CListCtrl::HitTest(CPoint point, UINT* flags) const {
  LVHITTESTINFO info{};
  info.pt = POINT{point.x, point.y};
  int item = static_cast<int>(Send(m_hWnd, LVM_HITTEST, 0, Ptr(&info)));
  if (flags != nullptr) *flags = info.flags;
  return item;
}

int CListCtrl::SubItemHitTest(CPoint point, int* subItem, UINT* flags) const {
  LVHITTESTINFO info{};
  info.pt = POINT{point.x, point.y};
  Send(m_hWnd, LVM_SUBITEMHITTEST, 0, Ptr(&info));
  if (subItem != nullptr) *subItem = info.iSubItem;
  if (flags != nullptr) *flags = info.flags;
  return info.iItem;
}

bool CListCtrl::GetSubItemRect(int item, int subItem, CRect& rect) const {
  RECT r{};
  r.top = subItem;
  r.left = LVIR_BOUNDS;
  if (Send(m_hWnd, LVM_GETSUBITEMRECT, static_cast<WPARAM>(item), Ptr(&r)) == 0) return false;
  // For column 0 the control answers with the whole row; the cell ends where
  // the first column does.
  if (subItem == 0) r.right = r.left + GetColumnWidth(0);
  rect = CRect{r.left, r.top, r.right, r.bottom};
  return true;
}

DWORD CListCtrl::GetExtendedStyle() const {
  return static_cast<DWORD>(Send(m_hWnd, LVM_GETEXTENDEDLISTVIEWSTYLE));
}

DWORD CListCtrl::SetExtendedStyle(DWORD exStyle) {
  return static_cast<DWORD>(Send(m_hWnd, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, static_cast<LPARAM>(exStyle)));
}

bool CListCtrl::SetBkColor(COLORREF color) {
  return Send(m_hWnd, LVM_SETBKCOLOR, 0, static_cast<LPARAM>(color)) != 0;
}

COLORREF CListCtrl::GetBkColor() const {
  return static_cast<COLORREF>(Send(m_hWnd, LVM_GETBKCOLOR));
}

bool CListCtrl::RedrawItems(int first, int last) {
  return Send(m_hWnd, LVM_REDRAWITEMS, static_cast<WPARAM>(first), static_cast<LPARAM>(last)) != 0;
}

}  // namespace tk
