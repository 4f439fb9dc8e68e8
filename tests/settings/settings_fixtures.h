// Device records and setting values shared by the settings tests.
#pragma once

#include <ostream>

#include "corvane/protocol/packet.h"
#include "corvane/settings/setting_items.h"

namespace settings_fixtures {

using namespace corvane;

// A two-port device whose ports differ in every port-specific field.
inline protocol::DeviceRecord TwoPortRecord() {
  protocol::DeviceRecord r;
  r.code = protocol::kReplySearch;
  r.flags = protocol::kFlagAutoConnect;
  r.name = "LINE-7";
  r.mac = {0x02, 0x00, 0x5E, 0x01, 0xA2, 0x10};
  r.dhcp = true;
  r.broadcastMgmt = true;
  r.multicastMgmt = true;
  r.timeoutMinutes = 3;
  r.dynamicIp = 0x0A010203;
  r.staticIp = 0x0A01021E;
  r.netmask = 0xFFFF0000;
  r.gateway = 0x0A010001;
  r.portCount = 2;
  r.ports[0] = {
      false, false, true, 4001, 0, 0, protocol::EncodeLineFormatA(5, 3), protocol::EncodeLineFormatB(2, 2, 0),
      0,     0,     false};
  r.ports[1] = {true,
                true,
                false,
                4002,
                0x0A010263,
                5001,
                protocol::EncodeLineFormatA(8, 2),
                protocol::EncodeLineFormatB(1, 1, 1),
                0,
                250,
                true};
  return r;
}

// The values of golden/one_port.log: the one-port device "AB".
inline settings::DeviceSettings OnePortSettings() {
  settings::DeviceSettings s;
  s.items = {"AB",
             "02-00-5E-01-A2-0F",
             "1",
             "0",
             "192.168.0.77",
             "192.168.0.50",
             "4001",
             "",
             "",
             "192.168.0.9",
             "4002",
             "1",
             "0",
             "0",
             "1",
             "0",
             "255.255.255.0",
             "192.168.0.1",
             "192.168.0.2",
             "5",
             "100",
             "1",
             "3",
             "2",
             "0",
             "2",
             "0"};
  return s;
}

}  // namespace settings_fixtures

namespace corvane::settings {
// Readable failure output: every item and store text.
inline void PrintTo(const DeviceSettings& s, std::ostream* os) {
  for (std::size_t i = 0; i < s.items.size(); ++i) *os << "\n  item " << i << " \"" << s.items[i] << "\"";
  for (int port : {1, 2}) {
    *os << "\n  store " << port << ":";
    for (const std::string& t : s.store.ForPort(port)) *os << " \"" << t << "\"";
  }
}
}  // namespace corvane::settings
