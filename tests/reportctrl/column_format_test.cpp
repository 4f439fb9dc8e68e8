#include "reportctrl/column_format.h"

#include <gtest/gtest.h>

#include "tk/types.h"

namespace reportctrl {
namespace {

struct ColumnFormatCase {
  const char* text;
  std::vector<ColumnFormat> expected;
};

class ColumnFormatParse : public ::testing::TestWithParam<ColumnFormatCase> {};

TEST_P(ColumnFormatParse, GivesColumns) {
  const ColumnFormatCase& c = GetParam();
  std::vector<ColumnFormat> got = ParseColumnFormat(c.text);
  ASSERT_EQ(got.size(), c.expected.size()) << "column format \"" << c.text << "\"";
  for (std::size_t i = 0; i < got.size(); ++i) {
    EXPECT_EQ(got[i].name, c.expected[i].name) << "column " << i << " of \"" << c.text << "\"";
    EXPECT_EQ(got[i].width, c.expected[i].width) << "column " << i << " of \"" << c.text << "\"";
    EXPECT_EQ(got[i].format, c.expected[i].format) << "column " << i << " of \"" << c.text << "\"";
  }
}

constexpr int L = tk::LVCFMT_LEFT;
constexpr int R = tk::LVCFMT_RIGHT;
constexpr int C = tk::LVCFMT_CENTER;

INSTANTIATE_TEST_SUITE_P(
    Cases, ColumnFormatParse,
    ::testing::Values(
        ColumnFormatCase{"Port ID, 60; Port Name, 150; Status, 100; Remote IP, 120; Remote Port, 80",
                         {{"Port ID", 60, L},
                          {" Port Name", 150, L},
                          {" Status", 100, L},
                          {" Remote IP", 120, L},
                          {" Remote Port", 80, L}}},
        ColumnFormatCase{"Name", {{"Name", 100, L}}},  // no width: 100, left
        ColumnFormatCase{"A,10,1;B,20,2;C,30,3;D,40,0",
                         {{"A", 10, C}, {"B", 20, R}, {"C", 30, L}, {"D", 40, L}}},
        ColumnFormatCase{",50", {{"50", 100, L}}},         // leading comma: width becomes the name
        ColumnFormatCase{";;A,,7;;", {{"A", 7, L}}},       // empty pieces dropped
        ColumnFormatCase{"A,  42px", {{"A", 42, L}}},      // blanks skipped, reading stops at a non-digit
        ColumnFormatCase{"A,wide", {{"A", 0, L}}},         // no digits reads as 0
        ColumnFormatCase{"A,10, 1", {{"A", 10, C}}},       // alignment read like the width
        ColumnFormatCase{"A,10,2,extra", {{"A", 10, R}}},  // fields after the third ignored
        ColumnFormatCase{"A,99999999999999999999", {{"A", 2147483647, L}}},  // absurd width saturates
        ColumnFormatCase{"", {}}, ColumnFormatCase{";,;", {}}));

}  // namespace
}  // namespace reportctrl
