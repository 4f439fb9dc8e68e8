#include "line_protocol.h"

#include <gtest/gtest.h>

namespace {

using uidrive::JsonString;
using uidrive::ParseInteger;
using uidrive::SplitWords;

TEST(UidriveLine, SplitsWordsAndQuotedWords) {
  struct Case {
    const char* line;
    std::vector<std::string> words;
  };
  const Case cases[] = {
      {"press 0x1A 1000", {"press", "0x1A", "1000"}},
      {"  wait\t\"Corvane 2.9\"  5000 ", {"wait", "Corvane 2.9", "5000"}},
      {"settext 5 1001 \"\"", {"settext", "5", "1001", ""}},
      {R"(settext 5 7 "a \"b\" c\\d\n")", {"settext", "5", "7", "a \"b\" c\\d\n"}},
      {"", {}},
  };
  for (const Case& c : cases) {
    std::string error;
    EXPECT_EQ(SplitWords(c.line, error), c.words) << c.line;
    EXPECT_EQ(error, "") << c.line;
  }
}

TEST(UidriveLine, RefusesBrokenQuotes) {
  for (const char* line : {"wait \"Corvane", "wait \"a\\q\"", "wait \"a\"b", "wait \"a\\"}) {
    std::string error;
    EXPECT_TRUE(SplitWords(line, error).empty()) << line;
    EXPECT_NE(error, "") << line;
  }
}

TEST(UidriveLine, JsonStringsArePlainAscii) {
  EXPECT_EQ(JsonString("a\"b\\c\n\t"), R"("a\"b\\c\n\t")");
  EXPECT_EQ(JsonString(std::string("\x01\x80\xE9", 3)), R"("\u0001\u20ac\u00e9")");
}

TEST(UidriveLine, ParsesWholeNumbersOnly) {
  EXPECT_EQ(ParseInteger("1005"), 1005);
  EXPECT_EQ(ParseInteger("0x1A"), 26);
  EXPECT_EQ(ParseInteger("-1"), -1);
  for (const char* word : {"", "-", "12a", "0x", "Corvane", "1 2", "99999999999999999"})
    EXPECT_FALSE(ParseInteger(word).has_value()) << word;
}

}  // namespace
