// The boot-loader exchange's sockets, clock and file on the toolkit.
#include "corvane/upgrade/boot_io.h"

#include <chrono>
#include <fstream>

namespace corvane::upgrade {

tk::BlockingUdpSocket& SocketBootTransport::Socket(Channel channel) {
  return channel == Channel::Bootp ? m_bootp : channel == Channel::Tftp ? m_tftp : m_transfer;
}

BootTransport::OpenResult SocketBootTransport::Open(Channel channel) {
  tk::BlockingUdpSocket& s = Socket(channel);
  if (!s.Open()) return OpenResult::CannotCreate;
  if (channel == Channel::Bootp && !s.SetBroadcast(true)) {
    s.Close();
    return OpenResult::CannotCreate;
  }
  const unsigned port = channel == Channel::Bootp ? m_bootpPort : channel == Channel::Tftp ? m_tftpPort : 0;
  if (!s.Bind(port)) {
    s.Close();
    return OpenResult::InUse;
  }
  return OpenResult::Ok;
}

void SocketBootTransport::Close(Channel channel) {
  Socket(channel).Close();
}

int SocketBootTransport::Receive(Channel channel, int timeoutMs, Datagram& out) {
  tk::BlockingUdpSocket& s = Socket(channel);
  const int ready = s.WaitReadable(timeoutMs);
  if (ready <= 0) return ready;
  Bytes buffer(tftp::kDatagramSize, 0);
  std::string address;
  unsigned port = 0;
  const int n = s.ReceiveFrom(buffer.data(), static_cast<int>(buffer.size()), address, port);
  if (n < 0) return -1;  // a longer datagram is a failed receive, never a cut one
  buffer.resize(static_cast<std::size_t>(n));
  out = Datagram{std::move(buffer), tk::InetAddr(address), port};
  return 1;
}

bool SocketBootTransport::Send(Channel channel, std::uint32_t address, unsigned port, ByteView bytes) {
  return Socket(channel).SendTo(bytes.data(), static_cast<int>(bytes.size()), port, tk::InetNtoa(address)) ==
         static_cast<int>(bytes.size());
}

unsigned SocketBootTransport::TransferPort() const {
  std::string address;
  unsigned port = 0;
  return m_transfer.GetSockName(address, port) ? port : 0;
}

std::uint64_t SteadyBootClock::NowUs() {
  using namespace std::chrono;
  return static_cast<std::uint64_t>(
      duration_cast<microseconds>(steady_clock::now().time_since_epoch()).count());
}

std::optional<std::uint64_t> DiskFile::Size() {
  std::ifstream in(m_path, std::ios::binary | std::ios::ate);
  if (!in) return std::nullopt;
  const std::streamoff size = in.tellg();
  if (size < 0) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

// One sized read: an image of megabytes is read in a blink, not byte by byte,
// so a server that serves request after request is listening again at once.
bool DiskFile::ReadAll(Bytes& out) {
  std::ifstream in(m_path, std::ios::binary | std::ios::ate);
  if (!in) return false;
  const std::streamoff size = in.tellg();
  if (size < 0 || !in.seekg(0)) return false;
  out.resize(static_cast<std::size_t>(size));
  if (size > 0 && !in.read(reinterpret_cast<char*>(out.data()), size)) return false;
  return true;
}

}  // namespace corvane::upgrade
