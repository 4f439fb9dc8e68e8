// The control wrappers (all but the list view) on in-memory controls.
#include <algorithm>
#include <cctype>

#include "backend.h"
#include "tk/controls.h"

namespace tk {

using namespace tk::headless::detail;

namespace {

Window* FindKind(Handle h, Kind kind) {
  Window* w = Find(h);
  return w != nullptr && w->kind == kind ? w : nullptr;
}

bool LessNoCase(const std::string& a, const std::string& b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return std::tolower(static_cast<unsigned char>(x)) < std::tolower(static_cast<unsigned char>(y));
  });
}

}  // namespace

// ---- buttons ---------------------------------------------------------------------

int CButton::GetCheck() const {
  Window* w = FindKind(m_hWnd, Kind::Button);
  return w != nullptr ? w->check : BST_UNCHECKED;
}

void CButton::SetCheck(int check) {
  Window* w = FindKind(m_hWnd, Kind::Button);
  if (w != nullptr) w->check = check != 0 ? BST_CHECKED : BST_UNCHECKED;
}

DWORD CButton::GetButtonStyle() const {
  Window* w = FindKind(m_hWnd, Kind::Button);
  return w != nullptr ? (w->style & BS_TYPEMASK) : 0;
}

void CButton::SetIcon(HICON icon) {
  Window* w = FindKind(m_hWnd, Kind::Button);
  if (w != nullptr) w->image = icon;
}

HICON CButton::GetIcon() const {
  Window* w = FindKind(m_hWnd, Kind::Button);
  return w != nullptr ? w->image : nullptr;
}

// ---- edits and statics -------------------------------------------------------------

void CEdit::SetLimitText(UINT maxChars) {
  Window* w = FindKind(m_hWnd, Kind::Edit);
  // Zero asks for the platform's largest limit.
  if (w != nullptr) w->limit = maxChars == 0 ? 0x7FFFFFFEu : maxChars;
}

UINT CEdit::GetLimitText() const {
  Window* w = FindKind(m_hWnd, Kind::Edit);
  return w != nullptr ? w->limit : 0;
}

void CEdit::SetSel(int start, int end) {
  Window* w = FindKind(m_hWnd, Kind::Edit);
  if (w == nullptr) return;
  const int size = static_cast<int>(w->text.size());
  w->selStart = std::clamp(start, 0, size);
  w->selEnd = end < 0 ? size : std::clamp(end, 0, size);
}

HICON CStatic::GetIcon() const {
  Window* w = FindKind(m_hWnd, Kind::Static);
  return w != nullptr ? w->image : nullptr;
}

HICON CStatic::SetIcon(HICON icon) {
  Window* w = FindKind(m_hWnd, Kind::Static);
  if (w == nullptr) return nullptr;
  HICON previous = w->image;
  w->image = icon;
  return previous;
}

// ---- combo boxes ----------------------------------------------------------------------

int CComboBox::AddString(const std::string& text) {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  if (w == nullptr) return CB_ERR;
  auto at = w->entries.end();
  if ((w->style & CBS_SORT) != 0) {
    at = std::upper_bound(w->entries.begin(), w->entries.end(), text, LessNoCase);
  }
  int index = static_cast<int>(at - w->entries.begin());
  w->entries.insert(at, text);
  if (w->selection >= index) ++w->selection;
  return index;
}

int CComboBox::GetCount() const {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  return w != nullptr ? static_cast<int>(w->entries.size()) : CB_ERR;
}

int CComboBox::GetCurSel() const {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  return w != nullptr ? w->selection : CB_ERR;
}

int CComboBox::SetCurSel(int index) {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  if (w == nullptr) return CB_ERR;
  if (index < 0 || index >= static_cast<int>(w->entries.size())) {
    w->selection = -1;
    return CB_ERR;
  }
  w->selection = index;
  return index;
}

std::string CComboBox::GetLBText(int index) const {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  if (w == nullptr || index < 0 || index >= static_cast<int>(w->entries.size())) return {};
  return w->entries[static_cast<size_t>(index)];
}

void CComboBox::ResetContent() {
  Window* w = FindKind(m_hWnd, Kind::ComboBox);
  if (w == nullptr) return;
  w->entries.clear();
  w->selection = -1;
}

// ---- progress bars ------------------------------------------------------------------------

void CProgressCtrl::SetRange32(int low, int high) {
  Window* w = FindKind(m_hWnd, Kind::Progress);
  if (w == nullptr) return;
  w->low = low;
  w->high = high;
  w->pos = std::clamp(w->pos, std::min(low, high), std::max(low, high));
}

void CProgressCtrl::GetRange(int& low, int& high) const {
  Window* w = FindKind(m_hWnd, Kind::Progress);
  low = w != nullptr ? w->low : 0;
  high = w != nullptr ? w->high : 0;
}

int CProgressCtrl::SetPos(int pos) {
  Window* w = FindKind(m_hWnd, Kind::Progress);
  if (w == nullptr) return 0;
  int previous = w->pos;
  w->pos = std::clamp(pos, std::min(w->low, w->high), std::max(w->low, w->high));
  return previous;
}

int CProgressCtrl::GetPos() const {
  Window* w = FindKind(m_hWnd, Kind::Progress);
  return w != nullptr ? w->pos : 0;
}

// ---- IP address controls ----------------------------------------------------------------------

void CIPAddressCtrl::SetAddress(DWORD address) {
  Window* w = FindKind(m_hWnd, Kind::IPAddress);
  if (w == nullptr) return;
  w->address = address;
  w->blank = false;
}

void CIPAddressCtrl::SetAddress(int b0, int b1, int b2, int b3) {
  SetAddress(
      static_cast<DWORD>(((b0 & 0xFF) << 24) | ((b1 & 0xFF) << 16) | ((b2 & 0xFF) << 8) | (b3 & 0xFF)));
}

int CIPAddressCtrl::GetAddress(DWORD& address) const {
  Window* w = FindKind(m_hWnd, Kind::IPAddress);
  if (w == nullptr || w->blank) {
    address = 0;
    return 0;
  }
  address = w->address;
  return 4;
}

void CIPAddressCtrl::ClearAddress() {
  Window* w = FindKind(m_hWnd, Kind::IPAddress);
  if (w == nullptr) return;
  w->address = 0;
  w->blank = true;
}

bool CIPAddressCtrl::IsBlank() const {
  Window* w = FindKind(m_hWnd, Kind::IPAddress);
  return w == nullptr || w->blank;
}

// ---- up-down controls ----------------------------------------------------------------------------

void CSpinButtonCtrl::SetRange32(int low, int high) {
  Window* w = FindKind(m_hWnd, Kind::UpDown);
  if (w == nullptr) return;
  w->low = low;
  w->high = high;
}

void CSpinButtonCtrl::GetRange32(int& low, int& high) const {
  Window* w = FindKind(m_hWnd, Kind::UpDown);
  low = w != nullptr ? w->low : 0;
  high = w != nullptr ? w->high : 0;
}

int CSpinButtonCtrl::SetPos32(int pos) {
  Window* w = FindKind(m_hWnd, Kind::UpDown);
  if (w == nullptr) return 0;
  int previous = w->pos;
  w->pos = std::clamp(pos, std::min(w->low, w->high), std::max(w->low, w->high));
  return previous;
}

int CSpinButtonCtrl::GetPos32() const {
  Window* w = FindKind(m_hWnd, Kind::UpDown);
  return w != nullptr ? w->pos : 0;
}

int CHeaderCtrl::GetItemCount() const {
  Window* w = FindKind(m_hWnd, Kind::Header);
  if (w == nullptr || Find(w->parent) == nullptr) return 0;
  return static_cast<int>(w->parent->columns.size());
}

}  // namespace tk
