// The least that any reader of a stream pays to bring its bytes into user
// space: it connects, sends a GET, and reads into one 128 KiB buffer until the
// server closes, looking at nothing. ingest_peers_bench.py runs it beside the
// engine and the peer tools as the floor of their CPU per GB; it prints the
// bytes it read, the response head included.
//
//   read_floor_bench PORT [PATH]
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: read_floor_bench PORT [PATH]\n");
    return 2;
  }
  const int port = std::atoi(argv[1]);
  const std::string request =
      std::string("GET ") + (argc > 2 ? argv[2] : "/") + " HTTP/1.1\r\nHost: 127.0.0.1\r\n\r\n";
  const int s = ::socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s < 0 || ::connect(s, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 ||
      ::send(s, request.data(), request.size(), 0) != static_cast<ssize_t>(request.size())) {
    std::perror("read_floor_bench");
    return 1;
  }
  std::vector<char> buffer(128 * 1024);
  long long total = 0;
  ssize_t n;
  while ((n = ::recv(s, buffer.data(), buffer.size(), 0)) > 0) total += n;
  ::close(s);
  std::printf("%lld\n", total);
  return n == 0 ? 0 : 1;
}
