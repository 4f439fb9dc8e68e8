// The 27 setting items that tie together the setup pages, the device record,
// the set request and the settings file, the store that carries the port the
// pages do not show, and the text conversions they share.
//
// Everything here is plain data: a DeviceSettings value holds the 27 item texts
// exactly as the pages would give them (decimal numbers, check states, combo
// indices, dotted addresses) and the other-port store.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

namespace corvane::settings {

enum SettingItem : int {
  kDeviceName = 0,
  kMacAddress = 1,
  kServerClient = 2,  // "0" server, "1" client
  kDhcp = 3,          // combo index: 0 disable, 1 enable
  kDynamicIp = 4,
  kStaticIp = 5,
  kDataPort = 6,
  kBroadcastListenPort = 7,  // always empty
  kMulticastListenPort = 8,  // always empty
  kDestIp = 9,
  kDestPort = 10,
  kUdp = 11,
  kAutoConnect = 12,
  kTcp = 13,
  kBroadcast = 14,
  kMulticast = 15,
  kNetmask = 16,
  kGateway = 17,
  kDns = 18,
  kConnectionTimeout = 19,  // minutes
  kTxTimer = 20,            // milliseconds
  kBaudRate = 21,
  kDataBits = 22,
  kParity = 23,
  kStopBits = 24,
  kFlowControl = 25,
  kTransferMode = 26,  // check state of "RS485"
};
constexpr int kItemCount = 27;

// What the network page's fields take, and the set request can carry: a
// device name of at most 16 characters, a connection timeout of 0 to 20
// minutes, 16-bit port numbers and transmission timer.
constexpr int kMaxNameChars = 16;
constexpr unsigned kMaxTimeoutMinutes = 20;
constexpr unsigned kMaxPortNumber = 65535;
constexpr unsigned kMaxTxTimerMs = 65535;

// Row kinds as the sheet receives them (signed: 0 until the main window answers).
constexpr int kSinglePortRow = 11;
constexpr int kFirstPortRow = 21;
constexpr int kSecondPortRow = 22;
bool IsTwoPortRow(int rowKind);
// The port the pages show: 1 for rows 11 and 21, 2 for row 22, 0 otherwise.
int DisplayedPort(int rowKind);

// The texts kept for the port the pages do not show.
enum StoreText : int {
  kStoreServerClient = 0,
  kStoreUdp,
  kStoreTcp,
  kStoreDataPort,
  kStoreDestIp,
  kStoreDestPort,
  kStoreBaudRate,
  kStoreDataBits,
  kStoreParity,
  kStoreFlowControl,
  kStoreStopBits,
  kStoreTxTimer,
  kStoreTransferMode,
};
constexpr int kStoreTextCount = 13;
using PortStore = std::array<std::string, kStoreTextCount>;

// The store text that holds an item for the other port; nullopt for items that
// are device-wide.
std::optional<StoreText> StoreTextOfItem(int item);

struct OtherPortStore {
  PortStore port1;  // used while the pages show port 2 (row kind 22)
  PortStore port2;  // used while the pages show port 1 (row kind 21)

  PortStore& ForPort(int port) { return port == 1 ? port1 : port2; }
  const PortStore& ForPort(int port) const { return port == 1 ? port1 : port2; }

  bool operator==(const OtherPortStore&) const = default;
};

struct DeviceSettings {
  std::array<std::string, kItemCount> items;
  OtherPortStore store;

  bool operator==(const DeviceSettings&) const = default;
};

// ---- text conversions ---------------------------------------------------------

// A decimal number the way the device-facing code reads one: leading blanks
// skipped, an optional sign, digits up to the first non-digit; no digits gives
// 0. The value wraps modulo 2^32, so its low 8 and 16 bits are those of the
// number written.
std::int32_t NumberFromText(const std::string& text);

// Four dotted decimal numbers, each 0 to 255, nothing else: the only form of
// address text that reaches a device unchanged.
bool IsDottedQuad(const std::string& text);

}  // namespace corvane::settings
