// Numbers in text settings, with bounds and a fallback: a broken or
// out-of-range value never stops an engine, it takes the fallback.
#pragma once

#include <cstdint>
#include <string_view>

namespace ravelon {

// The value of `text` when it is a plain decimal number (surrounding blanks,
// an optional sign, digits with an optional fraction), rounded to the nearest
// whole number with halves to the even neighbour, and within [min, max].
// Anything else, including a number out of range however large, gives
// `fallback`.
int32_t ParseBoundedLong(std::string_view text, int32_t min, int32_t max, int32_t fallback);

}  // namespace ravelon
