// The platform side of a virtual port, as the port manager drives it: adding a
// port from the installation file through SetupAPI (the manager's own sequence
// and flags), listing COM port interfaces, and the driver's control requests.
// Used by the driver's tests under Wine.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vport_test {

// Result of one step of the installation: 0 or the platform's error, and the
// step's name for the failure message.
struct SetupResult {
  DWORD error = 0;
  std::string step;
  bool ok() const { return error == 0; }
};

// Adds one port: opens `infName`, takes the first model's first hardware ID,
// creates a root device of the file's class and installs the driver on it. A
// failure after registration removes the half-made device again.
SetupResult InstallPort(const char* infName);

// Device paths of the present COM port interfaces, in enumeration order.
std::vector<std::string> ComPortInterfaces();

// "root\ports\0000" from "\\?\root#ports#0000#{...}"; empty if the path is not of that form.
std::string InstanceIdOf(const std::string& devicePath);

// Removes a device instance directly (test clean-up); true when it went.
bool RemoveInstance(const std::string& instanceId);

// The device's own registry key opened with `access`; null if it cannot be.
HKEY OpenDeviceKey(const std::string& instanceId, REGSAM access);

// A binary value of the device's own registry key; empty if it cannot be read.
std::vector<uint8_t> DeviceKeyValue(const std::string& instanceId, const char* name);

// One control request on an open handle; the error is GetLastError() on failure, 0 on success.
struct ControlResult {
  bool ok = false;
  DWORD error = 0;
  std::vector<uint8_t> output;  // the bytes the driver returned
};
ControlResult Control(HANDLE port, DWORD code, const std::vector<uint8_t>& input, DWORD outputSize);

// Opens a port the way the manager does: read/write, exclusive.
HANDLE OpenPort(const std::string& devicePath);

}  // namespace vport_test
