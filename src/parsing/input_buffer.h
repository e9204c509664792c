// Sizes of the engine's input buffer: a preallocated block of capacity with a
// fill length in front, so an arrival costs one copy into spare space.
#pragma once

#include <cstdint>

namespace ravelon {

inline constexpr int32_t kInitialInputCapacity = 10'000;
inline constexpr int32_t kInputBufferLimit = 10'000'000;

}  // namespace ravelon
