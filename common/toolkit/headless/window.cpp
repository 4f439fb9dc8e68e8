// CWnd operations, the system menu and the paint context on in-memory windows.
#include "backend.h"
#include "ip_text.h"
#include "tk/detail/dispatch.h"
#include "tk/wnd.h"

namespace tk {

using namespace tk::headless::detail;

namespace {

// WM_GETDLGCODE answers of the platform's controls.
constexpr UINT kDlgcWantArrows = 0x0001;
constexpr UINT kDlgcHasSetSel = 0x0008;
constexpr UINT kDlgcWantChars = 0x0080;
constexpr UINT kDlgcStatic = 0x0100;

UINT ButtonDlgCode(DWORD style) {
  switch (style & BS_TYPEMASK) {
    case BS_PUSHBUTTON:
    case BS_USERBUTTON:
    case BS_OWNERDRAW:
      return DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
    case BS_DEFPUSHBUTTON:
      return DLGC_BUTTON | DLGC_DEFPUSHBUTTON;
    case BS_RADIOBUTTON:
    case BS_AUTORADIOBUTTON:
      return DLGC_BUTTON | DLGC_RADIOBUTTON;
    case BS_GROUPBOX:
      return kDlgcStatic;
    default:
      return DLGC_BUTTON;
  }
}

}  // namespace

bool CWnd::IsWindow() const {
  return Find(m_hWnd) != nullptr;
}

void CWnd::SetWindowText(const std::string& text) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return;
  if (w->kind == Kind::IPAddress) {
    std::uint32_t a = 0;
    w->blank = !tk::detail::ParseIpControlText(text, a);
    w->address = w->blank ? 0 : a;
    return;
  }
  w->text = text;
}

std::string CWnd::GetWindowText() const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return {};
  if (w->kind == Kind::ComboBox) {
    return w->selection >= 0 ? w->entries[static_cast<size_t>(w->selection)] : std::string();
  }
  if (w->kind == Kind::IPAddress) return w->blank ? std::string() : InetNtoa(w->address);
  return w->text;
}

bool CWnd::EnableWindow(bool enable) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  bool wasDisabled = (w->style & WS_DISABLED) != 0;
  if (enable) {
    w->style &= ~WS_DISABLED;
  } else {
    w->style |= WS_DISABLED;
  }
  return wasDisabled;
}

bool CWnd::IsWindowEnabled() const {
  Window* w = Find(m_hWnd);
  return w != nullptr && (w->style & WS_DISABLED) == 0;
}

bool CWnd::ShowWindow(int cmdShow) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  bool wasVisible = (w->style & WS_VISIBLE) != 0;
  switch (cmdShow) {
    case SW_HIDE:
      w->style &= ~WS_VISIBLE;
      break;
    case SW_MINIMIZE:
      w->style |= WS_VISIBLE;
      w->iconic = true;
      break;
    case SW_RESTORE:
    case SW_SHOWNORMAL:
      w->style |= WS_VISIBLE;
      w->iconic = false;
      break;
    default:
      w->style |= WS_VISIBLE;
      break;
  }
  return wasVisible;
}

bool CWnd::IsWindowVisible() const {
  Window* w = Find(m_hWnd);
  return w != nullptr && (w->style & WS_VISIBLE) != 0;
}

bool CWnd::IsIconic() const {
  Window* w = Find(m_hWnd);
  return w != nullptr && w->iconic;
}

void CWnd::SetFocus() {
  Window* w = Find(m_hWnd);
  if (w != nullptr) S().focus = w;
}

bool CWnd::HasFocus() const {
  Window* w = Find(m_hWnd);
  return w != nullptr && S().focus == w;
}

int CWnd::GetDlgCtrlID() const {
  Window* w = Find(m_hWnd);
  return w != nullptr ? w->id : 0;
}

CWnd CWnd::GetDlgItem(int id) const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return CWnd();
  return CWnd(H(ChildById(w, id)));
}

CWnd CWnd::GetParent() const {
  Window* w = Find(m_hWnd);
  if (w == nullptr || Find(w->parent) == nullptr) return CWnd();
  return CWnd(H(w->parent));
}

DWORD CWnd::GetStyle() const {
  Window* w = Find(m_hWnd);
  return w != nullptr ? w->style : 0;
}

DWORD CWnd::GetExStyle() const {
  Window* w = Find(m_hWnd);
  return w != nullptr ? w->exStyle : 0;
}

bool CWnd::ModifyStyle(DWORD remove, DWORD add) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  DWORD style = (w->style & ~remove) | add;
  if (style == w->style) return false;
  w->style = style;
  return true;
}

CRect CWnd::GetClientRect() const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return {};
  return {0, 0, w->rect.Width(), w->rect.Height()};
}

void CWnd::Invalidate(bool) {
  Window* w = Find(m_hWnd);
  if (w != nullptr) ++w->redrawCount;
}

void CWnd::UpdateWindow() {}

void CWnd::SetRedraw(bool redraw) {
  Window* w = Find(m_hWnd);
  if (w != nullptr) w->redrawOff = !redraw;
}

bool CWnd::LockWindowUpdate() {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  // One window at a time, like the platform.
  if (S().updateLocked != nullptr && S().updateLocked != w) return false;
  S().updateLocked = w;
  return true;
}

void CWnd::UnlockWindowUpdate() {
  S().updateLocked = nullptr;
}

void CWnd::SetIcon(HICON icon, bool big) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return;
  (big ? w->bigIcon : w->smallIcon) = icon;
}

UINT CWnd::QueryDlgCode() const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return 0;
  switch (w->kind) {
    case Kind::Button:
      return ButtonDlgCode(w->style);
    case Kind::Edit:
      return kDlgcWantChars | kDlgcHasSetSel | kDlgcWantArrows;
    case Kind::Static:
      return kDlgcStatic;
    case Kind::ComboBox:
    case Kind::ListView:
    case Kind::IPAddress:
      return kDlgcWantChars | kDlgcWantArrows;
    default:
      return 0;
  }
}

CMenu CWnd::GetSystemMenu(bool) const {
  Window* w = Find(m_hWnd);
  if (w == nullptr || !w->systemMenu) return CMenu();
  return CMenu(w->systemMenu.get());
}

bool CMenu::AppendMenu(UINT flags, UINT_PTR id, const std::string& text) {
  auto* menu = static_cast<headless::detail::Menu*>(m_hMenu);
  if (menu == nullptr || S().menus.count(menu) == 0) return false;
  menu->items.push_back({flags, id, (flags & MF_SEPARATOR) != 0 ? std::string() : text});
  return true;
}

bool CWnd::SubclassWindow(Handle h) {
  Window* w = Find(h);
  if (w == nullptr) return false;
  if (w->target != nullptr && w->target != this) {
    tk::detail::ReportMisuse("SubclassWindow: " + DescribeWindow(w) + " already has a message target");
    return false;
  }
  m_hWnd = h;
  tk::detail::Dispatch::PreSubclass(*this);
  if (Find(h) == nullptr) return false;
  w->target = this;
  return true;
}

bool CWnd::IsSubclassed() const {
  Window* w = Find(m_hWnd);
  return w != nullptr && w->target == this;
}

// ---- painting ------------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* wnd) : m_wnd(wnd) {
  Window* w = wnd != nullptr ? Find(wnd->GetSafeHwnd()) : nullptr;
  m_hdc = H(w);
  m_paint = w;
}

CPaintDC::~CPaintDC() = default;

bool CPaintDC::DrawIcon(int x, int y, HICON icon) {
  Window* w = Find(static_cast<Window*>(m_paint));
  if (w == nullptr || icon == nullptr) return false;
  w->iconDraws.push_back({x, y, icon});
  return true;
}

}  // namespace tk
