// Removal of a virtual port by the device console tool.
#pragma once

#include <string>

#include "marlet/driver/port_driver_channel.h"

namespace marlet {

// How long Remove waits for the tool before it counts as failed.
constexpr unsigned kRemovalToolTimeoutMs = 30000;

enum class RemovalResult {
  kRemoved,       // the tool ran and exited with 0
  kLookupFailed,  // the port's device instance could not be found
  kNotStarted,    // the tool could not be started
  kToolFailed,    // the tool failed or did not end in time
};

constexpr const char* kRemovalToolFile = "devcon.exe";

// The removal tool's full path: beside this program, where the installer puts
// it, or else in the system folder; empty when it is in neither. The current
// folder and the search path are never looked at.
std::string RemovalToolPath();

// Looks up the port's device instance and runs "<tool> remove <instance>"
// hidden, by the tool's full path, waiting for it to end.
RemovalResult RemoveVirtualPort(PortDriverChannel& channel, int portId);

}  // namespace marlet
