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

  // One connection at a time, as a camera serves its one viewer: a client that reconnects has
  // closed the connection before, and that ends its service.
  void Accept() {
    while (!stop_) {
      pollfd waiting{listener_, POLLIN, 0};
      if (poll(&waiting, 1, kWaitMs) <= 0) continue;
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      ++connections_;
      const timeval timeout{0, kWaitMs * 1000};
      setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
      Serve(fd);
      close(fd);
    }
  }

  void Serve(int fd) {
    if (!AwaitRequest(fd)) return;
    for (const StreamPiece& piece : stream_) {
      if (piece.pace.count() > 0) {
        auto due = std::chrono::steady_clock::now();
        for (int64_t i = 0; i < piece.repeats; ++i, ++paced_sent_, due += piece.pace) {
          while (!stop_ && std::chrono::steady_clock::now() < due) {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
          if (!SendAll(fd, piece.bytes)) return;
        }
        continue;
      }
      // Small pieces go out many repeats at a time, about 64 KiB a write.
      const int64_t per_write = std::max<int64_t>(1, 65'536 / std::ssize(piece.bytes));
      std::string batch;
      for (int64_t left = piece.repeats; left > 0; left -= per_write) {
        const int64_t n = std::min(left, per_write);
        if (std::ssize(batch) != n * std::ssize(piece.bytes)) {
          batch.clear();
          for (int64_t i = 0; i < n; ++i) batch += piece.bytes;
        }
        if (!SendAll(fd, batch)) return;
      }
    }
    // Silent until the client closes; what it sends is read and dropped.
    char ignored[4096];
    while (!stop_) {
      pollfd readable{fd, POLLIN, 0};
      if (poll(&readable, 1, kWaitMs) > 0 && recv(fd, ignored, sizeof ignored, 0) <= 0) return;
    }
  }

  // Reads the client's request up to its blank line, as an HTTP server does before it answers.
  bool AwaitRequest(int fd) {
    std::string request;
    char buffer[4096];
    while (!stop_ && request.find("\r\n\r\n") == std::string::npos) {
      pollfd readable{fd, POLLIN, 0};
      if (poll(&readable, 1, kWaitMs) <= 0) continue;
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) return false;
      request.append(buffer, n);
    }
    return !stop_;
  }

  // False once the client has gone or the server stops.
  bool SendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
      if (stop_) return false;
      const ssize_t n = send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
      if (n > 0) {
        bytes.remove_prefix(n);
      } else if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
        return false;
      }
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
