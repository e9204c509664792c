// The test camera's response styles at the wire, read with a plain socket:
// the exact heads of each mode and the counters a test of the engine reads.
// What the bodies carry (chunked, Digest-guarded) is checked by recording
// every mode with an engine (camera_engine_test.cpp).
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "camera/camera_limits.h"
#include "camera/test_camera.h"
#include "tests/loopback_client.h"

namespace ravelon::cli {
namespace {

using testing::Escaped;
using testing::Exchange;

constexpr char kBareRequest[] = "GET /video\r\n\r\n";
constexpr char kHttpRequest[] = "GET /video HTTP/1.0\r\n\r\n";
const std::string kFirstBoundary = "--" + std::string(kBoundary) + "\r\n";

CameraOptions Small() { return {.port = 0, .fps = 50, .width = 32, .height = 24}; }

TEST(CameraModesTest, SendsTheHeadsOfEachMode) {
  struct Case {
    const char* name;
    std::function<void(CameraOptions&)> set;
    std::string request;
    std::string starts;  // the response's first bytes
    bool whole;          // `starts` is the whole response, and the camera closes after it
    int status;          // the response counted
  };
  const std::string multipart = "multipart/x-mixed-replace; boundary=" + std::string(kBoundary);
  const Case cases[] = {
      {"multipart", [](CameraOptions&) {}, kBareRequest,
       "HTTP/1.0 200 OK\r\nContent-Type: " + multipart + "\r\n\r\n" + kFirstBoundary +
           "Content-Type: image/jpeg\r\nContent-Length: ",
       false, 200},
      {"octet-stream", [](CameraOptions& o) { o.header = HeaderStyle::kOctetStream; }, kBareRequest,
       "HTTP/1.0 200 OK\r\nContent-Type: application/octet-stream\r\n\r\n" + kFirstBoundary, false,
       200},
      {"no head", [](CameraOptions& o) { o.header = HeaderStyle::kNone; }, kBareRequest,
       kFirstBoundary + "Content-Type: image/jpeg\r\n", false, 200},
      {"no head, blank line",
       [](CameraOptions& o) { o.header = HeaderStyle::kNone, o.blank_before_boundary = true; },
       kBareRequest, "\r\n" + kFirstBoundary, false, 200},
      {"odd header case", [](CameraOptions& o) { o.odd_header_case = true; }, kBareRequest,
       "HTTP/1.0 200 OK\r\ncontent-TYPE:   multipart/x-mixed-replace ;   boundary=" +
           std::string(kBoundary) + "  \r\n\r\n" + kFirstBoundary +
           "content-TYPE:   image/jpeg  \r\ncontent-LENGTH:   ",
       false, 200},
      {"chunked, cycled sizes", [](CameraOptions& o) { o.chunked = true; }, kBareRequest,
       "HTTP/1.1 200 OK\r\nConnection: close\r\nContent-Type: " + multipart +
           "\r\nTransfer-Encoding: chunked\r\n\r\n1\r\n-\r\n2\r\n-r\r\n3\r\nave\r\n4\r\nlon-\r\n"
           "5;ravelon=1\r\ntest-\r\n",
       false, 200},
      {"chunked, fixed size", [](CameraOptions& o) { o.chunked = true, o.chunk_size = 6; },
       kBareRequest, "Transfer-Encoding: chunked\r\n\r\n6\r\n--rave\r\n6\r\nlon-te\r\n", false,
       200},
      {"Digest without credentials", [](CameraOptions& o) { o.auth = AuthScheme::kDigestMd5; },
       kBareRequest, "HTTP/1.0 200 OK\r\n", false, 200},
      {"HTTP only, bare request", [](CameraOptions& o) { o.http_only = true; }, kBareRequest,
       "HTTP/1.0 400 Bad Request\r\nContent-Length: 0\r\n\r\n", true, 400},
      {"HTTP only, HTTP request", [](CameraOptions& o) { o.http_only = true; }, kHttpRequest,
       "HTTP/1.0 200 OK\r\n", false, 200},
      {"reply 404", [](CameraOptions& o) { o.reply_status = 404; }, kHttpRequest,
       "HTTP/1.0 404 Not Found\r\nContent-Length: 0\r\n\r\n", true, 404},
      {"reply 401, odd case",
       [](CameraOptions& o) { o.reply_status = 401, o.odd_header_case = true; }, kBareRequest,
       "HTTP/1.0 401 Unauthorized\r\nwww-AUTHENTICATE:   Basic realm=\"ravelon test camera\"  "
       "\r\ncontent-LENGTH:   0  \r\n\r\n",
       true, 401},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraOptions options = Small();
    c.set(options);
    TestCamera camera(options);
    camera.Start();
    const testing::Received got = Exchange(camera.Port(), c.request, c.whole ? SIZE_MAX : 400);
    if (c.whole) {
      EXPECT_EQ(Escaped(got.bytes), Escaped(c.starts));
      EXPECT_TRUE(got.closed);
    } else {
      // A chunked head is checked from its framing on.
      const size_t from = c.starts.starts_with("Transfer") ? got.bytes.find("Transfer") : 0;
      EXPECT_EQ(Escaped(got.bytes.substr(from == std::string::npos ? 0 : from, c.starts.size())),
                Escaped(c.starts));
    }
    camera.Stop();
    EXPECT_EQ(camera.RequestsSeen(), 1u);
    EXPECT_EQ(camera.Responses(c.status), 1u);
  }
}

}  // namespace
}  // namespace ravelon::cli
