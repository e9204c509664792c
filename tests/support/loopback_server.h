// A TCP server on 127.0.0.1 for end-to-end tests, driven from the test's own
// loop thread: Poll() accepts waiting clients and reads what they sent,
// without blocking. No threads, so no locks.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
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

  void Poll() {
    for (int fd; (fd = accept4(listener_, nullptr, nullptr, SOCK_NONBLOCK)) >= 0;) {
      ++accepted_;
      // Closing "at once" sends the end of the stream; the descriptor stays
      // open to take the request, so the client sees a close, not a reset.
      if (close_on_accept_) shutdown(fd, SHUT_WR);
      clients_.push_back(fd);
    }
    char buffer[4096];
    for (int fd : clients_) {
      for (ssize_t n; (n = recv(fd, buffer, sizeof buffer, 0)) > 0;) received_.append(buffer, n);
    }
  }

  void Send(const std::string& bytes) {
    for (int fd : clients_) send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
  }

  void CloseClients() {
    for (int fd : clients_) close(fd);
    clients_.clear();
  }

  // Stops listening: later connects to the port are refused.
  void StopListening() {
    close(listener_);
    listener_ = -1;
  }

 private:
  int listener_ = -1;
  int port_ = 0;
  int accepted_ = 0;
  bool close_on_accept_ = false;
  std::vector<int> clients_;
  std::string received_;
};

}  // namespace ravelon::testing
