// Plays a terminal program for the end-to-end checks: holds the first virtual
// port (an interface path containing "root#ports") open until its standard
// input closes, at most two minutes. Prints "held PATH" once it holds the port;
// exit status 1 when there is no port to hold or the open fails.
#include <cstdio>
#include <string>

#include "port_setup.h"

namespace {

DWORD WINAPI DrainInput(LPVOID input) {
  char byte;
  DWORD count = 0;
  while (ReadFile(static_cast<HANDLE>(input), &byte, 1, &count, nullptr) && count == 1) {
  }
  return 0;
}

}  // namespace

int main() {
  for (const std::string& path : vport_test::ComPortInterfaces()) {
    if (path.find("root#ports") == std::string::npos) continue;
    HANDLE port = vport_test::OpenPort(path);
    if (port == INVALID_HANDLE_VALUE) {
      std::printf("open failed %lu\n", GetLastError());
      return 1;
    }
    std::printf("held %s\n", path.c_str());
    std::fflush(stdout);
    // A bounded wait: the reader thread ends with the input, or the time limit.
    HANDLE reader = CreateThread(nullptr, 0, DrainInput, GetStdHandle(STD_INPUT_HANDLE), 0, nullptr);
    if (reader) {
      WaitForSingleObject(reader, 120000);
      CloseHandle(reader);
    }
    CloseHandle(port);
    return 0;
  }
  std::printf("no virtual port\n");
  return 1;
}
