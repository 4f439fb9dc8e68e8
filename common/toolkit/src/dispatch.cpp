#include "tk/detail/dispatch.h"

#include <exception>

namespace tk::detail {

void Dispatch::Guarded(const char* where, const std::function<void()>& body) {
  try {
    body();
  } catch (const std::exception& e) {
    ShowMessageBox(nullptr, std::string("Internal error in ") + where + ": " + e.what(),
                   AfxGetApp() ? AfxGetApp()->AppName() : std::string(), MB_OK | MB_ICONSTOP);
  } catch (...) {
    ShowMessageBox(nullptr, std::string("Internal error in ") + where,
                   AfxGetApp() ? AfxGetApp()->AppName() : std::string(), MB_OK | MB_ICONSTOP);
  }
}

BOOL Dispatch::InitDialog(CDialog& dlg) {
  BOOL result = TRUE;
  Guarded("OnInitDialog", [&] { result = dlg.OnInitDialog(); });
  return result;
}

BOOL Dispatch::InitSheet(CPropertySheet& sheet) {
  BOOL result = TRUE;
  Guarded("OnInitDialog", [&] { result = sheet.OnInitDialog(); });
  return result;
}

bool Dispatch::Command(CWnd& wnd, UINT id, UINT code, Handle control) {
  bool handled = false;
  Guarded("OnCommand", [&] { handled = wnd.OnCommand(id, code, control); });
  return handled;
}

void Dispatch::SheetCommand(CPropertySheet& sheet, UINT id, UINT code, Handle control) {
  if (Command(sheet, id, code, control)) return;
  Guarded("the property sheet", [&] { sheet.StandardCommand(id, code, control); });
}

void Dispatch::SheetClose(CPropertySheet& sheet) {
  if (Close(sheet)) return;
  SheetCommand(sheet, IDCANCEL, BN_CLICKED, nullptr);
}

bool Dispatch::Notify(CWnd& wnd, int id, Notification& n, LRESULT& result) {
  bool handled = false;
  Guarded("OnNotify", [&] { handled = wnd.OnNotify(id, n, result); });
  return handled;
}

void Dispatch::Timer(CWnd& wnd, UINT_PTR id) {
  Guarded("OnTimer", [&] { wnd.OnTimer(id); });
}

bool Dispatch::SysCommand(CWnd& wnd, UINT id, LPARAM lParam) {
  bool handled = false;
  Guarded("OnSysCommand", [&] { handled = wnd.OnSysCommand(id, lParam); });
  return handled;
}

bool Dispatch::Close(CWnd& wnd) {
  bool handled = false;
  Guarded("OnClose", [&] { handled = wnd.OnClose(); });
  return handled;
}

bool Dispatch::Paint(CWnd& wnd) {
  bool handled = false;
  Guarded("OnPaint", [&] { handled = wnd.OnPaint(); });
  return handled;
}

HICON Dispatch::QueryDragIcon(CWnd& wnd) {
  HICON icon = nullptr;
  Guarded("OnQueryDragIcon", [&] { icon = wnd.OnQueryDragIcon(); });
  return icon;
}

void Dispatch::Destroy(CWnd& wnd) {
  Guarded("OnDestroy", [&] { wnd.OnDestroy(); });
}

bool Dispatch::Message(CWnd& wnd, UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result) {
  bool handled = false;
  Guarded("OnMessage", [&] { handled = wnd.OnMessage(msg, wParam, lParam, result); });
  return handled;
}

void Dispatch::PreSubclass(CWnd& wnd) {
  Guarded("PreSubclassWindow", [&] { wnd.PreSubclassWindow(); });
}

void Dispatch::PreCreate(CWnd& wnd, DWORD& style, DWORD& exStyle) {
  Guarded("PreCreateWindow", [&] { wnd.PreCreateWindow(style, exStyle); });
}

bool Dispatch::Mouse(CWnd& wnd, UINT msg, UINT keyFlags, CPoint point) {
  bool handled = false;
  Guarded("OnMouseMessage", [&] { handled = wnd.OnMouseMessage(msg, keyFlags, point); });
  return handled;
}

bool Dispatch::KeyDown(CWnd& wnd, UINT virtualKey) {
  bool handled = false;
  Guarded("OnKeyDown", [&] { handled = wnd.OnKeyDown(virtualKey); });
  return handled;
}

bool Dispatch::Reflected(CWnd& wnd, Notification& n, LRESULT& result) {
  bool handled = false;
  Guarded("OnReflectedNotify", [&] { handled = wnd.OnReflectedNotify(n, result); });
  return handled;
}

BOOL Dispatch::PageSetActive(CPropertyPage& page) {
  BOOL result = TRUE;
  Guarded("OnSetActive", [&] { result = page.OnSetActive(); });
  return result;
}

BOOL Dispatch::PageKillActive(CPropertyPage& page) {
  BOOL result = FALSE;
  Guarded("OnKillActive", [&] { result = page.OnKillActive(); });
  return result;
}

void Dispatch::PageOK(CPropertyPage& page) {
  Guarded("OnOK", [&] { page.OnOK(); });
}

void Dispatch::PageCancel(CPropertyPage& page) {
  Guarded("OnCancel", [&] { page.OnCancel(); });
}

void Dispatch::SetPageSheet(CPropertyPage& page, CPropertySheet* sheet) { page.m_sheet = sheet; }

}  // namespace tk::detail
