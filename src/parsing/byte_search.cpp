#include "parsing/byte_search.h"

#include <array>
#include <cstring>
#include <string>
#include <vector>

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

// Knuth-Morris-Pratt, on case-folded bytes when the case does not matter:
// linear in the haystack whatever it holds, at a few cycles per byte.
template <bool kIgnoreCase>
size_t FindLinear(std::string_view haystack, std::string_view needle, size_t from) {
  const auto fold = [](char c) { return kIgnoreCase ? kLower[static_cast<unsigned char>(c)] : c; };
  const size_t n = needle.size();
  std::string folded(n, '\0');
  for (size_t i = 0; i < n; ++i) folded[i] = fold(needle[i]);
  // border[i]: the length of the longest proper border of folded[0, i].
  std::vector<size_t> border(n + 1, 0);
  for (size_t i = 1, k = 0; i < n; ++i) {
    while (k > 0 && folded[i] != folded[k]) k = border[k];
    if (folded[i] == folded[k]) ++k;
    border[i + 1] = k;
  }
  for (size_t i = from, k = 0; i < haystack.size(); ++i) {
    const char c = fold(haystack[i]);
    while (k > 0 && c != folded[k]) k = border[k];
    if (c == folded[k] && ++k == n) return i + 1 - n;
  }
  return std::string_view::npos;
}

size_t FindLinear(std::string_view haystack, std::string_view needle, bool ignore_case,
                  size_t from) {
  return ignore_case ? FindLinear<true>(haystack, needle, from)
                     : FindLinear<false>(haystack, needle, from);
}

}  // namespace

char AsciiLower(char c) { return kLower[static_cast<unsigned char>(c)]; }

size_t FindBytes(std::string_view haystack, std::string_view needle, bool ignore_case) {
  const size_t n = needle.size();
  if (n == 0) return 0;
  if (n > haystack.size()) return std::string_view::npos;

  // The anchor is the first byte whose case does not matter. A needle of
  // letters only has none: the short header words searched in header lines.
  size_t anchor = 0;
  if (ignore_case) {
    while (anchor < n && IsLetter(needle[anchor])) ++anchor;
    if (anchor == n) return FindLinear(haystack, needle, ignore_case, 0);
  }
  const char* const begin = haystack.data();
  const char* const last_start = begin + (haystack.size() - n);  // last place a match fits
  const char* scan = begin + anchor;
  const char* const scan_end = last_start + anchor + 1;
  // Bytes the comparisons may cost before the search changes method: a few
  // times what was crossed, plus a start so short searches never switch.
  size_t compared = 0;
  constexpr size_t kCompareAllowance = 4'096;
  while (scan < scan_end) {
    const void* hit = std::memchr(scan, needle[anchor], static_cast<size_t>(scan_end - scan));
    if (hit == nullptr) break;
    const char* start = static_cast<const char*>(hit) - anchor;
    const bool match = ignore_case ? EqualIgnoringCase(start, needle.data(), n)
                                   : std::memcmp(start, needle.data(), n) == 0;
    if (match) return static_cast<size_t>(start - begin);
    scan = static_cast<const char*>(hit) + 1;
    compared += n;
    if (compared > kCompareAllowance + 4 * static_cast<size_t>(scan - begin)) {
      return FindLinear(haystack, needle, ignore_case, static_cast<size_t>(start + 1 - begin));
    }
  }
  return std::string_view::npos;
}

}  // namespace ravelon
