// The send guard of the test programs: a datagram may leave a test's socket
// only towards loopback, or from a socket that lives in a network namespace
// other than the one the test process started in (a namespace the test made
// for itself). Anything else would reach the machine's real interfaces, so it
// is refused before it is sent and fails the running test.
//
// Every send path of the tests asks it: the headless backend's sockets and the
// simulator's (through the hooks Install() sets; the HeadlessTest fixture and
// the shared test main call it), and the tests' own raw sockets through
// GuardedSendTo.
#pragma once

#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/types.h>

#include <cstdint>
#include <string>

namespace testguard {

// Why a datagram from socket `fd` to `destination` (host order) must not
// leave; empty when it may.
std::string SendRefusal(int fd, std::uint32_t destination);

// sendto() behind the guard: a refused datagram is not sent, fails the
// running test with the reason, and the call returns -1 with errno EPERM.
ssize_t GuardedSendTo(int fd, const void* bytes, std::size_t length, int flags, const sockaddr_in& to);

// Puts the guard in front of the headless backend's and the simulator's sends
// for the rest of the process.
void Install();

// For the guard's own test: while it lives, the calling thread's network
// namespace counts as the one the process started in, so the guard can be
// tried inside a private namespace from which nothing could leave anyway.
class ScopedStartNamespace {
 public:
  ScopedStartNamespace();
  ~ScopedStartNamespace();
  ScopedStartNamespace(const ScopedStartNamespace&) = delete;
  ScopedStartNamespace& operator=(const ScopedStartNamespace&) = delete;
};

}  // namespace testguard
