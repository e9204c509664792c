// A source on 127.0.0.1 for end-to-end tests that plays its stream on a thread of its own, as a
// camera does: the loop under test neither drives nor slows it, so a stalled loop shows as a
// stall. Each connection, once its request has come, is sent the stream from the start: its
// pieces in order, each repeated its count of times, as fast as the socket takes them or one
// repeat per pace. After the last piece the connection stays open and silent until the client
// goes.
#pragma once

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "support/loopback_server.h"

namespace ravelon::testing {

inline constexpr int64_t kForever = std::numeric_limits<int64_t>::max();

struct StreamPiece {
  std::string bytes;
  int64_t repeats = 1;
  std::chrono::milliseconds pace{0};  // from one repeat to the next; 0: no wait
};

class SourceThread {
 public:
  explicit SourceThread(std::vector<StreamPiece> stream) : stream_(std::move(stream)) {
    port = ListenOnLoopback(listener_);
    acceptor_ = std::thread([this] { Accept(); });
  }
  ~SourceThread() {
    stop_ = true;
    acceptor_.join();
    close(listener_);
  }

  int Connections() const { return connections_; }
  // Repeats of paced pieces sent so far, on all connections: the frames a camera sent.
  int64_t PacedRepeatsSent() const { return paced_sent_; }

  int port = 0;

 private:
  // Each wait is short, so that the destructor is never kept waiting on a socket.
  static constexpr int kWaitMs = 20;

  static bool Readable(int fd) {
    pollfd waiting{fd, POLLIN, 0};
    return poll(&waiting, 1, kWaitMs) > 0;
  }

  // One connection at a time, as a camera serves its one viewer: a client that reconnects has
  // closed the connection before, and that ends its service.
  void Accept() {
    while (!stop_) {
      const int fd = Readable(listener_) ? accept(listener_, nullptr, nullptr) : -1;
      if (fd < 0) continue;
      ++connections_;
      const timeval timeout{0, kWaitMs * 1000};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      // The request up to its blank line comes first, as an HTTP server reads it before it
      // answers; after the stream, what the client sends is read and dropped until it closes.
      if (ReadUntil(fd, "\r\n\r\n") && SendStream(fd)) ReadUntil(fd, "");
      close(fd);
    }
  }

  // Reads what the client sends until `end` has come: false when the client closes or the server
  // stops first. An empty `end` never comes, and nothing is kept.
  bool ReadUntil(int fd, std::string_view end) {
    std::string got;
    char buffer[4096];
    while (!stop_ && (end.empty() || got.find(end) == std::string::npos)) {
      if (!Readable(fd)) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      if (!end.empty()) got.append(buffer, n);
    }
    return !stop_;
  }

  // False once the client has gone or the server stops. Paced pieces go out one repeat a write,
  // the others many repeats at a time, about 64 KiB a write.
  bool SendStream(int fd) {
    for (const StreamPiece& piece : stream_) {
      const bool paced = piece.pace.count() > 0;
      const int64_t per_write = std::min(
          paced ? 1 : std::max<int64_t>(1, 65'536 / std::ssize(piece.bytes)), piece.repeats);
      std::string batch;
      for (int64_t i = 0; i < per_write; ++i) batch += piece.bytes;
      auto due = std::chrono::steady_clock::now();
      for (int64_t left = piece.repeats; left > 0; left -= per_write, due += piece.pace) {
        while (!stop_ && std::chrono::steady_clock::now() < due)
          std::this_thread::sleep_for(std::chrono::milliseconds(1));
        const size_t size = std::min(left, per_write) * piece.bytes.size();
        if (!SendAll(fd, std::string_view(batch).substr(0, size))) return false;
        paced_sent_ += paced;
      }
    }
    return true;
  }

  // A send that times out comes back to look at stop_, then tries again.
  bool SendAll(int fd, std::string_view bytes) {
    for (ssize_t n = 0; !bytes.empty(); bytes.remove_prefix(std::max<ssize_t>(n, 0))) {
      n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (stop_ || (n < 0 && errno != EAGAIN && errno != EINTR)) return false;
    }
    return true;
  }

  const std::vector<StreamPiece> stream_;
  int listener_ = socket(AF_INET, SOCK_STREAM, 0);
  std::atomic<bool> stop_{false};
  std::atomic<int> connections_{0};
  std::atomic<int64_t> paced_sent_{0};
  std::thread acceptor_;
};

}  // namespace ravelon::testing
