// Probes: the few platform facts the tests check directly.
#include "win32_test_support.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

namespace tktest {

bool PumpUntil(const std::function<bool()>& done, int maxMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    DWORD elapsed = GetTickCount() - start;
    if (elapsed >= static_cast<DWORD>(maxMs)) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, static_cast<DWORD>(maxMs) - elapsed, QS_ALLINPUT);
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&msg);
      DispatchMessageA(&msg);
    }
  }
  return true;
}

std::vector<std::string> ChildTexts(tk::Handle window) {
  std::vector<std::string> texts;
  for (HWND h = GetWindow(static_cast<HWND>(window), GW_CHILD); h != nullptr; h = GetWindow(h, GW_HWNDNEXT)) {
    char text[512] = {};
    GetWindowTextA(h, text, sizeof(text));
    texts.emplace_back(text);
  }
  return texts;
}

std::string ClassOf(tk::Handle window) {
  char name[64] = {};
  GetClassNameA(static_cast<HWND>(window), name, sizeof(name));
  return name;
}

tk::Handle ChildById(tk::Handle window, int id) {
  return GetDlgItem(static_cast<HWND>(window), id);
}

std::vector<std::pair<unsigned, std::string>> MenuItems(tk::Handle menu) {
  std::vector<std::pair<unsigned, std::string>> items;
  HMENU h = static_cast<HMENU>(menu);
  int count = GetMenuItemCount(h);
  for (int i = 0; i < count; ++i) {
    char text[128] = {};
    GetMenuStringA(h, static_cast<UINT>(i), text, sizeof(text), MF_BYPOSITION);
    UINT id = GetMenuItemID(h, i);
    items.emplace_back(id == static_cast<UINT>(-1) ? 0u : id, text);
  }
  return items;
}

tk::COLORREF PixelAt(tk::Handle window, int x, int y) {
  HDC dc = GetDC(static_cast<HWND>(window));
  COLORREF c = GetPixel(dc, x, y);
  ReleaseDC(static_cast<HWND>(window), dc);
  return c;
}

unsigned long CurrentThreadId() {
  return GetCurrentThreadId();
}

bool WaitForQueuedMessage(unsigned msg, int maxMs) {
  const DWORD start = GetTickCount();
  MSG m;
  while (!PeekMessageA(&m, nullptr, msg, msg, PM_NOREMOVE)) {
    if (GetTickCount() - start >= static_cast<DWORD>(maxMs)) return false;
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
  }
  return true;
}

std::uint32_t PlatformInetAddr(const std::string& text) {
  return ntohl(inet_addr(text.c_str()));
}

tk::COLORREF PlatformSysColor(int index) {
  return GetSysColor(index);
}

std::string PlatformProgramPath() {
  char path[MAX_PATH] = {};
  DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  return std::string(path, length < MAX_PATH ? length : 0);
}

tk::LPARAM PackPoint(int x, int y) {
  return MAKELPARAM(x, y);
}

}  // namespace tktest
