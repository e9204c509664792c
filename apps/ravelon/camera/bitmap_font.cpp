#include "camera/bitmap_font.h"

#include <algorithm>
#include <cstring>

#include "cli/glyphs.h"

namespace ravelon::cli {
namespace {

// Fills the image pixels of one font pixel, clipped to the image.
void FillBlock(uint8_t* rgb, int width, int height, int x, int y, int scale, uint8_t value) {
  const int x0 = std::max(x, 0), x1 = std::min(x + scale, width);
  const int y0 = std::max(y, 0), y1 = std::min(y + scale, height);
  if (x0 >= x1) return;
  for (int row = y0; row < y1; ++row) {
    std::memset(rgb + (static_cast<size_t>(row) * width + x0) * 3, value,
                static_cast<size_t>(x1 - x0) * 3);
  }
}

}  // namespace

void DrawLabel(uint8_t* rgb, int width, int height, int x, int y, int scale,
               std::string_view text) {
  int column = 0, line = 0;
  for (const char c : text) {
    if (c == '\n') {
      column = 0;
      ++line;
      continue;
    }
    const uint8_t* glyph = GlyphRows(c);
    const int cell_x = x + column * kGlyphCellWidth * scale;
    const int cell_y = y + line * kGlyphCellHeight * scale;
    for (int row = 0; row < kGlyphCellHeight; ++row) {
      for (int col = 0; col < kGlyphCellWidth; ++col) {
        const bool on = glyph != nullptr && row < kGlyphHeight && col < kGlyphWidth &&
                        (glyph[row] >> (kGlyphWidth - 1 - col) & 1) != 0;
        FillBlock(rgb, width, height, cell_x + col * scale, cell_y + row * scale, scale,
                  on ? 255 : 0);
      }
    }
    ++column;
  }
}

}  // namespace ravelon::cli
