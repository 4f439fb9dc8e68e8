// corvanectl: finds the device servers, shows and keeps their settings, from a
// terminal or a script.
#include "corvanectl/commands.h"

int main(int argc, char** argv) {
  return corvanectl::RunCommandLine(argc, argv);
}
