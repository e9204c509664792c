// ClientSession: one client of the test camera, from its accepted socket to
// its close. It reads the request head (bounded in size and time), has the
// camera's request gate screen it, and answers: a multipart stream paced by a
// steady timer (or flooded: each part as soon as the last is out), one image
// and a close (polling mode), or an error status and a close. Bodies go out
// chunked when the options ask. A fault mode takes over the stream after the
// configured number of frames.
//
//   ReadingHead --head ok--> Streaming --fault close---------.
//        |                      |  (stall: stays, sends nothing) |
//        |                      |                               v
//        +---single / refused / bad head----------------->  Ending --client closed or
//                                                            timeout--> Closed
//   any stage --client closed, read or write error, Close()--> Closed
//
// Made and started by TestCamera; every call and handler runs on the camera's
// thread, so nothing here locks. Handlers hold the session alive (shared
// pointer) until the socket and timer are closed and their waits end.
#pragma once

#include <array>
#include <asio.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "camera/camera_options.h"
#include "camera/chunk_writer.h"
#include "camera/frame_maker.h"
#include "camera/jpeg_ledger.h"
#include "camera/request_gate.h"
#include "camera/request_head.h"

namespace ravelon::cli {

// What every session of one camera shares. Lives in the TestCamera and
// outlives its sessions. The counters may be read from any thread.
struct CameraState {
  CameraState(const CameraOptions& camera_options, FrameMaker& frame_maker)
      : options(camera_options), frames(frame_maker), gate(camera_options) {}

  // Counts a response with `status` (a stream counts once, as it starts).
  void CountResponse(int status) {
    if (status >= 0 && static_cast<size_t>(status) < responses.size()) ++responses[status];
  }

  const CameraOptions& options;
  FrameMaker& frames;  // the camera's thread only
  RequestGate gate;    // the camera's thread only
  // Polling mode numbers its frames across connections: one per request.
  uint64_t single_frame_number = 0;  // the camera's thread only
  std::atomic<uint64_t> frames_served{0};
  std::atomic<uint64_t> requests_seen{0};              // heads read to their end, or too large
  std::array<std::atomic<uint64_t>, 600> responses{};  // by status code (all below 600)
  std::atomic<uint64_t> stale_challenges{0};           // Digest 401s with stale=true
  JpegLedger made;                                     // every JPEG made, by hash
  // Flood mode's parts (kFloodFrames), made by the first client that needs
  // them and never changed after: every client's writes point into them. The
  // camera's thread only.
  std::vector<std::string> flood_parts;
};

class ClientSession : public std::enable_shared_from_this<ClientSession> {
 public:
  // `seed` makes the garbage fault mode's bytes reproducible per client.
  ClientSession(asio::ip::tcp::socket socket, CameraState& camera, uint64_t seed);

  // Starts reading the request head.
  void Start();
  // Closes at once; pending waits end with nothing more sent. Idempotent.
  void Close();

 private:
  enum class Stage { kReadingHead, kStreaming, kEnding, kClosed };
  using Clock = std::chrono::steady_clock;

  void Read();
  void OnRead(const asio::error_code& error, size_t bytes);
  void Answer(const RequestHead& request);
  void Refuse(const Refusal& refusal);
  void SendSingleImage();
  // Sends `response`, closes the sending side and waits (bounded) for the
  // client to close its side, so that nothing sent is lost to a reset.
  void End(std::string response, uint64_t jpegs);
  // Appends body bytes to `out`: as chunks when the options ask.
  void AppendBody(std::string& out, std::string_view body);
  void Arm(Clock::time_point when, void (ClientSession::*on_expiry)());
  void OnTick();
  void OnDripTick();
  void OnEndTimeout();
  void ScheduleNextFrame();
  // Appends the next frame's JPEG part and its optional parts to m_out.
  bool AppendFrameParts();
  // Flood mode: the next part of the cycle, straight from the camera's one
  // copy (the response head, still in m_out, goes out with the first).
  void SendFloodPart();
  // Makes the cycle's parts once; false when encoding failed.
  bool MakeFloodParts();
  void AppendGarbage();
  void AppendOversizedPart();
  // Writes the next `count` bytes of m_out; `jpegs` count as served once they are out.
  void Write(size_t count, uint64_t jpegs);
  void OnWritten(const asio::error_code& error, size_t bytes, uint64_t jpegs);
  bool Faulty() const;

  asio::ip::tcp::socket m_socket;
  asio::steady_timer m_timer;
  uint64_t m_timerGeneration = 0;  // an expiry of an earlier arming is ignored
  CameraState& m_camera;
  Stage m_stage = Stage::kReadingHead;

  std::array<char, 2048> m_readBuffer{};
  std::string m_head;

  // What is being (or is next to be) sent, as it goes on the wire, and how
  // much of it has gone.
  std::string m_out;
  size_t m_sent = 0;
  bool m_writing = false;
  bool m_clientDone = false;  // the client closed its side while a response went out
  ChunkWriter m_chunks;

  Clock::duration m_framePeriod;
  Clock::time_point m_nextFrame;
  uint64_t m_frameNumber = 0;  // this stream's frames, from 1
  bool m_oversizedSent = false;
  uint64_t m_random;
};

}  // namespace ravelon::cli
