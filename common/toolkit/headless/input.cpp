// Scripted user input: clicks, typing, combo choices, the close box, the
// system menu, minimising and focus. Each travels the route real input takes.
#include <algorithm>
#include <cctype>

#include "backend.h"
#include "tk/detail/dispatch.h"

namespace tk::headless {

using namespace detail;
using tk::detail::Dispatch;

namespace {

// The control `id` of `dialog`, when the user can reach it.
Window* UsableControl(CWnd& dialog, int id, const char* what) {
  Window* d = Find(dialog.GetSafeHwnd());
  if (d == nullptr) {
    Fail(std::string(what) + ": the dialog is not open");
    return nullptr;
  }
  Window* c = ChildById(d, id);
  if (c == nullptr) {
    Fail(std::string(what) + ": no control " + std::to_string(id) + " in \"" + d->text + "\"");
    return nullptr;
  }
  if ((c->style & WS_VISIBLE) == 0 || (c->style & WS_DISABLED) != 0) {
    Fail(std::string(what) + ": " + DescribeWindow(c) + " is hidden or disabled");
    return nullptr;
  }
  return c;
}

void SendCommand(Window* control, UINT code) {
  Window* parent = control->parent;
  if (parent == nullptr || Find(parent) == nullptr || parent->target == nullptr) return;
  // The route a platform notification takes: WM_COMMAND to the parent.
  Deliver(parent, WM_COMMAND, static_cast<WPARAM>(control->id & 0xFFFF) | (static_cast<WPARAM>(code) << 16),
          reinterpret_cast<LPARAM>(H(control)));
}

bool IsRadio(const Window* w) {
  DWORD type = w->style & BS_TYPEMASK;
  return w->kind == Kind::Button && (type == BS_RADIOBUTTON || type == BS_AUTORADIOBUTTON);
}

// Checks an automatic radio button and unchecks the other radio buttons of its
// group (the controls between the WS_GROUP marks around it).
void CheckInGroup(Window* radio) {
  const std::vector<Window*>& siblings = radio->parent->children;
  auto at = std::find(siblings.begin(), siblings.end(), radio);
  auto first = at;
  while (first != siblings.begin() && ((*first)->style & WS_GROUP) == 0) --first;
  for (auto it = first; it != siblings.end(); ++it) {
    if (it != first && ((*it)->style & WS_GROUP) != 0) break;
    if (IsRadio(*it) && ((*it)->style & BS_TYPEMASK) == BS_AUTORADIOBUTTON) (*it)->check = BST_UNCHECKED;
  }
  radio->check = BST_CHECKED;
}

void ClickButton(Window* c) {
  DWORD type = c->style & BS_TYPEMASK;
  if (type == BS_AUTOCHECKBOX) c->check = c->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
  if (type == BS_AUTORADIOBUTTON) CheckInGroup(c);
}

}  // namespace

void Click(CWnd& dialog, int id) {
  Window* c = UsableControl(dialog, id, "Click");
  if (c == nullptr) return;
  if (c->kind == Kind::Button) {
    S().focus = c;
    ClickButton(c);
  }
  SendCommand(c, BN_CLICKED);
}

void Type(CWnd& dialog, int id, const std::string& text) {
  Window* c = UsableControl(dialog, id, "Type");
  if (c == nullptr) return;
  if (c->kind == Kind::IPAddress) {
    S().focus = c;
    CWnd(H(c)).SetWindowText(text);
    SendCommand(c, EN_CHANGE);
    return;
  }
  if (c->kind != Kind::Edit || (c->style & ES_READONLY) != 0) {
    Fail("Type: " + DescribeWindow(c) + " does not take typing");
    return;
  }
  std::string typed;
  for (char ch : text) {
    // A digits-only edit refuses every other key.
    if ((c->style & ES_NUMBER) != 0 && !std::isdigit(static_cast<unsigned char>(ch))) continue;
    if (typed.size() >= c->limit) break;
    typed += ch;
  }
  S().focus = c;
  c->text = typed;
  SendCommand(c, EN_CHANGE);
}

void SelectCombo(CWnd& dialog, int id, int index) {
  Window* c = UsableControl(dialog, id, "SelectCombo");
  if (c == nullptr) return;
  if (c->kind != Kind::ComboBox || index < -1 || index >= static_cast<int>(c->entries.size())) {
    Fail("SelectCombo: " + DescribeWindow(c) + " has no entry " + std::to_string(index));
    return;
  }
  S().focus = c;
  c->selection = index;
  SendCommand(c, CBN_SELCHANGE);
}

void CloseBox(CWnd& window) {
  Window* w = Find(window.GetSafeHwnd());
  if (w == nullptr) {
    Fail("CloseBox: the window is not open");
    return;
  }
  CloseWindow(w);
}

namespace {

void Repaint(Window* w) {
  if (w->target != nullptr) Dispatch::Paint(*w->target);
}

}  // namespace

void SetIconic(CWnd& window, bool iconic) {
  Window* w = Find(window.GetSafeHwnd());
  if (w == nullptr) {
    Fail("SetIconic: the window is not open");
    return;
  }
  w->iconic = iconic;
  Repaint(w);
}

void SysCommand(CWnd& window, UINT id) {
  Window* w = Find(window.GetSafeHwnd());
  if (w == nullptr) {
    Fail("SysCommand: the window is not open");
    return;
  }
  if (w->target != nullptr && Dispatch::SysCommand(*w->target, id, 0)) return;
  if (Find(w) == nullptr) return;
  // The platform's handling of the standard commands.
  switch (id & 0xFFF0) {
    case SC_CLOSE:
      CloseWindow(w);
      break;
    case SC_MINIMIZE:
      w->iconic = true;
      Repaint(w);
      break;
    case SC_RESTORE:
      w->iconic = false;
      Repaint(w);
      break;
    default:
      break;
  }
}

void Focus(CWnd& dialog, int id) {
  Window* c = UsableControl(dialog, id, "Focus");
  if (c != nullptr) S().focus = c;
}

}  // namespace tk::headless
