// A TCP server on 127.0.0.1 for end-to-end tests, driven from the test's own loop thread: Poll()
// accepts waiting clients, reads what they sent and writes as much of their queued output as the
// sockets take, without blocking. No threads, so no locks.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace ravelon::testing {

class LoopbackServer {
 public:
  LoopbackServer() {
    sockaddr_in address{
        .sin_family = AF_INET, .sin_port = 0, .sin_addr = {htonl(INADDR_LOOPBACK)}, .sin_zero = {}};
    socklen_t length = sizeof address;
    bind(listener_, reinterpret_cast<sockaddr*>(&address), length);
    listen(listener_, 16);
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    for (const Client& c : clients_) close(c.fd);
    if (listener_ >= 0) close(listener_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  int accepted() const { return static_cast<int>(clients_.size()); }
  // Everything received, on all connections, in arrival order.
  const std::string& received() const { return received_; }
  // When set, each client's sending side closes as soon as it is accepted.
  void set_close_on_accept(bool value) { close_on_accept_ = value; }
  // The n-th client accepted (from 0) gets `reply(n)` once its request's blank line has arrived,
  // and then its sending side closes, as a single-response source does.
  void set_responder(std::function<std::string(int)> reply) { reply_ = std::move(reply); }
  // Queues `bytes` for every client connected now; Poll writes them.
  void Queue(const std::string& bytes) {
    for (Client& c : clients_) c.output += bytes;
  }
  // Bytes queued and not yet written, over all clients.
  size_t unsent() const {
    size_t n = 0;
    for (const Client& c : clients_) n += c.output.size() - c.written;
    return n;
  }
  // Later connects to the port are refused.
  void StopListening() { close(std::exchange(listener_, -1)); }

  void Poll() {
    for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      // The descriptor stays open to take the request, so the client sees a close, not a reset.
      if (close_on_accept_) shutdown(fd, SHUT_WR);
      clients_.emplace_back(fd);
    }
    char buffer[4096];
    for (size_t i = 0; i < clients_.size(); ++i) {
      Client& c = clients_[i];
      for (ssize_t n; (n = recv(c.fd, buffer, sizeof buffer, 0)) > 0;) {
        received_.append(buffer, n);
        c.request.append(buffer, n);
      }
      if (reply_ && !c.replied && c.request.find("\r\n\r\n") != std::string::npos) {
        c.replied = true;
        c.output += reply_(static_cast<int>(i));
      }
      for (ssize_t n = 1; n > 0 && c.written < c.output.size();) {
        n = send(c.fd, c.output.data() + c.written, c.output.size() - c.written, MSG_NOSIGNAL);
        c.written += n > 0 ? static_cast<size_t>(n) : 0;  // else full (or broken): Poll again
      }
      if (c.replied && c.written == c.output.size()) shutdown(c.fd, SHUT_WR);
    }
  }

 private:
  struct Client {
    explicit Client(int socket) : fd(socket) {}
    int fd;
    std::string request, output;
    size_t written = 0;
    bool replied = false;
  };

  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
  int port_ = 0;
  bool close_on_accept_ = false;
  std::vector<Client> clients_;
  std::string received_;
  std::function<std::string(int)> reply_;
};

}  // namespace ravelon::testing
