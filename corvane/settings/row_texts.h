// The texts of one row of the device list, made from a device's record: the
// main window's list and corvanectl's search both show these.
#pragma once

#include <string>

#include "corvane/protocol/packet.h"

namespace corvane::settings {

struct PortRowTexts {
  std::string number, name, mac, dhcp, ip, port, mode, status;
  int portValue = 0;  // the number `port` shows
};

// Row `number` (1-based) for serial port 1 or 2 of a record received with
// `length` bytes: every byte at or past the length reads as the fill byte. An
// unnamed device is called "CVN" and its row number when `defaultName` is set.
PortRowTexts MakePortRow(protocol::ByteView record, int length, int port, int number, bool defaultName);

}  // namespace corvane::settings
