// JPEG decoding at a reduced scale and encoding, over libjpeg-turbo's
// turbojpeg API, for contact sheets. libjpeg-turbo decodes at 1/2, 1/4 or
// 1/8 (and other eighths) of the full size in the DCT itself, so a thumbnail
// costs a fraction of a full decode. One codec per thread; it owns its
// turbojpeg handles.
#pragma once

#include <string>
#include <string_view>

#include "store/rgb_image.h"

namespace ravelon::cli {

class JpegCodec {
 public:
  // A frame whose decoded picture would exceed this many pixels is refused:
  // it would need over 48 MB of RGB, and stored frames are untrusted input.
  static constexpr int64_t kMaxDecodedPixels = 4096 * 4096;

  JpegCodec();
  ~JpegCodec();
  JpegCodec(const JpegCodec&) = delete;
  JpegCodec& operator=(const JpegCodec&) = delete;

  // Width and height from the JPEG header. False, with the reason, when the
  // bytes are not a JPEG the library can read.
  bool ReadSize(std::string_view jpeg, int& width, int& height, std::string& error);

  // Decodes at the smallest of the library's scales (never above full size)
  // that is at least min_width × min_height, or at full size when even that
  // is smaller. A picture with recoverable damage (a cut-off end) is decoded
  // as far as it goes. False, with the reason, when it cannot be decoded.
  bool DecodeScaled(std::string_view jpeg, int min_width, int min_height, RgbImage& picture,
                    std::string& error);

  // Encodes with 4:2:0 chroma subsampling at `quality` (1-100).
  bool Encode(const RgbImage& picture, int quality, std::string& jpeg, std::string& error);

 private:
  void* decoder_;  // tjhandle
  void* encoder_;  // tjhandle
};

}  // namespace ravelon::cli
