#include "line_protocol.h"

#include <cstdio>

namespace uidrive {

namespace {

// Windows-1252's 0x80..0x9F in Unicode; the rest of the upper half is Latin-1.
constexpr unsigned short kCp1252High[32] = {0x20AC, 0xFFFD, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                            0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0xFFFD, 0x017D, 0xFFFD,
                                            0xFFFD, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                            0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0xFFFD, 0x017E, 0x0178};

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

}  // namespace

std::vector<std::string> SplitWords(std::string_view line, std::string& error) {
  std::vector<std::string> words;
  error.clear();
  std::size_t i = 0;
  while (i < line.size()) {
    if (IsBlank(line[i])) {
      ++i;
      continue;
    }
    std::string word;
    if (line[i] != '"') {
      while (i < line.size() && !IsBlank(line[i])) word += line[i++];
      words.push_back(std::move(word));
      continue;
    }
    ++i;  // the opening quote
    bool closed = false;
    while (i < line.size()) {
      const char c = line[i++];
      if (c == '"') {
        closed = true;
        break;
      }
      if (c != '\\') {
        word += c;
        continue;
      }
      if (i == line.size()) break;
      switch (line[i++]) {
        case '"':
          word += '"';
          break;
        case '\\':
          word += '\\';
          break;
        case 'n':
          word += '\n';
          break;
        case 'r':
          word += '\r';
          break;
        case 't':
          word += '\t';
          break;
        default:
          error = "unknown escape in a quoted word";
          return {};
      }
    }
    if (!closed) {
      error = "a quoted word is not closed";
      return {};
    }
    if (i < line.size() && !IsBlank(line[i])) {
      error = "a quoted word runs into the next one";
      return {};
    }
    words.push_back(std::move(word));
  }
  return words;
}

std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char ch : text) {
    const auto c = static_cast<unsigned char>(ch);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += ch;
    } else if (c == '\n') {
      out += "\\n";
    } else if (c == '\r') {
      out += "\\r";
    } else if (c == '\t') {
      out += "\\t";
    } else if (c < 0x20 || c >= 0x7F) {
      const unsigned code = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : c;
      char escape[8];
      std::snprintf(escape, sizeof escape, "\\u%04x", code);
      out += escape;
    } else {
      out += ch;
    }
  }
  return out + "\"";
}

std::optional<long long> ParseInteger(std::string_view word) {
  bool negative = false;
  if (!word.empty() && word[0] == '-') {
    negative = true;
    word.remove_prefix(1);
  }
  int base = 10;
  if (word.size() > 2 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
    base = 16;
    word.remove_prefix(2);
  }
  if (word.empty() || word.size() > 15) return std::nullopt;  // no overflow
  long long value = 0;
  for (const char c : word) {
    int digit = -1;
    if (c >= '0' && c <= '9') digit = c - '0';
    if (base == 16 && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
    if (base == 16 && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
    if (digit < 0) return std::nullopt;
    value = value * base + digit;
  }
  return negative ? -value : value;
}

void JsonObject::Key(std::string_view key) {
  if (m_text.size() > 1) m_text += ',';
  m_text += JsonString(key);
  m_text += ':';
}

JsonObject& JsonObject::Add(std::string_view key, long long value) {
  Key(key);
  m_text += std::to_string(value);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  m_text += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view text) {
  Key(key);
  m_text += JsonString(text);
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  m_text += json;
  return *this;
}

std::string JsonArray(const std::vector<std::string>& values) {
  std::string out = "[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i) out += ',';
    out += values[i];
  }
  return out + "]";
}

}  // namespace uidrive
