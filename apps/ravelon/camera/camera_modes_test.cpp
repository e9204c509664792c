// The test camera's response styles at the wire, read with a plain socket:
// the exact heads of each mode, chunked bodies that de-chunk to the parts an
// unchunked stream carries, Digest credentials over real connections, and
// the counters a test of the engine reads.
#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "camera/camera_limits.h"
#include "camera/digest_guard.h"
#include "camera/test_camera.h"
#include "tests/loopback_client.h"
#include "tests/multipart_reading.h"

namespace ravelon::cli {
namespace {

using testing::Dechunked;
using testing::Escaped;
using testing::Exchange;
using testing::IsJpeg;
using testing::Part;
using testing::SplitParts;

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

TEST(CameraModesTest, ChunkedBodiesCarryTheSameParts) {
  struct Case {
    const char* name;
    bool chunked;
    int chunk_size;
    bool single;
  };
  const Case cases[] = {
      {"unchunked stream", false, 0, false}, {"cycled sizes", true, 0, false},
      {"one-byte chunks", true, 1, false},   {"large chunks", true, 100000, false},
      {"unchunked image", false, 0, true},   {"chunked image", true, 0, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    CameraOptions options = Small();
    options.chunked = c.chunked;
    options.chunk_size = c.chunk_size;
    options.single = c.single;
    options.text_every = 1;
    TestCamera camera(options);
    camera.Start();
    const testing::Received got = Exchange(
        camera.Port(), kHttpRequest, c.single ? SIZE_MAX : 12000 * (c.chunk_size == 1 ? 6 : 1));
    camera.Stop();
    const size_t head_end = got.bytes.find("\r\n\r\n");
    ASSERT_NE(head_end, std::string::npos);
    const std::string raw = got.bytes.substr(head_end + 4);
    const Dechunked body = c.chunked ? testing::Dechunk(raw) : Dechunked{raw, got.closed};
    ASSERT_TRUE(body.ok) << Escaped(raw.substr(0, 300));
    if (c.single) {  // the image and the CRLF after it, then the end of the body
      EXPECT_TRUE(body.ended && got.closed);
      EXPECT_TRUE(body.content.ends_with("\r\n") &&
                  IsJpeg(body.content.substr(0, body.content.size() - 2)));
      continue;
    }
    EXPECT_TRUE(body.content.starts_with(kFirstBoundary));
    const std::vector<Part> parts = SplitParts(body.content, kBoundary);
    ASSERT_GE(parts.size(), 6u) << Escaped(body.content.substr(0, 300));
    for (size_t i = 0; i < parts.size(); ++i) {
      EXPECT_EQ(parts[i].head, std::string("Content-Type: ") +
                                   (i % 2 == 0 ? "image/jpeg" : "text/plain") +
                                   "\r\nContent-Length: " + std::to_string(parts[i].body.size()));
      EXPECT_TRUE(i % 2 == 1 || IsJpeg(parts[i].body)) << i;
    }
    if (c.chunked && c.chunk_size == 0) {
      // Extensions, and a size in upper-case hex (the 12th chunk's).
      for (const char* extension :
           {";ravelon=1\r\n", ";ravelon=\"a; b\"\r\n", ";ravelon\r\n", "\r\nC\r\n"}) {
        EXPECT_NE(raw.find(extension), std::string::npos) << extension;
      }
    }
  }
}

TEST(CameraModesTest, ChunkedStreamEndsWithTheLastChunkOnClose) {
  CameraOptions options = Small();
  options.chunked = true;
  options.fault = FaultMode::kClose;
  options.fault_after = 2;
  TestCamera camera(options);
  camera.Start();
  const testing::Received got = Exchange(camera.Port(), kBareRequest, SIZE_MAX);
  const std::string raw = got.bytes.substr(got.bytes.find("\r\n\r\n") + 4);
  const Dechunked body = testing::Dechunk(raw);
  EXPECT_TRUE(got.closed && body.ok && body.ended);
  EXPECT_TRUE(raw.ends_with("\r\n0\r\nX-Ravelon-End: 1\r\n\r\n"))
      << Escaped(raw.substr(raw.size() - 40));
  EXPECT_EQ(SplitParts(body.content + kFirstBoundary, kBoundary).size(), 2u);
}

// A client's Digest answer to the challenge in `response`.
std::string DigestAnswer(const std::string& response, bool sha256, const std::string& password,
                         const std::string& nc) {
  const auto field = [&response](const std::string& name) {
    const size_t at = response.find(name + "=\"") + name.size() + 2;
    return response.substr(at, response.find('"', at) - at);
  };
  // The guard's hash, checked against RFC 7616's examples in digest_guard_test.cpp.
  DigestSettings settings;
  settings.sha256 = sha256;
  const DigestGuard hasher(settings, nullptr);
  const auto hash = [&hasher](const std::string& text) { return hasher.Hash(text); };
  const std::string realm = field("realm"), nonce = field("nonce");
  const std::string key = hash("op:" + realm + ":" + password);
  const std::string answer = hash(key + ":" + nonce + ":" + nc + ":c1:auth:" + hash("GET:/video"));
  return "GET /video HTTP/1.1\r\nAuthorization: Digest username=\"op\", realm=\"" + realm +
         "\", nonce=\"" + nonce + "\", uri=\"/video\", qop=auth, nc=" + nc +
         ", cnonce=\"c1\", response=\"" + answer + "\", opaque=\"" + field("opaque") +
         "\", algorithm=" + (sha256 ? "SHA-256" : "MD5") + "\r\n\r\n";
}

TEST(CameraModesTest, DigestCredentialsOverTheWire) {
  for (const bool sha256 : {false, true}) {
    SCOPED_TRACE(sha256 ? "SHA-256" : "MD5");
    CameraOptions options = Small();
    options.user = "op";
    options.password = "s3cret";
    options.auth = sha256 ? AuthScheme::kDigestSha256 : AuthScheme::kDigestMd5;
    options.nonce_uses = 2;
    TestCamera camera(options);
    camera.Start();
    const std::string challenge = Exchange(camera.Port(), kHttpRequest, SIZE_MAX).bytes;
    EXPECT_NE(challenge.find(sha256 ? "algorithm=SHA-256" : "algorithm=MD5"), std::string::npos);
    EXPECT_NE(challenge.find("qop=\"auth\""), std::string::npos) << challenge;
    struct Step {
      const char* what;
      std::string password, nc;
      std::string starts;
    };
    const Step steps[] = {
        {"wrong password", "secret", "00000001", "HTTP/1.0 401 Unauthorized\r\n"},
        {"right", "s3cret", "00000001", "HTTP/1.0 200 OK\r\n"},
        {"right again", "s3cret", "00000002", "HTTP/1.0 200 OK\r\n"},
        {"the nonce used up", "s3cret", "00000003", "HTTP/1.0 401 Unauthorized\r\n"},
    };
    std::string last;
    for (const Step& step : steps) {
      last = Exchange(camera.Port(), DigestAnswer(challenge, sha256, step.password, step.nc), 200)
                 .bytes;
      EXPECT_TRUE(last.starts_with(step.starts)) << step.what << ": " << Escaped(last);
    }
    EXPECT_NE(last.find(", stale=true"), std::string::npos) << last;
    EXPECT_EQ(Exchange(camera.Port(), DigestAnswer(last, sha256, "s3cret", "00000001"), 200)
                  .bytes.substr(0, 17),
              "HTTP/1.0 200 OK\r\n")
        << "the fresh nonce serves";
    camera.Stop();
    EXPECT_EQ(camera.Responses(401), 3u);
    EXPECT_EQ(camera.StaleChallenges(), 1u);
    EXPECT_EQ(camera.Responses(200), 3u);
  }
}

}  // namespace
}  // namespace ravelon::cli
