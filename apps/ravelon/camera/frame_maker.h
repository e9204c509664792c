// FrameMaker: the test camera's pictures. Each frame is a moving pattern
// (colour bars scrolling right, a grey ramp scrolling left, both with the
// frame number) with a label drawn in, compressed to JPEG with turbojpeg.
//
// Every frame is drawn and encoded anew, so the picture and its label change
// with every frame; what stays is reused: the compressor handle, the pixel
// buffer, the two pattern rows (each frame is then row copies and the label)
// and the JPEG buffer, sized once for the worst case so it never grows.
//
// Owned by a TestCamera and used on its thread only (one at a time).
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace ravelon::cli {

class FrameMaker {
 public:
  // Requires sides within the camera's bounds (camera_limits.h). Throws
  // CommandError when turbojpeg cannot start a compressor.
  FrameMaker(int width, int height);
  ~FrameMaker();
  FrameMaker(const FrameMaker&) = delete;
  FrameMaker& operator=(const FrameMaker&) = delete;

  // The JPEG of frame `number` labelled with `label` (lines split by '\n';
  // see bitmap_font.h). Valid until the next call; empty when encoding failed.
  std::string_view Make(uint64_t number, std::string_view label);

  int Width() const { return m_width; }
  int Height() const { return m_height; }

 private:
  void DrawPattern(uint64_t number);

  int m_width;
  int m_height;
  void* m_compressor;            // tjhandle
  unsigned char* m_jpeg;         // tjAlloc'ed, m_jpegCapacity bytes
  unsigned long m_jpegCapacity;  // NOLINT(runtime/int): turbojpeg's type
  std::vector<uint8_t> m_rgb;
  // Two periods of each pattern, so that any scroll offset is one row copy.
  std::vector<uint8_t> m_barRow;
  std::vector<uint8_t> m_rampRow;
};

}  // namespace ravelon::cli
