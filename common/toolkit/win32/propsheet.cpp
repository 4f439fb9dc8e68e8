// Property sheets: the platform sheet run modeless inside a modal loop of its
// own, so that the sheet's DestroyWindow runs at every close and the sheet's
// OnCommand sees every button first; the platform sheet's own handling is the
// standard handling of what it leaves.
#include <memory>

#include "win32_platform.h"

namespace tk {

namespace {

constexpr UINT_PTR kSheetSubclassId = 0x746C;
constexpr DWORD kPageFrameStyles =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_THICKFRAME | WS_VISIBLE | WS_DISABLED | DS_MODALFRAME | DS_CENTER;

struct SheetState {
  int startPage = 0;
  bool running = false;
  bool ended = false;
  INT_PTR result = IDCANCEL;
  std::vector<std::vector<WORD>> templates;  // alive as long as the pages may be created
};

SheetState& StateOf(void*& slot) {
  if (slot == nullptr) slot = new SheetState();
  return *static_cast<SheetState*>(slot);
}

HWND H(Handle h) {
  return static_cast<HWND>(h);
}

// ---- pages ----------------------------------------------------------------------

// A page's answer to the sheet's PSN_ notifications.
bool PageNotify(CPropertyPage& page, HWND h, const NMHDR* header) {
  LRESULT answer = 0;
  switch (header->code) {
    case PSN_SETACTIVE:
      answer = detail::Dispatch::PageSetActive(page) ? 0 : -1;
      break;
    case PSN_KILLACTIVE:
      answer = detail::Dispatch::PageKillActive(page) ? FALSE : TRUE;
      break;
    case PSN_APPLY:
      detail::Dispatch::PageOK(page);
      answer = PSNRET_NOERROR;
      break;
    case PSN_RESET:
      detail::Dispatch::PageCancel(page);
      break;
    default:
      return false;
  }
  SetWindowLongPtrA(h, DWLP_MSGRESULT, answer);
  return true;
}

::INT_PTR CALLBACK PageProc(HWND h, ::UINT msg, ::WPARAM wp, ::LPARAM lp) {
  if (msg == WM_INITDIALOG) {
    const auto* sheetPage = reinterpret_cast<const PROPSHEETPAGEA*>(lp);
    auto* page = reinterpret_cast<CPropertyPage*>(sheetPage->lParam);
    SetWindowLongPtrA(h, GWLP_USERDATA, sheetPage->lParam);
    detail::Dispatch::SetHandle(*page, h);
    // The first page is created inside the sheet's own creation, before the
    // sheet's handle is known to the object.
    CPropertySheet* sheet = page->GetSheet();
    if (sheet != nullptr && sheet->GetSafeHwnd() == nullptr)
      detail::Dispatch::SetHandle(*sheet, ::GetParent(h));
    win32::FillControls(h, page->GetTemplate());
    return detail::Dispatch::InitDialog(*page);
  }
  auto* page = reinterpret_cast<CPropertyPage*>(GetWindowLongPtrA(h, GWLP_USERDATA));
  if (page == nullptr) return FALSE;
  if (msg == WM_NOTIFY) {
    const auto* header = reinterpret_cast<const NMHDR*>(lp);
    if (header->hwndFrom == ::GetParent(h) && PageNotify(*page, h, header)) return TRUE;
  }
  bool handled = false;
  INT_PTR result = win32::HandleDialogMessage(*page, h, msg, wp, lp, handled);
  return handled ? result : FALSE;
}

// ---- the sheet window ---------------------------------------------------------------

bool IsCloseCommand(UINT msg, WPARAM wp) {
  return msg == WM_CLOSE || (msg == WM_SYSCOMMAND && (wp & 0xFFF0) == SC_CLOSE);
}

::LRESULT CALLBACK SheetProc(HWND h, ::UINT msg, ::WPARAM wp, ::LPARAM lp, ::UINT_PTR, ::DWORD_PTR ref) {
  CPropertySheet& sheet = *reinterpret_cast<CPropertySheet*>(ref);
  LRESULT result = 0;
  if (msg == WM_COMMAND) {
    // The sheet's OnCommand first; what it leaves goes to the platform sheet.
    detail::Dispatch::SheetCommand(sheet, LOWORD(wp), HIWORD(wp), reinterpret_cast<Handle>(lp));
    return 0;
  } else if (IsCloseCommand(msg, wp)) {
    // The close box is OnClose, then the Cancel command without a control window.
    detail::Dispatch::SheetClose(sheet);
    return 0;
  } else if (msg == WM_TIMER) {
    detail::Dispatch::Timer(sheet, wp);
    return 0;
  } else if (msg == WM_DESTROY) {
    detail::Dispatch::Destroy(sheet);
  } else if (msg == WM_NCDESTROY) {
    RemoveWindowSubclass(h, SheetProc, kSheetSubclassId);
    detail::Dispatch::SetHandle(sheet, nullptr);
  } else if (msg >= WM_USER) {
    // Private messages of the program; what the sheet leaves is the platform's.
    if (detail::Dispatch::Message(sheet, msg, wp, lp, result)) return result;
  }
  return DefSubclassProc(h, msg, wp, lp);
}

PROPSHEETPAGEA MakePage(CPropertyPage* page, const std::vector<WORD>& tmpl) {
  PROPSHEETPAGEA psp{};
  psp.dwSize = sizeof(psp);
  psp.dwFlags = PSP_DLGINDIRECT | PSP_USETITLE;
  psp.hInstance = GetModuleHandleA(nullptr);
  psp.pResource = reinterpret_cast<LPCDLGTEMPLATE>(tmpl.data());
  psp.pszTitle = page->GetTabCaption().c_str();
  psp.pfnDlgProc = PageProc;
  psp.lParam = reinterpret_cast<LPARAM>(page);
  return psp;
}

HWND OwnerFor(CWnd* parent) {
  if (parent != nullptr && parent->GetSafeHwnd() != nullptr) return H(parent->GetSafeHwnd());
  CWnd* main = AfxGetMainWnd();
  return main != nullptr && main->IsWindow() ? H(main->GetSafeHwnd()) : nullptr;
}

// Runs messages until the sheet has ended (standard button, EndDialog, or the
// platform sheet closing itself).
void RunLoop(HWND sheet, SheetState& state) {
  MSG msg{};
  while (!state.ended) {
    if (PropSheet_GetCurrentPageHwnd(sheet) == nullptr) break;
    BOOL got = GetMessageA(&msg, nullptr, 0, 0);
    if (got == 0) {
      PostQuitMessage(static_cast<int>(msg.wParam));
      break;
    }
    if (got == -1) break;
    if (!PropSheet_IsDialogMessage(sheet, &msg)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
}

}  // namespace

CPropertySheet::~CPropertySheet() {
  if (IsWindow()) ::DestroyWindow(H(m_hWnd));
  delete static_cast<SheetState*>(m_state);
}

INT_PTR CPropertySheet::DoModal() {
  win32::InitControls();
  SheetState& state = StateOf(m_state);
  state.ended = false;
  state.result = IDCANCEL;
  state.templates.clear();
  std::vector<PROPSHEETPAGEA> pages;
  for (CPropertyPage* page : m_pages) {
    // A page is a child of the sheet whatever frame its template describes.
    state.templates.push_back(
        win32::BuildDialogTemplate(page->GetTemplate(), false, WS_CHILD | DS_CONTROL, kPageFrameStyles));
  }
  for (size_t i = 0; i < m_pages.size(); ++i) pages.push_back(MakePage(m_pages[i], state.templates[i]));

  HWND owner = OwnerFor(m_parent);
  PROPSHEETHEADERA psh{};
  psh.dwSize = sizeof(psh);
  psh.dwFlags = PSH_PROPSHEETPAGE | PSH_MODELESS | PSH_NOCONTEXTHELP;
  psh.hwndParent = owner;
  psh.hInstance = GetModuleHandleA(nullptr);
  psh.pszCaption = m_title.c_str();
  psh.nPages = static_cast<UINT>(pages.size());
  psh.nStartPage = static_cast<UINT>(state.startPage);
  psh.ppsp = pages.data();
  HWND sheet = reinterpret_cast<HWND>(PropertySheetA(&psh));
  if (sheet == nullptr || sheet == reinterpret_cast<HWND>(-1)) {
    m_hWnd = nullptr;
    return -1;
  }
  m_hWnd = sheet;
  SetWindowSubclass(sheet, SheetProc, kSheetSubclassId, reinterpret_cast<DWORD_PTR>(this));
  const bool ownerWasEnabled = owner != nullptr && !::EnableWindow(owner, FALSE);
  state.running = true;
  detail::Dispatch::InitSheet(*this);
  RunLoop(sheet, state);
  state.running = false;
  if (ownerWasEnabled) ::EnableWindow(owner, TRUE);
  DestroyWindow();  // virtual: a derived sheet acts at every close
  // A derived DestroyWindow that did not reach the base still closes the window.
  if (IsWindow()) CPropertySheet::DestroyWindow();
  if (owner != nullptr) SetActiveWindow(owner);
  m_hWnd = nullptr;
  return state.result;
}

void CPropertySheet::EndDialog(int result) {
  SheetState& state = StateOf(m_state);
  state.result = result;
  state.ended = true;
  if (m_hWnd != nullptr) PostMessageA(H(m_hWnd), WM_NULL, 0, 0);  // wakes the loop
}

int CPropertySheet::GetActiveIndex() const {
  if (m_hWnd == nullptr) return m_state != nullptr ? static_cast<SheetState*>(m_state)->startPage : 0;
  HWND current = PropSheet_GetCurrentPageHwnd(H(m_hWnd));
  for (int i = 0; i < GetPageCount(); ++i) {
    if (m_pages[static_cast<size_t>(i)]->GetSafeHwnd() == current) return i;
  }
  return -1;
}

bool CPropertySheet::SetActivePage(int index) {
  if (index < 0 || index >= GetPageCount()) return false;
  if (m_hWnd == nullptr) {
    StateOf(m_state).startPage = index;
    return true;
  }
  return PropSheet_SetCurSel(H(m_hWnd), nullptr, index) != FALSE;
}

BOOL CPropertySheet::DestroyWindow() {
  if (m_hWnd == nullptr) return FALSE;
  return ::DestroyWindow(H(m_hWnd));
}

BOOL CPropertySheet::OnInitDialog() {
  return TRUE;
}

// Called from inside the sheet's subclass procedure: the platform sheet
// validates the active page and sends PSN_APPLY / PSN_RESET to the pages; when
// it has finished the sheet, the loop ends with the button's result.
void CPropertySheet::StandardCommand(UINT id, UINT code, Handle control) {
  if (m_hWnd == nullptr) return;
  DefSubclassProc(H(m_hWnd), WM_COMMAND, MAKEWPARAM(id, code), reinterpret_cast<LPARAM>(control));
  const bool closing = id == static_cast<UINT>(IDOK) || id == static_cast<UINT>(IDCANCEL);
  if (closing && code == BN_CLICKED && m_hWnd != nullptr &&
      PropSheet_GetCurrentPageHwnd(H(m_hWnd)) == nullptr) {
    SheetState& state = StateOf(m_state);
    state.result = static_cast<INT_PTR>(id);
    state.ended = true;
  }
}

}  // namespace tk
