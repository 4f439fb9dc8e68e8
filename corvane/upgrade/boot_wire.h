// The boot loader's wire layouts: BOOTP (RFC 951, with the DHCP magic cookie
// of RFC 2132) and TFTP (RFC 1350). One set of offsets for the program's file
// server and the device simulator's boot loader.
#pragma once

#include <cstddef>
#include <cstdint>

namespace corvane::upgrade {

namespace bootp {
constexpr std::size_t kOp = 0;
constexpr std::size_t kHtype = 1;
constexpr std::size_t kHlen = 2;
constexpr std::size_t kXid = 4;
constexpr std::size_t kFlags = 10;
constexpr std::size_t kCiaddr = 12;
constexpr std::size_t kYiaddr = 16;
constexpr std::size_t kSiaddr = 20;
constexpr std::size_t kChaddr = 28;
constexpr std::size_t kFile = 108;
constexpr std::size_t kFileSize = 128;
constexpr std::size_t kCookie = 236;
constexpr std::size_t kOptions = 240;
constexpr std::size_t kRequestSize = 300;
constexpr std::uint8_t kBootRequest = 1;
constexpr std::uint8_t kBootReply = 2;
constexpr std::uint32_t kMagicCookie = 0x63825363;
constexpr std::uint8_t kOptionPad = 0;
constexpr std::uint8_t kOptionBootFileSize = 13;
constexpr std::uint8_t kOptionEnd = 255;
constexpr unsigned kServerPort = 67;
}  // namespace bootp

namespace tftp {
constexpr std::uint16_t kRrq = 1;
constexpr std::uint16_t kData = 3;
constexpr std::uint16_t kAck = 4;
constexpr std::uint16_t kError = 5;
constexpr std::size_t kHeaderSize = 4;
constexpr std::size_t kBlockSize = 512;
constexpr std::size_t kDatagramSize = kHeaderSize + kBlockSize;  // 516
constexpr unsigned kServerPort = 69;
}  // namespace tftp

}  // namespace corvane::upgrade
