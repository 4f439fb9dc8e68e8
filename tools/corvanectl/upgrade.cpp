// upgrade: puts each device into its boot loader and serves it the firmware
// image with the window's own boot-loader exchange, one device after another.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <iostream>
#include <optional>
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
      socket.SendTo(request.data(), static_cast<int>(request.size()), protocol::kDeviceUnicastPort,
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

enum class Outcome { Upgraded, Failed, PortsUnavailable };

struct UpgradeJob {
  std::string imagePath;
  CheckedImage image;
  const std::string* serverAddress = nullptr;  // --server-addr
  int waitMs = 0;
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

Outcome UpgradeOne(UpgradeJob& job, const std::string& target, std::string& line) {
  FoundDevice device;
  if (Fault fault = FindTarget(target, job.waitMs, device); fault.Failed()) {
    line = fault.message;
    return Outcome::Failed;
  }
  const std::string who = device.MacText() + " (" + device.address + ")";
  std::string server;
  if (job.serverAddress) {
    server = *job.serverAddress;
  } else if (!LocalAddressToward(device.address, server)) {
    line = who + ": no local address leads to it (give --server-addr)";
    return Outcome::Failed;
  }
  upgrade::BootServeSettings settings;
  settings.firmwarePath = job.imagePath;
  settings.clientAddress = tk::InetAddr(device.address);
  settings.serverAddress = tk::InetAddr(server);
  // Only the device's own boot loader is answered: another DHCP client of the
  // LAN that asks first is offered nothing.
  settings.clientMac = protocol::MacOfRecord(device.bytes);
  // The device is told nothing until the exchange holds its ports: a port that
  // cannot be had stops the run with no request sent, and a boot loader that
  // asks at once finds its listeners.
  upgrade::SocketBootTransport transport;
  upgrade::SteadyBootClock clock;
  upgrade::BootExchange exchange(settings, transport, clock, job.image);
  if (const upgrade::ServeStatus prepared = exchange.Prepare(); prepared != upgrade::ServeStatus::Success) {
    line = PortFailure(prepared);
    return Outcome::PortsUnavailable;
  }
  if (!SendUpgradeRequest(device, line)) {
    line = who + ": " + line;
    return Outcome::Failed;
  }
  ProgressView view(target, job.image.bytes.size(), job.terminal);
  upgrade::BootServeStats stats;
  const upgrade::ServeStatus status =
      exchange.Serve([&](std::uint32_t a, std::uint32_t t) { view.Show(a, t); }, &stats);
  view.Finish();
  if (status != upgrade::ServeStatus::Success) {
    line = who + ": " + upgrade::ServeStatusMessage(status);
    return Outcome::Failed;
  }
  const std::string delivered = std::to_string(job.image.bytes.size()) + " bytes delivered (" +
                                std::to_string(stats.blocks) + " blocks, " +
                                std::to_string(stats.retransmissions) + " sent again)";
  const auto deliveredAt = std::chrono::steady_clock::now();
  std::vector<ComeBack> waiting{ComeBack{device, {}, false, false}};
  std::string error;
  if (!AwaitComeBack(waiting, job.restart, error) || !waiting[0].back) {
    line = who + ": " + delivered + ", but it did not answer again within " +
           SecondsText(job.restart.limitMs) + " s" + (error.empty() ? "" : " (" + error + ")");
    return Outcome::Failed;
  }
  // The device's reply names no firmware version, so none can be reported.
  const auto tenths =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - deliveredAt)
          .count() /
      100;
  line = who + " upgraded: " + delivered + ", answering again after " + std::to_string(tenths / 10) + "." +
         std::to_string(tenths % 10) + " s";
  return Outcome::Upgraded;
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
  job.waitMs = o.waitMs;
  job.restart.limitMs = o.restartWaitMs ? *o.restartWaitMs : kUpgradeRestartWaitMs;
  if (Fault fault = CheckImage(job.imagePath, job.image.bytes); fault.Failed()) return fault;
  const std::string question = "Upgrade the firmware of " + std::to_string(o.targets.size()) +
                               " device(s) with " + job.imagePath + "?";
  if (!Confirmed(o, question)) return {Failure::NotConfirmed, ""};
  job.terminal = StdoutIsTerminal();

  int upgraded = 0;
  const std::string summary = " of " + std::to_string(o.targets.size()) + " device(s) upgraded\n";
  for (const std::string& target : o.targets) {
    std::string line;
    const Outcome outcome = UpgradeOne(job, target, line);
    if (outcome == Outcome::PortsUnavailable) {
      // Every further device would fail the same way.
      std::cout << upgraded << summary;
      return {Failure::Network, line};
    }
    if (outcome == Outcome::Upgraded) ++upgraded;
    std::cout << target << ": " << (outcome == Outcome::Upgraded ? "" : "FAILED, ") << line << "\n"
              << std::flush;
  }
  std::cout << upgraded << summary;
  if (upgraded != static_cast<int>(o.targets.size())) return {Failure::DeviceFailed, ""};
  return {};
}

}  // namespace corvanectl
