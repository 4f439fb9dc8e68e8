// The one road from a backend into window classes. Backends decode their input
// (platform messages, or scripted input in the headless backend) and call these
// entry points; each calls the typed virtual and catches any exception at the
// boundary, reporting it through the toolkit's message box, so that nothing
// unwinds through a window procedure. Not for program code.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "tk/controls.h"
#include "tk/dialog.h"
#include "tk/propsheet.h"
#include "tk/wnd.h"

namespace tk::detail {

class Dispatch {
 public:
  static BOOL InitDialog(CDialog& dlg);
  static BOOL InitSheet(CPropertySheet& sheet);
  static bool Command(CWnd& wnd, UINT id, UINT code, Handle control);
  static bool Notify(CWnd& wnd, int id, Notification& n, LRESULT& result);
  static void Timer(CWnd& wnd, UINT_PTR id);
  static bool SysCommand(CWnd& wnd, UINT id, LPARAM lParam);
  static bool Close(CWnd& wnd);
  static bool Paint(CWnd& wnd);
  static HICON QueryDragIcon(CWnd& wnd);
  static void Destroy(CWnd& wnd);
  static bool Message(CWnd& wnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Subclassed controls.
  static void PreSubclass(CWnd& wnd);
  static void PreCreate(CWnd& wnd, DWORD& style, DWORD& exStyle);
  static bool Mouse(CWnd& wnd, UINT msg, UINT keyFlags, CPoint point);
  static bool KeyDown(CWnd& wnd, UINT virtualKey);
  static bool Reflected(CWnd& wnd, Notification& n, LRESULT& result);

  // The one route of a command to a property sheet: its OnCommand, then the
  // standard handling of what it left. The close box: OnClose, then IDCANCEL.
  static void SheetCommand(CPropertySheet& sheet, UINT id, UINT code, Handle control);
  static void SheetClose(CPropertySheet& sheet);

  // Property pages, called by the sheet's standard handling.
  static BOOL PageSetActive(CPropertyPage& page);
  static BOOL PageKillActive(CPropertyPage& page);
  static void PageOK(CPropertyPage& page);
  static void PageCancel(CPropertyPage& page);
  static void SetPageSheet(CPropertyPage& page, CPropertySheet* sheet);
  static void SetHandle(CWnd& wnd, Handle h) { wnd.m_hWnd = h; }

  // Runs `body`, reporting an escaping exception with a message box.
  static void Guarded(const char* where, const std::function<void()>& body);
};

// Backend services the common code needs (defined by each backend).
// Shows a message box; `owner` may be null. Returns the button pressed.
int ShowMessageBox(Handle owner, const std::string& text, const std::string& caption, UINT type);
// Runs the file dialog; IDOK with `path` filled, or IDCANCEL.
int ShowFileDialog(const CFileDialog& dialog, Handle owner, std::string& path);
// The child windows of `parent` in creation (tab) order.
std::vector<Handle> ChildWindows(Handle parent);
// Reports a programming error (a control id missing from a template, ...): the
// headless backend fails the test, the win32 backend writes a debug line.
void ReportMisuse(const std::string& what);

}  // namespace tk::detail
