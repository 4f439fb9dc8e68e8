// search, show, backup, reboot and restore.
#include "corvanectl/commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "corvane/settings/encoding.h"
#include "corvane/settings/page_rules.h"
#include "corvane/settings/row_texts.h"
#include "corvane/settings/settings_file.h"
#include "corvanectl/devices.h"
#include "corvanectl/local_net.h"
#include "corvanectl/wait.h"
#include "fileio/whole_file.h"

namespace corvanectl {

namespace settings = corvane::settings;
using corvane::protocol::MacAddress;

namespace {

// Device names are bytes, not UTF-8: each byte is kept as the character of
// its value, so that the JSON shows it as \u00XX.
std::string BytesAsUtf8(const std::string& bytes) {
  std::string out;
  for (const unsigned char c : bytes) {
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::string JsonText(const nlohmann::ordered_json& value) {
  return value.dump(1, ' ', true) + "\n";
}

// The target device and the settings of the port asked for, as the setup
// pages show them.
Fault ReadTargetSettings(const Options& o, FoundDevice& device, int& rowKind,
                         settings::DeviceSettings& values) {
  if (Fault fault = FindTarget(o.targets.at(0), o.waitMs, device); fault.Failed()) return fault;
  if (o.port == 2 && device.portCount < 2) {
    return {Failure::Usage, device.MacText() + " has one serial port only"};
  }
  rowKind = RowKindOf(device, o.port);
  if (!settings::DecodeRecord(device.bytes, rowKind, 0, values)) {
    return {Failure::NoAnswer, "the reply of " + device.MacText() + " carries no settings"};
  }
  settings::ApplyPageRules(values, rowKind);
  return {};
}

}  // namespace

// The item's name as the file's comment gives it, without the list of codes:
// " // (12) UDP Protocol, 0: Disable 1: Enable" -> "UDP Protocol".
std::string FileItemName(const settings::FileLine& line) {
  std::string name = line.comment;
  const auto open = name.find(')');
  name = open == std::string::npos ? name : name.substr(open + 1);
  if (const auto codes = name.find(", 0:"); codes != std::string::npos) name.erase(codes);
  while (!name.empty() && (name.back() == '\r' || name.back() == '\n')) name.pop_back();
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  return name;
}

// ---- search ------------------------------------------------------------------------

Fault RunSearch(const Options& o) {
  SearchOptions options;
  if (o.multicast) options.kind = SearchKind::Multicast;
  if (o.ip) {
    options.kind = SearchKind::Unicast;
    options.address = *o.ip;
  }
  options.waitMs = o.waitMs;
  if (o.allAdapters) {
    std::vector<LocalAdapter> adapters;
    std::string error;
    if (!ListBroadcastAdapters(adapters, error)) return {Failure::Network, error};
    for (const auto& adapter : adapters) options.alsoTo.push_back(adapter.broadcast);
  }

  std::vector<FoundDevice> found;
  if (Fault fault = Search(options, found); fault.Failed()) return fault;
  std::vector<std::pair<settings::PortRowTexts, int>> rows;  // the row and its port
  for (const auto& device : found) {
    for (int port = 1; port <= device.portCount; ++port) {
      const int number = static_cast<int>(rows.size()) + 1;
      rows.emplace_back(settings::MakePortRow(device.bytes, device.length, port, number, true), port);
    }
  }
  if (o.json) {
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const auto& [r, port] : rows) {
      list.push_back({{"number", std::stoi(r.number)},
                      {"name", BytesAsUtf8(r.name)},
                      {"mac", r.mac},
                      {"dhcp", r.dhcp},
                      {"ip", r.ip},
                      {"port", r.portValue},
                      {"mode", r.mode},
                      {"status", r.status},
                      {"serialPort", port}});
    }
    std::cout << JsonText(list);
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
  if (found.empty()) return {Failure::NoAnswer, ""};
  return {};
}

// ---- show ----------------------------------------------------------------------------

Fault RunShow(const Options& o) {
  FoundDevice device;
  int rowKind = 0;
  settings::DeviceSettings values;
  if (Fault fault = ReadTargetSettings(o, device, rowKind, values); fault.Failed()) return fault;
  nlohmann::ordered_json items = nlohmann::ordered_json::object();
  for (int i = 0; i < settings::FileLineCount(rowKind); ++i) {
    const settings::FileLine& line = settings::LayoutLine(rowKind, i);
    const std::string& value = settings::LineValue(values, rowKind, line);
    if (o.json) {
      items[FileItemName(line)] = BytesAsUtf8(value);
    } else {
      std::cout << FileItemName(line) << ": " << value << "\n";
    }
  }
  if (o.json) std::cout << JsonText(items);
  return {};
}

// ---- backup --------------------------------------------------------------------------

Fault RunBackup(const Options& o) {
  FoundDevice device;
  int rowKind = 0;
  settings::DeviceSettings values;
  if (Fault fault = ReadTargetSettings(o, device, rowKind, values); fault.Failed()) return fault;
  // The file reader ends a value at its first blank and a control character
  // breaks the lines; the device manager's Save refuses such a name. A file
  // that would rename the device when applied back is not written.
  if (const std::string& name = values.items[settings::kDeviceName]; settings::NameFileFault(name)) {
    return {Failure::File, "the name of " + device.MacText() + " (\"" + name +
                               "\") holds a blank or a control character, which a settings file cannot keep; "
                               "nothing written"};
  }
  const std::string& path = o.file;
  const std::string text = settings::BuildSettingsFileText(values, rowKind);
  if (const fileio::FileFault fault = fileio::WriteWholeFile(path, text); fault != fileio::FileFault::None) {
    return {Failure::File, "cannot write " + path + ": " + fileio::DescribeFileFault(fault)};
  }
  std::cout << device.MacText() << " (" << device.address << "): settings of "
            << (device.portCount < 2 ? "its port" : "ports 1 and 2") << " saved to " << path << " ("
            << settings::FileLineCount(rowKind) << " lines)\n";
  return {};
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

}  // namespace

bool Confirmed(const Options& o, const std::string& question) {
  if (o.yes) return true;
  if (!StdinIsTerminal()) {
    std::cerr << "corvanectl: not confirmed (add --yes when not at a terminal)\n";
    return false;
  }
  std::cerr << question << " [y/N] " << std::flush;
  std::string answer;
  std::getline(std::cin, answer);
  return answer == "y" || answer == "Y" || answer == "yes";
}

Fault RunReboot(const Options& o, bool restore) {
  ComeBackTiming timing;
  if (o.restartWaitMs) timing.limitMs = *o.restartWaitMs;
  const std::string question = std::string(restore ? "Restore the factory settings of " : "Reboot ") +
                               std::to_string(o.targets.size()) + " device(s)?";
  if (!Confirmed(o, question)) return {Failure::NotConfirmed, ""};
  // Every device is asked in turn; then the wait for those that acknowledged
  // runs for all of them at once.
  std::vector<ComeBack> restarting;
  std::vector<std::string> restartingTargets;
  for (const std::string& target : o.targets) {
    FoundDevice device;
    Fault fault = FindTarget(target, o.waitMs, device);
    if (!fault.Failed()) {
      const std::string who = device.MacText() + " (" + device.address + ")";
      // As the device manager does: a device whose serial port is at work is
      // left alone.
      if (const auto busy = PortInUse(device); busy && !o.force) {
        std::cout << target << ": SKIPPED, " << who << ": " << *busy << " (--force restarts it anyway)\n";
        continue;
      }
      const bool twoPort = device.portCount == 2;
      const MacAddress mac = corvane::protocol::MacOfRecord(device.bytes);
      const std::string name = corvane::protocol::NameOfRecord(device.bytes);
      const Bytes request = restore ? corvane::protocol::BuildRestoreRequest(name, mac, twoPort)
                                    : corvane::protocol::BuildRebootRequest(name, mac, twoPort);
      const int code = restore ? corvane::protocol::kReplyRestore : corvane::protocol::kReplyReboot;
      fault = SendAndAwaitReply(device, request, code, o.waitMs);
      if (!fault.Failed()) {
        ComeBack wait;
        wait.device = std::move(device);
        // Named by its MAC, it is looked for the same way when it comes back.
        wait.byBroadcast = !settings::IsDottedQuad(target);
        restarting.push_back(std::move(wait));
        restartingTargets.push_back(target);
        continue;
      }
      fault.message = who + ": " + fault.message;
    }
    std::cout << target << ": FAILED, " << fault.message << "\n";
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
  std::cout << succeeded << " of " << o.targets.size() << " device(s) " << (restore ? "restored" : "rebooted")
            << "\n";
  if (succeeded != static_cast<int>(o.targets.size())) return {Failure::DeviceFailed, ""};
  return {};
}

}  // namespace corvanectl
