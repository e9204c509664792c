#include "store/rgb_image.h"

#include <algorithm>

namespace ravelon::cli {

void RgbImage::FillRect(int x, int y, int w, int h, Rgb color) {
  const int x0 = std::max(x, 0), x1 = std::min(x + w, width);
  for (int row = std::max(y, 0); row < std::min(y + h, height); ++row) {
    for (int col = x0; col < x1; ++col) {
      uint8_t* p = At(col, row);
      p[0] = color.r, p[1] = color.g, p[2] = color.b;
    }
  }
}

void RgbImage::DrawScaled(const RgbImage& source, int x, int y, int w, int h) {
  if (source.width <= 0 || source.height <= 0) return;
  for (int ty = 0; ty < h; ++ty) {
    // The source rows [sy0, sy1) that target row ty covers; at least one.
    const int sy0 = static_cast<int>(int64_t{ty} * source.height / h);
    const int sy1 = std::max(sy0 + 1, static_cast<int>(int64_t{ty + 1} * source.height / h));
    for (int tx = 0; tx < w; ++tx) {
      const int sx0 = static_cast<int>(int64_t{tx} * source.width / w);
      const int sx1 = std::max(sx0 + 1, static_cast<int>(int64_t{tx + 1} * source.width / w));
      uint64_t sum[3] = {0, 0, 0};
      for (int sy = sy0; sy < sy1; ++sy) {
        const uint8_t* p = source.At(sx0, sy);
        for (int sx = sx0; sx < sx1; ++sx, p += 3) {
          sum[0] += p[0], sum[1] += p[1], sum[2] += p[2];
        }
      }
      const uint64_t n = static_cast<uint64_t>((sy1 - sy0) * (sx1 - sx0));
      uint8_t* t = At(x + tx, y + ty);
      for (int c = 0; c < 3; ++c) t[c] = static_cast<uint8_t>((sum[c] + n / 2) / n);
    }
  }
}

}  // namespace ravelon::cli
