// The text form of an IP address control, the same on both backends.
#pragma once

#include <cstdint>
#include <string>

namespace tk::detail {

// Four decimal fields of 0-255 separated by dots, as the control shows them:
// leading zeros are decimal ("010" is 10), not inet_addr's octal. True with the
// address (first octet in the high byte); any other text is no address.
bool ParseIpControlText(const std::string& text, std::uint32_t& address);

}  // namespace tk::detail
