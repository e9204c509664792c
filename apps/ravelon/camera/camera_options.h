// What a test camera serves: the listen address, the frames' rate and size,
// the optional parts, single-response mode, credentials and a fault mode.
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
  // Basic credentials the camera demands; both empty: none.
  std::string user = "";
  std::string password = "";
  FaultMode fault = FaultMode::kNone;
  uint64_t fault_after = 50;  // frames sent normally on each connection first
};

// Reads "WxH" (or "WXH"): two decimal numbers of at most 5 digits each.
// False for anything else; bounds are checked by CheckCameraOptions.
bool ParseFrameSize(std::string_view text, int& width, int& height);

// Throws CommandError naming the first value out of its bounds.
void CheckCameraOptions(const CameraOptions& options);

}  // namespace ravelon::cli
