// The simulator's JSON configuration: the devices and their faults.
#pragma once

#include <string>
#include <vector>

#include "devsim/device.h"

namespace devsim {

struct SimulatorConfig {
  std::string multicastGroup = corvane::protocol::kDefaultMulticastGroup;
  std::vector<DeviceConfig> devices;
};

// Parses the configuration text. On error returns false with a message naming
// the device and the key at fault; unknown keys are errors, so a typing
// mistake never passes silently.
bool ParseConfig(const std::string& text, SimulatorConfig& config, std::string& error);
bool LoadConfigFile(const std::string& path, SimulatorConfig& config, std::string& error);

// A short description of the file format, for --help.
const char* ConfigHelp();

}  // namespace devsim
