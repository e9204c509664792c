// Base64 (the standard alphabet with "=" padding) with MIME line breaking:
// the engine encodes the Basic credentials of its request with it. Holds no
// state; made where it is needed.
#pragma once

#include <cstdint>
#include <string>

namespace ravelon {

class Codec_Base64 {
 public:
  // 0 = done, 1 = invalid input.
  static constexpr int32_t kDone = 0;
  static constexpr int32_t kInvalidInput = 1;

  // Decodes `input`, skipping CR and LF wherever they stand. On invalid input
  // (a character outside the alphabet, or a last group cut short) `output`
  // is empty and the result is kInvalidInput. Input shorter than 4
  // characters decodes to nothing.
  int32_t Decode(const std::string& input, std::string& output) const;

  // Encodes the bytes of `input`; a CR LF follows every 76 characters that
  // more text follows. Cannot fail.
  int32_t Encode(const std::string& input, std::string& output) const;

 private:
  // 6-bit value of a character; "=" gives 0; 255 outside the alphabet.
  static uint8_t DecodeChar(char c);
  static char EncodeValue(uint8_t value);
};

}  // namespace ravelon
