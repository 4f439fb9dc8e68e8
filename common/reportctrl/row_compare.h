// The ordering of cell texts used when the report list sorts its rows, and the
// quicksort that applies it.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace reportctrl {

// The whole text read as an unsigned hexadecimal number the way strtoul(text,
// &end, 16) reads it on the 32-bit target (blanks, sign and "0x" accepted,
// saturating at 0xFFFFFFFF); nothing when the text is empty or anything is left.
std::optional<std::uint32_t> ReadWholeHex(const std::string& text);

// The text read as a floating-point number the way strtod reads it, with nothing
// left over or only a single "%"; nothing otherwise.
std::optional<double> ReadNumberOrPercent(const std::string& text);

// -1, 0 or 1. Both texts hexadecimal: by value; else both numbers (an optional
// "%"): by value; else both dates (tk::ParseDate): by date; else byte by byte.
int CompareCellTexts(const std::string& a, const std::string& b);

// Sorts `items` by quicksort (middle element as pivot, Hoare partitioning, not
// stable). `compare` returns <0, 0 or >0; ascending or descending by it. Every
// scan is bounded by the range, so an inconsistent comparison cannot run off
// the ends.
void QuickSort(std::vector<int>& items, const std::function<int(int, int)>& compare, bool ascending);

}  // namespace reportctrl
