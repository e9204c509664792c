// Bytes as hexadecimal text, two digits per byte, as the source settings
// store binary values (the store file's start time, the weekly schedule).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon {

// 0..15 for a hex digit of either case, -1 for anything else.
int HexDigitValue(char c);

// The value of a string of hex digits; 0 if any character is not a hex digit.
int64_t HexToLong(std::string_view text);

// Two digits per byte. Empty or odd-length text decodes to no bytes; a pair
// holding anything but hex digits decodes to the byte 0.
std::string HexToString(std::string_view text);

// Two upper-case digits per byte, high digit first.
std::string StringToHex(std::string_view bytes);

}  // namespace ravelon
