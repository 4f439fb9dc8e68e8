// uidrive: drives the windows of another program for end-to-end checks. It runs
// beside that program (same Wine prefix, same display), reads one command per
// line on stdin and answers each with one line on stdout: "ok <JSON>" or
// "err <message>". Every wait is bounded, so a check never hangs on it.
// `uidrive --help` lists the commands; tests/e2e/README.md shows them in use.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <functional>
#include <iostream>
#include <map>
#include <string>
#include <vector>

#include "line_protocol.h"
#include "win32/listview.h"
#include "win32/screen.h"
#include "win32/window_access.h"

namespace uidrive {
namespace {

using Words = std::vector<std::string>;

constexpr DWORD kDefaultWaitMs = 10000;
constexpr DWORD kLongestWaitMs = 120000;
constexpr int kWineMessageBoxIcon = 1088;  // the icon's id in a message box (20 on Windows)

const char kHelp[] =
    "uidrive: one command per line on stdin, one answer per line: \"ok <JSON>\" or \"err <message>\".\n"
    "Words are separated by blanks; quote a word with \"...\" (\\\" \\\\ \\n \\t inside).\n"
    "WIN: a window handle (decimal or 0x-hex) or the exact title of a visible top-level window.\n"
    "CTL: \".\" (the window itself), a control id, or ids joined by \"/\" through a page (\"12/1001\");\n"
    "     controls are looked for among all descendants: visible first, then the nearest.\n"
    "  ping                              -> \"uidrive\"\n"
    "  windows                           -> visible top-level windows [{hwnd,title,class,pid}]\n"
    "  wait TITLE [MS]                   -> {hwnd,pid} once a visible window has that exact title\n"
    "  gone WIN [MS]                     -> true once the window is closed or hidden\n"
    "  controls WIN                      -> every descendant control [{hwnd,parent,id,class,text,enabled,\n"
    "                                       visible,checked,style}]\n"
    "  control WIN CTL                   -> one control, as above\n"
    "  text WIN CTL                      -> its text\n"
    "  press WIN CTL                     -> clicks an enabled, visible button (posted, never blocks)\n"
    "  settext WIN CTL TEXT              -> sets an edit's text, or an IP control's address (\"\" clears)\n"
    "  choose WIN CTL TEXT|#N            -> selects a combo box entry and tells its parent\n"
    "  columns WIN CTL                   -> a list view's columns [{text,width}]\n"
    "  rows WIN CTL                      -> a list view's rows [{texts:[...],checked,selected}]\n"
    "  tick WIN CTL ROW 0|1              -> sets a row's check box\n"
    "  select WIN CTL ROW                -> selects and focuses a row\n"
    "  cell WIN CTL ROW SUB              -> {rect,background,foreground} of a list cell, from the screen\n"
    "  click WIN CTL X Y [double]        -> posts a left click at client X,Y of the control\n"
    "  clickcell WIN CTL ROW SUB [double] -> the same, in the middle of a list cell\n"
    "  key WIN CTL VK                    -> posts a key press (virtual-key code)\n"
    "  send WIN CTL MSG WPARAM LPARAM    -> the result of a message with integer parameters\n"
    "  post WIN CTL MSG WPARAM LPARAM    -> posts it instead\n"
    "  msgbox [CAPTION] [MS]             -> {hwnd,caption,text,icon,buttons:[{id,text,default}]} of a\n"
    "                                       message box (icon: error|question|warning|information|none)\n"
    "  answer WIN BUTTON                 -> presses a message box button by id or text (\"No\", \"&No\")\n"
    "  shot WIN FILE                     -> writes the window as it is on screen to a 24-bit BMP\n"
    "  pixel WIN CTL X Y                 -> \"RRGGBB\" at client X,Y of the control\n"
    "  close WIN                         -> posts WM_CLOSE\n"
    "  sleep MS                          -> waits (at most 10 s)\n"
    "  quit                              -> ends uidrive\n";

std::string Handle(HWND w) {
  return std::to_string(reinterpret_cast<UINT_PTR>(w));
}

long long Integer(const std::string& word) {
  const auto value = ParseInteger(word);
  if (!value) Fail("not a number: " + word);
  return *value;
}

DWORD WaitMs(const Words& args, std::size_t index) {
  if (args.size() <= index) return kDefaultWaitMs;
  const long long ms = Integer(args[index]);
  if (ms < 0 || ms > static_cast<long long>(kLongestWaitMs)) Fail("a wait lies between 0 and 120000 ms");
  return static_cast<DWORD>(ms);
}

void NeedArgs(const Words& args, std::size_t least, std::size_t most = 0) {
  if (args.size() < least || args.size() > (most ? most : least)) Fail("wrong number of words; see --help");
}

DWORD ProcessOf(HWND w) {
  DWORD pid = 0;
  GetWindowThreadProcessId(w, &pid);
  return pid;
}

std::string ControlJson(HWND c) {
  const auto style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
  const bool button = IsClass(c, "Button");
  const long long checked = button ? static_cast<long long>(Send(c, BM_GETCHECK)) : 0;
  HWND parent = GetParent(c);
  return JsonObject()
      .Add("hwnd", Handle(c))
      .Add("parent", parent ? ControlId(parent) : 0)
      .Add("id", ControlId(c))
      .Add("class", ClassOf(c))
      .Add("text", TextOf(c))
      .Add("enabled", IsWindowEnabled(c) != 0)
      .Add("visible", IsWindowVisible(c) != 0)
      .Add("checked", checked == BST_CHECKED)
      .Add("style", static_cast<long long>(style))
      .Text();
}

// A control from "WIN CTL" at args[0], args[1].
HWND Target(const Words& args) {
  return ResolveControl(ResolveWindow(args[0]), args[1]);
}

std::string RectJson(const RECT& r) {
  return "[" + std::to_string(r.left) + "," + std::to_string(r.top) + "," + std::to_string(r.right) + "," +
         std::to_string(r.bottom) + "]";
}

void PostClick(HWND w, int x, int y, bool twice) {
  const LPARAM at = MAKELPARAM(x, y);
  Post(w, WM_LBUTTONDOWN, MK_LBUTTON, at);
  Post(w, WM_LBUTTONUP, 0, at);
  if (!twice) return;
  Post(w, WM_LBUTTONDBLCLK, MK_LBUTTON, at);
  Post(w, WM_LBUTTONUP, 0, at);
}

// A click as the parent hears it. Push buttons tell their parent directly:
// BM_CLICK goes through mouse capture, which a window without focus under Wine
// does not always get. Check boxes and radio buttons take BM_CLICK, which also
// changes their state.
void Click(HWND button) {
  const auto type = static_cast<DWORD>(GetWindowLongA(button, GWL_STYLE)) & BS_TYPEMASK;
  if (type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON || !IsClass(button, "Button")) {
    Post(GetParent(button), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(button), BN_CLICKED),
         reinterpret_cast<LPARAM>(button));
  } else {
    Post(button, BM_CLICK);
  }
}

// A message box: a dialog with the message text (a no-prefix static with id
// -1) and nothing but statics and push buttons.
bool IsMessageBox(HWND w) {
  if (!IsClass(w, "#32770")) return false;
  bool text = false;
  for (HWND c : Descendants(w)) {
    const auto style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
    if (IsClass(c, "Static")) {
      if (ControlId(c) == -1 && (style & SS_NOPREFIX)) text = true;
    } else if (!IsClass(c, "Button") || (style & BS_TYPEMASK) > BS_DEFPUSHBUTTON) {
      return false;
    }
  }
  return text;
}

std::string MessageBoxJson(HWND box) {
  std::string text;
  std::vector<std::string> buttons;
  HWND icon = nullptr;
  for (HWND c : Descendants(box)) {
    const int id = ControlId(c);
    if (IsClass(c, "Static") && id == -1) text = TextOf(c);
    if (IsClass(c, "Static") && (id == kWineMessageBoxIcon || id == 20)) icon = c;
    if (IsClass(c, "Button") && IsWindowVisible(c)) {
      const auto style = static_cast<DWORD>(GetWindowLongA(c, GWL_STYLE));
      buttons.push_back(JsonObject()
                            .Add("id", id)
                            .Add("text", TextOf(c))
                            .Add("default", (style & BS_TYPEMASK) == BS_DEFPUSHBUTTON)
                            .Text());
    }
  }
  return JsonObject()
      .Add("hwnd", Handle(box))
      .Add("caption", TextOf(box))
      .Add("text", text)
      .Add("icon", StandardIconShown(icon))
      .AddRaw("buttons", JsonArray(buttons))
      .Text();
}

std::string WithoutAmpersands(std::string text) {
  std::string out;
  for (char c : text)
    if (c != '&') out += c;
  return out;
}

using Command = std::function<std::string(const Words&)>;

std::map<std::string, Command> Commands() {
  std::map<std::string, Command> c;
  c["ping"] = [](const Words& a) {
    NeedArgs(a, 0);
    return JsonString("uidrive");
  };
  c["windows"] = [](const Words& a) {
    NeedArgs(a, 0);
    std::vector<std::string> list;
    for (HWND w : TopLevelWindows())
      list.push_back(JsonObject()
                         .Add("hwnd", Handle(w))
                         .Add("title", TitleOf(w))
                         .Add("class", ClassOf(w))
                         .Add("pid", static_cast<long long>(ProcessOf(w)))
                         .Text());
    return JsonArray(list);
  };
  c["wait"] = [](const Words& a) {
    NeedArgs(a, 1, 2);
    HWND w = WaitFor(WaitMs(a, 1), [&]() -> HWND {
      for (HWND t : TopLevelWindows())
        if (TitleOf(t) == a[0]) return t;
      return nullptr;
    });
    if (!w) Fail("no window titled \"" + a[0] + "\" appeared");
    return JsonObject().Add("hwnd", Handle(w)).Add("pid", static_cast<long long>(ProcessOf(w))).Text();
  };
  c["gone"] = [](const Words& a) {
    NeedArgs(a, 1, 2);
    const auto handle = ParseInteger(a[0]);
    if (!handle) Fail("gone takes a window handle");
    HWND target = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*handle));
    const DWORD start = GetTickCount();
    while (IsWindow(target) && IsWindowVisible(target)) {
      if (GetTickCount() - start >= WaitMs(a, 1)) Fail("window " + a[0] + " is still there");
      Sleep(50);
    }
    return std::string("true");
  };
  c["controls"] = [](const Words& a) {
    NeedArgs(a, 1);
    std::vector<std::string> list;
    for (HWND w : Descendants(ResolveWindow(a[0]))) list.push_back(ControlJson(w));
    return JsonArray(list);
  };
  c["control"] = [](const Words& a) {
    NeedArgs(a, 2);
    return ControlJson(Target(a));
  };
  c["text"] = [](const Words& a) {
    NeedArgs(a, 2);
    return JsonString(TextOf(Target(a)));
  };
  c["press"] = [](const Words& a) {
    NeedArgs(a, 2);
    HWND b = Target(a);
    if (!IsWindowVisible(b)) Fail("control " + a[1] + " is hidden");
    if (!IsWindowEnabled(b)) Fail("control " + a[1] + " is disabled");
    Click(b);
    return std::string("true");
  };
  c["settext"] = [](const Words& a) {
    NeedArgs(a, 3);
    HWND e = Target(a);
    if (IsClass(e, WC_IPADDRESSA)) {
      if (a[2].empty()) {
        Send(e, IPM_CLEARADDRESS);
      } else {
        unsigned b[4];
        char end = 0;
        if (std::sscanf(a[2].c_str(), "%u.%u.%u.%u%c", &b[0], &b[1], &b[2], &b[3], &end) != 4 || b[0] > 255 ||
            b[1] > 255 || b[2] > 255 || b[3] > 255)
          Fail("not a dotted address: " + a[2]);
        Send(e, IPM_SETADDRESS, 0, static_cast<LPARAM>(MAKEIPADDRESS(b[0], b[1], b[2], b[3])));
      }
    } else {
      Send(e, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(a[2].c_str()));
    }
    return JsonString(TextOf(e));
  };
  c["choose"] = [](const Words& a) {
    NeedArgs(a, 3);
    HWND combo = Target(a);
    const int count = static_cast<int>(Send(combo, CB_GETCOUNT));
    int index = -1;
    if (a[2].size() > 1 && a[2][0] == '#') {
      index = static_cast<int>(Integer(a[2].substr(1)));
    } else {
      // Entry texts cannot be read across processes (Wine refuses CB_GETLBTEXT
      // there), but the selected one can: select each in turn, put back the
      // first selection when none matches.
      const auto before = Send(combo, CB_GETCURSEL);
      for (int i = 0; i < count && index < 0; ++i) {
        Send(combo, CB_SETCURSEL, i);
        if (TextOf(combo) == a[2]) index = i;
      }
      if (index < 0) Send(combo, CB_SETCURSEL, static_cast<WPARAM>(before));
    }
    if (index < 0 || index >= count) Fail("no entry " + a[2] + " among " + std::to_string(count));
    Send(combo, CB_SETCURSEL, index);
    Post(GetParent(combo), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(combo), CBN_SELCHANGE),
         reinterpret_cast<LPARAM>(combo));
    return std::to_string(index);
  };
  c["columns"] = [](const Words& a) {
    NeedArgs(a, 2);
    std::vector<std::string> list;
    for (const ListColumn& col : ListColumns(Target(a)))
      list.push_back(JsonObject().Add("text", col.text).Add("width", col.width).Text());
    return JsonArray(list);
  };
  c["rows"] = [](const Words& a) {
    NeedArgs(a, 2);
    std::vector<std::string> list;
    for (const ListRow& row : ListRows(Target(a))) {
      std::vector<std::string> texts;
      for (const std::string& t : row.texts) texts.push_back(JsonString(t));
      list.push_back(JsonObject()
                         .AddRaw("texts", JsonArray(texts))
                         .Add("checked", row.checked)
                         .Add("selected", row.selected)
                         .Text());
    }
    return JsonArray(list);
  };
  c["tick"] = [](const Words& a) {
    NeedArgs(a, 4);
    SetRowChecked(Target(a), static_cast<int>(Integer(a[2])), Integer(a[3]) != 0);
    return std::string("true");
  };
  c["select"] = [](const Words& a) {
    NeedArgs(a, 3);
    SelectRow(Target(a), static_cast<int>(Integer(a[2])));
    return std::string("true");
  };
  c["cell"] = [](const Words& a) {
    NeedArgs(a, 4);
    HWND list = Target(a);
    RECT r = CellRect(list, static_cast<int>(Integer(a[2])), static_cast<int>(Integer(a[3])));
    RECT onScreen = r;
    MapWindowPoints(list, nullptr, reinterpret_cast<POINT*>(&onScreen), 2);
    const CellColours colours = ColoursIn(onScreen);
    return JsonObject()
        .AddRaw("rect", RectJson(r))
        .Add("background", ColourText(colours.background))
        .Add("foreground", ColourText(colours.foreground))
        .Text();
  };
  c["click"] = [](const Words& a) {
    NeedArgs(a, 4, 5);
    PostClick(Target(a), static_cast<int>(Integer(a[2])), static_cast<int>(Integer(a[3])), a.size() == 5);
    return std::string("true");
  };
  c["clickcell"] = [](const Words& a) {
    NeedArgs(a, 4, 5);
    HWND list = Target(a);
    const RECT r = CellRect(list, static_cast<int>(Integer(a[2])), static_cast<int>(Integer(a[3])));
    PostClick(list, (r.left + r.right) / 2, (r.top + r.bottom) / 2, a.size() == 5);
    return std::string("true");
  };
  c["key"] = [](const Words& a) {
    NeedArgs(a, 3);
    HWND w = Target(a);
    const auto vk = static_cast<WPARAM>(Integer(a[2]));
    Post(w, WM_KEYDOWN, vk, 1);
    Post(w, WM_KEYUP, vk, static_cast<LPARAM>(0xC0000001u));
    return std::string("true");
  };
  c["send"] = [](const Words& a) {
    NeedArgs(a, 5);
    return std::to_string(Send(Target(a), static_cast<UINT>(Integer(a[2])),
                               static_cast<WPARAM>(Integer(a[3])), static_cast<LPARAM>(Integer(a[4]))));
  };
  c["post"] = [](const Words& a) {
    NeedArgs(a, 5);
    Post(Target(a), static_cast<UINT>(Integer(a[2])), static_cast<WPARAM>(Integer(a[3])),
         static_cast<LPARAM>(Integer(a[4])));
    return std::string("true");
  };
  c["msgbox"] = [](const Words& a) {
    NeedArgs(a, 0, 2);
    const bool titled = !a.empty() && !ParseInteger(a[0]);
    const DWORD wait = WaitMs(a, titled ? 1 : 0);
    std::string json;
    HWND box = WaitFor(wait, [&]() -> HWND {
      for (HWND w : TopLevelWindows()) {
        try {
          if (!IsMessageBox(w) || (titled && TitleOf(w) != a[0])) continue;
          Sleep(200);  // the box paints itself before its icon is compared with the screen
          json = MessageBoxJson(w);
          return w;
        } catch (const Failure&) {
          // a box closing under our hands: look again
        }
      }
      return nullptr;
    });
    if (!box) Fail(titled ? "no message box titled \"" + a[0] + "\" appeared" : "no message box appeared");
    return json;
  };
  c["answer"] = [](const Words& a) {
    NeedArgs(a, 2);
    HWND box = ResolveWindow(a[0]);
    const auto id = ParseInteger(a[1]);
    for (HWND b : Descendants(box)) {
      if (!IsClass(b, "Button") || !IsWindowVisible(b)) continue;
      const bool match =
          id ? ControlId(b) == *id
             : lstrcmpiA(WithoutAmpersands(TextOf(b)).c_str(), WithoutAmpersands(a[1]).c_str()) == 0;
      if (!match) continue;
      Click(b);
      // The box is gone before the answer returns, so the next search for a
      // box cannot find this one while it closes.
      for (const DWORD start = GetTickCount(); IsWindow(box) && IsWindowVisible(box);) {
        if (GetTickCount() - start > 5000) Fail("the box did not close after its answer");
        Sleep(20);
      }
      return std::string("true");
    }
    Fail("no button " + a[1]);
  };
  c["shot"] = [](const Words& a) {
    NeedArgs(a, 2);
    RECT r;
    GetWindowRect(ResolveWindow(a[0]), &r);
    SaveBmp(Capture(r), a[1]);
    return JsonObject().Add("width", r.right - r.left).Add("height", r.bottom - r.top).Text();
  };
  c["pixel"] = [](const Words& a) {
    NeedArgs(a, 4);
    HWND w = Target(a);
    POINT p{static_cast<LONG>(Integer(a[2])), static_cast<LONG>(Integer(a[3]))};
    ClientToScreen(w, &p);
    const Picture one = Capture(RECT{p.x, p.y, p.x + 1, p.y + 1});
    return JsonString(ColourText(one.pixels.at(0)));
  };
  c["close"] = [](const Words& a) {
    NeedArgs(a, 1);
    Post(ResolveWindow(a[0]), WM_CLOSE);
    return std::string("true");
  };
  c["sleep"] = [](const Words& a) {
    NeedArgs(a, 1);
    const long long ms = Integer(a[0]);
    if (ms < 0 || ms > 10000) Fail("sleep lies between 0 and 10000 ms");
    Sleep(static_cast<DWORD>(ms));
    return std::string("true");
  };
  return c;
}

std::string Answer(const std::map<std::string, Command>& commands, const std::string& line) {
  std::string error;
  Words words = SplitWords(line, error);
  if (!error.empty()) return "err " + error;
  if (words.empty()) return "err empty command";
  const auto found = commands.find(words[0]);
  if (found == commands.end()) return "err unknown command " + words[0];
  words.erase(words.begin());
  try {
    return "ok " + found->second(words);
  } catch (const Failure& f) {
    return "err " + f.message;
  } catch (const std::exception& e) {
    return std::string("err ") + e.what();
  }
}

}  // namespace
}  // namespace uidrive

int main(int argc, char** argv) {
  if (argc > 1) {
    std::fputs(uidrive::kHelp, argc == 2 && std::string(argv[1]) == "--help" ? stdout : stderr);
    return argc == 2 && std::string(argv[1]) == "--help" ? 0 : 2;
  }
  const auto commands = uidrive::Commands();
  std::string line;
  while (std::getline(std::cin, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line == "quit") {
      std::puts("ok true");
      std::fflush(stdout);
      break;
    }
    const std::string answer = uidrive::Answer(commands, line);
    // One line each: a newline inside a message would split the answer.
    std::string flat;
    for (char ch : answer) flat += ch == '\n' || ch == '\r' ? ' ' : ch;
    std::fputs((flat + "\n").c_str(), stdout);
    std::fflush(stdout);
  }
  return 0;
}
