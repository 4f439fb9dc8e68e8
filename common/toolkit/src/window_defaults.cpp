// Default handlers and the backend-independent parts of windows, dialogs,
// property pages, the application object and the message and file dialogs.
#include <string>

#include "tk/controls.h"
#include "tk/detail/dispatch.h"
#include "tk/dialog.h"
#include "tk/platform.h"
#include "tk/propsheet.h"
#include "tk/socket.h"

namespace tk {

// ---- CWnd defaults: nothing handled, the platform's default applies ----------

bool CWnd::OnCommand(UINT, UINT, Handle) { return false; }
bool CWnd::OnNotify(int, Notification&, LRESULT&) { return false; }
void CWnd::OnTimer(UINT_PTR) {}
bool CWnd::OnSysCommand(UINT, LPARAM) { return false; }
bool CWnd::OnClose() { return false; }
bool CWnd::OnPaint() { return false; }
HICON CWnd::OnQueryDragIcon() { return nullptr; }
void CWnd::OnDestroy() {}
bool CWnd::OnMessage(UINT, WPARAM, LPARAM, LRESULT&) { return false; }
bool CWnd::OnMouseMessage(UINT, UINT, CPoint) { return false; }
bool CWnd::OnKeyDown(UINT) { return false; }
bool CWnd::OnReflectedNotify(Notification&, LRESULT&) { return false; }

bool CWnd::SubclassDlgItem(int id, CWnd* parent) {
  if (parent == nullptr) return false;
  Handle h = parent->GetDlgItem(id).GetSafeHwnd();
  if (h == nullptr) {
    detail::ReportMisuse("SubclassDlgItem: no control " + std::to_string(id));
    return false;
  }
  return SubclassWindow(h);
}

int CWnd::MessageBox(const std::string& text, const std::string& caption, UINT type) const {
  std::string shown = caption;
  if (shown.empty() && AfxGetApp() != nullptr) shown = AfxGetApp()->AppName();
  return detail::ShowMessageBox(m_hWnd, text, shown, type);
}

// ---- CDialog -----------------------------------------------------------------

CDialog::CDialog(const DialogTemplate& tmpl, CWnd* parent) : m_template(tmpl), m_parent(parent) {}

CDialog::~CDialog() = default;

BOOL CDialog::OnInitDialog() {
  UpdateData(FALSE);
  return TRUE;
}

void CDialog::OnOK() {
  if (!UpdateData(TRUE)) return;
  EndDialog(IDOK);
}

void CDialog::OnCancel() { EndDialog(IDCANCEL); }

void CDialog::DoDataExchange(CDataExchange*) {}

bool CDialog::OnCommand(UINT id, UINT code, Handle) {
  if (code != BN_CLICKED) return false;
  if (id == static_cast<UINT>(IDOK)) {
    OnOK();
    return true;
  }
  if (id == static_cast<UINT>(IDCANCEL)) {
    OnCancel();
    return true;
  }
  return false;
}

bool CDialog::OnClose() {
  // The close box acts as the Cancel command without a control window.
  return detail::Dispatch::Command(*this, IDCANCEL, BN_CLICKED, nullptr);
}

BOOL CDialog::UpdateData(BOOL saveAndValidate) {
  CDataExchange dx(this, saveAndValidate);
  DoDataExchange(&dx);
  return dx.Failed() ? FALSE : TRUE;
}

void CDialog::SetDlgItemText(int id, const std::string& text) { GetDlgItem(id).SetWindowText(text); }

std::string CDialog::GetDlgItemText(int id) const { return GetDlgItem(id).GetWindowText(); }

void CDialog::CheckDlgButton(int id, int check) { CButton(GetDlgItem(id)).SetCheck(check); }

int CDialog::IsDlgButtonChecked(int id) const { return CButton(GetDlgItem(id)).GetCheck(); }

void CDialog::CheckRadioButton(int firstId, int lastId, int checkId) {
  for (int id = firstId; id <= lastId; ++id) {
    CButton button(GetDlgItem(id));
    if (button.GetSafeHwnd() != nullptr) button.SetCheck(id == checkId ? BST_CHECKED : BST_UNCHECKED);
  }
}

void CDialog::GotoDlgCtrl(int id) { GetDlgItem(id).SetFocus(); }

// ---- CPropertyPage -------------------------------------------------------------

CPropertyPage::CPropertyPage(const DialogTemplate& tmpl) : CDialog(tmpl, nullptr) {}

BOOL CPropertyPage::OnSetActive() { return TRUE; }

BOOL CPropertyPage::OnKillActive() { return UpdateData(TRUE); }

void CPropertyPage::OnOK() {}

void CPropertyPage::OnCancel() {}

// ---- CPropertySheet: the backend-independent part --------------------------------

CPropertySheet::CPropertySheet(std::string caption, CWnd* parent) : m_title(std::move(caption)), m_parent(parent) {}

void CPropertySheet::AddPage(CPropertyPage* page) {
  detail::Dispatch::SetPageSheet(*page, this);
  m_pages.push_back(page);
}

void CPropertySheet::SetTitle(const std::string& title) {
  m_title = title;
  if (GetSafeHwnd() != nullptr) SetWindowText(title);
}

CPropertyPage* CPropertySheet::GetPage(int index) const {
  if (index < 0 || index >= GetPageCount()) return nullptr;
  return m_pages[static_cast<size_t>(index)];
}

CPropertyPage* CPropertySheet::GetActivePage() const { return GetPage(GetActiveIndex()); }

// Nothing handled: the standard handling of the backend applies.
bool CPropertySheet::OnCommand(UINT, UINT, Handle) { return false; }

bool CPropertySheet::SetActivePage(CPropertyPage* page) {
  for (int i = 0; i < GetPageCount(); ++i) {
    if (m_pages[static_cast<size_t>(i)] == page) return SetActivePage(i);
  }
  return false;
}

// ---- the application object ------------------------------------------------------

namespace {
CWinApp* g_app = nullptr;
}

CWinApp::CWinApp(std::string appName) : m_appName(std::move(appName)) { g_app = this; }

CWinApp::~CWinApp() {
  if (g_app == this) g_app = nullptr;
}

BOOL CWinApp::InitInstance() { return FALSE; }

CWinApp* AfxGetApp() { return g_app; }

CWnd* AfxGetMainWnd() { return g_app != nullptr ? g_app->m_pMainWnd : nullptr; }

int AfxMessageBox(const std::string& text, UINT type) {
  CWnd* main = AfxGetMainWnd();
  std::string caption = g_app != nullptr ? g_app->AppName() : std::string();
  return detail::ShowMessageBox(main != nullptr ? main->GetSafeHwnd() : nullptr, text, caption, type);
}

bool AfxSocketInit() { return SocketsStartup(1, 1); }

void AfxEnableControlContainer() {}

// ---- CFileDialog -------------------------------------------------------------------

CFileDialog::CFileDialog(bool openFileDialog, std::string defaultExt, std::string fileName, DWORD flags,
                         std::string filter, CWnd* parent)
    : m_open(openFileDialog),
      m_defaultExt(std::move(defaultExt)),
      m_fileName(std::move(fileName)),
      m_flags(flags),
      m_filter(std::move(filter)),
      m_parent(parent) {}

INT_PTR CFileDialog::DoModal() {
  std::string path;
  Handle owner = m_parent != nullptr ? m_parent->GetSafeHwnd() : nullptr;
  if (owner == nullptr && AfxGetMainWnd() != nullptr) owner = AfxGetMainWnd()->GetSafeHwnd();
  int result = detail::ShowFileDialog(*this, owner, path);
  if (result == IDOK) m_path = path;
  return result;
}

}  // namespace tk
