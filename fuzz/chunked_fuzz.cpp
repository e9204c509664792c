// Arbitrary bytes as a chunked body, fed whole and fed in two pieces: where
// an arrival is cut must change nothing, so both give the same status, data
// and error, and a body that is not broken is read to the same byte. Neither
// gives out more data than went in, and only a broken decoder has an error.
//
// Input: two bytes (little-endian) choosing the cut, modulo the body's length
// plus one, then the body.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <tuple>

#include "parsing/chunked_decoder.h"

using ravelon::ChunkedDecoder;

namespace {

// Status, data out, error, and bytes consumed (0 when broken).
std::tuple<ChunkedDecoder::Status, std::string, std::string, size_t> Feed(std::string_view first,
                                                                          std::string_view second) {
  ChunkedDecoder decoder;
  std::string out;
  ChunkedDecoder::Status status = decoder.Decode(first, out);
  size_t consumed = decoder.Consumed();
  status = decoder.Decode(second, out);
  consumed += decoder.Consumed();
  if (status == ChunkedDecoder::Status::kBroken) consumed = 0;
  return {status, out, decoder.Error(), consumed};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const std::string_view body(reinterpret_cast<const char*>(data) + 2, size - 2);
  const size_t cut = (data[0] | size_t{data[1]} << 8) % (body.size() + 1);
  const auto whole = Feed(body, {});
  const auto& [status, out, error, consumed] = whole;
  if (Feed(body.substr(0, cut), body.substr(cut)) != whole || out.size() > body.size() ||
      error.empty() == (status == ChunkedDecoder::Status::kBroken) ||
      (status == ChunkedDecoder::Status::kMore && consumed != body.size())) {
    std::abort();
  }
  return 0;
}
