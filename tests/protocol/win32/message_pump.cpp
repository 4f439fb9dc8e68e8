// A bounded message loop on the platform's calls.
#include "message_pump.h"

// clang-format off
#include <winsock2.h>
#include <windows.h>
// clang-format on

namespace protocol_win32_test {

bool PumpMessagesUntil(const std::function<bool()>& done, int maxMs) {
  const DWORD start = GetTickCount();
  while (!done()) {
    const DWORD elapsed = GetTickCount() - start;
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

}  // namespace protocol_win32_test
