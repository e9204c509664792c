// Fixed-width little-endian encodings of 32-bit integers and doubles as byte
// strings (one char per byte): the length prefixes and stamps of the event and
// event-list text forms, and other binary fields of the engine.
//
// Free functions without state; called on the engine's thread. The bytes are
// composed explicitly, so the encoding is the same on hosts of either byte
// order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon {

// The value's 4 bytes (two's complement), least significant first.
std::string LongToBytes(int32_t value);

// The value's 8 bytes (IEEE 754 binary64), least significant first.
std::string DoubleToBytes(double value);

// The value of a 4-byte string as written by LongToBytes; 0 for any other
// length.
int32_t BytesToLong(std::string_view bytes);

// The value of an 8-byte string as written by DoubleToBytes; 0 for any other
// length. Every bit pattern is taken as it is, NaNs and infinities included.
double BytesToDouble(std::string_view bytes);

}  // namespace ravelon
