#include "service.h"

#include "log.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <iterator>
#include <string>

namespace vportd {
namespace {

// The log starts afresh at a service start once it grew beyond this.
constexpr uint64_t kMostLogBytes = 1024 * 1024;
constexpr DWORD kStartWaitHintMs = 3000;
// Stopping takes at most one pass of the serving loop, which wakes on the stop event.
constexpr DWORD kStopWaitHintMs = 5000;

// What the service control manager knows of the service. The control
// handler and the service's own thread both report, under `lock`.
struct State {
  ServeFunction serve = nullptr;
  SERVICE_STATUS_HANDLE handle = nullptr;
  SERVICE_STATUS status{};
  SRWLOCK lock = SRWLOCK_INIT;
  HANDLE stop = nullptr;
  int exitStatus = 0;
};
State state;

// Tells the service control manager the service's state. A stop once asked
// for is not undone by a late "running", and nothing follows "stopped".
void Report(DWORD current, DWORD waitHintMs, int exitStatus = 0) {
  AcquireSRWLockExclusive(&state.lock);
  SERVICE_STATUS& status = state.status;
  const bool stopping = status.dwCurrentState == SERVICE_STOP_PENDING;
  if (status.dwCurrentState != SERVICE_STOPPED && !(stopping && current == SERVICE_RUNNING)) {
    status.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
    status.dwCurrentState = current;
    status.dwControlsAccepted =
        current == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
    status.dwWin32ExitCode = exitStatus == 0 ? NO_ERROR : ERROR_SERVICE_SPECIFIC_ERROR;
    status.dwServiceSpecificExitCode = static_cast<DWORD>(exitStatus);
    const bool pending = current == SERVICE_START_PENDING || current == SERVICE_STOP_PENDING;
    status.dwCheckPoint = pending ? status.dwCheckPoint + 1 : 0;
    status.dwWaitHint = waitHintMs;
    SetServiceStatus(state.handle, &status);
  }
  ReleaseSRWLockExclusive(&state.lock);
}

DWORD WINAPI OnControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      Report(SERVICE_STOP_PENDING, kStopWaitHintMs);
      SetEvent(state.stop);
      return NO_ERROR;
    case SERVICE_CONTROL_INTERROGATE:
      return NO_ERROR;
    default:
      return ERROR_CALL_NOT_IMPLEMENTED;
  }
}

// A service has no console: the log goes to vportd.log beside the program,
// where an administrator finds it. It is appended to, and started afresh
// when it grew beyond kMostLogBytes.
void LogToFile() {
  wchar_t program[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, program, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return;
  std::wstring path(program, length);
  path = path.substr(0, path.find_last_of(L"\\/") + 1) + L"vportd.log";
  WIN32_FILE_ATTRIBUTE_DATA file{};
  const bool large = GetFileAttributesExW(path.c_str(), GetFileExInfoStandard, &file) &&
                     ((uint64_t{file.nFileSizeHigh} << 32) | file.nFileSizeLow) > kMostLogBytes;
  std::FILE* log = _wfopen(path.c_str(), large ? L"w" : L"a");
  if (log == nullptr) return;
  LogTo(log);
  SYSTEMTIME now;
  GetLocalTime(&now);
  char started[96];
  std::snprintf(started, sizeof started, "started as the service %s on %04u-%02u-%02u at %02u:%02u:%02u",
                kServiceName, now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond);
  Log(started);
}

void WINAPI ServiceMain(DWORD, char**) {
  state.handle = RegisterServiceCtrlHandlerExA(kServiceName, OnControl, nullptr);
  if (state.handle == nullptr) return;
  Report(SERVICE_START_PENDING, kStartWaitHintMs);
  LogToFile();
  state.stop = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  if (state.stop == nullptr) {
    Log("cannot make the stop event: error " + std::to_string(GetLastError()));
    state.exitStatus = 1;
    return Report(SERVICE_STOPPED, 0, state.exitStatus);
  }
  // Running already while it waits for the port driver's bridge: that wait
  // is part of serving, and may last until the first port is added.
  Report(SERVICE_RUNNING, 0);
  const int status = state.serve(state.stop);
  // Stopped as asked is a clean end, whatever the loop was doing meanwhile.
  state.exitStatus = WaitForSingleObject(state.stop, 0) == WAIT_OBJECT_0 ? 0 : status;
  Log("the service ends with status " + std::to_string(state.exitStatus));
  // The stop event stays open: a control may still come until "stopped" is reported.
  Report(SERVICE_STOPPED, 0, state.exitStatus);
}

}  // namespace

bool RunAsService(ServeFunction serve, int* status) {
  state.serve = serve;
  // The table wants a writable name.
  static char name[sizeof kServiceName];
  std::copy(std::begin(kServiceName), std::end(kServiceName), name);
  SERVICE_TABLE_ENTRYA table[] = {{name, ServiceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) return false;
  *status = state.exitStatus;
  return true;
}

}  // namespace vportd
