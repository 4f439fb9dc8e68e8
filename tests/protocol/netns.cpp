// Test namespaces through the `ip` tool and setns().
#include "netns.h"

#include <fcntl.h>
#include <sched.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>

namespace testnet {

namespace {

std::atomic<int> g_counter{0};

bool Run(const std::string& command) {
  return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string UniqueSuffix() {
  return std::to_string(::getpid()) + "x" + std::to_string(g_counter++);
}

}  // namespace

Namespace::Namespace(const std::string& tag) : m_name("cvt-" + tag + "-" + UniqueSuffix()) {
  if (!Run("ip netns add " + m_name)) {
    m_error = "cannot create network namespace " + m_name + " (needs root and the ip tool)";
    m_name.clear();
    return;
  }
  m_fd = ::open(("/var/run/netns/" + m_name).c_str(), O_RDONLY | O_CLOEXEC);
  if (m_fd < 0 || !Ip("link set lo up")) m_error = "cannot open or set up namespace " + m_name;
}

Namespace::~Namespace() {
  if (m_fd >= 0) ::close(m_fd);
  if (!m_name.empty()) Run("ip netns del " + m_name);
}

bool Namespace::Ip(const std::string& args) const {
  return !m_name.empty() && Run("ip -n " + m_name + " " + args);
}

Enter::Enter(const Namespace& ns) {
  m_back = ::open("/proc/thread-self/ns/net", O_RDONLY | O_CLOEXEC);
  m_ok = m_back >= 0 && ns.ok() && ::setns(ns.fd(), CLONE_NEWNET) == 0;
}

Enter::~Enter() {
  if (m_back < 0) return;
  if (m_ok) ::setns(m_back, CLONE_NEWNET);
  ::close(m_back);
}

PcDevNetwork::PcDevNetwork(const std::vector<std::string>& deviceAddresses) : pc("pc"), dev("dev") {
  if (!pc.ok() || !dev.ok()) {
    m_error = pc.ok() ? dev.error() : pc.error();
    return;
  }
  const std::string suffix = UniqueSuffix();
  const std::string vp = "vp" + suffix;
  const std::string vd = "vd" + suffix;
  bool ok = Run("ip link add " + vp + " netns " + pc.name() + " type veth peer name " + vd + " netns " +
                dev.name());
  ok =
      ok && pc.Ip("addr add " + std::string(kPcAddress) + "/24 dev " + vp) && pc.Ip("link set " + vp + " up");
  for (const auto& address : deviceAddresses) ok = ok && dev.Ip("addr add " + address + "/24 dev " + vd);
  ok = ok && dev.Ip("link set " + vd + " up");
  ok = ok && pc.Ip("route add default dev " + vp) && dev.Ip("route add default dev " + vd);
  if (!ok) m_error = "cannot set up the veth pair " + vp + "/" + vd;
  m_ok = ok;
}

}  // namespace testnet
