// The command line: subcommands, their options and --help, and the one place
// where a failure becomes an exit code.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <iostream>

#include "corvane/protocol/packet.h"
#include "corvane/settings/setting_items.h"
#include "corvanectl/commands.h"
#include "corvanectl/oplog.h"
#include "tk/platform.h"

namespace corvanectl {

namespace {

constexpr int kMaxWaitMs = 600000;
constexpr int kMaxRestartWaitMs = 600000;

const char* const kFooter =
    "TARGET is a device's IP address (asked directly) or its MAC address\n"
    "(found by a broadcast search), e.g. 02-00-5E-01-A2-0F.\n"
    "\n"
    "Exit codes:\n"
    "  0  success\n"
    "  1  at least one device did not do what was asked\n"
    "  2  wrong command line\n"
    "  3  no device answered, or a target was not found\n"
    "  4  a file could not be read or written, or holds bad settings\n"
    "  5  the network could not be used\n"
    "  6  a change was not confirmed\n";

// Every target is checked before anything is sent.
const CLI::Validator kTarget(
    [](std::string& text) -> std::string {
      corvane::protocol::MacAddress mac{};
      if (corvane::protocol::ParseMacText(text, mac) || corvane::settings::IsDottedQuad(text)) return {};
      return "\"" + text + "\" is neither an IP address nor a MAC address";
    },
    "IP or MAC address");

const CLI::Validator kAddress(
    [](std::string& text) -> std::string {
      if (corvane::settings::IsDottedQuad(text)) return {};
      return "\"" + text + "\" is not an IP address";
    },
    "ADDR");

void AddWait(CLI::App* command, Options& o) {
  command->add_option("--wait", o.waitMs, "how long to wait for answers, in ms (default 1000)")
      ->check(CLI::Range(0, kMaxWaitMs))
      ->option_text("MS");
}

CLI::Option* AddRestartWait(CLI::App* command, int& restartWaitMs, const char* text) {
  return command->add_option("--restart-wait", restartWaitMs, text)
      ->check(CLI::Range(0, kMaxRestartWaitMs))
      ->option_text("MS");
}

void AddPort(CLI::App* command, Options& o) {
  command->add_option("--port", o.port, "the serial port whose settings are meant (default 1)")
      ->check(CLI::Range(1, 2))
      ->option_text("1|2");
}

void AddYes(CLI::App* command, Options& o) {
  command->add_flag("--yes", o.yes, "do not ask (required when not at a terminal)");
}

// --broadcast, --multicast, --ip and --all-adapters: how the devices are looked for.
CLI::Option* AddSearchKind(CLI::App* command, Options& o, std::string& ipText) {
  CLI::Option* broadcast = command->add_flag("--broadcast", o.broadcast, "a broadcast search (the default)");
  CLI::Option* multicast = command->add_flag("--multicast", o.multicast, "a multicast search");
  CLI::Option* ip =
      command->add_option("--ip", ipText, "asks one device directly")->check(kAddress)->option_text("ADDR");
  CLI::Option* allAdapters = command->add_flag(
      "--all-adapters", o.allAdapters,
      "the broadcast search, also sent to each adapter's own broadcast address; a device answering on "
      "several is listed once");
  broadcast->excludes(multicast)->excludes(ip);
  multicast->excludes(ip);
  allAdapters->excludes(multicast)->excludes(ip);
  return ip;
}

const char* const kRestartWaitText =
    "how long a restarting device has to answer again, in ms (default 30000)";

}  // namespace

int ExitCodeOf(Failure failure) {
  switch (failure) {
    case Failure::None:
      return 0;
    case Failure::DeviceFailed:
      return 1;
    case Failure::Usage:
      return 2;
    case Failure::NoAnswer:
      return 3;
    case Failure::File:
      return 4;
    case Failure::Network:
      return 5;
    case Failure::NotConfirmed:
      return 6;
  }
  return 2;
}

int RunCommandLine(int argc, char** argv) {
  CLI::App app{"Finds the device servers, shows and keeps their settings, from a terminal or a script.",
               "corvanectl"};
  app.footer(kFooter);
  app.require_subcommand(1);
  app.fallthrough();  // --log, given after the command
  Options o;
  // Parsed here, moved into `o` when given.
  std::string target, ipText, serverText;
  int restartWaitMs = 0;
  std::vector<CLI::Option*> restartWaits;
  std::string logPath;
  app.add_option("--log", logPath,
                 "appends one JSON line per datagram sent or received, decision and result (see the README)")
      ->option_text("FILE");

  CLI::App* search = app.add_subcommand("search", "lists the devices that answer, one line per serial port");
  CLI::Option* ip = AddSearchKind(search, o, ipText);
  AddWait(search, o);
  search->add_flag("--json", o.json, "the rows as JSON");

  CLI::App* show = app.add_subcommand("show", "one device's settings, every item by name");
  show->add_option("TARGET", target, "the device")->required()->check(kTarget);
  AddPort(show, o);
  AddWait(show, o);
  show->add_flag("--json", o.json, "the items as JSON");

  CLI::App* backup = app.add_subcommand(
      "backup",
      "writes the device's settings file, as the device manager saves it; with --all DIR, the file of every "
      "device found (DIR/MAC.log, both ports of a two-port device in one file) and DIR/index.json");
  CLI::Option* backupTarget = backup->add_option("TARGET", target, "the device")->check(kTarget);
  CLI::Option* backupFile = backup->add_option("FILE", o.file, "the settings file to write");
  CLI::Option* backupAll =
      backup->add_option("--all", o.allDir, "every device found, into this folder")->option_text("DIR");
  backupAll->excludes(backupTarget)->excludes(backupFile);
  CLI::Option* backupIp = AddSearchKind(backup, o, ipText);
  AddPort(backup, o);
  AddWait(backup, o);

  CLI::App* restarts[2] = {
      app.add_subcommand("reboot",
                         "restarts the devices, one after another, and waits for them to answer again"),
      app.add_subcommand("restore",
                         "brings back the devices' factory settings, one after another, and waits for them "
                         "to answer again"),
  };
  for (CLI::App* command : restarts) {
    command->add_option("TARGET", o.targets, "the devices")->required()->check(kTarget);
    AddYes(command, o);
    command->add_flag("--force", o.force, "also a device whose serial port is in use (skipped otherwise)");
    AddWait(command, o);
    restartWaits.push_back(AddRestartWait(command, restartWaitMs, kRestartWaitText));
  }

  CLI::App* apply = app.add_subcommand(
      "apply",
      "sends a settings file to a device after the device manager's own checks, only while its serial ports "
      "are idle; waits for its restart, then prints \"ok\" or each item the device shows otherwise. Given "
      "the DIR of backup --all, each file goes to the device it was saved from (found by a broadcast "
      "search)");
  apply->add_option("FILE", o.file, "the settings file, or the folder of backup --all")->required();
  apply->add_option("TARGET", target, "the device (not with a folder)")->check(kTarget);
  apply->add_flag("--dry-run", o.dryRun,
                  "sends nothing but the search: prints each setting that would change (exit 0 when none "
                  "would, 1 when some would)");
  AddPort(apply, o);
  AddYes(apply, o);
  AddWait(apply, o);
  restartWaits.push_back(AddRestartWait(apply, restartWaitMs, kRestartWaitText));

  CLI::App* upgrade = app.add_subcommand(
      "upgrade",
      "puts each device into its boot loader and serves it the image (BOOTP and TFTP on UDP ports 67 and 69, "
      "root on Linux), then waits for it to answer again");
  upgrade->add_option("TARGET", o.targets, "the devices")->required()->check(kTarget);
  upgrade->add_option("--image", o.image, "the firmware image")->required()->option_text("FILE");
  CLI::Option* serverAddress =
      upgrade
          ->add_option("--server-addr", serverText,
                       "this PC's address for the device (default: the local address that leads to it)")
          ->check(kAddress)
          ->option_text("ADDR");
  upgrade->add_option("--parallel", o.parallel, "devices served at once (default: all, at most 32)")
      ->check(CLI::Range(1, 32))
      ->option_text("N");
  AddYes(upgrade, o);
  AddWait(upgrade, o);
  restartWaits.push_back(
      AddRestartWait(upgrade, restartWaitMs,
                     "how long a device has to answer again after the upgrade, in ms (default 60000)"));

  if (argc < 2) {
    std::cout << app.help();
    return ExitCodeOf(Failure::Usage);
  }
  const auto commands = app.get_subcommands([](const CLI::App*) { return true; });
  const bool known = std::any_of(commands.begin(), commands.end(),
                                 [&](const CLI::App* command) { return command->get_name() == argv[1]; });
  if (argv[1][0] != '-' && !known) {
    std::cerr << "corvanectl: unknown command \"" << argv[1] << "\" (see corvanectl --help)\n";
    return ExitCodeOf(Failure::Usage);
  }
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    std::cout << app.help();
    return ExitCodeOf(Failure::None);
  } catch (const CLI::ParseError& e) {
    std::cerr << "corvanectl: " << e.what() << " (see corvanectl --help)\n";
    return ExitCodeOf(Failure::Usage);
  }
  if (!target.empty()) o.targets.push_back(target);
  if (ip->count() > 0 || backupIp->count() > 0) o.ip = ipText;
  if (serverAddress->count() > 0) o.serverAddress = serverText;
  for (const CLI::Option* wait : restartWaits) {
    if (wait->count() > 0) o.restartWaitMs = restartWaitMs;
  }

  if (!tk::SocketsStartup(2, 2)) {
    std::cerr << "corvanectl: the network is not available\n";
    return ExitCodeOf(Failure::Network);
  }
  if (!logPath.empty() && !oplog::Open(logPath)) {
    tk::SocketsCleanup();
    std::cerr << "corvanectl: cannot open the log " << logPath << "\n";
    return ExitCodeOf(Failure::File);
  }
  Fault fault;
  if (search->parsed()) {
    fault = RunSearch(o);
  } else if (show->parsed()) {
    fault = RunShow(o);
  } else if (backup->parsed()) {
    if (backupAll->count() > 0) {
      fault = RunBackupAll(o);
    } else if (backupTarget->count() == 0 || backupFile->count() == 0) {
      fault = {Failure::Usage, "backup needs TARGET FILE, or --all DIR (see corvanectl backup --help)"};
    } else {
      fault = RunBackup(o);
    }
  } else if (restarts[0]->parsed() || restarts[1]->parsed()) {
    fault = RunReboot(o, restarts[1]->parsed());
  } else if (apply->parsed()) {
    fault = RunApply(o);
  } else if (upgrade->parsed()) {
    fault = RunUpgrade(o);
  }
  tk::SocketsCleanup();
  oplog::Event("exit", "",
               std::to_string(ExitCodeOf(fault.kind)) + (fault.message.empty() ? "" : ": " + fault.message));
  oplog::Close();
  if (!fault.message.empty()) std::cerr << "corvanectl: " << fault.message << "\n";
  return ExitCodeOf(fault.kind);
}

}  // namespace corvanectl
