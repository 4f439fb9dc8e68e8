// Finding windows and controls of other processes, reading their texts, and
// sending them messages with a bound on the wait.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace uidrive {

// Thrown by any command step that cannot go on; the loop answers "err <message>".
struct Failure {
  std::string message;
};
[[noreturn]] void Fail(const std::string& message);

// How long one message to another process may take before the command fails.
constexpr UINT kSendTimeoutMs = 5000;

LRESULT Send(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);
void Post(HWND window, UINT message, WPARAM wParam = 0, LPARAM lParam = 0);

std::string ClassOf(HWND window);
std::string TextOf(HWND window);  // through WM_GETTEXT, so edits of other processes answer too
// The title of a top-level window that may be closing: one that no longer
// answers has none, so a search over the windows passes it by.
std::string TitleOf(HWND window);
bool IsClass(HWND window, const char* name);

// A control's id as its dialog template wrote it: 16 bits, so -1 is -1 whether
// the template stored it in 16 or 32 bits.
int ControlId(HWND window);

// Visible top-level windows, in z-order.
std::vector<HWND> TopLevelWindows();
// Every descendant of `parent`, depth first (pages inside a sheet included).
std::vector<HWND> Descendants(HWND parent);

// A window named by a command word: a handle in decimal or 0x-hex, or the exact
// title of a visible top-level window.
HWND ResolveWindow(const std::string& word);
// A control inside `top`: "." for `top` itself, a control id, or ids joined by
// "/" to go through a page or child dialog first ("12/1001"). Among controls
// with the same id a visible one wins, then the one nearest to `top`.
HWND ResolveControl(HWND top, const std::string& word);

// Polls `found` every 50 ms until it returns a window or `timeoutMs` passes.
template <typename F>
HWND WaitFor(DWORD timeoutMs, F found) {
  const DWORD start = GetTickCount();
  for (;;) {
    if (HWND w = found()) return w;
    if (GetTickCount() - start >= timeoutMs) return nullptr;
    Sleep(50);
  }
}

}  // namespace uidrive
