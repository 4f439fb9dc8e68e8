// The send guard: loopback, or a network namespace of the test's own.
#include "send_guard.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "devsim/simulator.h"
#include "tk/headless.h"
#include "tk/socket.h"

namespace testguard {

namespace {

struct NamespaceId {
  dev_t device = 0;
  ino_t inode = 0;
  bool known = false;
  bool operator==(const NamespaceId& o) const {
    return known && o.known && device == o.device && inode == o.inode;
  }
};

NamespaceId IdOf(int fd) {
  struct stat st {};
  if (fd < 0 || ::fstat(fd, &st) != 0) return {};
  return {st.st_dev, st.st_ino, true};
}

NamespaceId IdOfPath(const char* path) {
  const int fd = ::open(path, O_RDONLY | O_CLOEXEC);
  const NamespaceId id = IdOf(fd);
  if (fd >= 0) ::close(fd);
  return id;
}

constexpr const char* kThreadNamespace = "/proc/thread-self/ns/net";

// Read while the process is starting, before any test can have moved a thread.
const NamespaceId g_processStartNamespace = IdOfPath("/proc/self/ns/net");
NamespaceId g_startNamespace = g_processStartNamespace;

// The namespace the socket itself lives in (it keeps the one it was created
// in, whatever thread sends); the calling thread's when the kernel will not
// tell (asking needs CAP_NET_ADMIN).
NamespaceId SocketNamespace(int fd) {
  const int nsFd = ::ioctl(fd, SIOCGSKNS);
  if (nsFd >= 0) {
    const NamespaceId id = IdOf(nsFd);
    ::close(nsFd);
    return id;
  }
  return IdOfPath(kThreadNamespace);
}

bool IsLoopback(std::uint32_t address) {
  return (address >> 24) == 127;
}

std::string Describe(std::uint32_t destination) {
  return tk::InetNtoa(destination);
}

}  // namespace

std::string SendRefusal(int fd, std::uint32_t destination) {
  if (IsLoopback(destination)) return {};
  if (!g_startNamespace.known) return "the test process's own network namespace is unknown";
  const NamespaceId socketNs = SocketNamespace(fd);
  if (!socketNs.known) return "the network namespace of the socket is unknown";
  if (socketNs == g_startNamespace) {
    return "a test socket in the machine's own network namespace tried to send to " + Describe(destination) +
           "; tests send to loopback, or from a network namespace of their own";
  }
  return {};
}

ssize_t GuardedSendTo(int fd, const void* bytes, std::size_t length, int flags, const sockaddr_in& to) {
  const std::string refusal = SendRefusal(fd, ntohl(to.sin_addr.s_addr));
  if (!refusal.empty()) {
    ADD_FAILURE() << "send refused: " << refusal;
    errno = EPERM;
    return -1;
  }
  return ::sendto(fd, bytes, length, flags, reinterpret_cast<const sockaddr*>(&to), sizeof to);
}

void Install() {
  tk::headless::SetSendGuard([](std::intptr_t socket, std::uint32_t address, unsigned) {
    return SendRefusal(static_cast<int>(socket), address);
  });
  devsim::SetSendGuard([](int fd, std::uint32_t destination) {
    const std::string refusal = SendRefusal(fd, destination);
    if (!refusal.empty()) ADD_FAILURE() << "simulator send refused: " << refusal;
    return refusal.empty();
  });
}

ScopedStartNamespace::ScopedStartNamespace() {
  g_startNamespace = IdOfPath(kThreadNamespace);
}

ScopedStartNamespace::~ScopedStartNamespace() {
  g_startNamespace = g_processStartNamespace;
}

}  // namespace testguard
