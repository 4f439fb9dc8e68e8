// Window timers on the virtual clock, posted messages, Sleep and the pumps.
#include <algorithm>
#include <chrono>

#include "backend.h"
#include "tk/detail/dispatch.h"
#include "tk/platform.h"

namespace tk {

using namespace tk::headless::detail;

UINT_PTR CWnd::SetTimer(UINT_PTR id, UINT elapseMs) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return 0;
  // The platform raises periods below its minimum to 10 ms.
  UINT period = std::max<UINT>(elapseMs, 10);
  State& s = S();
  std::erase_if(s.timers, [&](const Timer& t) { return t.window == w && t.id == id; });
  s.timers.push_back({w, id, period, s.now + period, ++s.timerOrder});
  return id;
}

bool CWnd::KillTimer(UINT_PTR id) {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  return std::erase_if(S().timers, [&](const Timer& t) { return t.window == w && t.id == id; }) != 0;
}

bool CWnd::PostMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return false;
  S().posted.push_back({w, msg, wParam, lParam});
  return true;
}

LRESULT CWnd::SendMessage(UINT msg, WPARAM wParam, LPARAM lParam) const {
  Window* w = Find(m_hWnd);
  if (w == nullptr) return 0;
  return Deliver(w, msg, wParam, lParam);
}

void Sleep(unsigned milliseconds) {
  S().now += milliseconds;
  S().slept += milliseconds;
}

std::time_t CurrentTime() {
  return S().platform.calendarBase + static_cast<std::time_t>(S().now / 1000);
}

}  // namespace tk

namespace tk::headless {

using namespace detail;

namespace {

// The timer that fires next at or before `limit`, in time order, ties in set order.
const Timer* NextDue(std::uint64_t limit) {
  const Timer* next = nullptr;
  for (const Timer& t : S().timers) {
    if (t.due > limit) continue;
    if (next == nullptr || t.due < next->due || (t.due == next->due && t.order < next->order)) next = &t;
  }
  return next;
}

const Timer* Earliest() {
  const Timer* next = nullptr;
  for (const Timer& t : S().timers) {
    if (next == nullptr || t.due < next->due || (t.due == next->due && t.order < next->order)) next = &t;
  }
  return next;
}

void Fire(const Timer& due) {
  State& s = S();
  // A timer overdue because the thread slept fires once, like the platform's
  // coalesced WM_TIMER, and runs on from now.
  const bool overdue = due.due < s.now;
  s.now = std::max(s.now, due.due);
  Window* w = due.window;
  UINT_PTR id = due.id;
  for (Timer& t : s.timers) {
    if (t.window == w && t.id == id) t.due = (overdue ? s.now : t.due) + t.period;
  }
  if (w->target != nullptr) tk::detail::Dispatch::Timer(*w->target, id);
}

}  // namespace

std::uint64_t Now() {
  return S().now;
}

void SetModalOpenTime(std::uint64_t milliseconds, std::function<void()> idle) {
  S().modalOpenMs = milliseconds;
  S().modalIdle = std::move(idle);
}

std::uint64_t SleptMs() {
  return S().slept;
}

void Advance(std::uint64_t milliseconds) {
  const std::uint64_t end = S().now + milliseconds;
  PumpPosted();
  while (const Timer* t = NextDue(end)) {
    Fire(*t);
    PumpPosted();
  }
  S().now = std::max(S().now, end);
}

bool AdvanceUntil(const std::function<bool()>& done, std::uint64_t limitMs) {
  const std::uint64_t end = S().now + limitMs;
  while (true) {
    PumpPosted();
    PumpSockets(0);
    PumpPosted();
    if (done()) return true;
    const Timer* t = Earliest();
    if (t == nullptr) return false;
    if (t->due > end) {
      S().now = std::max(S().now, end);
      return done();
    }
    Fire(*t);
  }
}

std::vector<TimerInfo> Timers() {
  std::vector<TimerInfo> out;
  for (const Timer& t : S().timers) out.push_back({H(t.window), t.id, t.period, t.due});
  return out;
}

bool HasTimer(const CWnd& window, UINT_PTR id) {
  Window* w = Find(window.GetSafeHwnd());
  return std::any_of(S().timers.begin(), S().timers.end(),
                     [&](const Timer& t) { return w != nullptr && t.window == w && t.id == id; });
}

int PumpPosted() {
  int delivered = 0;
  State& s = S();
  while (!s.posted.empty()) {
    Posted p = s.posted.front();
    s.posted.pop_front();
    if (Find(p.window) == nullptr) continue;  // the window is gone: the message with it
    Deliver(p.window, p.msg, p.wParam, p.lParam);
    ++delivered;
  }
  return delivered;
}

bool PumpUntil(const std::function<bool()>& done, int maxWaitMs) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + std::chrono::milliseconds(std::max(maxWaitMs, 0));
  while (true) {
    PumpPosted();
    if (done()) return true;
    // Without sockets and posted messages nothing can change any more.
    if (NotifyingSocketCount() == 0 && S().posted.empty()) return false;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return done();
    PumpSockets(static_cast<int>(std::min<long long>(left, 20)));
  }
}

}  // namespace tk::headless

namespace tk::headless::detail {

bool RunModalLoop(const std::string& what) {
  State& s = S();
  if (s.modalDepth >= kMaxNestedModals) {
    Fail(std::to_string(s.modalDepth + 1) + " modal windows nested (" + what +
         "): a step shows a box again on every tick");
    return false;
  }
  ++s.modalDepth;
  const std::uint64_t end = s.now + s.modalOpenMs;
  while (s.now < end) {
    const std::uint64_t stepEnd = std::min(end, s.now + 10);
    if (s.modalIdle) s.modalIdle();
    PumpSockets(0);
    PumpPosted();
    while (const Timer* t = NextDue(stepEnd)) {
      Fire(*t);
      PumpPosted();
    }
    s.now = std::max(s.now, stepEnd);
  }
  --s.modalDepth;
  return true;
}

}  // namespace tk::headless::detail
