// One simulated device server: its record, its reactions to management
// requests, its restarts and its boot loader. No sockets here: the device
// consumes datagrams and produces the datagrams it wants sent, so its logic is
// driven the same way from the simulator's sockets and from tests.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "corvane/protocol/packet.h"
#include "devsim/boot_loader.h"

namespace devsim {

using corvane::protocol::Bytes;
using corvane::protocol::ByteView;

// Faults a test can switch on per device.
struct Faults {
  bool noAnswer = false;             // receives and logs, never answers
  bool wrongMagic = false;           // answers with a damaged magic
  int oversizeReply = 0;             // when > 0: pad every reply to this many bytes
  int replyDelayMs = 0;              // answers this late
  int duplicateReplies = 0;          // extra copies of every reply
  std::set<int> dropDataBlocks;      // TFTP DATA blocks ignored the first time they arrive
  std::set<int> duplicateAckBlocks;  // TFTP blocks acknowledged twice
  int lossPercent = 0;               // TFTP DATA received and ACKs sent lost at random this often
  int reorderPercent = 0;            // a TFTP ACK held back this often, sent after the next one
  int faultSeed = 1;                 // seeds the random faults, so a run can be repeated
  bool ignoreSet = false;            // acknowledges set requests and restarts, but keeps its settings
  bool ignoreUpgrade = false;        // never enters its boot loader on an upgrade request
  std::set<int> dropReplies;         // reply codes lost on the way: never sent
};

struct DeviceTimings {
  int restartMs = 3000;         // silent after set, restore, reboot and upgrade
  int bootLoaderDelayMs = 500;  // from the upgrade request to the first BOOTP request
  int bootpRetryMs = 2000;
  int bootpTries = 5;
  int tftpTimeoutMs = 2000;
  int tftpTries = 5;
};

// Where the boot loader finds its servers (the standard ports by default).
struct BootNetwork {
  std::string broadcastAddress = "255.255.255.255";
  unsigned bootpServerPort = bootp::kServerPort;
  unsigned tftpServerPort = tftp::kServerPort;
};

// What sits on a serial port's line. With `echo` the line is looped back: bytes
// the device receives on its data port go back to their sender unchanged. The
// side channel, a unix stream socket at `sideChannel`, plays the serial device:
// what a client writes to it the device sends to its network peer, and it reads
// every byte the device received. A unix socket because the filesystem is
// shared across network namespaces: a check outside the devices' namespace
// reaches it as well as a test in the same process.
struct SerialLineConfig {
  bool echo = true;
  std::string sideChannel;  // socket path; empty: no side channel
};

struct DeviceConfig {
  corvane::protocol::DeviceRecord record;  // the state it starts with (and restores)
  std::string address;                     // dotted; empty: the record's dynamic IP
  std::string firmwareVersion = "1.0";
  bool startInBootLoader = false;  // waits for an upgrade as "CVN1" 00-00-00-00-00-01
  bool logSetRequests = false;     // logs each set request it takes, byte for byte in hex
  Faults faults;
  DeviceTimings timings;
  BootNetwork bootNetwork;
  std::array<SerialLineConfig, 2> serialLines;  // by serial port
};

// Which listener a management datagram came through.
enum class Listener { Broadcast, Multicast, Unicast };

// A datagram the device wants sent, and from which of its sockets.
enum class Channel { Management, BootpClient, TftpClient };
struct Outgoing {
  Channel channel = Channel::Management;
  Bytes bytes;
  std::string address;
  unsigned port = 0;
  std::uint64_t dueMs = 0;  // not before this time
};

enum class Phase { Running, Restarting, BootLoader };

class Device {
 public:
  explicit Device(DeviceConfig config);

  // A management datagram from `from`:`port`; the replies go to `out`.
  void OnManagement(Listener via, ByteView bytes, const std::string& from, unsigned port, std::uint64_t now,
                    std::vector<Outgoing>& out);
  // A datagram on the boot loader's BOOTP port or its TFTP socket.
  void OnBootp(ByteView bytes, std::uint64_t now, std::vector<Outgoing>& out);
  void OnTftp(ByteView bytes, const std::string& from, unsigned port, std::uint64_t now,
              std::vector<Outgoing>& out);
  // Time passing: restarts end, the boot loader starts and retries.
  void Tick(std::uint64_t now, std::vector<Outgoing>& out);
  // The earliest time Tick has something to do (UINT64_MAX: nothing).
  std::uint64_t NextDue() const;

  // The record as a reply carries it, with `code` at byte 8.
  Bytes Reply(std::uint8_t code) const;

  Phase phase() const { return m_phase; }
  // Counts restarts and entries into the boot loader: a connection made before
  // a change of this number belongs to a run of the device that has ended.
  int runs() const { return m_runs; }
  const corvane::protocol::DeviceRecord& record() const { return m_record; }
  corvane::protocol::DeviceRecord& record() { return m_record; }
  const std::string& address() const { return m_address; }
  const std::string& firmwareVersion() const { return m_version; }
  const std::string& name() const { return m_record.name; }
  Faults& faults() { return m_config.faults; }
  const DeviceConfig& config() const { return m_config; }
  bool InBootLoader() const { return m_phase == Phase::BootLoader; }
  // The address the simulator should move the device's sockets to; reset by the
  // simulator once it has tried.
  std::optional<std::string> TakeAddressChange();
  void AddressChangeFailed(const std::string& kept);

  // Every datagram received and every state change, in order.
  std::vector<std::string> TakeLog();

 private:
  void Note(const std::string& text);
  static std::string HexBytes(ByteView bytes);
  bool AddressedToMe(ByteView bytes) const;
  void Answer(std::uint8_t code, const std::string& to, unsigned port, std::uint64_t now,
              std::vector<Outgoing>& out);
  void ApplySet(ByteView bytes);
  void Restore();
  void StartRestart(std::uint64_t now, const char* why);
  void FinishRestart();
  void EnterBootLoader(std::uint64_t now);
  void FinishBootLoader(std::uint64_t now);

  DeviceConfig m_config;
  corvane::protocol::DeviceRecord m_record;
  std::string m_address;
  std::string m_version;
  Phase m_phase = Phase::Running;
  int m_runs = 0;
  std::uint64_t m_restartEnd = 0;
  std::optional<std::string> m_pendingAddress;
  std::optional<BootLoaderClient> m_bootLoader;
  std::uint64_t m_bootLoaderStart = 0;
  bool m_bootLoaderStarted = false;
  std::vector<std::string> m_log;
};

}  // namespace devsim
