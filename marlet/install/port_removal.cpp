#include "marlet/install/port_removal.h"

#include "tk/platform.h"

namespace marlet {

std::string RemovalToolPath() {
  for (const std::string& folder : {tk::ProgramFolder(), tk::SystemFolder()}) {
    if (folder.empty()) continue;
    std::string path = folder + "\\" + kRemovalToolFile;
    if (tk::FileExists(path)) return path;
  }
  return {};
}

RemovalResult RemoveVirtualPort(PortDriverChannel& channel, int portId) {
  std::string instance;
  if (!channel.GetPortInstanceId(portId, instance)) return RemovalResult::kLookupFailed;
  // The program runs elevated: a bare name would let the platform's search,
  // which starts in the current folder, pick whatever lies there.
  const std::string tool = RemovalToolPath();
  if (tool.empty()) return RemovalResult::kNotStarted;
  // Success is the tool's own verdict, not the passing of a fixed wait.
  tk::ProcessOutcome outcome =
      tk::RunHiddenProcess("\"" + tool + "\" remove " + instance, kRemovalToolTimeoutMs);
  if (outcome.state == tk::ProcessState::kNotStarted) return RemovalResult::kNotStarted;
  if (outcome.state == tk::ProcessState::kExited && outcome.exitCode == 0) return RemovalResult::kRemoved;
  return RemovalResult::kToolFailed;
}

}  // namespace marlet
