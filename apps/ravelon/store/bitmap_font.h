// A tiny built-in bitmap font for the stamps under contact-sheet thumbnails:
// 5×7 glyphs for the digits and ':', '-', '.', ' ', which are all a stamp
// needs. Other characters draw as blanks. Plain functions; any thread.
#pragma once

#include <string_view>

#include "store/rgb_image.h"

namespace ravelon::cli {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;
inline constexpr int kGlyphAdvance = kGlyphWidth + 1;  // one blank column between glyphs

// The width in pixels of `text` drawn at `scale`.
inline int TextWidth(std::string_view text, int scale) {
  return static_cast<int>(text.size()) * kGlyphAdvance * scale;
}

// Draws `text` with its top left corner at (x, y), each glyph pixel a
// scale×scale square; whatever falls outside `image` is left out.
void DrawText(RgbImage& image, int x, int y, std::string_view text, int scale, Rgb color);

}  // namespace ravelon::cli
