// The simulator's sockets, polling loop, delayed replies and log.
#include "devsim/simulator.h"

#include "devsim/serial_line.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <limits>
#include <optional>

namespace devsim {

using corvane::protocol::Bytes;
using corvane::protocol::ByteView;

namespace {

constexpr std::size_t kReceiveBufferSize = 65536;

sockaddr_in MakeAddress(const std::string& dotted, unsigned port) {
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(static_cast<std::uint16_t>(port));
  a.sin_addr.s_addr = dotted.empty() ? htonl(INADDR_ANY) : inet_addr(dotted.c_str());
  return a;
}

std::atomic<SendGuard> g_sendGuard{nullptr};

constexpr const char* kOwnNetns = "/proc/thread-self/ns/net";

// The network namespace of the calling thread, by inode.
ino_t CurrentNetns() {
  struct stat st {};
  return ::stat(kOwnNetns, &st) == 0 ? st.st_ino : 0;
}

// A datagram socket bound to address:port; -1 with `error` set on failure.
int OpenUdpHere(const std::string& address, unsigned port, bool shared, bool broadcast, std::string& error) {
  const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("socket: ") + std::strerror(errno);
    return -1;
  }
  const int one = 1;
  if (shared) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (broadcast) ::setsockopt(fd, SOL_SOCKET, SO_BROADCAST, &one, sizeof one);
  const sockaddr_in a = MakeAddress(address, port);
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
    error = "bind " + (address.empty() ? std::string("*") : address) + ":" + std::to_string(port) + ": " +
            std::strerror(errno);
    ::close(fd);
    return -1;
  }
  return fd;
}

// Sockets belong to the network namespace of the thread that creates them.
// The simulator may be polled from a thread that has since moved to another
// namespace (a test that plays both sides), so its sockets are always created
// in the namespace the simulator itself was created in.
}  // namespace

void SetSendGuard(SendGuard guard) {
  g_sendGuard.store(guard);
}

bool SendAllowed(int fd, std::uint32_t destination) {
  const SendGuard guard = g_sendGuard.load();
  return guard == nullptr || guard(fd, destination);
}

int Simulator::InOwnNamespace(const std::function<int()>& open, std::string& error) {
  if (m_netnsFd < 0 || CurrentNetns() == m_netnsInode) return open();
  const int back = ::open(kOwnNetns, O_RDONLY | O_CLOEXEC);
  if (back < 0 || ::setns(m_netnsFd, CLONE_NEWNET) != 0) {
    if (back >= 0) ::close(back);
    error = std::string("cannot enter the simulator's network namespace: ") + std::strerror(errno);
    errno = EPERM;
    return -1;
  }
  const int fd = open();
  ::setns(back, CLONE_NEWNET);
  ::close(back);
  return fd;
}

int Simulator::OpenUdp(const std::string& address, unsigned port, bool shared, bool broadcast,
                       std::string& error) {
  return InOwnNamespace([&] { return OpenUdpHere(address, port, shared, broadcast, error); }, error);
}

namespace {

void CloseFd(int& fd) {
  if (fd >= 0) ::close(fd);
  fd = -1;
}

// The shared listeners learn each datagram's destination address.
void ReportDestination(int fd) {
  const int one = 1;
  if (fd >= 0) ::setsockopt(fd, IPPROTO_IP, IP_PKTINFO, &one, sizeof one);
}

unsigned BoundPort(int fd) {
  sockaddr_in a{};
  socklen_t len = sizeof a;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len) != 0) return 0;
  return ntohs(a.sin_port);
}

}  // namespace

struct Simulator::Sockets {
  int broadcast = -1;
  int multicast = -1;
  int unicast = -1;
  int bootp = -1;
  int tftp = -1;
};

struct Simulator::Slot {
  explicit Slot(const DeviceConfig& config) : device(config) {}
  Device device;
  Sockets sockets;
  std::vector<Outgoing> pending;                   // delayed replies
  std::vector<std::unique_ptr<SerialLine>> lines;  // with serveData: one per serial port
  int linesRun = -1;                               // the device's run the listeners belong to
};

Simulator::Simulator(SimulatorOptions options) : m_options(std::move(options)) {
  m_epoch = Now();
  // The namespace OpenUdp returns to whenever a socket is opened later from a
  // thread that sits in another one.
  m_netnsInode = CurrentNetns();
  if (m_netnsInode != 0) m_netnsFd = ::open(kOwnNetns, O_RDONLY | O_CLOEXEC);
}

Simulator::~Simulator() {
  Stop();
  for (auto& slot : m_devices) CloseSockets(*slot);
  if (m_netnsFd >= 0) ::close(m_netnsFd);
}

std::uint64_t Simulator::Now() const {
  if (m_options.clock) return m_options.clock();
  return static_cast<std::uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                        std::chrono::steady_clock::now().time_since_epoch())
                                        .count());
}

void Simulator::Record(const std::string& device, const std::string& text) {
  const std::uint64_t now = Now();
  LogEntry entry{now - std::min(now, m_epoch), device, text};
  if (m_options.onLog) m_options.onLog(entry);
  if (m_options.keepLog) m_log.push_back(std::move(entry));
}

void Simulator::CollectLog(Slot& slot) {
  for (auto& text : slot.device.TakeLog()) Record(slot.device.name(), text);
}

bool Simulator::OpenSockets(Slot& slot, std::string& error) {
  Sockets& s = slot.sockets;
  const std::string& own = slot.device.address();
  s.unicast = OpenUdp(own, m_options.unicastPort, true, false, error);
  if (s.unicast < 0) return false;
  std::string warning;
  if (m_options.listenBroadcast) {
    s.broadcast = OpenUdp({}, m_options.broadcastPort, true, false, warning);
    if (s.broadcast < 0) Record(slot.device.name(), "no broadcast listener: " + warning);
    ReportDestination(s.broadcast);
  }
  if (m_options.listenMulticast) {
    s.multicast = OpenUdp({}, m_options.multicastPort, true, false, warning);
    ReportDestination(s.multicast);
    if (s.multicast < 0) {
      Record(slot.device.name(), "no multicast listener: " + warning);
    } else {
      ip_mreq m{};
      m.imr_multiaddr.s_addr = inet_addr(m_options.multicastGroup.c_str());
      m.imr_interface.s_addr = inet_addr(own.c_str());
      if (::setsockopt(s.multicast, IPPROTO_IP, IP_ADD_MEMBERSHIP, &m, sizeof m) != 0)
        Record(slot.device.name(), "cannot join " + m_options.multicastGroup + ": " + std::strerror(errno));
    }
  }
  return true;
}

void Simulator::CloseSockets(Slot& slot) {
  Sockets& s = slot.sockets;
  CloseFd(s.broadcast);
  CloseFd(s.multicast);
  CloseFd(s.unicast);
  CloseFd(s.bootp);
  CloseFd(s.tftp);
}

bool Simulator::AddDevice(const DeviceConfig& config, std::string* error) {
  std::lock_guard lock(m_mutex);
  auto slot = std::make_unique<Slot>(config);
  std::string why;
  CollectLog(*slot);
  if (!OpenSockets(*slot, why)) {
    Record(slot->device.name(), "cannot start: " + why);
    CloseSockets(*slot);
    if (error) *error = why;
    return false;
  }
  Record(slot->device.name(),
         "listening at " + slot->device.address() + ":" + std::to_string(BoundPort(slot->sockets.unicast)));
  if (!OpenSerialLines(*slot, why)) {
    Record(slot->device.name(), "cannot start: " + why);
    CloseSockets(*slot);
    if (error) *error = why;
    return false;
  }
  SyncSerialLines(*slot);
  m_devices.push_back(std::move(slot));
  return true;
}

bool Simulator::OpenSerialLines(Slot& slot, std::string& error) {
  if (!m_options.serveData) return true;
  Slot* owner = &slot;
  for (int i = 0; i < slot.device.record().portCount; ++i) {
    const auto index = static_cast<std::size_t>(i);
    auto log = [this, owner](const std::string& text) { Record(owner->device.name(), text); };
    // The record's state byte follows the TCP peer, as a device's reply shows it.
    auto connected = [owner, index](bool on) {
      owner->device.record().ports[index].state =
          on ? corvane::protocol::kStateConnected : corvane::protocol::kStateIdle;
    };
    auto line = std::make_unique<SerialLine>(i + 1, slot.device.config().serialLines[index], log, connected);
    if (!line->OpenSideChannel(error)) return false;
    slot.lines.push_back(std::move(line));
  }
  return true;
}

// The data listeners belong to one run of the device: a restart, a reboot or the
// boot loader closes them with every connection, and the next run opens them
// again at the address and data ports it has then.
void Simulator::SyncSerialLines(Slot& slot) {
  const Device& device = slot.device;
  const bool running = device.phase() == Phase::Running;
  for (std::size_t i = 0; i < slot.lines.size(); ++i) {
    SerialLine& line = *slot.lines[i];
    if (line.listening() && (!running || slot.linesRun != device.runs()))
      line.DropNetwork("device restarting");
    if (line.listening() || !running) continue;
    const corvane::protocol::PortSettings& port = device.record().ports[i];
    if (port.client) continue;  // a client-mode port connects out; not played here
    const unsigned number = m_options.freeDataPorts ? 0 : port.dataPort;
    const auto make = [this](int type) {
      std::string ignored;
      return InOwnNamespace([type] { return ::socket(AF_INET, type | SOCK_NONBLOCK | SOCK_CLOEXEC, 0); },
                            ignored);
    };
    line.Listen(make, DataListen{device.address(), number, number, port.tcp, port.udp});
  }
  slot.linesRun = device.runs();
}

int Simulator::DeviceCount() const {
  std::lock_guard lock(m_mutex);
  return static_cast<int>(m_devices.size());
}

namespace {

// A datagram read with the address it was sent to (IP_PKTINFO), when known.
struct Received {
  ssize_t size = -1;
  sockaddr_in from{};
  std::optional<std::uint32_t> to;  // host order
};

Received ReceiveFrom(int fd, std::vector<std::uint8_t>& buffer) {
  Received r;
  iovec io{buffer.data(), buffer.size()};
  alignas(cmsghdr) char control[CMSG_SPACE(sizeof(in_pktinfo))] = {};
  msghdr m{};
  m.msg_name = &r.from;
  m.msg_namelen = sizeof r.from;
  m.msg_iov = &io;
  m.msg_iovlen = 1;
  m.msg_control = control;
  m.msg_controllen = sizeof control;
  r.size = ::recvmsg(fd, &m, 0);
  if (r.size < 0) return r;
  for (cmsghdr* c = CMSG_FIRSTHDR(&m); c != nullptr; c = CMSG_NXTHDR(&m, c)) {
    if (c->cmsg_level != IPPROTO_IP || c->cmsg_type != IP_PKTINFO) continue;
    in_pktinfo info{};
    std::memcpy(&info, CMSG_DATA(c), sizeof info);
    r.to = ntohl(info.ipi_addr.s_addr);
  }
  return r;
}

std::uint32_t HostOrder(const std::string& dotted) {
  in_addr a{};
  return ::inet_pton(AF_INET, dotted.c_str(), &a) == 1 ? ntohl(a.s_addr) : 0;
}

// Whether a datagram sent to `to` is one every listening device hears: the
// limited broadcast, the directed broadcast of the device's own subnet, or a
// multicast group (only members' sockets receive those).
bool ForEveryDevice(std::uint32_t to, const Device& device) {
  if (to == INADDR_BROADCAST || IN_MULTICAST(to)) return true;
  const std::uint32_t mask = device.record().netmask;
  return mask != 0 && mask != 0xFFFFFFFF && to == (HostOrder(device.address()) | ~mask);
}

}  // namespace

// The search ports are shared by every device (all bound to any address), so
// the kernel hands each of them a copy of a broadcast or multicast, but a
// datagram sent to one device's own address to just one of those sockets,
// maybe another device's. Such a datagram goes to the device(s) whose address
// it was sent to, and to no one else.
std::vector<Simulator::Slot*> Simulator::Recipients(Slot& receiver, std::optional<std::uint32_t> to) {
  if (!to || ForEveryDevice(*to, receiver.device)) return {&receiver};
  std::vector<Slot*> owners;
  for (auto& slot : m_devices)
    if (HostOrder(slot->device.address()) == *to) owners.push_back(slot.get());
  return owners;
}

int Simulator::HandleReadable(Slot& slot, int fd, std::uint64_t now) {
  // One buffer for every datagram: a search of a whole site reads hundreds in
  // one pass, and filling a fresh 64 KiB for each of them slowed the answers.
  std::vector<std::uint8_t>& buffer = m_receiveBuffer;
  if (buffer.size() != kReceiveBufferSize) buffer.resize(kReceiveBufferSize);
  const Received r = ReceiveFrom(fd, buffer);
  if (r.size < 0) return 0;
  const ByteView bytes(buffer.data(), static_cast<std::size_t>(r.size));
  char text[INET_ADDRSTRLEN] = {};
  inet_ntop(AF_INET, &r.from.sin_addr, text, sizeof text);
  const unsigned port = ntohs(r.from.sin_port);
  Sockets& s = slot.sockets;
  if (fd == s.broadcast || fd == s.multicast) {
    const Listener via = fd == s.broadcast ? Listener::Broadcast : Listener::Multicast;
    const auto recipients = Recipients(slot, r.to);
    if (recipients.empty())
      Record("simulator", std::string("ignored a datagram from ") + text + ": no device has its address");
    for (Slot* target : recipients) {
      std::vector<Outgoing> out;
      target->device.OnManagement(via, bytes, text, port, now, out);
      target->pending.insert(target->pending.end(), out.begin(), out.end());
    }
    return 1;
  }
  std::vector<Outgoing> out;
  if (fd == s.unicast) slot.device.OnManagement(Listener::Unicast, bytes, text, port, now, out);
  if (fd == s.bootp) slot.device.OnBootp(bytes, now, out);
  if (fd == s.tftp) slot.device.OnTftp(bytes, text, port, now, out);
  slot.pending.insert(slot.pending.end(), out.begin(), out.end());
  return 1;
}

// Sends what is due, opens the boot loader's sockets when it first needs them
// and closes them once it is done.
int Simulator::Flush(Slot& slot, std::uint64_t now) {
  Sockets& s = slot.sockets;
  int sent = 0;
  std::vector<Outgoing> later;
  for (Outgoing& o : slot.pending) {
    if (o.dueMs > now) {
      later.push_back(std::move(o));
      continue;
    }
    int fd = s.unicast;
    std::string error;
    if (o.channel == Channel::BootpClient) {
      if (s.bootp < 0) s.bootp = OpenUdp({}, m_options.bootpClientPort, true, true, error);
      fd = s.bootp;
    } else if (o.channel == Channel::TftpClient) {
      if (s.tftp < 0) s.tftp = OpenUdp(slot.device.address(), 0, false, false, error);
      fd = s.tftp;
    }
    if (fd < 0) {
      Record(slot.device.name(), "cannot send: " + error);
      continue;
    }
    const sockaddr_in to = MakeAddress(o.address, o.port);
    if (!SendAllowed(fd, ntohl(to.sin_addr.s_addr))) {
      Record(slot.device.name(), "send to " + o.address + " refused by the send guard");
    } else if (::sendto(fd, o.bytes.data(), o.bytes.size(), 0, reinterpret_cast<const sockaddr*>(&to),
                        sizeof to) < 0) {
      Record(slot.device.name(), "send to " + o.address + " failed: " + std::strerror(errno));
    } else {
      ++sent;
    }
  }
  slot.pending = std::move(later);
  if (!slot.device.InBootLoader()) {
    CloseFd(s.bootp);
    CloseFd(s.tftp);
  }
  if (auto moved = slot.device.TakeAddressChange()) {
    std::string error;
    const int fd = OpenUdp(*moved, m_options.unicastPort, true, false, error);
    if (fd >= 0) {
      CloseFd(s.unicast);
      s.unicast = fd;
    } else {
      sockaddr_in a{};
      socklen_t len = sizeof a;
      ::getsockname(s.unicast, reinterpret_cast<sockaddr*>(&a), &len);
      char text[INET_ADDRSTRLEN] = {};
      inet_ntop(AF_INET, &a.sin_addr, text, sizeof text);
      slot.device.AddressChangeFailed(text);
    }
  }
  return sent;
}

int Simulator::Poll(int maxWaitMs) {
  std::vector<pollfd> fds;
  std::vector<Slot*> owners;
  std::vector<SerialLine*> lines;  // the serial line an entry belongs to, if any
  std::uint64_t due = std::numeric_limits<std::uint64_t>::max();
  {
    std::lock_guard lock(m_mutex);
    for (auto& slot : m_devices) {
      const Sockets& s = slot->sockets;
      for (int fd : {s.broadcast, s.multicast, s.unicast, s.bootp, s.tftp}) {
        if (fd < 0) continue;
        fds.push_back({fd, POLLIN, 0});
        owners.push_back(slot.get());
      }
      lines.resize(fds.size(), nullptr);
      for (auto& line : slot->lines) {
        line->AddPollFds(fds);
        owners.resize(fds.size(), slot.get());
        lines.resize(fds.size(), line.get());
      }
      due = std::min(due, slot->device.NextDue());
      for (const Outgoing& o : slot->pending) due = std::min(due, o.dueMs);
    }
  }
  const std::uint64_t now = Now();
  int wait = std::max(0, maxWaitMs);
  if (due != std::numeric_limits<std::uint64_t>::max())
    wait = due <= now
               ? 0
               : static_cast<int>(std::min<std::uint64_t>(due - now, static_cast<std::uint64_t>(wait)));
  const int ready = ::poll(fds.data(), fds.size(), wait);
  std::lock_guard lock(m_mutex);
  int handled = 0;
  const std::uint64_t after = Now();
  for (std::size_t i = 0; ready > 0 && i < fds.size(); ++i) {
    if (lines[i] != nullptr && fds[i].revents != 0) {
      lines[i]->Handle(fds[i]);
      ++handled;
      continue;
    }
    if ((fds[i].revents & POLLIN) == 0) continue;
    // Drain the socket: a burst of requests is handled in one call.
    for (int k = 0; k < 1024 && HandleReadable(*owners[i], fds[i].fd, after) > 0; ++k) ++handled;
  }
  for (auto& slot : m_devices) {
    std::vector<Outgoing> out;
    slot->device.Tick(after, out);
    slot->pending.insert(slot->pending.end(), out.begin(), out.end());
    handled += Flush(*slot, after);
    CollectLog(*slot);
    SyncSerialLines(*slot);
  }
  return handled;
}

bool Simulator::PollUntil(const std::function<bool()>& done, int maxWaitMs) {
  const auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(maxWaitMs);
  while (!done()) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
    if (left.count() <= 0) return false;
    Poll(static_cast<int>(std::min<long long>(left.count(), 20)));
  }
  return true;
}

void Simulator::Start() {
  if (m_thread.joinable()) return;
  m_stop = false;
  m_thread = std::thread([this] {
    while (!m_stop) Poll(20);
  });
}

void Simulator::Stop() {
  m_stop = true;
  if (m_thread.joinable()) m_thread.join();
}

std::vector<LogEntry> Simulator::Log() const {
  std::lock_guard lock(m_mutex);
  return m_log;
}

bool Simulator::LogContains(const std::string& text) const {
  std::lock_guard lock(m_mutex);
  return std::any_of(m_log.begin(), m_log.end(),
                     [&](const LogEntry& e) { return e.text.find(text) != std::string::npos; });
}

void Simulator::WithDevice(int index, const std::function<void(Device&)>& f) {
  std::lock_guard lock(m_mutex);
  if (index < 0 || index >= static_cast<int>(m_devices.size())) return;
  f(m_devices[static_cast<std::size_t>(index)]->device);
  CollectLog(*m_devices[static_cast<std::size_t>(index)]);
}

unsigned Simulator::UnicastPort(int index) const {
  std::lock_guard lock(m_mutex);
  if (index < 0 || index >= static_cast<int>(m_devices.size())) return 0;
  return BoundPort(m_devices[static_cast<std::size_t>(index)]->sockets.unicast);
}

unsigned Simulator::DataPort(int index, int serial, bool udp) const {
  std::lock_guard lock(m_mutex);
  if (index < 0 || index >= static_cast<int>(m_devices.size())) return 0;
  const auto& lines = m_devices[static_cast<std::size_t>(index)]->lines;
  if (serial < 0 || serial >= static_cast<int>(lines.size())) return 0;
  const SerialLine& line = *lines[static_cast<std::size_t>(serial)];
  return udp ? line.UdpPort() : line.TcpPort();
}

std::string Simulator::Address(int index) const {
  std::lock_guard lock(m_mutex);
  if (index < 0 || index >= static_cast<int>(m_devices.size())) return {};
  return m_devices[static_cast<std::size_t>(index)]->device.address();
}

}  // namespace devsim
