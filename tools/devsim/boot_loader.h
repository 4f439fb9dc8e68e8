// The boot loader's network client: a BOOTP request (RFC 951) broadcast from
// port 68 to port 67, then a TFTP read (RFC 1350) of the file the reply names
// from the server the reply names. An engine without sockets or clock: it is
// fed datagrams and the time, and hands back the datagrams to send.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "corvane/protocol/packet.h"
#include "corvane/upgrade/boot_wire.h"

namespace devsim {

// The wire layouts are the program's own: one set of offsets for both sides.
namespace bootp = corvane::upgrade::bootp;
namespace tftp = corvane::upgrade::tftp;

struct BootLoaderSettings {
  corvane::protocol::MacAddress mac{};
  std::uint32_t xid = 0;
  int bootpRetryMs = 2000;
  int bootpTries = 5;
  int tftpTimeoutMs = 2000;
  int tftpTries = 5;
  std::set<int> dropDataBlocks;
  std::set<int> duplicateAckBlocks;
  int lossPercent = 0;     // DATA received and ACKs sent are lost this often
  int reorderPercent = 0;  // an ACK is held back this often and sent after the next one
  std::uint32_t faultSeed = 1;
  std::string broadcastAddress = "255.255.255.255";
  unsigned bootpServerPort = bootp::kServerPort;
  unsigned tftpServerPort = tftp::kServerPort;
};

struct BootLoaderSend {
  bool bootp = false;  // true: from port 68 to the broadcast address, port 67
  corvane::protocol::Bytes bytes;
  std::string address;
  unsigned port = 0;
};

class BootLoaderClient {
 public:
  enum class State { WaitingBootp, Transferring, Done, Failed };

  BootLoaderClient(BootLoaderSettings settings, std::function<void(const std::string&)> log);

  // Starts: the first BOOTP request.
  void Start(std::uint64_t now, std::vector<BootLoaderSend>& out);
  void OnBootp(corvane::protocol::ByteView bytes, std::uint64_t now, std::vector<BootLoaderSend>& out);
  void OnTftp(corvane::protocol::ByteView bytes, const std::string& from, unsigned port, std::uint64_t now,
              std::vector<BootLoaderSend>& out);
  void Tick(std::uint64_t now, std::vector<BootLoaderSend>& out);
  std::uint64_t NextDue() const;

  State state() const { return m_state; }
  const std::string& failure() const { return m_failure; }
  std::uint32_t offeredAddress() const { return m_yiaddr; }
  std::uint32_t serverAddress() const { return m_siaddr; }
  const std::string& fileName() const { return m_file; }
  const corvane::protocol::Bytes& image() const { return m_image; }

  // The BOOTP request this client broadcasts.
  corvane::protocol::Bytes BootpRequest() const;

 private:
  void Fail(const std::string& why);
  void SendLast(std::vector<BootLoaderSend>& out);
  void OnTftpAfterTheEnd(corvane::protocol::ByteView b, const std::string& from, unsigned port,
                         std::vector<BootLoaderSend>& out);
  void Acknowledge(std::uint16_t block, std::vector<BootLoaderSend>& out);
  void Finish();
  bool Chance(int percent);

  BootLoaderSettings m_settings;
  std::function<void(const std::string&)> m_log;
  State m_state = State::WaitingBootp;
  std::uint64_t m_deadline = 0;
  int m_tries = 0;
  std::uint32_t m_yiaddr = 0;
  std::uint32_t m_siaddr = 0;
  std::string m_file;
  int m_bootFileSize = -1;  // option 13, in 512-byte blocks; -1 when absent
  std::string m_serverTidAddress;
  unsigned m_serverTidPort = 0;
  std::uint32_t m_expected = 1;  // counts past 65535: the announced size bounds it
  std::set<int> m_dropped;
  BootLoaderSend m_last;
  std::optional<BootLoaderSend> m_heldAck;
  std::mt19937 m_random;
  corvane::protocol::Bytes m_image;
  std::string m_failure;
};

// FNV-1a of an image, logged with it so that a test can check it byte for byte.
std::uint32_t ImageDigest(corvane::protocol::ByteView image);

// The version an image announces: the printable text after "VERSION=", at most
// 32 characters; empty when the image has none.
std::string ImageVersion(corvane::protocol::ByteView image);

}  // namespace devsim
