#include "common/hex_encoding.h"

namespace ravelon {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

int64_t HexToLong(std::string_view text) {
  uint64_t value = 0;
  for (const char c : text) {
    const int digit = HexDigitValue(c);
    if (digit < 0) return 0;
    value = value << 4 | static_cast<uint64_t>(digit);
  }
  return static_cast<int64_t>(value);
}

std::string HexToString(std::string_view text) {
  std::string bytes;
  if (text.empty() || text.size() % 2 != 0) return bytes;
  bytes.resize(text.size() / 2);
  for (size_t i = 0; i < bytes.size(); ++i) {
    bytes[i] = static_cast<char>(HexToLong(text.substr(2 * i, 2)));
  }
  return bytes;
}

std::string StringToHex(std::string_view bytes) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    text += kDigits[byte >> 4];
    text += kDigits[byte & 0x0F];
  }
  return text;
}

}  // namespace ravelon
