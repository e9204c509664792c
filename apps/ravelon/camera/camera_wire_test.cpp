// The camera's side of the wire, without sockets: reading request heads,
// checking credentials, the bytes of an event list, and its pictures: JPEGs
// of the asked size whose bytes change with every frame, at the smallest, odd
// and largest sizes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <tuple>

#include "camera/camera_options.h"
#include "camera/frame_maker.h"
#include "camera/local_stamp.h"
#include "camera/part_writer.h"
#include "camera/request_head.h"
#include "store/jpeg_codec.h"

namespace ravelon::cli {
namespace {

TEST(RequestHeadTest, FindsTheEndOfTheHead) {
  // Bytes received, the head's size limit, the verdict, the head's size when complete.
  const std::tuple<std::string, size_t, HeadStatus, size_t> cases[] = {
      {"GET /video\r\n\r\n", 64, HeadStatus::kComplete, 14},
      {"GET /v\r\nAuthorization: Basic eDp5\r\n\r\nmore", 64, HeadStatus::kComplete, 37},
      {"GET / HTTP/1.1\nHost: h\n\n", 64, HeadStatus::kComplete, 24},
      {"GET /video\r\n\r", 64, HeadStatus::kIncomplete, 0},
      {"GET /0123456789\r\n\r\n", 19, HeadStatus::kComplete, 19},  // exactly the limit
      {"GET /0123456789\r\n\r\n", 18, HeadStatus::kTooLarge, 0},   // one byte over
      {std::string(18, 'a'), 18, HeadStatus::kTooLarge, 0},
      {std::string(17, 'a'), 18, HeadStatus::kIncomplete, 0},
  };
  for (const auto& [received, limit, status, size] : cases) {
    size_t head_size = 0;
    EXPECT_EQ(FindHeadEnd(received, limit, head_size), status) << received;
    EXPECT_EQ(status == HeadStatus::kComplete ? head_size : 0, size) << received;
  }
}

TEST(RequestHeadTest, ParsesTheEnginesAndHttpRequests) {
  // A head and what is read from it: method, path, version and authorization; "" when refused.
  const std::pair<std::string, std::string> cases[] = {
      {"GET /video\r\nAuthorization: Basic dTpw\r\n\r\n", "GET /video |Basic dTpw"},
      {"GET /a?b=1 HTTP/1.1\r\nHost: h\r\nauthorization:   basic QQ==  \r\n\r\n",
       "GET /a?b=1 HTTP/1.1|basic QQ=="},
      {"GET /x HTTP/1.0\n\n", "GET /x HTTP/1.0|"},
      {"GET\r\n\r\n", ""},
      {"GET /x FTP/1.0\r\n\r\n", ""},
      {"GET /x HTTP/1.0 more\r\n\r\n", ""},
      {"GET /x\r\nno colon\r\n\r\n", ""},
      {"\r\n", ""},
  };
  for (const auto& [head, read] : cases) {
    RequestHead r;
    const bool ok = ParseRequestHead(head, r);
    EXPECT_EQ(ok ? r.method + " " + r.path + " " + r.version + "|" + r.authorization : "", read)
        << head;
  }
}

TEST(RequestHeadTest, ChecksBasicCredentials) {
  // An Authorization header, the camera's user and password, whether they match.
  const std::tuple<std::string, std::string, std::string, bool> cases[] = {
      {"", "", "", true},
      {"Basic b3A6czNjcmV0", "op", "s3cret", true},
      {"basic  b3A6czNjcmV0", "op", "s3cret", true},
      {"Basic b3A6czNjcmV0Ong=", "op", "s3cret:x", true},  // the first ':' splits
      {"Basic OnB3", "", "pw", true},
      {"Basic b3A6czNjcmV0", "op", "s3creT", false},
      {"", "op", "s3cret", false},
      {"Bearer b3A6czNjcmV0", "op", "s3cret", false},
      {"Basicb3A6czNjcmV0", "op", "s3cret", false},
  };
  for (const auto& [authorization, user, password, ok] : cases)
    EXPECT_EQ(Authorized(authorization, user, password), ok) << authorization;
  // RFC 4648's examples: the prefixes of "foobar".
  const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < 7; ++n) EXPECT_EQ(Base64(std::string("foobar", n)), encoded[n]) << n;
  EXPECT_EQ(Base64("\xFF\xFE"), "//4=");
}

// Read back: the engine refuses a list whose lengths are off, and re-times
// it by its last event.
TEST(PartWriterTest, EventListHoldsTwoEventsASecondApart) {
  const std::tuple<LocalStamp, double, double> cases[] = {
      // now, the first event's days and seconds
      {{2024, 5, 1, 12, 0, 0, 500}, 45413, 43199.5},
      {{2024, 5, 1, 0, 0, 0, 250}, 45412, 86399.25},  // a second before, the day before
  };
  for (const auto& [stamp, days, seconds] : cases) {
    const std::string body = EventListBody(7, stamp);
    // Little-endian numbers, as the host's.
    const auto at = [&body](size_t offset, auto value) {
      std::memcpy(&value, body.data() + offset, sizeof value);
      return value;
    };
    const size_t second = 4 + at(0, uint32_t{});
    ASSERT_EQ(at(second, uint32_t{}), body.size() - second - 4);
    EXPECT_EQ(body.substr(20, second - 20) + "|" + body.substr(second + 20),
              "DOOR OPEN 7|DOOR CLOSED 7");
    EXPECT_EQ(std::tuple(at(4, 0.0), at(12, 0.0), at(second + 4, 0.0), at(second + 12, 0.0)),
              std::tuple(days, seconds, stamp.Days(), stamp.Seconds()));
  }
}

TEST(CameraOptionsTest, ReadsFrameSizes) {
  const std::pair<const char*, int> cases[] = {
      {"640x480", 640 * 480}, {"16X16", 16 * 16}, {"640", 0},    {"640x", 0},      {"x480", 0},
      {" 640x480", 0},        {"+640x480", 0},    {"-16x16", 0}, {"640x480x3", 0}, {"100000x1", 0},
  };
  for (const auto& [text, area] : cases) {
    int width = 0, height = 0;
    EXPECT_EQ(ParseFrameSize(text, width, height), area != 0) << text;
    EXPECT_EQ(width * height, area) << text;
  }
}

TEST(FrameMakerTest, MakesJpegsOfTheSizeThatChangeEveryFrame) {
  const std::pair<int, int> sizes[] = {{16, 16}, {17, 31}, {640, 480}, {4096, 24}, {24, 4096}};
  for (const auto& [width, height] : sizes) {
    FrameMaker maker(width, height);
    std::string previous;
    for (uint64_t number : {1u, 2u, 3u, 1'000'000u}) {
      const std::string jpeg(maker.Make(number, FrameLabel(number, LocalStamp{})));
      int w = 0, h = 0;
      std::string error;
      EXPECT_TRUE(JpegCodec().ReadSize(jpeg, w, h, error) && jpeg.ends_with("\xFF\xD9")) << error;
      EXPECT_EQ(std::tuple(w, h, jpeg == previous), std::tuple(width, height, false))
          << width << "x" << height << ", frame " << number;
      previous = jpeg;
    }
  }
}

}  // namespace
}  // namespace ravelon::cli
