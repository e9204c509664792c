// Sizes of the engine's input buffer: a preallocated block of capacity with a
// fill length, so an arrival costs one copy into spare space. It grows by half
// again when too small and is cut back by a quarter after a long spell of low
// use, never below its initial size and never beyond its hard limit.
#pragma once

#include <cstdint>

namespace ravelon {

inline constexpr int32_t kInitialInputCapacity = 10'000;
inline constexpr int32_t kInputBufferLimit = 10'000'000;
// Parts parsed while the buffer stays at most 70% full before a reduction.
inline constexpr int32_t kIdlePartsBeforeReduction = 500;

}  // namespace ravelon
