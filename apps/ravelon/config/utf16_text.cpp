#include "config/utf16_text.h"

#include <cstdint>

namespace ravelon::cli {
namespace {

void AppendUtf8(uint32_t code_point, std::string& out) {
  if (code_point < 0x80) {
    out += static_cast<char>(code_point);
  } else if (code_point < 0x800) {
    out += static_cast<char>(0xC0 | (code_point >> 6));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else if (code_point < 0x10000) {
    out += static_cast<char>(0xE0 | (code_point >> 12));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (code_point >> 18));
    out += static_cast<char>(0x80 | ((code_point >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((code_point >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (code_point & 0x3F));
  }
}

uint32_t Unit(std::string_view bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) |
         static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8;
}

}  // namespace

std::string DecodeTextFile(std::string_view bytes, std::string& text, int& line) {
  text.clear();
  line = 1;
  if (bytes.starts_with("\xEF\xBB\xBF")) {
    text.assign(bytes.substr(3));
    return "";
  }
  if (bytes.starts_with("\xFE\xFF"))
    return "the file is UTF-16 big-endian; save it as UTF-16LE (\"Unicode\") or UTF-8";
  if (!bytes.starts_with("\xFF\xFE")) {
    text.assign(bytes);
    return "";
  }
  bytes.remove_prefix(2);
  if (bytes.size() % 2 != 0) {
    line = 0;
    return "the file is UTF-16LE but has an odd number of bytes (cut short?)";
  }
  text.reserve(bytes.size() / 2);
  for (size_t at = 0; at < bytes.size(); at += 2) {
    uint32_t unit = Unit(bytes, at);
    if (unit >= 0xD800 && unit <= 0xDBFF && at + 2 < bytes.size()) {
      const uint32_t low = Unit(bytes, at + 2);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        unit = 0x10000 + ((unit - 0xD800) << 10) + (low - 0xDC00);
        at += 2;
      }
    }
    if (unit >= 0xD800 && unit <= 0xDFFF) return "a broken UTF-16 character (a lone surrogate)";
    if (unit == '\n') ++line;
    AppendUtf8(unit, text);
  }
  line = 1;
  return "";
}

}  // namespace ravelon::cli
