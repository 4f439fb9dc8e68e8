#include "marlet/driver/port_driver_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <vector>

#include "bridge_records.h"
#include "tk/dialog.h"

namespace marlet {

namespace {

// The device path in a detail record, up to its NUL or the end of the buffer.
std::string PathOfDetail(const std::uint8_t* detail, std::size_t size) {
  if (size <= kDetailPathOffset) return {};
  const char* path = reinterpret_cast<const char*>(detail + kDetailPathOffset);
  return std::string(path, strnlen(path, size - kDetailPathOffset));
}

// Closes a platform handle (with `Close`) when the lookup or request leaves,
// whichever way.
template <void (PortDriverPlatform::*Close)(PlatformHandle)>
class HandleGuard {
 public:
  HandleGuard(PortDriverPlatform& platform, PlatformHandle handle) : m_platform(platform), m_handle(handle) {}
  ~HandleGuard() {
    if (m_handle != nullptr) (m_platform.*Close)(m_handle);
  }
  HandleGuard(const HandleGuard&) = delete;
  HandleGuard& operator=(const HandleGuard&) = delete;

 private:
  PortDriverPlatform& m_platform;
  PlatformHandle m_handle;
};

using ListGuard = HandleGuard<&PortDriverPlatform::CloseInterfaceList>;
using DeviceGuard = HandleGuard<&PortDriverPlatform::CloseDevice>;

constexpr const char* kStopTerminal = "Please stop terminal program first\n";
constexpr const char* kListFailed = "Enumeration device failed (0x%x)\n";

}  // namespace

std::string FormatCode(const char* format, std::uint32_t code) {
  char text[160];
  std::snprintf(text, sizeof text, format, static_cast<unsigned>(code));
  return text;
}

ProgramOutput ProgramOutput::Standard() {
  return {[](const std::string& line) { std::cout << line << std::flush; },
          [](int status) {
            std::cout << std::flush;
            std::exit(status);
          }};
}

std::string InstanceTextFromPath(const std::string& devicePath) {
  // Skip the 4-character prefix (\\?\); keep enumerator#device#instance.
  constexpr std::size_t kPrefix = 4;
  std::string instance = devicePath.size() > kPrefix ? devicePath.substr(kPrefix) : std::string();
  std::size_t end = 0;
  for (int separators = 0; end != std::string::npos && separators < 3; ++separators) {
    end = instance.find('#', separators == 0 ? 0 : end + 1);
  }
  if (end != std::string::npos) instance.resize(end);
  for (char& c : instance) {
    if (c == '#') c = '\\';
  }
  return "@" + instance;
}

PortDriverChannel::PortDriverChannel(PortDriverPlatform& platform, ProgramOutput output)
    : m_platform(platform), m_output(std::move(output)) {}

void PortDriverChannel::Diagnostic(const std::string& line) const {
  if (m_output.diagnostic) m_output.diagnostic(line);
}

PlatformHandle PortDriverChannel::OpenInterfaceList(const char* failureFormat) {
  PlatformHandle list = m_platform.OpenInterfaceList();
  if (list == nullptr) Diagnostic(FormatCode(failureFormat, m_platform.LastError()));
  return list;
}

bool PortDriverChannel::ReadDetail(PlatformHandle list, std::vector<std::uint8_t>& detail) {
  std::fill(detail.begin(), detail.end(), 0);
  PutLe32(detail.data(), kDetailSizeField);
  std::uint32_t required = 0;
  if (!m_platform.GetInterfaceDetail(list, detail.data(), kDetailBufferSize, &required)) {
    Diagnostic(FormatCode("Error %d getting interface detail\n", m_platform.LastError()));
    m_detailReadFailed = true;
    return false;
  }
  return true;
}

bool PortDriverChannel::EnumeratePortInterfaces(const std::function<bool(int, const std::string&)>& visit) {
  m_detailReadFailed = false;
  PlatformHandle list = OpenInterfaceList(kListFailed);
  if (list == nullptr) return false;
  ListGuard guard(m_platform, list);
  std::vector<std::uint8_t> detail(kDetailBufferSize);
  for (int i = 0; m_platform.EnumInterface(list, i); ++i) {
    if (!ReadDetail(list, detail)) return false;
    if (!visit(i, PathOfDetail(detail.data(), detail.size()))) break;
  }
  return true;
}

bool PortDriverChannel::FindPortDevicePath(int portId, std::string& path) {
  PlatformHandle list = OpenInterfaceList("Enumeration device                Failed (0x%x)\n");
  if (list == nullptr) return false;
  ListGuard guard(m_platform, list);
  if (!m_platform.EnumInterface(list, portId)) {
    Diagnostic(FormatCode("Enumerate interfaces             Failed (0x%x)\n", m_platform.LastError()));
    return false;
  }
  // First the size the record needs, then exactly that much.
  std::uint32_t required = 0;
  m_platform.GetInterfaceDetail(list, nullptr, 0, &required);
  std::uint32_t size = required < kDetailPathOffset + 1 ? kDetailPathOffset + 1 : required;
  std::unique_ptr<std::uint8_t[]> detail(new (std::nothrow) std::uint8_t[size]());
  if (!detail) {
    Diagnostic(FormatCode("Error %d trying to get memory for interface detail\n", m_platform.LastError()));
    if (m_output.exitProgram) m_output.exitProgram(1);
    return false;
  }
  PutLe32(detail.get(), kDetailSizeField);
  if (!m_platform.GetInterfaceDetail(list, detail.get(), size, &required)) {
    Diagnostic(FormatCode("Error %d getting interface detail\n", m_platform.LastError()));
    return false;
  }
  path = PathOfDetail(detail.get(), size);
  if (path.size() >= kDevicePathBufferSize) path.resize(kDevicePathBufferSize - 1);
  return true;
}

PlatformHandle PortDriverChannel::OpenPortDevice(int portId) {
  std::string path;
  if (!FindPortDevicePath(portId, path)) return nullptr;
  return OpenDeviceAt(path);
}

PlatformHandle PortDriverChannel::OpenDeviceAt(const std::string& path) {
  PlatformHandle device = m_platform.OpenDevice(path);
  if (device == nullptr) {
    std::uint32_t error = m_platform.LastError();
    if (error != kErrorBadCommand) tk::AfxMessageBox(FormatCode("Open serial device failed (0x%x)\n", error));
  }
  return device;
}

std::optional<ControlResult> PortDriverChannel::RequestThroughBridge(const std::string& path,
                                                                     const ControlRequest& request) {
  PlatformHandle bridge = m_platform.OpenBridge(BridgeAccess::kManage);
  if (bridge == nullptr) return std::nullopt;
  DeviceGuard guard(m_platform, bridge);
  std::vector<std::uint8_t> in(VPORT_MANAGE_HEADER_SIZE + path.size() + request.inSize);
  if (VportWriteManageRequest(request.code, path.data(), path.size(), request.in, request.inSize, in.data(),
                              in.size()) == 0)
    return std::nullopt;
  ControlResult result;
  std::uint32_t returned = 0;
  result.succeeded =
      m_platform.DeviceControl(bridge, VPORT_BRIDGE_MANAGE, in.data(), static_cast<std::uint32_t>(in.size()),
                               request.out, request.outSize, &returned);
  if (!result.succeeded) {
    result.error = m_platform.LastError();
    if (result.error == kErrorInvalidFunction || result.error == kErrorNotFound) return std::nullopt;
    if (request.failureMessage != nullptr)
      tk::AfxMessageBox(FormatCode(request.failureMessage, result.error));
  }
  // The driver has the port: what the window does next is as after an open.
  result.opened = true;
  return result;
}

ControlResult PortDriverChannel::Request(int portId, const ControlRequest& request) {
  ControlResult result;
  std::string path;
  if (!FindPortDevicePath(portId, path)) return result;
  if (std::optional<ControlResult> managed = RequestThroughBridge(path, request)) return *managed;
  PlatformHandle device = OpenDeviceAt(path);
  if (device == nullptr) return result;
  DeviceGuard guard(m_platform, device);
  result.opened = true;
  std::uint32_t returned = 0;
  result.succeeded = m_platform.DeviceControl(device, request.code, request.in, request.inSize, request.out,
                                              request.outSize, &returned);
  if (!result.succeeded) {
    result.error = m_platform.LastError();
    if (request.failureMessage != nullptr)
      tk::AfxMessageBox(FormatCode(request.failureMessage, result.error));
  }
  return result;
}

bool PortDriverChannel::GetDosName(int portId, std::string& name) {
  DosNameReply reply{};
  const ControlResult result = Request(portId, {IOCTL_GET_DOS_NAME, nullptr, 0, reply.data(), reply.size(),
                                                "IOCTL_GET_DOS_NAME Failed (0x%x)\n"});
  if (!result.opened) {
    tk::AfxMessageBox(kStopTerminal);
    return false;
  }
  // A failed request leaves the name empty.
  name = result.succeeded ? DecodeDosName(reply) : std::string();
  return true;
}

ControlResult PortDriverChannel::GetRemoteInfo(int portId, RemoteEndpoint& endpoint) {
  RemoteInfoReply reply{};
  const ControlResult result = Request(portId, {IOCTL_GET_REMOTE_INFO, nullptr, 0, reply.data(), reply.size(),
                                                "IOCTL_GET_REMOTE_INFO Failed (0x%x)\n"});
  if (!result.opened) return result;
  // A failed request reads as an all-zero reply.
  if (!result.succeeded) reply.fill(0);
  endpoint = DecodeRemoteInfoReply(reply);
  return result;
}

ControlResult PortDriverChannel::SetRemoteInfo(int portId, const RemoteEndpoint& endpoint) {
  const RemoteInfoRequest request = EncodeRemoteInfoRequest(endpoint);
  return Request(portId, {IOCTL_SET_REMOTE_INFO, request.data(), request.size(), nullptr, 0,
                          "IOCTL_SET_REMOTE_INFO Failed (0x%x)\n"});
}

ControlResult PortDriverChannel::SendBare(int portId, std::uint32_t code) {
  return Request(portId, {code, nullptr, 0, nullptr, 0, nullptr});
}

ControlResult PortDriverChannel::ConnectPort(int portId) {
  return SendBare(portId, IOCTL_CONNECTION);
}

ControlResult PortDriverChannel::DisconnectPort(int portId) {
  return SendBare(portId, IOCTL_DISCONNECTION);
}

bool PortDriverChannel::GetPortInstanceId(int portId, std::string& instanceText) {
  m_detailReadFailed = false;
  PlatformHandle list = OpenInterfaceList(kListFailed);
  if (list == nullptr) return false;
  ListGuard guard(m_platform, list);
  if (!m_platform.EnumInterface(list, portId)) return false;
  std::vector<std::uint8_t> detail(kDetailBufferSize);
  if (!ReadDetail(list, detail)) return false;
  instanceText = InstanceTextFromPath(PathOfDetail(detail.data(), detail.size()));
  return true;
}

std::optional<std::uint32_t> PortDriverChannel::QueryLinkState(std::uint32_t comNumber) {
  PlatformHandle bridge = m_platform.OpenBridge(BridgeAccess::kAsk);
  if (bridge == nullptr) return std::nullopt;
  DeviceGuard guard(m_platform, bridge);
  std::uint8_t asked[VPORT_BRIDGE_QUERY_SIZE];
  std::uint8_t answer[VPORT_BRIDGE_QUERY_SIZE] = {};
  PutLe32(asked, comNumber);
  std::uint32_t returned = 0;
  if (!m_platform.DeviceControl(bridge, VPORT_BRIDGE_QUERY, asked, sizeof asked, answer, sizeof answer,
                                &returned) ||
      returned < sizeof answer)
    return std::nullopt;
  return GetLe32(answer);
}

}  // namespace marlet
