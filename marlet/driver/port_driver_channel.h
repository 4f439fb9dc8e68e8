// PortDriverChannel: the port manager's requests to the virtual port driver.
//
// A port is addressed by its port ID, the position of its interface among the
// present COM port interfaces (physical ports count too). Every operation finds
// the interface again and sends one control request naming it through the
// driver's bridge, so a terminal program that holds the port does not keep the
// manager from it. A driver without that request (or an interface that is not
// one of its ports, or a bridge marlet may not write to) gets the request on
// the port itself: the device is opened exclusively, sent the request and
// closed, which fails while a program holds it. No handle outlives a call.
// Failures the user must see are message boxes with the platform error in
// hexadecimal (the same error either way: the driver runs the request alike);
// lookup failures are diagnostic lines.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "marlet/driver/driver_platform.h"
#include "marlet/driver/driver_records.h"

namespace marlet {

// Where the channel's diagnostics go and how it ends the program.
struct ProgramOutput {
  // One diagnostic line (with its line feed) for the standard output stream.
  std::function<void(const std::string&)> diagnostic;
  // Ends the program with `status`; does not return in the real program.
  std::function<void(int)> exitProgram;
  // Standard output and the process exit.
  static ProgramOutput Standard();
};

constexpr std::uint32_t kErrorInvalidFunction = 1;
constexpr std::uint32_t kErrorAccessDenied = 5;
constexpr std::uint32_t kErrorNotFound = 1168;
constexpr std::uint32_t kErrorBadCommand = 22;
constexpr std::uint32_t kDetailBufferSize = 4096;
constexpr std::size_t kDevicePathBufferSize = 260;
// A device path with this text belongs to a port created by the installer.
constexpr const char* kVirtualPortMarker = "root#ports";

// The outcome of a connect or disconnect request.
struct ControlResult {
  bool opened = false;
  bool succeeded = false;
  std::uint32_t error = 0;
};

// "@" + the device instance named by a device path, with "#" turned into "\":
// \\?\root#ports#0000#{guid} gives @root\ports\0000. The instance number is
// taken whole, however many digits it has.
std::string InstanceTextFromPath(const std::string& devicePath);

class PortDriverChannel {
 public:
  PortDriverChannel(PortDriverPlatform& platform, ProgramOutput output);

  // Calls `visit(position, devicePath)` for every present interface until it
  // returns false; true when the enumeration ran out or the visitor stopped it,
  // false when the list or a detail could not be read.
  bool EnumeratePortInterfaces(const std::function<bool(int, const std::string&)>& visit);
  bool FindPortDevicePath(int portId, std::string& path);
  // Null when the device cannot be opened (after the open-failure message).
  PlatformHandle OpenPortDevice(int portId);

  bool GetDosName(int portId, std::string& name);
  // A failed request (after its message) reads as an all-zero endpoint; the
  // result says whether the values are the driver's.
  ControlResult GetRemoteInfo(int portId, RemoteEndpoint& endpoint);
  // After its failure message; the caller decides what the window does next.
  ControlResult SetRemoteInfo(int portId, const RemoteEndpoint& endpoint);
  ControlResult ConnectPort(int portId);
  ControlResult DisconnectPort(int portId);
  bool GetPortInstanceId(int portId, std::string& instanceText);
  // The link state of the port with COM number `comNumber` as the data
  // service reports it (0 idle, 1 connected, 2 connecting, 3 reconnecting),
  // asked over the bridge, which a terminal program holding the port does not
  // lock. Unknown (nullopt) when the bridge cannot be opened or does not
  // answer (no driver, or one from before the question) or the port is not
  // the driver's. Shows nothing.
  std::optional<std::uint32_t> QueryLinkState(std::uint32_t comNumber);
  // Whether the last enumeration or instance lookup stopped because an
  // interface detail could not be read.
  bool DetailReadFailed() const { return m_detailReadFailed; }

 private:
  // One control request and what its failure shows.
  struct ControlRequest {
    std::uint32_t code;
    const std::uint8_t* in;
    std::uint32_t inSize;
    std::uint8_t* out;
    std::uint32_t outSize;
    // printf-style message box text with the platform error; null: none.
    const char* failureMessage;
  };
  // Sends `request` to the port through the bridge, or else on the port's
  // own device (opened and closed again).
  ControlResult Request(int portId, const ControlRequest& request);
  // Nothing when the bridge cannot take the request: no bridge, no write
  // access to it, a driver from before the manager's requests there, or a
  // path that is none of the driver's ports.
  std::optional<ControlResult> RequestThroughBridge(const std::string& path, const ControlRequest& request);
  PlatformHandle OpenDeviceAt(const std::string& path);
  ControlResult SendBare(int portId, std::uint32_t code);
  // The present interfaces; null after the diagnostic `failureFormat` with
  // the platform error.
  PlatformHandle OpenInterfaceList(const char* failureFormat);
  // Reads the detail record of the interface last selected into `detail`
  // (kDetailBufferSize bytes, cleared, its size field set). False after the
  // diagnostic, with DetailReadFailed set.
  bool ReadDetail(PlatformHandle list, std::vector<std::uint8_t>& detail);
  void Diagnostic(const std::string& line) const;

  PortDriverPlatform& m_platform;
  ProgramOutput m_output;
  bool m_detailReadFailed = false;
};

// printf-style formatting of one message with one number.
std::string FormatCode(const char* format, std::uint32_t code);

}  // namespace marlet
