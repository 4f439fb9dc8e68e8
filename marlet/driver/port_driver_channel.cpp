#include "marlet/driver/port_driver_channel.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>
#include <new>
#include <vector>

#include "tk/dialog.h"

namespace marlet {

namespace {

// The device path in a detail record, up to its NUL or the end of the buffer.
std::string PathOfDetail(const std::uint8_t* detail, std::size_t size) {
  if (size <= kDetailPathOffset) return {};
  const char* path = reinterpret_cast<const char*>(detail + kDetailPathOffset);
  return std::string(path, strnlen(path, size - kDetailPathOffset));
}

// Closes an interface list when the lookup leaves, whichever way.
class ListGuard {
 public:
  ListGuard(PortDriverPlatform& platform, PlatformHandle list) : m_platform(platform), m_list(list) {}
  ~ListGuard() {
    if (m_list != nullptr) m_platform.CloseInterfaceList(m_list);
  }
  ListGuard(const ListGuard&) = delete;
  ListGuard& operator=(const ListGuard&) = delete;

 private:
  PortDriverPlatform& m_platform;
  PlatformHandle m_list;
};

// Closes an open port device when the request leaves.
class DeviceGuard {
 public:
  DeviceGuard(PortDriverPlatform& platform, PlatformHandle device) : m_platform(platform), m_device(device) {}
  ~DeviceGuard() {
    if (m_device != nullptr) m_platform.CloseDevice(m_device);
  }
  DeviceGuard(const DeviceGuard&) = delete;
  DeviceGuard& operator=(const DeviceGuard&) = delete;

 private:
  PortDriverPlatform& m_platform;
  PlatformHandle m_device;
};

constexpr const char* kStopTerminal = "Please stop terminal program first\n";

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

bool PortDriverChannel::EnumeratePortInterfaces(const std::function<bool(int, const std::string&)>& visit) {
  m_detailReadFailed = false;
  PlatformHandle list = m_platform.OpenInterfaceList();
  if (list == nullptr) {
    Diagnostic(FormatCode("Enumeration device failed (0x%x)\n", m_platform.LastError()));
    return false;
  }
  ListGuard guard(m_platform, list);
  std::vector<std::uint8_t> detail(kDetailBufferSize);
  for (int i = 0; m_platform.EnumInterface(list, i); ++i) {
    std::fill(detail.begin(), detail.end(), 0);
    PutLe32(detail.data(), kDetailSizeField);
    std::uint32_t required = 0;
    if (!m_platform.GetInterfaceDetail(list, detail.data(), kDetailBufferSize, &required)) {
      Diagnostic(FormatCode("Error %d getting interface detail\n", m_platform.LastError()));
      m_detailReadFailed = true;
      return false;
    }
    if (!visit(i, PathOfDetail(detail.data(), detail.size()))) break;
  }
  return true;
}

bool PortDriverChannel::FindPortDevicePath(int portId, std::string& path) {
  PlatformHandle list = m_platform.OpenInterfaceList();
  if (list == nullptr) {
    Diagnostic(FormatCode("Enumeration device                Failed (0x%x)\n", m_platform.LastError()));
    return false;
  }
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
  PlatformHandle device = m_platform.OpenDevice(path);
  if (device == nullptr) {
    std::uint32_t error = m_platform.LastError();
    if (error != kErrorBadCommand) tk::AfxMessageBox(FormatCode("Open serial device failed (0x%x)\n", error));
  }
  return device;
}

bool PortDriverChannel::GetDosName(int portId, std::string& name) {
  PlatformHandle device = OpenPortDevice(portId);
  if (device == nullptr) {
    tk::AfxMessageBox(kStopTerminal);
    return false;
  }
  DeviceGuard guard(m_platform, device);
  DosNameReply reply{};
  std::uint32_t returned = 0;
  name.clear();
  if (!m_platform.DeviceControl(device, IOCTL_GET_DOS_NAME, nullptr, 0, reply.data(), reply.size(),
                                &returned)) {
    tk::AfxMessageBox(FormatCode("IOCTL_GET_DOS_NAME Failed (0x%x)\n", m_platform.LastError()));
    return true;
  }
  name = DecodeDosName(reply);
  return true;
}

bool PortDriverChannel::GetRemoteInfo(int portId, RemoteEndpoint& endpoint) {
  PlatformHandle device = OpenPortDevice(portId);
  if (device == nullptr) return false;
  DeviceGuard guard(m_platform, device);
  RemoteInfoReply reply{};
  std::uint32_t returned = 0;
  if (!m_platform.DeviceControl(device, IOCTL_GET_REMOTE_INFO, nullptr, 0, reply.data(), reply.size(),
                                &returned)) {
    tk::AfxMessageBox(FormatCode("IOCTL_GET_REMOTE_INFO Failed (0x%x)\n", m_platform.LastError()));
    reply.fill(0);
  }
  endpoint = DecodeRemoteInfoReply(reply);
  return true;
}

void PortDriverChannel::SetRemoteInfo(int portId, const RemoteEndpoint& endpoint) {
  PlatformHandle device = OpenPortDevice(portId);
  if (device == nullptr) return;
  DeviceGuard guard(m_platform, device);
  RemoteInfoRequest request = EncodeRemoteInfoRequest(endpoint);
  std::uint32_t returned = 0;
  if (!m_platform.DeviceControl(device, IOCTL_SET_REMOTE_INFO, request.data(), request.size(), nullptr, 0,
                                &returned)) {
    tk::AfxMessageBox(FormatCode("IOCTL_SET_REMOTE_INFO Failed (0x%x)\n", m_platform.LastError()));
  }
}

ControlResult PortDriverChannel::SendBare(int portId, std::uint32_t code) {
  ControlResult result;
  PlatformHandle device = OpenPortDevice(portId);
  if (device == nullptr) return result;
  DeviceGuard guard(m_platform, device);
  result.opened = true;
  std::uint32_t returned = 0;
  result.succeeded = m_platform.DeviceControl(device, code, nullptr, 0, nullptr, 0, &returned);
  if (!result.succeeded) result.error = m_platform.LastError();
  return result;
}

ControlResult PortDriverChannel::ConnectPort(int portId) {
  return SendBare(portId, IOCTL_CONNECTION);
}

ControlResult PortDriverChannel::DisconnectPort(int portId) {
  return SendBare(portId, IOCTL_DISCONNECTION);
}

bool PortDriverChannel::GetPortInstanceId(int portId, std::string& instanceText) {
  m_detailReadFailed = false;
  PlatformHandle list = m_platform.OpenInterfaceList();
  if (list == nullptr) {
    Diagnostic(FormatCode("Enumeration device failed (0x%x)\n", m_platform.LastError()));
    return false;
  }
  ListGuard guard(m_platform, list);
  if (!m_platform.EnumInterface(list, portId)) return false;
  std::vector<std::uint8_t> detail(kDetailBufferSize, 0);
  PutLe32(detail.data(), kDetailSizeField);
  std::uint32_t required = 0;
  if (!m_platform.GetInterfaceDetail(list, detail.data(), kDetailBufferSize, &required)) {
    Diagnostic(FormatCode("Error %d getting interface detail\n", m_platform.LastError()));
    m_detailReadFailed = true;
    return false;
  }
  instanceText = InstanceTextFromPath(PathOfDetail(detail.data(), detail.size()));
  return true;
}

}  // namespace marlet
