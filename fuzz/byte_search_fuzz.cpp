// The fast search finds what a plain search finds: the first occurrence,
// exact and ignoring the case of ASCII letters, with each vector scan the
// processor has. The first byte of the input
// gives the needle's length (1 to 64) and its lowest bit whether case is
// ignored; the needle follows, then the haystack.
#include "harness.h"
#include "parsing/byte_search.h"

namespace {

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = ravelon::AsciiLower(c);
  return folded;
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const uint8_t first = input.Byte();  // an empty input gives an empty needle
  const size_t needle_size = 1 + (first >> 2) % 64;
  const bool ignore_case = (first & 1) != 0;
  const std::string_view needle = input.Bytes(needle_size), haystack = input.Rest();
  if (needle.size() < needle_size) return;
  const size_t expected =
      ignore_case ? Folded(haystack).find(Folded(needle)) : haystack.find(needle);
  for (int width = 0; width <= static_cast<int>(ravelon::WidestScan()); ++width) {
    Require(FindBytesWith(haystack, needle, ignore_case, static_cast<ravelon::ScanWidth>(width)) ==
                expected,
            "finds the first occurrence");
  }
}
