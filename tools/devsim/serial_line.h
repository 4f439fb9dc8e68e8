// One serial port's data side in the simulator: its listeners on the port's
// data port (server mode, TCP and UDP as the port's settings say), the TCP peer
// and the last UDP peer, the echo plug and the side channel (SerialLineConfig).
// Unlike Device this holds sockets: what it simulates is how a byte stream
// crosses real ones, with partial sends, back-pressure and dropped connections.
//
// Bytes are never lost or reordered while both ends keep up: when the TCP peer
// or the side channel's reader is slow, the line stops reading from the side
// that feeds it. Only bytes for a side channel nobody is reading are dropped,
// beyond kHoldLimit, with a log line saying how many.
#pragma once

#include <netinet/in.h>
#include <poll.h>

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "devsim/device.h"

namespace devsim {

// Where a serial port's data listeners go. Port 0 asks for a free port.
struct DataListen {
  std::string address;
  unsigned tcpPort = 0;
  unsigned udpPort = 0;
  bool tcp = false;
  bool udp = false;
};

class SerialLine {
 public:
  using Log = std::function<void(const std::string&)>;
  // A non-blocking socket of `type` (SOCK_STREAM or SOCK_DGRAM) in the
  // simulator's network namespace; -1 with errno set on failure.
  using SocketMaker = std::function<int(int type)>;
  // Told when the port gains or loses its TCP peer (the record's state byte).
  using ConnectedHook = std::function<void(bool)>;

  // Bytes a side waits with before the line stops reading what feeds it.
  static constexpr std::size_t kHoldLimit = 256 * 1024;
  // The largest datagram the line sends for its serial device's bytes.
  static constexpr std::size_t kUdpChunk = 1472;

  SerialLine(int number, SerialLineConfig config, Log log, ConnectedHook connected);
  ~SerialLine();
  SerialLine(const SerialLine&) = delete;
  SerialLine& operator=(const SerialLine&) = delete;

  // The side channel lives as long as the line, across restarts of the device.
  bool OpenSideChannel(std::string& error);
  // Opens the data listeners; a port that cannot be bound is logged and left out.
  void Listen(const SocketMaker& make, const DataListen& where);
  // Closes the listeners and every network peer (a restart of the device): TCP
  // peers are reset, and what was waiting to go to the network is lost.
  void DropNetwork(const std::string& why);
  bool listening() const { return m_listening; }
  unsigned TcpPort() const;
  unsigned UdpPort() const;

  // poll() entries for its sockets, each with what it waits for now.
  void AddPollFds(std::vector<pollfd>& fds) const;
  // Acts on an entry AddPollFds gave; an fd that is no longer its own is ignored.
  void Handle(const pollfd& ready);

 private:
  using Bytes = std::vector<std::uint8_t>;
  bool HasNetworkPeer() const { return m_tcp >= 0 || m_udpPeer.has_value(); }
  bool RoomTowardsNetwork() const { return m_tcpOut.size() < kHoldLimit && m_held.size() < kHoldLimit; }
  bool RoomTowardsSide() const { return m_side < 0 || m_sideOut.size() < kHoldLimit; }
  void Note(const std::string& text) const;
  void AcceptTcp();
  void ReadTcp();
  void FlushTcp();
  void CloseTcp(const std::string& why, bool reset);
  void ReadUdp();
  void SendUdp(const std::uint8_t* bytes, std::size_t size, const char* what);
  void FromNetwork(const std::uint8_t* bytes, std::size_t size, bool udp, const std::string& peer);
  void FromSerialDevice(const std::uint8_t* bytes, std::size_t size);
  void SendHeld();
  void AcceptSide();
  void ReadSide();
  void FlushSide();
  void CloseSide(const std::string& why);

  int m_number;  // 1 or 2, as the log names the port
  SerialLineConfig m_config;
  Log m_log;
  ConnectedHook m_connected;
  bool m_listening = false;
  int m_tcpListener = -1;
  int m_tcp = -1;
  std::string m_tcpPeer;
  int m_udp = -1;
  std::optional<sockaddr_in> m_udpPeer;
  Bytes m_tcpOut;   // on its way to the TCP peer
  Bytes m_held;     // from the serial device, waiting for a network peer
  Bytes m_sideOut;  // received from the network, on its way to the side channel
  int m_sideListener = -1;
  int m_side = -1;
  bool m_sideBound = false;  // the socket file is ours to remove
};

// Whether the installed send guard lets a datagram from `fd` go to
// `destination` (host order); true when no guard is installed.
bool SendAllowed(int fd, std::uint32_t destination);

}  // namespace devsim
