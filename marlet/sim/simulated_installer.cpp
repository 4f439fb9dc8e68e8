#include "marlet/sim/simulated_installer.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <sstream>

namespace marlet::sim {

namespace {

std::string Trim(const std::string& s) {
  std::size_t b = s.find_first_not_of(" \t\r\n");
  if (b == std::string::npos) return {};
  std::size_t e = s.find_last_not_of(" \t\r\n");
  return s.substr(b, e - b + 1);
}

std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Splits a value list at commas outside quotes and drops the quotes.
std::vector<std::string> SplitFields(const std::string& text) {
  std::vector<std::string> fields(1);
  bool quoted = false;
  for (char c : text) {
    if (c == '"') {
      quoted = !quoted;
    } else if (c == ',' && !quoted) {
      fields.emplace_back();
    } else {
      fields.back().push_back(c);
    }
  }
  for (std::string& f : fields) f = Trim(f);
  return fields;
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

ClassGuid ParseGuid(const std::string& text) {
  // {XXXXXXXX-XXXX-XXXX-XXXX-XXXXXXXXXXXX}: the GUID's bytes as the platform
  // stores them (the first three groups little-endian).
  ClassGuid guid;
  std::string hex;
  for (char c : text) {
    if (HexValue(c) >= 0) hex.push_back(c);
  }
  if (hex.size() != 32 || text.size() != 38 || text.front() != '{' || text.back() != '}') return {};
  std::uint8_t raw[16];
  for (int i = 0; i < 16; ++i)
    raw[i] = static_cast<std::uint8_t>(HexValue(hex[2 * i]) * 16 + HexValue(hex[2 * i + 1]));
  const int order[16] = {3, 2, 1, 0, 5, 4, 7, 6, 8, 9, 10, 11, 12, 13, 14, 15};
  for (int i = 0; i < 16; ++i) guid.bytes[static_cast<std::size_t>(i)] = raw[order[i]];
  return guid;
}

const ClassGuid kPortsClassGuid = ParseGuid("{4D36E978-E325-11CE-BFC1-08002BE10318}");

SimulatedInstaller::SimulatedInstaller(SimulatedDriver& driver) : m_driver(driver) {
  knownClasses["Ports"] = kPortsClassGuid;
}

bool SimulatedInstaller::Failing(InstallStep step) {
  auto found = failures.find(step);
  if (found == failures.end()) return false;
  m_lastError = found->second;
  return true;
}

SimulatedInstaller::ParsedFile SimulatedInstaller::Parse(const std::string& text) {
  ParsedFile file;
  std::istringstream in(text);
  std::string raw;
  std::map<std::string, std::string> strings;
  while (std::getline(in, raw)) {
    // Comments run from ';' outside quotes to the end of the line.
    bool quoted = false;
    std::string line;
    for (char c : raw) {
      if (c == '"') quoted = !quoted;
      if (c == ';' && !quoted) break;
      line.push_back(c);
    }
    line = Trim(line);
    if (line.empty()) continue;
    if (line.front() == '[') {
      std::size_t close = line.find(']');
      file.sections.push_back(
          {Trim(line.substr(1, close == std::string::npos ? std::string::npos : close - 1)), {}});
      continue;
    }
    if (file.sections.empty()) continue;
    Line parsed;
    std::size_t equals = line.find('=');
    if (equals == std::string::npos) {
      parsed.fields = SplitFields(line);
      parsed.fields.insert(parsed.fields.begin(), std::string());
    } else {
      parsed.fields = SplitFields(line.substr(equals + 1));
      parsed.fields.insert(parsed.fields.begin(), Trim(line.substr(0, equals)));
    }
    if (Lower(file.sections.back().name) == "strings") strings[Lower(parsed.fields[0])] = parsed.fields[1];
    file.sections.back().lines.push_back(std::move(parsed));
  }
  // %name% in any field stands for the [Strings] entry.
  for (Section& section : file.sections) {
    for (Line& line : section.lines) {
      for (std::string& field : line.fields) {
        if (field.size() > 2 && field.front() == '%' && field.back() == '%') {
          auto found = strings.find(Lower(field.substr(1, field.size() - 2)));
          if (found != strings.end()) field = found->second;
        }
      }
    }
  }
  return file;
}

PlatformHandle SimulatedInstaller::OpenInfFile(const std::string& name) {
  if (Failing(InstallStep::kOpenInf)) return nullptr;
  auto found = files.find(name);
  if (found == files.end()) {
    m_lastError = ERROR_FILE_NOT_FOUND;
    return nullptr;
  }
  auto parsed = std::make_unique<ParsedFile>(Parse(found->second));
  ParsedFile* handle = parsed.get();
  m_files.emplace(handle, std::move(parsed));
  return handle;
}

bool SimulatedInstaller::GetInfClass(const std::string& name, ClassGuid& guid, std::string& className) {
  if (Failing(InstallStep::kGetInfClass)) return false;
  auto found = files.find(name);
  if (found == files.end()) return Fail(ERROR_FILE_NOT_FOUND);
  ParsedFile file = Parse(found->second);
  guid = {};
  className.clear();
  for (const Section& section : file.sections) {
    if (Lower(section.name) != "version") continue;
    for (const Line& line : section.lines) {
      if (Lower(line.fields[0]) == "class") className = line.fields[1];
      if (Lower(line.fields[0]) == "classguid") guid = ParseGuid(line.fields[1]);
    }
  }
  if (className.empty()) return Fail(ERROR_NO_SUCH_CLASS);
  return true;
}

bool SimulatedInstaller::ClassGuidFromName(const std::string& className, ClassGuid& guid) {
  if (Failing(InstallStep::kClassGuidFromName)) return false;
  for (const auto& [name, known] : knownClasses) {
    if (Lower(name) == Lower(className)) {
      guid = known;
      return true;
    }
  }
  return Fail(ERROR_NO_SUCH_CLASS);
}

bool SimulatedInstaller::FindFirstLine(PlatformHandle inf, const std::string& section, InfLine& line) {
  auto found = m_files.find(static_cast<ParsedFile*>(inf));
  if (found == m_files.end()) return Fail(ERROR_INVALID_HANDLE);
  const std::vector<Section>& sections = found->second->sections;
  for (std::size_t s = 0; s < sections.size(); ++s) {
    if (Lower(sections[s].name) == Lower(section) && !sections[s].lines.empty()) {
      line.context[0] = reinterpret_cast<std::uintptr_t>(found->second.get());
      line.context[1] = s;
      line.context[2] = 0;
      return true;
    }
  }
  return Fail(ERROR_LINE_NOT_FOUND);
}

bool SimulatedInstaller::FindNextLine(const InfLine& line, InfLine& next) {
  if (LineAt(line) == nullptr) return Fail(ERROR_INVALID_HANDLE);
  InfLine candidate = line;
  ++candidate.context[2];
  if (LineAt(candidate) == nullptr) return Fail(ERROR_LINE_NOT_FOUND);
  next = candidate;
  return true;
}

const SimulatedInstaller::Line* SimulatedInstaller::LineAt(const InfLine& line) const {
  auto found = m_files.find(reinterpret_cast<ParsedFile*>(line.context[0]));
  if (found == m_files.end() || line.context[1] >= found->second->sections.size()) return nullptr;
  const Section& section = found->second->sections[line.context[1]];
  return line.context[2] < section.lines.size() ? &section.lines[line.context[2]] : nullptr;
}

int SimulatedInstaller::GetFieldCount(const InfLine& line) {
  const Line* l = LineAt(line);
  return l == nullptr ? 0 : static_cast<int>(l->fields.size()) - 1;
}

bool SimulatedInstaller::GetStringField(const InfLine& line, int index, std::string& value) {
  const Line* l = LineAt(line);
  if (l == nullptr || index < 0 || index >= static_cast<int>(l->fields.size()))
    return Fail(ERROR_INVALID_HANDLE);
  value = l->fields[static_cast<std::size_t>(index)];
  return true;
}

void SimulatedInstaller::CloseInfFile(PlatformHandle inf) {
  m_files.erase(static_cast<ParsedFile*>(inf));
}

SimulatedInstaller::DeviceList* SimulatedInstaller::ListOf(PlatformHandle list) {
  auto found = m_lists.find(static_cast<DeviceList*>(list));
  return found == m_lists.end() ? nullptr : found->second.get();
}

PlatformHandle SimulatedInstaller::CreateDeviceInfoList(const ClassGuid& classGuid) {
  if (Failing(InstallStep::kCreateList)) return nullptr;
  listClassGuids.push_back(classGuid);
  auto list = std::make_unique<DeviceList>();
  list->guid = classGuid;
  DeviceList* handle = list.get();
  m_lists.emplace(handle, std::move(list));
  return handle;
}

bool SimulatedInstaller::CreateDeviceInfo(PlatformHandle list, const std::string& name,
                                          const ClassGuid& classGuid) {
  if (Failing(InstallStep::kCreateDevice)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr || l->hasDevice || !(classGuid == l->guid)) return Fail(ERROR_INVALID_HANDLE);
  l->hasDevice = true;
  l->className = name;
  return true;
}

bool SimulatedInstaller::SetHardwareIdProperty(PlatformHandle list, const std::uint8_t* data,
                                               std::uint32_t size) {
  if (Failing(InstallStep::kSetHardwareId)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr || !l->hasDevice || data == nullptr) return Fail(ERROR_INVALID_HANDLE);
  std::string shown;
  for (std::uint32_t i = 0; i < size; ++i) shown.push_back(data[i] == 0 ? '|' : static_cast<char>(data[i]));
  hardwareIdProperties.push_back(shown);
  // The first string of the multi-string.
  l->hardwareId =
      std::string(reinterpret_cast<const char*>(data), strnlen(reinterpret_cast<const char*>(data), size));
  return true;
}

bool SimulatedInstaller::CallClassInstaller(PlatformHandle list, InstallFunction function) {
  DeviceList* l = ListOf(list);
  if (l == nullptr || !l->hasDevice) return Fail(ERROR_INVALID_HANDLE);
  switch (function) {
    case InstallFunction::kRegisterDevice:
      if (Failing(InstallStep::kRegister)) return false;
      l->registered = true;
      ++registeredDevices;
      return true;
    case InstallFunction::kSelectBestCompatDrv:
      if (Failing(InstallStep::kSelectBest)) return false;
      if (!l->driverListBuilt || knownHardwareIds.count(l->hardwareId) == 0)
        return Fail(ERROR_NO_COMPAT_DRIVERS);
      l->driverSelected = true;
      return true;
    case InstallFunction::kInstallDevice:
      if (Failing(InstallStep::kInstall)) return false;
      if (!l->registered || !l->driverSelected) return Fail(ERROR_NO_DRIVER_SELECTED);
      l->registered = false;
      --registeredDevices;
      // A root device of the Ports class shows up as a COM port interface.
      if (Lower(l->className) == "ports") m_driver.AddVirtualPort(m_driver.NextInstanceNumber(), "");
      return true;
    case InstallFunction::kRemove:
      if (l->registered) {
        l->registered = false;
        --registeredDevices;
      }
      return true;
  }
  return Fail(ERROR_INVALID_HANDLE);
}

bool SimulatedInstaller::GetInstallParams(PlatformHandle list, InstallParams& params) {
  if (Failing(InstallStep::kGetParams)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
  params = l->params;
  return true;
}

bool SimulatedInstaller::SetInstallParams(PlatformHandle list, const InstallParams& params) {
  if (Failing(InstallStep::kSetParams)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
  l->params = params;
  writtenParams.push_back(params);
  return true;
}

bool SimulatedInstaller::BuildCompatDriverList(PlatformHandle list) {
  if (Failing(InstallStep::kBuildDriverList)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr) return Fail(ERROR_INVALID_HANDLE);
  l->driverListBuilt = true;
  return true;
}

bool SimulatedInstaller::GetSelectedDriver(PlatformHandle list, DriverInfo& info) {
  if (Failing(InstallStep::kGetSelectedDriver)) return false;
  DeviceList* l = ListOf(list);
  if (l == nullptr || !l->driverSelected) return Fail(ERROR_NO_DRIVER_SELECTED);
  info.description = l->hardwareId;
  return true;
}

void SimulatedInstaller::DestroyDeviceInfoList(PlatformHandle list) {
  m_lists.erase(static_cast<DeviceList*>(list));
}

}  // namespace marlet::sim
