// JSON text for what the commands print and serve: a string value with its
// quotes and escapes. Pure function; any thread.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

namespace ravelon::cli {

inline std::string JsonString(std::string_view text) {
  std::string out = "\"";
  for (const char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += c;
    } else if (static_cast<unsigned char>(c) < 0x20) {
      char escaped[8];
      std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
      out += escaped;
    } else {
      out += c;
    }
  }
  return out + "\"";
}

}  // namespace ravelon::cli
