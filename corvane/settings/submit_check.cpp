// The checks of Submit.
#include "corvane/settings/submit_check.h"

#include <algorithm>

#include "corvane/settings/encoding.h"

namespace corvane::settings {

namespace {

constexpr const char* kNameMessage =
    "1. Device name must LESS THAN 16 LETTERS\n2. NO SPACES between the letters.";
constexpr const char* kPortMessage = "Port number(s) should greater than 1024 or smaller than 65535.";

// The numbers of the other port's store and the most its page would accept.
// Serial codes are not here: a code outside its list is replaced by the
// device's own before encoding.
struct StoredRange {
  int item;
  const char* name;
  unsigned high;
};
constexpr StoredRange kStoredRanges[] = {
    {kServerClient, "Server/Client switch", 1},
    {kUdp, "UDP Protocol", 1},
    {kTcp, "TCP Protocol", 1},
    {kDataPort, "data listening port", kMaxPortNumber},
    {kDestPort, "destination port", kMaxPortNumber},
    {kTxTimer, "transmission timer", kMaxTxTimerMs},
    {kTransferMode, "transfer mode", 1},
};

// Digits only (an empty text counts as 0, as the encoder reads it), at most `high`.
bool WithinRange(const std::string& text, unsigned high) {
  unsigned long value = 0;
  for (const char c : text) {
    if (c < '0' || c > '9') return false;
    value = std::min(value * 10 + static_cast<unsigned long>(c - '0'), 1000000UL);
  }
  return value <= high;
}

std::optional<SubmitProblem> CheckStoredValues(const DeviceSettings& s, int rowKind) {
  if (!IsTwoPortRow(rowKind)) return std::nullopt;
  const int other = DisplayedPort(rowKind) == 1 ? 2 : 1;
  const PortStore& store = s.store.ForPort(other);
  for (const StoredRange& range : kStoredRanges) {
    if (WithinRange(store[*StoreTextOfItem(range.item)], range.high)) continue;
    return SubmitProblem{SubmitFault::StoredValue, range.item, other,
                         "Port " + std::to_string(other) + " " + range.name +
                             ": Please enter an integer between 0 and " + std::to_string(range.high) + "."};
  }
  return std::nullopt;
}

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
  if (auto stored = CheckStoredValues(s, rowKind)) return stored;
  if (auto bad = FindBadAddress(s, rowKind)) {
    return SubmitProblem{SubmitFault::Address, bad->item, bad->port, bad->message};
  }
  return std::nullopt;
}

}  // namespace corvane::settings
