// Arbitrary bytes as a chunked body, fed whole and fed in arrivals cut where
// the input says: where an arrival is cut must change nothing, so both give
// the same status, data and error, and a body that is not broken is read to
// the same byte. Neither gives out more data than went in, and only a broken
// decoder has an error.
//
// Input: the cuts and the body, as FuzzInput::CutStream takes them.
#include <tuple>

#include "harness.h"
#include "parsing/chunked_decoder.h"

using ravelon::ChunkedDecoder;
using enum ravelon::ChunkedDecoder::Status;

namespace {

// Status, data out, error, and bytes consumed (0 when broken).
using Decoding = std::tuple<ChunkedDecoder::Status, std::string, std::string, size_t>;

// Decodes `body` arriving in pieces that end at `cuts` (ascending).
Decoding Decode(std::string_view body, std::vector<size_t> cuts) {
  cuts.push_back(body.size());
  ChunkedDecoder decoder;
  std::string out;
  ChunkedDecoder::Status status = kMore;
  size_t consumed = 0, from = 0;
  for (const size_t cut : cuts) {
    status = decoder.Decode(body.substr(from, cut - from), out);
    consumed += decoder.Consumed();
    from = cut;
  }
  if (status == kBroken) consumed = 0;
  return {status, out, decoder.Error(), consumed};
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  std::vector<size_t> cuts;
  const std::string_view body = input.CutStream(cuts);
  const Decoding whole = Decode(body, {});
  const auto& [status, out, error, consumed] = whole;
  Require(Decode(body, cuts) == whole, "cuts change nothing");
  Require(out.size() <= body.size(), "no more data out than in");
  Require(error.empty() != (status == kBroken), "only a broken body has an error");
  Require(status != kMore || consumed == body.size(), "an unfinished body is read whole");
}
