#include "ip_text.h"

namespace tk::detail {

bool ParseIpControlText(const std::string& text, std::uint32_t& address) {
  std::uint32_t result = 0;
  std::size_t pos = 0;
  for (int field = 0; field < 4; ++field) {
    if (field > 0) {
      if (pos >= text.size() || text[pos] != '.') return false;
      ++pos;
    }
    // A field is what the control's box holds: one to three digits.
    unsigned value = 0;
    std::size_t digits = 0;
    while (pos < text.size() && digits < 3 && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + static_cast<unsigned>(text[pos] - '0');
      ++pos;
      ++digits;
    }
    if (digits == 0 || value > 255) return false;
    result = (result << 8) | value;
  }
  if (pos != text.size()) return false;
  address = result;
  return true;
}

}  // namespace tk::detail
