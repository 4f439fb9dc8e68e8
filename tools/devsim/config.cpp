// Reading the simulator's JSON configuration.
#include "devsim/config.h"

#include <arpa/inet.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <stdexcept>
#include <utility>
#include <vector>

namespace devsim {

using nlohmann::json;
using namespace corvane::protocol;

namespace {

struct ConfigError : std::runtime_error {
  using std::runtime_error::runtime_error;
};

void CheckKeys(const json& object, const std::set<std::string>& allowed, const std::string& where) {
  if (!object.is_object()) throw ConfigError(where + ": expected an object");
  for (const auto& item : object.items()) {
    if (allowed.count(item.key()) == 0) throw ConfigError(where + ": unknown key \"" + item.key() + "\"");
  }
}

template <typename T>
T Get(const json& object, const char* key, T fallback, const std::string& where) {
  if (!object.contains(key)) return fallback;
  try {
    return object.at(key).get<T>();
  } catch (const json::exception&) {
    throw ConfigError(where + ": \"" + key + "\" has the wrong type");
  }
}

long GetInt(const json& object, const char* key, long fallback, long low, long high,
            const std::string& where) {
  // Only whole numbers: a fraction would be cut silently, and a float out of
  // range has no defined conversion; true and false are not numbers either.
  if (object.contains(key) && !object.at(key).is_number_integer())
    throw ConfigError(where + ": \"" + key + "\" must be a whole number");
  const long v = Get<long>(object, key, fallback, where);
  if (v < low || v > high)
    throw ConfigError(where + ": \"" + key + "\" must lie between " + std::to_string(low) + " and " +
                      std::to_string(high));
  return v;
}

std::uint32_t GetIp(const json& object, const char* key, const std::string& where) {
  const std::string text = Get<std::string>(object, key, "0.0.0.0", where);
  in_addr a{};
  if (inet_pton(AF_INET, text.c_str(), &a) != 1)
    throw ConfigError(where + ": \"" + key + "\" is not an IPv4 address");
  return ntohl(a.s_addr);
}

std::uint8_t ParseState(const json& port, const std::string& where) {
  if (!port.contains("state")) return kStateIdle;
  const json& v = port.at("state");
  if (v.is_string()) {
    const std::string s = v.get<std::string>();
    if (s == "idle") return kStateIdle;
    if (s == "connected") return kStateConnected;
    if (s == "unknown") return 2;
    throw ConfigError(where + ": \"state\" is idle, connected, unknown or a number 0 to 255");
  }
  return static_cast<std::uint8_t>(GetInt(port, "state", 0, 0, 255, where));
}

PortSettings ParsePort(const json& p, const std::string& where) {
  CheckKeys(p,
            {"mode", "tcp", "udp", "dataPort", "destIp", "destPort", "baudCode", "dataBitsCode", "parityCode",
             "flowCode", "stopBitsCode", "state", "txTimerMs", "rs485", "echo", "sideChannel"},
            where);
  PortSettings s;
  const std::string mode = Get<std::string>(p, "mode", "server", where);
  if (mode != "server" && mode != "client") throw ConfigError(where + ": \"mode\" is server or client");
  s.client = mode == "client";
  s.tcp = Get<bool>(p, "tcp", true, where);
  s.udp = Get<bool>(p, "udp", false, where);
  s.dataPort = static_cast<std::uint16_t>(GetInt(p, "dataPort", 4001, 0, 65535, where));
  s.destIp = GetIp(p, "destIp", where);
  s.destPort = static_cast<std::uint16_t>(GetInt(p, "destPort", 0, 0, 65535, where));
  s.lineA = EncodeLineFormatA(static_cast<int>(GetInt(p, "baudCode", 1, 0, 31, where)),
                              static_cast<int>(GetInt(p, "dataBitsCode", 3, 0, 7, where)));
  s.lineB = EncodeLineFormatB(static_cast<int>(GetInt(p, "parityCode", 2, 0, 7, where)),
                              static_cast<int>(GetInt(p, "flowCode", 2, 0, 7, where)),
                              static_cast<int>(GetInt(p, "stopBitsCode", 0, 0, 3, where)));
  s.state = ParseState(p, where);
  s.txTimerMs = static_cast<std::uint16_t>(GetInt(p, "txTimerMs", 0, 0, 65535, where));
  s.rs485 = Get<bool>(p, "rs485", false, where);
  return s;
}

// A list of whole numbers from `low` to `high`, `what` naming them in the message.
std::set<int> GetNumberSet(const json& object, const char* key, long low, long high, const char* what,
                           const std::string& where) {
  std::set<int> numbers;
  if (!object.contains(key)) return numbers;
  const json& list = object.at(key);
  const std::string range = std::string(what) + " " + std::to_string(low) + " to " + std::to_string(high);
  if (!list.is_array()) throw ConfigError(where + ": \"" + key + "\" is a list of " + what);
  for (const json& v : list) {
    if (!v.is_number_integer() || v.get<long>() < low || v.get<long>() > high)
      throw ConfigError(where + ": \"" + key + "\" holds " + range);
    numbers.insert(v.get<int>());
  }
  return numbers;
}

Faults ParseFaults(const json& f, const std::string& where) {
  CheckKeys(f,
            {"noAnswer", "wrongMagic", "oversizeReply", "replyDelayMs", "duplicateReplies", "dropDataBlocks",
             "duplicateAckBlocks", "lossPercent", "reorderPercent", "faultSeed", "ignoreSet", "ignoreUpgrade",
             "dropReplies"},
            where);
  Faults faults;
  faults.noAnswer = Get<bool>(f, "noAnswer", false, where);
  faults.wrongMagic = Get<bool>(f, "wrongMagic", false, where);
  faults.oversizeReply = static_cast<int>(GetInt(f, "oversizeReply", 0, 0, 65000, where));
  faults.replyDelayMs = static_cast<int>(GetInt(f, "replyDelayMs", 0, 0, 600000, where));
  faults.duplicateReplies = static_cast<int>(GetInt(f, "duplicateReplies", 0, 0, 100, where));
  faults.dropDataBlocks = GetNumberSet(f, "dropDataBlocks", 1, 65535, "block numbers", where);
  faults.duplicateAckBlocks = GetNumberSet(f, "duplicateAckBlocks", 1, 65535, "block numbers", where);
  faults.lossPercent = static_cast<int>(GetInt(f, "lossPercent", 0, 0, 50, where));
  faults.reorderPercent = static_cast<int>(GetInt(f, "reorderPercent", 0, 0, 50, where));
  faults.faultSeed = static_cast<int>(GetInt(f, "faultSeed", 1, 0, 2147483647, where));
  faults.ignoreSet = Get<bool>(f, "ignoreSet", false, where);
  faults.ignoreUpgrade = Get<bool>(f, "ignoreUpgrade", false, where);
  faults.dropReplies = GetNumberSet(f, "dropReplies", 0, 255, "reply codes", where);
  return faults;
}

DeviceTimings ParseTimings(const json& t, const std::string& where) {
  CheckKeys(t, {"restartMs", "bootLoaderDelayMs", "bootpRetryMs", "bootpTries", "tftpTimeoutMs", "tftpTries"},
            where);
  DeviceTimings d;
  d.restartMs = static_cast<int>(GetInt(t, "restartMs", d.restartMs, 0, 600000, where));
  d.bootLoaderDelayMs =
      static_cast<int>(GetInt(t, "bootLoaderDelayMs", d.bootLoaderDelayMs, 0, 600000, where));
  d.bootpRetryMs = static_cast<int>(GetInt(t, "bootpRetryMs", d.bootpRetryMs, 1, 600000, where));
  d.bootpTries = static_cast<int>(GetInt(t, "bootpTries", d.bootpTries, 1, 1000, where));
  d.tftpTimeoutMs = static_cast<int>(GetInt(t, "tftpTimeoutMs", d.tftpTimeoutMs, 1, 600000, where));
  d.tftpTries = static_cast<int>(GetInt(t, "tftpTries", d.tftpTries, 1, 1000, where));
  return d;
}

DeviceConfig ParseDevice(const json& d, const std::string& where) {
  CheckKeys(d,
            {"name", "mac", "address", "dhcp", "staticIp", "netmask", "gateway", "dns", "timeoutMinutes",
             "autoConnect", "broadcastManagement", "multicastManagement", "firmwareVersion",
             "startInBootLoader", "logSetRequests", "ports", "timings", "faults"},
            where);
  DeviceConfig c;
  DeviceRecord& r = c.record;
  r.name = Get<std::string>(d, "name", "", where);
  if (r.name.size() > kNameSize) throw ConfigError(where + ": \"name\" has more than 16 characters");
  if (!d.contains("mac") || !ParseMacText(Get<std::string>(d, "mac", "", where), r.mac))
    throw ConfigError(where + ": \"mac\" must be given as 02-00-5E-01-A2-0F");
  c.address = Get<std::string>(d, "address", "", where);
  in_addr a{};
  if (inet_pton(AF_INET, c.address.c_str(), &a) != 1)
    throw ConfigError(where + ": \"address\" must be given as a dotted IPv4 address");
  r.dynamicIp = ntohl(a.s_addr);
  r.dhcp = Get<bool>(d, "dhcp", false, where);
  r.staticIp = d.contains("staticIp") ? GetIp(d, "staticIp", where) : r.dynamicIp;
  r.netmask = d.contains("netmask") ? GetIp(d, "netmask", where) : 0xFFFFFF00u;
  r.gateway = GetIp(d, "gateway", where);
  r.dns = GetIp(d, "dns", where);
  r.timeoutMinutes = static_cast<std::uint8_t>(GetInt(d, "timeoutMinutes", 0, 0, 255, where));
  r.flags = Get<bool>(d, "autoConnect", false, where) ? kFlagAutoConnect : 0;
  r.broadcastMgmt = Get<bool>(d, "broadcastManagement", true, where);
  r.multicastMgmt = Get<bool>(d, "multicastManagement", true, where);
  c.firmwareVersion = Get<std::string>(d, "firmwareVersion", "1.0", where);
  c.startInBootLoader = Get<bool>(d, "startInBootLoader", false, where);
  c.logSetRequests = Get<bool>(d, "logSetRequests", false, where);
  const json ports = d.contains("ports") ? d.at("ports") : json::array({json::object()});
  if (!ports.is_array() || ports.empty() || ports.size() > 2)
    throw ConfigError(where + ": \"ports\" lists 1 or 2 ports");
  r.portCount = static_cast<int>(ports.size());
  for (std::size_t i = 0; i < ports.size(); ++i) {
    const std::string here = where + ", port " + std::to_string(i + 1);
    r.ports[i] = ParsePort(ports[i], here);
    c.serialLines[i].echo = Get<bool>(ports[i], "echo", true, here);
    c.serialLines[i].sideChannel = Get<std::string>(ports[i], "sideChannel", "", here);
  }
  if (d.contains("timings")) c.timings = ParseTimings(d.at("timings"), where + ", timings");
  if (d.contains("faults")) c.faults = ParseFaults(d.at("faults"), where + ", faults");
  return c;
}

// ---- a generated site -------------------------------------------------------

constexpr long kMaxSiteDevices = 256;

std::uint64_t MacNumber(const MacAddress& mac) {
  std::uint64_t n = 0;
  for (const auto b : mac) n = n << 8 | b;
  return n;
}

MacAddress MacOfNumber(std::uint64_t n) {
  MacAddress mac{};
  for (int i = static_cast<int>(mac.size()) - 1; i >= 0; --i, n >>= 8)
    mac[static_cast<std::size_t>(i)] = static_cast<std::uint8_t>(n & 0xFF);
  return mac;
}

std::string DottedOf(std::uint32_t address) {
  in_addr a{};
  a.s_addr = htonl(address);
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &a, text, sizeof text);
  return text;
}

// "faults": [{"devices": [1, 5], "faults": {...}}, ...]: the faults of the
// devices with these numbers (counted from 1); a later entry for the same
// device replaces an earlier one.
std::vector<std::pair<std::set<int>, Faults>> ParseSiteFaults(const json& site, int count,
                                                              const std::string& where) {
  std::vector<std::pair<std::set<int>, Faults>> out;
  if (!site.contains("faults")) return out;
  const json& list = site.at("faults");
  if (!list.is_array()) throw ConfigError(where + ": \"faults\" is a list of {\"devices\", \"faults\"}");
  for (std::size_t i = 0; i < list.size(); ++i) {
    const std::string here = where + ", faults " + std::to_string(i + 1);
    CheckKeys(list[i], {"devices", "faults"}, here);
    std::set<int> numbers = GetNumberSet(list[i], "devices", 1, count, "device numbers", here);
    if (numbers.empty()) throw ConfigError(here + ": \"devices\" names no device");
    if (!list[i].contains("faults")) throw ConfigError(here + ": \"faults\" is missing");
    out.emplace_back(std::move(numbers), ParseFaults(list[i].at("faults"), here));
  }
  return out;
}

// The devices of "site": `count` devices whose MACs and addresses count up
// from the first ones (an address that is its subnet's network or broadcast
// address is skipped), each with data ports of its own.
std::vector<DeviceConfig> ParseSite(const json& site) {
  const std::string where = "site";
  CheckKeys(site,
            {"count", "firstMac", "firstAddress", "netmask", "namePrefix", "twoPortEvery", "firstDataPort",
             "timings", "faults"},
            where);
  if (!site.contains("count")) throw ConfigError(where + ": \"count\" is required (1 to 256)");
  const int count = static_cast<int>(GetInt(site, "count", 0, 1, kMaxSiteDevices, where));
  MacAddress firstMac{};
  if (!site.contains("firstMac") || !ParseMacText(Get<std::string>(site, "firstMac", "", where), firstMac))
    throw ConfigError(where + ": \"firstMac\" must be given as 02-00-5E-01-A2-0F");
  if (!site.contains("firstAddress")) throw ConfigError(where + ": \"firstAddress\" is required");
  const std::uint32_t firstAddress = GetIp(site, "firstAddress", where);
  const std::uint32_t netmask = site.contains("netmask") ? GetIp(site, "netmask", where) : 0xFFFFFF00u;
  const std::string prefix = Get<std::string>(site, "namePrefix", "site-", where);
  const int twoPortEvery = static_cast<int>(GetInt(site, "twoPortEvery", 0, 0, kMaxSiteDevices, where));
  const long firstDataPort = GetInt(site, "firstDataPort", 4001, 1, 65535, where);
  if (firstDataPort + 2L * count - 1 > 65535)
    throw ConfigError(where + ": \"firstDataPort\" leaves too few ports for " + std::to_string(count) +
                      " devices");
  if (MacNumber(firstMac) + static_cast<std::uint64_t>(count) - 1 > 0xFFFFFFFFFFFFull)
    throw ConfigError(where + ": \"firstMac\" leaves too few MAC addresses");
  if (prefix.size() + std::to_string(count).size() > kNameSize)
    throw ConfigError(where + ": \"namePrefix\" makes names of more than 16 characters");
  DeviceTimings timings;
  if (site.contains("timings")) timings = ParseTimings(site.at("timings"), where + ", timings");
  const auto faults = ParseSiteFaults(site, count, where);

  std::vector<DeviceConfig> devices;
  std::uint64_t address = firstAddress;
  for (int n = 1; n <= count; ++n, ++address) {
    const auto hostPart = [&](std::uint64_t a) { return static_cast<std::uint32_t>(a) & ~netmask; };
    // A subnet of one or two addresses has no network or broadcast address to skip.
    if (netmask < 0xFFFFFFFEu)
      while (address <= 0xFFFFFFFFull && (hostPart(address) == 0 || hostPart(address) == ~netmask)) ++address;
    if (address > 0xFFFFFFFFull) throw ConfigError(where + ": \"firstAddress\" leaves too few addresses");
    DeviceConfig c;
    DeviceRecord& r = c.record;
    r.name = prefix + std::to_string(n);
    r.mac = MacOfNumber(MacNumber(firstMac) + static_cast<std::uint64_t>(n - 1));
    c.address = DottedOf(static_cast<std::uint32_t>(address));
    r.dynamicIp = r.staticIp = static_cast<std::uint32_t>(address);
    r.netmask = netmask;
    r.broadcastMgmt = r.multicastMgmt = true;
    r.portCount = twoPortEvery > 0 && n % twoPortEvery == 0 ? 2 : 1;
    for (int p = 0; p < r.portCount; ++p)
      r.ports[static_cast<std::size_t>(p)] =
          ParsePort(json{{"dataPort", firstDataPort + 2L * (n - 1) + p}}, where);
    c.timings = timings;
    for (const auto& [numbers, f] : faults)
      if (numbers.count(n)) c.faults = f;
    devices.push_back(std::move(c));
  }
  return devices;
}

}  // namespace

bool ParseConfig(const std::string& text, SimulatorConfig& config, std::string& error) {
  try {
    const json root = json::parse(text);
    CheckKeys(root, {"multicastGroup", "devices", "site"}, "configuration");
    SimulatorConfig parsed;
    parsed.multicastGroup = Get<std::string>(root, "multicastGroup", parsed.multicastGroup, "configuration");
    const bool site = root.contains("site");
    if (root.contains("devices") && !root.at("devices").is_array())
      throw ConfigError("configuration: \"devices\" must be a list");
    if (!site && (!root.contains("devices") || root.at("devices").empty()))
      throw ConfigError("configuration: \"devices\" must list at least one device");
    const json devices = root.contains("devices") ? root.at("devices") : json::array();
    for (std::size_t i = 0; i < devices.size(); ++i)
      parsed.devices.push_back(ParseDevice(devices[i], "device " + std::to_string(i + 1)));
    // Two ports on one side channel would take each other's socket file.
    std::set<std::string> channels;
    for (const auto& d : parsed.devices)
      for (const auto& line : d.serialLines)
        if (!line.sideChannel.empty() && !channels.insert(line.sideChannel).second)
          throw ConfigError("configuration: side channel \"" + line.sideChannel + "\" is named twice");
    if (site) {
      // A generated device never shares a MAC or an address with a listed one.
      std::set<MacAddress> macs;
      std::set<std::string> addresses;
      for (const auto& d : parsed.devices) {
        macs.insert(d.record.mac);
        addresses.insert(d.address);
      }
      for (auto& d : ParseSite(root.at("site"))) {
        if (macs.count(d.record.mac) || addresses.count(d.address))
          throw ConfigError("site: device " + d.record.name + " (" + MacText(d.record.mac) + ", " +
                            d.address + ") clashes with a listed device");
        parsed.devices.push_back(std::move(d));
      }
    }
    config = std::move(parsed);
    return true;
  } catch (const json::parse_error& e) {
    error = std::string("not valid JSON: ") + e.what();
  } catch (const ConfigError& e) {
    error = e.what();
  } catch (const json::exception& e) {
    error = e.what();
  }
  return false;
}

bool LoadConfigFile(const std::string& path, SimulatorConfig& config, std::string& error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    error = "cannot open " + path;
    return false;
  }
  std::ostringstream text;
  text << in.rdbuf();
  if (!ParseConfig(text.str(), config, error)) {
    error = path + ": " + error;
    return false;
  }
  return true;
}

const char* ConfigHelp() {
  return R"(Configuration file (JSON):
  {
    "multicastGroup": "225.1.2.3",                 optional
    "devices": [ {
      "name": "dev-a",                             at most 16 characters
      "mac": "02-00-5E-01-A2-0F",                  required
      "address": "198.51.100.10",                  required; the device answers from it
      "dhcp": false, "staticIp": "...", "netmask": "255.255.255.0",
      "gateway": "0.0.0.0", "dns": "0.0.0.0", "timeoutMinutes": 0,
      "autoConnect": false, "broadcastManagement": true, "multicastManagement": true,
      "firmwareVersion": "1.0", "startInBootLoader": false,
      "logSetRequests": false,                     logs each set request taken, in hex
      "ports": [ {                                 one or two ports
        "mode": "server" | "client", "tcp": true, "udp": false,
        "dataPort": 4001, "destIp": "0.0.0.0", "destPort": 0,
        "baudCode": 1, "dataBitsCode": 3, "parityCode": 2, "flowCode": 2, "stopBitsCode": 0,
        "state": "idle" | "connected" | "unknown" | 0..255,
        "txTimerMs": 0, "rs485": false,
        "echo": true,                              a server-mode port listens on its data
                                                   port (TCP and/or UDP) and sends back
                                                   what it receives; false: only the
        "sideChannel": "/tmp/dev-a-1.sock" } ],    side channel answers: a unix socket
                                                   where a client writes what the serial
                                                   device sends and reads what it got
      "timings": { "restartMs": 3000, "bootLoaderDelayMs": 500, "bootpRetryMs": 2000,
                   "bootpTries": 5, "tftpTimeoutMs": 2000, "tftpTries": 5 },
      "faults": { "noAnswer": false, "wrongMagic": false, "oversizeReply": 0,
                  "replyDelayMs": 0, "duplicateReplies": 0,
                  "dropDataBlocks": [], "duplicateAckBlocks": [],
                  "lossPercent": 0, "reorderPercent": 0, "faultSeed": 1,
                  "ignoreSet": false, "ignoreUpgrade": false, "dropReplies": [] }
    } ]
  }
Instead of (or after) "devices", "site" generates a site of devices:
  "site": {
    "count": 240,                                  1 to 256 devices, named <namePrefix>1 ...
    "firstMac": "02-00-5E-10-00-01",               required; each next device one more
    "firstAddress": "198.51.100.10",               required; each next device one more,
    "netmask": "255.255.255.0",                    skipping its subnet's network and
                                                   broadcast addresses
    "namePrefix": "site-", "twoPortEvery": 0,      every Nth device two ports (0: none)
    "firstDataPort": 4001,                         device N: 4001 + 2(N-1), and + 1
    "timings": { ... },                            as above, for every device
    "faults": [ { "devices": [3, 17], "faults": { ... } } ]
  }                                                faults as above for the devices numbered
                                                   (from 1); a later entry for a device
                                                   replaces an earlier one
Generated devices follow the listed ones and share no MAC or address with them.

An image served to the boot loader may carry "VERSION=<text>"; the device then
reports <text> as its firmware version.
)";
}

}  // namespace devsim
