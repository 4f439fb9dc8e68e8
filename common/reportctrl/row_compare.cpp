#include "reportctrl/row_compare.h"

#include <cstdlib>
#include <utility>

#include "tk/platform.h"

namespace reportctrl {

namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

template <typename T>
int Sign(T a, T b) {
  if (a < b) return -1;
  if (b < a) return 1;
  return 0;
}

}  // namespace

std::optional<std::uint32_t> ReadWholeHex(const std::string& text) {
  std::size_t i = 0;
  const std::size_t n = text.size();
  while (i < n && IsSpace(text[i])) ++i;
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  if (i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      HexDigit(text[i + 2]) >= 0) {
    i += 2;
  }
  const std::size_t firstDigit = i;
  std::uint64_t value = 0;
  for (; i < n && HexDigit(text[i]) >= 0; ++i) {
    value = value * 16 + static_cast<std::uint64_t>(HexDigit(text[i]));
    if (value > 0xFFFFFFFFull) value = 0x100000000ull;  // remembered as overflow
  }
  if (i == firstDigit || i != n) return std::nullopt;
  if (value > 0xFFFFFFFFull) return 0xFFFFFFFFu;  // strtoul's ULONG_MAX, whatever the sign
  auto result = static_cast<std::uint32_t>(value);
  return negative ? static_cast<std::uint32_t>(0u - result) : result;
}

std::optional<double> ReadNumberOrPercent(const std::string& text) {
  if (text.empty()) return std::nullopt;
  const char* begin = text.c_str();
  char* end = nullptr;
  double value = std::strtod(begin, &end);
  if (end == begin) return std::nullopt;
  const std::string rest(static_cast<const char*>(end), begin + text.size());
  if (rest.empty() || rest == "%") return value;
  return std::nullopt;
}

int CompareCellTexts(const std::string& a, const std::string& b) {
  if (!a.empty() && !b.empty()) {
    auto hexA = ReadWholeHex(a);
    auto hexB = ReadWholeHex(b);
    if (hexA && hexB) return Sign(*hexA, *hexB);
    auto numA = ReadNumberOrPercent(a);
    auto numB = ReadNumberOrPercent(b);
    if (numA && numB) return Sign(*numA, *numB);
  }
  double dateA = 0;
  double dateB = 0;
  if (tk::ParseDate(a, dateA) && tk::ParseDate(b, dateB)) return Sign(dateA, dateB);
  // std::string compares bytes as unsigned char, like the byte-wise string compare.
  int byBytes = a.compare(b);
  return byBytes < 0 ? -1 : (byBytes > 0 ? 1 : 0);
}

namespace {

// Hoare partition of items[lo..hi] around the middle element's value.
void QuickSortRange(std::vector<int>& items, int lo, int hi, const std::function<bool(int, int)>& before) {
  while (lo < hi) {
    const int pivot = items[static_cast<std::size_t>(lo + (hi - lo) / 2)];
    int i = lo;
    int j = hi;
    while (i <= j) {
      while (i < hi && before(items[static_cast<std::size_t>(i)], pivot)) ++i;
      while (j > lo && before(pivot, items[static_cast<std::size_t>(j)])) --j;
      if (i <= j) {
        std::swap(items[static_cast<std::size_t>(i)], items[static_cast<std::size_t>(j)]);
        ++i;
        --j;
      }
    }
    // Recurse into the smaller side and loop on the larger, so the depth stays logarithmic.
    if (j - lo < hi - i) {
      QuickSortRange(items, lo, j, before);
      lo = i;
    } else {
      QuickSortRange(items, i, hi, before);
      hi = j;
    }
  }
}

}  // namespace

void QuickSort(std::vector<int>& items, const std::function<int(int, int)>& compare, bool ascending) {
  if (items.size() < 2) return;
  auto before = [&](int x, int y) { return ascending ? compare(x, y) < 0 : compare(x, y) > 0; };
  QuickSortRange(items, 0, static_cast<int>(items.size()) - 1, before);
}

}  // namespace reportctrl
