// A listening TCP socket on a free port of 127.0.0.1 for end-to-end tests. Nothing is accepted:
// a test takes its port as a free one, for a peer to listen on once this socket is gone.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdint>

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
  ~LoopbackServer() { close(listener_); }

  int port = 0;

 private:
  int listener_ = socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK, 0);
};

}  // namespace ravelon::testing
