// The fast search finds what a plain search finds: the first occurrence,
// exact and ignoring the case of ASCII letters. The first byte of the input
// gives the needle's length (1 to 64) and its lowest bit whether case is
// ignored; the needle follows, then the haystack.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "parsing/byte_search.h"

namespace {

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) c = ravelon::AsciiLower(c);
  return folded;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t needle_size = 1 + (data[0] >> 2) % 64;
  const bool ignore_case = (data[0] & 1) != 0;
  const std::string_view rest(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (rest.size() < needle_size) return 0;
  const std::string_view needle = rest.substr(0, needle_size);
  const std::string_view haystack = rest.substr(needle_size);
  const size_t expected =
      ignore_case ? Folded(haystack).find(Folded(needle)) : haystack.find(needle);
  if (ravelon::FindBytes(haystack, needle, ignore_case) != expected) std::abort();
  return 0;
}
