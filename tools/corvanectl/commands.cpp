// search, show, backup, reboot and restore.
#include "corvanectl/commands.h"

#include <cstdio>
#include <iostream>
#include <nlohmann/json.hpp>
#ifdef _WIN32
#include <direct.h>
#include <io.h>
#else
#include <sys/stat.h>
#include <unistd.h>
#endif
#include <cerrno>
#include <optional>

#include "corvane/settings/encoding.h"
#include "corvane/settings/page_rules.h"
#include "corvane/settings/row_texts.h"
#include "corvane/settings/settings_file.h"
#include "corvanectl/devices.h"
#include "corvanectl/local_net.h"
#include "corvanectl/oplog.h"
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

Fault SearchOptionsOf(const Options& o, SearchOptions& options) {
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
  return {};
}

Fault RunSearch(const Options& o) {
  SearchOptions options;
  if (Fault fault = SearchOptionsOf(o, options); fault.Failed()) return fault;

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

namespace {

// The settings file of a device's row, or why none is written: the file
// reader ends a value at its first blank and a control character breaks the
// lines; the device manager's Save refuses such a name. A file that would
// rename the device when applied back is not written.
std::optional<std::string> BackupText(const FoundDevice& device, int rowKind, std::string& text) {
  settings::DeviceSettings values;
  if (!settings::DecodeRecord(device.bytes, rowKind, 0, values)) return "its reply carries no settings";
  settings::ApplyPageRules(values, rowKind);
  if (const std::string& name = values.items[settings::kDeviceName]; settings::NameFileFault(name)) {
    return "its name (\"" + name +
           "\") holds a blank or a control character, which a settings file cannot keep";
  }
  text = settings::BuildSettingsFileText(values, rowKind);
  return std::nullopt;
}

std::string PortsText(const FoundDevice& device) {
  return device.portCount < 2 ? "its port" : "ports 1 and 2";
}

bool MakeFolder(const std::string& path) {
#ifdef _WIN32
  if (_mkdir(path.c_str()) == 0) return true;
#else
  if (mkdir(path.c_str(), 0777) == 0) return true;
#endif
  // An existing folder is used as it is.
  return errno == EEXIST && fileio::ReadWholeFile(path, 0).fault == fileio::FileFault::IsFolder;
}

}  // namespace

Fault RunBackup(const Options& o) {
  FoundDevice device;
  if (Fault fault = FindTarget(o.targets.at(0), o.waitMs, device); fault.Failed()) return fault;
  if (o.port == 2 && device.portCount < 2) {
    return {Failure::Usage, device.MacText() + " has one serial port only"};
  }
  const int rowKind = RowKindOf(device, o.port);
  std::string text;
  if (auto problem = BackupText(device, rowKind, text)) {
    return {Failure::File, device.MacText() + ": " + *problem + "; nothing written"};
  }
  const std::string& path = o.file;
  if (const fileio::FileFault fault = fileio::WriteWholeFile(path, text); fault != fileio::FileFault::None) {
    return {Failure::File, "cannot write " + path + ": " + fileio::DescribeFileFault(fault)};
  }
  std::cout << device.MacText() << " (" << device.address << "): settings of " << PortsText(device)
            << " saved to " << path << " (" << settings::FileLineCount(rowKind) << " lines)\n";
  return {};
}

// One file per device, not per port: a two-port device's file holds both
// ports (40 lines), saved from its first port's row as `backup` saves it
// without --port; `apply DIR` sends it from the same row.
Fault RunBackupAll(const Options& o) {
  SearchOptions options;
  if (Fault fault = SearchOptionsOf(o, options); fault.Failed()) return fault;
  std::vector<FoundDevice> found;
  if (Fault fault = Search(options, found); fault.Failed()) return fault;
  if (found.empty()) return {Failure::NoAnswer, "no device answered; nothing written"};
  const std::string& dir = o.allDir;
  if (!MakeFolder(dir)) return {Failure::File, "cannot make the folder " + dir};

  nlohmann::ordered_json saved = nlohmann::ordered_json::array();
  nlohmann::ordered_json notSaved = nlohmann::ordered_json::array();
  for (const FoundDevice& device : found) {
    const std::string who = device.MacText() + " (" + device.address + ")";
    const int rowKind = RowKindOf(device, 1);
    const std::string name = device.MacText() + ".log";
    std::string text;
    std::optional<std::string> problem = BackupText(device, rowKind, text);
    if (!problem) {
      const fileio::FileFault fault = fileio::WriteWholeFile(dir + "/" + name, text);
      if (fault != fileio::FileFault::None)
        problem = std::string("cannot write ") + name + ": " + fileio::DescribeFileFault(fault);
    }
    if (problem) {
      std::cout << who << ": FAILED, " << *problem << "\n";
      oplog::Event("failed", who, *problem);
      notSaved.push_back({{"mac", device.MacText()}, {"address", device.address}, {"reason", *problem}});
      continue;
    }
    std::cout << who << ": settings of " << PortsText(device) << " saved to " << name << "\n";
    oplog::Event("ok", who, "saved to " + name);
    saved.push_back({{"mac", device.MacText()},
                     {"address", device.address},
                     {"name", BytesAsUtf8(corvane::protocol::NameOfRecord(device.bytes))},
                     {"serialPorts", device.portCount},
                     {"file", name},
                     {"lines", settings::FileLineCount(rowKind)}});
  }
  const nlohmann::ordered_json index = {{"devices", saved}, {"notSaved", notSaved}};
  const std::string indexPath = dir + "/" + kSiteIndexName;
  if (const fileio::FileFault fault = fileio::WriteWholeFile(indexPath, JsonText(index));
      fault != fileio::FileFault::None) {
    return {Failure::File, "cannot write " + indexPath + ": " + fileio::DescribeFileFault(fault)};
  }
  std::cout << saved.size() << " of " << found.size() << " device(s) saved to " << dir << "\n";
  if (!notSaved.empty()) return {Failure::DeviceFailed, ""};
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
        oplog::Event("skipped", who, *busy);
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
    oplog::Event("failed", target, fault.message);
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
      oplog::Event("ok", device.MacText() + " (" + device.address + ")", restore ? "restored" : "rebooted");
      std::cout << device.MacText() << " (" << device.address << ") "
                << (restore ? "restored to factory settings" : "rebooted") << ", answering again\n";
    } else {
      oplog::Event("failed", device.MacText() + " (" + device.address + ")", "did not answer again");
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
