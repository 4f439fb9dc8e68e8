// Modal dialogs: the dialog procedure that decodes messages once and calls the
// window classes through tk::detail::Dispatch, and DoModal / EndDialog.
#include "win32_platform.h"

namespace tk {

namespace win32 {

namespace {

bool IsListView(HWND h) {
  char name[32] = {};
  GetClassNameA(h, name, sizeof(name));
  return lstrcmpiA(name, WC_LISTVIEWA) == 0;
}

// Fills the fields of a list view's notification that the code carries.
void DecodeListView(const NMHDR* header, Notification& n) {
  switch (header->code) {
    case NM_CLICK:
    case NM_DBLCLK:
    case NM_RCLICK: {
      const auto* activate = reinterpret_cast<const NMITEMACTIVATE*>(header);
      n.item = activate->iItem;
      n.subItem = activate->iSubItem;
      n.point = CPoint{activate->ptAction.x, activate->ptAction.y};
      break;
    }
    case LVN_COLUMNCLICK:
    case LVN_ITEMCHANGED: {
      const auto* lv = reinterpret_cast<const NMLISTVIEW*>(header);
      n.item = lv->iItem;
      n.subItem = lv->iSubItem;
      n.point = CPoint{lv->ptAction.x, lv->ptAction.y};
      n.newState = lv->uNewState;
      n.oldState = lv->uOldState;
      n.changed = lv->uChanged;
      break;
    }
    case NM_CUSTOMDRAW: {
      const auto* draw = reinterpret_cast<const NMLVCUSTOMDRAW*>(header);
      n.drawStage = draw->nmcd.dwDrawStage;
      n.item = static_cast<int>(draw->nmcd.dwItemSpec);
      n.subItem = draw->iSubItem;
      n.textColor = draw->clrText;
      n.textBkColor = draw->clrTextBk;
      break;
    }
    default:
      break;
  }
}

// The colours a custom-draw handler chose go back into the platform's record.
void WriteBack(NMHDR* header, const Notification& n, bool listView) {
  if (!listView || header->code != NM_CUSTOMDRAW) return;
  auto* draw = reinterpret_cast<NMLVCUSTOMDRAW*>(header);
  draw->clrText = n.textColor;
  draw->clrTextBk = n.textBkColor;
}

}  // namespace

bool RouteNotify(CWnd& owner, const NMHDR* constHeader, LRESULT& result) {
  auto* header = const_cast<NMHDR*>(constHeader);
  Notification n;
  n.code = header->code;
  n.idFrom = static_cast<int>(header->idFrom);
  n.from = header->hwndFrom;
  const bool listView = IsListView(header->hwndFrom);
  if (listView) DecodeListView(header, n);
  result = 0;
  CWnd* control = BoundObject(header->hwndFrom);
  bool handled = false;
  if (control != nullptr && control != &owner) handled = detail::Dispatch::Reflected(*control, n, result);
  if (!handled) handled = detail::Dispatch::Notify(owner, n.idFrom, n, result);
  if (handled) WriteBack(header, n, listView);
  return handled;
}

INT_PTR HandleDialogMessage(CDialog& dlg, HWND h, UINT msg, WPARAM wp, LPARAM lp, bool& handled) {
  handled = true;
  LRESULT result = 0;
  switch (msg) {
    case WM_COMMAND:
      handled = detail::Dispatch::Command(dlg, LOWORD(wp), HIWORD(wp), reinterpret_cast<Handle>(lp));
      return handled;
    case WM_NOTIFY:
      handled = RouteNotify(dlg, reinterpret_cast<const NMHDR*>(lp), result);
      if (handled) SetWindowLongPtrA(h, DWLP_MSGRESULT, result);
      return handled;
    case WM_TIMER:
      detail::Dispatch::Timer(dlg, wp);
      return TRUE;
    case WM_SYSCOMMAND:
      handled = detail::Dispatch::SysCommand(dlg, static_cast<UINT>(wp), lp);
      return handled;
    case WM_CLOSE:
      handled = detail::Dispatch::Close(dlg);
      return handled;
    case WM_PAINT:
      handled = detail::Dispatch::Paint(dlg);
      return handled;
    case WM_QUERYDRAGICON: {
      // One of the messages whose answer is the dialog procedure's return value.
      HICON icon = detail::Dispatch::QueryDragIcon(dlg);
      handled = icon != nullptr;
      return reinterpret_cast<INT_PTR>(icon);
    }
    case WM_DESTROY:
      detail::Dispatch::Destroy(dlg);
      handled = false;
      return FALSE;
    case WM_NCDESTROY:
      SetWindowLongPtrA(h, GWLP_USERDATA, 0);
      detail::Dispatch::SetHandle(dlg, nullptr);
      handled = false;
      return FALSE;
    default:
      handled = detail::Dispatch::Message(dlg, msg, wp, lp, result);
      if (handled) SetWindowLongPtrA(h, DWLP_MSGRESULT, result);
      return handled;
  }
}

}  // namespace win32

namespace {

::INT_PTR CALLBACK DialogProc(HWND h, ::UINT msg, ::WPARAM wp, ::LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    // The object arrives as the init parameter and stays in the user data.
    auto* dlg = reinterpret_cast<CDialog*>(lp);
    SetWindowLongPtrA(h, GWLP_USERDATA, lp);
    detail::Dispatch::SetHandle(*dlg, h);
    win32::FillControls(h, dlg->GetTemplate());
    return detail::Dispatch::InitDialog(*dlg);
  }
  auto* dlg = reinterpret_cast<CDialog*>(GetWindowLongPtrA(h, GWLP_USERDATA));
  if (dlg == nullptr) return FALSE;
  bool handled = false;
  INT_PTR result = win32::HandleDialogMessage(*dlg, h, msg, wp, lp, handled);
  return handled ? result : FALSE;
}

HWND OwnerFor(const CWnd* self, CWnd* parent) {
  if (parent != nullptr && parent->GetSafeHwnd() != nullptr) return static_cast<HWND>(parent->GetSafeHwnd());
  CWnd* main = AfxGetMainWnd();
  if (main != nullptr && main != self && main->IsWindow()) return static_cast<HWND>(main->GetSafeHwnd());
  return nullptr;
}

}  // namespace

INT_PTR CDialog::DoModal() {
  win32::InitControls();
  std::vector<WORD> tmpl = win32::BuildDialogTemplate(m_template, true, 0);
  INT_PTR result =
      DialogBoxIndirectParamA(GetModuleHandleA(nullptr), reinterpret_cast<LPCDLGTEMPLATEA>(tmpl.data()),
                              OwnerFor(this, m_parent), DialogProc, reinterpret_cast<LPARAM>(this));
  m_hWnd = nullptr;
  return result;
}

void CDialog::EndDialog(int result) {
  if (m_hWnd == nullptr) {
    detail::ReportMisuse("EndDialog on a dialog without a window");
    return;
  }
  ::EndDialog(static_cast<HWND>(m_hWnd), result);
}

}  // namespace tk
