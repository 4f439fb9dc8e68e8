#include "corvanectl/oplog.h"

#include <chrono>
#include <cstdio>
#include <ctime>
#include <nlohmann/json.hpp>

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
  char text[40];
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

void Datagram(const char* event, const std::string& peer, unsigned port, const std::uint8_t* data, int size) {
  if (!g_log || size < 0) return;
  static const char digits[] = "0123456789abcdef";
  std::string hex;
  for (int i = 0; i < size; ++i) {
    hex += digits[data[i] >> 4];
    hex += digits[data[i] & 0x0F];
  }
  nlohmann::ordered_json line = {
      {"time", Now()}, {"event", event}, {"peer", peer + ":" + std::to_string(port)}};
  // The command or reply code stands after the 8-byte magic.
  line["code"] = size > 8 ? nlohmann::ordered_json(data[8]) : nlohmann::ordered_json(nullptr);
  line["length"] = size;
  line["hex"] = hex;
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
           const std::string& address) {
  const int sent = socket.SendTo(data, size, port, address);
  if (sent >= 0) Datagram("sent", address, port, data, size);
  return sent;
}

int ReceiveFrom(tk::BlockingUdpSocket& socket, std::uint8_t* buffer, int size, std::string& sender,
                unsigned& senderPort) {
  const int n = socket.ReceiveFrom(buffer, size, sender, senderPort);
  if (n >= 0) Datagram("received", sender, senderPort, buffer, n);
  return n;
}

void Event(const std::string& event, const std::string& device, const std::string& text) {
  Write({{"time", Now()}, {"event", event}, {"device", device}, {"text", text}});
}

}  // namespace corvanectl::oplog
