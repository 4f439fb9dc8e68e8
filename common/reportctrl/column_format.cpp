#include "reportctrl/column_format.h"

#include <climits>

#include "tk/types.h"

namespace reportctrl {

namespace {

constexpr int kDefaultWidth = 100;

std::vector<std::string> SplitDroppingEmpty(const std::string& text, char separator) {
  std::vector<std::string> pieces;
  std::string::size_type start = 0;
  while (start <= text.size()) {
    std::string::size_type end = text.find(separator, start);
    if (end == std::string::npos) end = text.size();
    if (end > start) pieces.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return pieces;
}

// Like atoi on a width: blanks skipped, an optional sign, digits up to the first
// other character; saturates instead of overflowing on absurdly long digit runs.
int ReadLeadingInt(const std::string& text) {
  std::string::size_type i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  bool negative = false;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
  long long value = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + (text[i] - '0');
    if (value > INT_MAX) value = INT_MAX;
  }
  return static_cast<int>(negative ? -value : value);
}

int FormatFromCode(const std::string& field) {
  switch (ReadLeadingInt(field)) {
    case 1:
      return tk::LVCFMT_CENTER;
    case 2:
      return tk::LVCFMT_RIGHT;
    default:
      return tk::LVCFMT_LEFT;
  }
}

}  // namespace

std::vector<ColumnFormat> ParseColumnFormat(const std::string& text) {
  std::vector<ColumnFormat> columns;
  for (const std::string& item : SplitDroppingEmpty(text, ';')) {
    std::vector<std::string> fields = SplitDroppingEmpty(item, ',');
    if (fields.empty()) continue;
    ColumnFormat column;
    column.name = fields[0];
    if (fields.size() > 1) column.width = ReadLeadingInt(fields[1]);
    if (fields.size() > 2) column.format = FormatFromCode(fields[2]);
    columns.push_back(std::move(column));
  }
  return columns;
}

}  // namespace reportctrl
