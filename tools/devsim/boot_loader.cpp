// The boot loader's BOOTP and TFTP client.
#include "devsim/boot_loader.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "devsim/address.h"

namespace devsim {

using namespace corvane::protocol;

namespace {

void Put32(Bytes& b, std::size_t offset, std::uint32_t v) {
  PutIPv4(b, offset, v);
}

// Option 13 from the options area of a BOOTP reply of `length` bytes; -1 when
// absent. Every option's length is checked against the datagram.
int FindBootFileSize(ByteView b) {
  if (b.size() < bootp::kOptions || GetIPv4(b, bootp::kCookie) != bootp::kMagicCookie) return -1;
  std::size_t at = bootp::kOptions;
  while (at < b.size()) {
    const std::uint8_t code = b[at];
    if (code == bootp::kOptionEnd) break;
    if (code == bootp::kOptionPad) {
      ++at;
      continue;
    }
    if (at + 1 >= b.size()) break;
    const std::size_t len = b[at + 1];
    if (at + 2 + len > b.size()) break;
    if (code == bootp::kOptionBootFileSize && len == 2) return Get16(b, at + 2);
    at += 2 + len;
  }
  return -1;
}

}  // namespace

BootLoaderClient::BootLoaderClient(BootLoaderSettings settings, std::function<void(const std::string&)> log)
    : m_settings(std::move(settings)), m_log(std::move(log)), m_random(m_settings.faultSeed) {}

bool BootLoaderClient::Chance(int percent) {
  return percent > 0 && std::uniform_int_distribution<int>(0, 99)(m_random) < percent;
}

Bytes BootLoaderClient::BootpRequest() const {
  Bytes b(bootp::kRequestSize, 0);
  b[bootp::kOp] = bootp::kBootRequest;
  b[bootp::kHtype] = 1;  // Ethernet
  b[bootp::kHlen] = 6;
  Put32(b, bootp::kXid, m_settings.xid);
  Put16(b, bootp::kFlags, 0x8000);  // no address yet: answer by broadcast
  for (std::size_t i = 0; i < kMacSize; ++i) b[bootp::kChaddr + i] = m_settings.mac[i];
  Put32(b, bootp::kCookie, bootp::kMagicCookie);
  b[bootp::kOptions] = bootp::kOptionEnd;
  return b;
}

void BootLoaderClient::Start(std::uint64_t now, std::vector<BootLoaderSend>& out) {
  m_state = State::WaitingBootp;
  m_tries = 1;
  m_last = BootLoaderSend{true, BootpRequest(), m_settings.broadcastAddress, m_settings.bootpServerPort};
  m_deadline = now + static_cast<std::uint64_t>(m_settings.bootpRetryMs);
  m_log("boot loader: BOOTP request sent");
  out.push_back(m_last);
}

void BootLoaderClient::OnBootp(ByteView b, std::uint64_t now, std::vector<BootLoaderSend>& out) {
  if (m_state != State::WaitingBootp) return;
  if (b.size() < bootp::kOptions || b[bootp::kOp] != bootp::kBootReply) return;
  if (GetIPv4(b, bootp::kXid) != m_settings.xid) return;
  for (std::size_t i = 0; i < kMacSize; ++i) {
    if (b[bootp::kChaddr + i] != m_settings.mac[i]) return;
  }
  m_yiaddr = GetIPv4(b, bootp::kYiaddr);
  m_siaddr = GetIPv4(b, bootp::kSiaddr);
  m_file.clear();
  for (std::size_t i = 0; i < bootp::kFileSize && b[bootp::kFile + i] != 0; ++i)
    m_file += static_cast<char>(b[bootp::kFile + i]);
  m_bootFileSize = FindBootFileSize(b);
  m_log("boot loader: BOOTP reply: address " + Dotted(m_yiaddr) + ", server " + Dotted(m_siaddr) +
        ", file \"" + m_file + "\", boot file size " + std::to_string(m_bootFileSize));
  if (m_siaddr == 0) return Fail("BOOTP reply names no server");
  // Read request: opcode, file name, zero, mode, zero.
  Bytes rrq = {0, static_cast<std::uint8_t>(tftp::kRrq)};
  rrq.insert(rrq.end(), m_file.begin(), m_file.end());
  rrq.push_back(0);
  for (char c : std::string("octet")) rrq.push_back(static_cast<std::uint8_t>(c));
  rrq.push_back(0);
  m_state = State::Transferring;
  m_expected = 1;
  m_tries = 1;
  m_last = BootLoaderSend{false, rrq, Dotted(m_siaddr), m_settings.tftpServerPort};
  m_deadline = now + static_cast<std::uint64_t>(m_settings.tftpTimeoutMs);
  m_log("boot loader: TFTP read request sent");
  out.push_back(m_last);
}

void BootLoaderClient::OnTftp(ByteView b, const std::string& from, unsigned port, std::uint64_t now,
                              std::vector<BootLoaderSend>& out) {
  if (m_state == State::Done) return OnTftpAfterTheEnd(b, from, port, out);
  if (m_state != State::Transferring || b.size() < tftp::kHeaderSize) return;
  // Once the server's transfer port is known, a packet of any kind from
  // elsewhere is somebody else's and must not end this transfer (RFC 1350).
  if (m_serverTidPort != 0 && (from != m_serverTidAddress || port != m_serverTidPort)) {
    return m_log("boot loader: packet from an unknown transfer port " + from + ":" + std::to_string(port) +
                 " ignored");
  }
  const std::uint16_t opcode = Get16(b, 0);
  if (opcode == tftp::kError) return Fail("TFTP error " + std::to_string(Get16(b, 2)) + " from the server");
  if (opcode != tftp::kData) return m_log("boot loader: ignored TFTP opcode " + std::to_string(opcode));
  if (b.size() > tftp::kDatagramSize) return Fail("TFTP DATA longer than 516 bytes");
  if (m_serverTidPort == 0) {
    m_serverTidAddress = from;
    m_serverTidPort = port;
  }
  const std::uint16_t block = Get16(b, 2);
  if (m_settings.dropDataBlocks.count(block) != 0 && m_dropped.insert(block).second)
    return m_log("boot loader: DATA block " + std::to_string(block) + " dropped");
  if (Chance(m_settings.lossPercent))
    return m_log("boot loader: DATA block " + std::to_string(block) + " lost");
  if (m_expected > 1 && block == static_cast<std::uint16_t>(m_expected - 1)) {
    m_log("boot loader: DATA block " + std::to_string(block) + " again, acknowledged again");
    return Acknowledge(block, out);
  }
  if (block != static_cast<std::uint16_t>(m_expected)) {
    return Fail("DATA block " + std::to_string(block) + " arrived while block " + std::to_string(m_expected) +
                " was expected");
  }
  // The announced size is the image's bound: nothing beyond its last block,
  // and its last block must be the short one.
  const bool full = b.size() == tftp::kHeaderSize + tftp::kBlockSize;
  if (m_bootFileSize >= 0 && (m_expected > static_cast<std::uint32_t>(m_bootFileSize) ||
                              (full && m_expected == static_cast<std::uint32_t>(m_bootFileSize)))) {
    return Fail("DATA block " + std::to_string(m_expected) + " goes beyond the announced " +
                std::to_string(m_bootFileSize) + " blocks");
  }
  m_image.insert(m_image.end(), b.begin() + tftp::kHeaderSize, b.end());
  ++m_expected;
  m_tries = 1;
  m_deadline = now + static_cast<std::uint64_t>(m_settings.tftpTimeoutMs);
  Acknowledge(block, out);
  if (!full) Finish();
}

// A finished boot loader still acknowledges its last block when the server,
// which missed that acknowledgement, sends the block again.
void BootLoaderClient::OnTftpAfterTheEnd(ByteView b, const std::string& from, unsigned port,
                                         std::vector<BootLoaderSend>& out) {
  if (b.size() < tftp::kHeaderSize || from != m_serverTidAddress || port != m_serverTidPort) return;
  const std::uint16_t last = static_cast<std::uint16_t>(m_expected - 1);
  if (Get16(b, 0) == tftp::kData && Get16(b, 2) == last) Acknowledge(last, out);
}

void BootLoaderClient::Acknowledge(std::uint16_t block, std::vector<BootLoaderSend>& out) {
  Bytes ack(4, 0);
  Put16(ack, 0, tftp::kAck);
  Put16(ack, 2, block);
  m_last = BootLoaderSend{false, ack, m_serverTidAddress, m_serverTidPort};
  if (Chance(m_settings.lossPercent)) return m_log("boot loader: ACK " + std::to_string(block) + " lost");
  if (!m_heldAck && Chance(m_settings.reorderPercent)) {
    m_heldAck = m_last;  // goes out after the next acknowledgement
    return m_log("boot loader: ACK " + std::to_string(block) + " held back");
  }
  out.push_back(m_last);
  if (m_heldAck) {
    out.push_back(*m_heldAck);
    m_heldAck.reset();
  }
  if (m_settings.duplicateAckBlocks.count(block) != 0) {
    m_log("boot loader: ACK " + std::to_string(block) + " sent twice");
    out.push_back(m_last);
  }
}

void BootLoaderClient::Finish() {
  const int blocks = m_expected - 1;
  if (m_bootFileSize >= 0 && blocks != m_bootFileSize) {
    return Fail("image of " + std::to_string(blocks) + " blocks, the BOOTP reply announced " +
                std::to_string(m_bootFileSize));
  }
  if (m_image.empty()) return Fail("empty image");
  m_state = State::Done;
  char digest[16];
  std::snprintf(digest, sizeof digest, "%08x", ImageDigest(m_image));
  m_log("boot loader: image of " + std::to_string(m_image.size()) + " bytes received and checked, digest " +
        digest);
}

void BootLoaderClient::Tick(std::uint64_t now, std::vector<BootLoaderSend>& out) {
  if ((m_state != State::WaitingBootp && m_state != State::Transferring) || now < m_deadline) return;
  const int limit = m_state == State::WaitingBootp ? m_settings.bootpTries : m_settings.tftpTries;
  if (m_tries >= limit) {
    return Fail(m_state == State::WaitingBootp ? "no BOOTP reply" : "TFTP server silent");
  }
  ++m_tries;
  const int period = m_state == State::WaitingBootp ? m_settings.bootpRetryMs : m_settings.tftpTimeoutMs;
  m_deadline = now + static_cast<std::uint64_t>(period);
  m_log(m_state == State::WaitingBootp ? "boot loader: BOOTP request repeated"
                                       : "boot loader: timeout, last packet repeated");
  SendLast(out);
}

void BootLoaderClient::SendLast(std::vector<BootLoaderSend>& out) {
  out.push_back(m_last);
}

std::uint64_t BootLoaderClient::NextDue() const {
  if (m_state == State::WaitingBootp || m_state == State::Transferring) return m_deadline;
  return std::numeric_limits<std::uint64_t>::max();
}

void BootLoaderClient::Fail(const std::string& why) {
  m_state = State::Failed;
  m_failure = why;
  m_log("boot loader: upgrade failed: " + why);
}

std::uint32_t ImageDigest(ByteView image) {
  std::uint32_t h = 2166136261u;  // FNV-1a
  for (std::uint8_t b : image) h = (h ^ b) * 16777619u;
  return h;
}

std::string ImageVersion(ByteView image) {
  static const std::string kKey = "VERSION=";
  const auto it = std::search(image.begin(), image.end(), kKey.begin(), kKey.end());
  if (it == image.end()) return {};
  std::string version;
  for (auto p = it + static_cast<std::ptrdiff_t>(kKey.size()); p != image.end() && version.size() < 32; ++p) {
    if (*p < 0x21 || *p > 0x7E) break;  // printable text only
    version += static_cast<char>(*p);
  }
  return version;
}

}  // namespace devsim
