// The headless backend's core: the window registry, message delivery with the
// platform's default handling, failures, Reset and Leftovers.
#include "backend.h"

#include <algorithm>
#include <iostream>

#include "tk/detail/dispatch.h"

namespace tk::headless::detail {

using tk::detail::Dispatch;

State& S() {
  static State state;
  return state;
}

void Fail(const std::string& what) {
  if (S().failure) {
    S().failure(what);
  } else {
    std::cerr << "headless backend: " << what << "\n";
  }
}

Window* Find(Handle h) {
  auto* w = static_cast<Window*>(h);
  return S().live.count(w) != 0 ? w : nullptr;
}

CRect DialogUnitsToPixels(CRect r) {
  // Base units of an 8-point "MS Shell Dlg": 6 x 13 pixels per 4 x 8 units.
  return {r.left * 6 / 4, r.top * 13 / 8, r.right * 6 / 4, r.bottom * 13 / 8};
}

Window* CreateWindowObject(Kind kind, Window* parent, int id, const std::string& text, DWORD style,
                           DWORD exStyle, CRect rect) {
  auto owned = std::make_unique<Window>();
  Window* w = owned.get();
  w->kind = kind;
  w->parent = parent;
  w->id = id;
  w->text = text;
  w->style = style;
  w->exStyle = exStyle;
  w->rect = rect;
  if (kind == Kind::UpDown) {
    w->low = 100;  // the platform's default range of an up-down control
    w->high = 0;
  }
  S().all.push_back(std::move(owned));
  S().live.insert(w);
  bool topLevel = kind == Kind::Dialog || kind == Kind::Sheet;
  if (topLevel) {
    S().topLevel.push_back(w);
    if ((style & WS_SYSMENU) != 0) w->systemMenu = std::make_unique<Menu>();
    if (w->systemMenu) S().menus.insert(w->systemMenu.get());
  }
  if (parent != nullptr && !topLevel) parent->children.push_back(w);
  return w;
}

namespace {

void DetachTarget(Window* w) {
  if (w->target == nullptr) return;
  Dispatch::SetHandle(*w->target, nullptr);
  w->target = nullptr;
}

void SendDestroy(Window* w) {
  if (w->target != nullptr) Dispatch::Destroy(*w->target);
  // OnDestroy may have destroyed children already; iterate over a copy.
  std::vector<Window*> children = w->children;
  for (Window* c : children) {
    if (Find(c) != nullptr) SendDestroy(c);
  }
}

void Unregister(Window* w) {
  for (Window* c : w->children) {
    if (Find(c) != nullptr) Unregister(c);
  }
  State& s = S();
  DetachTarget(w);
  s.live.erase(w);
  std::erase_if(s.timers, [w](const Timer& t) { return t.window == w; });
  std::erase(s.topLevel, w);
  if (w->systemMenu) s.menus.erase(w->systemMenu.get());
  if (s.focus == w) s.focus = nullptr;
  if (s.updateLocked == w) s.updateLocked = nullptr;
}

}  // namespace

void DestroyWindowObject(Window* w) {
  if (Find(w) == nullptr) return;
  SendDestroy(w);
  if (Find(w) == nullptr) return;  // an OnDestroy destroyed it already
  if (w->parent != nullptr && Find(w->parent) != nullptr) std::erase(w->parent->children, w);
  Unregister(w);
}

Window* ChildById(const Window* parent, int id) {
  for (Window* c : parent->children) {
    if (c->kind != Kind::Page && c->kind != Kind::Header && c->id == id) return c;
  }
  return nullptr;
}

namespace {
CPropertySheet& SheetOf(Window* w) {
  return static_cast<CPropertySheet&>(*w->target);  // a sheet window's target is its sheet
}
}  // namespace

void CloseWindow(Window* w) {
  if (w->target == nullptr) return;
  if (w->kind == Kind::Sheet) {
    Dispatch::SheetClose(SheetOf(w));
    return;
  }
  bool handled = Dispatch::Close(*w->target);
  if (handled || Find(w) == nullptr || w->target == nullptr) return;
  if (w->kind == Kind::Dialog) Dispatch::Command(*w->target, IDCANCEL, BN_CLICKED, nullptr);
}

LRESULT Deliver(Window* w, UINT msg, WPARAM wParam, LPARAM lParam) {
  if (w->target == nullptr) {
    if (msg == WM_ICONERASEBKGND) w->iconErased = true;
    if (msg == WM_GETDLGCODE) return static_cast<LRESULT>(CWnd(H(w)).QueryDlgCode());
    return 0;
  }
  CWnd& t = *w->target;
  switch (msg) {
    case WM_COMMAND: {
      const auto id = static_cast<UINT>(wParam & 0xFFFF);
      const auto code = static_cast<UINT>((wParam >> 16) & 0xFFFF);
      const auto control = reinterpret_cast<Handle>(lParam);
      if (w->kind == Kind::Sheet) {
        Dispatch::SheetCommand(SheetOf(w), id, code, control);
      } else {
        Dispatch::Command(t, id, code, control);
      }
      return 0;
    }
    case WM_CLOSE:
      CloseWindow(w);
      return 0;
    case WM_TIMER:
      Dispatch::Timer(t, static_cast<UINT_PTR>(wParam));
      return 0;
    case WM_SYSCOMMAND:
      Dispatch::SysCommand(t, static_cast<UINT>(wParam), lParam);
      return 0;
    case WM_PAINT:
      Dispatch::Paint(t);
      return 0;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(Dispatch::QueryDragIcon(t));
    case WM_GETDLGCODE:
      return static_cast<LRESULT>(CWnd(H(w)).QueryDlgCode());
    default:
      break;
  }
  LRESULT result = 0;
  bool handled = Dispatch::Message(t, msg, wParam, lParam, result);
  if (!handled && msg == WM_ICONERASEBKGND && Find(w) != nullptr) w->iconErased = true;
  return result;
}

LRESULT NotifyParent(Window* control, Notification& n) {
  n.idFrom = control->id;
  n.from = H(control);
  LRESULT result = 0;
  if (control->target != nullptr && Dispatch::Reflected(*control->target, n, result)) return result;
  if (Find(control) == nullptr) return 0;
  Window* parent = control->parent;
  if (parent == nullptr || Find(parent) == nullptr || parent->target == nullptr) return 0;
  result = 0;
  Dispatch::Notify(*parent->target, control->id, n, result);
  return result;
}

std::string DescribeWindow(const Window* w) {
  static const char* const kNames[] = {"dialog", "property sheet", "property page", "button",
                                       "edit",   "static",         "combo box",     "list view",
                                       "header", "progress bar",   "IP address",    "up-down"};
  std::string d = kNames[static_cast<int>(w->kind)];
  if (w->id != 0) d += " " + std::to_string(w->id);
  if (!w->text.empty()) d += " \"" + w->text + "\"";
  return d;
}

}  // namespace tk::headless::detail

namespace tk::detail {

using namespace tk::headless::detail;

std::vector<Handle> ChildWindows(Handle parent) {
  std::vector<Handle> out;
  Window* w = Find(parent);
  if (w == nullptr) return out;
  for (Window* c : w->children) {
    if (c->kind != Kind::Page && c->kind != Kind::Header) out.push_back(H(c));
  }
  return out;
}

void ReportMisuse(const std::string& what) {
  Fail("misuse: " + what);
}

}  // namespace tk::detail

namespace tk::headless {

using namespace detail;

void SetFailureHandler(std::function<void(const std::string&)> handler) {
  S().failure = std::move(handler);
}

void Reset() {
  State& s = S();
  CloseAllSockets();
  // Windows still open belong to objects that may be gone: forget them without
  // calling into them.
  State fresh;
  fresh.failure = std::move(s.failure);
  s = std::move(fresh);
}

std::string Leftovers() {
  State& s = S();
  std::string out;
  for (Window* w : s.topLevel) out += "open window: " + DescribeWindow(w) + "\n";
  for (const Timer& t : s.timers) {
    out += "live timer " + std::to_string(t.id) + " of " + DescribeWindow(t.window) + "\n";
  }
  if (!s.asyncSockets.empty())
    out += std::to_string(s.asyncSockets.size()) + " open asynchronous socket(s)\n";
  if (OpenBlockingSockets() != 0) out += std::to_string(OpenBlockingSockets()) + " open blocking socket(s)\n";
  for (const ModalAnswer& m : s.expectedModals) out += "unused modal handler for \"" + m.caption + "\"\n";
  if (!s.messageBoxAnswers.empty()) {
    out += std::to_string(s.messageBoxAnswers.size()) + " unused message box answer(s)\n";
  }
  if (!s.fileDialogAnswers.empty()) {
    out += std::to_string(s.fileDialogAnswers.size()) + " unused file dialog answer(s)\n";
  }
  return out;
}

std::vector<MenuItem> SystemMenu(const CWnd& window) {
  Window* w = Find(window.GetSafeHwnd());
  if (w == nullptr || !w->systemMenu) return {};
  return w->systemMenu->items;
}

HICON WindowIcon(const CWnd& window, bool big) {
  Window* w = Find(window.GetSafeHwnd());
  if (w == nullptr) return nullptr;
  return big ? w->bigIcon : w->smallIcon;
}

std::vector<IconDraw> IconDraws(const CWnd& window) {
  Window* w = Find(window.GetSafeHwnd());
  return w != nullptr ? w->iconDraws : std::vector<IconDraw>{};
}

bool IconBackgroundErased(const CWnd& window) {
  Window* w = Find(window.GetSafeHwnd());
  return w != nullptr && w->iconErased;
}

std::vector<int> ChildIds(const CWnd& window) {
  std::vector<int> ids;
  for (Handle h : tk::detail::ChildWindows(window.GetSafeHwnd())) ids.push_back(static_cast<Window*>(h)->id);
  return ids;
}

CWnd FocusedWindow() {
  return CWnd(H(S().focus));
}

std::vector<CWnd> OpenWindows() {
  std::vector<CWnd> out;
  for (Window* w : S().topLevel) out.emplace_back(H(w));
  return out;
}

bool IsRedrawLocked(const CWnd& control) {
  Window* w = Find(control.GetSafeHwnd());
  return w != nullptr && (w->redrawOff || S().updateLocked == w);
}

int RedrawCount(const CWnd& control) {
  Window* w = Find(control.GetSafeHwnd());
  return w != nullptr ? w->redrawCount : 0;
}

}  // namespace tk::headless
