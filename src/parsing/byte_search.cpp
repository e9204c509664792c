#include "parsing/byte_search.h"

#include <array>
#include <cstring>

namespace ravelon {
namespace {

constexpr std::array<char, 256> MakeLowerTable() {
  std::array<char, 256> table{};
  for (int i = 0; i < 256; ++i) {
    table[i] = static_cast<char>(i >= 'A' && i <= 'Z' ? i + ('a' - 'A') : i);
  }
  return table;
}

constexpr std::array<char, 256> kLower = MakeLowerTable();

bool IsLetter(char c) {
  const char lower = kLower[static_cast<unsigned char>(c)];
  return lower >= 'a' && lower <= 'z';
}

bool EqualIgnoringCase(const char* a, const char* b, size_t n) {
  for (size_t i = 0; i < n; ++i) {
    if (kLower[static_cast<unsigned char>(a[i])] != kLower[static_cast<unsigned char>(b[i])]) {
      return false;
    }
  }
  return true;
}

// A needle made only of letters has no case-free anchor; such needles are
// short header words searched in short header lines, so a plain scan serves.
size_t FindLettersIgnoringCase(std::string_view haystack, std::string_view needle) {
  for (size_t i = 0; i + needle.size() <= haystack.size(); ++i) {
    if (EqualIgnoringCase(haystack.data() + i, needle.data(), needle.size())) return i;
  }
  return std::string_view::npos;
}

}  // namespace

char AsciiLower(char c) { return kLower[static_cast<unsigned char>(c)]; }

size_t FindBytes(std::string_view haystack, std::string_view needle, bool ignore_case) {
  const size_t n = needle.size();
  if (n == 0) return 0;
  if (n > haystack.size()) return std::string_view::npos;

  // The anchor is the first byte whose case does not matter.
  size_t anchor = 0;
  if (ignore_case) {
    while (anchor < n && IsLetter(needle[anchor])) ++anchor;
    if (anchor == n) return FindLettersIgnoringCase(haystack, needle);
  }
  const char* const begin = haystack.data();
  const char* const last_start = begin + (haystack.size() - n);  // last place a match fits
  const char* scan = begin + anchor;
  const char* const scan_end = last_start + anchor + 1;
  while (scan < scan_end) {
    const void* hit = std::memchr(scan, needle[anchor], static_cast<size_t>(scan_end - scan));
    if (hit == nullptr) break;
    const char* start = static_cast<const char*>(hit) - anchor;
    const bool match = ignore_case ? EqualIgnoringCase(start, needle.data(), n)
                                   : std::memcmp(start, needle.data(), n) == 0;
    if (match) return static_cast<size_t>(start - begin);
    scan = static_cast<const char*>(hit) + 1;
  }
  return std::string_view::npos;
}

}  // namespace ravelon
