#include "reportctrl/column_format.h"

#include <gtest/gtest.h>

#include "tk/types.h"

namespace reportctrl {
namespace {

struct SpecCase {
  const char* text;
  std::vector<ColumnSpec> expected;
};

class ColumnSpecParse : public ::testing::TestWithParam<SpecCase> {};

TEST_P(ColumnSpecParse, GivesColumns) {
  const SpecCase& c = GetParam();
  std::vector<ColumnSpec> got = ParseColumnSpec(c.text);
  ASSERT_EQ(got.size(), c.expected.size()) << "specification \"" << c.text << "\"";
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
    Cases, ColumnSpecParse,
    ::testing::Values(SpecCase{"Port ID, 60; Port Name, 150; Status, 100; Remote IP, 120; Remote Port, 80",
                               {{"Port ID", 60, L},
                                {" Port Name", 150, L},
                                {" Status", 100, L},
                                {" Remote IP", 120, L},
                                {" Remote Port", 80, L}}},
                      SpecCase{"Name", {{"Name", 100, L}}},  // no width: 100, left
                      SpecCase{"A,10,1;B,20,2;C,30,3;D,40,0",
                               {{"A", 10, C}, {"B", 20, R}, {"C", 30, L}, {"D", 40, L}}},
                      SpecCase{",50", {{"50", 100, L}}},     // leading comma: width becomes the name
                      SpecCase{";;A,,7;;", {{"A", 7, L}}},   // empty pieces dropped
                      SpecCase{"A,  42px", {{"A", 42, L}}},  // blanks skipped, reading stops at a non-digit
                      SpecCase{"A,wide", {{"A", 0, L}}},     // no digits reads as 0
                      SpecCase{"A,10, 1", {{"A", 10, C}}},   // alignment read like the width
                      SpecCase{"A,10,2,extra", {{"A", 10, R}}},  // fields after the third ignored
                      SpecCase{"A,99999999999999999999", {{"A", 2147483647, L}}},  // absurd width saturates
                      SpecCase{"", {}}, SpecCase{";,;", {}}));

}  // namespace
}  // namespace reportctrl
