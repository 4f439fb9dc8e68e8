// What the port manager needs of the platform to reach the virtual port driver:
// the present COM port device interfaces, an exclusive open of one of them and
// device I/O control requests, and the bridge device that carries the ports'
// data and the manager's requests. The win32 side implements it with SetupAPI and
// CreateFileA / DeviceIoControl; tests use a simulated driver.
#pragma once

#include <cstdint>
#include <string>

namespace marlet {

// A platform object (interface list or open device); null when there is none.
using PlatformHandle = void*;

// The interface detail record: a 32-bit size field at offset 0 (set to
// kDetailSizeField by the caller) and the NUL-terminated ANSI device path from
// offset 4.
constexpr std::uint32_t kDetailSizeField = 5;
constexpr std::uint32_t kDetailPathOffset = 4;

// What a bridge handle may do: ask a port's link state (anyone may), or also
// run the manager's port requests (the bridge's access list gives writing to
// the system and administrators only).
enum class BridgeAccess { kAsk, kManage };

class PortDriverPlatform {
 public:
  virtual ~PortDriverPlatform() = default;

  // The present interfaces of the COM port interface class; null on failure.
  virtual PlatformHandle OpenInterfaceList() = 0;
  // Selects the interface at `index` of the list; false when there is none.
  virtual bool EnumInterface(PlatformHandle list, int index) = 0;
  // Reads the detail record of the interface last selected into `buffer`
  // (`size` bytes, may be 0). `*required` gets the size the record needs. False
  // when the record does not fit or cannot be read.
  virtual bool GetInterfaceDetail(PlatformHandle list, std::uint8_t* buffer, std::uint32_t size,
                                  std::uint32_t* required) = 0;
  virtual void CloseInterfaceList(PlatformHandle list) = 0;

  // Opens the device for reading and writing with no sharing; null on failure.
  virtual PlatformHandle OpenDevice(const std::string& path) = 0;
  // One synchronous control request; `*returned` gets the bytes written to `out`.
  virtual bool DeviceControl(PlatformHandle device, std::uint32_t code, const std::uint8_t* in,
                             std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
                             std::uint32_t* returned) = 0;
  virtual void CloseDevice(PlatformHandle device) = 0;

  // Opens the port driver's bridge device (its data service holds it too) for
  // control requests, closed with CloseDevice; null when there is none or the
  // access is refused.
  virtual PlatformHandle OpenBridge(BridgeAccess access) = 0;

  // The error code of the last failed call above.
  virtual std::uint32_t LastError() const = 0;
};

}  // namespace marlet
