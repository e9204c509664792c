// Require: a fuzz target's oracle. A property that does not hold is a
// finding: it is named on stderr and the run aborts, which libFuzzer and the
// corpus replay both report with the input.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace ravelon::fuzz {

inline void Require(bool holds, const char* property) {
  if (holds) return;
  std::fprintf(stderr, "finding: %s\n", property);
  std::abort();
}

}  // namespace ravelon::fuzz
