// Real JPEG images for end-to-end tests, made with libjpeg-turbo in memory.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>  // needs <cstdio> first
// clang-format on

namespace ravelon::testing {

// Grey with noise of up to +-`noise` from a fixed seed, encoded at quality 90: more noise and more
// pixels make longer files, and different seeds different files.
inline std::string MakeJpeg(int width, int height, int noise, uint32_t seed) {
  uint32_t state = seed * 2654435761u + 1;  // xorshift32, never zero
  std::vector<JSAMPLE> pixels;
  for (int i = 0; i < width * height * 3; ++i) {
    state ^= state << 13, state ^= state >> 17, state ^= state << 5;
    const int n = static_cast<int>(state % (2 * noise + 1)) - noise;
    pixels.push_back(static_cast<JSAMPLE>(std::clamp(128 + n, 0, 255)));
  }
  jpeg_compress_struct cinfo;
  jpeg_error_mgr error;
  cinfo.err = jpeg_std_error(&error);
  jpeg_create_compress(&cinfo);
  unsigned char* out = nullptr;
  unsigned long size = 0;  // NOLINT(runtime/int): libjpeg's type
  jpeg_mem_dest(&cinfo, &out, &size);
  cinfo.image_width = width;
  cinfo.image_height = height;
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, 90, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  for (JSAMPROW row = pixels.data(); cinfo.next_scanline < cinfo.image_height; row += width * 3)
    jpeg_write_scanlines(&cinfo, &row, 1);
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string jpeg(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return jpeg;
}

}  // namespace ravelon::testing
