// The camera's side of the wire, without sockets: reading request heads,
// checking credentials, the bytes of an event list, and its pictures: JPEGs
// of the asked size whose bytes change with every frame, at the smallest, odd
// and largest sizes.
#include <gtest/gtest.h>

#include <bit>
#include <string>

#include "camera/camera_options.h"
#include "camera/frame_maker.h"
#include "camera/local_stamp.h"
#include "camera/part_writer.h"
#include "camera/request_head.h"
#include "store/jpeg_codec.h"

namespace ravelon::cli {
namespace {

TEST(RequestHeadTest, FindsTheEndOfTheHead) {
  struct Case {
    std::string received;
    size_t limit;
    HeadStatus status;
    size_t head_size;
  };
  const Case cases[] = {
      {"GET /video\r\n\r\n", 64, HeadStatus::kComplete, 14},
      {"GET /v\r\nAuthorization: Basic eDp5\r\n\r\nmore", 64, HeadStatus::kComplete, 37},
      {"GET / HTTP/1.1\nHost: h\n\n", 64, HeadStatus::kComplete, 24},
      {"GET /video\r\n\r", 64, HeadStatus::kIncomplete, 0},
      {"GET /0123456789\r\n\r\n", 19, HeadStatus::kComplete, 19},  // exactly the limit
      {"GET /0123456789\r\n\r\n", 18, HeadStatus::kTooLarge, 0},   // one byte over
      {std::string(18, 'a'), 18, HeadStatus::kTooLarge, 0},
      {std::string(17, 'a'), 18, HeadStatus::kIncomplete, 0},
  };
  for (const Case& c : cases) {
    size_t head_size = 0;
    EXPECT_EQ(FindHeadEnd(c.received, c.limit, head_size), c.status) << c.received;
    EXPECT_EQ(c.status == HeadStatus::kComplete ? head_size : 0, c.head_size) << c.received;
  }
}

TEST(RequestHeadTest, ParsesTheEnginesAndHttpRequests) {
  struct Case {
    std::string head;
    bool ok;
    std::string path, version, authorization;
  };
  const Case cases[] = {
      {"GET /video\r\nAuthorization: Basic dTpw\r\n\r\n", true, "/video", "", "Basic dTpw"},
      {"GET /a?b=1 HTTP/1.1\r\nHost: h\r\nauthorization:   basic QQ==  \r\n\r\n", true, "/a?b=1",
       "HTTP/1.1", "basic QQ=="},
      {"GET /x HTTP/1.0\n\n", true, "/x", "HTTP/1.0", ""},
      {"GET\r\n\r\n", false, "", "", ""},
      {"GET /x FTP/1.0\r\n\r\n", false, "", "", ""},
      {"GET /x HTTP/1.0 more\r\n\r\n", false, "", "", ""},
      {"GET /x\r\nno colon\r\n\r\n", false, "", "", ""},
      {"\r\n", false, "", "", ""},
  };
  for (const Case& c : cases) {
    RequestHead request;
    ASSERT_EQ(ParseRequestHead(c.head, request), c.ok) << c.head;
    if (!c.ok) continue;
    EXPECT_EQ(
        request.method + " " + request.path + " " + request.version + "|" + request.authorization,
        "GET " + c.path + " " + c.version + "|" + c.authorization);
  }
}

TEST(RequestHeadTest, ChecksBasicCredentials) {
  struct Case {
    std::string authorization, user, password;
    bool ok;
  };
  const Case cases[] = {
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
  for (const Case& c : cases) {
    EXPECT_EQ(Authorized(c.authorization, c.user, c.password), c.ok) << c.authorization;
  }
  // RFC 4648's examples: the prefixes of "foobar".
  const char* encoded[] = {"", "Zg==", "Zm8=", "Zm9v", "Zm9vYg==", "Zm9vYmE=", "Zm9vYmFy"};
  for (size_t n = 0; n < 7; ++n) EXPECT_EQ(Base64(std::string("foobar", n)), encoded[n]) << n;
  EXPECT_EQ(Base64("\xFF\xFE"), "//4=");
}

// Read back: the engine refuses a list whose lengths are off, and re-times
// it by its last event.
TEST(PartWriterTest, EventListHoldsTwoEventsASecondApart) {
  struct Case {
    LocalStamp stamp;
    double first_days, first_seconds;
  };
  const Case cases[] = {
      {{2024, 5, 1, 12, 0, 0, 500}, 45413, 43199.5},
      {{2024, 5, 1, 0, 0, 0, 250}, 45412, 86399.25},  // a second before, the day before
  };
  for (const Case& c : cases) {
    const std::string body = EventListBody(7, c.stamp);
    const auto read = [&](size_t at, int bytes) {
      uint64_t v = 0;
      for (int i = bytes - 1; i >= 0; --i) v = v << 8 | static_cast<uint8_t>(body.at(at + i));
      return v;
    };
    const size_t second = 4 + read(0, 4);
    EXPECT_EQ(body.substr(20, second - 20), "DOOR OPEN 7");
    EXPECT_EQ(std::bit_cast<double>(read(4, 8)), c.first_days);
    EXPECT_EQ(std::bit_cast<double>(read(12, 8)), c.first_seconds);
    ASSERT_EQ(read(second, 4), body.size() - second - 4);
    EXPECT_EQ(std::bit_cast<double>(read(second + 4, 8)), c.stamp.Days());
    EXPECT_EQ(std::bit_cast<double>(read(second + 12, 8)), c.stamp.Seconds());
    EXPECT_EQ(body.substr(second + 20), "DOOR CLOSED 7");
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
  JpegCodec codec;
  for (const auto& [width, height] : sizes) {
    SCOPED_TRACE(std::to_string(width) + "x" + std::to_string(height));
    FrameMaker maker(width, height);
    std::string previous;
    for (uint64_t number : {1u, 2u, 3u, 1'000'000u}) {
      const std::string jpeg(maker.Make(number, FrameLabel(number, LocalStamp{})));
      EXPECT_TRUE(jpeg.starts_with("\xFF\xD8") && jpeg.ends_with("\xFF\xD9"));
      int w = 0, h = 0;
      std::string error;
      ASSERT_TRUE(codec.ReadSize(jpeg, w, h, error)) << error;
      EXPECT_EQ(std::make_pair(w, h), std::make_pair(width, height));
      EXPECT_NE(jpeg, previous) << "frame " << number;
      previous = jpeg;
    }
  }
}

}  // namespace
}  // namespace ravelon::cli
