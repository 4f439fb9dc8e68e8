// Setting items: the store mapping and the text conversions.
#include "corvane/settings/setting_items.h"

#include <cctype>

namespace corvane::settings {

bool IsTwoPortRow(int rowKind) {
  return rowKind == kFirstPortRow || rowKind == kSecondPortRow;
}

int DisplayedPort(int rowKind) {
  if (rowKind == kSinglePortRow || rowKind == kFirstPortRow) return 1;
  if (rowKind == kSecondPortRow) return 2;
  return 0;
}

std::optional<StoreText> StoreTextOfItem(int item) {
  switch (item) {
    case kServerClient:
      return kStoreServerClient;
    case kUdp:
      return kStoreUdp;
    case kTcp:
      return kStoreTcp;
    case kDataPort:
      return kStoreDataPort;
    case kDestIp:
      return kStoreDestIp;
    case kDestPort:
      return kStoreDestPort;
    case kBaudRate:
      return kStoreBaudRate;
    case kDataBits:
      return kStoreDataBits;
    case kParity:
      return kStoreParity;
    case kFlowControl:
      return kStoreFlowControl;
    case kStopBits:
      return kStoreStopBits;
    case kTxTimer:
      return kStoreTxTimer;
    case kTransferMode:
      return kStoreTransferMode;
    default:
      return std::nullopt;
  }
}

std::int32_t NumberFromText(const std::string& text) {
  std::size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  std::uint32_t value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10u + static_cast<std::uint32_t>(text[i] - '0');
  }
  if (negative) value = 0u - value;
  return static_cast<std::int32_t>(value);
}

bool IsDottedQuad(const std::string& text) {
  int groups = 0;
  std::size_t i = 0;
  while (true) {
    std::size_t digits = 0;
    int value = 0;
    while (i < text.size() && text[i] >= '0' && text[i] <= '9' && digits < 4) {
      value = value * 10 + (text[i] - '0');
      ++digits;
      ++i;
    }
    if (digits == 0 || digits > 3 || value > 255) return false;
    ++groups;
    if (i == text.size()) return groups == 4;
    if (text[i] != '.' || groups == 4) return false;
    ++i;
  }
}

}  // namespace corvane::settings
