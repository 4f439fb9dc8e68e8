// bootserve: the program's boot-loader file exchange with real sockets.
//
//   bootserve --file F --client A --server A    answer one boot loader (BOOTP, then TFTP), as corvane does
//   bootserve --file F --tftp-only [--count N]  serve F to each read request (N of them; 0: until stopped)
//
// Prints one line per exchange with its outcome and figures; the exit status is
// 0 only when every exchange succeeded.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "corvane/upgrade/boot_io.h"
#include "tk/socket.h"

using namespace corvane::upgrade;

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: bootserve --file F (--client A --server A | --tftp-only [--count N])\n"
               "                 [--bootp-port P] [--tftp-port P]\n");
  return 2;
}

bool ParseAddress(const char* text, std::uint32_t& out) {
  out = tk::InetAddr(text);
  return out != 0xFFFFFFFFu || std::strcmp(text, "255.255.255.255") == 0;
}

}  // namespace

int main(int argc, char** argv) {
  BootServeSettings settings;
  std::string file;
  long count = 1;
  unsigned bootpPort = bootp::kServerPort, tftpPort = tftp::kServerPort;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    if (arg == "--tftp-only") {
      settings.answerBootp = false;
      count = 0;
      continue;
    }
    if (!value) return Usage();
    ++i;
    if (arg == "--file") {
      file = value;
    } else if (arg == "--client") {
      if (!ParseAddress(value, settings.clientAddress)) return Usage();
    } else if (arg == "--server") {
      if (!ParseAddress(value, settings.serverAddress)) return Usage();
    } else if (arg == "--count") {
      count = std::strtol(value, nullptr, 10);
    } else if (arg == "--bootp-port") {
      bootpPort = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else if (arg == "--tftp-port") {
      tftpPort = static_cast<unsigned>(std::strtoul(value, nullptr, 10));
    } else {
      return Usage();
    }
  }
  if (file.empty() || count < 0) return Usage();
  if (settings.answerBootp && (settings.clientAddress == 0 || settings.serverAddress == 0)) return Usage();
  settings.firmwarePath = file;

  bool allGood = true;
  for (long served = 0; count == 0 || served < count;) {
    SocketBootTransport transport(bootpPort, tftpPort);
    SteadyBootClock clock;
    DiskFile source(file);
    BootServeStats stats;
    const std::uint64_t start = clock.NowUs();
    const ServeStatus status = ServeBootImage(settings, transport, clock, source, {}, &stats);
    const double seconds = static_cast<double>(clock.NowUs() - start) / 1e6;
    // Waiting for a read request that does not come is no failure in this mode.
    if (!settings.answerBootp && status == ServeStatus::Timeout && stats.clientPort == 0) continue;
    ++served;
    const bool ok = status == ServeStatus::Success;
    allGood = allGood && ok;
    std::printf("%s: %s to %s:%u, %u blocks, %u sent again, %u ignored, %.3f s\n", ok ? "served" : "failed",
                ok ? file.c_str() : ServeStatusMessage(status).c_str(),
                tk::InetNtoa(stats.clientAddress).c_str(), stats.clientPort, stats.blocks,
                stats.retransmissions, stats.ignored, seconds);
    std::fflush(stdout);
    if (status == ServeStatus::Port67InUse || status == ServeStatus::Port69InUse ||
        status == ServeStatus::SocketError || status == ServeStatus::FileUnreadable ||
        status == ServeStatus::FileTooLarge)
      break;
  }
  return allGood ? 0 : 1;
}
