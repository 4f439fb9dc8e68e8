// A simulated device installer behind DeviceInstallPlatform. It reads real
// installation-file text (sections, the Version class lines, the Manufacturer
// line, model lines with hardware IDs, %strings%), keeps a registry of known
// classes and of the hardware IDs the platform has drivers for, and can fail
// any step with a chosen error. An installed device of the Ports class becomes
// a virtual port of the simulated driver; a device registered but never
// installed stays counted until it is removed.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "marlet/install/install_platform.h"
#include "marlet/sim/simulated_driver.h"

namespace marlet::sim {

constexpr std::uint32_t ERROR_FILE_NOT_FOUND = 2;
constexpr std::uint32_t ERROR_LINE_NOT_FOUND = 0xE0000102;
constexpr std::uint32_t ERROR_NO_SUCH_CLASS = 0xE0000206;  // ERROR_INVALID_CLASS
constexpr std::uint32_t ERROR_NO_COMPAT_DRIVERS = 0xE0000228;
constexpr std::uint32_t ERROR_NO_DRIVER_SELECTED = 0xE0000203;

// The steps that can be made to fail.
enum class InstallStep {
  kOpenInf,
  kGetInfClass,
  kClassGuidFromName,
  kCreateList,
  kCreateDevice,
  kSetHardwareId,
  kRegister,
  kGetParams,
  kSetParams,
  kBuildDriverList,
  kSelectBest,
  kGetSelectedDriver,
  kInstall,
};

ClassGuid ParseGuid(const std::string& text);  // all zero when it is not a GUID
extern const ClassGuid kPortsClassGuid;        // {4D36E978-E325-11CE-BFC1-08002BE10318}

class SimulatedInstaller : public DeviceInstallPlatform {
 public:
  explicit SimulatedInstaller(SimulatedDriver& driver);

  std::map<std::string, std::string> files;       // installation file texts by name
  std::map<std::string, ClassGuid> knownClasses;  // class name -> GUID (Ports preset)
  std::set<std::string> knownHardwareIds;         // IDs the platform has a driver for
  std::map<InstallStep, std::uint32_t> failures;  // step -> error
  std::string nativeArchitecture = "x86";         // the Windows the installer runs on
  // Records.
  std::vector<std::string> hardwareIdProperties;  // as written, NULs shown as '|'
  std::vector<InstallParams> writtenParams;
  std::vector<ClassGuid> listClassGuids;  // class of each list created
  int registeredDevices = 0;              // registered and not (yet) installed or removed
  int openFiles() const { return static_cast<int>(m_files.size()); }
  int openLists() const { return static_cast<int>(m_lists.size()); }

  PlatformHandle OpenInfFile(const std::string& name) override;
  bool GetInfClass(const std::string& name, ClassGuid& guid, std::string& className) override;
  bool ClassGuidFromName(const std::string& className, ClassGuid& guid) override;
  bool FindFirstLine(PlatformHandle inf, const std::string& section, InfLine& line) override;
  bool FindNextLine(const InfLine& line, InfLine& next) override;
  int GetFieldCount(const InfLine& line) override;
  bool GetStringField(const InfLine& line, int index, std::string& value) override;
  void CloseInfFile(PlatformHandle inf) override;
  std::string NativeArchitecture() override { return nativeArchitecture; }
  PlatformHandle CreateDeviceInfoList(const ClassGuid& classGuid) override;
  bool CreateDeviceInfo(PlatformHandle list, const std::string& name, const ClassGuid& classGuid) override;
  bool SetHardwareIdProperty(PlatformHandle list, const std::uint8_t* data, std::uint32_t size) override;
  bool CallClassInstaller(PlatformHandle list, InstallFunction function) override;
  bool GetInstallParams(PlatformHandle list, InstallParams& params) override;
  bool SetInstallParams(PlatformHandle list, const InstallParams& params) override;
  bool BuildCompatDriverList(PlatformHandle list) override;
  bool GetSelectedDriver(PlatformHandle list, DriverInfo& info) override;
  void DestroyDeviceInfoList(PlatformHandle list) override;
  std::uint32_t LastError() const override { return m_lastError; }

 private:
  struct Line {
    std::vector<std::string> fields;  // field 0 is the key (empty when none)
  };
  struct Section {
    std::string name;
    std::vector<Line> lines;
  };
  struct ParsedFile {
    std::vector<Section> sections;
  };
  struct DeviceList {
    ClassGuid guid;
    bool hasDevice = false;
    std::string className;
    std::string hardwareId;
    bool registered = false;
    bool driverListBuilt = false;
    bool driverSelected = false;
    InstallParams params;
  };

  static ParsedFile Parse(const std::string& text);
  const Line* LineAt(const InfLine& line) const;
  bool Failing(InstallStep step);
  bool Fail(std::uint32_t error) {
    m_lastError = error;
    return false;
  }
  DeviceList* ListOf(PlatformHandle list);

  SimulatedDriver& m_driver;
  std::map<ParsedFile*, std::unique_ptr<ParsedFile>> m_files;
  std::map<DeviceList*, std::unique_ptr<DeviceList>> m_lists;
  std::uint32_t m_lastError = 0;
};

}  // namespace marlet::sim
