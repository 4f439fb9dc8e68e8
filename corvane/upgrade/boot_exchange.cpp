// The boot-loader file exchange.
#include "corvane/upgrade/boot_exchange.h"

#include <algorithm>
#include <cstring>

namespace corvane::upgrade {

using protocol::Get16;
using protocol::Put16;
using protocol::PutIPv4;

std::string ServeStatusMessage(ServeStatus status) {
  switch (status) {
    case ServeStatus::Success:
      return {};
    case ServeStatus::SocketStartFailed:
      return "Windows sockets initialization failed";
    case ServeStatus::SocketError:
      return "Error at socket";
    case ServeStatus::Port67InUse:
      return "Invalid IP or Port 67 already in use";
    case ServeStatus::Port69InUse:
      return "Invalid IP or Port 69 already in use";
    case ServeStatus::FileUnreadable:
      return "Can not open the production firmware file !!";
    case ServeStatus::FileTooLarge:
      return "The production firmware file is too large: the boot loader accepts at most 16,777,215 bytes !!";
    case ServeStatus::BootpTimeout:
      return "TFTP timeout 2 !!";
    case ServeStatus::Timeout:
      return "TFTP timeout !!";
    case ServeStatus::ClientAborted:
      return "The boot loader stopped the transfer !!";
  }
  return "Unknown error";
}

std::uint32_t BlockCount(std::uint64_t size) {
  return static_cast<std::uint32_t>(size / tftp::kBlockSize + 1);
}

bool IsBootpRequest(ByteView d) {
  return d.size() >= 3 && d[bootp::kOp] == bootp::kBootRequest && d[bootp::kHtype] == 1 &&
         d[bootp::kHlen] == 6;
}

Bytes BuildBootpReply(ByteView request, const BootServeSettings& s, std::uint64_t imageSize) {
  Bytes r(tftp::kDatagramSize, 0);
  std::copy_n(request.begin(), std::min(request.size(), r.size()), r.begin());
  r[bootp::kOp] = bootp::kBootReply;
  PutIPv4(r, bootp::kYiaddr, s.clientAddress);
  PutIPv4(r, bootp::kSiaddr, s.serverAddress);
  // The path fills the file field; a path of 128 characters leaves no terminator.
  const std::size_t n = std::min(s.firmwarePath.size(), bootp::kFileSize);
  std::memcpy(r.data() + bootp::kFile, s.firmwarePath.data(), n);
  std::size_t at = bootp::kOptions;
  auto option = [&](std::uint8_t code, std::initializer_list<std::uint8_t> value) {
    r[at++] = code;
    r[at++] = static_cast<std::uint8_t>(value.size());
    for (std::uint8_t v : value) r[at++] = v;
  };
  option(53, {2});  // DHCP message type: offer
  r[at++] = 54;     // server identifier
  r[at++] = 4;
  PutIPv4(r, at, s.serverAddress);
  at += 4;
  option(1, {255, 255, 255, 0});  // subnet mask
  option(3, {0, 0, 0, 0});        // router
  const std::uint16_t bootFileSize = static_cast<std::uint16_t>(BlockCount(imageSize));
  option(13, {static_cast<std::uint8_t>(bootFileSize >> 8), static_cast<std::uint8_t>(bootFileSize)});
  r[at] = 255;
  return r;
}

namespace {

constexpr std::uint64_t kReadRequestLookUs = 10'000;

// Round-trip estimate and retransmission time-out (RFC 6298 arithmetic, with
// Karn's rule: only blocks sent once give samples).
class RetransmitTimer {
 public:
  explicit RetransmitTimer(const BootServeSettings& s)
      : m_minUs(s.minRtoMs * 1000ll), m_maxUs(s.maxRtoMs * 1000ll), m_rtoUs(s.initialRtoMs * 1000ll) {}

  void Sample(std::int64_t rttUs) {
    if (m_srttUs < 0) {
      m_srttUs = rttUs;
      m_rttvarUs = rttUs / 2;
    } else {
      const std::int64_t err = rttUs > m_srttUs ? rttUs - m_srttUs : m_srttUs - rttUs;
      m_rttvarUs = (3 * m_rttvarUs + err) / 4;
      m_srttUs = (7 * m_srttUs + rttUs) / 8;
    }
    m_rtoUs = std::clamp(m_srttUs + 4 * m_rttvarUs, m_minUs, m_maxUs);
  }
  void BackOff() { m_rtoUs = std::min(m_rtoUs * 2, m_maxUs); }
  std::int64_t rtoUs() const { return m_rtoUs; }

 private:
  std::int64_t m_minUs, m_maxUs, m_rtoUs;
  std::int64_t m_srttUs = -1;
  std::int64_t m_rttvarUs = 0;
};

}  // namespace

namespace detail {

class Exchange {
 public:
  Exchange(const BootServeSettings& s, BootTransport& t, BootClock& c)
      : m_s(s), m_t(t), m_clock(c), m_rto(s) {}
  ~Exchange() { CloseChannels(); }

  // The image read and checked and the sockets open: nothing sent yet.
  ServeStatus Prepare(FileSource& file);
  // The exchange from its first receive to its end; the sockets are closed then.
  ServeStatus Serve(const BootProgress& progress);
  // The same exchange driven from outside, for a server of many clients that
  // owns the waiting: Begin starts the clocks, Deliver hands over what came
  // on a channel, Tick runs what is due; both give the end once it is there.
  void Begin(const BootProgress& progress);
  std::optional<ServeStatus> Deliver(Channel channel, const Datagram& d);
  std::optional<ServeStatus> Tick();
  std::uint64_t NextDueUs() const;
  void End() { CloseChannels(); }
  BootServeStats stats;

 private:
  enum class Phase { WaitBootp, WaitRrq, Sending };

  ServeStatus LoadImage(FileSource& file);
  ServeStatus OpenChannels();
  void CloseChannels();
  ServeStatus Loop();
  std::optional<ServeStatus> CheckBootpSpells(std::uint64_t now);
  std::optional<ServeStatus> OnDatagram(Channel channel, const Datagram& d);
  bool IsTheClientsBootp(const Datagram& d) const;
  void OnBootp(const Datagram& d);
  void OnRepeatedBootp(const Datagram& d);
  void OnReadRequest(const Datagram& d);
  std::optional<ServeStatus> OnTransfer(const Datagram& d);
  void OnRetransmitDue();
  void SendBlock(bool again);
  bool FromClient(const Datagram& d) const { return d.address == m_clientAddress && d.port == m_clientPort; }
  Channel Listening() const {
    return m_phase == Phase::WaitBootp ? Channel::Bootp
           : m_phase == Phase::WaitRrq ? Channel::Tftp
                                       : Channel::Transfer;
  }

  const BootServeSettings m_s;
  BootTransport& m_t;
  BootClock& m_clock;
  const BootProgress* m_progress = nullptr;
  RetransmitTimer m_rto;
  Bytes m_image;
  std::uint32_t m_blocks = 0;
  Phase m_phase = Phase::WaitBootp;
  bool m_bootpOpen = false;
  bool m_tftpOpen = false;
  bool m_transferOpen = false;
  std::uint64_t m_lastHeardUs = 0;
  std::uint64_t m_spellStartUs = 0;
  int m_spells = 0;
  std::uint32_t m_clientAddress = 0;
  unsigned m_clientPort = 0;
  std::optional<protocol::MacAddress> m_bootpClient;  // the client hardware address answered
  int m_bootpReplies = 0;
  std::uint32_t m_block = 0;  // the block in flight (1-based)
  int m_sends = 0;            // how often it went out
  std::uint64_t m_sentUs = 0;
  std::uint64_t m_dueUs = 0;
};

ServeStatus Exchange::Prepare(FileSource& file) {
  // The image is checked and read whole before a socket is opened, so a file
  // that cannot be delivered ends the exchange before the device hears of it.
  if (const ServeStatus s = LoadImage(file); s != ServeStatus::Success) return s;
  const ServeStatus opened = OpenChannels();
  if (opened != ServeStatus::Success) CloseChannels();
  return opened;
}

ServeStatus Exchange::Serve(const BootProgress& progress) {
  m_progress = &progress;
  const ServeStatus result = Loop();
  CloseChannels();
  m_progress = nullptr;
  return result;
}

void Exchange::Begin(const BootProgress& progress) {
  m_progress = &progress;
  m_lastHeardUs = m_spellStartUs = m_clock.NowUs();
}

std::optional<ServeStatus> Exchange::Deliver(Channel channel, const Datagram& d) {
  if (channel == Channel::Bootp) {
    if (m_phase == Phase::WaitRrq) {
      OnRepeatedBootp(d);
      return std::nullopt;
    }
    if (m_phase != Phase::WaitBootp) {
      ++stats.ignored;
      return std::nullopt;
    }
  } else if (m_phase == Phase::WaitBootp || (m_phase == Phase::WaitRrq && channel != Channel::Tftp)) {
    ++stats.ignored;
    return std::nullopt;
  }
  return OnDatagram(channel, d);
}

std::optional<ServeStatus> Exchange::Tick() {
  const std::uint64_t now = m_clock.NowUs();
  if (m_phase == Phase::WaitBootp) {
    if (auto end = CheckBootpSpells(now)) return end;
  }
  if (now - m_lastHeardUs >= static_cast<std::uint64_t>(m_s.silenceMs) * 1000) return ServeStatus::Timeout;
  if (m_phase == Phase::Sending && m_sends < m_s.maxSendsPerBlock && now >= m_dueUs) OnRetransmitDue();
  return std::nullopt;
}

std::uint64_t Exchange::NextDueUs() const {
  std::uint64_t due = m_lastHeardUs + static_cast<std::uint64_t>(m_s.silenceMs) * 1000;
  if (m_phase == Phase::WaitBootp) {
    due = std::min(due, m_spellStartUs + static_cast<std::uint64_t>(m_s.bootpSpellMs) * 1000 + 1);
  }
  if (m_phase == Phase::Sending && m_sends < m_s.maxSendsPerBlock) due = std::min(due, m_dueUs);
  return due;
}

ServeStatus Exchange::LoadImage(FileSource& file) {
  const std::optional<std::uint64_t> size = file.Size();
  if (!size) return ServeStatus::FileUnreadable;
  if (*size > kMaxImageSize) return ServeStatus::FileTooLarge;
  if (!file.ReadAll(m_image) || m_image.size() != *size) return ServeStatus::FileUnreadable;
  m_blocks = BlockCount(m_image.size());
  stats.blocks = m_blocks;
  return ServeStatus::Success;
}

// Port 69 and the transfer port are open before the BOOTP reply goes out, so a
// boot loader that sends its read request at once finds a listener.
ServeStatus Exchange::OpenChannels() {
  using R = BootTransport::OpenResult;
  if (m_s.answerBootp) {
    const R r = m_t.Open(Channel::Bootp);
    if (r != R::Ok) return r == R::InUse ? ServeStatus::Port67InUse : ServeStatus::SocketError;
    m_bootpOpen = true;
  }
  for (Channel c : {Channel::Tftp, Channel::Transfer}) {
    const R r = m_t.Open(c);
    if (r != R::Ok) return r == R::InUse ? ServeStatus::Port69InUse : ServeStatus::SocketError;
    (c == Channel::Tftp ? m_tftpOpen : m_transferOpen) = true;
  }
  m_phase = m_s.answerBootp ? Phase::WaitBootp : Phase::WaitRrq;
  return ServeStatus::Success;
}

void Exchange::CloseChannels() {
  if (m_bootpOpen) m_t.Close(Channel::Bootp);
  if (m_tftpOpen) m_t.Close(Channel::Tftp);
  if (m_transferOpen) m_t.Close(Channel::Transfer);
  m_bootpOpen = m_tftpOpen = m_transferOpen = false;
}

ServeStatus Exchange::Loop() {
  m_lastHeardUs = m_spellStartUs = m_clock.NowUs();
  const std::uint64_t silenceUs = static_cast<std::uint64_t>(m_s.silenceMs) * 1000;
  for (;;) {
    const std::uint64_t now = m_clock.NowUs();
    if (m_phase == Phase::WaitBootp) {
      if (auto end = CheckBootpSpells(now)) return *end;
    }
    if (now - m_lastHeardUs >= silenceUs) return ServeStatus::Timeout;
    std::uint64_t waitUs = m_lastHeardUs + silenceUs - now;
    if (m_phase == Phase::WaitRrq && m_bootpOpen) {
      // Until the read request comes, a BOOTP request repeated by the same
      // client means the reply was lost: look on port 67 between short waits.
      Datagram again;
      while (m_t.Receive(Channel::Bootp, 0, again) > 0) OnRepeatedBootp(again);
      waitUs = std::min<std::uint64_t>(waitUs, kReadRequestLookUs);
    }
    if (m_phase == Phase::Sending && m_block == 1 && m_tftpOpen) {
      // Until block 1 is acknowledged, a read request repeated on port 69 means
      // it was lost: look there between short waits on the transfer port.
      Datagram again;
      while (m_t.Receive(Channel::Tftp, 0, again) > 0) OnReadRequest(again);
      waitUs = std::min<std::uint64_t>(waitUs, kReadRequestLookUs);
    }
    if (m_phase == Phase::Sending && m_sends < m_s.maxSendsPerBlock) {
      if (now >= m_dueUs) {
        OnRetransmitDue();
        continue;
      }
      waitUs = std::min(waitUs, m_dueUs - now);
    }
    Datagram d;
    const Channel channel = Listening();
    const int got = m_t.Receive(channel, static_cast<int>((waitUs + 999) / 1000), d);
    if (got <= 0) continue;  // a receive error is not a word from the client
    if (auto end = OnDatagram(channel, d)) return *end;
  }
}

// The BOOTP rule of the first state: datagrams that keep coming without a BOOTP
// request end the wait after three 5-second spells.
std::optional<ServeStatus> Exchange::CheckBootpSpells(std::uint64_t now) {
  if (now - m_spellStartUs <= static_cast<std::uint64_t>(m_s.bootpSpellMs) * 1000) return std::nullopt;
  m_spellStartUs = now;
  if (++m_spells > m_s.bootpSpells) return ServeStatus::BootpTimeout;
  return std::nullopt;
}

std::optional<ServeStatus> Exchange::OnDatagram(Channel channel, const Datagram& d) {
  switch (m_phase) {
    case Phase::WaitBootp:
      m_lastHeardUs = m_clock.NowUs();
      if (IsTheClientsBootp(d)) {
        OnBootp(d);
      } else {
        ++stats.ignored;
      }
      return std::nullopt;
    case Phase::WaitRrq:
      OnReadRequest(d);
      return std::nullopt;
    case Phase::Sending:
      if (channel == Channel::Tftp) {
        OnReadRequest(d);
        return std::nullopt;
      }
      return OnTransfer(d);
  }
  return std::nullopt;
}

namespace {

std::optional<protocol::MacAddress> ClientHardwareAddress(ByteView d) {
  if (d.size() < bootp::kChaddr + protocol::kMacSize) return std::nullopt;
  protocol::MacAddress mac{};
  std::copy_n(d.begin() + bootp::kChaddr, mac.size(), mac.begin());
  return mac;
}

}  // namespace

// A BOOTP request of an Ethernet client, and of the device when it is known.
bool Exchange::IsTheClientsBootp(const Datagram& d) const {
  if (!IsBootpRequest(d.bytes)) return false;
  return !m_s.clientMac || ClientHardwareAddress(d.bytes) == m_s.clientMac;
}

// The port-67 socket stays open until the read request comes, for the
// client's repeated requests.
void Exchange::OnBootp(const Datagram& d) {
  const Bytes reply = BuildBootpReply(d.bytes, m_s, m_image.size());
  m_t.Send(Channel::Bootp, 0xFFFFFFFFu, d.port, reply);
  m_bootpClient = ClientHardwareAddress(d.bytes);
  m_bootpReplies = 1;
  m_phase = Phase::WaitRrq;
}

void Exchange::OnRepeatedBootp(const Datagram& d) {
  const bool same = IsTheClientsBootp(d) && ClientHardwareAddress(d.bytes) == m_bootpClient;
  if (!same || m_bootpReplies >= m_s.maxSendsPerBlock) {
    ++stats.ignored;
    return;
  }
  m_t.Send(Channel::Bootp, 0xFFFFFFFFu, d.port, BuildBootpReply(d.bytes, m_s, m_image.size()));
  ++m_bootpReplies;
}

// A read request starts the transfer; the same client asking again before its
// first acknowledgement has lost block 1, which goes out again.
void Exchange::OnReadRequest(const Datagram& d) {
  const bool rrq = d.bytes.size() >= tftp::kHeaderSize && Get16(d.bytes, 0) == tftp::kRrq;
  if (!rrq) {
    ++stats.ignored;
    return;
  }
  if (m_phase == Phase::WaitRrq) {
    if (m_bootpOpen) {
      m_t.Close(Channel::Bootp);
      m_bootpOpen = false;
    }
    m_lastHeardUs = m_clock.NowUs();
    m_clientAddress = d.address;
    m_clientPort = d.port;
    stats.clientAddress = d.address;
    stats.clientPort = d.port;
    m_phase = Phase::Sending;
    m_block = 1;
    SendBlock(false);
    return;
  }
  // A repeated read request is not progress: it neither holds the silence
  // off nor sends block 1 more often than the per-block cap allows.
  if (FromClient(d) && m_block == 1 && m_sends < m_s.maxSendsPerBlock) {
    SendBlock(true);
  } else {
    ++stats.ignored;
  }
}

std::optional<ServeStatus> Exchange::OnTransfer(const Datagram& d) {
  if (!FromClient(d) || d.bytes.size() < tftp::kHeaderSize) {
    ++stats.ignored;
    return std::nullopt;
  }
  const std::uint64_t now = m_clock.NowUs();
  const std::uint16_t opcode = Get16(d.bytes, 0);
  if (opcode == tftp::kError) return ServeStatus::ClientAborted;
  // Only the acknowledgement of the block in flight releases the next one; an
  // older or repeated one is ignored, never answered (no Sorcerer's Apprentice).
  if (opcode != tftp::kAck || Get16(d.bytes, 2) != static_cast<std::uint16_t>(m_block)) {
    ++stats.ignored;
    return std::nullopt;
  }
  m_lastHeardUs = now;  // progress
  if (m_sends == 1) m_rto.Sample(static_cast<std::int64_t>(now - m_sentUs));
  if (m_progress && *m_progress) (*m_progress)(m_block, m_blocks);
  if (m_block == m_blocks) return ServeStatus::Success;
  ++m_block;
  SendBlock(false);
  return std::nullopt;
}

void Exchange::OnRetransmitDue() {
  m_rto.BackOff();
  SendBlock(true);
}

void Exchange::SendBlock(bool again) {
  const std::size_t offset = static_cast<std::size_t>(m_block - 1) * tftp::kBlockSize;
  const std::size_t length = std::min(tftp::kBlockSize, m_image.size() - offset);
  Bytes packet(tftp::kHeaderSize + length);
  Put16(packet, 0, tftp::kData);
  Put16(packet, 2, static_cast<std::uint16_t>(m_block));
  std::copy_n(m_image.begin() + static_cast<std::ptrdiff_t>(offset), length,
              packet.begin() + tftp::kHeaderSize);
  m_t.Send(Channel::Transfer, m_clientAddress, m_clientPort, packet);
  if (again) {
    ++m_sends;
    ++stats.retransmissions;
  } else {
    m_sends = 1;
  }
  m_sentUs = m_clock.NowUs();
  m_dueUs = m_sentUs + static_cast<std::uint64_t>(m_rto.rtoUs());
}

}  // namespace detail

BootExchange::BootExchange(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
                           FileSource& file)
    : m_exchange(std::make_unique<detail::Exchange>(settings, transport, clock)), m_file(file) {}

BootExchange::~BootExchange() = default;

ServeStatus BootExchange::Prepare() {
  if (!m_prepared) m_prepared = m_exchange->Prepare(m_file);
  return *m_prepared;
}

ServeStatus BootExchange::Serve(const BootProgress& progress, BootServeStats* stats) {
  if (!m_served) {
    const ServeStatus prepared = Prepare();
    m_served = prepared == ServeStatus::Success ? m_exchange->Serve(progress) : prepared;
  }
  if (stats) *stats = m_exchange->stats;
  return *m_served;
}

BootSession::BootSession(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
                         FileSource& file)
    : m_exchange(std::make_unique<detail::Exchange>(settings, transport, clock)), m_file(file) {}

BootSession::~BootSession() = default;

ServeStatus BootSession::Prepare() {
  return m_exchange->Prepare(m_file);
}

void BootSession::Begin(BootProgress progress) {
  m_progressFn = std::move(progress);
  m_exchange->Begin(m_progressFn);
}

std::optional<ServeStatus> BootSession::Deliver(Channel channel, const Datagram& d) {
  return Ended(m_exchange->Deliver(channel, d));
}

std::optional<ServeStatus> BootSession::Tick() {
  return Ended(m_exchange->Tick());
}

std::uint64_t BootSession::NextDueUs() const {
  return m_exchange->NextDueUs();
}

const BootServeStats& BootSession::Stats() const {
  return m_exchange->stats;
}

std::optional<ServeStatus> BootSession::Ended(std::optional<ServeStatus> end) {
  if (end) m_exchange->End();
  return end;
}

ServeStatus ServeBootImage(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
                           FileSource& file, const BootProgress& progress, BootServeStats* stats) {
  BootExchange exchange(settings, transport, clock, file);
  return exchange.Serve(progress, stats);
}

}  // namespace corvane::upgrade
