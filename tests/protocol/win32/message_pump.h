// The window thread's message loop for the win32 transport tests: the tests
// see only the toolkit API, the platform calls stay in message_pump.cpp.
#pragma once

#include <functional>

namespace protocol_win32_test {

// Dispatches this thread's messages (socket notifications among them) until
// `done` or `maxMs` of real time passed. True when `done`.
bool PumpMessagesUntil(const std::function<bool()>& done, int maxMs);

}  // namespace protocol_win32_test
