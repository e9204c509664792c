#include "store/bitmap_font.h"

#include <cstdint>

#include "cli/glyphs.h"

namespace ravelon::cli {

void DrawText(RgbImage& image, int x, int y, std::string_view text, int scale, Rgb color) {
  for (const char c : text) {
    if (const uint8_t* glyph = GlyphRows(c)) {
      for (int row = 0; row < kGlyphHeight; ++row) {
        for (int col = 0; col < kGlyphWidth; ++col) {
          if (glyph[row] & (0x10 >> col)) {
            image.FillRect(x + col * scale, y + row * scale, scale, scale, color);
          }
        }
      }
    }
    x += kGlyphAdvance * scale;
  }
}

}  // namespace ravelon::cli
