// apply: a settings file sent to a device as the device manager sends it after
// opening the device's setup sheet, loading the file and pressing Submit; then
// a look at what the device shows once it has restarted.
//
// The file is held to more than Load holds it to: Load takes what it can and
// leaves the rest, but a script that rolls a file out to many devices must not
// send half a file or a value the device would read as another. So a file
// without 27 or 40 lines, or with a value outside its item's range, is refused
// before anything is sent. Only an empty value keeps the device's own, as in
// Load (the device manager saves an empty DNS server that way).
#include <algorithm>
#include <iostream>
#include <limits>
#include <nlohmann/json.hpp>
#include <optional>
#include <string_view>

#include "corvane/settings/encoding.h"
#include "corvane/settings/page_rules.h"
#include "corvane/settings/settings_file.h"
#include "corvane/settings/submit_check.h"
#include "corvanectl/commands.h"
#include "corvanectl/devices.h"
#include "corvanectl/oplog.h"
#include "corvanectl/wait.h"
#include "fileio/whole_file.h"

namespace corvanectl {

namespace settings = corvane::settings;
namespace protocol = corvane::protocol;
using settings::DeviceSettings;
using settings::FileLine;

namespace {

constexpr int kOnePortLines = 27;
constexpr int kTwoPortLines = 40;

struct SettingsFile {
  std::string path;
  int lines = 0;  // 27 or 40
  std::vector<std::optional<std::string>> values;

  // The row kind whose layout the file has (the port lines of 21 and 22 are the same).
  int LayoutKind() const {
    return lines == kTwoPortLines ? settings::kFirstPortRow : settings::kSinglePortRow;
  }
};

// Lines that never reach a device: the MAC and the current address come from
// the device itself, the listening ports of lines 8 and 9 are always empty.
bool IsUnusedItem(int item) {
  return item == settings::kMacAddress || item == settings::kDynamicIp ||
         item == settings::kBroadcastListenPort || item == settings::kMulticastListenPort;
}

bool IsAddressItem(int item) {
  return item == settings::kStaticIp || item == settings::kDestIp || item == settings::kNetmask ||
         item == settings::kGateway || item == settings::kDns;
}

std::string LineLabel(const SettingsFile& file, int rowKind, int index) {
  return file.path + ", line " + std::to_string(index + 1) + " (" +
         FileItemName(settings::LayoutLine(rowKind, index)) + ")";
}

// The lines of `data` as ReadFileValues splits them, blank lines at the end
// not counted.
int CountLines(std::string_view data) {
  int lines = 0;
  int lastFilled = 0;
  std::size_t pos = 0;
  while (pos < data.size()) {
    const std::size_t end = data.find_first_of("\r\n", pos);
    const std::string_view line = data.substr(pos, end == std::string_view::npos ? end : end - pos);
    ++lines;
    if (line.find_first_not_of(" \t") != std::string_view::npos) lastFilled = lines;
    if (end == std::string_view::npos) break;
    pos = end + (data[end] == '\r' ? 2 : 1);
  }
  return lastFilled;
}

// Digits only, at most `high`.
bool IsNumberUpTo(const std::string& text, unsigned high) {
  if (text.empty() || text.size() > 6 || text.find_first_not_of("0123456789") != std::string::npos)
    return false;
  return std::stoul(text) <= high;
}

// The highest value an item's file line may hold; nullopt for free text.
std::optional<unsigned> HighestValue(int item) {
  switch (item) {
    case settings::kDataPort:
    case settings::kDestPort:
      return settings::kMaxPortNumber;
    case settings::kConnectionTimeout:
      return settings::kMaxTimeoutMinutes;
    case settings::kTxTimer:
      return settings::kMaxTxTimerMs;
    case settings::kBaudRate:
      return 8u;
    case settings::kDataBits:
      return 3u;
    case settings::kParity:
    case settings::kFlowControl:
      return 2u;
    case settings::kDeviceName:
    case settings::kMacAddress:
    case settings::kDynamicIp:
    case settings::kStaticIp:
    case settings::kBroadcastListenPort:
    case settings::kMulticastListenPort:
    case settings::kDestIp:
    case settings::kNetmask:
    case settings::kGateway:
    case settings::kDns:
      return std::nullopt;
    default:
      return 1u;  // the switches, the stop bits and the transfer mode
  }
}

// What is wrong with a non-empty value of `item`, or nullopt.
std::optional<std::string> ValueProblem(int item, const std::string& value) {
  if (IsUnusedItem(item)) return std::nullopt;
  if (item == settings::kDeviceName) {
    if (value.size() > static_cast<std::size_t>(settings::kMaxNameChars)) {
      return "is longer than " + std::to_string(settings::kMaxNameChars) + " characters";
    }
    // A zero byte ends the name the device shows and a fill byte is left out
    // of it: either would come back as another name.
    if (value.find('\0') != std::string::npos ||
        value.find(static_cast<char>(protocol::kFill)) != std::string::npos) {
      return "holds a byte that a device name cannot keep (0x00 or 0xCC)";
    }
    if (settings::NameFileFault(value)) return "holds a control character, which a settings file cannot keep";
    return std::nullopt;
  }
  if (IsAddressItem(item)) {
    if (settings::IsDottedQuad(value)) return std::nullopt;
    return "is not an IP address (four numbers 0 to 255 separated by dots)";
  }
  const unsigned high = *HighestValue(item);
  if (IsNumberUpTo(value, high)) return std::nullopt;
  return "is not a number from 0 to " + std::to_string(high);
}

// Reads and checks the file on its own, before any device is asked.
bool ReadSettingsFile(const std::string& path, SettingsFile& file, std::string& error) {
  const fileio::ReadResult read = fileio::ReadWholeFile(path, settings::kMaxSettingsFileSize);
  if (read.fault == fileio::FileFault::TooLarge) {
    error = path + " is larger than " + std::to_string(settings::kMaxSettingsFileSize) +
            " bytes: not a settings file";
    return false;
  }
  if (read.fault != fileio::FileFault::None) {
    error = "cannot read " + path + ": " + fileio::DescribeFileFault(read.fault);
    return false;
  }
  const std::string& data = read.data;
  file.path = path;
  file.lines = CountLines(data);
  if (file.lines != kOnePortLines && file.lines != kTwoPortLines) {
    error = path + " has " + std::to_string(file.lines) + " lines; a settings file has " +
            std::to_string(kOnePortLines) + " (one serial port) or " + std::to_string(kTwoPortLines) +
            " (two serial ports)";
    return false;
  }
  file.values = settings::ReadFileValues(data, file.lines);
  for (int i = 0; i < file.lines; ++i) {
    const std::string& value = *file.values[static_cast<std::size_t>(i)];
    if (value.empty()) continue;
    if (auto problem = ValueProblem(settings::LayoutLine(file.LayoutKind(), i).item, value)) {
      error = LineLabel(file, file.LayoutKind(), i) + ": \"" + value + "\" " + *problem;
      return false;
    }
  }
  return true;
}

// The settings the setup sheet of the device's row holds after Load: the file's
// values, and the device's own where a line is empty.
bool SettingsFromFile(const SettingsFile& file, const FoundDevice& device, int rowKind, DeviceSettings& s) {
  if (!settings::DecodeRecord(device.bytes, rowKind, 0, s)) return false;
  settings::ApplyPageRules(s, rowKind);
  int dhcpShown = settings::NumberFromText(s.items[settings::kDhcp]) != 0 ? 1 : 0;
  for (int i = 0; i < file.lines; ++i) {
    const std::string& value = *file.values[static_cast<std::size_t>(i)];
    const FileLine& line = settings::LayoutLine(rowKind, i);
    if (value.empty()) {
      if (!IsUnusedItem(line.item)) {
        std::cerr << "corvanectl: " << LineLabel(file, rowKind, i)
                  << " is empty: the device keeps its value\n";
      }
      continue;
    }
    if (rowKind == settings::kSinglePortRow) {
      settings::ApplyItem(s, line.item, value, dhcpShown);
    } else {
      settings::ApplyFileField(s, rowKind, i, value, dhcpShown);
    }
  }
  return true;
}

// Submit's checks, named by the file line they concern.
std::optional<std::string> SubmitRefusal(const SettingsFile& file, const DeviceSettings& s, int rowKind) {
  const auto problem = settings::CheckSubmit(s, rowKind);
  if (!problem) return std::nullopt;
  for (int i = 0; i < file.lines; ++i) {
    const FileLine& line = settings::LayoutLine(rowKind, i);
    if (line.item != problem->item || (line.port != 0 && line.port != problem->port)) continue;
    const std::string& value = settings::LineValue(s, rowKind, line);
    std::string why = "\"" + value + "\" ";
    switch (problem->fault) {
      case settings::SubmitFault::DeviceName:
        why += "holds a space";
        break;
      case settings::SubmitFault::PortNumber:
        why += "is not a port from " + std::to_string(settings::kLowestSubmitPort) + " to " +
               std::to_string(settings::kHighestSubmitPort) +
               " (the device manager's Submit asks it of the data listening and the destination port"
               " alike, whatever the mode)";
        break;
      case settings::SubmitFault::Address:
        why += "is not an IP address";
        break;
      case settings::SubmitFault::StoredValue:
        why += "is out of range for this setting";
        break;
    }
    return LineLabel(file, rowKind, i) + ": " + why;
  }
  return problem->message;
}

// The value a device takes from a text: "192.168.000.001" and "192.168.0.1"
// are the same address to it, "04002" and "4002" the same port.
std::string Comparable(int item, const std::string& text) {
  if (!IsAddressItem(item)) {
    if (HighestValue(item) && IsNumberUpTo(text, std::numeric_limits<unsigned>::max())) {
      return std::to_string(std::stoul(text));
    }
    return text;
  }
  if (!settings::IsDottedQuad(text)) return text;
  std::string out;
  std::size_t start = 0;
  for (int group = 0; group < 4; ++group) {
    const std::size_t dot = text.find('.', start);
    out += (group ? "." : "") + std::to_string(std::stoi(text.substr(start, dot - start)));
    start = dot + 1;
  }
  return out;
}

// A file line whose value differs from the device's.
struct Difference {
  int line = 0;  // 1-based
  std::string item;
  std::string file;
  std::string device;
};

// The lines where the device shows other values than the file's, both as the
// setup pages show them.
std::vector<Difference> Differences(const SettingsFile& file, DeviceSettings sent, DeviceSettings shown,
                                    int rowKind) {
  settings::ApplyPageRules(sent, rowKind);
  settings::ApplyPageRules(shown, rowKind);
  std::vector<Difference> lines;
  for (int i = 0; i < file.lines; ++i) {
    const FileLine& line = settings::LayoutLine(rowKind, i);
    if (IsUnusedItem(line.item)) continue;
    const std::string& want = settings::LineValue(sent, rowKind, line);
    const std::string& got = settings::LineValue(shown, rowKind, line);
    if (Comparable(line.item, want) == Comparable(line.item, got)) continue;
    lines.push_back({i + 1, FileItemName(line), want, got});
  }
  return lines;
}

std::string Who(const FoundDevice& device) {
  return device.MacText() + " (" + device.address + ")";
}

struct ApplyRun {
  SettingsFile file;
  std::string target;
  int waitMs;
  ComeBackTiming timing;
  int rowKind;
  DeviceSettings wanted;

  Fault Fail(const FoundDevice& device, const std::string& why) const {
    std::cout << target << ": FAILED, " << Who(device) << ": " << why << "\n";
    oplog::Event("failed", Who(device), why);
    return {Failure::DeviceFailed, ""};
  }

  // The state query, the set request and its acknowledgement, the restart and
  // the comparison.
  Fault Send(const FoundDevice& found) {
    std::vector<FoundDevice> answers;
    SearchOptions query;
    query.kind = SearchKind::Unicast;
    query.address = found.address;
    query.waitMs = waitMs;
    if (Fault fault = Search(query, answers); fault.Failed()) return fault;
    if (answers.empty() || answers[0].MacText() != found.MacText()) {
      return Fail(found, "no answer to the state query");
    }
    const FoundDevice& device = answers[0];
    if (auto busy = PortInUse(device)) return Fail(device, *busy + ": nothing sent");

    const protocol::ByteView record(device.bytes);
    settings::FillUnselectedSerialCodes(wanted, rowKind, record);
    Bytes request(settings::RequestSize(rowKind));
    settings::EncodeRequest(request, rowKind, wanted, record.first(settings::kRecordCopySize));
    if (Fault fault = SendAndAwaitReply(device, request, protocol::kReplySet, waitMs); fault.Failed()) {
      return Fail(device,
                  fault.kind == Failure::NoAnswer ? "the settings were not acknowledged" : fault.message);
    }

    std::vector<ComeBack> waiting(1);
    ComeBack& back = waiting[0];
    back.device = device;
    const bool dhcp = settings::NumberFromText(wanted.items[settings::kDhcp]) != 0;
    const std::string& staticIp = wanted.items[settings::kStaticIp];
    if (!dhcp && Comparable(settings::kStaticIp, staticIp) != device.address) back.alsoAt.push_back(staticIp);
    // With DHCP, or named by its MAC, the device is looked for the way a search finds it.
    back.byBroadcast = dhcp || !settings::IsDottedQuad(target);
    std::cerr << "corvanectl: " << Who(device) << " acknowledged; waiting up to "
              << SecondsText(timing.limitMs) << " s for it to answer again\n";
    if (std::string error; !AwaitComeBack(waiting, timing, error)) return {Failure::Network, error};
    if (!back.back) {
      return Fail(device, "acknowledged the settings, but did not answer again within " +
                              SecondsText(timing.limitMs) + " s");
    }
    DeviceSettings shown;
    if (!settings::DecodeRecord(back.device.bytes, rowKind, 0, shown)) {
      return Fail(back.device, "answered again without its settings");
    }
    const std::vector<Difference> differ = Differences(file, wanted, shown, rowKind);
    if (differ.empty()) {
      std::cout << target << ": " << Who(back.device) << ": ok\n";
      oplog::Event("ok", Who(back.device), "applied " + file.path);
      return {};
    }
    std::cout << target << ": FAILED, " << Who(back.device) << ": " << differ.size()
              << " item(s) differ from " << file.path << "\n";
    oplog::Event("failed", Who(back.device),
                 std::to_string(differ.size()) + " item(s) differ from " + file.path);
    for (const Difference& d : differ) {
      std::cout << "  line " << d.line << " (" << d.item << "): file \"" << d.file << "\", device \""
                << d.device << "\"\n";
    }
    return {Failure::DeviceFailed, ""};
  }

  // What Send would change, from the device's reply to the search: true when
  // something would.
  bool PrintDryRun(const FoundDevice& device) const {
    DeviceSettings shown;
    settings::DecodeRecord(device.bytes, rowKind, 0, shown);
    const std::vector<Difference> differ = Differences(file, wanted, shown, rowKind);
    std::cout << target << ": " << Who(device) << ": ";
    oplog::Event("dry run", Who(device), std::to_string(differ.size()) + " setting(s) would change");
    if (differ.empty()) {
      std::cout << "no change\n";
      return false;
    }
    std::cout << differ.size() << " setting(s) would change\n";
    for (const Difference& d : differ) {
      std::cout << "  line " << d.line << " (" << d.item << "): device \"" << d.device << "\", file \""
                << d.file << "\"\n";
    }
    if (auto busy = PortInUse(device)) std::cout << "  (" << *busy << ": it would be left alone)\n";
    return true;
  }
};

// The checks made before anything is sent: the file fits the device and
// Submit would take it. `run` is then ready to send.
Fault Prepare(SettingsFile file, const std::string& target, const FoundDevice& device, int port,
              const Options& o, ApplyRun& run) {
  const int filePorts = file.lines == kTwoPortLines ? 2 : 1;
  if (filePorts != device.portCount) {
    return {Failure::File, file.path + " holds the settings of a device with " + std::to_string(filePorts) +
                               " serial port(s); " + Who(device) + " has " +
                               std::to_string(device.portCount)};
  }
  if (port == 2 && device.portCount < 2) return {Failure::Usage, Who(device) + " has one serial port only"};
  const std::string& fileMac = *file.values[settings::kMacAddress];
  if (!fileMac.empty() && fileMac != device.MacText()) {
    std::cerr << "corvanectl: note: " << file.path << " was saved from " << fileMac << "\n";
  }
  ComeBackTiming timing;
  if (o.restartWaitMs) timing.limitMs = *o.restartWaitMs;
  run = ApplyRun{std::move(file), target, o.waitMs, timing, RowKindOf(device, port), {}};
  if (!SettingsFromFile(run.file, device, run.rowKind, run.wanted)) {
    return {Failure::NoAnswer, "the reply of " + Who(device) + " carries no settings"};
  }
  if (auto problem = SubmitRefusal(run.file, run.wanted, run.rowKind)) return {Failure::File, *problem};
  return {};
}

// A site backup's index: the file saved from each MAC. A file name that
// would lead out of the folder is refused.
Fault ReadSiteIndex(const std::string& dir, std::vector<std::pair<std::string, std::string>>& entries) {
  const std::string path = dir + "/" + kSiteIndexName;
  constexpr std::size_t kMaxIndexSize = 4u << 20;
  const fileio::ReadResult read = fileio::ReadWholeFile(path, kMaxIndexSize);
  if (read.fault != fileio::FileFault::None) {
    return {Failure::File, "cannot read " + path + ": " + fileio::DescribeFileFault(read.fault) +
                               " (a folder to apply is one that backup --all wrote)"};
  }
  const nlohmann::json index = nlohmann::json::parse(read.data, nullptr, false);
  const std::string bad = path + " is not a site backup's index";
  if (!index.is_object() || !index.contains("devices") || !index["devices"].is_array()) {
    return {Failure::File, bad};
  }
  for (const nlohmann::json& device : index["devices"]) {
    if (!device.is_object() || !device.contains("mac") || !device["mac"].is_string() ||
        !device.contains("file") || !device["file"].is_string()) {
      return {Failure::File, bad + ": an entry without \"mac\" and \"file\""};
    }
    const std::string mac = device["mac"];
    const std::string file = device["file"];
    protocol::MacAddress parsed{};
    if (!protocol::ParseMacText(mac, parsed))
      return {Failure::File, bad + ": \"" + mac + "\" is no MAC address"};
    if (file.empty() || file.front() == '.' || file.find_first_of("/\\:") != std::string::npos) {
      return {Failure::File, bad + ": \"" + file + "\" is not a file name within the folder"};
    }
    entries.emplace_back(mac, file);
  }
  if (entries.empty()) return {Failure::File, path + " lists no device"};
  return {};
}

// apply DIR: every file checked against its device first; then, once
// confirmed, sent to one device after another.
Fault RunApplySite(const Options& o) {
  std::vector<std::pair<std::string, std::string>> entries;
  if (Fault fault = ReadSiteIndex(o.file, entries); fault.Failed()) return fault;
  SearchOptions query;
  query.waitMs = o.waitMs;
  std::vector<FoundDevice> found;
  if (Fault fault = Search(query, found); fault.Failed()) return fault;

  int failed = 0;
  const auto fail = [&](const std::string& mac, const std::string& why) {
    std::cout << mac << ": FAILED, " << why << "\n";
    oplog::Event("refused", mac, why);
    ++failed;
  };
  std::vector<std::pair<ApplyRun, FoundDevice>> ready;
  for (const auto& [mac, name] : entries) {
    const auto device =
        std::find_if(found.begin(), found.end(), [&](const FoundDevice& d) { return d.MacText() == mac; });
    if (device == found.end()) {
      fail(mac, "did not answer the search");
      continue;
    }
    SettingsFile file;
    if (std::string error; !ReadSettingsFile(o.file + "/" + name, file, error)) {
      fail(mac, error);
      continue;
    }
    ApplyRun run{{}, {}, 0, {}, 0, {}};
    if (Fault fault = Prepare(std::move(file), mac, *device, 1, o, run); fault.Failed()) {
      fail(mac, fault.message);
      continue;
    }
    ready.emplace_back(std::move(run), *device);
  }
  if (o.dryRun) {
    bool changes = false;
    for (const auto& [run, device] : ready) changes = run.PrintDryRun(device) || changes;
    return {failed || changes ? Failure::DeviceFailed : Failure::None, ""};
  }
  if (!ready.empty() && !Confirmed(o, "Apply the files of " + o.file + " to " + std::to_string(ready.size()) +
                                          " device(s)? Each restarts.")) {
    return {Failure::NotConfirmed, ""};
  }
  int succeeded = 0;
  for (auto& [run, device] : ready) {
    const Fault fault = run.Send(device);
    if (fault.kind == Failure::Network) return fault;
    if (fault.Failed()) {
      ++failed;
      if (!fault.message.empty()) std::cout << run.target << ": FAILED, " << fault.message << "\n";
    } else {
      ++succeeded;
    }
  }
  std::cout << succeeded << " of " << entries.size() << " device(s) applied\n";
  if (failed) return {Failure::DeviceFailed, ""};
  return {};
}

}  // namespace

Fault RunApply(const Options& o) {
  if (fileio::ReadWholeFile(o.file, 0).fault == fileio::FileFault::IsFolder) {
    if (!o.targets.empty())
      return {Failure::Usage, "apply DIR takes no TARGET: each file goes to its own device"};
    return RunApplySite(o);
  }
  if (o.targets.empty()) return {Failure::Usage, "apply FILE needs a TARGET"};
  SettingsFile file;
  if (std::string error; !ReadSettingsFile(o.file, file, error)) return {Failure::File, error};

  const std::string& target = o.targets.at(0);
  FoundDevice device;
  if (Fault fault = FindTarget(target, o.waitMs, device); fault.Failed()) return fault;
  ApplyRun run{{}, {}, 0, {}, 0, {}};
  if (Fault fault = Prepare(std::move(file), target, device, o.port, o, run); fault.Failed()) return fault;
  if (o.dryRun) return {run.PrintDryRun(device) ? Failure::DeviceFailed : Failure::None, ""};
  if (!Confirmed(o, "Apply " + run.file.path + " to " + Who(device) + "? The device restarts.")) {
    return {Failure::NotConfirmed, ""};
  }
  return run.Send(device);
}

}  // namespace corvanectl
