// A simulated device server's reactions to management requests.
#include "devsim/device.h"

#include <algorithm>
#include <cstdio>
#include <limits>

#include "devsim/address.h"

namespace devsim {

using namespace corvane::protocol;

namespace {

bool ParseDotted(const std::string& text, std::uint32_t& value) {
  unsigned a = 0, b = 0, c = 0, d = 0;
  char tail = 0;
  if (std::sscanf(text.c_str(), "%u.%u.%u.%u%c", &a, &b, &c, &d, &tail) != 4) return false;
  if (a > 255 || b > 255 || c > 255 || d > 255) return false;
  value = (a << 24) | (b << 16) | (c << 8) | d;
  return true;
}

const char* ListenerName(Listener via) {
  switch (via) {
    case Listener::Broadcast:
      return "broadcast";
    case Listener::Multicast:
      return "multicast";
    case Listener::Unicast:
      return "unicast";
  }
  return "?";
}

}  // namespace

Device::Device(DeviceConfig config) : m_config(std::move(config)), m_record(m_config.record) {
  m_address = m_config.address.empty() ? Dotted(m_record.dynamicIp) : m_config.address;
  std::uint32_t ip = 0;
  if (ParseDotted(m_address, ip)) m_record.dynamicIp = ip;
  m_version = m_config.firmwareVersion;
  if (m_config.startInBootLoader) {
    m_phase = Phase::BootLoader;
    Note("waiting in the boot loader");
  }
}

void Device::Note(const std::string& text) {
  m_log.push_back(text);
}

std::vector<std::string> Device::TakeLog() {
  std::vector<std::string> log;
  log.swap(m_log);
  return log;
}

Bytes Device::Reply(std::uint8_t code) const {
  DeviceRecord r = m_record;
  r.code = code;
  r.flags &= kFlagAutoConnect;
  Bytes bytes = EncodeRecord(r);
  if (m_config.faults.wrongMagic) bytes[off::kMagic + 7] ^= 0x20;  // "MORKELAn"
  if (m_config.faults.oversizeReply > static_cast<int>(bytes.size()))
    bytes.resize(static_cast<std::size_t>(m_config.faults.oversizeReply), 0);
  return bytes;
}

bool Device::AddressedToMe(ByteView bytes) const {
  if (bytes.size() < off::kMac + kMacSize) return false;
  const MacAddress mac = MacOfRecord(bytes);
  if (m_phase == Phase::BootLoader) return mac == kBootLoaderMac || mac == m_record.mac;
  return mac == m_record.mac;
}

void Device::Answer(std::uint8_t code, const std::string& to, unsigned port, std::uint64_t now,
                    std::vector<Outgoing>& out) {
  if (m_config.faults.noAnswer) return Note("answer " + std::to_string(code) + " withheld (no-answer fault)");
  if (m_config.faults.dropReplies.count(code))
    return Note("answer " + std::to_string(code) + " dropped (drop-replies fault)");
  Outgoing o{Channel::Management, Reply(code), to, port,
             now + static_cast<std::uint64_t>(m_config.faults.replyDelayMs)};
  for (int i = 0; i <= m_config.faults.duplicateReplies; ++i) out.push_back(o);
  Note("answered code " + std::to_string(code) + " with " + std::to_string(o.bytes.size()) + " bytes to " +
       to + ":" + std::to_string(port));
}

// "8 bytes: 43 56 4E ..." style, upper case, one blank between bytes, so that
// a test can compare a request with the bytes it expects.
std::string Device::HexBytes(ByteView bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text = std::to_string(bytes.size()) + " bytes:";
  for (const std::uint8_t b : bytes) {
    text += ' ';
    text += kDigits[b >> 4];
    text += kDigits[b & 0x0F];
  }
  return text;
}

void Device::OnManagement(Listener via, ByteView bytes, const std::string& from, unsigned port,
                          std::uint64_t now, std::vector<Outgoing>& out) {
  const int code = bytes.size() > off::kCode ? bytes[off::kCode] : -1;
  Note(std::string("received ") + std::to_string(bytes.size()) + " bytes by " + ListenerName(via) + " from " +
       from + ":" + std::to_string(port) + ", code " + std::to_string(code));
  if (bytes.size() < kSearchRequestSize || !HasMagicAt(bytes, off::kMagic))
    return Note("ignored: not a request");
  if (m_phase == Phase::Restarting) return Note("ignored: restarting");
  if (m_phase == Phase::BootLoader) {
    if (via == Listener::Unicast && code == static_cast<int>(Command::Upgrade) && AddressedToMe(bytes) &&
        !m_bootLoader) {
      Note("upgrade request in the boot loader");
      EnterBootLoader(now);
    } else {
      Note("ignored: in the boot loader");
    }
    return;
  }
  if (via == Listener::Broadcast && !m_record.broadcastMgmt)
    return Note("ignored: broadcast management disabled");
  if (via == Listener::Multicast && !m_record.multicastMgmt)
    return Note("ignored: multicast management disabled");
  switch (code) {
    case static_cast<int>(Command::Search):
      return Answer(kReplySearch, from, port, now, out);
    case static_cast<int>(Command::Set):
      if (bytes.size() < kOnePortRecordSize || !AddressedToMe(bytes))
        return Note("ignored: set for another device");
      if (m_config.logSetRequests) Note("set request " + HexBytes(bytes));
      if (m_config.faults.ignoreSet) {
        Note("settings not applied (ignore-set fault)");
      } else {
        ApplySet(bytes);
      }
      Answer(kReplySet, from, port, now, out);
      return StartRestart(now, "settings written");
    case static_cast<int>(Command::Restore):
      if (!AddressedToMe(bytes)) return Note("ignored: restore for another device");
      Restore();
      Answer(kReplyRestore, from, port, now, out);
      return StartRestart(now, "factory settings restored");
    case static_cast<int>(Command::Reboot):
      if (!AddressedToMe(bytes)) return Note("ignored: reboot for another device");
      Answer(kReplyReboot, from, port, now, out);
      return StartRestart(now, "reboot requested");
    case static_cast<int>(Command::Upgrade):
      if (!AddressedToMe(bytes)) return Note("ignored: upgrade for another device");
      if (m_config.faults.ignoreUpgrade) return Note("ignored: upgrade request (fault)");
      return EnterBootLoader(now);
    default:
      return Note("ignored: unknown command");
  }
}

void Device::ApplySet(ByteView bytes) {
  DeviceRecord wanted;
  if (!DecodeRecord(bytes, wanted)) return;
  DeviceRecord& r = m_record;
  r.flags = wanted.flags & kFlagAutoConnect;
  r.name = wanted.name;
  r.dhcp = wanted.dhcp;
  r.multicastMgmt = wanted.multicastMgmt;
  r.broadcastMgmt = wanted.broadcastMgmt;
  r.timeoutMinutes = wanted.timeoutMinutes;
  r.staticIp = wanted.staticIp;
  r.netmask = wanted.netmask;
  r.gateway = wanted.gateway;
  r.dns = wanted.dns;
  const int ports = std::min(r.portCount, wanted.portCount);
  for (int i = 0; i < ports; ++i) {
    const std::uint8_t state = r.ports[i].state;  // live state, not a setting
    r.ports[i] = wanted.ports[i];
    r.ports[i].state = state;
  }
  if (ports == 2) {
    r.port2MgmtBits = wanted.port2MgmtBits;
    r.timeoutCopy = wanted.timeoutCopy;
  }
  Note("settings applied: name \"" + r.name + "\", DHCP " + (r.dhcp ? "on" : "off") + ", static IP " +
       Dotted(r.staticIp));
  if (!r.dhcp && r.staticIp != 0 && r.staticIp != r.dynamicIp) m_pendingAddress = Dotted(r.staticIp);
}

void Device::Restore() {
  const DeviceRecord& factory = m_config.record;
  const MacAddress mac = m_record.mac;
  const std::uint32_t address = m_record.dynamicIp;
  std::array<std::uint8_t, 2> states = {m_record.ports[0].state, m_record.ports[1].state};
  m_record = factory;
  m_record.mac = mac;
  m_record.dynamicIp = address;
  m_record.ports[0].state = states[0];
  m_record.ports[1].state = states[1];
  Note("factory settings restored");
}

void Device::StartRestart(std::uint64_t now, const char* why) {
  m_phase = Phase::Restarting;
  ++m_runs;
  m_restartEnd = now + static_cast<std::uint64_t>(m_config.timings.restartMs);
  Note(std::string("restarting (") + why + ")");
}

void Device::FinishRestart() {
  m_phase = Phase::Running;
  Note("running, version " + m_version + ", address " + m_address);
}

void Device::EnterBootLoader(std::uint64_t now) {
  m_phase = Phase::BootLoader;
  ++m_runs;
  m_bootLoaderStarted = false;
  m_bootLoaderStart = now + static_cast<std::uint64_t>(m_config.timings.bootLoaderDelayMs);
  BootLoaderSettings s;
  s.mac = m_record.mac;
  s.xid = 0x51A70000u ^ (static_cast<std::uint32_t>(m_record.mac[4]) << 8) ^ m_record.mac[5];
  s.bootpRetryMs = m_config.timings.bootpRetryMs;
  s.bootpTries = m_config.timings.bootpTries;
  s.tftpTimeoutMs = m_config.timings.tftpTimeoutMs;
  s.tftpTries = m_config.timings.tftpTries;
  s.dropDataBlocks = m_config.faults.dropDataBlocks;
  s.duplicateAckBlocks = m_config.faults.duplicateAckBlocks;
  s.lossPercent = m_config.faults.lossPercent;
  s.reorderPercent = m_config.faults.reorderPercent;
  s.faultSeed = static_cast<std::uint32_t>(m_config.faults.faultSeed);
  s.broadcastAddress = m_config.bootNetwork.broadcastAddress;
  s.bootpServerPort = m_config.bootNetwork.bootpServerPort;
  s.tftpServerPort = m_config.bootNetwork.tftpServerPort;
  m_bootLoader.emplace(s, [this](const std::string& text) { Note(text); });
  Note("entering the boot loader");
}

void Device::FinishBootLoader(std::uint64_t now) {
  if (m_bootLoader->state() == BootLoaderClient::State::Done) {
    const std::string version = ImageVersion(m_bootLoader->image());
    m_version = version.empty() ? "unversioned (" + std::to_string(m_bootLoader->image().size()) + " bytes)"
                                : version;
    const std::uint32_t offered = m_bootLoader->offeredAddress();
    if (offered != 0 && offered != m_record.dynamicIp) m_pendingAddress = Dotted(offered);
    Note("upgraded to version " + m_version);
  } else {
    Note("upgrade abandoned: " + m_bootLoader->failure() + "; keeping version " + m_version);
  }
  m_bootLoader.reset();
  m_config.startInBootLoader = false;
  StartRestart(now, "after the boot loader");
}

std::optional<std::string> Device::TakeAddressChange() {
  if (m_phase != Phase::Running || !m_pendingAddress) return std::nullopt;
  std::optional<std::string> next = m_pendingAddress;
  m_pendingAddress.reset();
  std::uint32_t ip = 0;
  if (ParseDotted(*next, ip)) m_record.dynamicIp = ip;
  Note("moving to address " + *next);
  m_address = *next;
  return next;
}

void Device::AddressChangeFailed(const std::string& kept) {
  Note("address " + m_address + " not available here; staying on " + kept);
  m_address = kept;
  std::uint32_t ip = 0;
  if (ParseDotted(kept, ip)) m_record.dynamicIp = ip;
}

void Device::OnBootp(ByteView bytes, std::uint64_t now, std::vector<Outgoing>& out) {
  if (!m_bootLoader || !m_bootLoaderStarted) return;
  std::vector<BootLoaderSend> sends;
  m_bootLoader->OnBootp(bytes, now, sends);
  for (auto& s : sends)
    out.push_back({s.bootp ? Channel::BootpClient : Channel::TftpClient, s.bytes, s.address, s.port, now});
}

void Device::OnTftp(ByteView bytes, const std::string& from, unsigned port, std::uint64_t now,
                    std::vector<Outgoing>& out) {
  if (!m_bootLoader || !m_bootLoaderStarted) return;
  std::vector<BootLoaderSend> sends;
  m_bootLoader->OnTftp(bytes, from, port, now, sends);
  for (auto& s : sends) out.push_back({Channel::TftpClient, s.bytes, s.address, s.port, now});
  const auto state = m_bootLoader->state();
  if (state == BootLoaderClient::State::Done || state == BootLoaderClient::State::Failed)
    FinishBootLoader(now);
}

void Device::Tick(std::uint64_t now, std::vector<Outgoing>& out) {
  if (m_phase == Phase::Restarting && now >= m_restartEnd) FinishRestart();
  if (m_phase != Phase::BootLoader || !m_bootLoader) return;
  std::vector<BootLoaderSend> sends;
  if (!m_bootLoaderStarted) {
    if (now < m_bootLoaderStart) return;
    m_bootLoaderStarted = true;
    m_bootLoader->Start(now, sends);
  } else {
    m_bootLoader->Tick(now, sends);
  }
  for (auto& s : sends)
    out.push_back({s.bootp ? Channel::BootpClient : Channel::TftpClient, s.bytes, s.address, s.port, now});
  if (m_bootLoader->state() == BootLoaderClient::State::Failed) FinishBootLoader(now);
}

std::uint64_t Device::NextDue() const {
  if (m_phase == Phase::Restarting) return m_restartEnd;
  if (m_phase == Phase::BootLoader && m_bootLoader)
    return m_bootLoaderStarted ? m_bootLoader->NextDue() : m_bootLoaderStart;
  return std::numeric_limits<std::uint64_t>::max();
}

}  // namespace devsim
