// What a test camera serves: the listen address, the frames' rate and size,
// the optional parts, single-response mode, credentials, a fault mode, and
// the ways real-world servers spell their responses (chunked bodies, other
// content types or none, odd header case, Digest credentials, fixed refusals).
// Filled by the `camera` subcommand (or by `demo`), then handed by value to a
// TestCamera; plain data, no threads.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon::cli {

// What the camera does to a stream after `fault_after` frames.
enum class FaultMode {
  kNone,
  kStall,      // sends nothing more, keeps the connection open
  kClose,      // closes the connection
  kGarbage,    // sends random bytes instead of parts
  kOversized,  // sends one part larger than the engine's input limit, then goes on
  kDrip,       // goes on a few bytes per tick
};

// How the stream's response head labels it.
enum class HeaderStyle {
  kMultipart,    // "multipart/x-mixed-replace; boundary=..."
  kOctetStream,  // "application/octet-stream": the boundary shows only in the body
  kNone,         // no response head at all: the body's first line is the boundary
};

// How the camera checks the credentials it demands.
enum class AuthScheme { kBasic, kDigestMd5, kDigestSha256 };

struct CameraOptions {
  std::string address = "127.0.0.1";
  uint16_t port = 8080;  // 0: any free port (TestCamera::Port tells which)
  double fps = 10;
  int width = 640;
  int height = 480;
  // An extra part after every Nth frame; 0 sends none.
  int text_every = 0;        // "text/plain": the frame's label
  int event_every = 0;       // "text/x-vesper-event": a receipt, with its cut
  int event_list_every = 0;  // "text/x-vesper-event-list": two events
  int keep_alive_every = 0;  // "text/keepalive", empty
  // Answer each request with one JPEG and close (the engine's polling mode).
  bool single = false;
  // A few frames, made once, sent in turn as fast as each client reads (fps
  // ignored): for measuring a reader's cost per byte, with the camera's own
  // cost per part one write. With the "close" fault a stream is exactly
  // `fault_after` parts, the same bytes for every client.
  bool flood = false;
  // Credentials the camera demands, checked as `auth` says; both empty: none.
  std::string user = "";
  std::string password = "";
  AuthScheme auth = AuthScheme::kBasic;
  // Digest: requests one nonce serves before it is called stale; 0: no limit.
  int nonce_uses = 0;
  FaultMode fault = FaultMode::kNone;
  uint64_t fault_after = 50;  // frames sent normally on each connection first

  // A request line without "HTTP/x.y" gets "400 Bad Request".
  bool http_only = false;
  // Bodies (stream and single image) sent with "Transfer-Encoding: chunked".
  bool chunked = false;
  // Bytes per chunk; 0: sizes that cycle through 1 to 509, so that chunk
  // edges fall at every offset of the parts.
  int chunk_size = 0;
  HeaderStyle header = HeaderStyle::kMultipart;
  bool blank_before_boundary = false;  // a CRLF before the first boundary line
  // Header names in other letter case ("content-TYPE"), values padded with blanks.
  bool odd_header_case = false;
  // Every request gets this status and a close: 401 (with a Basic challenge)
  // or 404; 0: off.
  int reply_status = 0;
};

// Reads "WxH" (or "WXH"): two decimal numbers of at most 5 digits each.
// False for anything else; bounds are checked by CheckCameraOptions.
bool ParseFrameSize(std::string_view text, int& width, int& height);

// Throws CommandError naming the first value out of its bounds.
void CheckCameraOptions(const CameraOptions& options);

}  // namespace ravelon::cli
