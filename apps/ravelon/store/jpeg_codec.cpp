#include "store/jpeg_codec.h"

#include <turbojpeg.h>

namespace ravelon::cli {
namespace {

std::string LibraryError(tjhandle handle) { return tjGetErrorStr2(handle); }

const unsigned char* Bytes(std::string_view data) {
  return reinterpret_cast<const unsigned char*>(data.data());
}

}  // namespace

JpegCodec::JpegCodec() : decoder_(tjInitDecompress()), encoder_(tjInitCompress()) {}

JpegCodec::~JpegCodec() {
  if (decoder_ != nullptr) tjDestroy(decoder_);
  if (encoder_ != nullptr) tjDestroy(encoder_);
}

bool JpegCodec::ReadSize(std::string_view jpeg, int& width, int& height, std::string& error) {
  if (decoder_ == nullptr) {
    error = "the JPEG library could not start a decoder";
    return false;
  }
  int subsampling = 0, colorspace = 0;
  if (tjDecompressHeader3(decoder_, Bytes(jpeg), static_cast<unsigned long>(jpeg.size()),  // NOLINT
                          &width, &height, &subsampling, &colorspace) != 0) {
    error = LibraryError(decoder_);
    return false;
  }
  if (width <= 0 || height <= 0) {
    error = "the JPEG header gives no size";
    return false;
  }
  return true;
}

bool JpegCodec::DecodeScaled(std::string_view jpeg, int min_width, int min_height,
                             RgbImage& picture, std::string& error) {
  int width = 0, height = 0;
  if (!ReadSize(jpeg, width, height, error)) return false;
  int count = 0;
  const tjscalingfactor* factors = tjGetScalingFactors(&count);
  tjscalingfactor chosen{1, 1};
  for (int i = 0; i < count; ++i) {
    const tjscalingfactor f = factors[i];
    if (f.num > f.denom) continue;  // enlarging in the decoder gains nothing
    const int w = TJSCALED(width, f), h = TJSCALED(height, f);
    if (w >= min_width && h >= min_height && w < TJSCALED(width, chosen)) chosen = f;
  }
  const int w = TJSCALED(width, chosen), h = TJSCALED(height, chosen);
  if (int64_t{w} * h > kMaxDecodedPixels) {
    error = "a picture of " + std::to_string(width) + "x" + std::to_string(height) +
            " is too large to decode";
    return false;
  }
  picture = RgbImage(w, h, Rgb{});
  const int flags = TJFLAG_FASTDCT | TJFLAG_LIMITSCANS;  // untrusted input: bound progressive scans
  if (tjDecompress2(decoder_, Bytes(jpeg), static_cast<unsigned long>(jpeg.size()),  // NOLINT
                    picture.pixels.data(), w, 0, h, TJPF_RGB, flags) != 0 &&
      tjGetErrorCode(decoder_) != TJERR_WARNING) {
    error = LibraryError(decoder_);
    return false;
  }
  return true;
}

bool JpegCodec::Encode(const RgbImage& picture, int quality, std::string& jpeg,
                       std::string& error) {
  if (encoder_ == nullptr) {
    error = "the JPEG library could not start an encoder";
    return false;
  }
  unsigned char* out = nullptr;
  unsigned long size = 0;  // NOLINT(runtime/int): the library's type
  if (tjCompress2(encoder_, picture.pixels.data(), picture.width, 0, picture.height, TJPF_RGB, &out,
                  &size, TJSAMP_420, quality, TJFLAG_FASTDCT) != 0) {
    error = LibraryError(encoder_);
    tjFree(out);
    return false;
  }
  jpeg.assign(reinterpret_cast<const char*>(out), size);
  tjFree(out);
  return true;
}

}  // namespace ravelon::cli
