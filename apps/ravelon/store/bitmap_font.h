// The stamps under contact-sheet thumbnails, in the built-in font
// (cli/glyphs.h). Plain functions; any thread.
#pragma once

#include <string_view>

#include "cli/glyphs.h"
#include "store/rgb_image.h"

namespace ravelon::cli {

inline constexpr int kGlyphAdvance = kGlyphWidth + 1;  // one blank column between glyphs

// The width in pixels of `text` drawn at `scale`.
inline int TextWidth(std::string_view text, int scale) {
  return static_cast<int>(text.size()) * kGlyphAdvance * scale;
}

// Draws `text` with its top left corner at (x, y), each glyph pixel a
// scale×scale square; whatever falls outside `image` is left out.
void DrawText(RgbImage& image, int x, int y, std::string_view text, int scale, Rgb color);

}  // namespace ravelon::cli
