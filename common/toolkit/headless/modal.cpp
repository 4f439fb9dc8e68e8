// Modal dialogs and property sheets built from templates, answered by the
// handlers the test installs; message boxes and file dialogs likewise.
#include <algorithm>

#include "backend.h"
#include "tk/controls.h"
#include "tk/detail/dispatch.h"
#include "tk/platform.h"

namespace tk::headless::detail {

using tk::detail::Dispatch;

namespace {

Kind KindOf(ControlKind k) {
  switch (k) {
    case ControlKind::Button:
      return Kind::Button;
    case ControlKind::Edit:
      return Kind::Edit;
    case ControlKind::Static:
      return Kind::Static;
    case ControlKind::ComboBox:
      return Kind::ComboBox;
    case ControlKind::ListView:
      return Kind::ListView;
    case ControlKind::Progress:
      return Kind::Progress;
    case ControlKind::IPAddress:
      return Kind::IPAddress;
    case ControlKind::UpDown:
      return Kind::UpDown;
  }
  return Kind::Static;
}

void CreateControl(Window* parent, const ControlTemplate& c) {
  Window* w = CreateWindowObject(KindOf(c.kind), parent, c.id, c.caption, c.style, c.exStyle,
                                 DialogUnitsToPixels(c.rect));
  w->resourceId = c.resourceId;
  if (w->kind == Kind::ComboBox) {
    for (const std::string& item : c.items) CComboBox(H(w)).AddString(item);
  }
  if (w->kind == Kind::ListView) InitList(w);
  if (w->kind == Kind::Static && (c.style & 0xF) == SS_ICON && c.resourceId != 0)
    w->image = LoadAppIcon(c.resourceId);
}

bool CaptionMatches(const std::string& wanted, const std::string& caption) {
  return wanted.empty() || wanted == caption;
}

}  // namespace

Window* CreateFromTemplate(Kind kind, Window* parent, const DialogTemplate& t) {
  DWORD style = t.style | WS_VISIBLE;
  if (kind == Kind::Page) style = (t.style & ~(WS_POPUP | WS_CAPTION | WS_SYSMENU)) | WS_CHILD;
  Window* w = CreateWindowObject(kind, parent, 0, t.caption, style, 0, DialogUnitsToPixels(t.rect));
  for (const ControlTemplate& c : t.controls) CreateControl(w, c);
  return w;
}

void FocusFirstTabStop(Window* dialog) {
  for (Window* c : dialog->children) {
    if ((c->style & (WS_TABSTOP | WS_VISIBLE | WS_DISABLED)) == (WS_TABSTOP | WS_VISIBLE)) {
      S().focus = c;
      return;
    }
  }
}

void RunModal(Window* w, CWnd& object) {
  State& s = S();
  if (w->ended || Find(w) == nullptr) return;
  const std::string caption = w->text;
  ModalHandler handler;
  auto expected = std::find_if(s.expectedModals.begin(), s.expectedModals.end(),
                               [&](const ModalAnswer& m) { return CaptionMatches(m.caption, caption); });
  if (expected != s.expectedModals.end()) {
    handler = std::move(expected->handler);
    s.expectedModals.erase(expected);
  } else {
    for (const ModalAnswer& m : s.modalHandlers) {
      if (CaptionMatches(m.caption, caption)) handler = m.handler;
    }
  }
  // The program's own main window has no owner; everything it opens runs
  // inside the platform's modal loop.
  if (w->parent != nullptr && !RunModalLoop("modal window \"" + caption + "\"")) handler = nullptr;
  if (!handler) {
    Fail("modal window \"" + caption + "\" opened with no handler");
    w->ended = true;
    w->result = IDCANCEL;
    return;
  }
  handler(object);
  if (Find(w) != nullptr && !w->ended) {
    Fail("modal window \"" + caption + "\" still open after its handler");
    w->ended = true;
    w->result = IDCANCEL;
  }
}

}  // namespace tk::headless::detail

namespace tk {

using namespace tk::headless::detail;
using tk::detail::Dispatch;

// ---- dialogs -------------------------------------------------------------------

INT_PTR CDialog::DoModal() {
  if (Find(m_hWnd) != nullptr) {
    tk::detail::ReportMisuse("DoModal on a dialog that is already open");
    return -1;
  }
  Window* parent = m_parent != nullptr ? Find(m_parent->GetSafeHwnd()) : nullptr;
  Window* w = CreateFromTemplate(Kind::Dialog, parent, GetTemplate());
  w->target = this;
  m_hWnd = H(w);
  Window* previousFocus = S().focus;
  S().focus = nullptr;
  // TRUE from OnInitDialog lets the dialog manager focus the first tab stop.
  if (Dispatch::InitDialog(*this) && Find(w) != nullptr && S().focus == nullptr) FocusFirstTabStop(w);
  tk::headless::PumpPosted();
  RunModal(w, *this);
  int result = Find(w) != nullptr ? w->result : IDCANCEL;
  DestroyWindowObject(w);
  if (Find(previousFocus) != nullptr) S().focus = previousFocus;
  return result;
}

void CDialog::EndDialog(int result) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return;
  w->ended = true;
  w->result = result;
}

// ---- property sheets -------------------------------------------------------------

namespace {

struct SheetState {
  int startPage = 0;
  int active = -1;
  Window* window = nullptr;
  std::vector<Window*> pageWindows;  // by page index; null until created
};

SheetState& StateOf(void*& slot) {
  if (slot == nullptr) slot = new SheetState();
  return *static_cast<SheetState*>(slot);
}

Window* PageWindow(SheetState& st, int index) {
  if (index < 0 || index >= static_cast<int>(st.pageWindows.size())) return nullptr;
  return Find(st.pageWindows[static_cast<size_t>(index)]);
}

void AddSheetButton(Window* sheet, int id, const char* caption, DWORD type, bool enabled) {
  DWORD style = WS_CHILD | WS_VISIBLE | WS_TABSTOP | type | (enabled ? 0 : WS_DISABLED);
  CreateWindowObject(Kind::Button, sheet, id, caption, style, 0, {});
}

}  // namespace

CPropertySheet::~CPropertySheet() {
  delete static_cast<SheetState*>(m_state);
}

int CPropertySheet::GetActiveIndex() const {
  auto* st = static_cast<SheetState*>(m_state);
  if (st == nullptr) return 0;
  return Find(st->window) != nullptr ? st->active : st->startPage;
}

bool CPropertySheet::SetActivePage(int index) {
  SheetState& st = StateOf(m_state);
  if (index < 0 || index >= GetPageCount()) return false;
  if (Find(st.window) == nullptr) {
    st.startPage = index;
    return true;
  }
  if (index == st.active) return true;
  if (st.active >= 0) {
    CPropertyPage* old = GetPage(st.active);
    if (!Dispatch::PageKillActive(*old)) return false;
    if (Window* ow = PageWindow(st, st.active)) ow->style &= ~WS_VISIBLE;
  }
  CPropertyPage* page = GetPage(index);
  Window* pw = PageWindow(st, index);
  if (pw == nullptr) {
    pw = CreateFromTemplate(Kind::Page, st.window, page->GetTemplate());
    pw->target = page;
    Dispatch::SetHandle(*page, H(pw));
    st.pageWindows[static_cast<size_t>(index)] = pw;
    Dispatch::InitDialog(*page);
  }
  st.active = index;
  if (Find(pw) != nullptr) pw->style |= WS_VISIBLE;
  Dispatch::PageSetActive(*page);
  return true;
}

INT_PTR CPropertySheet::DoModal() {
  SheetState& st = StateOf(m_state);
  if (Find(st.window) != nullptr) {
    tk::detail::ReportMisuse("DoModal on a property sheet that is already open");
    return -1;
  }
  Window* parent = m_parent != nullptr ? Find(m_parent->GetSafeHwnd()) : nullptr;
  DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_VISIBLE | DS_MODALFRAME | DS_SETFONT;
  Window* w = CreateWindowObject(Kind::Sheet, parent, 0, m_title, style, 0, {0, 0, 400, 300});
  w->target = this;
  m_hWnd = H(w);
  st.window = w;
  st.active = -1;
  st.pageWindows.assign(m_pages.size(), nullptr);
  AddSheetButton(w, IDOK, "OK", BS_DEFPUSHBUTTON, true);
  AddSheetButton(w, IDCANCEL, "Cancel", BS_PUSHBUTTON, true);
  AddSheetButton(w, ID_APPLY_NOW, "&Apply", BS_PUSHBUTTON, false);
  AddSheetButton(w, IDHELP, "Help", BS_PUSHBUTTON, true);
  Window* previousFocus = S().focus;
  if (GetPageCount() > 0) SetActivePage(std::min(st.startPage, GetPageCount() - 1));
  Dispatch::InitSheet(*this);
  tk::headless::PumpPosted();
  RunModal(w, *this);
  int result = Find(w) != nullptr ? w->result : IDCANCEL;
  DestroyWindow();
  // A derived DestroyWindow that did not reach the base still closes the window.
  if (Find(w) != nullptr) CPropertySheet::DestroyWindow();
  st.window = nullptr;
  st.active = -1;
  if (Find(previousFocus) != nullptr) S().focus = previousFocus;
  return result;
}

void CPropertySheet::EndDialog(int result) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return;
  w->ended = true;
  w->result = result;
}

BOOL CPropertySheet::DestroyWindow() {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return FALSE;
  DestroyWindowObject(w);
  m_hWnd = nullptr;
  return TRUE;
}

BOOL CPropertySheet::OnInitDialog() {
  return TRUE;
}

// What the platform sheet does with a standard button the sheet left.
void CPropertySheet::StandardCommand(UINT id, UINT code, Handle) {
  if (code != BN_CLICKED) return;
  auto* st = static_cast<SheetState*>(m_state);
  if (st == nullptr || Find(st->window) == nullptr) return;
  auto createdPages = [&] {
    std::vector<CPropertyPage*> pages;
    for (int i = 0; i < GetPageCount(); ++i) {
      if (PageWindow(*st, i) != nullptr) pages.push_back(GetPage(i));
    }
    return pages;
  };
  if (id == static_cast<UINT>(IDOK) || id == static_cast<UINT>(ID_APPLY_NOW)) {
    CPropertyPage* active = GetActivePage();
    if (active != nullptr && PageWindow(*st, st->active) != nullptr && !Dispatch::PageKillActive(*active)) {
      return;  // the page refused: the sheet stays open
    }
    for (CPropertyPage* page : createdPages()) Dispatch::PageOK(*page);
    if (id == static_cast<UINT>(IDOK)) {
      EndDialog(IDOK);
    } else {
      // Applied and still open: the platform sheet activates the page again.
      GetDlgItem(ID_APPLY_NOW).EnableWindow(false);
      if (active != nullptr) Dispatch::PageSetActive(*active);
    }
  } else if (id == static_cast<UINT>(IDCANCEL)) {
    for (CPropertyPage* page : createdPages()) Dispatch::PageCancel(*page);
    EndDialog(IDCANCEL);
  }
}

}  // namespace tk

// ---- message boxes and file dialogs ------------------------------------------------

namespace tk::detail {

using namespace tk::headless::detail;

int ShowMessageBox(Handle, const std::string& text, const std::string& caption, UINT type) {
  State& s = S();
  tk::headless::MessageBoxCall call{text, caption, type};
  s.messageBoxes.push_back(call);
  const bool looped = RunModalLoop("message box \"" + text + "\"");
  if (!looped || s.messageBoxAnswers.empty()) {
    Fail("unexpected message box \"" + text + "\" (caption \"" + caption + "\")");
    UINT buttons = type & MB_TYPEMASK;
    return buttons == MB_YESNO || buttons == MB_YESNOCANCEL ? IDNO : IDOK;
  }
  auto answer = std::move(s.messageBoxAnswers.front());
  s.messageBoxAnswers.pop_front();
  return answer(call);
}

int ShowFileDialog(const CFileDialog& dialog, Handle, std::string& path) {
  State& s = S();
  tk::headless::FileDialogCall call{dialog.IsOpen(), dialog.DefaultExt(), dialog.InitialFileName(),
                                    dialog.Flags(), dialog.Filter()};
  s.fileDialogs.push_back(call);
  if (s.fileDialogAnswers.empty()) {
    Fail(std::string("unexpected file ") + (call.open ? "open" : "save") + " dialog");
    return IDCANCEL;
  }
  auto answer = std::move(s.fileDialogAnswers.front());
  s.fileDialogAnswers.pop_front();
  return answer(call, path);
}

}  // namespace tk::detail

namespace tk::headless {

using namespace detail;

void ExpectModal(const std::string& caption, ModalHandler handler) {
  S().expectedModals.push_back({caption, std::move(handler)});
}

void OnModal(const std::string& caption, ModalHandler handler) {
  S().modalHandlers.push_back({caption, std::move(handler)});
}

void ExpectMessageBox(std::function<int(const MessageBoxCall&)> answer) {
  S().messageBoxAnswers.push_back(std::move(answer));
}

void ExpectMessageBox(const std::string& text, int result) {
  ExpectMessageBox([text, result](const MessageBoxCall& call) {
    if (call.text != text) Fail("message box \"" + call.text + "\" where \"" + text + "\" was expected");
    return result;
  });
}

const std::vector<MessageBoxCall>& MessageBoxes() {
  return S().messageBoxes;
}

void ExpectFileDialog(std::function<int(const FileDialogCall&, std::string& path)> answer) {
  S().fileDialogAnswers.push_back(std::move(answer));
}

const std::vector<FileDialogCall>& FileDialogs() {
  return S().fileDialogs;
}

}  // namespace tk::headless
