// The checks of Submit.
#include "corvane/settings/submit_check.h"

#include <algorithm>

#include "corvane/settings/encoding.h"

namespace corvane::settings {

namespace {

constexpr const char* kNameMessage =
    "1. Device name must LESS THAN 16 LETTERS\n2. NO SPACES between the letters.";
constexpr const char* kPortMessage = "Port number(s) should greater than 1024 or smaller than 65535.";

}  // namespace

long PortCheckNumber(const std::string& text) {
  std::size_t i = text.find_first_not_of(" \t");
  long value = 0;
  for (; i != std::string::npos && i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = std::min(value * 10 + (text[i] - '0'), 1000000L);
  }
  return value;
}

std::optional<SubmitProblem> CheckSubmit(const DeviceSettings& s, int rowKind) {
  if (s.items[kDeviceName].find(' ') != std::string::npos) {
    return SubmitProblem{SubmitFault::DeviceName, kDeviceName, 0, kNameMessage};
  }
  for (const int item : {kDataPort, kDestPort}) {
    const long port = PortCheckNumber(s.items[static_cast<std::size_t>(item)]);
    if (port < kLowestSubmitPort || port > kHighestSubmitPort) {
      return SubmitProblem{SubmitFault::PortNumber, item, DisplayedPort(rowKind), kPortMessage};
    }
  }
  if (auto bad = FindBadAddress(s, rowKind)) {
    return SubmitProblem{SubmitFault::Address, bad->item, bad->port, bad->message};
  }
  return std::nullopt;
}

}  // namespace corvane::settings
