// tk::ParseDate for the headless backend: a small parser of its own for the date
// forms the programs meet, giving the same day count as the platform's variant
// date parser (OLE automation date: days since 1899-12-30, time as a fraction).
//
// Accepted, with blanks around the whole text:
//   YYYY-MM-DD, optionally followed by 'T' or a blank and hh:mm[:ss[.fraction]]
//   M/D/YYYY, M-D-YYYY, M/D/YY or M-D-YY (00-29 is 20xx, 30-99 is 19xx), and
//   YYYY/M/D, each optionally followed by a clock time
//   a clock time alone: h:mm[:ss] with an optional AM or PM (any case, blank
//   before it optional), or h AM / h PM; its date is day 0 (1899-12-30)
// Anything else, and any impossible date or time, is refused.
#include <cstdint>
#include <string>

#include "tk/platform.h"

namespace tk {

namespace {

struct Cursor {
  const std::string& text;
  std::size_t pos = 0;

  bool AtEnd() const { return pos >= text.size(); }
  char Peek() const { return AtEnd() ? '\0' : text[pos]; }
  bool Take(char c) {
    if (Peek() != c) return false;
    ++pos;
    return true;
  }
  void SkipBlanks() {
    while (!AtEnd() && (text[pos] == ' ' || text[pos] == '\t')) ++pos;
  }
  // Between minDigits and maxDigits decimal digits.
  bool Number(int minDigits, int maxDigits, int& value) {
    int digits = 0;
    value = 0;
    while (digits < maxDigits && !AtEnd() && text[pos] >= '0' && text[pos] <= '9') {
      value = value * 10 + (text[pos] - '0');
      ++pos;
      ++digits;
    }
    return digits >= minDigits;
  }
};

struct DateTime {
  int year = 0;
  int month = 0;
  int day = 0;
  int hour = 0;
  int minute = 0;
  double second = 0;
};

bool IsLeap(int y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

int DaysInMonth(int y, int m) {
  static const int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && IsLeap(y) ? 29 : kDays[m - 1];
}

bool IsValid(const DateTime& t) {
  return t.year >= 100 && t.year <= 9999 && t.month >= 1 && t.month <= 12 && t.day >= 1 &&
         t.day <= DaysInMonth(t.year, t.month) && t.hour >= 0 && t.hour <= 23 && t.minute >= 0 &&
         t.minute <= 59 && t.second >= 0 && t.second < 60;
}

// Days from 1970-01-01 in the proleptic Gregorian calendar.
std::int64_t DaysFromCivil(int y, int m, int d) {
  y -= m <= 2 ? 1 : 0;
  const std::int64_t era = (y >= 0 ? y : y - 399) / 400;
  const std::int64_t yoe = y - era * 400;
  const std::int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const std::int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + doe - 719468;
}

// Before the epoch the day count is negative while the time still counts
// forward, as the OLE date encodes it (-1.25 is 1899-12-29 06:00).
double ToOleDate(const DateTime& t) {
  const double days =
      static_cast<double>(DaysFromCivil(t.year, t.month, t.day) - DaysFromCivil(1899, 12, 30));
  const double fraction = (t.hour * 3600.0 + t.minute * 60.0 + t.second) / 86400.0;
  return days >= 0 ? days + fraction : days - fraction;
}

bool ParseFraction(Cursor& c, double& second) {
  if (!c.Take('.')) return true;
  double scale = 0.1;
  std::size_t start = c.pos;
  while (!c.AtEnd() && c.Peek() >= '0' && c.Peek() <= '9') {
    second += (c.Peek() - '0') * scale;
    scale /= 10;
    ++c.pos;
  }
  return c.pos > start;
}

bool ParseIso(Cursor& c, DateTime& t) {
  if (!c.Number(4, 4, t.year) || !c.Take('-') || !c.Number(2, 2, t.month) || !c.Take('-') ||
      !c.Number(2, 2, t.day)) {
    return false;
  }
  if (c.AtEnd()) return true;
  if (!c.Take('T') && !c.Take(' ')) return false;
  int second = 0;
  if (!c.Number(2, 2, t.hour) || !c.Take(':') || !c.Number(2, 2, t.minute)) return false;
  if (c.Take(':')) {
    if (!c.Number(2, 2, second)) return false;
    t.second = second;
    if (!ParseFraction(c, t.second)) return false;
  }
  return c.AtEnd();
}

// "AM" / "PM" in any case: 0 none, 1 AM, 2 PM, -1 something else.
int ParseMeridiem(Cursor& c) {
  c.SkipBlanks();
  if (c.AtEnd()) return 0;
  if (c.text.size() - c.pos != 2) return -1;
  const char first = static_cast<char>(c.text[c.pos] | 0x20);
  const char second = static_cast<char>(c.text[c.pos + 1] | 0x20);
  c.pos += 2;
  if (second != 'm') return -1;
  if (first == 'a') return 1;
  if (first == 'p') return 2;
  return -1;
}

bool ParseClock(Cursor& c, DateTime& t) {
  int second = 0;
  if (!c.Number(1, 2, t.hour) || !c.Take(':') || !c.Number(2, 2, t.minute)) return false;
  if (c.Take(':')) {
    if (!c.Number(2, 2, second)) return false;
    t.second = second;
  }
  const int meridiem = ParseMeridiem(c);
  if (meridiem < 0) return false;
  if (meridiem > 0) {
    if (t.hour < 1 || t.hour > 12) return false;
    t.hour = t.hour % 12 + (meridiem == 2 ? 12 : 0);
  }
  return true;
}

// After a date: nothing, or a blank and a clock time.
bool ParseOptionalClock(Cursor& c, DateTime& t) {
  if (c.AtEnd()) return true;
  const std::size_t beforeBlank = c.pos;
  c.SkipBlanks();
  if (c.pos == beforeBlank) return false;
  return ParseClock(c, t);
}

bool ParseMonthDayYear(Cursor& c, char separator, DateTime& t) {
  if (!c.Number(1, 2, t.month) || !c.Take(separator) || !c.Number(1, 2, t.day) || !c.Take(separator)) {
    return false;
  }
  const std::size_t yearStart = c.pos;
  if (!c.Number(2, 4, t.year)) return false;
  const std::size_t yearDigits = c.pos - yearStart;
  if (yearDigits == 3) return false;
  if (yearDigits == 2) t.year += t.year < 30 ? 2000 : 1900;
  return ParseOptionalClock(c, t);
}

bool ParseYearSlashMonthDay(Cursor& c, DateTime& t) {
  if (!c.Number(4, 4, t.year) || !c.Take('/') || !c.Number(1, 2, t.month) || !c.Take('/') ||
      !c.Number(1, 2, t.day)) {
    return false;
  }
  return ParseOptionalClock(c, t);
}

// A time of day alone belongs to day 0 of the count.
bool ParseTimeOnly(Cursor& c, DateTime& t) {
  t.year = 1899;
  t.month = 12;
  t.day = 30;
  const std::size_t start = c.pos;
  if (ParseClock(c, t)) return true;
  c.pos = start;
  if (!c.Number(1, 2, t.hour)) return false;
  const int meridiem = ParseMeridiem(c);
  if (meridiem <= 0 || t.hour < 1 || t.hour > 12) return false;
  t.hour = t.hour % 12 + (meridiem == 2 ? 12 : 0);
  return true;
}

}  // namespace

bool ParseDate(const std::string& text, double& date) {
  std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return false;
  std::size_t last = text.find_last_not_of(" \t");
  const std::string body = text.substr(first, last - first + 1);

  using Form = bool (*)(Cursor&, DateTime&);
  static const Form kForms[] = {
      ParseIso,
      [](Cursor& c, DateTime& t) { return ParseMonthDayYear(c, '/', t); },
      [](Cursor& c, DateTime& t) { return ParseMonthDayYear(c, '-', t); },
      ParseYearSlashMonthDay,
      ParseTimeOnly,
  };
  DateTime t;
  bool parsed = false;
  for (Form form : kForms) {
    t = DateTime{};
    Cursor c{body};
    if (form(c, t) && c.AtEnd()) {
      parsed = true;
      break;
    }
  }
  if (!parsed || !IsValid(t)) return false;
  date = ToOleDate(t);
  return true;
}

}  // namespace tk
