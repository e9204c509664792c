// Peer MJPEG servers for end-to-end tests: FFmpeg's HTTP server and
// GStreamer pipelines, run as child processes on a free loopback port, in a
// process group of their own that Stop ends whole. A test skips ("skipped:
// <tool> not installed") when the tool is missing, with SKIP_WITHOUT_TOOL.
//
// What the peers send (FFmpeg 5.1, GStreamer 1.22):
// - FFmpeg (`-f mpjpeg -listen 1`) serves one client, then ends. A request
//   line without an HTTP version gets "HTTP/1.1 400 Bad Request" (with a
//   text body). Any HTTP request gets "HTTP/1.1 200 OK", "Content-Type:
//   application/octet-stream" (or the -content_type given) and
//   "Transfer-Encoding: chunked", whatever the request's version; the body
//   is "--ffmpeg" CRLF, then per frame "Content-type: image/jpeg" CRLF
//   "Content-length: N" CRLF CRLF, the file's bytes, CRLF "--ffmpeg" CRLF,
//   and the last chunk when the input ends.
// - GStreamer's tcpserversink sends no HTTP head at all and reads nothing:
//   a client gets "--ThisRandomString" CRLF "Content-Type: image/jpeg" CRLF
//   "Content-Length: N" CRLF CRLF, the JPEG, CRLF, and so on, from the next
//   part on; any number of clients, until the pipeline is stopped.
//
// One test, one thread.
#pragma once

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "camera/frame_maker.h"
#include "tests/command_process.h"
#include "support/temp_folder.h"

namespace ravelon::cli::testing {

// Skips the running test when `tool` is not on PATH.
#define SKIP_WITHOUT_TOOL(tool)                                \
  if (!::ravelon::cli::testing::ToolInstalled(tool)) {         \
    GTEST_SKIP() << "skipped: " << (tool) << " not installed"; \
  }

inline bool ToolInstalled(const std::string& tool) {
  const char* path = std::getenv("PATH");
  std::istringstream folders(path != nullptr ? path : "");
  for (std::string folder; std::getline(folders, folder, ':');) {
    if (!folder.empty() && ::access((folder + "/" + tool).c_str(), X_OK) == 0) return true;
  }
  return false;
}

// A port on 127.0.0.1 that was free a moment ago (the system's pick).
inline int FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t size = sizeof address;
  int port = 0;
  if (fd >= 0 && ::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 &&
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
    port = ntohs(address.sin_port);
  }
  if (fd >= 0) ::close(fd);
  return port;
}

// True when a socket listens on 127.0.0.1:`port`, read from /proc/net/tcp
// rather than by connecting, which would use up a server that takes one
// client (FFmpeg's).
inline bool LoopbackListening(int port) {
  std::ifstream table("/proc/net/tcp");
  char local[32];
  std::snprintf(local, sizeof local, "0100007F:%04X", port);
  for (std::string line; std::getline(table, line);) {
    std::istringstream fields(line);
    std::string slot, address, remote, state;
    fields >> slot >> address >> remote >> state;
    if (address == local && state == "0A") return true;  // 0A: LISTEN
  }
  return false;
}

// `count` JPEG files 0001.jpg, 0002.jpg, ... of the camera's test pattern
// in `folder`; their bytes, in order.
inline std::vector<std::string> WriteJpegSequence(const ravelon::testing::TempFolder& folder, int count,
                                                  int width = 64, int height = 48) {
  FrameMaker frames(width, height);
  std::vector<std::string> jpegs;
  for (int i = 1; i <= count; ++i) {
    char name[16];
    std::snprintf(name, sizeof name, "%04d.jpg", i);
    jpegs.emplace_back(frames.Make(static_cast<uint64_t>(i), name));
    folder.Write(name, jpegs.back());
  }
  return jpegs;
}

class PeerServer {
 public:
  // Starts `tool` with `args`; it is to listen on 127.0.0.1:`port`.
  PeerServer(const char* tool, std::vector<std::string> args, int port)
      : m_process(tool, std::move(args), "", /*own_group=*/true), m_port(port) {}
  ~PeerServer() { Stop(); }

  int Port() const { return m_port; }

  // Waits until the server listens; false when it ended or `limit` passed.
  bool WaitListening(std::chrono::milliseconds limit = std::chrono::seconds(10)) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (m_process.Started() && std::chrono::steady_clock::now() < end) {
      if (LoopbackListening(m_port)) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

  // SIGTERM to the process group, then SIGKILL after `limit`; what the tool
  // wrote, for messages. Idempotent.
  CommandResult Stop(std::chrono::milliseconds limit = std::chrono::seconds(5)) {
    if (!m_stopped) {
      m_stopped = true;
      m_process.Signal(SIGTERM);
      m_result = m_process.Wait(limit);
    }
    return m_result;
  }

 private:
  CommandProcess m_process;
  int m_port;
  bool m_stopped = false;
  CommandResult m_result;
};

// FFmpeg serving the files DIR/0001.jpg ... as they are (-c copy) at `fps`,
// for one client, at http://127.0.0.1:PORT/stream.mjpg; `content_type` ""
// leaves FFmpeg's own (application/octet-stream).
inline std::vector<std::string> FfmpegArgs(const std::string& folder, int port, int fps = 10,
                                           const std::string& content_type = "") {
  std::vector<std::string> args = {"-nostdin",   "-loglevel",
                                   "error",      "-re",
                                   "-f",         "image2",
                                   "-framerate", std::to_string(fps),
                                   "-i",         folder + "/%04d.jpg",
                                   "-c",         "copy",
                                   "-f",         "mpjpeg"};
  if (!content_type.empty()) args.insert(args.end(), {"-content_type", content_type});
  args.insert(args.end(),
              {"-listen", "1", "http://127.0.0.1:" + std::to_string(port) + "/stream.mjpg"});
  return args;
}

// GStreamer's test pattern, JPEG-encoded, as a live stream at `fps`.
inline std::vector<std::string> GstTestPatternArgs(int port, int fps = 10) {
  return {"-q",
          "videotestsrc",
          "is-live=true",
          "!",
          "video/x-raw,width=64,height=48,framerate=" + std::to_string(fps) + "/1",
          "!",
          "jpegenc",
          "!",
          "multipartmux",
          "!",
          "tcpserversink",
          "host=127.0.0.1",
          "port=" + std::to_string(port)};
}

// GStreamer serving the files DIR/0001.jpg ... in a loop, as they are, at
// about `fps` (a pause after each file: the files carry no timestamps).
inline std::vector<std::string> GstFileArgs(const std::string& folder, int port, int fps = 10) {
  return {"-q",
          "multifilesrc",
          "location=" + folder + "/%04d.jpg",
          "index=1",
          "loop=true",
          "caps=image/jpeg,framerate=" + std::to_string(fps) + "/1",
          "!",
          "identity",
          "sleep-time=" + std::to_string(1'000'000 / fps),
          "!",
          "multipartmux",
          "!",
          "tcpserversink",
          "host=127.0.0.1",
          "port=" + std::to_string(port)};
}

}  // namespace ravelon::cli::testing
