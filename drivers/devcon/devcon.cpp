// Device removal tool: `devcon remove @INSTANCE [@INSTANCE ...]` removes each
// named device instance (for example @root\ports\0000) through SetupAPI.
// Exit status: 0 when every instance was removed, 1 when any could not be,
// 2 for a command line it does not understand.
#include <windows.h>
// after windows.h, whose types it uses
#include <setupapi.h>

#include <cstdio>
#include <cstring>
#include <string>

namespace {

constexpr int kExitRemoved = 0;
constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;

int Usage() {
  std::fprintf(stderr, "usage: devcon remove @INSTANCE [@INSTANCE ...]\n");
  return kExitUsage;
}

// Removes one instance; prints what happened and returns whether it went.
bool RemoveInstance(const std::string& instance) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) {
    std::fprintf(stderr, "%s: cannot create a device list (0x%lx)\n", instance.c_str(), GetLastError());
    return false;
  }
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool removed = false;
  if (!SetupDiOpenDeviceInfoA(set, instance.c_str(), nullptr, 0, &device)) {
    std::fprintf(stderr, "%s: no such device instance (0x%lx)\n", instance.c_str(), GetLastError());
  } else if (!SetupDiCallClassInstaller(DIF_REMOVE, set, &device)) {
    std::fprintf(stderr, "%s: removal failed (0x%lx)\n", instance.c_str(), GetLastError());
  } else {
    std::printf("%s: removed\n", instance.c_str());
    removed = true;
  }
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3 || std::strcmp(argv[1], "remove") != 0) return Usage();
  // Only instance IDs are taken: a hardware ID could match ports the caller did not mean.
  for (int i = 2; i < argc; ++i) {
    if (argv[i][0] != '@' || argv[i][1] == '\0') return Usage();
  }
  int status = kExitRemoved;
  for (int i = 2; i < argc; ++i) {
    if (!RemoveInstance(argv[i] + 1)) status = kExitFailed;
  }
  return status;
}
