// The date parser the report list's sort relies on: the platform's on win32,
// the headless backend's own imitation natively. Both suites run this one
// table, so the imitation is held to the platform case for case; the rows
// marked kStricter are where the platform's parser (as Wine has it) is more
// lenient than the imitation, and run natively only.
#include <gtest/gtest.h>

#include "tk/platform.h"

namespace {

#ifdef _WIN32
constexpr bool kOnPlatform = true;
#else
constexpr bool kOnPlatform = false;
#endif
constexpr bool kStricter = true;

struct DateCase {
  const char* text;
  double expected;  // OLE automation date
  bool stricter = false;
};

struct RefusedCase {
  const char* text;
  bool stricter = false;
};

TEST(ParseDate, AcceptedForms) {
  const DateCase cases[] = {
      {"1899-12-30", 0.0},
      {"1899-12-31", 1.0},
      {"1900-01-01", 2.0},
      {"2000-01-01", 36526.0},
      {"2000-01-01T06:00", 36526.25, kStricter},
      {"2000-01-01 18:00:00", 36526.75},
      {"2000-01-01T12:00:00.5", 36526.5 + 0.5 / 86400, kStricter},
      {"2024-02-29", 45351.0},  // leap day
      {"1/1/2000", 36526.0},
      {"01/01/2000", 36526.0},
      {"12/31/1999 12:00 PM", 36525.5},
      {"12/31/1999 12:00 am", 36525.0},
      {"12/31/1999 6:30PM", 36525.0 + 18.5 / 24},
      {"12/31/1999 23:59:59", 36525.0 + 86399.0 / 86400},
      {"1/1/00", 36526.0},  // two-digit years: 00-29 are 20xx
      {"1/1/99", 36161.0},  // 30-99 are 19xx
      {"  2000-01-01  ", 36526.0},
      {"1899-12-29 06:00", -1.25},  // before the epoch the time still counts forward
      {"1-5-2021", 44201.0},        // month-day-year with dashes
      {"12-31-2020 6:00 AM", 44196.25},
      {"2020/06/01", 43983.0},  // year/month/day with slashes
      {"10:30", 10.5 / 24},     // a time alone is a time of day 0
      {"12:30:45", (12 * 3600 + 30 * 60 + 45) / 86400.0},
      {"3 PM", 15.0 / 24},
      {"12 am", 0.0},
  };
  for (const DateCase& c : cases) {
    if (c.stricter && kOnPlatform) continue;
    double date = -99999;
    EXPECT_TRUE(tk::ParseDate(c.text, date)) << "\"" << c.text << "\"";
    EXPECT_DOUBLE_EQ(date, c.expected) << "\"" << c.text << "\"";
  }
}

TEST(ParseDate, RefusesEverythingElse) {
  const RefusedCase refused[] = {
      {""},
      {" "},
      {"Idle"},
      {"2000"},
      {"2000-1-1", kStricter},
      {"2000-13-01", kStricter},
      {"2000-02-30"},
      {"1900-02-29"},
      {"2000-01-01T"},
      {"2000-01-01T25:00"},
      {"2000-01-01T10:60"},
      {"2000-01-01x"},
      {"13/1/2000", kStricter},
      {"2/30/2000"},
      {"1/1/200", kStricter},
      {"1/1/2000 13:00 PM", kStricter},
      {"1/1/2000 0:00 AM", kStricter},
      {"1/1/2000 10"},
      {"1/1/2000 10:00 XM"},
      {"1/1/2000 10:00 AMX"},
      {"1/1/200010:00"},
      {"10"},
      {"13 PM", kStricter},
      {"10:3", kStricter},
      {"1-5/2021", kStricter},
      {"2020/13/01", kStricter},
      {"1.5", kStricter},
      {"99/99/9999"},
      {"0099-01-01", kStricter},
  };
  for (const auto& [text, stricter] : refused) {
    if (stricter && kOnPlatform) continue;
    double date = 12345;
    EXPECT_FALSE(tk::ParseDate(text, date)) << "\"" << text << "\"";
    EXPECT_EQ(date, 12345) << "a refused text must leave the result alone: \"" << text << "\"";
  }
}

}  // namespace
