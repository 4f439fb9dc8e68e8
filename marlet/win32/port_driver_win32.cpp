// The driver seam on SetupAPI's device interface functions, the device's
// exclusive open and control requests, and the driver's bridge device.
// <windows.h> first: the SetupAPI header builds on its types.
#include <windows.h>

#include <setupapi.h>

#include "bridge_records.h"
#include "marlet/win32/win32_platforms.h"

namespace marlet::win32 {

namespace {

// GUID_DEVINTERFACE_COMPORT {86E0D1E0-8089-11D0-9CE4-08003E301F73}
const GUID kComPortInterface = {0x86E0D1E0, 0x8089, 0x11D0, {0x9C, 0xE4, 0x08, 0x00, 0x3E, 0x30, 0x1F, 0x73}};

static_assert(sizeof(SP_DEVICE_INTERFACE_DATA) == 28, "the interface record of the 32-bit platform");
static_assert(offsetof(SP_DEVICE_INTERFACE_DETAIL_DATA_A, DevicePath) == kDetailPathOffset, "path offset");

struct InterfaceList {
  HDEVINFO set = INVALID_HANDLE_VALUE;
  SP_DEVICE_INTERFACE_DATA selected{};
};

class PortDriverWin32 : public PortDriverPlatform {
 public:
  PlatformHandle OpenInterfaceList() override {
    HDEVINFO set =
        SetupDiGetClassDevsA(&kComPortInterface, nullptr, nullptr, DIGCF_PRESENT | DIGCF_DEVICEINTERFACE);
    if (set == INVALID_HANDLE_VALUE) return Failed();
    auto* list = new InterfaceList;
    list->set = set;
    return list;
  }

  bool EnumInterface(PlatformHandle list, int index) override {
    auto* l = static_cast<InterfaceList*>(list);
    l->selected = {};
    l->selected.cbSize = sizeof(SP_DEVICE_INTERFACE_DATA);
    if (index < 0 || !SetupDiEnumDeviceInterfaces(l->set, nullptr, &kComPortInterface,
                                                  static_cast<DWORD>(index), &l->selected)) {
      return FailedFlag();
    }
    return true;
  }

  bool GetInterfaceDetail(PlatformHandle list, std::uint8_t* buffer, std::uint32_t size,
                          std::uint32_t* required) override {
    auto* l = static_cast<InterfaceList*>(list);
    DWORD needed = 0;
    BOOL ok = SetupDiGetDeviceInterfaceDetailA(l->set, &l->selected,
                                               reinterpret_cast<SP_DEVICE_INTERFACE_DETAIL_DATA_A*>(buffer),
                                               size, &needed, nullptr);
    if (required != nullptr) *required = needed;
    return ok ? true : FailedFlag();
  }

  void CloseInterfaceList(PlatformHandle list) override {
    auto* l = static_cast<InterfaceList*>(list);
    SetupDiDestroyDeviceInfoList(l->set);
    delete l;
  }

  PlatformHandle OpenDevice(const std::string& path) override {
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? Failed() : h;
  }

  bool DeviceControl(PlatformHandle device, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                     std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned) override {
    DWORD bytes = 0;
    BOOL ok =
        DeviceIoControl(device, code, const_cast<std::uint8_t*>(in), inSize, out, outSize, &bytes, nullptr);
    if (returned != nullptr) *returned = bytes;
    return ok ? true : FailedFlag();
  }

  void CloseDevice(PlatformHandle device) override { CloseHandle(device); }

  // Shared: the data service holds the bridge open the whole time. Asking a
  // port's state needs reading only; the manager's port requests need
  // writing, which the bridge's access list checks.
  PlatformHandle OpenBridge(BridgeAccess access) override {
    const DWORD rights = access == BridgeAccess::kManage ? GENERIC_READ | GENERIC_WRITE : GENERIC_READ;
    HANDLE h = CreateFileA(VPORT_BRIDGE_DOS_NAME, rights, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                           OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? Failed() : h;
  }

  std::uint32_t LastError() const override { return m_lastError; }

 private:
  PlatformHandle Failed() {
    m_lastError = GetLastError();
    return nullptr;
  }
  bool FailedFlag() {
    m_lastError = GetLastError();
    return false;
  }

  std::uint32_t m_lastError = 0;
};

}  // namespace

std::unique_ptr<PortDriverPlatform> MakePortDriverPlatform() {
  return std::make_unique<PortDriverWin32>();
}

}  // namespace marlet::win32
