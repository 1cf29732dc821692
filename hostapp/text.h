// Small text helpers shared by the host and the command: names are matched without regard to
// case, and messages quote the names and values they echo.
#pragma once

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace vhost {

// How many single-character edits turn one name into another, for suggesting the nearest names.
inline size_t EditDistance(const std::string& a, const std::string& b) {
  std::vector<size_t> row(b.size() + 1);
  for (size_t j = 0; j <= b.size(); ++j) row[j] = j;
  for (size_t i = 1; i <= a.size(); ++i) {
    size_t diagonal = row[0];
    row[0] = i;
    for (size_t j = 1; j <= b.size(); ++j) {
      const size_t up = row[j];
      row[j] = std::min({row[j] + 1, row[j - 1] + 1, diagonal + (a[i - 1] != b[j - 1] ? 1 : 0)});
      diagonal = up;
    }
  }
  return row[b.size()];
}

// ASCII letters in lower case; other bytes (UTF-8 included) unchanged.
inline std::string Lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return s;
}

// Without leading and trailing spaces and tabs.
inline std::string Trim(const std::string& s) {
  const size_t begin = s.find_first_not_of(" \t");
  if (begin == std::string::npos) return {};
  return s.substr(begin, s.find_last_not_of(" \t") + 1 - begin);
}

// In double quotes, as messages echo a name or value.
inline std::string Quoted(const std::string& s) {
  return "\"" + s + "\"";
}

// A whole number written in full, sign and digits only ("12", "-3"); false for anything else,
// an empty text or one out of the type's range.
template <typename Int>
bool ParseWholeNumber(const std::string& text, Int* value) {
  const char* begin = text.data();
  const char* end = begin + text.size();
  auto [ptr, ec] = std::from_chars(begin, end, *value);
  return ec == std::errc() && ptr == end && begin != end;
}

// The first line of a library's message, for our one-line errors; "unknown error" when empty.
inline std::string FirstLine(const std::string& text) {
  std::string line = text.substr(0, text.find('\n'));
  return line.empty() ? "unknown error" : line;
}

// Numbers in messages and listings: whole numbers without exponent or decimals, others with up to
// nine significant digits.
inline std::string FormatNumber(double v) {
  char text[40];
  if (std::floor(v) == v && std::fabs(v) < 1e15)
    std::snprintf(text, sizeof text, "%.0f", v);
  else
    std::snprintf(text, sizeof text, "%.9g", v);
  return text;
}

// The shortest decimal text that reads back as exactly `v`, for values saved as text; whole
// numbers without an exponent.
inline std::string ExactNumber(double v) {
  char text[40];
  if (std::floor(v) == v && std::fabs(v) < 1e15) {
    std::snprintf(text, sizeof text, "%.0f", v);
    return text;
  }
  for (int precision = 1; precision <= 17; ++precision) {
    std::snprintf(text, sizeof text, "%.*g", precision, v);
    if (std::strtod(text, nullptr) == v) break;
  }
  return text;
}

}  // namespace vhost
