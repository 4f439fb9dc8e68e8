// The column format string of the report list: "Name, width, align; ...".
#pragma once

#include <string>
#include <vector>

namespace reportctrl {

struct ColumnFormat {
  std::string name;
  int width = 100;
  int format = 0;  // tk::LVCFMT_LEFT / LVCFMT_RIGHT / LVCFMT_CENTER
};

// Splits the text at ";" into items and each item at "," into fields. Empty
// pieces are dropped and nothing is trimmed, so " Port Name" keeps its blank.
// Field 0 is the name, field 1 the width (leading blanks skipped, digits read up
// to the first non-digit; 100 when absent), field 2 the alignment code (1 centre,
// 2 right, anything else left).
std::vector<ColumnFormat> ParseColumnFormat(const std::string& text);

}  // namespace reportctrl
