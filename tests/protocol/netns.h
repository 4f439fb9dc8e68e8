// Network namespaces for tests that send broadcast or multicast datagrams or
// bind the protocol's fixed ports: nothing of theirs reaches the machine's
// real interfaces. Names carry the process id; everything is deleted again.
#pragma once

#include <string>
#include <vector>

namespace testnet {

// A namespace of our own with its loopback up.
class Namespace {
 public:
  explicit Namespace(const std::string& tag);
  ~Namespace();
  Namespace(const Namespace&) = delete;
  Namespace& operator=(const Namespace&) = delete;

  bool ok() const { return m_fd >= 0; }
  const std::string& name() const { return m_name; }
  const std::string& error() const { return m_error; }
  int fd() const { return m_fd; }
  // Runs "ip -n <name> <args>"; true on success.
  bool Ip(const std::string& args) const;

 private:
  std::string m_name;
  std::string m_error;
  int m_fd = -1;
};

// Moves the calling thread into a namespace until destroyed. Sockets created
// meanwhile stay in that namespace for their whole life.
class Enter {
 public:
  explicit Enter(const Namespace& ns);
  ~Enter();
  Enter(const Enter&) = delete;
  Enter& operator=(const Enter&) = delete;
  bool ok() const { return m_ok; }

 private:
  int m_back = -1;
  bool m_ok = false;
};

// A "pc" namespace and a "dev" namespace joined by a veth pair: the PC side
// has 198.51.100.1/24, the device side the given addresses (198.51.100.x).
// Both sides route everything over the pair, so limited broadcast and
// multicast reach the other side and go nowhere else.
class PcDevNetwork {
 public:
  static constexpr const char* kPcAddress = "198.51.100.1";
  explicit PcDevNetwork(const std::vector<std::string>& deviceAddresses);
  bool ok() const { return m_ok; }
  const std::string& error() const { return m_error; }
  Namespace pc;
  Namespace dev;

 private:
  bool m_ok = false;
  std::string m_error;
};

}  // namespace testnet
