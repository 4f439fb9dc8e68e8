#include "port_setup.h"

#include <setupapi.h>

#include <cstring>

namespace vport_test {
namespace {

// {86E0D1E0-8089-11D0-9CE4-08003E301F73}
const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

// The record sizes the manager passes; the driver's tests must see what it sees.
static_assert(sizeof(SP_DEVINFO_DATA) == 28);
static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28);
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296);
// The selected driver is read with the size of the record's first version.
static_assert(sizeof(SP_DRVINFO_DATA_V1_A) == 780);

SetupResult Fail(const char* step) {
  return SetupResult{GetLastError(), step};
}

// First hardware ID of the first model line of the first manufacturer, in
// its models section for 32-bit Windows (decorated, or else undecorated).
SetupResult FirstHardwareId(HINF inf, std::string& hardwareId) {
  INFCONTEXT line;
  char models[256] = {};
  if (!SetupFindFirstLineA(inf, "Manufacturer", nullptr, &line)) return Fail("find Manufacturer");
  if (!SetupGetStringFieldA(&line, 1, models, sizeof models, nullptr)) return Fail("read models section");
  const std::string decorated = std::string(models) + ".NTx86";
  if (!SetupFindFirstLineA(inf, decorated.c_str(), nullptr, &line) &&
      !SetupFindFirstLineA(inf, models, nullptr, &line))
    return Fail("find models section");
  char id[256] = {};
  if (SetupGetFieldCount(&line) >= 2 && !SetupGetStringFieldA(&line, 2, id, sizeof id, nullptr))
    return Fail("read hardware ID");
  hardwareId = id;
  return {};
}

SetupResult RegisterAndInstall(HDEVINFO set, SP_DEVINFO_DATA& device) {
  if (!SetupDiCallClassInstaller(DIF_REGISTERDEVICE, set, &device)) return Fail("DIF_REGISTERDEVICE");
  SetupResult result;
  SP_DEVINSTALL_PARAMS_A params{};
  params.cbSize = sizeof params;
  SP_DRVINFO_DATA_V2_A driver{};
  driver.cbSize = sizeof(SP_DRVINFO_DATA_V1_A);
  if (!SetupDiGetDeviceInstallParamsA(set, &device, &params)) {
    result = Fail("get install params");
  } else {
    params.FlagsEx |= DI_FLAGSEX_ALLOWEXCLUDEDDRVS;
    params.Flags = DI_QUIETINSTALL | DI_NOFILECOPY;
    if (!SetupDiSetDeviceInstallParamsA(set, &device, &params))
      result = Fail("set install params");
    else if (!SetupDiBuildDriverInfoList(set, &device, SPDIT_COMPATDRIVER))
      result = Fail("build driver list");
    else if (!SetupDiCallClassInstaller(DIF_SELECTBESTCOMPATDRV, set, &device))
      result = Fail("DIF_SELECTBESTCOMPATDRV");
    else if (!SetupDiGetSelectedDriverA(set, &device, reinterpret_cast<SP_DRVINFO_DATA_A*>(&driver)))
      result = Fail("get selected driver");
    else if (!SetupDiCallClassInstaller(DIF_INSTALLDEVICE, set, &device))
      result = Fail("DIF_INSTALLDEVICE");
  }
  // A registered device that did not install would stay behind as a dead port.
  if (!result.ok()) SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  return result;
}

}  // namespace

SetupResult InstallPort(const char* infName) {
  HINF inf = SetupOpenInfFileA(infName, nullptr, INF_STYLE_WIN4, nullptr);
  if (inf == INVALID_HANDLE_VALUE) return Fail("SetupOpenInfFile");
  GUID classGuid{};
  char className[64] = {};
  SetupResult result;
  std::string hardwareId;
  if (!SetupDiGetINFClassA(infName, &classGuid, className, sizeof className, nullptr)) {
    result = Fail("SetupDiGetINFClass");
  } else {
    result = FirstHardwareId(inf, hardwareId);
  }
  if (result.ok()) {
    HDEVINFO set = SetupDiCreateDeviceInfoList(&classGuid, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
      result = Fail("SetupDiCreateDeviceInfoList");
    } else {
      SP_DEVINFO_DATA device{};
      device.cbSize = sizeof device;
      std::vector<BYTE> ids(hardwareId.size() + 2, 0);  // one-entry multi-string
      std::memcpy(ids.data(), hardwareId.data(), hardwareId.size());
      if (!SetupDiCreateDeviceInfoA(set, className, &classGuid, nullptr, nullptr, DICD_GENERATE_ID,
                                    &device) ||
          !SetupDiSetDeviceRegistryPropertyA(set, &device, SPDRP_HARDWAREID, ids.data(), ids.size())) {
        result = Fail("create device");
      } else {
        result = RegisterAndInstall(set, device);
      }
      SetupDiDestroyDeviceInfoList(set);
    }
  }
  SetupCloseInfFile(inf);
  return result;
}

std::vector<std::string> ComPortInterfaces() {
  std::vector<std::string> paths;
  HDEVINFO set =
      SetupDiGetClassDevsA(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
  if (set == INVALID_HANDLE_VALUE) return paths;
  SP_DEVICE_INTERFACE_DATA item{};
  item.cbSize = sizeof item;
  for (DWORD i = 0; SetupDiEnumDeviceInterfaces(set, nullptr, &kComPortInterface, i, &item); ++i) {
    alignas(SP_DEVICE_INTERFACE_DETAIL_DATA_A) char buffer[4096] = {};
    auto* detail = reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer);
    detail->cbSize = sizeof(SP_DEVICE_INTERFACE_DETAIL_DATA_A);
    if (SetupDiGetDeviceInterfaceDetailA(set, &item, detail, sizeof buffer, nullptr, nullptr))
      paths.push_back(detail->DevicePath);
  }
  SetupDiDestroyDeviceInfoList(set);
  return paths;
}

std::string InstanceIdOf(const std::string& devicePath) {
  // \\?\ then root#ports#NNNN then #{guid}
  if (devicePath.size() < 20 || devicePath.compare(0, 4, "\\\\?\\") != 0) return {};
  std::string id = devicePath.substr(4, 15);
  for (char& c : id) {
    if (c == '#') c = '\\';
  }
  return id;
}

bool RemoveInstance(const std::string& instanceId) {
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return false;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  bool removed = SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device) &&
                 SetupDiCallClassInstaller(DIF_REMOVE, set, &device);
  SetupDiDestroyDeviceInfoList(set);
  return removed;
}

HKEY OpenDeviceKey(const std::string& instanceId, REGSAM access) {
  HKEY key = nullptr;
  HDEVINFO set = SetupDiCreateDeviceInfoList(nullptr, nullptr);
  if (set == INVALID_HANDLE_VALUE) return key;
  SP_DEVINFO_DATA device{};
  device.cbSize = sizeof device;
  if (SetupDiOpenDeviceInfoA(set, instanceId.c_str(), nullptr, 0, &device)) {
    HKEY opened = SetupDiOpenDevRegKey(set, &device, DICS_FLAG_GLOBAL, 0, DIREG_DEV, access);
    if (opened != INVALID_HANDLE_VALUE) key = opened;
  }
  SetupDiDestroyDeviceInfoList(set);
  return key;
}

std::vector<uint8_t> DeviceKeyValue(const std::string& instanceId, const char* name) {
  std::vector<uint8_t> value;
  HKEY key = OpenDeviceKey(instanceId, KEY_READ);
  if (key == nullptr) return value;
  BYTE data[256];
  DWORD size = sizeof data, type = 0;
  if (RegQueryValueExA(key, name, nullptr, &type, data, &size) == ERROR_SUCCESS && type == REG_BINARY)
    value.assign(data, data + size);
  RegCloseKey(key);
  return value;
}

ControlResult Control(HANDLE port, DWORD code, const std::vector<uint8_t>& input, DWORD outputSize) {
  ControlResult result;
  result.output.assign(outputSize, 0xCC);  // so bytes the driver did not write show
  std::vector<uint8_t> in = input;
  DWORD returned = 0;
  result.ok =
      DeviceIoControl(port, code, in.empty() ? nullptr : in.data(), static_cast<DWORD>(in.size()),
                      outputSize ? result.output.data() : nullptr, outputSize, &returned, nullptr) != 0;
  result.error = result.ok ? 0 : GetLastError();
  if (result.ok) result.output.resize(returned);
  return result;
}

HANDLE OpenPort(const std::string& devicePath) {
  return CreateFileA(devicePath.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                     FILE_ATTRIBUTE_NORMAL, nullptr);
}

}  // namespace vport_test
