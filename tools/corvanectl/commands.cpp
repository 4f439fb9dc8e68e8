// search, show and backup: the commands that only read from the devices.
#include "corvanectl/commands.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <set>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "corvane/settings/encoding.h"
#include "corvane/settings/settings_file.h"
#include "corvanectl/devices.h"
#include "corvanectl/local_net.h"
#include "corvanectl/wait.h"

namespace corvanectl {

namespace settings = corvane::settings;
using corvane::protocol::MacAddress;

namespace {

const std::set<std::string> kValueOptions = {"--ip", "--wait", "--port", "--image", "--server-addr"};
const std::set<std::string> kFlags = {"--broadcast", "--multicast", "--json", "--yes", "--all-adapters"};
// Options with a value of the commands that wait for restarting devices.
const std::set<std::string> kRestartOptions = {"--restart-wait"};

constexpr int kDefaultWaitMs = 1000;
constexpr int kMaxWaitMs = 600000;

// Text of a JSON string, quotes included.
std::string JsonString(const std::string& text) {
  std::string out = "\"";
  for (const unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7F) {
      // Device names are bytes, not UTF-8: every byte outside ASCII keeps its value.
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += static_cast<char>(c);
    }
  }
  return out + "\"";
}

bool ParseNumber(const std::string& text, int low, int high, int& value) {
  if (text.empty() || text.size() > 9 ||
      !std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return false;
  }
  value = std::stoi(text);
  return value >= low && value <= high;
}

// --wait MS, or the default; false (after a message) when malformed.
bool WaitOption(const Arguments& args, int& waitMs) {
  waitMs = kDefaultWaitMs;
  const std::string* text = args.Value("--wait");
  if (text && !ParseNumber(*text, 0, kMaxWaitMs, waitMs)) {
    std::cerr << "corvanectl: --wait takes milliseconds from 0 to " << kMaxWaitMs << "\n";
    return false;
  }
  return true;
}

// --port 1|2, or 1.
bool PortOption(const Arguments& args, int& port) {
  port = 1;
  const std::string* text = args.Value("--port");
  if (text && !ParseNumber(*text, 1, 2, port)) {
    std::cerr << "corvanectl: --port takes 1 or 2\n";
    return false;
  }
  return true;
}

bool ExpectWords(const Arguments& args, std::size_t count, const char* usage) {
  if (args.words.size() == count) return true;
  std::cerr << "corvanectl: usage: " << usage << "\n";
  return false;
}

// The target device and the settings of the port asked for. Returns kExitOk or
// the code to exit with (the message written).
int ReadTargetSettings(const Arguments& args, const std::string& target, FoundDevice& device, int& rowKind,
                       settings::DeviceSettings& values) {
  int waitMs = 0, port = 0;
  if (!WaitOption(args, waitMs) || !PortOption(args, port)) return kExitUsage;
  std::string error;
  if (!FindTarget(target, waitMs, device, error)) {
    std::cerr << "corvanectl: " << error << "\n";
    return error.rfind("no answer", 0) == 0 ? kExitNoAnswer : kExitUsage;
  }
  if (port == 2 && device.portCount < 2) {
    std::cerr << "corvanectl: " << device.MacText() << " has one serial port only\n";
    return kExitUsage;
  }
  rowKind = RowKindOf(device, port);
  if (!settings::DecodeRecord(device.bytes, rowKind, 0, values)) {
    std::cerr << "corvanectl: the reply of " << device.MacText() << " carries no settings\n";
    return kExitNoAnswer;
  }
  return kExitOk;
}

// The item's name as the file's comment gives it, without the list of codes:
// " // (12) UDP Protocol, 0: Disable 1: Enable" -> "UDP Protocol".
std::string ItemName(const settings::FileLine& line) {
  std::string name = line.comment;
  const auto open = name.find(')');
  name = open == std::string::npos ? name : name.substr(open + 1);
  if (const auto codes = name.find(", 0:"); codes != std::string::npos) name.erase(codes);
  while (!name.empty() && (name.back() == '\r' || name.back() == '\n')) name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  return name;
}

}  // namespace

bool Arguments::Has(const std::string& flag) const {
  return std::find(flags.begin(), flags.end(), flag) != flags.end();
}

const std::string* Arguments::Value(const std::string& option) const {
  const auto it = values.find(option);
  return it == values.end() ? nullptr : &it->second;
}

bool ParseArguments(int argc, char** argv, int first, Arguments& args, std::string& error) {
  for (int i = first; i < argc; ++i) {
    const std::string word = argv[i];
    if (kValueOptions.count(word) || kRestartOptions.count(word)) {
      if (i + 1 >= argc) {
        error = word + " needs a value";
        return false;
      }
      args.values[word] = argv[++i];
    } else if (kFlags.count(word)) {
      args.flags.push_back(word);
    } else if (word.size() > 1 && word[0] == '-') {
      error = "unknown option " + word;
      return false;
    } else {
      args.words.push_back(word);
    }
  }
  return true;
}

// ---- search ------------------------------------------------------------------------

int RunSearch(const Arguments& args) {
  if (!ExpectWords(args, 0,
                   "corvanectl search [--broadcast | --multicast | --ip ADDR] [--wait MS] [--json]")) {
    return kExitUsage;
  }
  SearchOptions options;
  const int kinds =
      int(args.Has("--broadcast")) + int(args.Has("--multicast")) + int(args.Value("--ip") != nullptr);
  if (kinds > 1) {
    std::cerr << "corvanectl: choose one of --broadcast, --multicast and --ip\n";
    return kExitUsage;
  }
  if (args.Has("--multicast")) options.kind = SearchKind::Multicast;
  if (const std::string* ip = args.Value("--ip")) {
    if (!settings::IsDottedQuad(*ip)) {
      std::cerr << "corvanectl: \"" << *ip << "\" is not an IP address\n";
      return kExitUsage;
    }
    options.kind = SearchKind::Unicast;
    options.address = *ip;
  }
  if (!WaitOption(args, options.waitMs)) return kExitUsage;
  if (args.Has("--all-adapters")) {
    if (options.kind != SearchKind::Broadcast) {
      std::cerr << "corvanectl: --all-adapters goes with a broadcast search\n";
      return kExitUsage;
    }
    std::vector<LocalAdapter> adapters;
    std::string error;
    if (!ListBroadcastAdapters(adapters, error)) {
      std::cerr << "corvanectl: " << error << "\n";
      return kExitNetwork;
    }
    for (const auto& adapter : adapters) options.alsoTo.push_back(adapter.broadcast);
  }

  std::vector<FoundDevice> found;
  std::string error;
  if (!Search(options, found, error)) {
    std::cerr << "corvanectl: " << error << "\n";
    return kExitNetwork;
  }
  std::vector<std::pair<RowTexts, int>> rows;  // the row and its port
  for (const auto& device : found) {
    for (int port = 1; port <= device.portCount; ++port) {
      rows.emplace_back(PortRow(device, static_cast<int>(rows.size()) + 1, port), port);
    }
  }
  if (args.Has("--json")) {
    std::cout << "[";
    for (std::size_t i = 0; i < rows.size(); ++i) {
      const RowTexts& r = rows[i].first;
      std::cout << (i ? ",\n " : "\n ") << "{\"number\": " << r.number << ", \"name\": " << JsonString(r.name)
                << ", \"mac\": " << JsonString(r.mac) << ", \"dhcp\": " << JsonString(r.dhcp)
                << ", \"ip\": " << JsonString(r.ip) << ", \"port\": " << r.port
                << ", \"mode\": " << JsonString(r.mode) << ", \"status\": " << JsonString(r.status)
                << ", \"serialPort\": " << rows[i].second << "}";
    }
    std::cout << (rows.empty() ? "]\n" : "\n]\n");
  } else {
    char line[256];
    const char* format = "%-4s %-16s %-17s %-8s %-15s %-6s %-7s %s\n";
    std::snprintf(line, sizeof line, format, "No.", "Name", "MAC", "DHCP", "IP", "Port", "Mode", "Status");
    std::cout << line;
    for (const auto& [r, port] : rows) {
      std::snprintf(line, sizeof line, format, r.number.c_str(), r.name.c_str(), r.mac.c_str(),
                    r.dhcp.c_str(), r.ip.c_str(), r.port.c_str(), r.mode.c_str(), r.status.c_str());
      std::cout << line;
    }
  }
  std::cerr << found.size() << " device(s), " << rows.size() << " serial port(s)\n";
  return found.empty() ? kExitNoAnswer : kExitOk;
}

// ---- show ----------------------------------------------------------------------------

int RunShow(const Arguments& args) {
  if (!ExpectWords(args, 1, "corvanectl show TARGET [--port 1|2] [--json]")) return kExitUsage;
  FoundDevice device;
  int rowKind = 0;
  settings::DeviceSettings values;
  if (const int code = ReadTargetSettings(args, args.words[0], device, rowKind, values); code != kExitOk) {
    return code;
  }
  const bool json = args.Has("--json");
  if (json) std::cout << "{";
  for (int i = 0; i < settings::FileLineCount(rowKind); ++i) {
    const settings::FileLine& line = settings::LayoutLine(rowKind, i);
    const std::string& value = settings::LineValue(values, rowKind, line);
    if (json) {
      std::cout << (i ? ",\n " : "\n ") << JsonString(ItemName(line)) << ": " << JsonString(value);
    } else {
      std::cout << ItemName(line) << ": " << value << "\n";
    }
  }
  if (json) std::cout << "\n}\n";
  return kExitOk;
}

// ---- backup --------------------------------------------------------------------------

int RunBackup(const Arguments& args) {
  if (!ExpectWords(args, 2, "corvanectl backup TARGET FILE [--port 1|2]")) return kExitUsage;
  FoundDevice device;
  int rowKind = 0;
  settings::DeviceSettings values;
  if (const int code = ReadTargetSettings(args, args.words[0], device, rowKind, values); code != kExitOk) {
    return code;
  }
  const std::string& path = args.words[1];
  const std::string text = settings::BuildSettingsFileText(values, rowKind);
  // Written beside the target first, so that a failed write never leaves half a file.
  const std::string partial = path + ".part";
  {
    std::ofstream out(partial, std::ios::binary | std::ios::trunc);
    out.write(text.data(), static_cast<std::streamsize>(text.size()));
    if (!out.flush()) {
      std::cerr << "corvanectl: cannot write " << partial << "\n";
      std::remove(partial.c_str());
      return kExitFile;
    }
  }
  std::remove(path.c_str());
  if (std::rename(partial.c_str(), path.c_str()) != 0) {
    std::cerr << "corvanectl: cannot write " << path << "\n";
    std::remove(partial.c_str());
    return kExitFile;
  }
  std::cout << device.MacText() << " (" << device.address << "): settings of "
            << (device.portCount < 2 ? "its port" : "ports 1 and 2") << " saved to " << path << " ("
            << settings::FileLineCount(rowKind) << " lines)\n";
  return kExitOk;
}

// ---- reboot and restore ------------------------------------------------------------

namespace {

bool StdinIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdin)) != 0;
#else
  return isatty(fileno(stdin)) != 0;
#endif
}

// --yes, or a "y" typed at a terminal. A script without --yes is refused:
// nothing it pipes in counts as an answer.
bool Confirmed(const Arguments& args, const std::string& question) {
  if (args.Has("--yes")) return true;
  if (!StdinIsTerminal()) {
    std::cerr << "corvanectl: not confirmed (add --yes when not at a terminal)\n";
    return false;
  }
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

}  // namespace

bool ConfirmChange(const Arguments& args, const std::string& question) {
  return Confirmed(args, question);
}

bool ReadWaitOption(const Arguments& args, int& waitMs) {
  return WaitOption(args, waitMs);
}

bool ReadPortOption(const Arguments& args, int& port) {
  return PortOption(args, port);
}

std::string FileItemName(const settings::FileLine& line) {
  return ItemName(line);
}

int RunReboot(const Arguments& args, bool restore) {
  const char* verb = restore ? "restore" : "reboot";
  if (args.words.empty()) {
    std::cerr << "corvanectl: usage: corvanectl " << verb
              << " TARGET... [--yes] [--wait MS] [--restart-wait MS]\n";
    return kExitUsage;
  }
  int waitMs = 0;
  ComeBackTiming timing;
  if (!WaitOption(args, waitMs) || !ReadRestartWaitOption(args, timing)) return kExitUsage;
  const std::string question = std::string(restore ? "Restore the factory settings of " : "Reboot ") +
                               std::to_string(args.words.size()) + " device(s)?";
  if (!Confirmed(args, question)) return kExitNotConfirmed;
  // Every device is asked in turn; then the wait for those that acknowledged
  // runs for all of them at once.
  std::vector<ComeBack> restarting;
  std::vector<std::string> restartingTargets;
  for (const std::string& target : args.words) {
    FoundDevice device;
    std::string error;
    if (FindTarget(target, waitMs, device, error)) {
      const bool twoPort = device.portCount == 2;
      const MacAddress mac = corvane::protocol::MacOfRecord(device.bytes);
      const Bytes request = restore ? corvane::protocol::BuildRestoreRequest(RecordName(device), mac, twoPort)
                                    : corvane::protocol::BuildRebootRequest(RecordName(device), mac, twoPort);
      const int code = restore ? corvane::protocol::kReplyRestore : corvane::protocol::kReplyReboot;
      if (SendAndAwaitReply(device, request, code, waitMs, error)) {
        ComeBack wait;
        wait.device = std::move(device);
        // Named by its MAC, it is looked for the same way when it comes back.
        wait.byBroadcast = !settings::IsDottedQuad(target);
        restarting.push_back(std::move(wait));
        restartingTargets.push_back(target);
        continue;
      }
      error = device.MacText() + " (" + device.address + "): " + error;
    }
    std::cout << target << ": FAILED, " << error << "\n";
  }
  int succeeded = 0;
  if (!restarting.empty()) {
    std::cerr << "corvanectl: waiting up to " << SecondsText(timing.limitMs) << " s for " << restarting.size()
              << " device(s) to answer again\n";
    std::string error;
    if (!AwaitComeBack(restarting, timing, error)) std::cerr << "corvanectl: " << error << "\n";
  }
  for (std::size_t i = 0; i < restarting.size(); ++i) {
    const FoundDevice& device = restarting[i].device;
    std::cout << restartingTargets[i] << ": ";
    if (restarting[i].back) {
      ++succeeded;
      std::cout << device.MacText() << " (" << device.address << ") "
                << (restore ? "restored to factory settings" : "rebooted") << ", answering again\n";
    } else {
      std::cout << "FAILED, " << device.MacText() << " (" << device.address
                << "): acknowledged, but did not answer again within " << SecondsText(timing.limitMs)
                << " s\n";
    }
  }
  std::cout << succeeded << " of " << args.words.size() << " device(s) "
            << (restore ? "restored" : "rebooted") << "\n";
  return succeeded == static_cast<int>(args.words.size()) ? kExitOk : kExitDeviceFailed;
}

std::string UsageText() {
  return "usage: corvanectl COMMAND [OPTIONS]\n"
         "\n"
         "Commands:\n"
         "  search [--broadcast | --multicast | --ip ADDR] [--wait MS] [--json]\n"
         "      lists the devices that answer, one line per serial port\n"
         "  search --all-adapters [--wait MS] [--json]\n"
         "      the broadcast search, also sent to each adapter's own broadcast address;\n"
         "      a device answering on several is listed once\n"
         "  show TARGET [--port 1|2] [--wait MS] [--json]\n"
         "      one device's settings, every item by name\n"
         "  backup TARGET FILE [--port 1|2] [--wait MS]\n"
         "      writes the device's settings file, as the device manager saves it\n"
         "  reboot TARGET... [--yes] [--wait MS] [--restart-wait MS]\n"
         "  restore TARGET... [--yes] [--wait MS] [--restart-wait MS]\n"
         "      restarts the devices, or brings back their factory settings, one after\n"
         "      another; asks first unless --yes (refused without --yes when not at a terminal)\n"
         "      and waits for them to answer again\n"
         "  apply FILE TARGET [--port 1|2] [--yes] [--wait MS] [--restart-wait MS]\n"
         "      sends a settings file to a device after the device manager's own checks, only\n"
         "      while its serial ports are idle; waits for its restart, then prints \"ok\" or\n"
         "      each item the device shows otherwise\n"
         "  upgrade TARGET... --image FILE [--server-addr ADDR] [--yes] [--wait MS]\n"
         "          [--restart-wait MS]\n"
         "      puts each device into its boot loader and serves it the image (BOOTP and TFTP\n"
         "      on UDP ports 67 and 69, root on Linux), then waits for it to answer again\n"
         "      (60 s by default); --server-addr: this PC's address for the device (default:\n"
         "      the local address that leads to it)\n"
         "\n"
         "TARGET is a device's IP address (asked directly) or its MAC address\n"
         "(found by a broadcast search), e.g. 02-00-5E-01-A2-0F.\n"
         "--wait MS: how long to wait for answers (default 1000).\n"
         "--restart-wait MS: how long to wait for a restarting device to answer again\n"
         "(default 30000).\n"
         "\n"
         "Exit codes:\n"
         "  0  success\n"
         "  1  at least one device did not do what was asked\n"
         "  2  wrong command line\n"
         "  3  no device answered, or a target was not found\n"
         "  4  a file could not be read or written, or holds bad settings\n"
         "  5  the network could not be used\n"
         "  6  a change was not confirmed\n";
}

}  // namespace corvanectl
