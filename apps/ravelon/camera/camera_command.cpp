// `ravelon camera`: a loopback test source. Serves multipart JPEG streams of
// a moving, labelled test pattern (or single images for polling), with
// optional text and event parts, credentials, fault modes and the response
// styles of real-world servers, until
// interrupted (SIGINT, SIGTERM) or for --duration seconds.
//
// The first line on standard output is "listening on ADDRESS:PORT", so that
// a script given --port 0 can read the chosen port.
#include <cstdio>
#include <map>
#include <memory>
#include <string>

#include "camera/camera_limits.h"
#include "camera/test_camera.h"
#include "cli/command.h"
#include "cli/held_signals.h"

namespace ravelon::cli {
namespace {

const std::map<std::string, FaultMode>& FaultNames() {
  static const std::map<std::string, FaultMode> names = {
      {"stall", FaultMode::kStall},     {"close", FaultMode::kClose},
      {"garbage", FaultMode::kGarbage}, {"oversized", FaultMode::kOversized},
      {"drip", FaultMode::kDrip},
  };
  return names;
}

const std::map<std::string, HeaderStyle>& HeaderNames() {
  static const std::map<std::string, HeaderStyle> names = {
      {"multipart", HeaderStyle::kMultipart},
      {"octet-stream", HeaderStyle::kOctetStream},
      {"none", HeaderStyle::kNone},
  };
  return names;
}

const std::map<std::string, AuthScheme>& AuthNames() {
  static const std::map<std::string, AuthScheme> names = {
      {"basic", AuthScheme::kBasic},
      {"digest-md5", AuthScheme::kDigestMd5},
      {"digest-sha256", AuthScheme::kDigestSha256},
  };
  return names;
}

// --duration is at most this (about 16 weeks), which keeps the deadline's
// arithmetic far from overflow; a longer run leaves --duration out.
constexpr double kMaxDurationSeconds = 1e7;

struct CameraCommandOptions {
  CameraOptions camera;
  std::string size = "640x480";
  std::string fault;                 // "" or a key of FaultNames()
  std::string header = "multipart";  // a key of HeaderNames()
  std::string auth = "basic";        // a key of AuthNames()
  double duration = 0;               // seconds; 0 = until interrupted
};

int RunCamera(CameraCommandOptions& o) {
  // Both checked by their options' validators.
  ParseFrameSize(o.size, o.camera.width, o.camera.height);
  if (!o.fault.empty()) o.camera.fault = FaultNames().at(o.fault);
  o.camera.header = HeaderNames().at(o.header);
  o.camera.auth = AuthNames().at(o.auth);
  if (!(o.duration >= 0 && o.duration <= kMaxDurationSeconds)) {  // NaN passes CLI11's range
    throw CommandError("--duration must be 0 to 1e7 seconds");
  }
  HeldSignals signals;  // before the camera's thread starts
  TestCamera camera(o.camera);
  std::printf("listening on %s\n", camera.Endpoint().c_str());
  std::fflush(stdout);
  camera.Start();
  if (o.duration > 0) {
    signals.Wait(o.duration);
  } else {
    signals.Wait();
  }
  camera.Stop();
  std::printf("served %llu frames; connections: %llu\n",
              static_cast<unsigned long long>(camera.FramesServed()),
              static_cast<unsigned long long>(camera.ClientsAccepted()));
  return kExitOk;
}

}  // namespace

void AddCameraCommand(CLI::App& app, Action& action) {
  auto options = std::make_shared<CameraCommandOptions>();
  CameraOptions& c = options->camera;
  CLI::App* command = app.add_subcommand(
      "camera",
      "Serves a test source on loopback: multipart JPEG streams of a moving, labelled pattern "
      "(or single images), with optional text and event parts and fault modes");
  command->add_option("--address", c.address, "address to listen on")->capture_default_str();
  command->add_option("--port", c.port, "port to listen on; 0 picks a free one")
      ->capture_default_str();
  command->add_option("--fps", c.fps, "frames a second")
      ->check(CLI::Range(kMinFps, kMaxFps))
      ->capture_default_str();
  command
      ->add_option("--size", options->size,
                   "frame size WxH, each side " + std::to_string(kMinFrameSide) + " to " +
                       std::to_string(kMaxFrameSide))
      ->check(CLI::Validator(
          [](std::string& text) {
            int width = 0, height = 0;
            return ParseFrameSize(text, width, height) ? std::string()
                                                       : "expected WxH, such as 640x480";
          },
          "WxH"))
      ->capture_default_str();
  command->add_option("--text", c.text_every, "a text/plain part (the label) every N frames")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--event", c.event_every, "a receipt-printer event part every N frames")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--event-list", c.event_list_every, "an event-list part every N frames")
      ->check(CLI::NonNegativeNumber);
  command->add_option("--keep-alive", c.keep_alive_every, "an empty keep-alive part every N frames")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--single", c.single,
                    "answer each request with one JPEG and close (for polling)");
  command->add_flag("--flood", c.flood,
                    "send a cycle of " + std::to_string(kFloodFrames) +
                        " frames, made once, as fast as the client reads (--fps ignored); with "
                        "--fault close --after N every stream is the same N parts");
  command->add_option("--user", c.user, "demand credentials with this user name (see --auth)");
  command->add_option("--password", c.password, "... and this password");
  command
      ->add_option("--auth", options->auth,
                   "how the credentials are checked: basic, digest-md5 or digest-sha256 (qop=auth)")
      ->check(CLI::IsMember(AuthNames()))
      ->capture_default_str();
  command
      ->add_option("--nonce-uses", c.nonce_uses,
                   "Digest: requests one nonce serves before it is called stale; 0: no limit")
      ->check(CLI::NonNegativeNumber);
  command->add_flag("--http-only", c.http_only,
                    "answer a request line without an HTTP version with 400 Bad Request");
  command->add_flag("--chunked", c.chunked,
                    "send bodies with Transfer-Encoding: chunked (and HTTP/1.1)");
  command
      ->add_option("--chunk-size", c.chunk_size, "bytes per chunk; 0 cycles through 1 to 509 bytes")
      ->check(CLI::NonNegativeNumber);
  command
      ->add_option("--header", options->header,
                   "the stream's response head: multipart, octet-stream (the boundary shows only "
                   "in the body) or none (no HTTP head at all)")
      ->check(CLI::IsMember(HeaderNames()))
      ->capture_default_str();
  command->add_flag("--blank-line", c.blank_before_boundary,
                    "a blank line before the first boundary");
  command->add_flag("--odd-header-case", c.odd_header_case,
                    "header names in odd letter case, values padded with blanks");
  command
      ->add_option("--reply", c.reply_status,
                   "answer every request with this status and close: 401 or 404")
      ->check(CLI::IsMember({401, 404}));
  command
      ->add_option("--fault", options->fault,
                   "after --after frames: stall (send nothing more), close, garbage (random "
                   "bytes), oversized (one part over the engine's 10 MB input limit), drip (a "
                   "few bytes a tick)")
      ->check(CLI::IsMember(FaultNames()));
  command->add_option("--after", c.fault_after, "frames sent normally before the fault")
      ->capture_default_str();
  command
      ->add_option("--duration", options->duration, "seconds to serve; 0 serves until interrupted")
      ->check(CLI::Range(0.0, kMaxDurationSeconds));
  command->footer(
      "The first line of output is \"listening on ADDRESS:PORT\". Every connection gets its own "
      "stream, numbered from 1; any path is served.");
  command->callback([&action, options] { action = [options] { return RunCamera(*options); }; });
}

}  // namespace ravelon::cli
