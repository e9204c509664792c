// Decoding never fails hard on any input, and whatever Encode makes decodes
// back to the same bytes.
#include "connection/codec_base64.h"
#include "harness.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const std::string text(input.Rest());
  Codec_Base64 codec;
  std::string decoded, encoded, round_trip;
  Require(codec.Decode(text, decoded) == 0 || decoded.empty(), "a failed decoding gives nothing");
  codec.Encode(text, encoded);
  Require(codec.Decode(encoded, round_trip) == 0 && round_trip == text,
          "what Encode makes decodes back");
}
