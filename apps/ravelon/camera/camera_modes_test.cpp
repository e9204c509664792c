// The test camera's response styles at the wire, read with a plain socket:
// the exact heads of each mode and the counters a test of the engine reads.
// What the bodies carry (chunked, Digest-guarded) is checked by recording
// every mode with an engine (camera_engine_test.cpp).
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <functional>
#include <string>
#include <vector>

#include "camera/camera_limits.h"
#include "camera/test_camera.h"

namespace ravelon::cli {
namespace {

struct Received {
  std::string bytes;
  bool closed = false;  // the camera closed the connection
};

// Sends `request` to 127.0.0.1:`port` and reads until the camera closes, at least `enough`
// bytes have come, or a read waits 10 s.
Received Exchange(int port, const std::string& request, size_t enough) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const sockaddr_in address{.sin_family = AF_INET,
                            .sin_port = htons(static_cast<uint16_t>(port)),
                            .sin_addr = {htonl(INADDR_LOOPBACK)},
                            .sin_zero = {}};
  const timeval limit{.tv_sec = 10, .tv_usec = 0};
  ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
  // A failed connect fails the send and the first read: nothing received, not closed.
  ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
  Received received;
  char buffer[65536];
  ssize_t n = 1;
  while (received.bytes.size() < enough && (n = ::recv(fd, buffer, sizeof buffer, 0)) > 0)
    received.bytes.append(buffer, static_cast<size_t>(n));
  received.closed = n == 0;
  ::close(fd);
  return received;
}

constexpr char kBareRequest[] = "GET /video\r\n\r\n";
constexpr char kHttpRequest[] = "GET /video HTTP/1.0\r\n\r\n";
const std::string kFirstBoundary = "--" + std::string(kBoundary) + "\r\n";

CameraOptions Small() { return {.port = 0, .fps = 50, .width = 32, .height = 24}; }

TEST(CameraModesTest, SendsTheHeadsOfEachMode) {
  using O = CameraOptions;
  struct Case {
    const char* name;
    std::function<void(O&)> set;
    std::string request;
    bool whole;          // `starts` is the whole response, and the camera closes after it
    int status;          // the response counted
    std::string starts;  // the response's first bytes
  };
  const std::string multipart = "multipart/x-mixed-replace; boundary=" + std::string(kBoundary);
  const Case cases[] = {
      {"multipart", [](O&) {}, kBareRequest, false, 200,
       "HTTP/1.0 200 OK\r\nContent-Type: " + multipart + "\r\n\r\n" + kFirstBoundary +
           "Content-Type: image/jpeg\r\nContent-Length: "},
      {"octet-stream", [](O& o) { o.header = HeaderStyle::kOctetStream; }, kBareRequest, false, 200,
       "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + kFirstBoundary},
      {"no head", [](O& o) { o.header = HeaderStyle::kNone; }, kBareRequest, false, 200,
       kFirstBoundary + "Content-Type: image/jpeg\r\n"},
      {"no head, blank line",
       [](O& o) { o.header = HeaderStyle::kNone, o.blank_before_boundary = true; }, kBareRequest,
       false, 200, "\r\n" + kFirstBoundary},
      {"odd header case", [](O& o) { o.odd_header_case = true; }, kBareRequest, false, 200,
       "HTTP/1.0 200 OK\r\ncontent-TYPE:   multipart/x-mixed-replace ;   boundary=" +
           std::string(kBoundary) + "  \r\n\r\n" + kFirstBoundary +
           "content-TYPE:   image/jpeg  \r\ncontent-LENGTH:   "},
      {"chunked, cycled sizes", [](O& o) { o.chunked = true; }, kBareRequest, false, 200,
       "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: " + multipart +
           "\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n-\r\n2\r\n-r\r\n3\r\nave\r\n4\r\nlon-\r\n"
           "5;ravelon=1\r\ntest-\r\n"},
      {"chunked, fixed size", [](O& o) { o.chunked = true, o.chunk_size = 6; }, kBareRequest, false,
       200, "Transfer-Encoding: chunked\r\n\r\n6\r\n--rave\r\n6\r\nlon-te\r\n"},
      {"Digest without credentials", [](O& o) { o.auth = AuthScheme::kDigestMd5; }, kBareRequest,
       false, 200, "HTTP/1.0 200 OK\r\n"},
      {"Digest SHA-256, a user alone",
       [](O& o) { o.user = "op", o.auth = AuthScheme::kDigestSha256; }, kBareRequest, false, 401,
       "HTTP/1.0 401 Unauthorized\r\nWWW-Authenticate: Digest realm=\"ravelon test camera\", "
       "qop=\"auth\", algorithm=SHA-256, nonce=\""},
      {"HTTP only, bare request", [](O& o) { o.http_only = true; }, kBareRequest, true, 400,
       "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n"},
      {"HTTP only, HTTP request", [](O& o) { o.http_only = true; }, kHttpRequest, false, 200,
       "HTTP/1.0 200 OK\r\n"},
      {"reply 404", [](O& o) { o.reply_status = 404; }, kHttpRequest, true, 404,
       "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n"},
      {"reply 401, odd case", [](O& o) { o.reply_status = 401, o.odd_header_case = true; },
       kBareRequest, true, 401,
       "HTTP/1.0 401 Unauthorized\r\nwww-AUTHENTICATE:   Basic realm=\"ravelon test camera\"  "
       "\r\ncontent-LENGTH:   0  \r\n\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraOptions options = Small();
    c.set(options);
    TestCamera camera(options);
    camera.Start();
    const Received got = Exchange(camera.Port(), c.request, c.whole ? SIZE_MAX : 400);
    // A chunked head is checked from its framing on.
    const size_t from = c.starts.starts_with("Transfer") ? got.bytes.find("Transfer") : 0;
    EXPECT_EQ(got.bytes.substr(from == std::string::npos ? 0 : from,
                               c.whole ? std::string::npos : c.starts.size()),
              c.starts);
    EXPECT_TRUE(got.closed || !c.whole);
    camera.Stop();
    EXPECT_EQ(std::tuple(camera.RequestsSeen(), camera.Responses(c.status)), std::tuple(1u, 1u));
  }
}

// A benchmark reads the flood's bytes as a count known in advance: every
// client must get the same head and exactly N parts, at once (the 0.1 fps
// asked for would take minutes), the frames in a cycle, then a close.
TEST(CameraModesTest, FloodSendsEveryClientTheSameNParts) {
  CameraOptions options = Small();
  options.fps = 0.1, options.flood = true;
  options.fault = FaultMode::kClose, options.fault_after = kFloodFrames + 1;
  TestCamera camera(options);
  camera.Start();
  const Received first = Exchange(camera.Port(), kBareRequest, SIZE_MAX);
  const Received second = Exchange(camera.Port(), kBareRequest, SIZE_MAX);
  camera.Stop();
  EXPECT_TRUE(first.closed && second.closed);
  EXPECT_EQ(first.bytes, second.bytes);
  std::vector<std::string> parts;
  for (size_t at = first.bytes.find(kFirstBoundary); at != std::string::npos;) {
    const size_t next = first.bytes.find(kFirstBoundary, at + 1);
    parts.push_back(first.bytes.substr(at, next - at));
    at = next;
  }
  ASSERT_EQ(parts.size(), kFloodFrames + 1);
  EXPECT_NE(parts[0].find("Content-Type: image/jpeg"), std::string::npos);
  EXPECT_NE(parts[0], parts[1]);
  EXPECT_EQ(parts[kFloodFrames], parts[0]);
  EXPECT_EQ(camera.FramesServed(), 2 * (kFloodFrames + 1));
}

}  // namespace
}  // namespace ravelon::cli
