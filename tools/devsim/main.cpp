// devsim: simulated device servers for the manager, from a JSON file.
#include <csignal>
#include <cstdio>
#include <cstring>
#include <string>

#include "devsim/config.h"
#include "devsim/simulator.h"

namespace {

volatile std::sig_atomic_t g_stop = 0;
void OnSignal(int) {
  g_stop = 1;
}

void PrintUsage(std::FILE* to) {
  std::fprintf(to,
               "Usage: devsim --config FILE [--quiet]\n"
               "Simulates the device servers listed in FILE: each answers searches by broadcast (UDP 25122)\n"
               "and multicast (group from FILE, UDP 25123), and unicast requests at its own address (UDP\n"
               "25124): search and status query, set, restore, reboot and upgrade with a BOOTP/TFTP boot\n"
               "loader. Each serial port in server mode listens on its data port (TCP and/or UDP) and\n"
               "plays its serial line: echo, and a side channel (a unix socket) for what the serial\n"
               "device sends and receives. Every datagram, data chunk and state change is printed;\n"
               "--quiet prints only errors.\n"
               "Runs until interrupted. Exit status: 0 after an interrupt, 1 when a device cannot start,\n"
               "2 for a bad command line or configuration.\n\n%s",
               devsim::ConfigHelp());
}

}  // namespace

int main(int argc, char** argv) {
  std::string configPath;
  bool quiet = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    if (arg == "--help" || arg == "-h") {
      PrintUsage(stdout);
      return 0;
    } else if (arg == "--config" && i + 1 < argc) {
      configPath = argv[++i];
    } else if (arg == "--quiet") {
      quiet = true;
    } else {
      std::fprintf(stderr, "devsim: unknown argument \"%s\"\n", arg.c_str());
      PrintUsage(stderr);
      return 2;
    }
  }
  if (configPath.empty()) {
    std::fprintf(stderr, "devsim: --config FILE is required\n");
    PrintUsage(stderr);
    return 2;
  }
  devsim::SimulatorConfig config;
  std::string error;
  if (!devsim::LoadConfigFile(configPath, config, error)) {
    std::fprintf(stderr, "devsim: %s\n", error.c_str());
    return 2;
  }
  devsim::SimulatorOptions options;
  options.multicastGroup = config.multicastGroup;
  options.keepLog = false;
  options.serveData = true;
  options.onLog = [quiet](const devsim::LogEntry& e) {
    const bool problem =
        e.text.find("cannot") != std::string::npos || e.text.find("failed") != std::string::npos;
    if (quiet && !problem) return;
    std::printf("%8llu %s: %s\n", static_cast<unsigned long long>(e.timeMs), e.device.c_str(),
                e.text.c_str());
    std::fflush(stdout);
  };
  devsim::Simulator sim(options);
  for (const auto& device : config.devices) {
    if (!sim.AddDevice(device, &error)) {
      std::fprintf(stderr, "devsim: device \"%s\" cannot start: %s\n", device.record.name.c_str(),
                   error.c_str());
      return 1;
    }
  }
  std::signal(SIGINT, OnSignal);
  std::signal(SIGTERM, OnSignal);
  std::printf("devsim: %d device(s) ready\n", sim.DeviceCount());
  std::fflush(stdout);
  while (!g_stop) sim.Poll(50);
  return 0;
}
