#include "reportctrl/row_compare.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>

namespace reportctrl {
namespace {

struct HexCase {
  const char* text;
  std::optional<std::uint32_t> expected;
};

TEST(ReadWholeHex, ReadsLikeStrtoulOnTheTarget) {
  const HexCase cases[] = {
      {"9", 9u},
      {"10", 16u},
      {"A", 10u},
      {"ff", 255u},
      {"Cafe", 0xCAFEu},
      {"0x1A", 26u},
      {"0X1a", 26u},
      {"  10", 16u},
      {"+f", 15u},
      {"-1", 0xFFFFFFFFu},
      {"FFFFFFFF", 0xFFFFFFFFu},
      {"100000000", 0xFFFFFFFFu},
      {"-100000000", 0xFFFFFFFFu},
      {"", std::nullopt},
      {" ", std::nullopt},
      {"0x", std::nullopt},
      {"1g", std::nullopt},
      {"10 ", std::nullopt},
      {"1.5", std::nullopt},
      {"Idle", std::nullopt},
      {"-", std::nullopt},
  };
  for (const HexCase& c : cases) EXPECT_EQ(ReadWholeHex(c.text), c.expected) << "text \"" << c.text << "\"";
}

TEST(ReadNumberOrPercent, AcceptsOnlyASinglePercentAfterTheNumber) {
  EXPECT_EQ(ReadNumberOrPercent("1.5"), 1.5);
  EXPECT_EQ(ReadNumberOrPercent("10%"), 10.0);
  EXPECT_EQ(ReadNumberOrPercent(" -2e1"), -20.0);
  EXPECT_EQ(ReadNumberOrPercent("10%%"), std::nullopt);
  EXPECT_EQ(ReadNumberOrPercent("10 %"), std::nullopt);
  EXPECT_EQ(ReadNumberOrPercent("%"), std::nullopt);
  EXPECT_EQ(ReadNumberOrPercent("1.5x"), std::nullopt);
  EXPECT_EQ(ReadNumberOrPercent(""), std::nullopt);
}

struct CompareCase {
  const char* a;
  const char* b;
  int expected;
};

TEST(CompareCellTexts, HexThenNumberThenDateThenBytes) {
  const CompareCase cases[] = {
      {"9", "A", -1},    // hexadecimal: 9 < 10
      {"A", "10", -1},   // 10 < 16
      {"10", "9", 1},    // digit strings keep their numeric order
      {"ff", "FF", 0},   // letters a-f are numbers too
      {"1.5", "2", -1},  // not both hexadecimal: floating point
      {"2", "10%", -1},  // a single "%" allowed
      {"10%", "1.5", 1},
      {"2.0", "2", 0},
      {"12/31/2020", "1/5/2021", -1},   // dates
      {"2021-01-05", "12/31/2020", 1},  // either date form
      {"1/5/2021 1:00 PM", "1/5/2021 11:00", 1},
      {"Idle", "Connected", 1},  // text, byte by byte
      {"Connected", "Idle", -1},
      {"idle", "Idle", 1},  // case-sensitive
      {"", "1", -1},        // empty text is not a number
      {"1", "", 1},
      {"", "", 0},
      {"abc", "abc", 0},    // equal hex words
      {"x\xE9", "x~", 1},   // bytes compare unsigned
      {"1.5", "Idle", -1},  // mixed kinds fall to text
  };
  for (const CompareCase& c : cases) {
    EXPECT_EQ(CompareCellTexts(c.a, c.b), c.expected) << "\"" << c.a << "\" vs \"" << c.b << "\"";
    EXPECT_EQ(CompareCellTexts(c.b, c.a), -c.expected) << "\"" << c.b << "\" vs \"" << c.a << "\"";
  }
}

TEST(QuickSort, AgreesWithStdSortBothWays) {
  std::mt19937 random(1234);
  for (int size : {0, 1, 2, 3, 7, 64, 301}) {
    std::vector<int> keys(static_cast<std::size_t>(size));
    for (int& k : keys) k = static_cast<int>(random() % 20);  // many duplicates
    for (bool ascending : {true, false}) {
      std::vector<int> order(keys.size());
      for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
      auto compare = [&](int a, int b) {
        return keys[static_cast<std::size_t>(a)] < keys[static_cast<std::size_t>(b)]
                   ? -1
                   : (keys[static_cast<std::size_t>(a)] > keys[static_cast<std::size_t>(b)] ? 1 : 0);
      };
      QuickSort(order, compare, ascending);
      std::vector<int> sortedKeys;
      for (int i : order) sortedKeys.push_back(keys[static_cast<std::size_t>(i)]);
      std::vector<int> expected = keys;
      if (ascending) {
        std::sort(expected.begin(), expected.end());
      } else {
        std::sort(expected.rbegin(), expected.rend());
      }
      EXPECT_EQ(sortedKeys, expected) << "size " << size << (ascending ? " ascending" : " descending");
    }
  }
}

// Mixed cell kinds make the order intransitive; the sort must still stay inside
// the array and return a permutation.
TEST(QuickSort, SurvivesAnInconsistentComparison) {
  std::mt19937 random(99);
  std::vector<int> order(200);
  for (std::size_t i = 0; i < order.size(); ++i) order[i] = static_cast<int>(i);
  QuickSort(
      order, [&](int, int) { return static_cast<int>(random() % 3) - 1; }, true);
  std::vector<int> sorted = order;
  std::sort(sorted.begin(), sorted.end());
  for (std::size_t i = 0; i < sorted.size(); ++i) ASSERT_EQ(sorted[i], static_cast<int>(i));
}

}  // namespace
}  // namespace reportctrl
