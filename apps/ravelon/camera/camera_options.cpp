#include "camera/camera_options.h"

#include <charconv>
#include <cstdio>

#include "camera/camera_limits.h"
#include "cli/command.h"

namespace ravelon::cli {
namespace {

bool ParseSide(std::string_view text, int& side) {
  if (text.empty() || text.size() > 5) return false;
  // from_chars would take a sign.
  if (text.find_first_not_of("0123456789") != std::string_view::npos) return false;
  const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), side);
  return error == std::errc() && end == text.data() + text.size();
}

}  // namespace

bool ParseFrameSize(std::string_view text, int& width, int& height) {
  const size_t x = text.find_first_of("xX");
  if (x == std::string_view::npos) return false;
  int w = 0, h = 0;
  if (!ParseSide(text.substr(0, x), w) || !ParseSide(text.substr(x + 1), h)) return false;
  width = w;
  height = h;
  return true;
}

void CheckCameraOptions(const CameraOptions& o) {
  const auto side_ok = [](int side) { return side >= kMinFrameSide && side <= kMaxFrameSide; };
  if (!side_ok(o.width) || !side_ok(o.height)) {
    throw CommandError("the frame size " + std::to_string(o.width) + "x" +
                       std::to_string(o.height) + " is out of bounds: each side must be " +
                       std::to_string(kMinFrameSide) + " to " + std::to_string(kMaxFrameSide));
  }
  if (!(o.fps >= kMinFps && o.fps <= kMaxFps)) {
    char text[96];
    std::snprintf(text, sizeof text, "the frame rate must be %g to %g frames a second", kMinFps,
                  kMaxFps);
    throw CommandError(text);
  }
  if (o.text_every < 0 || o.event_every < 0 || o.event_list_every < 0 || o.keep_alive_every < 0) {
    throw CommandError("a part's period (every N frames) cannot be negative");
  }
  if (o.single && o.fault != FaultMode::kNone) {
    throw CommandError("fault modes act on streams: leave out --single or --fault");
  }
  if (o.single && (o.header != HeaderStyle::kMultipart || o.blank_before_boundary)) {
    throw CommandError("--header and --blank-line act on streams: leave out --single");
  }
  if (o.flood &&
      (o.single || o.chunked || o.text_every || o.event_every || o.event_list_every ||
       o.keep_alive_every || (o.fault != FaultMode::kNone && o.fault != FaultMode::kClose))) {
    throw CommandError(
        "--flood sends plain JPEG parts: it takes no --single, --chunked, optional parts or "
        "fault other than close");
  }
  if (o.chunked && o.header == HeaderStyle::kNone) {
    throw CommandError(
        "a chunked body needs a response head: leave out --chunked or --header none");
  }
  if (o.chunk_size < 0 || o.nonce_uses < 0) {
    throw CommandError("--chunk-size and --nonce-uses cannot be negative");
  }
  if (o.reply_status != 0 && o.reply_status != 401 && o.reply_status != 404) {
    throw CommandError("--reply must be 401 or 404");
  }
}

}  // namespace ravelon::cli
