#include "connection/codec_base64.h"

#include <algorithm>
#include <array>

namespace ravelon {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr uint8_t kNotInAlphabet = 255;
constexpr size_t kBytesPerLine = 57;  // 76 characters

constexpr std::array<uint8_t, 256> MakeDecodeTable() {
  std::array<uint8_t, 256> table{};
  for (auto& entry : table) entry = kNotInAlphabet;
  for (uint8_t i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = i;
  table[static_cast<uint8_t>('=')] = 0;
  return table;
}

constexpr std::array<uint8_t, 256> kDecodeTable = MakeDecodeTable();

}  // namespace

uint8_t Codec_Base64::DecodeChar(char c) { return kDecodeTable[static_cast<uint8_t>(c)]; }

char Codec_Base64::EncodeValue(uint8_t value) { return kAlphabet[value & 0x3F]; }

int32_t Codec_Base64::Encode(const std::string& input, std::string& output) const {
  output.clear();
  const size_t n = input.size();
  if (n == 0) return kDone;
  output.reserve((n + 2) / 3 * 4 + n / kBytesPerLine * 2);
  for (size_t i = 0; i < n; i += 3) {
    if (i > 0 && i % kBytesPerLine == 0) output += "\r\n";
    const uint8_t b0 = static_cast<uint8_t>(input[i]);
    const uint8_t b1 = i + 1 < n ? static_cast<uint8_t>(input[i + 1]) : 0;
    const uint8_t b2 = i + 2 < n ? static_cast<uint8_t>(input[i + 2]) : 0;
    output += EncodeValue(b0 >> 2);
    output += EncodeValue(static_cast<uint8_t>((b0 & 0x03) << 4 | b1 >> 4));
    output += i + 1 < n ? EncodeValue(static_cast<uint8_t>((b1 & 0x0F) << 2 | b2 >> 6)) : '=';
    output += i + 2 < n ? EncodeValue(b2 & 0x3F) : '=';
  }
  return kDone;
}

int32_t Codec_Base64::Decode(const std::string& input, std::string& output) const {
  output.clear();
  if (input.size() < 4) return kDone;
  std::string bytes;
  bytes.reserve(input.size() / 4 * 3);
  uint8_t group[4];
  char chars[4];
  int filled = 0;
  char last_group[4] = {0, 0, 0, 0};
  bool any_group = false;
  for (const char c : input) {
    if (c == '\r' || c == '\n') continue;
    chars[filled] = c;
    group[filled++] = DecodeChar(c);
    if (filled < 4) continue;
    filled = 0;
    for (const uint8_t value : group) {
      if (value == kNotInAlphabet) return kInvalidInput;
    }
    bytes += static_cast<char>(group[0] << 2 | group[1] >> 4);
    bytes += static_cast<char>((group[1] & 0x0F) << 4 | group[2] >> 2);
    bytes += static_cast<char>((group[2] & 0x03) << 6 | group[3]);
    std::copy(chars, chars + 4, last_group);
    any_group = true;
  }
  if (!any_group) return kDone;
  if (filled != 0) return kInvalidInput;
  const size_t padding = (last_group[3] == '=' ? 1 : 0) + (last_group[2] == '=' ? 1 : 0);
  bytes.erase(bytes.end() - static_cast<std::ptrdiff_t>(padding), bytes.end());
  output = std::move(bytes);
  return kDone;
}

}  // namespace ravelon
