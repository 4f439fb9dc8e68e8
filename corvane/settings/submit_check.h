// The checks Submit runs on the setting items before it builds a set request.
// The setup sheet shows their messages; the command-line companion runs the
// same checks on a settings file before it sends anything.
#pragma once

#include <optional>
#include <string>

#include "corvane/settings/setting_items.h"

namespace corvane::settings {

// The data listening and destination ports Submit lets through.
constexpr long kLowestSubmitPort = 1024;
constexpr long kHighestSubmitPort = 65535;

// The port number the check compares: leading blanks skipped, digits up to the
// first non-digit, none gives 0. It saturates instead of wrapping, so a huge
// number can never pass as a small one.
long PortCheckNumber(const std::string& text);

enum class SubmitFault {
  DeviceName,   // the name holds a space
  PortNumber,   // a data listening or destination port outside 1024 to 65535
  Address,      // an address that would reach the device as another address
  StoredValue,  // a value of the other port (loaded from a file) outside its page's range
};

struct SubmitProblem {
  SubmitFault fault;
  int item;             // the setting item at fault
  int port;             // 0 for a device-wide item, else the serial port the value is for
  std::string message;  // the setup sheet's message
};

// The first problem Submit stops at, in its order: the device name, the data
// listening port and the destination port of the port shown by `rowKind`, then
// the values of the other port of a two-port device (from the store, which a
// loaded file fills) against the ranges its page would allow, then the
// addresses (FindBadAddress).
std::optional<SubmitProblem> CheckSubmit(const DeviceSettings& settings, int rowKind);

}  // namespace corvane::settings
