// CWnd: the base of every window, control and dialog.
//
// A CWnd is a thin, non-owning wrapper around a window handle; copying it copies
// the handle. Classes that own a window (dialogs, property sheets) are not
// copyable. Window classes override the typed virtuals below; each backend
// decodes its platform messages once and calls them through tk::detail::Dispatch,
// so a scripted click in the headless backend travels the same route as a real one.
#pragma once

#include <string>
#include <vector>

#include "tk/types.h"

namespace tk {

class CWnd;
namespace detail {
class Dispatch;
}

// One WM_NOTIFY, decoded. Which fields are meaningful depends on the code.
struct Notification {
  UINT code = 0;
  int idFrom = 0;
  Handle from = nullptr;
  // NM_CLICK, NM_DBLCLK (item activation) and LVN_COLUMNCLICK (subItem = column)
  int item = -1;
  int subItem = -1;
  CPoint point;
  // NM_CUSTOMDRAW of a list view: stage, and the colours the handler may change
  DWORD drawStage = 0;
  COLORREF textColor = 0;
  COLORREF textBkColor = 0;
  // LVN_ITEMCHANGED
  UINT newState = 0;
  UINT oldState = 0;
  UINT changed = 0;
};

// The system menu of a window (only appending is needed).
class CMenu {
 public:
  explicit CMenu(Handle menu = nullptr) : m_hMenu(menu) {}
  bool AppendMenu(UINT flags, UINT_PTR id = 0, const std::string& text = {});
  Handle GetSafeHmenu() const { return m_hMenu; }

 private:
  Handle m_hMenu;
};

class CWnd {
 public:
  CWnd() = default;
  explicit CWnd(Handle h) : m_hWnd(h) {}
  CWnd(const CWnd&) = default;
  CWnd& operator=(const CWnd&) = default;
  virtual ~CWnd() = default;

  Handle GetSafeHwnd() const { return m_hWnd; }
  bool IsWindow() const;
  void Attach(Handle h) { m_hWnd = h; }
  Handle Detach() { Handle h = m_hWnd; m_hWnd = nullptr; return h; }

  // Generic window operations, valid for any window or control.
  void SetWindowText(const std::string& text);
  std::string GetWindowText() const;
  bool EnableWindow(bool enable = true);  // returns whether it was disabled before
  bool IsWindowEnabled() const;
  bool ShowWindow(int cmdShow);            // SW_HIDE, SW_SHOW, SW_MINIMIZE, SW_RESTORE
  bool IsWindowVisible() const;            // own WS_VISIBLE style
  bool IsIconic() const;
  void SetFocus();
  bool HasFocus() const;                   // this window has the keyboard focus
  int GetDlgCtrlID() const;
  CWnd GetDlgItem(int id) const;           // an empty CWnd when there is no such child
  CWnd GetParent() const;
  DWORD GetStyle() const;
  DWORD GetExStyle() const;
  bool ModifyStyle(DWORD remove, DWORD add);
  CRect GetClientRect() const;
  void Invalidate(bool erase = true);
  void UpdateWindow();
  void SetRedraw(bool redraw);
  bool LockWindowUpdate();
  void UnlockWindowUpdate();
  void SetIcon(HICON icon, bool big);
  UINT QueryDlgCode() const;               // the control's answer to WM_GETDLGCODE

  // Messages. SendMessage is synchronous: the receiver's handler has run when it
  // returns. PostMessage queues the message for the receiver's message loop.
  LRESULT SendMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;
  bool PostMessage(UINT msg, WPARAM wParam = 0, LPARAM lParam = 0) const;

  // Window timers: OnTimer(id) runs every `elapseMs` until KillTimer.
  UINT_PTR SetTimer(UINT_PTR id, UINT elapseMs);
  bool KillTimer(UINT_PTR id);

  CMenu GetSystemMenu(bool revert = false) const;

  // Makes this object the message target of an existing child window (a dialog
  // control): its mouse, key and reflected-notification handlers then run for
  // that window. Calls PreSubclassWindow first. Used by DDX_Control.
  bool SubclassWindow(Handle h);
  bool SubclassDlgItem(int id, CWnd* parent);
  bool IsSubclassed() const;

  // A message box owned by this window, with an explicit caption.
  int MessageBox(const std::string& text, const std::string& caption = {}, UINT type = MB_OK) const;

  bool operator==(const CWnd& other) const { return m_hWnd == other.m_hWnd; }

 protected:
  friend class detail::Dispatch;
  // Typed handlers. Each returns whether it handled the message; an unhandled
  // message gets the platform's (or the base class's) default handling.
  virtual bool OnCommand(UINT id, UINT code, Handle control);
  virtual bool OnNotify(int id, Notification& n, LRESULT& result);
  virtual void OnTimer(UINT_PTR id);
  virtual bool OnSysCommand(UINT id, LPARAM lParam);
  virtual bool OnClose();
  virtual bool OnPaint();
  virtual HICON OnQueryDragIcon();
  virtual void OnDestroy();
  // Any other message (user messages 0x400 and up in particular).
  virtual bool OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT& result);

  // Hooks of a subclassed control (see SubclassWindow).
  virtual void PreSubclassWindow() {}
  // Create-time style rules of a window created by code; may change the styles.
  virtual void PreCreateWindow(DWORD& style, DWORD& exStyle) { (void)style; (void)exStyle; }
  // WM_xBUTTONDOWN / WM_xBUTTONDBLCLK. Return true when handled; a handler that
  // wants the control's own behaviour as part of its work calls DefaultMouseMessage.
  virtual bool OnMouseMessage(UINT msg, UINT keyFlags, CPoint point);
  // WM_KEYDOWN. Return true to swallow the key.
  virtual bool OnKeyDown(UINT virtualKey);
  // A notification this control sent to its parent, offered to the control first
  // (reflection). Return true when handled; `result` is then the answer.
  virtual bool OnReflectedNotify(Notification& n, LRESULT& result);
  // The control's own handling of a mouse message (selection, check-box toggle,
  // and the NM_CLICK / NM_DBLCLK notification to the parent).
  void DefaultMouseMessage(UINT msg, UINT keyFlags, CPoint point);

  Handle m_hWnd = nullptr;
};

// A paint context for OnPaint. Created on the window being painted; ends the
// paint when destroyed.
class CPaintDC {
 public:
  explicit CPaintDC(CWnd* wnd);
  ~CPaintDC();
  CPaintDC(const CPaintDC&) = delete;
  CPaintDC& operator=(const CPaintDC&) = delete;
  Handle GetSafeHdc() const { return m_hdc; }
  bool DrawIcon(int x, int y, HICON icon);

 private:
  CWnd* m_wnd;
  Handle m_hdc = nullptr;
  void* m_paint = nullptr;  // backend's paint record
};

}  // namespace tk
