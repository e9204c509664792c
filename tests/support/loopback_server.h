// A TCP server on 127.0.0.1 for end-to-end tests, driven from the test's own loop thread: Poll()
// accepts waiting clients, reads what they sent and writes as much of their queued output as the
// sockets take, without blocking. No threads, so no locks.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

namespace ravelon::testing {

// Makes `listener` listen on a free port of 127.0.0.1; returns the port.
inline uint16_t ListenOnLoopback(int listener) {
  sockaddr_in address{
      .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
  socklen_t length = sizeof address;
  bind(listener, reinterpret_cast<sockaddr*>(&address), length);
  listen(listener, 16);
  getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length);
  return ntohs(address.sin_port);
}

class LoopbackServer {
 public:
  LoopbackServer() { port = ListenOnLoopback(listener_); }
  ~LoopbackServer() {
    for (const Client& c : clients_) close(c.fd);
    close(listener_);
  }

  // Queues `bytes` for every client connected now; Poll writes them.
  void Queue(const std::string& bytes) {
    for (Client& c : clients_) c.output += bytes;
  }

  void Poll() {
    for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      // The descriptor stays open to take the request, so the client sees a close, not a reset.
      if (close_on_accept) shutdown(fd, SHUT_WR);
      clients_.push_back({fd, "", 0});
    }
    char buffer[4096];
    for (Client& c : clients_) {
      for (ssize_t n; (n = recv(c.fd, buffer, sizeof buffer, 0)) > 0;) received.append(buffer, n);
      const char* out = c.output.data();  // as much as the socket takes; the rest on a later Poll
      for (ssize_t n = 1; n > 0 && c.written < c.output.size(); c.written += n)
        n = std::max<ssize_t>(
            0, send(c.fd, out + c.written, c.output.size() - c.written, MSG_NOSIGNAL));
    }
  }

  int port = 0;
  bool close_on_accept = false;  // each client's sending side closes as soon as it is accepted
  std::string received;          // everything received, on all connections, in arrival order

 private:
  struct Client {
    int fd;
    std::string output;
    size_t written = 0;
  };
  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  std::vector<Client> clients_;
};

}  // namespace ravelon::testing
