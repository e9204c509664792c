// The glyphs of the tiny built-in font that the test camera's labels and the
// contact sheets' stamps are drawn with: 5x7 pixels for the digits and ':',
// '-', '.', which are all a stamp needs. Constant data; any thread.
#pragma once

#include <cstdint>

namespace ravelon::cli {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// The glyph's kGlyphHeight rows, top first, the leftmost pixel in bit 4;
// nullptr for ' ' and every character without a glyph (drawn blank).
const uint8_t* GlyphRows(char c);

}  // namespace ravelon::cli
