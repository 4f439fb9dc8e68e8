// The device-server simulator: many simulated devices on real UDP sockets.
//
// Each device listens for broadcast searches on 25122 and for multicast
// searches on 25123 (any address, shared with the other devices through
// SO_REUSEADDR), and for unicast requests on 25124 at its own address, which
// is also the address it answers from. On the shared ports a device answers
// only what was sent to its own address, a broadcast or its multicast group. In the boot loader it
// broadcasts BOOTP from port 68 and reads its image by TFTP.
//
// Drive it from the caller's thread with Poll (deterministic), or let it run on
// a thread of its own with Start/Stop.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "devsim/device.h"

namespace devsim {

struct LogEntry {
  std::uint64_t timeMs = 0;
  std::string device;  // the device's name, or "simulator"
  std::string text;
};

struct SimulatorOptions {
  unsigned broadcastPort = corvane::protocol::kDeviceBroadcastPort;
  unsigned multicastPort = corvane::protocol::kDeviceMulticastPort;
  unsigned unicastPort = corvane::protocol::kDeviceUnicastPort;  // 0: a free port per device
  unsigned bootpClientPort = 68;
  std::string multicastGroup = corvane::protocol::kDefaultMulticastGroup;
  bool listenBroadcast = true;
  bool listenMulticast = true;
  // Milliseconds; the simulator's own steady clock when empty.
  std::function<std::uint64_t()> clock;
  // Called with every log entry as it is made (under the simulator's lock).
  std::function<void(const LogEntry&)> onLog;
  // Whether entries are also kept for Log() and LogContains(); a long-running
  // program that only prints them turns this off.
  bool keepLog = true;
  // Whether each serial port in server mode plays its serial line on its data
  // port (SerialLine): TCP and UDP as its settings say, at the device's
  // address, closed while the device restarts. The devsim program turns it on.
  bool serveData = false;
  // With serveData: free ports instead of the records' data ports, so that
  // loopback tests never collide; DataPort() tells which.
  bool freeDataPorts = false;
};

// Asked before every datagram a simulator sends, with the socket and the
// destination address (host order); false refuses the send, which is then
// logged as failed and not made. The test programs put their network guard
// here; without one every send is made.
using SendGuard = bool (*)(int fd, std::uint32_t destination);
void SetSendGuard(SendGuard guard);

class Simulator {
 public:
  explicit Simulator(SimulatorOptions options = {});
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Adds a device and opens its sockets; false (with the reason in the log and
  // in `error`) when its unicast socket cannot be bound.
  bool AddDevice(const DeviceConfig& config, std::string* error = nullptr);
  int DeviceCount() const;

  // Waits up to maxWaitMs for a datagram or a due timer, then handles all that
  // is ready. Returns the number of datagrams received and sent.
  int Poll(int maxWaitMs);
  // Polls until `done` or maxWaitMs of real time has passed.
  bool PollUntil(const std::function<bool()>& done, int maxWaitMs);

  void Start();  // a thread that polls until Stop
  void Stop();

  // Thread-safe views.
  std::vector<LogEntry> Log() const;
  bool LogContains(const std::string& text) const;
  // Runs `f` on device `index` under the simulator's lock (change faults,
  // read state).
  void WithDevice(int index, const std::function<void(Device&)>& f);
  unsigned UnicastPort(int index) const;
  // The port serial port `serial` (0 or 1) of device `index` listens on for
  // TCP or UDP data; 0 when it does not listen.
  unsigned DataPort(int index, int serial, bool udp) const;
  std::string Address(int index) const;

 private:
  struct Sockets;
  struct Slot;
  std::uint64_t Now() const;
  int InOwnNamespace(const std::function<int()>& open, std::string& error);
  int OpenUdp(const std::string& address, unsigned port, bool shared, bool broadcast, std::string& error);
  bool OpenSerialLines(Slot& slot, std::string& error);
  void SyncSerialLines(Slot& slot);
  bool OpenSockets(Slot& slot, std::string& error);
  void CloseSockets(Slot& slot);
  int HandleReadable(Slot& slot, int fd, std::uint64_t now);
  std::vector<Slot*> Recipients(Slot& receiver, std::optional<std::uint32_t> to);
  int Flush(Slot& slot, std::uint64_t now);
  void CollectLog(Slot& slot);
  void Record(const std::string& device, const std::string& text);

  SimulatorOptions m_options;
  std::vector<std::unique_ptr<Slot>> m_devices;
  std::vector<LogEntry> m_log;
  std::vector<std::uint8_t> m_receiveBuffer;  // HandleReadable's, under m_mutex
  mutable std::recursive_mutex m_mutex;
  std::thread m_thread;
  std::atomic<bool> m_stop{false};
  std::uint64_t m_epoch = 0;
  int m_netnsFd = -1;
  unsigned long m_netnsInode = 0;
};

}  // namespace devsim
