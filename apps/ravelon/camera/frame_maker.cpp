#include "camera/frame_maker.h"

#include <turbojpeg.h>

#include <algorithm>
#include <array>
#include <cstring>

#include "camera/bitmap_font.h"
#include "camera/camera_limits.h"
#include "cli/command.h"

namespace ravelon::cli {
namespace {

constexpr std::array<std::array<uint8_t, 3>, 8> kBarColours = {{
    {235, 235, 235},
    {235, 235, 16},
    {16, 235, 235},
    {16, 235, 16},
    {235, 16, 235},
    {235, 16, 16},
    {16, 16, 235},
    {16, 16, 16},
}};
constexpr int kSubsampling = TJSAMP_420;

}  // namespace

FrameMaker::FrameMaker(int width, int height)
    : m_width(width),
      m_height(height),
      m_compressor(tjInitCompress()),
      m_jpeg(nullptr),
      m_jpegCapacity(tjBufSize(width, height, kSubsampling)),
      m_rgb(static_cast<size_t>(width) * height * 3),
      m_barRow(static_cast<size_t>(width) * 2 * 3),
      m_rampRow(static_cast<size_t>(width) * 2 * 3) {
  if (m_compressor == nullptr) throw CommandError("cannot start the JPEG compressor");
  m_jpeg = tjAlloc(static_cast<int>(m_jpegCapacity));
  if (m_jpeg == nullptr) {
    tjDestroy(m_compressor);
    throw CommandError("cannot allocate the JPEG buffer");
  }
  for (int x = 0; x < 2 * width; ++x) {
    const int within = x % width;
    const auto& colour = kBarColours[static_cast<size_t>(within) * kBarColours.size() / width];
    std::memcpy(&m_barRow[static_cast<size_t>(x) * 3], colour.data(), 3);
    const auto grey = static_cast<uint8_t>(within * 255 / (width - 1));
    std::memset(&m_rampRow[static_cast<size_t>(x) * 3], grey, 3);
  }
}

FrameMaker::~FrameMaker() {
  tjFree(m_jpeg);
  tjDestroy(m_compressor);
}

// The bars fill the upper three quarters and move right; the ramp fills the
// rest and moves left; both by about 1/80 of the width a frame.
void FrameMaker::DrawPattern(uint64_t number) {
  const uint64_t step = static_cast<uint64_t>(std::max(1, m_width / 80));
  const size_t shift = static_cast<size_t>(number * step % static_cast<uint64_t>(m_width));
  const size_t row_bytes = static_cast<size_t>(m_width) * 3;
  const int bars_end = m_height * 3 / 4;
  const uint8_t* bars = &m_barRow[(static_cast<size_t>(m_width) - shift) * 3];
  const uint8_t* ramp = &m_rampRow[shift * 3];
  for (int y = 0; y < m_height; ++y) {
    std::memcpy(&m_rgb[static_cast<size_t>(y) * row_bytes], y < bars_end ? bars : ramp, row_bytes);
  }
}

std::string_view FrameMaker::Make(uint64_t number, std::string_view label) {
  DrawPattern(number);
  const int scale = std::clamp(m_width / 200, 1, 8);
  DrawLabel(m_rgb.data(), m_width, m_height, scale * 2, scale * 2, scale, label);
  unsigned long size = m_jpegCapacity;  // NOLINT(runtime/int)
  const int failed =
      tjCompress2(m_compressor, m_rgb.data(), m_width, 0, m_height, TJPF_RGB, &m_jpeg, &size,
                  kSubsampling, kJpegQuality, TJFLAG_NOREALLOC | TJFLAG_FASTDCT);
  if (failed != 0) return {};
  return {reinterpret_cast<const char*>(m_jpeg), size};
}

}  // namespace ravelon::cli
