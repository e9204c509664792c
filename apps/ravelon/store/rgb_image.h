// A picture in memory as the contact sheet builds it: 8-bit RGB, three bytes
// a pixel, rows top to bottom with no padding. Plain value; any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace ravelon::cli {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
};

struct RgbImage {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> pixels;

  RgbImage() = default;
  RgbImage(int w, int h, Rgb fill) : width(w), height(h) {
    pixels.resize(static_cast<size_t>(w) * h * 3);
    FillRect(0, 0, w, h, fill);
  }

  uint8_t* At(int x, int y) { return pixels.data() + (static_cast<size_t>(y) * width + x) * 3; }
  const uint8_t* At(int x, int y) const {
    return pixels.data() + (static_cast<size_t>(y) * width + x) * 3;
  }

  // Paints the part of the rectangle that lies inside the picture.
  void FillRect(int x, int y, int w, int h, Rgb color);

  // Scales all of `source` into the w×h rectangle at (x, y): each target
  // pixel is the mean of the source pixels it covers (or the nearest one when
  // enlarging). The rectangle must lie inside this picture.
  void DrawScaled(const RgbImage& source, int x, int y, int w, int h);
};

}  // namespace ravelon::cli
