// Text helpers shared by the subcommands: comparisons that ignore ASCII
// case, as registry key and value names and HTTP header names do. Pure
// functions; any thread.
#pragma once

#include <algorithm>
#include <cctype>
#include <string_view>

namespace ravelon::cli {

inline bool EqualsNoCase(std::string_view a, std::string_view b) {
  const auto lower = [](unsigned char c) { return std::tolower(c); };
  return std::ranges::equal(a, b, {}, lower, lower);
}

inline bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  return text.size() >= prefix.size() && EqualsNoCase(text.substr(0, prefix.size()), prefix);
}

}  // namespace ravelon::cli
