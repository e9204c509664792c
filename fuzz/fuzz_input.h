// FuzzInput: the values a fuzz target needs, taken one after another from the
// front of its input. Past the end every number reads as 0 and every byte
// string as empty, so any input is a valid one. (libFuzzer's own data provider
// is a clang header; the corpus replay builds with gcc too.)
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace ravelon::fuzz {

class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : rest_(reinterpret_cast<const char*>(data), size) {}

  bool empty() const { return rest_.empty(); }

  uint8_t Byte() {
    const std::string_view byte = Bytes(1);
    return byte.empty() ? 0 : static_cast<uint8_t>(byte[0]);
  }

  // Two bytes, little-endian.
  uint16_t Short() {
    const uint16_t low = Byte();
    return static_cast<uint16_t>(low | Byte() << 8);
  }

  // Up to `n` bytes.
  std::string_view Bytes(size_t n) {
    const std::string_view taken = rest_.substr(0, n);
    rest_.remove_prefix(taken.size());
    return taken;
  }

  // A byte string with its one-byte length first.
  std::string_view Sized() { return Bytes(Byte()); }

  std::string_view Rest() { return Bytes(rest_.size()); }

 private:
  std::string_view rest_;
};

}  // namespace ravelon::fuzz
