// Fast search of a short needle in a byte range, exact or ignoring the case of
// ASCII letters. The stream parser's hot path: the search tests the first and
// the last byte of the needle at many starts at once with vector compares, so
// image data is crossed at memory speed and only the rare start where both
// pass is compared in full. Data made to pass that test everywhere (a needle
// of dashes in a sea of dashes) cannot make it quadratic: once the
// comparisons outweigh the bytes crossed, the search goes on with a
// Knuth-Morris-Pratt scan, which looks at each byte once.
#pragma once

#include <cstddef>
#include <string_view>

namespace ravelon {

// Offset of the first occurrence of `needle` that lies wholly inside
// `haystack`, or std::string_view::npos. An empty needle is found at 0.
size_t FindBytes(std::string_view haystack, std::string_view needle, bool ignore_case);

// The vector scans, narrowest first. FindBytes uses the widest the processor
// has; FindBytesWith lets tests and benchmarks reach each narrower one too,
// since a processor with AVX-512 would otherwise never run the others.
enum class ScanWidth { kScalar, kSse2, kAvx2, kAvx512 };
ScanWidth WidestScan();
size_t FindBytesWith(std::string_view haystack, std::string_view needle, bool ignore_case,
                     ScanWidth widest);

// ASCII lower case of a byte; other bytes unchanged.
char AsciiLower(char c);

}  // namespace ravelon
