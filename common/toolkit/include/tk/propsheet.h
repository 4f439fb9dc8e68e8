// Property sheets and pages.
//
// A sheet runs modally like a dialog. Its four standard buttons have the ids
// IDOK (1), IDCANCEL (2), ID_APPLY_NOW (0x3021) and IDHELP (9); a sheet may give
// them new captions, hide them and enable them.
//
// Every command to the sheet takes one route on every backend: the sheet's
// OnCommand first; what it leaves (returns false for) gets the standard
// handling. The close box is OnClose, then the IDCANCEL command without a
// control window. The standard handling is: IDOK asks the active page to
// validate (OnKillActive), then every created page gets OnOK and the sheet ends
// with IDOK; ID_APPLY_NOW validates and applies the same way, disables itself
// and activates the page again (OnSetActive), and the sheet stays open; IDCANCEL gives every created page OnCancel
// and ends with IDCANCEL. Switching pages asks the old page OnKillActive (false
// keeps it) and then the new page OnSetActive.
#pragma once

#include <string>
#include <vector>

#include "tk/dialog.h"

namespace tk {

class CPropertySheet;

class CPropertyPage : public CDialog {
 public:
  explicit CPropertyPage(const DialogTemplate& tmpl);
  CPropertySheet* GetSheet() const { return m_sheet; }
  const std::string& GetTabCaption() const { return GetTemplate().caption; }

 protected:
  friend class detail::Dispatch;
  friend class CPropertySheet;
  virtual BOOL OnSetActive();   // default: TRUE
  virtual BOOL OnKillActive();  // default: UpdateData(TRUE)
  void OnOK() override;         // default: nothing (the sheet ends)
  void OnCancel() override;     // default: nothing

 private:
  CPropertySheet* m_sheet = nullptr;
};

class CPropertySheet : public CWnd {
 public:
  explicit CPropertySheet(std::string caption = {}, CWnd* parent = nullptr);
  ~CPropertySheet() override;
  CPropertySheet(const CPropertySheet&) = delete;
  CPropertySheet& operator=(const CPropertySheet&) = delete;

  void AddPage(CPropertyPage* page);
  void SetTitle(const std::string& title);
  const std::string& GetTitle() const { return m_title; }

  // Runs the sheet until it ends. Returns IDOK or IDCANCEL as the standard
  // handling ended it, or the value given to EndDialog.
  virtual INT_PTR DoModal();
  void EndDialog(int result);

  int GetPageCount() const { return static_cast<int>(m_pages.size()); }
  CPropertyPage* GetPage(int index) const;
  int GetActiveIndex() const;
  CPropertyPage* GetActivePage() const;
  // Activates a page: the current page's OnKillActive may refuse.
  bool SetActivePage(int index);
  bool SetActivePage(CPropertyPage* page);

  // Destroys the sheet's window (and the page windows). The modal run calls it
  // when the sheet ends; a derived sheet may override it to act at every close.
  virtual BOOL DestroyWindow();

 protected:
  friend class detail::Dispatch;
  virtual BOOL OnInitDialog();  // default: TRUE
  // Default: nothing handled, so the standard handling (above) applies. A
  // derived sheet handles what it wants and returns false (or calls this) for
  // the rest.
  bool OnCommand(UINT id, UINT code, Handle control) override;

 private:
  // The backend's standard handling of a command the sheet left.
  void StandardCommand(UINT id, UINT code, Handle control);

  std::string m_title;
  CWnd* m_parent;
  std::vector<CPropertyPage*> m_pages;
  void* m_state = nullptr;  // the backend's modal state
};

}  // namespace tk
