// DeviceInfoSet: a device information list of the installation file's class
// and the one root device created in it. Releasing it removes a device that was
// registered but never installed, so a failed installation leaves no port.
#pragma once

#include <cstdint>
#include <string>

#include "marlet/install/inf_file.h"

namespace marlet {

class DeviceInfoSet {
 public:
  explicit DeviceInfoSet(DeviceInstallPlatform& platform) : m_platform(platform) {}
  ~DeviceInfoSet();
  DeviceInfoSet(const DeviceInfoSet&) = delete;
  DeviceInfoSet& operator=(const DeviceInfoSet&) = delete;

  // 0 or the platform error.
  std::uint32_t Create(const InfFile& inf);
  std::uint32_t CreateDevice(const std::string& hardwareId);
  // 0; the platform error of the registration; or 1 when a later step failed
  // after showing its own message.
  std::uint32_t RegisterAndInstall();

  bool Registered() const { return m_registered; }
  const InstallParams& Params() const { return m_installParams; }

 private:
  std::uint32_t FailAfterRegistration(const std::string& message);

  DeviceInstallPlatform& m_platform;
  PlatformHandle m_set = nullptr;
  const InfFile* m_inf = nullptr;
  bool m_registered = false;
  std::string m_hardwareId;
  InstallParams m_installParams;
  DriverInfo m_driverInfo;
};

// The whole Add: open "QN520xx.inf", find its first model, create, register
// and install the device. Every failure is shown to the user; the caller learns
// the outcome by counting the listed ports.
void InstallVirtualPort(DeviceInstallPlatform& platform, const std::string& infName);

}  // namespace marlet
