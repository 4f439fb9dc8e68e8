// uidrive's line protocol: one command per line in, one answer per line out.
//
// A command is words separated by blanks; a word that holds blanks, quotes or
// is empty is written in double quotes, where \" \\ \n \r \t stand for
// themselves. An answer is "ok " followed by one JSON value, or "err " followed
// by a message on the same line. Nothing here depends on the platform, so the
// parsing is tested natively.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uidrive {

// The words of a command line; empty with `error` set when a quote is left open
// or an escape is unknown.
std::vector<std::string> SplitWords(std::string_view line, std::string& error);

// `text` as a JSON string literal (quotes included). Bytes above 0x7F are taken
// as Windows-1252 and written as \u escapes, so the answer is plain ASCII.
std::string JsonString(std::string_view text);

// A whole number in decimal or 0x-hex, with an optional minus sign; nothing when
// the word is anything else (trailing letters included).
std::optional<long long> ParseInteger(std::string_view word);

// Builds one JSON object field by field: Object().Add("id", 5).Add("text", "x").
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, long long value);
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& Add(std::string_view key, std::string_view text);
  JsonObject& Add(std::string_view key, const char* text) { return Add(key, std::string_view(text)); }
  JsonObject& Add(std::string_view key, int value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(std::string_view key, unsigned value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(std::string_view key, long value) { return Add(key, static_cast<long long>(value)); }
  JsonObject& Add(std::string_view key, unsigned long value) {
    return Add(key, static_cast<long long>(value));
  }
  // A value already written as JSON (an array or a nested object).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  std::string Text() const { return m_text + "}"; }

 private:
  void Key(std::string_view key);
  std::string m_text = "{";
};

// A JSON array of values already written as JSON.
std::string JsonArray(const std::vector<std::string>& values);

}  // namespace uidrive
