// A TCP server on 127.0.0.1 for end-to-end tests, driven from the test's own
// loop thread: Poll() accepts waiting clients, reads what they sent and
// writes queued output, without blocking. No threads, so no locks.
//
// Large amounts go through Queue: each client has its own output queue, and
// every Poll writes as much of it as the socket takes. A responder answers
// each client's request (once its blank line has arrived) with a reply of its
// own and then closes that client's sending side, as a single-response
// source does.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <functional>
#include <string>
#include <vector>

namespace ravelon::testing {

class LoopbackServer {
 public:
  LoopbackServer() {
    listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    listen(listener_, 16);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
  }
  ~LoopbackServer() {
    CloseClients();
    if (listener_ >= 0) close(listener_);
  }
  LoopbackServer(const LoopbackServer&) = delete;
  LoopbackServer& operator=(const LoopbackServer&) = delete;

  int port() const { return port_; }
  int accepted() const { return accepted_; }
  // Everything received, on all connections, in arrival order.
  const std::string& received() const { return received_; }

  // Accepted clients are closed at once (their sending side) when set.
  void set_close_on_accept(bool value) { close_on_accept_ = value; }

  // Each client's reply to its request: `reply(n)` for the n-th accepted
  // client (from 0), after which its sending side closes.
  void set_responder(std::function<std::string(int)> reply) { reply_ = std::move(reply); }

  void Poll() {
    for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      // Closing "at once" sends the end of the stream; the descriptor stays
      // open to take the request, so the client sees a close, not a reset.
      if (close_on_accept_) shutdown(fd, SHUT_WR);
      clients_.push_back(Client{.fd = fd, .index = accepted_++, .request = {}, .output = {}});
    }
    char buffer[4096];
    for (Client& c : clients_) {
      for (ssize_t n; (n = recv(c.fd, buffer, sizeof buffer, 0)) > 0;) {
        received_.append(buffer, n);
        c.request.append(buffer, n);
      }
      if (reply_ && !c.replied && c.request.find("\r\n\r\n") != std::string::npos) {
        c.replied = c.close_when_sent = true;
        c.output += reply_(c.index);
      }
      Flush(c);
    }
  }

  void Send(const std::string& bytes) {
    for (const Client& c : clients_) send(c.fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  // Queues `bytes` for every client connected now; Poll writes them.
  void Queue(const std::string& bytes) {
    for (Client& c : clients_) {
      c.output += bytes;
      Flush(c);
    }
  }

  // Bytes queued and not yet written, over all clients.
  size_t unsent() const {
    size_t n = 0;
    for (const Client& c : clients_) n += c.output.size() - c.written;
    return n;
  }

  void CloseClients() {
    for (const Client& c : clients_) close(c.fd);
    clients_.clear();
  }

  // Stops listening: later connects to the port are refused.
  void StopListening() {
    close(listener_);
    listener_ = -1;
  }

 private:
  struct Client {
    int fd;
    int index;
    std::string request;
    std::string output;
    size_t written = 0;
    bool replied = false;
    bool close_when_sent = false;
  };

  static void Flush(Client& c) {
    while (c.written < c.output.size()) {
      const ssize_t n =
          send(c.fd, c.output.data() + c.written, c.output.size() - c.written, MSG_NOSIGNAL);
      if (n <= 0) return;  // the socket is full (or broken); the next Poll goes on
      c.written += static_cast<size_t>(n);
    }
    c.output.clear();
    c.written = 0;
    if (c.close_when_sent) {
      shutdown(c.fd, SHUT_WR);
      c.close_when_sent = false;
    }
  }

  int listener_ = -1;
  int port_ = 0;
  int accepted_ = 0;
  bool close_on_accept_ = false;
  std::vector<Client> clients_;
  std::string received_;
  std::function<std::string(int)> reply_;
};

}  // namespace ravelon::testing
