// inet_addr / inet_ntoa semantics without the platform: the same parse on both
// backends, so a dotted text means the same address in tests and in the program.
#include <cctype>
#include <cstdint>
#include <string>

#include "tk/socket.h"

namespace tk {

namespace {

// One part of an address: decimal, octal with a leading 0, or hexadecimal with 0x.
bool ParsePart(const std::string& text, size_t& pos, std::uint64_t& value) {
  if (pos >= text.size() || !std::isdigit(static_cast<unsigned char>(text[pos]))) return false;
  int base = 10;
  if (text[pos] == '0') {
    base = 8;
    ++pos;
    if (pos < text.size() && (text[pos] == 'x' || text[pos] == 'X')) {
      base = 16;
      ++pos;
    }
  }
  value = 0;
  size_t digits = 0;
  while (pos < text.size()) {
    int c = static_cast<unsigned char>(text[pos]);
    int digit = -1;
    if (std::isdigit(c)) digit = c - '0';
    else if (base == 16 && std::isxdigit(c)) digit = std::tolower(c) - 'a' + 10;
    if (digit < 0 || digit >= base) break;
    value = value * static_cast<std::uint64_t>(base) + static_cast<std::uint64_t>(digit);
    if (value > 0xFFFFFFFFull) return false;
    ++pos;
    ++digits;
  }
  return digits > 0 || base == 8;  // a lone "0" is zero; "0x" alone is not a number
}

}  // namespace

std::uint32_t InetAddr(const std::string& dotted) {
  constexpr std::uint32_t kNone = 0xFFFFFFFFu;
  std::uint64_t parts[4] = {0, 0, 0, 0};
  size_t count = 0;
  size_t pos = 0;
  while (true) {
    if (count == 4) return kNone;
    if (!ParsePart(dotted, pos, parts[count])) return kNone;
    ++count;
    if (pos < dotted.size() && dotted[pos] == '.') {
      ++pos;
      continue;
    }
    break;
  }
  // Trailing blanks end the address, anything else spoils it.
  while (pos < dotted.size() && (dotted[pos] == ' ' || dotted[pos] == '\t')) ++pos;
  if (pos != dotted.size()) return kNone;
  // The last part fills the bytes the missing parts leave (a.b.c: c is 16 bits).
  std::uint64_t result = 0;
  for (size_t i = 0; i + 1 < count; ++i) {
    if (parts[i] > 0xFF) return kNone;
    result |= parts[i] << (8 * (3 - i));
  }
  std::uint64_t lastLimit = 0xFFFFFFFFull >> (8 * (count - 1));
  if (parts[count - 1] > lastLimit) return kNone;
  result |= parts[count - 1];
  return static_cast<std::uint32_t>(result);
}

std::string InetNtoa(std::uint32_t a) {
  return std::to_string((a >> 24) & 0xFF) + "." + std::to_string((a >> 16) & 0xFF) + "." +
         std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF);
}

}  // namespace tk
