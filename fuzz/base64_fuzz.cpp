// Decoding never fails hard on any input, and whatever Encode makes decodes
// back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "connection/codec_base64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string input(reinterpret_cast<const char*>(data), size);
  ravelon::Codec_Base64 codec;
  std::string decoded;
  const int32_t result = codec.Decode(input, decoded);
  if (result != 0 && !decoded.empty()) std::abort();

  std::string encoded, round_trip;
  codec.Encode(input, encoded);
  if (codec.Decode(encoded, round_trip) != 0 || round_trip != input) std::abort();
  return 0;
}
