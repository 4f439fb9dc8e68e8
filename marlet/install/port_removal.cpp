#include "marlet/install/port_removal.h"

#include "tk/platform.h"

namespace marlet {

RemovalResult RemoveVirtualPort(PortDriverChannel& channel, int portId) {
  std::string instance;
  if (!channel.GetPortInstanceId(portId, instance)) return RemovalResult::kLookupFailed;
  // Success is the tool's own verdict, not the passing of a fixed wait.
  tk::ProcessOutcome outcome = tk::RunHiddenProcess("devcon remove " + instance, kRemovalToolTimeoutMs);
  if (outcome.state == tk::ProcessState::kNotStarted) return RemovalResult::kNotStarted;
  if (outcome.state == tk::ProcessState::kExited && outcome.exitCode == 0) return RemovalResult::kRemoved;
  return RemovalResult::kToolFailed;
}

}  // namespace marlet
