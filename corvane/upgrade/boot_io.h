// The boot-loader exchange's sockets, clock and file on the toolkit: what the
// window and the command-line server hand to ServeBootImage.
#pragma once

#include <string>

#include "corvane/upgrade/boot_exchange.h"
#include "tk/socket.h"

namespace corvane::upgrade {

class SocketBootTransport : public BootTransport {
 public:
  // Ports of the BOOTP and TFTP listeners (67 and 69; tests may move them).
  explicit SocketBootTransport(unsigned bootpPort = bootp::kServerPort, unsigned tftpPort = tftp::kServerPort)
      : m_bootpPort(bootpPort), m_tftpPort(tftpPort) {}
  OpenResult Open(Channel channel) override;
  void Close(Channel channel) override;
  int Receive(Channel channel, int timeoutMs, Datagram& out) override;
  bool Send(Channel channel, std::uint32_t address, unsigned port, ByteView bytes) override;
  unsigned TransferPort() const;

 private:
  tk::BlockingUdpSocket& Socket(Channel channel);
  unsigned m_bootpPort, m_tftpPort;
  tk::BlockingUdpSocket m_bootp, m_tftp, m_transfer;
};

class SteadyBootClock : public BootClock {
 public:
  std::uint64_t NowUs() override;
};

// A firmware file on disk, read whole.
class DiskFile : public FileSource {
 public:
  explicit DiskFile(std::string path) : m_path(std::move(path)) {}
  std::optional<std::uint64_t> Size() override;
  bool ReadAll(Bytes& out) override;

 private:
  std::string m_path;
};

}  // namespace corvane::upgrade
