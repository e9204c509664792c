// TestCamera: a loopback video source for demos, tests and benchmarks. It
// serves multipart JPEG streams (or single images, for polling) made on the
// fly, with optional text and event parts, Basic or Digest credentials, fault
// modes and the response styles of real-world servers (see CameraOptions).
// Used by `ravelon camera` and, in-process, by `ravelon demo` and the tests.
//
// The camera listens from its construction (so Port() is known at once) and
// serves on its own thread, with one Asio io_context, from Start() until
// Stop(); many clients at once, each with its own stream. Start, Stop and
// the counters may be called from any thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "camera/camera_options.h"

namespace ravelon::cli {

class TestCamera {
 public:
  // Checks the options and listens. Throws CommandError with the reason when
  // an option is out of bounds or the address cannot be listened on.
  explicit TestCamera(CameraOptions options);
  // Stops first.
  ~TestCamera();
  TestCamera(const TestCamera&) = delete;
  TestCamera& operator=(const TestCamera&) = delete;

  // The port listened on: the chosen one when the options asked for 0.
  int Port() const;
  // "address:port" ("[address]:port" for IPv6), for messages.
  std::string Endpoint() const;

  // Starts serving on the camera's thread. Once only: after Stop, or a
  // second time, it does nothing.
  void Start();
  // Closes every client and the listener and joins the thread. Idempotent.
  void Stop();

  // JPEG images whose bytes were all handed to the network.
  uint64_t FramesServed() const;
  // Connections accepted (refused ones, over the client limit, not counted).
  uint64_t ClientsAccepted() const;
  // Request heads read to their end (or refused as too large).
  uint64_t RequestsSeen() const;
  // Responses sent with `status`: 200 counts each stream once, as it starts,
  // and each single image; 401 counts every challenge, stale or not.
  uint64_t Responses(int status) const;
  // Digest challenges that said stale=true.
  uint64_t StaleChallenges() const;
  // True when `jpeg` is byte for byte one of the last kJpegLedgerSize images
  // the camera made.
  bool Made(std::string_view jpeg) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> m_impl;
};

}  // namespace ravelon::cli
