// What the port manager needs of the platform's device-installation functions:
// reading the installation file, and a device information list holding the one
// device being created. The win32 side implements it with SetupAPI; tests use a
// simulated installer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "marlet/driver/driver_platform.h"

namespace marlet {

struct ClassGuid {
  std::array<std::uint8_t, 16> bytes{};
  bool IsZero() const {
    for (std::uint8_t b : bytes) {
      if (b != 0) return false;
    }
    return true;
  }
  bool operator==(const ClassGuid&) const = default;
};

// The platform's position in an installation file: file, section and line.
struct InfLine {
  std::uintptr_t context[4] = {};
};

// Class installer requests.
enum class InstallFunction : std::uint32_t {
  kInstallDevice = 0x02,        // DIF_INSTALLDEVICE
  kRemove = 0x05,               // DIF_REMOVE
  kSelectBestCompatDrv = 0x17,  // DIF_SELECTBESTCOMPATDRV
  kRegisterDevice = 0x19,       // DIF_REGISTERDEVICE
};

// The device install parameters this program changes.
struct InstallParams {
  std::uint32_t flags = 0;
  std::uint32_t flagsEx = 0;
};
constexpr std::uint32_t kDiQuietInstall = 0x00800000;
constexpr std::uint32_t kDiNoFileCopy = 0x01000000;
constexpr std::uint32_t kDiFlagsExAllowExcludedDrvs = 0x00000800;

// The selected driver, as far as this program reads it.
struct DriverInfo {
  std::string description;
};

class DeviceInstallPlatform {
 public:
  virtual ~DeviceInstallPlatform() = default;

  // Installation file (the name is passed unchanged, Windows 4 style).
  virtual PlatformHandle OpenInfFile(const std::string& name) = 0;
  // The file's class: its GUID (all zero when the file gives none) and name.
  virtual bool GetInfClass(const std::string& name, ClassGuid& guid, std::string& className) = 0;
  // The first class GUID registered under `className`.
  virtual bool ClassGuidFromName(const std::string& className, ClassGuid& guid) = 0;
  virtual bool FindFirstLine(PlatformHandle inf, const std::string& section, InfLine& line) = 0;
  virtual bool FindNextLine(const InfLine& line, InfLine& next) = 0;
  // Fields of a line: 0 is the key, 1.. the values.
  virtual int GetFieldCount(const InfLine& line) = 0;
  virtual bool GetStringField(const InfLine& line, int index, std::string& value) = 0;
  virtual void CloseInfFile(PlatformHandle inf) = 0;
  // The processor architecture of the Windows that runs (not of this 32-bit
  // program: on 64-bit Windows it is "amd64"), as installation files decorate
  // their models sections with it: "x86", "amd64", "arm64".
  virtual std::string NativeArchitecture() = 0;

  // A device information list for one class and the one device created in it.
  virtual PlatformHandle CreateDeviceInfoList(const ClassGuid& classGuid) = 0;
  // A new root device named `name` of the class, numbered by the platform.
  virtual bool CreateDeviceInfo(PlatformHandle list, const std::string& name, const ClassGuid& classGuid) = 0;
  // The hardware ID property as a multi-string of `size` bytes.
  virtual bool SetHardwareIdProperty(PlatformHandle list, const std::uint8_t* data, std::uint32_t size) = 0;
  virtual bool CallClassInstaller(PlatformHandle list, InstallFunction function) = 0;
  virtual bool GetInstallParams(PlatformHandle list, InstallParams& params) = 0;
  virtual bool SetInstallParams(PlatformHandle list, const InstallParams& params) = 0;
  // The compatible drivers from the installation files the platform knows.
  virtual bool BuildCompatDriverList(PlatformHandle list) = 0;
  virtual bool GetSelectedDriver(PlatformHandle list, DriverInfo& info) = 0;
  virtual void DestroyDeviceInfoList(PlatformHandle list) = 0;

  virtual std::uint32_t LastError() const = 0;
};

}  // namespace marlet
