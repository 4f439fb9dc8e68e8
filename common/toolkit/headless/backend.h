// The headless backend's private state: in-memory windows, the registry of live
// handles, the virtual clock, scripted answers and what the test can inspect.
//
// A Handle of this backend is a Window*. A handle is only ever dereferenced
// after Find() confirmed it is live; destroyed windows stay allocated (in the
// graveyard) until Reset, so a stale handle can never alias a new window.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tk/dialog_template.h"
#include "tk/headless.h"
#include "tk/socket.h"

namespace tk::headless::detail {

enum class Kind {
  Dialog,
  Sheet,
  Page,
  Button,
  Edit,
  Static,
  ComboBox,
  ListView,
  Header,
  Progress,
  IPAddress,
  UpDown
};

struct ListColumn {
  std::string heading;
  int width = 0;
  int format = LVCFMT_LEFT;
};

struct ListItem {
  std::vector<std::string> texts;  // one per column (at least one)
  std::vector<int> images;         // one per column, -1 when none
  UINT state = 0;
  LPARAM data = 0;
};

struct Menu {
  std::vector<MenuItem> items;
};

struct Window {
  Kind kind = Kind::Static;
  int id = 0;
  std::string text;
  DWORD style = 0;
  DWORD exStyle = 0;
  CRect rect;  // pixels, relative to the parent
  Window* parent = nullptr;
  std::vector<Window*> children;  // creation order
  CWnd* target = nullptr;         // the object that receives this window's messages
  bool iconic = false;

  // Buttons and statics.
  int check = BST_UNCHECKED;
  HICON image = nullptr;
  int resourceId = 0;
  // Edits.
  UINT limit = 30000;
  int selStart = 0;
  int selEnd = 0;
  // Combo boxes.
  std::vector<std::string> entries;
  int selection = -1;
  // Progress bars and up-down controls.
  int low = 0;
  int high = 100;
  int pos = 0;
  // IP address controls.
  DWORD address = 0;
  bool blank = true;
  // List views (the header is a child window of kind Header).
  std::vector<ListColumn> columns;
  std::vector<ListItem> items;
  DWORD listExStyle = 0;
  COLORREF bkColor = 0;
  COLORREF textColor = 0;
  Window* header = nullptr;
  // Redraw bookkeeping.
  bool redrawOff = false;
  int redrawCount = 0;

  // Top-level windows.
  HICON bigIcon = nullptr;
  HICON smallIcon = nullptr;
  std::vector<IconDraw> iconDraws;
  bool iconErased = false;
  std::unique_ptr<Menu> systemMenu;
  bool ended = false;
  int result = 0;
};

struct Timer {
  Window* window = nullptr;
  UINT_PTR id = 0;
  UINT period = 0;
  std::uint64_t due = 0;
  std::uint64_t order = 0;  // set order, for ties
};

struct Posted {
  Window* window = nullptr;
  UINT msg = 0;
  WPARAM wParam = 0;
  LPARAM lParam = 0;
};

struct ModalAnswer {
  std::string caption;
  ModalHandler handler;
};

struct State {
  std::function<void(const std::string&)> failure;
  std::set<Window*> live;
  std::vector<std::unique_ptr<Window>> all;  // live and destroyed, freed by Reset
  std::vector<Window*> topLevel;             // open top-level windows, oldest first
  Window* focus = nullptr;
  Window* updateLocked = nullptr;
  std::set<Menu*> menus;

  std::uint64_t now = 0;
  std::uint64_t slept = 0;
  std::uint64_t timerOrder = 0;
  std::vector<Timer> timers;
  // How long each message box and owned modal dialog stays open before its
  // answer, the work done on each 10 ms step meanwhile, and how many are open.
  std::uint64_t modalOpenMs = kDefaultModalOpenMs;
  std::function<void()> modalIdle;
  int modalDepth = 0;
  std::deque<Posted> posted;

  std::deque<ModalAnswer> expectedModals;
  std::vector<ModalAnswer> modalHandlers;
  std::deque<std::function<int(const MessageBoxCall&)>> messageBoxAnswers;
  std::vector<MessageBoxCall> messageBoxes;
  std::deque<std::function<int(const FileDialogCall&, std::string&)>> fileDialogAnswers;
  std::vector<FileDialogCall> fileDialogs;

  std::set<CAsyncSocket*> asyncSockets;

  PlatformSettings platform;
  std::vector<std::string> processes;
  std::vector<std::string> urls;
  std::vector<BeepCall> beeps;
};

State& S();
void Fail(const std::string& what);

// The live window behind a handle, or null.
Window* Find(Handle h);
inline Handle H(Window* w) {
  return static_cast<Handle>(w);
}

Window* CreateWindowObject(Kind kind, Window* parent, int id, const std::string& text, DWORD style,
                           DWORD exStyle, CRect rect);
// Destroys a window and its children: OnDestroy to every message target
// (parent first), targets detached, timers killed, focus dropped.
void DestroyWindowObject(Window* w);
Window* ChildById(const Window* parent, int id);

// Message delivery with the platform's default handling of what nobody handled.
LRESULT Deliver(Window* w, UINT msg, WPARAM wParam, LPARAM lParam);
// The close box: OnClose, and for dialogs and sheets the Cancel command when
// nobody handled it.
void CloseWindow(Window* w);
// Sends a notification: offered to the control's own target, then its parent.
LRESULT NotifyParent(Window* control, Notification& n);

// A dialog, sheet page or property page window with the template's controls.
Window* CreateFromTemplate(Kind kind, Window* parent, const DialogTemplate& t);
// The dialog manager's initial focus: the first visible, enabled tab stop.
void FocusFirstTabStop(Window* dialog);
// Runs the scripted handler for a modal window that has just been initialised.
void RunModal(Window* w, CWnd& object);
// The platform's modal loop while a message box or an owned modal dialog is
// open: due timers fire, posted messages and socket notifications arrive, for
// the open time set by SetModalOpenTime. False (and a failure reported) when
// boxes are nested deeper than any real flow opens them.
bool RunModalLoop(const std::string& what);

// Dialog units to pixels, with the base units of an 8-point dialog font.
CRect DialogUnitsToPixels(CRect r);

// Gives a new list view its header and the system colours.
void InitList(Window* list);

// The list view's own handling of a mouse button message.
void ListDefaultMouse(Window* list, UINT msg, CPoint point);

// The list view's state-image check helpers (1 unchecked, 2 checked).
bool ItemChecked(const ListItem& item);
void SetItemChecked(ListItem& item, bool checked);

// Sockets for Reset and Leftovers. Blocking sockets may be used by a simulator
// on a thread of its own, so their count is kept apart and atomic.
void CloseAllSockets();
// Open asynchronous sockets that asked for read notifications.
int NotifyingSocketCount();
int OpenBlockingSockets();
std::string DescribeWindow(const Window* w);

}  // namespace tk::headless::detail
