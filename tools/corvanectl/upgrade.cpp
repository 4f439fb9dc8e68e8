// upgrade: puts each device into its boot loader and serves it the firmware
// image with the window's own boot-loader exchange, many devices at once: one
// BOOTP and one TFTP listener, and a session with its own transfer port each.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <iostream>
#include <memory>
#include <optional>
#include <string>
#include <vector>
#ifdef _WIN32
#include <io.h>
#else
#include <unistd.h>
#endif

#include "corvane/settings/setting_items.h"
#include "corvane/upgrade/boot_io.h"
#include "corvanectl/commands.h"
#include "corvanectl/devices.h"
#include "corvanectl/local_net.h"
#include "corvanectl/oplog.h"
#include "corvanectl/wait.h"
#include "fileio/whole_file.h"
#include "tk/socket.h"

namespace corvanectl {

namespace upgrade = corvane::upgrade;
namespace protocol = corvane::protocol;

namespace {

// A device restarts after writing its new firmware: it is given this long to
// answer again unless --restart-wait says otherwise.
constexpr int kUpgradeRestartWaitMs = 60000;

bool StdoutIsTerminal() {
#ifdef _WIN32
  return _isatty(_fileno(stdout)) != 0;
#else
  return isatty(fileno(stdout)) != 0;
#endif
}

// How far the image is: a bar redrawn in place on a terminal, otherwise a
// plain line on the error stream at each quarter, so that standard output
// keeps one line per device.
class ProgressView {
 public:
  ProgressView(std::string label, std::uint64_t size, bool terminal)
      : m_label(std::move(label)), m_size(size), m_terminal(terminal) {}

  void Show(std::uint32_t acknowledged, std::uint32_t total) {
    const int percent = total == 0 ? 100 : static_cast<int>(std::uint64_t{acknowledged} * 100 / total);
    const std::uint64_t sent =
        std::min<std::uint64_t>(std::uint64_t{acknowledged} * upgrade::tftp::kBlockSize, m_size);
    if (m_terminal) {
      if (percent == m_shown) return;
      constexpr int kWidth = 30;
      const int filled = percent * kWidth / 100;
      std::printf("\r%s [%s%s] %3d%% %llu of %llu bytes", m_label.c_str(), std::string(filled, '#').c_str(),
                  std::string(kWidth - filled, '.').c_str(), percent, static_cast<unsigned long long>(sent),
                  static_cast<unsigned long long>(m_size));
      std::fflush(stdout);
      m_drawn = true;
    } else {
      if (percent / 25 == m_shown / 25) return;
      std::cerr << m_label << ": " << percent << "% (" << sent << " of " << m_size << " bytes)\n";
    }
    m_shown = percent;
  }
  // Clears the bar's line for the device's result line.
  void Finish() {
    if (!m_drawn) return;
    std::printf("\r%*s\r", static_cast<int>(m_label.size()) + 70, "");
    std::fflush(stdout);
  }

 private:
  std::string m_label;
  std::uint64_t m_size;
  bool m_terminal;
  int m_shown = -1;
  bool m_drawn = false;
};

bool SendUpgradeRequest(const FoundDevice& device, std::string& error) {
  const Bytes request = protocol::BuildUpgradeRequest(
      protocol::NameOfRecord(device.bytes), protocol::MacOfRecord(device.bytes), device.portCount == 2);
  tk::BlockingUdpSocket socket;
  if (!socket.Open() || !socket.Bind(0) ||
      oplog::SendTo(socket, request.data(), static_cast<int>(request.size()), protocol::kDeviceUnicastPort,
                    device.address) != static_cast<int>(request.size())) {
    error = "cannot send the upgrade request";
    return false;
  }
  return true;
}

// The image as read and checked once before the first device hears of it:
// every device gets those bytes, whatever happens to the file meanwhile.
class CheckedImage : public upgrade::FileSource {
 public:
  Bytes bytes;
  std::optional<std::uint64_t> Size() override { return bytes.size(); }
  bool ReadAll(Bytes& out) override {
    out = bytes;
    return true;
  }
};

struct UpgradeJob {
  std::string imagePath;
  CheckedImage image;
  const std::string* serverAddress = nullptr;  // --server-addr
  ComeBackTiming restart;
  bool terminal = false;
};

// Why the boot ports could not be had, for the run's last word.
std::string PortFailure(upgrade::ServeStatus status) {
  switch (status) {
    case upgrade::ServeStatus::Port67InUse:
      return "cannot open UDP port 67 (BOOTP): another program holds it (on Linux it also needs root)";
    case upgrade::ServeStatus::Port69InUse:
      return "cannot open UDP port 69 (TFTP) or a transfer port: another program holds it (on Linux it also "
             "needs root)";
    default:
      return "cannot open the boot server's sockets: " + upgrade::ServeStatusMessage(status);
  }
}

oplog::Protocol LoggedAs(upgrade::Channel channel) {
  return channel == upgrade::Channel::Bootp ? oplog::Protocol::Bootp : oplog::Protocol::Tftp;
}

// One device's view of the boot server: the BOOTP and TFTP sockets are the
// server's, shared by every device; the transfer socket is the device's own.
class MemberTransport : public upgrade::BootTransport {
 public:
  MemberTransport(tk::BlockingUdpSocket& bootp, tk::BlockingUdpSocket& tftp) : m_bootp(bootp), m_tftp(tftp) {}
  OpenResult Open(upgrade::Channel channel) override {
    if (channel != upgrade::Channel::Transfer) return OpenResult::Ok;
    if (!transfer.Open()) return OpenResult::CannotCreate;
    if (!transfer.Bind(0)) {
      transfer.Close();
      return OpenResult::InUse;
    }
    return OpenResult::Ok;
  }
  void Close(upgrade::Channel channel) override {
    if (channel == upgrade::Channel::Transfer) transfer.Close();
  }
  int Receive(upgrade::Channel, int, upgrade::Datagram&) override { return 0; }
  bool Send(upgrade::Channel channel, std::uint32_t address, unsigned port,
            upgrade::ByteView bytes) override {
    tk::BlockingUdpSocket& s = channel == upgrade::Channel::Bootp  ? m_bootp
                               : channel == upgrade::Channel::Tftp ? m_tftp
                                                                   : transfer;
    return oplog::SendTo(s, bytes.data(), static_cast<int>(bytes.size()), port, tk::InetNtoa(address),
                         LoggedAs(channel)) == static_cast<int>(bytes.size());
  }
  tk::BlockingUdpSocket transfer;

 private:
  tk::BlockingUdpSocket& m_bootp;
  tk::BlockingUdpSocket& m_tftp;
};

// One datagram of at most 516 bytes; false when none could be had whole.
bool ReceiveOne(tk::BlockingUdpSocket& socket, upgrade::Channel channel, upgrade::Datagram& out) {
  Bytes buffer(upgrade::tftp::kDatagramSize, 0);
  std::string address;
  unsigned port = 0;
  const int n = oplog::ReceiveFrom(socket, buffer.data(), static_cast<int>(buffer.size()), address, port,
                                   LoggedAs(channel));
  if (n < 0) return false;
  buffer.resize(static_cast<std::size_t>(n));
  out = upgrade::Datagram{std::move(buffer), tk::InetAddr(address), port};
  return true;
}

// One device of the run, from its search reply to its result line.
struct Member {
  enum class State { Unserved, Serving, Delivered, Done };
  std::string target;
  FoundDevice device;
  protocol::MacAddress mac{};
  std::uint32_t address = 0;
  State state = State::Unserved;
  bool upgraded = false;
  bool reported = false;  // its end handed on
  std::string line;
  std::unique_ptr<MemberTransport> transport;
  std::unique_ptr<upgrade::BootSession> session;
  std::unique_ptr<ProgressView> view;
  std::chrono::steady_clock::time_point deliveredAt;
  std::string Who() const { return device.MacText() + " (" + device.address + ")"; }
};

// The boot server of the run: one BOOTP and one TFTP listener for every
// device, each device's exchange answered by its own session, so a device
// that is lost, silent or failing holds up no other.
class Fleet {
 public:
  Fleet(UpgradeJob& job, std::vector<Member>& members, int parallel)
      : m_job(job), m_members(members), m_parallel(parallel) {}

  // False with `error` set when the shared ports cannot be had (no device told).
  bool Open(std::string& error) {
    if (!m_bootp.Open() || !m_bootp.SetBroadcast(true)) {
      error = PortFailure(upgrade::ServeStatus::SocketError);
      return false;
    }
    if (!m_bootp.Bind(upgrade::bootp::kServerPort)) {
      error = PortFailure(upgrade::ServeStatus::Port67InUse);
      return false;
    }
    if (!m_tftp.Open()) {
      error = PortFailure(upgrade::ServeStatus::SocketError);
      return false;
    }
    if (!m_tftp.Bind(upgrade::tftp::kServerPort)) {
      error = PortFailure(upgrade::ServeStatus::Port69InUse);
      return false;
    }
    return true;
  }

  // Serves every found device, at most `parallel` at once, until each has
  // its image or has failed.
  void Serve(const std::function<void(Member&)>& finished) {
    std::size_t next = 0;
    for (;;) {
      int serving = 0;
      for (Member& m : m_members) serving += m.state == Member::State::Serving ? 1 : 0;
      while (serving < m_parallel && next < m_members.size()) {
        Member& m = m_members[next++];
        if (m.state != Member::State::Unserved) continue;
        if (Start(m)) {
          ++serving;
        } else {
          finished(m);
        }
      }
      if (serving == 0 && next == m_members.size()) return;
      WaitAndDeliver();
      for (Member& m : m_members) {
        if (m.state == Member::State::Serving) {
          if (std::optional<upgrade::ServeStatus> end = m.session->Tick()) Ended(m, *end);
        }
        if (m.state != Member::State::Serving && m.session && !m.reported) {
          m.reported = true;
          finished(m);
        }
      }
    }
  }

 private:
  bool Start(Member& m) {
    std::string server;
    if (m_job.serverAddress) {
      server = *m_job.serverAddress;
    } else if (!LocalAddressToward(m.device.address, server)) {
      return Fail(m, m.Who() + ": no local address leads to it (give --server-addr)");
    }
    upgrade::BootServeSettings settings;
    settings.firmwarePath = m_job.imagePath;
    settings.clientAddress = m.address;
    settings.serverAddress = tk::InetAddr(server);
    settings.clientMac = m.mac;
    m.transport = std::make_unique<MemberTransport>(m_bootp, m_tftp);
    m.session = std::make_unique<upgrade::BootSession>(settings, *m.transport, m_clock, m_job.image);
    if (const upgrade::ServeStatus prepared = m.session->Prepare();
        prepared != upgrade::ServeStatus::Success) {
      return Fail(m, m.Who() + ": " + PortFailure(prepared));
    }
    std::string error;
    if (!SendUpgradeRequest(m.device, error)) return Fail(m, m.Who() + ": " + error);
    m.view = std::make_unique<ProgressView>(m.target, m_job.image.bytes.size(), m_job.terminal);
    ProgressView* view = m.view.get();
    m.session->Begin([view](std::uint32_t a, std::uint32_t t) { view->Show(a, t); });
    m.state = Member::State::Serving;
    return true;
  }

  bool Fail(Member& m, std::string line) {
    m.line = std::move(line);
    m.state = Member::State::Done;
    return false;
  }

  void Ended(Member& m, upgrade::ServeStatus status) {
    m.view->Finish();
    if (status == upgrade::ServeStatus::Success) {
      m.state = Member::State::Delivered;
      m.deliveredAt = std::chrono::steady_clock::now();
    } else {
      Fail(m, m.Who() + ": " + upgrade::ServeStatusMessage(status));
    }
  }

  Member* ServingWith(const std::function<bool(const Member&)>& match) {
    for (Member& m : m_members) {
      if (m.state == Member::State::Serving && match(m)) return &m;
    }
    return nullptr;
  }

  // Waits for a datagram until the earliest time a session has something to
  // do, and hands what came to the session it belongs to.
  void WaitAndDeliver() {
    const std::uint64_t now = m_clock.NowUs();
    std::uint64_t due = now + 100'000;
    std::vector<tk::BlockingUdpSocket*> sockets{&m_bootp, &m_tftp};
    std::vector<Member*> owners{nullptr, nullptr};
    for (Member& m : m_members) {
      if (m.state != Member::State::Serving) continue;
      due = std::min(due, m.session->NextDueUs());
      sockets.push_back(&m.transport->transfer);
      owners.push_back(&m);
    }
    std::vector<bool> readable;
    const int waitMs = due > now ? static_cast<int>((due - now + 999) / 1000) : 0;
    if (tk::BlockingUdpSocket::WaitAnyReadable(sockets, waitMs, readable) <= 0) return;
    for (std::size_t i = 0; i < sockets.size(); ++i) {
      const upgrade::Channel channel = i == 0   ? upgrade::Channel::Bootp
                                       : i == 1 ? upgrade::Channel::Tftp
                                                : upgrade::Channel::Transfer;
      upgrade::Datagram d;
      if (!readable[i] || !ReceiveOne(*sockets[i], channel, d)) continue;
      Member* m = owners[i];
      if (i == 0) {
        // A BOOTP request goes to the device whose hardware address it
        // names; anyone else's is ignored.
        if (!upgrade::IsBootpRequest(d.bytes) ||
            d.bytes.size() < upgrade::bootp::kChaddr + protocol::kMacSize) {
          continue;
        }
        m = ServingWith([&](const Member& x) {
          return std::equal(x.mac.begin(), x.mac.end(), d.bytes.begin() + upgrade::bootp::kChaddr);
        });
      } else if (i == 1) {
        // A read request goes to the device at the address it was offered.
        m = ServingWith([&](const Member& x) { return x.address == d.address; });
      }
      if (m == nullptr || m->state != Member::State::Serving) continue;
      if (std::optional<upgrade::ServeStatus> end = m->session->Deliver(channel, d)) Ended(*m, *end);
    }
  }

  UpgradeJob& m_job;
  std::vector<Member>& m_members;
  int m_parallel;
  upgrade::SteadyBootClock m_clock;
  tk::BlockingUdpSocket m_bootp, m_tftp;
};

// A found device's result line without the device in front, as the log's
// lines name it in a field of their own.
std::string WithoutWho(const Member& m) {
  const std::string who = m.Who();
  if (m.line.rfind(who, 0) != 0) return m.line;
  const std::string rest = m.line.substr(who.size());
  return rest.starts_with(": ") ? rest.substr(2) : rest.starts_with(" ") ? rest.substr(1) : rest;
}

// The found devices of the targets: one broadcast search for all, then each
// target not among its answers asked on its own.
void FindMembers(const std::vector<std::string>& targets, int waitMs, std::vector<Member>& members) {
  std::vector<FoundDevice> found;
  SearchOptions options;
  options.waitMs = waitMs;
  if (Search(options, found).Failed()) found.clear();
  for (const std::string& target : targets) {
    Member m;
    m.target = target;
    protocol::MacAddress mac{};
    const bool byMac = protocol::ParseMacText(target, mac);
    const std::string macText = byMac ? protocol::MacText(mac) : std::string();
    const auto it = std::find_if(found.begin(), found.end(), [&](const FoundDevice& f) {
      return byMac ? f.MacText() == macText : f.address == target;
    });
    Fault fault;
    if (it != found.end()) {
      m.device = *it;
    } else {
      fault = FindTarget(target, waitMs, m.device);
    }
    if (fault.Failed()) {
      m.line = fault.message;
      m.state = Member::State::Done;
    } else {
      m.mac = protocol::MacOfRecord(m.device.bytes);
      m.address = tk::InetAddr(m.device.address);
    }
    members.push_back(std::move(m));
  }
}

// The image must be whole and small enough for the boot loader before any
// device hears of it.
Fault CheckImage(const std::string& path, Bytes& bytes) {
  const fileio::ReadResult read = fileio::ReadWholeFile(path, upgrade::kMaxImageSize);
  switch (read.fault) {
    case fileio::FileFault::None:
      bytes.assign(read.data.begin(), read.data.end());
      return {};
    case fileio::FileFault::TooLarge:
      return {Failure::File, "the image " + path + " is larger than the boot loader takes (at most " +
                                 std::to_string(upgrade::kMaxImageSize) + " bytes)"};
    default:
      return {Failure::File, "cannot read the image " + path + ": " + fileio::DescribeFileFault(read.fault)};
  }
}

}  // namespace

Fault RunUpgrade(const Options& o) {
  UpgradeJob job;
  job.imagePath = o.image;
  job.serverAddress = o.serverAddress ? &*o.serverAddress : nullptr;
  job.restart.limitMs = o.restartWaitMs ? *o.restartWaitMs : kUpgradeRestartWaitMs;
  if (Fault fault = CheckImage(job.imagePath, job.image.bytes); fault.Failed()) return fault;
  const std::string question = "Upgrade the firmware of " + std::to_string(o.targets.size()) +
                               " device(s) with " + job.imagePath + "?";
  if (!Confirmed(o, question)) return {Failure::NotConfirmed, ""};
  // A bar redrawn in place suits one device only; several report quarters.
  job.terminal = StdoutIsTerminal() && o.targets.size() == 1;

  std::vector<Member> members;
  FindMembers(o.targets, o.waitMs, members);
  const auto print = [](const Member& m) {
    std::cout << m.target << ": " << (m.upgraded ? "" : "FAILED, ") << m.line << "\n" << std::flush;
    if (m.device.address.empty()) {
      oplog::Event("failed", m.target, m.line);
    } else {
      oplog::Event(m.upgraded ? "ok" : "failed", m.Who(), WithoutWho(m));
    }
  };
  const auto summary = [&] {
    int upgraded = 0;
    std::string failed;
    for (const Member& m : members) {
      if (m.upgraded) {
        ++upgraded;
      } else {
        failed += (failed.empty() ? "" : ", ") + m.target;
      }
    }
    std::cout << upgraded << " of " << members.size() << " device(s) upgraded"
              << (failed.empty() ? "" : "; failed: " + failed) << "\n";
    return upgraded == static_cast<int>(members.size());
  };
  for (const Member& m : members) {
    if (m.state == Member::State::Done) print(m);
  }
  const bool anyFound = std::any_of(members.begin(), members.end(),
                                    [](const Member& m) { return m.state == Member::State::Unserved; });
  if (anyFound) {
    // The device is told nothing until the server holds its ports: a port that
    // cannot be had stops the run with no request sent.
    Fleet fleet(job, members, std::max(1, o.parallel));
    std::string error;
    if (!fleet.Open(error)) {
      std::cout << 0 << " of " << members.size() << " device(s) upgraded\n";
      return {Failure::Network, error};
    }
    fleet.Serve([&](Member& m) {
      if (m.state == Member::State::Done) print(m);
    });
  }

  // Every delivered device restarts; all are waited for together.
  std::vector<ComeBack> waiting;
  std::vector<Member*> delivered;
  for (Member& m : members) {
    if (m.state != Member::State::Delivered) continue;
    waiting.push_back(ComeBack{m.device, {}, false, false, {}});
    delivered.push_back(&m);
  }
  std::string error;
  if (!waiting.empty()) AwaitComeBack(waiting, job.restart, error);
  for (std::size_t i = 0; i < delivered.size(); ++i) {
    Member& m = *delivered[i];
    const upgrade::BootServeStats& stats = m.session->Stats();
    const std::string what = std::to_string(job.image.bytes.size()) + " bytes delivered (" +
                             std::to_string(stats.blocks) + " blocks, " +
                             std::to_string(stats.retransmissions) + " sent again)";
    if (!waiting[i].back) {
      m.line = m.Who() + ": " + what + ", but it did not answer again within " +
               SecondsText(job.restart.limitMs) + " s" + (error.empty() ? "" : " (" + error + ")");
    } else {
      // The device's reply names no firmware version, so none can be reported.
      const auto tenths = std::chrono::duration_cast<std::chrono::milliseconds>(
                              std::chrono::steady_clock::now() - m.deliveredAt)
                              .count() /
                          100;
      m.upgraded = true;
      m.line = m.Who() + " upgraded: " + what + ", answering again after " + std::to_string(tenths / 10) +
               "." + std::to_string(tenths % 10) + " s";
    }
    print(m);
  }
  if (!summary()) return {Failure::DeviceFailed, ""};
  return {};
}

}  // namespace corvanectl
