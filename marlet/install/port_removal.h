// Removal of a virtual port by the device console tool.
#pragma once

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

// Looks up the port's device instance and runs "devcon remove <instance>"
// hidden, waiting for it to end.
RemovalResult RemoveVirtualPort(PortDriverChannel& channel, int portId);

}  // namespace marlet
