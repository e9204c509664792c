#include "common/number_encoding.h"

#include <cstring>

namespace ravelon {
namespace {

template <typename Unsigned>
std::string EncodeLittleEndian(Unsigned bits) {
  std::string bytes(sizeof(Unsigned), '\0');
  for (size_t i = 0; i < sizeof(Unsigned); ++i) {
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bits >> (8 * i)));
  }
  return bytes;
}

// Requires bytes.size() == sizeof(Unsigned).
template <typename Unsigned>
Unsigned DecodeLittleEndian(std::string_view bytes) {
  Unsigned bits = 0;
  for (size_t i = 0; i < sizeof(Unsigned); ++i) {
    bits |= static_cast<Unsigned>(static_cast<unsigned char>(bytes[i])) << (8 * i);
  }
  return bits;
}

}  // namespace

std::string LongToBytes(int32_t value) { return EncodeLittleEndian(static_cast<uint32_t>(value)); }

std::string DoubleToBytes(double value) {
  static_assert(sizeof(double) == sizeof(uint64_t));
  uint64_t bits;
  std::memcpy(&bits, &value, sizeof bits);
  return EncodeLittleEndian(bits);
}

int32_t BytesToLong(std::string_view bytes) {
  if (bytes.size() != sizeof(uint32_t)) return 0;
  // Conversion to a signed type is modular since C++20.
  return static_cast<int32_t>(DecodeLittleEndian<uint32_t>(bytes));
}

double BytesToDouble(std::string_view bytes) {
  if (bytes.size() != sizeof(uint64_t)) return 0;
  const uint64_t bits = DecodeLittleEndian<uint64_t>(bytes);
  double value;
  std::memcpy(&value, &bits, sizeof value);
  return value;
}

}  // namespace ravelon
