// A plain TCP client for wire-level tests of servers on 127.0.0.1: it sends
// a request as given and collects the answer until the server closes, enough
// bytes have come, or a deadline passes. Blocking POSIX sockets with poll;
// one test, one thread.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace ravelon::cli::testing {

struct Received {
  std::string bytes;
  bool closed = false;  // the server closed the connection
};

// Connects to 127.0.0.1:`port`, sends `request` and reads until the server
// closes, at least `enough` bytes have come, or `limit` passes.
inline Received Exchange(int port, const std::string& request, size_t enough,
                         std::chrono::milliseconds limit = std::chrono::seconds(10)) {
  Received received;
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return received;
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
      ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) !=
          static_cast<ssize_t>(request.size())) {
    ::close(fd);
    return received;
  }
  const auto end = std::chrono::steady_clock::now() + limit;
  while (received.bytes.size() < enough) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        end - std::chrono::steady_clock::now());
    pollfd ready{fd, POLLIN, 0};
    if (left.count() <= 0 || ::poll(&ready, 1, static_cast<int>(left.count())) <= 0) break;
    char buffer[65536];
    const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) {
      received.closed = true;
      break;
    }
    received.bytes.append(buffer, static_cast<size_t>(n));
  }
  ::close(fd);
  return received;
}

// `bytes` with CR, LF, backslash and bytes outside printable ASCII escaped
// ("\r", "\n", "\\", "\xff"), for messages.
inline std::string Escaped(const std::string& bytes) {
  std::string out;
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02x", byte);
    out += c == '\r'                     ? "\\r"
           : c == '\n'                   ? "\\n"
           : c == '\\'                   ? "\\\\"
           : byte < 0x20 || byte >= 0x7F ? hex
                                         : std::string(1, c);
  }
  return out;
}

}  // namespace ravelon::cli::testing
