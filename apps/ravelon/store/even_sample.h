// Choosing evenly spaced pictures of a range whose length is known only at
// its end, in bounded memory: `store sheet` keeps every stride-th picture it
// walks past, doubling the stride whenever the list fills, and then picks
// the thumbnails from what is left. Plain values; the caller's thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ravelon::cli {

// `n` of the positions 0 .. count-1, evenly spaced, the first and the last
// included; all of them when count <= n.
std::vector<int64_t> PickEvenly(int64_t count, int n);

// A picture that may go on the sheet: where it is stored and its stamp.
struct SheetCandidate {
  int32_t set = 0;  // position in the list of file sets
  int32_t frame = 0;
  int32_t date = 0;
  int32_t time = 0;
};

class EvenSample {
 public:
  // 65,536 candidates take 1 MB and leave picks off their even spacing by
  // less than 1/64 of the gap between two thumbnails (at the largest count).
  static constexpr size_t kMaxKept = 65'536;

  explicit EvenSample(size_t max_kept = kMaxKept) : max_kept_(max_kept) {}

  void Add(const SheetCandidate& candidate);

  // Every stride-th candidate added, from the first on, and the last one.
  std::vector<SheetCandidate> Kept() const;
  int64_t Seen() const { return seen_; }

 private:
  size_t max_kept_;
  int64_t stride_ = 1;
  int64_t seen_ = 0;
  std::vector<SheetCandidate> kept_;
  SheetCandidate last_;
};

}  // namespace ravelon::cli
