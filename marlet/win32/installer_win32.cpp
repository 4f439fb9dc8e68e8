// The installer seam on SetupAPI's installation-file and device-installation
// functions.
// <windows.h> first: the SetupAPI header builds on its types.
#include <windows.h>

#include <setupapi.h>

#include <cstring>
#include <vector>

#include "marlet/win32/win32_platforms.h"

namespace marlet::win32 {

namespace {

static_assert(sizeof(SP_DEVINFO_DATA) == 28, "the device record of the 32-bit platform");
static_assert(sizeof(SP_DEVINSTALL_PARAMS_A) == 296, "the install parameters of the 32-bit platform");
static_assert(sizeof(SP_DRVINFO_DATA_V1_A) == 780, "the driver record's fixed part on the 32-bit platform");
static_assert(sizeof(INFCONTEXT) <= sizeof(InfLine::context), "a line context fits an InfLine");

// One device information list and the one device created in it.
struct DeviceList {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVINFO_DATA device{};
  SP_DEVINSTALL_PARAMS_A params{};
};

GUID ToGuid(const ClassGuid& g) {
  GUID guid;
  std::memcpy(&guid, g.bytes.data(), sizeof guid);
  return guid;
}

ClassGuid FromGuid(const GUID& guid) {
  ClassGuid g;
  std::memcpy(g.bytes.data(), &guid, sizeof guid);
  return g;
}

INFCONTEXT ToContext(const InfLine& line) {
  INFCONTEXT context;
  std::memcpy(&context, line.context, sizeof context);
  return context;
}

InfLine FromContext(const INFCONTEXT& context) {
  InfLine line;
  std::memcpy(line.context, &context, sizeof context);
  return line;
}

class InstallerWin32 : public DeviceInstallPlatform {
 public:
  PlatformHandle OpenInfFile(const std::string& name) override {
    HINF inf = SetupOpenInfFileA(name.c_str(), nullptr, INF_STYLE_WIN4, nullptr);
    if (inf == INVALID_HANDLE_VALUE) {
      m_lastError = GetLastError();
      return nullptr;
    }
    return inf;
  }

  bool GetInfClass(const std::string& name, ClassGuid& guid, std::string& className) override {
    GUID g{};
    char buffer[64] = {};
    if (!SetupDiGetINFClassA(name.c_str(), &g, buffer, sizeof buffer, nullptr)) return Failed();
    guid = FromGuid(g);
    className = buffer;
    return true;
  }

  bool ClassGuidFromName(const std::string& className, ClassGuid& guid) override {
    GUID g{};
    DWORD count = 0;
    if (!SetupDiClassGuidsFromNameA(className.c_str(), &g, 1, &count)) return Failed();
    guid = FromGuid(g);
    return true;
  }

  bool FindFirstLine(PlatformHandle inf, const std::string& section, InfLine& line) override {
    INFCONTEXT context{};
    if (!SetupFindFirstLineA(inf, section.c_str(), nullptr, &context)) return Failed();
    line = FromContext(context);
    return true;
  }

  bool FindNextLine(const InfLine& line, InfLine& next) override {
    INFCONTEXT context = ToContext(line);
    INFCONTEXT following{};
    if (!SetupFindNextLine(&context, &following)) return Failed();
    next = FromContext(following);
    return true;
  }

  int GetFieldCount(const InfLine& line) override {
    INFCONTEXT context = ToContext(line);
    return static_cast<int>(SetupGetFieldCount(&context));
  }

  bool GetStringField(const InfLine& line, int index, std::string& value) override {
    INFCONTEXT context = ToContext(line);
    DWORD needed = 0;
    if (!SetupGetStringFieldA(&context, static_cast<DWORD>(index), nullptr, 0, &needed)) return Failed();
    std::vector<char> buffer(needed + 1, '\0');
    if (!SetupGetStringFieldA(&context, static_cast<DWORD>(index), buffer.data(), needed + 1, &needed)) {
      return Failed();
    }
    value = buffer.data();
    return true;
  }

  void CloseInfFile(PlatformHandle inf) override { SetupCloseInfFile(inf); }

  // GetNativeSystemInfo tells a 32-bit program under WOW64 the processor of
  // the Windows around it; GetSystemInfo would say x86.
  std::string NativeArchitecture() override {
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    switch (info.wProcessorArchitecture) {
      case PROCESSOR_ARCHITECTURE_AMD64:
        return "amd64";
      case PROCESSOR_ARCHITECTURE_ARM64:
        return "arm64";
      default:
        return "x86";
    }
  }

  PlatformHandle CreateDeviceInfoList(const ClassGuid& classGuid) override {
    GUID g = ToGuid(classGuid);
    HDEVINFO set = SetupDiCreateDeviceInfoList(&g, nullptr);
    if (set == INVALID_HANDLE_VALUE) {
      m_lastError = GetLastError();
      return nullptr;
    }
    auto* list = new DeviceList;
    list->set = set;
    list->device.cbSize = sizeof(SP_DEVINFO_DATA);
    return list;
  }

  bool CreateDeviceInfo(PlatformHandle list, const std::string& name, const ClassGuid& classGuid) override {
    auto* l = static_cast<DeviceList*>(list);
    GUID g = ToGuid(classGuid);
    if (!SetupDiCreateDeviceInfoA(l->set, name.c_str(), &g, nullptr, nullptr, DICD_GENERATE_ID, &l->device)) {
      return Failed();
    }
    return true;
  }

  bool SetHardwareIdProperty(PlatformHandle list, const std::uint8_t* data, std::uint32_t size) override {
    auto* l = static_cast<DeviceList*>(list);
    if (!SetupDiSetDeviceRegistryPropertyA(l->set, &l->device, SPDRP_HARDWAREID, data, size)) return Failed();
    return true;
  }

  bool CallClassInstaller(PlatformHandle list, InstallFunction function) override {
    auto* l = static_cast<DeviceList*>(list);
    if (!SetupDiCallClassInstaller(static_cast<DI_FUNCTION>(function), l->set, &l->device)) return Failed();
    return true;
  }

  bool GetInstallParams(PlatformHandle list, InstallParams& params) override {
    auto* l = static_cast<DeviceList*>(list);
    l->params = {};
    l->params.cbSize = sizeof(SP_DEVINSTALL_PARAMS_A);
    if (!SetupDiGetDeviceInstallParamsA(l->set, &l->device, &l->params)) return Failed();
    params.flags = l->params.Flags;
    params.flagsEx = l->params.FlagsEx;
    return true;
  }

  bool SetInstallParams(PlatformHandle list, const InstallParams& params) override {
    // Written back over the record just read, so the other fields keep their values.
    auto* l = static_cast<DeviceList*>(list);
    l->params.Flags = params.flags;
    l->params.FlagsEx = params.flagsEx;
    if (!SetupDiSetDeviceInstallParamsA(l->set, &l->device, &l->params)) return Failed();
    return true;
  }

  bool BuildCompatDriverList(PlatformHandle list) override {
    auto* l = static_cast<DeviceList*>(list);
    if (!SetupDiBuildDriverInfoList(l->set, &l->device, SPDIT_COMPATDRIVER)) return Failed();
    return true;
  }

  bool GetSelectedDriver(PlatformHandle list, DriverInfo& info) override {
    auto* l = static_cast<DeviceList*>(list);
    SP_DRVINFO_DATA_V2_A driver{};
    driver.cbSize = sizeof(SP_DRVINFO_DATA_V1_A);
    if (!SetupDiGetSelectedDriverA(l->set, &l->device, reinterpret_cast<SP_DRVINFO_DATA_A*>(&driver))) {
      return Failed();
    }
    info.description = driver.Description;
    return true;
  }

  void DestroyDeviceInfoList(PlatformHandle list) override {
    auto* l = static_cast<DeviceList*>(list);
    SetupDiDestroyDeviceInfoList(l->set);
    delete l;
  }

  std::uint32_t LastError() const override { return m_lastError; }

 private:
  bool Failed() {
    m_lastError = GetLastError();
    return false;
  }

  std::uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<DeviceInstallPlatform> MakeDeviceInstallPlatform() {
  return std::make_unique<InstallerWin32>();
}

}  // namespace marlet::win32
