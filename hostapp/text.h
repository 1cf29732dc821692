// Small text helpers shared by the host and the command: names are matched without regard to
// case, and messages quote the names and values they echo.
#pragma once

#include <algorithm>
#include <cctype>
#include <string>

namespace vhost {

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

}  // namespace vhost
