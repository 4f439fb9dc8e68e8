// The one place the win32 backend meets <windows.h>.
//
// The toolkit headers come first: they define constants with the platform's
// names and values (WS_CHILD, IDOK, ...), which the platform headers would
// otherwise turn into numbers. After <windows.h> the backend uses the
// platform's macros unqualified (same values) and the toolkit's types through
// `tk::`. The macros that share a name with a toolkit method are removed so the
// methods keep their names; the backend calls the ...A functions explicitly.
#pragma once

#include "tk/controls.h"
#include "tk/detail/dispatch.h"
#include "tk/dialog.h"
#include "tk/platform.h"
#include "tk/propsheet.h"
#include "tk/socket.h"
#include "tk/wnd.h"

// clang-format off
#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>
#include <commctrl.h>
#include <commdlg.h>
#include <iphlpapi.h>
#include <oleauto.h>
#include <shellapi.h>
// clang-format on

#undef SendMessage
#undef PostMessage
#undef MessageBox
#undef GetWindowText
#undef SetWindowText
#undef LoadIcon
#undef AppendMenu
#undef DrawIcon
#undef SetDlgItemText
#undef GetDlgItemText
#undef CheckDlgButton
#undef IsDlgButtonChecked
#undef CheckRadioButton
#undef GetSystemMenu
#undef GetClientRect
#undef UpdateWindow
#undef SubclassWindow
#undef GetNextItem
#undef GetCheck
#undef SetCheck
#undef DeleteItem
#undef InsertItem
#undef GetItemText
#undef SetItemText
#undef ERROR_SUCCESS
#undef ERROR_BUFFER_OVERFLOW
#undef ERROR_NO_DATA

// The control macros (PropSheet_..., ListView_...) send with the ANSI call.
#undef SNDMSG
#define SNDMSG ::SendMessageA

namespace tk::win32 {

// Registers the common control classes the templates use (once per process).
void InitControls();

// The message target of a window the toolkit created or subclassed, or null.
CWnd* BoundObject(HWND h);

// Hooks an existing control to `wnd` without calling PreSubclassWindow (a
// control created by code) or with it (a dialog control bound by DDX_Control).
bool HookControl(CWnd& wnd, HWND h);

// Builds an in-memory DLGTEMPLATE (DWORD aligned) for a toolkit template, with
// the dialog style changed by `addStyle` and `removeStyle`.
std::vector<WORD> BuildDialogTemplate(const DialogTemplate& tmpl, bool centred, DWORD addStyle,
                                      DWORD removeStyle = 0);

// Adds what the in-memory template cannot carry (combo box entries) to the
// controls of a freshly created dialog.
void FillControls(HWND dialog, const DialogTemplate& tmpl);

// Decodes one WM_NOTIFY and offers it to the sending control (reflection) and
// then to `owner`. Returns true when handled, with the answer in `result`.
bool RouteNotify(CWnd& owner, const NMHDR* header, LRESULT& result);

// The dialog procedure shared by dialogs and property pages once the object is
// known; `handled` false leaves the message to the dialog manager.
INT_PTR HandleDialogMessage(CDialog& dlg, HWND h, UINT msg, WPARAM wp, LPARAM lp, bool& handled);

std::wstring Widen(const std::string& text);
std::string WindowTextOf(HWND h);

}  // namespace tk::win32
