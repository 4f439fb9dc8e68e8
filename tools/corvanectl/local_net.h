// What this PC's own network looks like to the command-line companion: its
// IPv4 adapters with a broadcast address, and the local address that leads to
// a device. The platform calls are in local_net.cpp only.
#pragma once

#include <string>
#include <vector>

namespace corvanectl {

struct LocalAdapter {
  std::string name;
  std::string address;    // dotted
  std::string broadcast;  // the adapter's directed broadcast address, dotted
};

// The adapters that are up, carry an IPv4 address and can broadcast; never
// loopback. False with `error` set when the platform cannot list them.
bool ListBroadcastAdapters(std::vector<LocalAdapter>& adapters, std::string& error);

// The local address the system would send from to reach `remote` (a connected
// datagram socket's own name; nothing is sent). False when no route leads there.
bool LocalAddressToward(const std::string& remote, std::string& local);

}  // namespace corvanectl
