// corvanectl: finds the device servers, shows and keeps their settings, from a
// terminal or a script.
#include <cstring>
#include <iostream>

#include "corvanectl/commands.h"
#include "tk/platform.h"

int main(int argc, char** argv) {
  using namespace corvanectl;
  if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
    std::cout << UsageText();
    return argc < 2 ? kExitUsage : kExitOk;
  }
  Arguments args;
  std::string error;
  if (!ParseArguments(argc, argv, 2, args, error)) {
    std::cerr << "corvanectl: " << error << "\n";
    return kExitUsage;
  }
  if (!tk::SocketsStartup(2, 2)) {
    std::cerr << "corvanectl: the network is not available\n";
    return kExitNetwork;
  }
  const std::string command = argv[1];
  int code = kExitUsage;
  if (command == "search") {
    code = RunSearch(args);
  } else if (command == "show") {
    code = RunShow(args);
  } else if (command == "backup") {
    code = RunBackup(args);
  } else if (command == "reboot" || command == "restore") {
    code = RunReboot(args, command == "restore");
  } else if (command == "upgrade") {
    code = RunUpgrade(args);
  } else if (command == "apply") {
    code = RunApply(args);
  } else {
    std::cerr << "corvanectl: unknown command \"" << command << "\" (see corvanectl --help)\n";
  }
  tk::SocketsCleanup();
  return code;
}
