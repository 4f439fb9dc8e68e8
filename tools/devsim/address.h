// Address texts of the simulated devices.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "corvane/protocol/packet.h"

namespace devsim {

// Dotted text of a host-order IPv4 address (first octet in the high byte),
// written the way the packet code writes an address field.
inline std::string Dotted(std::uint32_t address) {
  std::array<std::uint8_t, 4> bytes{};
  corvane::protocol::PutIPv4(bytes, 0, address);
  return corvane::protocol::IPv4Text(bytes, 0);
}

}  // namespace devsim
