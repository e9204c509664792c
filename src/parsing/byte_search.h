// Fast search of a short needle in a byte range, exact or ignoring the case of
// ASCII letters. The stream parser's hot path: the search jumps with memchr
// (vectorised by the C library on every platform) to each occurrence of one
// anchor byte of the needle and compares only there, so random image data is
// crossed at memory speed with no function call per byte. Data made to stop
// the jumps at every byte (a needle of dashes in a sea of dashes) cannot make
// it quadratic: once the comparisons outweigh the bytes crossed, the search
// goes on with a Knuth-Morris-Pratt scan, which looks at each byte once.
#pragma once

#include <cstddef>
#include <string_view>

namespace ravelon {

// Offset of the first occurrence of `needle` that lies wholly inside
// `haystack`, or std::string_view::npos. An empty needle is found at 0.
size_t FindBytes(std::string_view haystack, std::string_view needle, bool ignore_case);

// ASCII lower case of a byte; other bytes unchanged.
char AsciiLower(char c);

}  // namespace ravelon
