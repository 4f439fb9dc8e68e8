// A simulated virtual port driver behind PortDriverPlatform, written from what
// the port manager expects of a driver: COM port interfaces at positions
// (physical ports too), device paths with and without the virtual marker,
// remote settings stored per port, connect and disconnect, an exclusive open
// refused while a terminal program holds the port, any control request failing
// with a chosen error, an interface whose detail cannot be read, and the
// bridge, which answers link states to anyone and runs the manager's requests
// for a handle that may write, whoever holds the port.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "marlet/driver/driver_platform.h"
#include "marlet/driver/driver_records.h"

namespace marlet::sim {

constexpr std::uint32_t kErrorNoMoreItems = 259;
constexpr std::uint32_t ERROR_INSUFFICIENT_BUFFER = 122;
constexpr std::uint32_t ERROR_INVALID_HANDLE = 6;

struct SimPort {
  std::string path;
  std::string dosName;  // as the driver reports it: up to 12 bytes, NUL-padded
  RemoteEndpoint remote;
  bool heldByTerminal = false;  // the exclusive open fails with access denied
  std::uint32_t openError = 0;  // nonzero: the open fails with this error
  bool detailUnreadable = false;
  bool virtualPort = false;  // one of the driver's ports, which the bridge knows
  // Bytes a read request answers with instead of the port's state, by code.
  std::map<std::uint32_t, std::vector<std::uint8_t>> rawReplies;
};

// The bridge device of the driver's data service: none (no driver loaded),
// one that knows no link state question (an older driver), one that answers
// it but takes no manager's request (a driver from before them), or one that
// does both.
enum class SimBridge { kAbsent, kWithoutQuery, kAnswering, kManaging };

// One control request as the driver received it.
struct SimRequest {
  int position = -1;
  std::uint32_t code = 0;
  std::vector<std::uint8_t> input;
  bool throughBridge = false;  // a manager's request the bridge ran on the port
};

class SimulatedDriver : public PortDriverPlatform {
 public:
  // Appends a physical port (\\?\acpi#pnp0501#N#{...}) or a virtual port
  // (\\?\root#ports#NNNN#{...}, at least four digits); returns its position.
  int AddPhysicalPort(const std::string& dosName);
  int AddVirtualPort(int instanceNumber, const std::string& dosName);
  // The next instance number the installer hands out.
  int NextInstanceNumber() const;
  // Removes the port whose instance text (as for the removal tool) is `instance`.
  bool RemoveByInstance(const std::string& instance);

  std::vector<SimPort> ports;
  std::uint32_t listOpenError = 0;                      // nonzero: the list cannot be opened
  std::map<std::uint32_t, std::uint32_t> failingCodes;  // control code -> error
  std::vector<SimRequest> requests;                     // to the ports, not to the bridge
  SimBridge bridge = SimBridge::kAbsent;
  // The link state the bridge answers for each COM number; any other number
  // is no port of the driver's.
  std::map<std::uint32_t, std::uint32_t> linkStates;
  // Nonzero: opening the bridge to manage fails with this error (a user the
  // bridge's access list does not let write).
  std::uint32_t manageOpenError = 0;
  int listOpens = 0;
  int openDevices() const { return m_openDevices; }
  int openLists() const { return static_cast<int>(m_lists.size()); }

  PlatformHandle OpenInterfaceList() override;
  bool EnumInterface(PlatformHandle list, int index) override;
  bool GetInterfaceDetail(PlatformHandle list, std::uint8_t* buffer, std::uint32_t size,
                          std::uint32_t* required) override;
  void CloseInterfaceList(PlatformHandle list) override;
  PlatformHandle OpenDevice(const std::string& path) override;
  bool DeviceControl(PlatformHandle device, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                     std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned) override;
  void CloseDevice(PlatformHandle device) override;
  PlatformHandle OpenBridge(BridgeAccess access) override;
  std::uint32_t LastError() const override { return m_lastError; }

 private:
  struct ListState {
    int selected = -1;
  };
  // The positions open bridge handles stand at, by what they may do.
  static constexpr int kBridgeAsking = -1;
  static constexpr int kBridgeManaging = -2;
  bool BridgeControl(bool mayManage, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                     std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned);
  // One of the five port requests, on the port's handle or through the bridge.
  bool PortControl(int position, std::uint32_t code, const std::uint8_t* in, std::uint32_t inSize,
                   std::uint8_t* out, std::uint32_t outSize, std::uint32_t* returned, bool throughBridge);
  bool Manage(const std::uint8_t* in, std::uint32_t inSize, std::uint8_t* out, std::uint32_t outSize,
              std::uint32_t* returned);
  bool Fail(std::uint32_t error) {
    m_lastError = error;
    return false;
  }

  std::map<ListState*, std::unique_ptr<ListState>> m_lists;
  std::map<std::intptr_t, int> m_devices;  // open handle -> position
  std::intptr_t m_nextDevice = 1;
  int m_openDevices = 0;
  int m_physicalCount = 0;
  std::uint32_t m_lastError = 0;
};

}  // namespace marlet::sim
