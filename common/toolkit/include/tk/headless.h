// The headless backend's test driver. Available only when linking tk_headless.
//
// Controls are in-memory objects whose state tests read and change; user input
// is scripted through the functions below and travels the same dispatch path as
// real input. Modal dialogs, message boxes and file dialogs are answered by
// handlers the test installs; anything unexpected is reported to the failure
// handler (tests wire it to their framework). Timers run on a virtual clock that
// only the test advances; sockets are real and pumped by the test.
#pragma once

#include <cstdint>
#include <ctime>
#include <functional>
#include <string>
#include <vector>

#include "tk/controls.h"
#include "tk/dialog.h"
#include "tk/platform.h"
#include "tk/propsheet.h"

namespace tk::headless {

// ---- failures and teardown --------------------------------------------------

// Called with a description of every unexpected event (message box or modal
// dialog with no handler, a dialog left open by its handler, ...).
void SetFailureHandler(std::function<void(const std::string&)> handler);
// Resets the whole backend: clock, timers, handlers, records, platform settings.
void Reset();
// Describes what a test left behind (open windows, live timers, open sockets,
// unused scripted answers); empty when clean.
std::string Leftovers();

// ---- modal dialogs -------------------------------------------------------------

// Handler for a modal dialog or property sheet. It runs after OnInitDialog (and
// the posted messages that followed it), scripts the user's input and must end
// the dialog. `window` is the CDialog or CPropertySheet.
using ModalHandler = std::function<void(CWnd& window)>;
// Answers the next modal window whose caption is `caption` (empty: any caption).
// Handlers are used once each, in the order installed.
void ExpectModal(const std::string& caption, ModalHandler handler);
// Answers every modal window with this caption, for the rest of the test.
void OnModal(const std::string& caption, ModalHandler handler);

// ---- the modal loop -------------------------------------------------------------

// While a message box or a modal dialog with an owner is open, the platform's
// modal loop keeps delivering the program's due timers, posted messages and
// socket notifications. Each such window stays open for `milliseconds` of
// virtual time before its answer, in 10 ms steps; `idle` (may be empty) runs
// at the start of each step, e.g. to let simulated devices answer. A handler
// that reopens a box on every tick nests boxes without end: past
// kMaxNestedModals the backend reports a failure instead.
constexpr std::uint64_t kDefaultModalOpenMs = 30;
constexpr int kMaxNestedModals = 8;
void SetModalOpenTime(std::uint64_t milliseconds, std::function<void()> idle = {});

// ---- message boxes ---------------------------------------------------------------

struct MessageBoxCall {
  std::string text;
  std::string caption;
  UINT type = 0;  // MB_ buttons | icon | default button
};
// Answers the next message box; the call is recorded either way.
void ExpectMessageBox(std::function<int(const MessageBoxCall&)> answer);
// Convenience: expect exactly this text, answer with `result`.
void ExpectMessageBox(const std::string& text, int result = IDOK);
const std::vector<MessageBoxCall>& MessageBoxes();

// ---- file dialogs ------------------------------------------------------------------

struct FileDialogCall {
  bool open = true;
  std::string defaultExt;
  std::string fileName;
  DWORD flags = 0;
  std::string filter;
};
// Answers the next file dialog: return IDOK with `path` set, or IDCANCEL.
void ExpectFileDialog(std::function<int(const FileDialogCall&, std::string& path)> answer);
const std::vector<FileDialogCall>& FileDialogs();

// ---- user input --------------------------------------------------------------------

// Clicks a button: a push button sends BN_CLICKED; a check box toggles and sends
// it; a radio button is checked, its group siblings unchecked, and sends it.
// Clicking a disabled or hidden control is reported as a failure and does nothing.
void Click(CWnd& dialog, int id);
// Types into an edit as the user would: the text replaces the content, cut at
// the input limit; ES_NUMBER edits refuse non-digits. Sends EN_CHANGE.
void Type(CWnd& dialog, int id, const std::string& text);
// Picks a combo box entry (or -1) and sends CBN_SELCHANGE.
void SelectCombo(CWnd& dialog, int id, int index);
// Closes a window through its close box (WM_CLOSE / SC_CLOSE).
void CloseBox(CWnd& window);
// Chooses a system-menu command.
void SysCommand(CWnd& window, UINT id);
// Minimises or restores a window.
void SetIconic(CWnd& window, bool iconic);
// Sets a window's focus to a control (as a tab or click would).
void Focus(CWnd& dialog, int id);

// Lists: mouse and keys on a list control, through the control's hooks and then
// its default handling. Row/column -1 clicks empty space below the rows. A click
// on column 0 of a list with check boxes hits the check box and toggles it.
void ClickListCell(CListCtrl& list, int row, int column, UINT message = WM_LBUTTONDOWN);
void DoubleClickListCell(CListCtrl& list, int row, int column);
void PressKey(CWnd& control, UINT virtualKey);
void ClickListHeader(CListCtrl& list, int column);
// The colours a cell would be painted with: runs the custom-draw stages
// (pre-paint, item pre-paint, sub-item pre-paint) through the control.
struct CellPaint {
  COLORREF text = 0;
  COLORREF background = 0;
  LRESULT prepaintAnswer = 0;
  LRESULT itemAnswer = 0;
  LRESULT subItemAnswer = 0;
};
CellPaint PaintListCell(CListCtrl& list, int row, int column);
// Whether the list is currently locked against redraw, and how many times the
// list has been invalidated / redrawn (for the "redraw when asked" rules).
bool IsRedrawLocked(const CWnd& control);
int RedrawCount(const CWnd& control);

// ---- inspection ----------------------------------------------------------------------

// The system menu items appended to a window: (flags, id, text).
struct MenuItem {
  UINT flags = 0;
  UINT_PTR id = 0;
  std::string text;
};
std::vector<MenuItem> SystemMenu(const CWnd& window);
// Icons set on a window (big and small) and drawn by CPaintDC::DrawIcon.
HICON WindowIcon(const CWnd& window, bool big);
struct IconDraw {
  int x = 0;
  int y = 0;
  HICON icon = nullptr;
};
std::vector<IconDraw> IconDraws(const CWnd& window);
bool IconBackgroundErased(const CWnd& window);
// Resource id of an icon handle from LoadAppIcon (0 when not one of ours).
int IconResourceId(HICON icon);
// The ids of a window's child controls in creation order.
std::vector<int> ChildIds(const CWnd& window);
// The window that has the focus (empty CWnd when none).
CWnd FocusedWindow();
// Windows open now, top-level first.
std::vector<CWnd> OpenWindows();

// ---- clock and timers --------------------------------------------------------------

// Virtual milliseconds since Reset.
std::uint64_t Now();
// Advances the virtual clock, firing every due timer in time order (timers due at
// the same moment fire in the order they were set). Each period fires once per
// elapsed period. A handler that sets or kills timers affects later firings.
void Advance(std::uint64_t milliseconds);
// Advances the clock until `done` is true, `limitMs` has passed, or no timer is
// left; pumps posted messages and sockets (without blocking) between firings.
bool AdvanceUntil(const std::function<bool()>& done, std::uint64_t limitMs);
struct TimerInfo {
  Handle window = nullptr;
  UINT_PTR id = 0;
  UINT periodMs = 0;
  std::uint64_t nextDue = 0;
};
std::vector<TimerInfo> Timers();
bool HasTimer(const CWnd& window, UINT_PTR id);
// Total virtual milliseconds spent in tk::Sleep (which advances the clock
// without firing timers).
std::uint64_t SleptMs();

// ---- messages and sockets ------------------------------------------------------------

// Delivers posted messages until the queue is empty; returns how many.
int PumpPosted();
// Waits up to maxWaitMs of real time for any asynchronous socket to become
// readable, then delivers every pending OnReceive. Returns the notifications
// delivered.
int PumpSockets(int maxWaitMs);
// Pumps sockets and posted messages until `done` or `maxWaitMs` real time passed.
bool PumpUntil(const std::function<bool()>& done, int maxWaitMs);
int OpenSocketCount();
// Asked before every datagram a socket of this backend sends, with the socket's
// descriptor and the destination (host order). A non-empty answer refuses the
// send: nothing is sent, the call fails with WSAEACCES and the answer goes to
// the failure handler. Kept across Reset; none (every send made) until set.
using SendGuard = std::function<std::string(std::intptr_t socket, std::uint32_t destination, unsigned port)>;
void SetSendGuard(SendGuard guard);

// ---- platform settings -----------------------------------------------------------------

struct PlatformSettings {
  bool socketsStartupFails = false;
  std::string hostName = "testpc";
  bool hostNameFails = false;
  // What the host name resolves to (first entry is the first address); empty
  // makes resolution fail.
  std::vector<std::string> hostAddresses = {"127.0.0.1"};
  std::vector<AdapterInfo> adapters = {{"lo", "Loopback", "127.0.0.1", "255.0.0.0"}};
  unsigned long adaptersError = 0;  // nonzero: GetAdaptersInfo fails with it
  // Setting multicast loopback fails and leaves the socket's loopback as it was
  // (on), as on a stack that refuses the option.
  bool multicastLoopbackFails = false;
  // Calendar time at virtual time 0; CurrentTime() adds the virtual clock.
  std::time_t calendarBase = 0;
  bool localTimeFails = false;
  // Top-level windows of other programs, for FindTopLevelWindow.
  std::vector<std::string> foreignWindowTitles;
  // ProgramFolder, SystemFolder, and the files FileExists finds (full paths).
  std::string programFolder = "C:\\Program Files\\Test";
  std::string systemFolder = "C:\\WINDOWS\\system32";
  std::vector<std::string> files;
  unsigned processStartResult = 33;  // 31 or less: the start fails (with this error)
  // RunHiddenProcess: the exit code of a started process, or a wait that times
  // out. `processRunner`, when set, plays the process: it gets the command line
  // and returns the exit code. It plays the processes StartHiddenProcess starts
  // as well (their exit code is not used).
  unsigned long processExitCode = 0;
  bool processWaitTimesOut = false;
  std::function<unsigned long(const std::string&)> processRunner;
  std::intptr_t shellOpenResult = 42;
};
PlatformSettings& Platform();
const std::vector<std::string>& StartedProcesses();
const std::vector<std::string>& OpenedUrls();
struct BeepCall {
  unsigned frequency = 0;
  unsigned duration = 0;
};
const std::vector<BeepCall>& Beeps();

}  // namespace tk::headless
