// CWnd operations, the system menu, paint contexts and subclassed controls.
#include <map>
#include <set>

#include "ip_text.h"
#include "win32_platform.h"

namespace tk {

namespace {

HWND H(Handle h) {
  return static_cast<HWND>(h);
}

// The object a hooked control belongs to is kept as a window property, so the
// parent can offer a notification to its control first (reflection).
constexpr char kObjectProperty[] = "tk.object";
constexpr UINT_PTR kSubclassId = 0x746B;  // "tk"

CPoint PointOf(LPARAM lp) {
  return CPoint{static_cast<short>(LOWORD(lp)), static_cast<short>(HIWORD(lp))};
}

// Timers that program code set on a hooked control through CWnd::SetTimer. Their
// WM_TIMER goes to the bound object's OnTimer; the control's own internal timers
// (a list view has several) stay with the control.
std::map<HWND, std::set<UINT_PTR>>& ControlTimers() {
  static std::map<HWND, std::set<UINT_PTR>> timers;
  return timers;
}

bool IsProgramTimer(HWND h, WPARAM id) {
  auto found = ControlTimers().find(h);
  return found != ControlTimers().end() && found->second.count(id) != 0;
}

bool IsMouseButtonMessage(UINT msg) {
  switch (msg) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK:
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
    case WM_MBUTTONDOWN:
    case WM_MBUTTONDBLCLK:
      return true;
    default:
      return false;
  }
}

::LRESULT CALLBACK ControlProc(HWND h, ::UINT msg, ::WPARAM wp, ::LPARAM lp, ::UINT_PTR, ::DWORD_PTR ref) {
  CWnd& wnd = *reinterpret_cast<CWnd*>(ref);
  if (IsMouseButtonMessage(msg)) {
    if (detail::Dispatch::Mouse(wnd, msg, static_cast<UINT>(wp), PointOf(lp))) return 0;
  } else if (msg == WM_KEYDOWN) {
    if (detail::Dispatch::KeyDown(wnd, static_cast<UINT>(wp))) return 0;
  } else if (msg == WM_TIMER && IsProgramTimer(h, wp)) {
    detail::Dispatch::Timer(wnd, wp);
    return 0;
  } else if (msg == WM_DESTROY) {
    detail::Dispatch::Destroy(wnd);
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(h, ControlProc, kSubclassId);
    RemovePropA(h, kObjectProperty);
    ControlTimers().erase(h);
    detail::Dispatch::SetHandle(wnd, nullptr);
  } else if (msg >= WM_USER && msg < 0x1000) {
    // Private messages of the program; the control's own range starts at 0x1000.
    LRESULT result = 0;
    if (detail::Dispatch::Message(wnd, msg, wp, lp, result)) return result;
  }
  return DefSubclassProc(h, msg, wp, lp);
}

}  // namespace

namespace win32 {

CWnd* BoundObject(HWND h) {
  return h != nullptr ? static_cast<CWnd*>(GetPropA(h, kObjectProperty)) : nullptr;
}

bool HookControl(CWnd& wnd, HWND h) {
  if (h == nullptr || !::IsWindow(h)) return false;
  if (BoundObject(h) != nullptr) {
    detail::ReportMisuse("SubclassWindow: window already bound to an object");
    return false;
  }
  if (!SetWindowSubclass(h, ControlProc, kSubclassId, reinterpret_cast<DWORD_PTR>(&wnd))) return false;
  SetPropA(h, kObjectProperty, &wnd);
  detail::Dispatch::SetHandle(wnd, h);
  return true;
}

std::wstring Widen(const std::string& text) {
  if (text.empty()) return {};
  int n = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), n);
  return wide;
}

std::string WindowTextOf(HWND h) {
  int length = GetWindowTextLengthA(h);
  if (length <= 0) return {};
  std::string text(static_cast<size_t>(length) + 1, '\0');
  int copied = GetWindowTextA(h, text.data(), length + 1);
  text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
  return text;
}

}  // namespace win32

// ---- CMenu -----------------------------------------------------------------------

bool CMenu::AppendMenu(UINT flags, UINT_PTR id, const std::string& text) {
  const char* item = (flags & MF_SEPARATOR) != 0 ? nullptr : text.c_str();
  return AppendMenuA(static_cast<HMENU>(m_hMenu), flags, id, item) != FALSE;
}

// ---- CWnd --------------------------------------------------------------------------

bool CWnd::IsWindow() const {
  return m_hWnd != nullptr && ::IsWindow(H(m_hWnd)) != FALSE;
}

namespace {

// The IP address control keeps its address in four field boxes; its own window
// text is not the address on every implementation, so the text goes through
// the address messages, with the same text form as on the headless backend.
bool IsIpAddressControl(HWND h) {
  char name[32] = {};
  GetClassNameA(h, name, sizeof(name));
  return lstrcmpiA(name, WC_IPADDRESSA) == 0;
}

}  // namespace

void CWnd::SetWindowText(const std::string& text) {
  if (m_hWnd != nullptr && IsIpAddressControl(H(m_hWnd))) {
    std::uint32_t address = 0;
    if (detail::ParseIpControlText(text, address)) {
      SendMessageA(H(m_hWnd), IPM_SETADDRESS, 0, static_cast<LPARAM>(address));
    } else {
      SendMessageA(H(m_hWnd), IPM_CLEARADDRESS, 0, 0);
    }
    return;
  }
  SetWindowTextA(H(m_hWnd), text.c_str());
}

std::string CWnd::GetWindowText() const {
  if (m_hWnd != nullptr && IsIpAddressControl(H(m_hWnd))) {
    if (SendMessageA(H(m_hWnd), IPM_ISBLANK, 0, 0) != 0) return {};
    ::DWORD address = 0;
    SendMessageA(H(m_hWnd), IPM_GETADDRESS, 0, reinterpret_cast<LPARAM>(&address));
    return InetNtoa(static_cast<std::uint32_t>(address));
  }
  return win32::WindowTextOf(H(m_hWnd));
}

bool CWnd::EnableWindow(bool enable) {
  return ::EnableWindow(H(m_hWnd), enable ? TRUE : FALSE) != FALSE;
}

bool CWnd::IsWindowEnabled() const {
  return ::IsWindowEnabled(H(m_hWnd)) != FALSE;
}

bool CWnd::ShowWindow(int cmdShow) {
  return ::ShowWindow(H(m_hWnd), cmdShow) != FALSE;
}

bool CWnd::IsWindowVisible() const {
  return (GetStyle() & WS_VISIBLE) != 0;
}

bool CWnd::IsIconic() const {
  return ::IsIconic(H(m_hWnd)) != FALSE;
}

void CWnd::SetFocus() {
  ::SetFocus(H(m_hWnd));
}

bool CWnd::HasFocus() const {
  return m_hWnd != nullptr && ::GetFocus() == H(m_hWnd);
}

int CWnd::GetDlgCtrlID() const {
  return ::GetDlgCtrlID(H(m_hWnd));
}

CWnd CWnd::GetDlgItem(int id) const {
  if (m_hWnd == nullptr) return CWnd();
  return CWnd(::GetDlgItem(H(m_hWnd), id));
}

CWnd CWnd::GetParent() const {
  return CWnd(m_hWnd != nullptr ? ::GetParent(H(m_hWnd)) : nullptr);
}

DWORD CWnd::GetStyle() const {
  return static_cast<DWORD>(GetWindowLongA(H(m_hWnd), GWL_STYLE));
}

DWORD CWnd::GetExStyle() const {
  return static_cast<DWORD>(GetWindowLongA(H(m_hWnd), GWL_EXSTYLE));
}

bool CWnd::ModifyStyle(DWORD remove, DWORD add) {
  DWORD style = GetStyle();
  DWORD changed = (style & ~remove) | add;
  if (changed == style) return false;
  SetWindowLongA(H(m_hWnd), GWL_STYLE, static_cast<LONG>(changed));
  return true;
}

CRect CWnd::GetClientRect() const {
  RECT r{};
  ::GetClientRect(H(m_hWnd), &r);
  return CRect{r.left, r.top, r.right, r.bottom};
}

void CWnd::Invalidate(bool erase) {
  InvalidateRect(H(m_hWnd), nullptr, erase ? TRUE : FALSE);
}

void CWnd::UpdateWindow() {
  ::UpdateWindow(H(m_hWnd));
}

void CWnd::SetRedraw(bool redraw) {
  SendMessageA(H(m_hWnd), WM_SETREDRAW, redraw ? TRUE : FALSE, 0);
}

bool CWnd::LockWindowUpdate() {
  return ::LockWindowUpdate(H(m_hWnd)) != FALSE;
}

void CWnd::UnlockWindowUpdate() {
  ::LockWindowUpdate(nullptr);
}

void CWnd::SetIcon(HICON icon, bool big) {
  SendMessageA(H(m_hWnd), WM_SETICON, big ? ICON_BIG : ICON_SMALL, reinterpret_cast<LPARAM>(icon));
}

UINT CWnd::QueryDlgCode() const {
  return static_cast<UINT>(SendMessageA(H(m_hWnd), WM_GETDLGCODE, 0, 0));
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return SendMessageA(H(m_hWnd), msg, wParam, lParam);
}

bool CWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  return PostMessageA(H(m_hWnd), msg, wParam, lParam) != FALSE;
}

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs) {
  UINT_PTR set = ::SetTimer(H(m_hWnd), id, elapseMs, nullptr);
  if (set != 0 && win32::BoundObject(H(m_hWnd)) != nullptr) ControlTimers()[H(m_hWnd)].insert(id);
  return set;
}

bool CWnd::KillTimer(UINT_PTR id) {
  auto found = ControlTimers().find(H(m_hWnd));
  if (found != ControlTimers().end()) found->second.erase(id);
  return ::KillTimer(H(m_hWnd), id) != FALSE;
}

CMenu CWnd::GetSystemMenu(bool revert) const {
  return CMenu(::GetSystemMenu(H(m_hWnd), revert ? TRUE : FALSE));
}

bool CWnd::SubclassWindow(Handle h) {
  if (!win32::HookControl(*this, H(h))) return false;
  detail::Dispatch::PreSubclass(*this);
  return true;
}

bool CWnd::IsSubclassed() const {
  return m_hWnd != nullptr && win32::BoundObject(H(m_hWnd)) == this;
}

void CWnd::DefaultMouseMessage(UINT msg, UINT keyFlags, CPoint point) {
  // Only valid inside OnMouseMessage: continues the subclass chain to the
  // control's own window procedure.
  DefSubclassProc(H(m_hWnd), msg, keyFlags, MAKELPARAM(point.x, point.y));
}

// ---- CPaintDC ------------------------------------------------------------------------

CPaintDC::CPaintDC(CWnd* wnd) : m_wnd(wnd) {
  auto* paint = new PAINTSTRUCT{};
  m_paint = paint;
  m_hdc = BeginPaint(H(wnd->GetSafeHwnd()), paint);
}

CPaintDC::~CPaintDC() {
  auto* paint = static_cast<PAINTSTRUCT*>(m_paint);
  EndPaint(H(m_wnd->GetSafeHwnd()), paint);
  delete paint;
}

bool CPaintDC::DrawIcon(int x, int y, HICON icon) {
  return ::DrawIcon(static_cast<HDC>(m_hdc), x, y, static_cast<::HICON>(icon)) != FALSE;
}

}  // namespace tk
