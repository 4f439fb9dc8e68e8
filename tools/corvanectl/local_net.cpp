// The platform side of local_net.h: adapter lists from getifaddrs (Linux) or
// GetAdaptersInfo (Windows), and the route to a device from a connected
// datagram socket on both.
#include "corvanectl/local_net.h"

#include <cstdint>
#include <cstdio>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <winsock2.h>
#include <ws2tcpip.h>
// iphlpapi.h needs the socket declarations above it.
#include <iphlpapi.h>
#else
#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "corvane/protocol/packet.h"

namespace corvanectl {

namespace {

// The window toolkit's headers cannot sit beside the platform's: the dotted
// forms are made here. Addresses are in host order.
std::string Dotted(std::uint32_t a) {
  char text[16];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", a >> 24, (a >> 16) & 0xFFu, (a >> 8) & 0xFFu, a & 0xFFu);
  return text;
}

// 0 for anything but a dotted address (0.0.0.0 is no use here either).
std::uint32_t ParseDotted(const char* text) {
  unsigned b[4];
  char tail = 0;
  if (std::sscanf(text, "%3u.%3u.%3u.%3u%c", &b[0], &b[1], &b[2], &b[3], &tail) != 4) return 0;
  if (b[0] > 255 || b[1] > 255 || b[2] > 255 || b[3] > 255) return 0;
  return (b[0] << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

// address | ~mask, or nothing for a host route (mask /32 or /31) or no address.
bool DirectedBroadcast(std::uint32_t address, std::uint32_t mask, std::string& broadcast) {
  if (address == 0 || (~mask) <= 1u) return false;
  broadcast = Dotted(address | ~mask);
  return true;
}

#ifdef _WIN32
using NativeSocket = SOCKET;
constexpr NativeSocket kNoSocket = INVALID_SOCKET;
void CloseNative(NativeSocket s) {
  ::closesocket(s);
}
#else
using NativeSocket = int;
constexpr NativeSocket kNoSocket = -1;
void CloseNative(NativeSocket s) {
  ::close(s);
}
#endif

}  // namespace

#ifdef _WIN32

bool ListBroadcastAdapters(std::vector<LocalAdapter>& adapters, std::string& error) {
  adapters.clear();
  ULONG size = 0;
  std::vector<unsigned char> buffer;
  DWORD result = ERROR_BUFFER_OVERFLOW;
  // The list may grow between the size query and the call: ask a few times.
  for (int tries = 0; tries < 4 && result == ERROR_BUFFER_OVERFLOW; ++tries) {
    buffer.assign(size == 0 ? sizeof(IP_ADAPTER_INFO) : size, 0);
    size = static_cast<ULONG>(buffer.size());
    result = ::GetAdaptersInfo(reinterpret_cast<IP_ADAPTER_INFO*>(buffer.data()), &size);
  }
  if (result == ERROR_NO_DATA) return true;
  if (result != ERROR_SUCCESS) {
    error = "cannot list the network adapters (error " + std::to_string(result) + ")";
    return false;
  }
  for (auto* a = reinterpret_cast<const IP_ADAPTER_INFO*>(buffer.data()); a != nullptr; a = a->Next) {
    for (const IP_ADDR_STRING* ip = &a->IpAddressList; ip != nullptr; ip = ip->Next) {
      const std::uint32_t address = ParseDotted(ip->IpAddress.String);
      const std::uint32_t mask = ParseDotted(ip->IpMask.String);
      LocalAdapter adapter{a->Description, ip->IpAddress.String, {}};
      if (DirectedBroadcast(address, mask, adapter.broadcast)) {
        adapters.push_back(adapter);
      }
    }
  }
  return true;
}

#else

bool ListBroadcastAdapters(std::vector<LocalAdapter>& adapters, std::string& error) {
  adapters.clear();
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) {
    error = "cannot list the network adapters";
    return false;
  }
  for (const ifaddrs* i = list; i != nullptr; i = i->ifa_next) {
    if (!i->ifa_addr || i->ifa_addr->sa_family != AF_INET || !i->ifa_netmask) continue;
    if (!(i->ifa_flags & IFF_UP) || (i->ifa_flags & IFF_LOOPBACK) || !(i->ifa_flags & IFF_BROADCAST))
      continue;
    const auto* in = reinterpret_cast<const sockaddr_in*>(i->ifa_addr);
    const auto* mask = reinterpret_cast<const sockaddr_in*>(i->ifa_netmask);
    const std::uint32_t address = ntohl(in->sin_addr.s_addr);
    LocalAdapter adapter{i->ifa_name, Dotted(address), {}};
    if (DirectedBroadcast(address, ntohl(mask->sin_addr.s_addr), adapter.broadcast))
      adapters.push_back(adapter);
  }
  ::freeifaddrs(list);
  return true;
}

#endif

bool LocalAddressToward(const std::string& remote, std::string& local) {
  const std::uint32_t to = ParseDotted(remote.c_str());
  if (to == 0 || to == 0xFFFFFFFFu) return false;
  const NativeSocket s = ::socket(AF_INET, SOCK_DGRAM, IPPROTO_UDP);
  if (s == kNoSocket) return false;
  sockaddr_in peer{};
  peer.sin_family = AF_INET;
  peer.sin_port = htons(static_cast<std::uint16_t>(corvane::protocol::kDeviceUnicastPort));
  peer.sin_addr.s_addr = htonl(to);
  sockaddr_in self{};
  socklen_t length = sizeof self;
  const bool ok = ::connect(s, reinterpret_cast<const sockaddr*>(&peer), sizeof peer) == 0 &&
                  ::getsockname(s, reinterpret_cast<sockaddr*>(&self), &length) == 0 &&
                  self.sin_addr.s_addr != 0;
  CloseNative(s);
  if (ok) local = Dotted(ntohl(self.sin_addr.s_addr));
  return ok;
}

}  // namespace corvanectl
