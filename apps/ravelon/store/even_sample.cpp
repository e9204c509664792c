#include "store/even_sample.h"

#include <algorithm>

namespace ravelon::cli {

std::vector<int64_t> PickEvenly(int64_t count, int n) {
  std::vector<int64_t> picks;
  if (count <= n) {
    for (int64_t i = 0; i < count; ++i) picks.push_back(i);
  } else if (n == 1) {
    picks.push_back(0);
  } else {
    // Rounded to the nearest position, so the spacing errs by half a position at most.
    for (int i = 0; i < n; ++i) picks.push_back((i * (count - 1) + (n - 1) / 2) / (n - 1));
  }
  return picks;
}

void EvenSample::Add(const SheetCandidate& candidate) {
  last_ = candidate;
  if (seen_++ % stride_ != 0) return;
  if (kept_.size() >= max_kept_) {
    // Keep the candidates at positions 0, 2, 4, ... of the list.
    size_t kept = 0;
    for (size_t i = 0; i < kept_.size(); i += 2) kept_[kept++] = kept_[i];
    kept_.resize(kept);
    stride_ *= 2;
    if ((seen_ - 1) % stride_ != 0) return;
  }
  kept_.push_back(candidate);
}

std::vector<SheetCandidate> EvenSample::Kept() const {
  std::vector<SheetCandidate> kept = kept_;
  if (seen_ > 0 && (seen_ - 1) % stride_ != 0) kept.push_back(last_);
  return kept;
}

}  // namespace ravelon::cli
