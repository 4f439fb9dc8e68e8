// The subcommands of corvanectl, the options they take and the failures they
// end with.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "corvane/settings/settings_file.h"

namespace corvanectl {

// Why a command did not succeed. Each kind has its exit code (ExitCodeOf),
// listed by --help.
enum class Failure {
  None,
  DeviceFailed,  // at least one device did not do what was asked
  Usage,         // the command line is wrong
  NoAnswer,      // no device answered, or a target was not found
  File,          // a file could not be read or written, or holds bad settings
  Network,       // no socket, or a request could not be sent
  NotConfirmed,  // a change was not confirmed
};
int ExitCodeOf(Failure failure);

// A failure and what to tell the user about it (written to standard error by
// main when not empty).
struct Fault {
  Failure kind = Failure::None;
  std::string message;

  bool Failed() const { return kind != Failure::None; }
};

// What the command line gave, after the parser's checks: addresses are dotted
// quads, numbers in range, targets IP or MAC addresses.
struct Options {
  std::vector<std::string> targets;
  std::string file;     // backup's and apply's FILE, or apply's DIR
  std::string allDir;   // backup --all DIR
  bool dryRun = false;  // apply --dry-run
  bool broadcast = false;
  bool multicast = false;
  bool allAdapters = false;
  std::optional<std::string> ip;  // search --ip
  bool json = false;
  bool yes = false;
  bool force = false;  // reboot and restore a device whose port is in use
  int waitMs = 1000;
  int port = 1;
  std::optional<int> restartWaitMs;
  int parallel = 32;  // upgrade: devices served at once
  std::string image;
  std::optional<std::string> serverAddress;
};

Fault RunSearch(const Options& options);
Fault RunShow(const Options& options);
Fault RunBackup(const Options& options);
// backup --all DIR: every device found saved into DIR, one file per device
// named by its MAC, and DIR/index.json telling what was saved from where.
Fault RunBackupAll(const Options& options);
// reboot and restore: `restore` brings back the factory settings.
Fault RunReboot(const Options& options, bool restore);
// upgrade TARGET... --image FILE: the firmware of the devices, up to --parallel at once.
Fault RunUpgrade(const Options& options);
// apply FILE TARGET: a settings file checked, sent, and compared with what the
// device shows after its restart. apply DIR: each file of a site backup sent
// to the device it was saved from. With --dry-run, only what would change.
Fault RunApply(const Options& options);

// The name of the index that backup --all writes into its folder.
inline constexpr const char* kSiteIndexName = "index.json";

// --yes, or a "y" typed at a terminal. A script without --yes is refused:
// nothing it pipes in counts as an answer.
bool Confirmed(const Options& options, const std::string& question);

// The item's name as a settings file's comment gives it: "Netmask".
std::string FileItemName(const corvane::settings::FileLine& line);

// The whole command line: the exit code, with the output written.
int RunCommandLine(int argc, char** argv);

}  // namespace corvanectl
