#include "corvanectl/oplog.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

#include "corvane/upgrade/boot_wire.h"

namespace corvanectl::oplog {

namespace {

std::FILE* g_log = nullptr;

// UTC with milliseconds: "2026-12-08T17:30:01.250Z".
std::string Now() {
  const auto now = std::chrono::system_clock::now();
  const std::time_t seconds = std::chrono::system_clock::to_time_t(now);
  const auto ms =
      std::chrono::duration_cast<std::chrono::milliseconds>(now.time_since_epoch()).count() % 1000;
  std::tm utc{};
#ifdef _WIN32
  gmtime_s(&utc, &seconds);
#else
  gmtime_r(&seconds, &utc);
#endif
  char text[80];  // room for any int the fields could hold, as -O3 checks
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1,
                utc.tm_mday, utc.tm_hour, utc.tm_min, utc.tm_sec, static_cast<int>(ms));
  return text;
}

void Write(nlohmann::ordered_json line) {
  if (!g_log) return;
  const std::string text = line.dump(-1, ' ', true, nlohmann::json::error_handler_t::replace) + "\n";
  std::fwrite(text.data(), 1, text.size(), g_log);
  std::fflush(g_log);
}

// A TFTP DATA datagram is logged by its header and the first bytes of its
// block: a whole block on every line would make the log of an upgrade many
// times the image's size, and `length` still tells the whole.
constexpr int kTftpDataHexBytes = static_cast<int>(corvane::upgrade::tftp::kHeaderSize) + 16;

std::string Hex(const std::uint8_t* data, int size) {
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  hex.reserve(static_cast<std::size_t>(size) * 2);
  for (int i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 0x0F];
  }
  return hex;
}

unsigned Big16(const std::uint8_t* data) {
  return static_cast<unsigned>(data[0] << 8 | data[1]);
}

// The code, block and hex of `line`, each null when the datagram is too short.
void Describe(nlohmann::ordered_json& line, Protocol protocol, const std::uint8_t* data, int size) {
  using nlohmann::ordered_json;
  int shown = size;
  switch (protocol) {
    case Protocol::Device:
      // The command or reply code stands after the 8-byte magic.
      line["code"] = size > 8 ? ordered_json(data[8]) : ordered_json(nullptr);
      break;
    case Protocol::Bootp:
      line["code"] = size > 0 ? ordered_json(data[0]) : ordered_json(nullptr);
      break;
    case Protocol::Tftp: {
      namespace tftp = corvane::upgrade::tftp;
      const unsigned opcode = size >= 2 ? Big16(data) : 0;
      line["code"] = size >= 2 ? ordered_json(opcode) : ordered_json(nullptr);
      if (opcode == tftp::kData || opcode == tftp::kAck) {
        line["block"] = size >= 4 ? ordered_json(Big16(data + 2)) : ordered_json(nullptr);
      }
      if (opcode == tftp::kData) shown = std::min(size, kTftpDataHexBytes);
      break;
    }
  }
  line["length"] = size;
  line["hex"] = Hex(data, shown);
}

const char* ProtocolName(Protocol protocol) {
  return protocol == Protocol::Bootp ? "bootp" : protocol == Protocol::Tftp ? "tftp" : "device";
}

void Datagram(const char* event, const std::string& peer, unsigned port, Protocol protocol,
              const std::uint8_t* data, int size) {
  if (!g_log || size < 0) return;
  nlohmann::ordered_json line = {{"time", Now()}, {"event", event}};
  // The device protocol's lines keep the fields they always had.
  if (protocol != Protocol::Device) line["protocol"] = ProtocolName(protocol);
  line["peer"] = peer + ":" + std::to_string(port);
  Describe(line, protocol, data, size);
  Write(std::move(line));
}

}  // namespace

bool Open(const std::string& path) {
  Close();
  g_log = std::fopen(path.c_str(), "ab");
  return g_log != nullptr;
}

void Close() {
  if (g_log) std::fclose(g_log);
  g_log = nullptr;
}

int SendTo(tk::BlockingUdpSocket& socket, const std::uint8_t* data, int size, unsigned port,
           const std::string& address, Protocol protocol) {
  const int sent = socket.SendTo(data, size, port, address);
  if (sent >= 0) Datagram("sent", address, port, protocol, data, size);
  return sent;
}

int ReceiveFrom(tk::BlockingUdpSocket& socket, std::uint8_t* buffer, int size, std::string& sender,
                unsigned& senderPort, Protocol protocol) {
  const int n = socket.ReceiveFrom(buffer, size, sender, senderPort);
  if (n >= 0) Datagram("received", sender, senderPort, protocol, buffer, n);
  return n;
}

void Event(const std::string& event, const std::string& device, const std::string& text) {
  Write({{"time", Now()}, {"event", event}, {"device", device}, {"text", text}});
}

}  // namespace corvanectl::oplog
