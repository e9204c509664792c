// Real JPEG images for end-to-end tests, made with libjpeg-turbo in memory.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

// clang-format off
#include <jpeglib.h>  // needs <cstdio> first
// clang-format on

namespace ravelon::testing {

// A colour gradient with noise from a fixed seed, encoded at quality 90: more
// noise and more pixels make longer files.
inline std::string MakeJpeg(int width, int height, int noise, uint32_t seed) {
  // Noise comes from one table, read from a random place on each row.
  uint32_t state = seed * 2654435761u + 1;
  const auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    return state;
  };
  std::vector<int> table(static_cast<size_t>(width) * 3 + 4096);
  for (int& n : table) n = noise > 0 ? static_cast<int>(next() % (2 * noise + 1)) - noise : 0;
  std::vector<unsigned char> pixels(static_cast<size_t>(width) * height * 3);
  unsigned char* p = pixels.data();
  for (int y = 0; y < height; ++y) {
    const int* n = table.data() + next() % 4096;
    for (int x = 0; x < width; ++x) {
      for (const int v :
           {x * 255 / width + *n++, y * 255 / height + *n++, (x + y) * 64 / height + *n++}) {
        *p++ = static_cast<unsigned char>(v < 0 ? 0 : v > 255 ? 255 : v);
      }
    }
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
  while (cinfo.next_scanline < cinfo.image_height) {
    JSAMPROW row = &pixels[static_cast<size_t>(cinfo.next_scanline) * width * 3];
    jpeg_write_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_compress(&cinfo);
  jpeg_destroy_compress(&cinfo);
  std::string jpeg(reinterpret_cast<const char*>(out), size);
  std::free(out);
  return jpeg;
}

}  // namespace ravelon::testing
