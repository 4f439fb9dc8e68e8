// Platform services beside the window toolkit: host identity, adapters, processes,
// the shell, waiting, sound, time, single-instance lookup and resources.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

#include "tk/types.h"

namespace tk {

// Windows Sockets start-up and clean-up (WSAStartup / WSACleanup).
bool SocketsStartup(int major, int minor);
void SocketsCleanup();
// gethostname with a buffer of `bufferSize` characters.
bool GetHostName(std::string& name, int bufferSize = 255);
// gethostbyname: the first IPv4 address of `name`, dotted.
bool ResolveFirstIPv4(const std::string& name, std::string& dotted);

// One adapter as GetAdaptersInfo reports it: its first address and mask texts.
struct AdapterInfo {
  std::string name;
  std::string description;
  std::string firstAddress;
  std::string firstMask;
};
constexpr unsigned long ERROR_SUCCESS = 0;
constexpr unsigned long ERROR_BUFFER_OVERFLOW = 111;
constexpr unsigned long ERROR_NO_DATA = 232;
// The size of one adapter's record in the platform's buffer (32-bit layout).
constexpr unsigned long kAdapterRecordSize = 640;
// GetAdaptersInfo with a caller buffer of `*bufferSize` bytes: ERROR_SUCCESS and
// the adapters; ERROR_BUFFER_OVERFLOW with the size needed in *bufferSize; or
// another platform error.
unsigned long GetAdaptersInfo(std::vector<AdapterInfo>& adapters, unsigned long* bufferSize);

// The folder of the running program's file and the platform's system folder,
// without a trailing separator; empty when the platform cannot tell.
std::string ProgramFolder();
std::string SystemFolder();
// Whether `path` names an existing file (a folder does not count).
bool FileExists(const std::string& path);

// WinExec with a hidden window; the platform's result (above 31 is success).
unsigned StartHiddenProcess(const std::string& commandLine);
// Starts a process with a hidden window and waits for it to end, at most
// `timeoutMs`. kExited comes with the process's exit code; kNotStarted with the
// platform error; kTimedOut leaves the process running.
enum class ProcessState { kExited, kNotStarted, kTimedOut };
struct ProcessOutcome {
  ProcessState state = ProcessState::kNotStarted;
  unsigned long exitCode = 0;
  unsigned long error = 0;
};
ProcessOutcome RunHiddenProcess(const std::string& commandLine, unsigned timeoutMs);
// ShellExecute with the "open" verb and a normal window; above 32 is success.
std::intptr_t ShellOpen(const std::string& target);

void Sleep(unsigned milliseconds);
bool Beep(unsigned frequencyHz, unsigned durationMs);

// Calendar time and its local-time conversion (false when it fails).
std::time_t CurrentTime();
bool ToLocalTime(std::time_t t, std::tm& out);

// Parses a date or date-time text as the platform's variant date parser does
// (user default locale); the result is a day count (OLE automation date).
bool ParseDate(const std::string& text, double& date);

// Single-instance lookup: a top-level window whose title is exactly `title`.
Handle FindTopLevelWindow(const std::string& title);

// Resources of the program (icons and bitmaps by id).
HICON LoadAppIcon(int resourceId);
int GetSystemMetrics(int index);
COLORREF GetSysColor(int index);

}  // namespace tk
