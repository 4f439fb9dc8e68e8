// Platform services from the test's settings: host identity, adapters, process
// and shell records, sound, time, single-instance lookup and resources.
#include <algorithm>
#include <map>
#include <memory>

#include "backend.h"
#include "tk/platform.h"
#include "tk/socket.h"

namespace tk {

using namespace tk::headless::detail;

namespace {

constexpr unsigned long kErrorInvalidParameter = 87;

// Icons from LoadAppIcon: one stable fake handle per resource id.
std::map<int, std::unique_ptr<int>>& Icons() {
  static std::map<int, std::unique_ptr<int>> icons;
  return icons;
}

// Handles standing for other programs' top-level windows.
char g_foreignWindows[64];

}  // namespace

bool SocketsStartup(int, int) {
  return !S().platform.socketsStartupFails;
}

void SocketsCleanup() {}

bool GetHostName(std::string& name, int bufferSize) {
  const headless::PlatformSettings& p = S().platform;
  if (p.hostNameFails || static_cast<int>(p.hostName.size()) + 1 > bufferSize) return false;
  name = p.hostName;
  return true;
}

bool ResolveFirstIPv4(const std::string& name, std::string& dotted) {
  const headless::PlatformSettings& p = S().platform;
  if (name == p.hostName) {
    if (p.hostAddresses.empty()) return false;
    dotted = p.hostAddresses.front();
    return true;
  }
  // A dotted address resolves to itself; no other names are known.
  std::uint32_t a = InetAddr(name);
  if (name.empty() || (a == 0xFFFFFFFFu && name != "255.255.255.255")) return false;
  dotted = InetNtoa(a);
  return true;
}

unsigned long GetAdaptersInfo(std::vector<AdapterInfo>& adapters, unsigned long* bufferSize) {
  const headless::PlatformSettings& p = S().platform;
  if (bufferSize == nullptr) return kErrorInvalidParameter;
  if (p.adaptersError != 0) return p.adaptersError;
  if (p.adapters.empty()) return ERROR_NO_DATA;
  unsigned long needed = static_cast<unsigned long>(p.adapters.size()) * kAdapterRecordSize;
  if (*bufferSize < needed) {
    *bufferSize = needed;
    return ERROR_BUFFER_OVERFLOW;
  }
  adapters = p.adapters;
  return ERROR_SUCCESS;
}

std::string ProgramFolder() {
  return S().platform.programFolder;
}

std::string SystemFolder() {
  return S().platform.systemFolder;
}

bool FileExists(const std::string& path) {
  const std::vector<std::string>& files = S().platform.files;
  return std::find(files.begin(), files.end(), path) != files.end();
}

unsigned StartHiddenProcess(const std::string& commandLine) {
  S().processes.push_back(commandLine);
  const headless::PlatformSettings& p = S().platform;
  // The runner plays a started process too; nobody waits for its exit code.
  if (p.processStartResult > 31 && p.processRunner) p.processRunner(commandLine);
  return p.processStartResult;
}

ProcessOutcome RunHiddenProcess(const std::string& commandLine, unsigned) {
  S().processes.push_back(commandLine);
  const headless::PlatformSettings& p = S().platform;
  ProcessOutcome outcome;
  if (p.processStartResult <= 31) {
    outcome.error = p.processStartResult;
    return outcome;
  }
  if (p.processWaitTimesOut) {
    outcome.state = ProcessState::kTimedOut;
    return outcome;
  }
  outcome.state = ProcessState::kExited;
  outcome.exitCode = p.processRunner ? p.processRunner(commandLine) : p.processExitCode;
  return outcome;
}

std::intptr_t ShellOpen(const std::string& target) {
  S().urls.push_back(target);
  return S().platform.shellOpenResult;
}

bool Beep(unsigned frequencyHz, unsigned durationMs) {
  S().beeps.push_back({frequencyHz, durationMs});
  return true;
}

bool ToLocalTime(std::time_t t, std::tm& out) {
  // Tests run in a fixed zone: local time is UTC.
  if (S().platform.localTimeFails) return false;
  return gmtime_r(&t, &out) != nullptr;
}

Handle FindTopLevelWindow(const std::string& title) {
  for (Window* w : S().topLevel) {
    if (w->text == title) return H(w);
  }
  const std::vector<std::string>& foreign = S().platform.foreignWindowTitles;
  for (size_t i = 0; i < foreign.size() && i < sizeof g_foreignWindows; ++i) {
    if (foreign[i] == title) return &g_foreignWindows[i];
  }
  return nullptr;
}

HICON LoadAppIcon(int resourceId) {
  auto& icons = Icons();
  auto found = icons.find(resourceId);
  if (found == icons.end()) found = icons.emplace(resourceId, std::make_unique<int>(resourceId)).first;
  return found->second.get();
}

int GetSystemMetrics(int index) {
  constexpr int kSmCxSmIcon = 49;
  constexpr int kSmCySmIcon = 50;
  switch (index) {
    case SM_CXICON:
    case SM_CYICON:
      return 32;
    case kSmCxSmIcon:
    case kSmCySmIcon:
      return 16;
    default:
      return 0;
  }
}

COLORREF GetSysColor(int index) {
  // The classic Windows scheme.
  switch (index) {
    case COLOR_WINDOW:
      return RGB(255, 255, 255);
    case COLOR_WINDOWTEXT:
      return RGB(0, 0, 0);
    case 13:  // COLOR_HIGHLIGHT
      return RGB(10, 36, 106);
    case 14:  // COLOR_HIGHLIGHTTEXT
      return RGB(255, 255, 255);
    case 15:  // COLOR_BTNFACE
      return RGB(212, 208, 200);
    case 16:  // COLOR_BTNSHADOW
      return RGB(128, 128, 128);
    case 17:  // COLOR_GRAYTEXT
      return RGB(128, 128, 128);
    case 18:  // COLOR_BTNTEXT
      return RGB(0, 0, 0);
    default:
      return RGB(0, 0, 0);
  }
}

}  // namespace tk

namespace tk::headless {

using namespace detail;

int IconResourceId(HICON icon) {
  for (const auto& [id, handle] : Icons()) {
    if (handle.get() == icon) return id;
  }
  return 0;
}

PlatformSettings& Platform() {
  return S().platform;
}
const std::vector<std::string>& StartedProcesses() {
  return S().processes;
}
const std::vector<std::string>& OpenedUrls() {
  return S().urls;
}
const std::vector<BeepCall>& Beeps() {
  return S().beeps;
}

}  // namespace tk::headless
