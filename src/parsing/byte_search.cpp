#include "parsing/byte_search.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#if defined(__x86_64__)
#include <immintrin.h>
#endif

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

// How the scan tests one byte of the needle: a haystack byte passes when,
// OR-ed with `fold`, it equals `value`. For a letter whose case does not
// matter the fold is the case bit, which maps exactly the two cases of that
// letter onto its lower case; any other byte must be equal.
struct ByteTest {
  uint8_t value;
  uint8_t fold;
};

ByteTest TestFor(char c, bool ignore_case) {
  if (ignore_case && IsLetter(c))
    return {static_cast<uint8_t>(kLower[static_cast<uint8_t>(c)]), 0x20};
  return {static_cast<uint8_t>(c), 0};
}

bool Passes(char c, ByteTest test) { return (static_cast<uint8_t>(c) | test.fold) == test.value; }

#if defined(__x86_64__)
// Of the 32 bytes at `at`, those that pass a byte test (0xFF) and those that
// do not (0).
__attribute__((target("avx2"))) inline __m256i Passing(const char* at, __m256i value,
                                                       __m256i fold) {
  const __m256i bytes = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(at));
  return _mm256_cmpeq_epi8(_mm256_or_si256(bytes, fold), value);
}

// Of the 64 starts at `at`, those whose first byte and whose byte
// `tail_offset` further on pass their tests, as bits.
__attribute__((target("avx512f,avx512bw"))) inline uint64_t Candidates(
    const char* at, size_t tail_offset, __m512i head_value, __m512i head_fold, __m512i tail_value,
    __m512i tail_fold) {
  const __m512i heads = _mm512_loadu_si512(at);
  const __m512i tails = _mm512_loadu_si512(at + tail_offset);
  const __mmask64 head_passes =
      _mm512_cmpeq_epi8_mask(_mm512_or_si512(heads, head_fold), head_value);
  return _mm512_mask_cmpeq_epi8_mask(head_passes, _mm512_or_si512(tails, tail_fold), tail_value);
}
#endif

// The search proper: candidates are the starts whose first and last byte
// pass (about one start in 30,000 in image data for a boundary), and only
// those are compared in full. The candidates of 128 starts (64 on x86-64
// processors without AVX-512, 16 without AVX2) are found at once with vector
// compares; other processors test start by start.
class Search {
 public:
  Search(std::string_view haystack, std::string_view needle, bool ignore_case)
      : haystack_(haystack),
        needle_(needle),
        ignore_case_(ignore_case),
        head_(TestFor(needle.front(), ignore_case)),
        tail_(TestFor(needle.back(), ignore_case)) {}

  size_t Run(ScanWidth widest) {
    const size_t last_start = haystack_.size() - needle_.size();
    size_t start = 0;
#if defined(__x86_64__)
    if (widest == ScanWidth::kAvx512) {
      if (const size_t found = ScanAvx512(start, last_start); found != kGoOn) return found;
    }
    if (widest >= ScanWidth::kAvx2) {
      if (const size_t found = ScanAvx2(start, last_start); found != kGoOn) return found;
    }
    if (widest >= ScanWidth::kSse2) {
      if (const size_t found = ScanSse2(start, last_start); found != kGoOn) return found;
    }
#endif
    for (; start <= last_start; ++start) {
      if (!Passes(haystack_[start], head_) ||
          !Passes(haystack_[start + needle_.size() - 1], tail_)) {
        continue;
      }
      if (const size_t found = Check(start); found != kGoOn) return found;
    }
    return std::string_view::npos;
  }

 private:
  static constexpr size_t kGoOn = std::string_view::npos - 1;

#if defined(__x86_64__)
  // The vector scans: each tests the starts from `start` in blocks of its
  // width and leaves `start` at the first start of the last, partial block.
  // kGoOn when no candidate there is a match.
  __attribute__((target("avx512f,avx512bw"))) size_t ScanAvx512(size_t& start, size_t last_start) {
    const char* const begin = haystack_.data();
    const size_t tail_offset = needle_.size() - 1;
    const __m512i head_value = _mm512_set1_epi8(static_cast<char>(head_.value));
    const __m512i head_fold = _mm512_set1_epi8(static_cast<char>(head_.fold));
    const __m512i tail_value = _mm512_set1_epi8(static_cast<char>(tail_.value));
    const __m512i tail_fold = _mm512_set1_epi8(static_cast<char>(tail_.fold));
    // Two blocks a round: one test of both tells that neither holds a candidate.
    for (; start + 128 <= last_start + 1; start += 128) {
      const uint64_t first =
          Candidates(begin + start, tail_offset, head_value, head_fold, tail_value, tail_fold);
      const uint64_t second =
          Candidates(begin + start + 64, tail_offset, head_value, head_fold, tail_value, tail_fold);
      if ((first | second) == 0) continue;
      for (const auto& [mask, offset] :
           {std::pair{first, size_t{0}}, std::pair{second, size_t{64}}}) {
        for (uint64_t left = mask; left != 0; left &= left - 1) {
          const size_t candidate = start + offset + static_cast<size_t>(__builtin_ctzll(left));
          if (const size_t found = Check(candidate); found != kGoOn) return found;
        }
      }
    }
    return kGoOn;
  }

  __attribute__((target("avx2"))) size_t ScanAvx2(size_t& start, size_t last_start) {
    const char* const begin = haystack_.data();
    const size_t tail_offset = needle_.size() - 1;
    const __m256i head_value = _mm256_set1_epi8(static_cast<char>(head_.value));
    const __m256i head_fold = _mm256_set1_epi8(static_cast<char>(head_.fold));
    const __m256i tail_value = _mm256_set1_epi8(static_cast<char>(tail_.value));
    const __m256i tail_fold = _mm256_set1_epi8(static_cast<char>(tail_.fold));
    // Two blocks a round: one test of both tells that neither holds a candidate.
    for (; start + 64 <= last_start + 1; start += 64) {
      const __m256i first =
          _mm256_and_si256(Passing(begin + start, head_value, head_fold),
                           Passing(begin + start + tail_offset, tail_value, tail_fold));
      const __m256i second =
          _mm256_and_si256(Passing(begin + start + 32, head_value, head_fold),
                           Passing(begin + start + 32 + tail_offset, tail_value, tail_fold));
      if (_mm256_testz_si256(_mm256_or_si256(first, second), _mm256_set1_epi8(-1))) continue;
      const uint64_t mask = static_cast<uint32_t>(_mm256_movemask_epi8(first)) |
                            uint64_t{static_cast<uint32_t>(_mm256_movemask_epi8(second))} << 32;
      for (uint64_t left = mask; left != 0; left &= left - 1) {
        const size_t candidate = start + static_cast<size_t>(__builtin_ctzll(left));
        if (const size_t found = Check(candidate); found != kGoOn) return found;
      }
    }
    return kGoOn;
  }

  size_t ScanSse2(size_t& start, size_t last_start) {
    const char* const begin = haystack_.data();
    const size_t tail_offset = needle_.size() - 1;
    const __m128i head_value = _mm_set1_epi8(static_cast<char>(head_.value));
    const __m128i head_fold = _mm_set1_epi8(static_cast<char>(head_.fold));
    const __m128i tail_value = _mm_set1_epi8(static_cast<char>(tail_.value));
    const __m128i tail_fold = _mm_set1_epi8(static_cast<char>(tail_.fold));
    for (; start + 16 <= last_start + 1; start += 16) {
      const __m128i heads = _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + start));
      const __m128i tails =
          _mm_loadu_si128(reinterpret_cast<const __m128i*>(begin + start + tail_offset));
      const __m128i hits =
          _mm_and_si128(_mm_cmpeq_epi8(_mm_or_si128(heads, head_fold), head_value),
                        _mm_cmpeq_epi8(_mm_or_si128(tails, tail_fold), tail_value));
      for (uint32_t mask = static_cast<uint32_t>(_mm_movemask_epi8(hits)); mask != 0;
           mask &= mask - 1) {
        const size_t candidate = start + static_cast<size_t>(__builtin_ctz(mask));
        if (const size_t found = Check(candidate); found != kGoOn) return found;
      }
    }
    return kGoOn;
  }
#endif

  // Bytes the comparisons may cost before the search changes method: a few
  // times what was crossed, plus a start so short searches never switch.
  static constexpr size_t kCompareAllowance = 4'096;

  // The candidate's offset when the whole needle is there; kGoOn when not;
  // once the comparisons outweigh the bytes crossed, the linear search's
  // answer from the next start on.
  size_t Check(size_t candidate) {
    const char* at = haystack_.data() + candidate;
    const bool match = ignore_case_ ? EqualIgnoringCase(at, needle_.data(), needle_.size())
                                    : std::memcmp(at, needle_.data(), needle_.size()) == 0;
    if (match) return candidate;
    compared_ += needle_.size();
    if (compared_ <= kCompareAllowance + 4 * (candidate + 1)) return kGoOn;
    return ignore_case_ ? FindLinear<true>(haystack_, needle_, candidate + 1)
                        : FindLinear<false>(haystack_, needle_, candidate + 1);
  }

  const std::string_view haystack_;
  const std::string_view needle_;
  const bool ignore_case_;
  const ByteTest head_;
  const ByteTest tail_;
  size_t compared_ = 0;
};

}  // namespace

char AsciiLower(char c) { return kLower[static_cast<unsigned char>(c)]; }

ScanWidth WidestScan() {
#if defined(__x86_64__)
  static const ScanWidth kWidest = __builtin_cpu_supports("avx512bw") ? ScanWidth::kAvx512
                                   : __builtin_cpu_supports("avx2")   ? ScanWidth::kAvx2
                                                                      : ScanWidth::kSse2;
  return kWidest;
#else
  return ScanWidth::kScalar;
#endif
}

size_t FindBytes(std::string_view haystack, std::string_view needle, bool ignore_case) {
  return FindBytesWith(haystack, needle, ignore_case, WidestScan());
}

size_t FindBytesWith(std::string_view haystack, std::string_view needle, bool ignore_case,
                     ScanWidth widest) {
  if (needle.empty()) return 0;
  if (needle.size() > haystack.size()) return std::string_view::npos;
  return Search(haystack, needle, ignore_case).Run(widest);
}

}  // namespace ravelon
