#include "marlet/install/device_info_set.h"

#include <vector>

#include "marlet/driver/port_driver_channel.h"
#include "tk/dialog.h"

namespace marlet {

DeviceInfoSet::~DeviceInfoSet() {
  if (m_set == nullptr) return;
  if (m_registered) m_platform.CallClassInstaller(m_set, InstallFunction::kRemove);
  m_platform.DestroyDeviceInfoList(m_set);
}

std::uint32_t DeviceInfoSet::Create(const InfFile& inf) {
  m_inf = &inf;
  m_set = m_platform.CreateDeviceInfoList(inf.Guid());
  return m_set == nullptr ? m_platform.LastError() : 0;
}

std::uint32_t DeviceInfoSet::CreateDevice(const std::string& hardwareId) {
  if (!m_platform.CreateDeviceInfo(m_set, m_inf->ClassName(), m_inf->Guid())) return m_platform.LastError();
  // A one-entry multi-string: the ID and two NULs.
  m_hardwareId = hardwareId;
  std::vector<std::uint8_t> property(hardwareId.size() + 2, 0);
  std::copy(hardwareId.begin(), hardwareId.end(), property.begin());
  if (!m_platform.SetHardwareIdProperty(m_set, property.data(),
                                        static_cast<std::uint32_t>(property.size()))) {
    return m_platform.LastError();
  }
  return 0;
}

std::uint32_t DeviceInfoSet::FailAfterRegistration(const std::string& message) {
  tk::AfxMessageBox(message);
  return 1;
}

std::uint32_t DeviceInfoSet::RegisterAndInstall() {
  if (!m_platform.CallClassInstaller(m_set, InstallFunction::kRegisterDevice)) return m_platform.LastError();
  m_registered = true;

  if (!m_platform.GetInstallParams(m_set, m_installParams)) {
    return FailAfterRegistration(FormatCode("%d", m_platform.LastError()));
  }
  m_installParams.flagsEx |= kDiFlagsExAllowExcludedDrvs;
  m_installParams.flags = kDiQuietInstall | kDiNoFileCopy;
  if (!m_platform.SetInstallParams(m_set, m_installParams)) {
    return FailAfterRegistration(FormatCode("SetupDiSetDeviceInstallParams : %d", m_platform.LastError()));
  }
  if (!m_platform.BuildCompatDriverList(m_set)) {
    return FailAfterRegistration(FormatCode("SetupDiBuildDriverInfoList : %d", m_platform.LastError()));
  }
  if (!m_platform.CallClassInstaller(m_set, InstallFunction::kSelectBestCompatDrv)) {
    return FailAfterRegistration(FormatCode("SetupDiCallClassInstaller 0 : %d", m_platform.LastError()));
  }
  m_driverInfo = {};
  if (!m_platform.GetSelectedDriver(m_set, m_driverInfo)) {
    return FailAfterRegistration(FormatCode("SetupDiGetSelectedDriver : %d", m_platform.LastError()));
  }
  if (!m_platform.CallClassInstaller(m_set, InstallFunction::kInstallDevice)) {
    return FailAfterRegistration(FormatCode("SetupDiCallClassInstaller : %d", m_platform.LastError()));
  }
  m_registered = false;
  return 0;
}

void InstallVirtualPort(DeviceInstallPlatform& platform, const std::string& infName) {
  InfFile inf(platform);
  std::uint32_t error = inf.Open(infName);
  if (error != 0) {
    tk::AfxMessageBox(FormatCode("SetupOpenInfFile error, %d\n", error));
    return;
  }
  ModelMatch match;
  error = inf.FindModel(match);
  if (error != 0) {
    tk::AfxMessageBox(FormatCode("search for specified device error, %d\n", error));
    return;
  }
  // Declared after the file, so it is released first.
  DeviceInfoSet devices(platform);
  error = devices.Create(inf);
  if (error != 0) {
    tk::AfxMessageBox(FormatCode("SetupDiCreateDeviceInfoList error, %d\n", error));
    return;
  }
  error = devices.CreateDevice(match.hardwareId);
  if (error != 0) {
    tk::AfxMessageBox(
        FormatCode("SetupDiCreateDeviceInfo or SetupDiSetDeviceRegistryProperty error, %d\n", error));
    return;
  }
  error = devices.RegisterAndInstall();
  if (error != 0)
    tk::AfxMessageBox(FormatCode("SetupDiCallClassInstaller(DIF_REGISTERDEVICE) error, %d\n", error));
}

}  // namespace marlet
