// The boot-loader file exchange: one BOOTP reply (RFC 951 fields with RFC 2132
// options) and then a read-only TFTP transfer (RFC 1350, with the timing rules
// of RFC 1123 section 4.2.3) of one firmware image to one boot loader.
//
// The exchange is plain code: sockets, clock and file are handed to it, so the
// window, the command-line server and the tests all run the same steps. It
// blocks the calling thread until the image is delivered or the exchange ends.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "corvane/protocol/packet.h"
#include "corvane/upgrade/boot_wire.h"

namespace corvane::upgrade {

using protocol::Bytes;
using protocol::ByteView;

// The BOOTP and TFTP offsets and codes are in boot_wire.h.

// The boot loader tests the full block count as a signed 16-bit number and
// learns the size from a 16-bit option: images of this size or more cannot be
// delivered and are refused before anything is sent.
constexpr std::uint64_t kMaxImageSize = 32768ull * tftp::kBlockSize - 1;  // 16,777,215 bytes

enum class ServeStatus {
  Success,
  SocketStartFailed,  // "Windows sockets initialization failed"
  SocketError,        // "Error at socket"
  Port67InUse,        // "Invalid IP or Port 67 already in use"
  Port69InUse,        // "Invalid IP or Port 69 already in use" (also the transfer port)
  FileUnreadable,     // "Can not open the production firmware file !!"
  FileTooLarge,       // refused before anything is sent
  BootpTimeout,       // "TFTP timeout 2 !!": datagrams, but no BOOTP request for three spells
  Timeout,            // "TFTP timeout !!": 10 seconds without a word from the client
  ClientAborted,      // the boot loader sent a TFTP error
};

// The message box text for a status; empty for Success.
std::string ServeStatusMessage(ServeStatus status);

// The sockets of one exchange. Addresses are IPv4 in host order.
enum class Channel { Bootp, Tftp, Transfer };

struct Datagram {
  Bytes bytes;
  std::uint32_t address = 0;
  unsigned port = 0;
};

class BootTransport {
 public:
  enum class OpenResult { Ok, CannotCreate, InUse };
  virtual ~BootTransport() = default;
  // Bootp: UDP port 67, broadcast allowed; Tftp: UDP port 69; Transfer: a free port.
  virtual OpenResult Open(Channel channel) = 0;
  virtual void Close(Channel channel) = 0;
  // Waits up to timeoutMs (0: only looks) for one datagram of at most 516 bytes
  // on the channel: 1 received, 0 nothing came, -1 receive error.
  virtual int Receive(Channel channel, int timeoutMs, Datagram& out) = 0;
  virtual bool Send(Channel channel, std::uint32_t address, unsigned port, ByteView bytes) = 0;
};

class BootClock {
 public:
  virtual ~BootClock() = default;
  virtual std::uint64_t NowUs() = 0;  // monotonic microseconds
};

class FileSource {
 public:
  virtual ~FileSource() = default;
  // The size of the file, or nothing when it does not exist or cannot be read.
  virtual std::optional<std::uint64_t> Size() = 0;
  // The whole file; false when it cannot be read.
  virtual bool ReadAll(Bytes& out) = 0;
};

struct BootServeSettings {
  std::string firmwarePath;         // named in the BOOTP reply (at most 128 characters are sent)
  std::uint32_t clientAddress = 0;  // offered to the boot loader (yiaddr)
  std::uint32_t serverAddress = 0;  // this PC (siaddr, option 54)
  bool answerBootp = true;          // false: serve the first read request without BOOTP
  // The device's hardware address when it is known: only a BOOTP request with
  // this client hardware address is answered (other DHCP clients on the LAN
  // are ignored). Nothing: the first BOOTP request is taken as the device's.
  std::optional<protocol::MacAddress> clientMac;
  // No progress this long ends the exchange: waiting for BOOTP any datagram
  // counts (the spell rule caps that wait); after the BOOTP reply only the
  // read request and the acknowledgement of the block in flight do.
  int silenceMs = 10000;
  int bootpSpellMs = 5000;  // the BOOTP retry rule: spells without a BOOTP request
  int bootpSpells = 2;      // ... more than this many end the exchange
  // Retransmission time-out bounds (the estimate follows the measured round trip).
  int minRtoMs = 20;
  int initialRtoMs = 200;
  int maxRtoMs = 2000;
  // Sends of one DATA block (time-outs and repeated read requests alike) and
  // of the BOOTP reply to repeated requests; then only the silence rule is
  // left to end it.
  int maxSendsPerBlock = 12;
};

// Figures of a finished exchange, for the command-line server and the tests.
struct BootServeStats {
  std::uint32_t blocks = 0;           // DATA packets in the image
  std::uint32_t retransmissions = 0;  // DATA packets sent again
  std::uint32_t ignored = 0;          // datagrams ignored (foreign, stale, malformed)
  std::uint32_t clientAddress = 0;    // the TFTP client
  unsigned clientPort = 0;
};

// Called after each acknowledged block with the blocks acknowledged and the total.
using BootProgress = std::function<void(std::uint32_t acknowledged, std::uint32_t total)>;

// Blocks (512-byte DATA packets) for an image of `size` bytes: the last packet is
// always shorter than 516 bytes, so an exact multiple of 512 ends with an empty one.
std::uint32_t BlockCount(std::uint64_t size);

// The BOOTP reply to `request` (at most 516 bytes are echoed), always 516 bytes.
Bytes BuildBootpReply(ByteView request, const BootServeSettings& settings, std::uint64_t imageSize);

// True for a BOOTP request of an Ethernet client: op 1, htype 1, hlen 6.
bool IsBootpRequest(ByteView datagram);

// Runs one exchange to its end: BootExchange's Prepare and Serve in one call.
ServeStatus ServeBootImage(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
                           FileSource& file, const BootProgress& progress = {},
                           BootServeStats* stats = nullptr);

namespace detail {
class Exchange;
}

// One exchange in two steps, for a caller that tells the device to restart into
// its boot loader in between. Prepare checks and reads the image and opens the
// BOOTP, TFTP and transfer sockets; only when it succeeds may the device be
// told, and whatever its boot loader sends from then on, however soon, waits in
// those sockets. Serve then runs the exchange to its end and closes them. A
// BootExchange that is destroyed unserved closes what Prepare opened.
class BootExchange {
 public:
  BootExchange(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
               FileSource& file);
  ~BootExchange();
  BootExchange(const BootExchange&) = delete;
  BootExchange& operator=(const BootExchange&) = delete;

  // Success, or the reason nothing can be served (nothing has been sent then).
  ServeStatus Prepare();
  // Prepares first when Prepare was not called; returns Prepare's failure
  // without serving. Serves once: a second call only repeats the result.
  ServeStatus Serve(const BootProgress& progress = {}, BootServeStats* stats = nullptr);

 private:
  std::unique_ptr<detail::Exchange> m_exchange;
  FileSource& m_file;
  std::optional<ServeStatus> m_prepared, m_served;
};

// One client's exchange in a server of many: the caller owns the waiting. It
// receives on the shared BOOTP and TFTP sockets and on each client's transfer
// socket, hands each datagram to the session it belongs to (Deliver) and calls
// Tick when NextDueUs has come; either returns the end once it is there, and
// the session's channels are closed then. Prepare as BootExchange's; Begin once
// the device has been told. The transport's Receive is never called.
class BootSession {
 public:
  BootSession(const BootServeSettings& settings, BootTransport& transport, BootClock& clock,
              FileSource& file);
  ~BootSession();
  BootSession(const BootSession&) = delete;
  BootSession& operator=(const BootSession&) = delete;

  ServeStatus Prepare();
  void Begin(BootProgress progress = {});
  std::optional<ServeStatus> Deliver(Channel channel, const Datagram& d);
  std::optional<ServeStatus> Tick();
  std::uint64_t NextDueUs() const;  // on the clock's scale
  const BootServeStats& Stats() const;

 private:
  std::optional<ServeStatus> Ended(std::optional<ServeStatus> end);
  std::unique_ptr<detail::Exchange> m_exchange;
  FileSource& m_file;
  BootProgress m_progressFn;
};

}  // namespace corvane::upgrade
