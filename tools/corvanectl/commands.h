// The subcommands of corvanectl and the exit codes they share.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "corvane/settings/settings_file.h"

namespace corvanectl {

// Exit codes, listed by --help.
enum ExitCode : int {
  kExitOk = 0,
  kExitDeviceFailed = 1,  // at least one device did not do what was asked
  kExitUsage = 2,         // the command line is wrong
  kExitNoAnswer = 3,      // no device answered, or a target was not found
  kExitFile = 4,          // a file could not be read or written, or holds bad settings
  kExitNetwork = 5,       // no socket, or a request could not be sent
  kExitNotConfirmed = 6,  // a change was not confirmed
};

// The command line after the subcommand: positional words, options with a
// value (--ip, --wait, --port) and flags.
struct Arguments {
  std::vector<std::string> words;
  std::map<std::string, std::string> values;
  std::vector<std::string> flags;

  bool Has(const std::string& flag) const;
  const std::string* Value(const std::string& option) const;
};
// False with `error` set for an unknown option or an option missing its value.
bool ParseArguments(int argc, char** argv, int first, Arguments& args, std::string& error);

int RunSearch(const Arguments& args);
int RunShow(const Arguments& args);
int RunBackup(const Arguments& args);
// reboot and restore: `restore` brings back the factory settings.
int RunReboot(const Arguments& args, bool restore);
// upgrade TARGET... --image FILE: the firmware of each device, one after another.
int RunUpgrade(const Arguments& args);
// apply FILE TARGET: a settings file checked, sent, and compared with what the
// device shows after its restart.
int RunApply(const Arguments& args);

// Shared by the command files: --yes or a "y" at a terminal; --wait MS or the
// default (false after a message when malformed).
bool ConfirmChange(const Arguments& args, const std::string& question);
bool ReadWaitOption(const Arguments& args, int& waitMs);
// --port 1|2, or 1 (false after a message when malformed).
bool ReadPortOption(const Arguments& args, int& port);
// The item's name as a settings file's comment gives it: "Netmask".
std::string FileItemName(const corvane::settings::FileLine& line);

std::string UsageText();

}  // namespace corvanectl
