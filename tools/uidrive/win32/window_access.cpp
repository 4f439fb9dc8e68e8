#include "win32/window_access.h"

#include <cstdlib>

#include "line_protocol.h"

namespace uidrive {

void Fail(const std::string& message) {
  throw Failure{message};
}

LRESULT Send(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  DWORD_PTR result = 0;
  if (!SendMessageTimeoutA(window, message, wParam, lParam, SMTO_ABORTIFHUNG, kSendTimeoutMs, &result))
    Fail("window " + std::to_string(reinterpret_cast<UINT_PTR>(window)) + " did not answer message " +
         std::to_string(message));
  return static_cast<LRESULT>(result);
}

void Post(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (!PostMessageA(window, message, wParam, lParam))
    Fail("cannot post message " + std::to_string(message) + " (error " + std::to_string(GetLastError()) +
         ")");
}

std::string ClassOf(HWND window) {
  char name[256] = {};
  GetClassNameA(window, name, sizeof name);
  return name;
}

bool IsClass(HWND window, const char* name) {
  return lstrcmpiA(ClassOf(window).c_str(), name) == 0;
}

std::string TextOf(HWND window) {
  const auto length = static_cast<std::size_t>(Send(window, WM_GETTEXTLENGTH));
  std::string text(length + 1, '\0');
  const auto got = static_cast<std::size_t>(
      Send(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data())));
  text.resize(got < text.size() ? got : length);
  return text;
}

std::string TitleOf(HWND window) {
  try {
    return TextOf(window);
  } catch (const Failure&) {
    return {};
  }
}

namespace {

BOOL CALLBACK Collect(HWND window, LPARAM list) {
  reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
  return TRUE;
}

int Depth(HWND window, HWND top) {
  int depth = 0;
  for (HWND w = window; w && w != top; w = GetParent(w)) ++depth;
  return depth;
}

// Visible before hidden, then the shallowest: an IP control's inner fields or
// a hidden page must not shadow the dialog's own control with the same id.
HWND ChildWithId(HWND parent, int id) {
  HWND best = nullptr;
  int bestRank = 0;
  for (HWND w : Descendants(parent)) {
    if ((GetDlgCtrlID(w) & 0xFFFF) != id) continue;
    const int rank = (IsWindowVisible(w) ? 0 : 1000) + Depth(w, parent);
    if (!best || rank < bestRank) best = w, bestRank = rank;
  }
  return best;
}

}  // namespace

int ControlId(HWND window) {
  return static_cast<short>(GetDlgCtrlID(window) & 0xFFFF);
}

std::vector<HWND> TopLevelWindows() {
  std::vector<HWND> all, visible;
  EnumWindows(Collect, reinterpret_cast<LPARAM>(&all));
  for (HWND w : all)
    if (IsWindowVisible(w)) visible.push_back(w);
  return visible;
}

std::vector<HWND> Descendants(HWND parent) {
  std::vector<HWND> all;
  EnumChildWindows(parent, Collect, reinterpret_cast<LPARAM>(&all));
  return all;
}

HWND ResolveWindow(const std::string& word) {
  if (const auto handle = ParseInteger(word)) {
    HWND w = reinterpret_cast<HWND>(static_cast<UINT_PTR>(*handle));
    if (!IsWindow(w)) Fail("no window " + word);
    return w;
  }
  for (HWND w : TopLevelWindows())
    if (TextOf(w) == word) return w;
  Fail("no visible window titled \"" + word + "\"");
}

HWND ResolveControl(HWND top, const std::string& word) {
  if (word == ".") return top;
  HWND at = top;
  std::size_t start = 0;
  while (start <= word.size()) {
    const std::size_t slash = word.find('/', start);
    const std::string part =
        word.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
    const auto id = ParseInteger(part);
    if (!id) Fail("not a control id: " + part);
    // Dialog templates store ids as 16 bits: -1 reads back as 65535.
    at = ChildWithId(at, static_cast<int>(*id & 0xFFFF));
    if (!at) Fail("no control " + word);
    if (slash == std::string::npos) break;
    start = slash + 1;
  }
  return at;
}

}  // namespace uidrive
