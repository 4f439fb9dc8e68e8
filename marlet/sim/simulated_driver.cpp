#include "marlet/sim/simulated_driver.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

#include "bridge_records.h"
#include "marlet/driver/port_driver_channel.h"

namespace marlet::sim {

namespace {
constexpr const char* kComPortInterface = "#{86e0d1e0-8089-11d0-9ce4-08003e301f73}";
}  // namespace

int SimulatedDriver::AddPhysicalPort(const std::string& dosName) {
  SimPort port;
  port.path = "\\\\?\\acpi#pnp0501#" + std::to_string(++m_physicalCount) + kComPortInterface;
  port.dosName = dosName;
  ports.push_back(port);
  return static_cast<int>(ports.size()) - 1;
}

int SimulatedDriver::AddVirtualPort(int instanceNumber, const std::string& dosName) {
  char instance[32];
  std::snprintf(instance, sizeof instance, "%04d", instanceNumber);
  SimPort port;
  port.path = std::string("\\\\?\\root#ports#") + instance + kComPortInterface;
  port.dosName = dosName;
  port.virtualPort = true;
  ports.push_back(port);
  return static_cast<int>(ports.size()) - 1;
}

int SimulatedDriver::NextInstanceNumber() const {
  int next = 0;
  for (const SimPort& p : ports) {
    std::string text = InstanceTextFromPath(p.path);
    const std::string prefix = "@root\\ports\\";
    if (text.rfind(prefix, 0) == 0) next = std::max(next, std::atoi(text.c_str() + prefix.size()) + 1);
  }
  return next;
}

bool SimulatedDriver::RemoveByInstance(const std::string& instance) {
  auto found = std::find_if(ports.begin(), ports.end(),
                            [&](const SimPort& p) { return InstanceTextFromPath(p.path) == instance; });
  if (found == ports.end()) return false;
  ports.erase(found);
  return true;
}

PlatformHandle SimulatedDriver::OpenInterfaceList() {
  if (listOpenError != 0) {
    m_lastError = listOpenError;
    return nullptr;
  }
  ++listOpens;
  auto state = std::make_unique<ListState>();
  ListState* handle = state.get();
  m_lists.emplace(handle, std::move(state));
  return handle;
}

bool SimulatedDriver::EnumInterface(PlatformHandle list, int index) {
  auto found = m_lists.find(static_cast<ListState*>(list));
  if (found == m_lists.end()) return Fail(ERROR_INVALID_HANDLE);
  if (index < 0 || index >= static_cast<int>(ports.size())) return Fail(kErrorNoMoreItems);
  found->second->selected = index;
  return true;
}

bool SimulatedDriver::GetInterfaceDetail(PlatformHandle list, std::uint8_t* buffer, std::uint32_t size,
                                         std::uint32_t* required) {
  auto found = m_lists.find(static_cast<ListState*>(list));
  if (found == m_lists.end() || found->second->selected < 0) return Fail(ERROR_INVALID_HANDLE);
  const SimPort& port = ports[static_cast<std::size_t>(found->second->selected)];
  if (port.detailUnreadable) return Fail(ERROR_INVALID_HANDLE);
  std::uint32_t needed = kDetailPathOffset + static_cast<std::uint32_t>(port.path.size()) + 1;
  if (required != nullptr) *required = needed;
  if (buffer == nullptr || size < needed) return Fail(ERROR_INSUFFICIENT_BUFFER);
  // The caller must announce the record's fixed size, as the platform checks.
  if (GetLe32(buffer) != kDetailSizeField) return Fail(1784 /* ERROR_INVALID_USER_BUFFER */);
  std::memcpy(buffer + kDetailPathOffset, port.path.c_str(), port.path.size() + 1);
  return true;
}

void SimulatedDriver::CloseInterfaceList(PlatformHandle list) {
  m_lists.erase(static_cast<ListState*>(list));
}

PlatformHandle SimulatedDriver::OpenDevice(const std::string& path) {
  auto found = std::find_if(ports.begin(), ports.end(), [&](const SimPort& p) { return p.path == path; });
  if (found == ports.end()) {
    m_lastError = 2;  // ERROR_FILE_NOT_FOUND
    return nullptr;
  }
  if (found->openError != 0 || found->heldByTerminal) {
    m_lastError = found->openError != 0 ? found->openError : kErrorAccessDenied;
    return nullptr;
  }
  std::intptr_t handle = m_nextDevice++;
  m_devices[handle] = static_cast<int>(found - ports.begin());
  ++m_openDevices;
  return reinterpret_cast<PlatformHandle>(handle);
}

bool SimulatedDriver::DeviceControl(PlatformHandle device, std::uint32_t code, const std::uint8_t* in,
                                    std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
                                    std::uint32_t* returned) {
  auto found = m_devices.find(reinterpret_cast<std::intptr_t>(device));
  if (found == m_devices.end()) return Fail(ERROR_INVALID_HANDLE);
  int position = found->second;
  if (returned != nullptr) *returned = 0;
  if (position < 0)
    return BridgeControl(position == kBridgeManaging, code, in, inSize, out, outSize, returned);
  return PortControl(position, code, in, inSize, out, outSize, returned, false);
}

bool SimulatedDriver::PortControl(int position, std::uint32_t code, const std::uint8_t* in,
                                  std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
                                  std::uint32_t* returned, bool throughBridge) {
  requests.push_back(
      {position, code,
       in == nullptr ? std::vector<std::uint8_t>{} : std::vector<std::uint8_t>(in, in + inSize),
       throughBridge});
  auto failing = failingCodes.find(code);
  if (failing != failingCodes.end()) return Fail(failing->second);
  SimPort& port = ports[static_cast<std::size_t>(position)];
  auto raw = port.rawReplies.find(code);
  if (raw != port.rawReplies.end()) {
    if (out == nullptr || outSize < raw->second.size()) return Fail(ERROR_INSUFFICIENT_BUFFER);
    std::memcpy(out, raw->second.data(), raw->second.size());
    if (returned != nullptr) *returned = static_cast<std::uint32_t>(raw->second.size());
    return true;
  }
  switch (code) {
    case IOCTL_GET_DOS_NAME: {
      if (out == nullptr || outSize < kDosNameReplySize) return Fail(ERROR_INSUFFICIENT_BUFFER);
      std::memset(out, 0, kDosNameReplySize);
      std::memcpy(out, port.dosName.data(), std::min(port.dosName.size(), kDosNameReplySize));
      if (returned != nullptr) *returned = kDosNameReplySize;
      return true;
    }
    case IOCTL_GET_REMOTE_INFO: {
      if (out == nullptr || outSize < reply::kSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
      RemoteInfoReply bytes = EncodeRemoteInfoReply(port.remote);
      std::memcpy(out, bytes.data(), bytes.size());
      if (returned != nullptr) *returned = reply::kSize;
      return true;
    }
    case IOCTL_SET_REMOTE_INFO: {
      if (in == nullptr || inSize < request::kSize) return Fail(ERROR_INSUFFICIENT_BUFFER);
      RemoteInfoRequest bytes{};
      std::memcpy(bytes.data(), in, bytes.size());
      std::uint32_t connected = port.remote.connected;
      port.remote = DecodeRemoteInfoRequest(bytes);
      port.remote.connected = connected;
      return true;
    }
    case IOCTL_CONNECTION:
      port.remote.connected = 1;
      return true;
    case IOCTL_DISCONNECTION:
      port.remote.connected = 0;
      return true;
    default:
      return Fail(1 /* ERROR_INVALID_FUNCTION */);
  }
}

PlatformHandle SimulatedDriver::OpenBridge(BridgeAccess access) {
  if (bridge == SimBridge::kAbsent) {
    m_lastError = 2;  // ERROR_FILE_NOT_FOUND
    return nullptr;
  }
  if (access == BridgeAccess::kManage && manageOpenError != 0) {
    m_lastError = manageOpenError;
    return nullptr;
  }
  std::intptr_t handle = m_nextDevice++;
  m_devices[handle] = access == BridgeAccess::kManage ? kBridgeManaging : kBridgeAsking;
  ++m_openDevices;
  return reinterpret_cast<PlatformHandle>(handle);
}

bool SimulatedDriver::BridgeControl(bool mayManage, std::uint32_t code, const std::uint8_t* in,
                                    std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
                                    std::uint32_t* returned) {
  if (code == VPORT_BRIDGE_MANAGE && bridge == SimBridge::kManaging) {
    // The platform checks the code's access against the handle's before the driver sees it.
    if (!mayManage) return Fail(kErrorAccessDenied);
    return Manage(in, inSize, out, outSize, returned);
  }
  if (bridge == SimBridge::kWithoutQuery || code != VPORT_BRIDGE_QUERY)
    return Fail(1 /* ERROR_INVALID_FUNCTION */);
  if (in == nullptr || inSize < VPORT_BRIDGE_QUERY_SIZE || out == nullptr ||
      outSize < VPORT_BRIDGE_QUERY_SIZE)
    return Fail(ERROR_INSUFFICIENT_BUFFER);
  auto state = linkStates.find(GetLe32(in));
  if (state == linkStates.end()) return Fail(1168 /* ERROR_NOT_FOUND */);
  PutLe32(out, state->second);
  if (returned != nullptr) *returned = VPORT_BRIDGE_QUERY_SIZE;
  return true;
}

// As the driver names a port's interface: the kernel's prefix and the device
// part in capitals, so the manager's enumerated path matches only as the
// driver compares them.
static std::u16string KernelInterfaceName(const std::string& path) {
  std::u16string name = u"\\??\\";
  for (std::size_t i = 4; i < path.size(); ++i)
    name.push_back(static_cast<char16_t>(std::toupper(static_cast<unsigned char>(path[i]))));
  return name;
}

bool SimulatedDriver::Manage(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out,
                             std::uint32_t outSize, std::uint32_t* returned) {
  VportManageRequest request{};
  if (!VportReadManageRequest(in, inSize, &request)) return Fail(87 /* ERROR_INVALID_PARAMETER */);
  const std::uint32_t known[] = {IOCTL_GET_DOS_NAME, IOCTL_SET_REMOTE_INFO, IOCTL_GET_REMOTE_INFO,
                                 IOCTL_CONNECTION, IOCTL_DISCONNECTION};
  if (std::find(std::begin(known), std::end(known), request.code) == std::end(known))
    return Fail(87 /* ERROR_INVALID_PARAMETER */);
  for (std::size_t i = 0; i < ports.size(); ++i) {
    if (!ports[i].virtualPort) continue;
    const std::u16string name = KernelInterfaceName(ports[i].path);
    if (VportInterfacePathMatches(request.path, request.pathLength,
                                  reinterpret_cast<const std::uint16_t*>(name.data()), name.size()))
      return PortControl(static_cast<int>(i), request.code, request.input, request.inputLength, out, outSize,
                         returned, true);
  }
  return Fail(kErrorNotFound);
}

void SimulatedDriver::CloseDevice(PlatformHandle device) {
  if (m_devices.erase(reinterpret_cast<std::intptr_t>(device)) != 0) --m_openDevices;
}

}  // namespace marlet::sim
