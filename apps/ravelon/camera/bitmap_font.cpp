#include "camera/bitmap_font.h"

#include <algorithm>
#include <array>
#include <cstring>

namespace ravelon::cli {
namespace {

// Seven rows of five bits each, the leftmost pixel in bit 4.
using Glyph = std::array<uint8_t, 7>;

constexpr std::array<Glyph, 10> kDigits = {{
    {0x0E, 0x11, 0x13, 0x15, 0x19, 0x11, 0x0E},  // 0
    {0x04, 0x0C, 0x04, 0x04, 0x04, 0x04, 0x0E},  // 1
    {0x0E, 0x11, 0x01, 0x02, 0x04, 0x08, 0x1F},  // 2
    {0x1F, 0x02, 0x04, 0x02, 0x01, 0x11, 0x0E},  // 3
    {0x02, 0x06, 0x0A, 0x12, 0x1F, 0x02, 0x02},  // 4
    {0x1F, 0x10, 0x1E, 0x01, 0x01, 0x11, 0x0E},  // 5
    {0x06, 0x08, 0x10, 0x1E, 0x11, 0x11, 0x0E},  // 6
    {0x1F, 0x01, 0x02, 0x04, 0x08, 0x08, 0x08},  // 7
    {0x0E, 0x11, 0x11, 0x0E, 0x11, 0x11, 0x0E},  // 8
    {0x0E, 0x11, 0x11, 0x0F, 0x01, 0x02, 0x0C},  // 9
}};
constexpr Glyph kColon = {0x00, 0x0C, 0x0C, 0x00, 0x0C, 0x0C, 0x00};
constexpr Glyph kDash = {0x00, 0x00, 0x00, 0x1F, 0x00, 0x00, 0x00};
constexpr Glyph kDot = {0x00, 0x00, 0x00, 0x00, 0x00, 0x0C, 0x0C};
constexpr Glyph kBlank = {};

const Glyph& GlyphOf(char c) {
  if (c >= '0' && c <= '9') return kDigits[c - '0'];
  if (c == ':') return kColon;
  if (c == '-') return kDash;
  if (c == '.') return kDot;
  return kBlank;
}

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
    const Glyph& glyph = GlyphOf(c);
    const int cell_x = x + column * kGlyphCellWidth * scale;
    const int cell_y = y + line * kGlyphCellHeight * scale;
    for (int row = 0; row < kGlyphCellHeight; ++row) {
      for (int col = 0; col < kGlyphCellWidth; ++col) {
        const bool on = row < 7 && col < 5 && (glyph[row] >> (4 - col) & 1) != 0;
        FillBlock(rgb, width, height, cell_x + col * scale, cell_y + row * scale, scale,
                  on ? 255 : 0);
      }
    }
    ++column;
  }
}

}  // namespace ravelon::cli
