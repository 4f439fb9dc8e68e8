// Modal dialogs, data exchange and validation, the application object, message
// boxes and the file dialogs.
#pragma once

#include <string>

#include "tk/dialog_template.h"
#include "tk/wnd.h"

namespace tk {

class CDataExchange;

class CDialog : public CWnd {
 public:
  explicit CDialog(const DialogTemplate& tmpl, CWnd* parent = nullptr);
  ~CDialog() override;
  CDialog(const CDialog&) = delete;
  CDialog& operator=(const CDialog&) = delete;

  // Creates the window from the template, runs it until EndDialog and returns
  // the value given to EndDialog (-1 when the window could not be created).
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  // Exchanges members and controls through DoDataExchange. With TRUE, controls
  // are read into members and validated: a failed check shows its message, puts
  // the focus on the field and makes UpdateData return FALSE.
  BOOL UpdateData(BOOL saveAndValidate = TRUE);

  const DialogTemplate& GetTemplate() const { return m_template; }
  CWnd* GetParentWnd() const { return m_parent; }

  // Shortcuts on child controls.
  void SetDlgItemText(int id, const std::string& text);
  std::string GetDlgItemText(int id) const;
  void CheckDlgButton(int id, int check);
  int IsDlgButtonChecked(int id) const;
  void CheckRadioButton(int firstId, int lastId, int checkId);
  void GotoDlgCtrl(int id);

 protected:
  friend class detail::Dispatch;
  virtual BOOL OnInitDialog();   // default: UpdateData(FALSE), TRUE
  virtual void OnOK();           // default: UpdateData(TRUE), then EndDialog(IDOK)
  virtual void OnCancel();       // default: EndDialog(IDCANCEL)
  virtual void DoDataExchange(CDataExchange* pDX);
  // Default: IDOK runs OnOK, IDCANCEL runs OnCancel.
  bool OnCommand(UINT id, UINT code, Handle control) override;
  // Default: the close box acts as IDCANCEL without a control window.
  bool OnClose() override;

 private:
  const DialogTemplate& m_template;
  CWnd* m_parent;
};

// Data exchange context. The DDX/DDV functions stop doing anything after the
// first failure, so DoDataExchange needs no early returns.
class CDataExchange {
 public:
  CDataExchange(CDialog* dlg, BOOL saveAndValidate) : m_pDlgWnd(dlg), m_bSaveAndValidate(saveAndValidate) {}
  CDialog* m_pDlgWnd;
  BOOL m_bSaveAndValidate;
  int m_idLastControl = 0;
  bool m_bEditLastControl = false;

  // Shows `message` in a message box, puts the focus on the last control and
  // marks the exchange as failed.
  void Fail(const std::string& message);
  bool Failed() const { return m_failed; }
  CWnd PrepareCtrl(int id);      // records the control for a later failure
  CWnd PrepareEditCtrl(int id);  // same, for an edit (its text gets selected on failure)

 private:
  bool m_failed = false;
};

// The toolkit's standard validation messages (exact texts; %1 and %2 filled in).
std::string FormatRangeMessage(long long low, long long high);  // "Please enter an integer between 1 and 128."
std::string FormatMaxCharsMessage(int count);                   // "Please enter no more than 15 characters."
extern const char* const kMsgPositiveInteger;                   // "Please enter a positive integer."
extern const char* const kMsgInteger;                           // "Please enter an integer."

void DDX_Text(CDataExchange* pDX, int id, std::string& value);
void DDX_Text(CDataExchange* pDX, int id, int& value);
void DDX_Text(CDataExchange* pDX, int id, unsigned int& value);
void DDX_Check(CDataExchange* pDX, int id, int& value);
void DDX_Radio(CDataExchange* pDX, int firstId, int& value);  // index within the group, -1 for none
void DDX_CBIndex(CDataExchange* pDX, int id, int& value);     // -1 for no selection
void DDX_Control(CDataExchange* pDX, int id, CWnd& control);  // binds once; see CWnd subclassing
// In the write direction DDV_MaxChars also limits how much the user can type.
void DDV_MaxChars(CDataExchange* pDX, const std::string& value, int count);
void DDV_MinMaxInt(CDataExchange* pDX, int value, int low, int high);
void DDV_MinMaxUInt(CDataExchange* pDX, unsigned int value, unsigned int low, unsigned int high);

// The application object. A program defines exactly one, as a global; the win32
// backend's entry point calls its InitInstance.
class CWinApp {
 public:
  explicit CWinApp(std::string appName);
  virtual ~CWinApp();
  CWinApp(const CWinApp&) = delete;
  CWinApp& operator=(const CWinApp&) = delete;
  virtual BOOL InitInstance();
  virtual int ExitInstance() { return 0; }
  const std::string& AppName() const { return m_appName; }
  CWnd* m_pMainWnd = nullptr;

 private:
  std::string m_appName;
};

CWinApp* AfxGetApp();
CWnd* AfxGetMainWnd();
// Message box with the program's name as caption.
int AfxMessageBox(const std::string& text, UINT type = MB_OK);
// Starts the sockets library for the asynchronous sockets; false on failure.
bool AfxSocketInit();
void AfxEnableControlContainer();

// The system's file-open and file-save dialogs.
class CFileDialog {
 public:
  // filter in the "Name|pattern|Name|pattern|" form.
  CFileDialog(bool openFileDialog, std::string defaultExt = {}, std::string fileName = {},
              DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, std::string filter = {},
              CWnd* parent = nullptr);
  INT_PTR DoModal();  // IDOK or IDCANCEL
  std::string GetPathName() const { return m_path; }

  bool IsOpen() const { return m_open; }
  const std::string& DefaultExt() const { return m_defaultExt; }
  const std::string& InitialFileName() const { return m_fileName; }
  DWORD Flags() const { return m_flags; }
  const std::string& Filter() const { return m_filter; }

 private:
  bool m_open;
  std::string m_defaultExt;
  std::string m_fileName;
  DWORD m_flags;
  std::string m_filter;
  CWnd* m_parent;
  std::string m_path;
};

}  // namespace tk
