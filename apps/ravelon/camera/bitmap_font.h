// The built-in font (cli/glyphs.h) drawn for the labels the test camera draws into its frames. Pure
// drawing into a caller's RGB buffer; no state, any thread.
#pragma once

#include <cstdint>
#include <string_view>

namespace ravelon::cli {

// A glyph cell is 6x8 font pixels: the glyph and one pixel of spacing.
inline constexpr int kGlyphCellWidth = 6;
inline constexpr int kGlyphCellHeight = 8;

// Draws `text` white on a black box into the packed RGB image (`width` x
// `height`, 3 bytes a pixel) with its top-left corner at (x, y), each font
// pixel `scale` x `scale` image pixels. '\n' starts a new line; characters
// without a glyph are drawn blank. Whatever falls outside the image is
// clipped.
void DrawLabel(uint8_t* rgb, int width, int height, int x, int y, int scale, std::string_view text);

}  // namespace ravelon::cli
