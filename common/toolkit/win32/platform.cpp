// Platform services: sockets library, host identity, adapters, processes, the
// shell, waiting, sound, time, window lookup and resources.
#include <ctime>

#include "win32_platform.h"

namespace tk {

bool SocketsStartup(int major, int minor) {
  WSADATA data{};
  return WSAStartup(MAKEWORD(major, minor), &data) == 0;
}

void SocketsCleanup() {
  WSACleanup();
}

bool GetHostName(std::string& name, int bufferSize) {
  if (bufferSize <= 0) return false;
  std::vector<char> buffer(static_cast<size_t>(bufferSize) + 1, '\0');
  if (gethostname(buffer.data(), bufferSize) != 0) return false;
  name = buffer.data();
  return true;
}

bool ResolveFirstIPv4(const std::string& name, std::string& dotted) {
  hostent* host = gethostbyname(name.c_str());
  if (host == nullptr || host->h_addrtype != AF_INET || host->h_addr_list == nullptr ||
      host->h_addr_list[0] == nullptr) {
    return false;
  }
  in_addr address{};
  memcpy(&address, host->h_addr_list[0], sizeof(address));
  dotted = inet_ntoa(address);
  return true;
}

static_assert(sizeof(IP_ADAPTER_INFO) == kAdapterRecordSize, "the adapter record of the 32-bit platform");

unsigned long GetAdaptersInfo(std::vector<AdapterInfo>& adapters, unsigned long* bufferSize) {
  if (bufferSize == nullptr) return ERROR_INVALID_PARAMETER;
  // IP_ADAPTER_INFO needs pointer alignment; the caller's size is in bytes.
  std::vector<std::uint64_t> buffer((*bufferSize + sizeof(std::uint64_t) - 1) / sizeof(std::uint64_t) + 1);
  auto* info = reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data());
  ULONG size = *bufferSize;
  DWORD error = ::GetAdaptersInfo(*bufferSize == 0 ? nullptr : info, &size);
  if (error == ERROR_BUFFER_OVERFLOW) {
    *bufferSize = size;
    return error;
  }
  if (error != 0) return error;
  adapters.clear();
  for (const IP_ADAPTER_INFO* a = info; a != nullptr; a = a->Next) {
    adapters.push_back(AdapterInfo{a->AdapterName, a->Description, a->IpAddressList.IpAddress.String,
                                   a->IpAddressList.IpMask.String});
  }
  return 0;
}

std::string ProgramFolder() {
  char path[MAX_PATH + 1] = {};
  ::DWORD length = GetModuleFileNameA(nullptr, path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  std::size_t separator = folder.find_last_of("\\/");
  if (separator == std::string::npos) return {};
  folder.resize(separator);
  return folder;
}

std::string SystemFolder() {
  char path[MAX_PATH + 1] = {};
  ::UINT length = GetSystemDirectoryA(path, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return {};
  std::string folder(path, length);
  while (!folder.empty() && (folder.back() == '\\' || folder.back() == '/')) folder.pop_back();
  return folder;
}

bool FileExists(const std::string& path) {
  ::DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

unsigned StartHiddenProcess(const std::string& commandLine) {
  return WinExec(commandLine.c_str(), SW_HIDE);
}

ProcessOutcome RunHiddenProcess(const std::string& commandLine, unsigned timeoutMs) {
  ProcessOutcome outcome;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  std::vector<char> command(commandLine.begin(), commandLine.end());
  command.push_back('\0');
  if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup,
                      &process)) {
    outcome.error = GetLastError();
    return outcome;
  }
  CloseHandle(process.hThread);
  ::DWORD waited = WaitForSingleObject(process.hProcess, timeoutMs);
  ::DWORD exitCode = 0;
  if (waited == WAIT_OBJECT_0 && GetExitCodeProcess(process.hProcess, &exitCode)) {
    outcome.state = ProcessState::kExited;
    outcome.exitCode = exitCode;
  } else {
    outcome.state = ProcessState::kTimedOut;
    outcome.error = waited == WAIT_FAILED ? GetLastError() : WAIT_TIMEOUT;
  }
  CloseHandle(process.hProcess);
  return outcome;
}

std::intptr_t ShellOpen(const std::string& target) {
  HINSTANCE result = ShellExecuteA(nullptr, "open", target.c_str(), nullptr, nullptr, SW_SHOWNORMAL);
  return reinterpret_cast<std::intptr_t>(result);
}

void Sleep(unsigned milliseconds) {
  ::Sleep(milliseconds);
}

bool Beep(unsigned frequencyHz, unsigned durationMs) {
  return ::Beep(frequencyHz, durationMs) != FALSE;
}

std::time_t CurrentTime() {
  return std::time(nullptr);
}

bool ToLocalTime(std::time_t t, std::tm& out) {
  return localtime_s(&out, &t) == 0;
}

bool ParseDate(const std::string& text, double& date) {
  std::wstring wide = win32::Widen(text);
  DATE parsed = 0;
  HRESULT hr =
      VarDateFromStr(const_cast<OLECHAR*>(wide.c_str()), 0x400 /* LOCALE_USER_DEFAULT */, 0, &parsed);
  if (FAILED(hr)) return false;
  date = parsed;
  return true;
}

Handle FindTopLevelWindow(const std::string& title) {
  return FindWindowA(nullptr, title.c_str());
}

HICON LoadAppIcon(int resourceId) {
  return LoadIconA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(resourceId));
}

int GetSystemMetrics(int index) {
  return ::GetSystemMetrics(index);
}

COLORREF GetSysColor(int index) {
  return ::GetSysColor(index);
}

}  // namespace tk
