#include "connection/codec_base64.h"

#include <gtest/gtest.h>

namespace ravelon {
namespace {

std::string Encoded(const std::string& bytes) {
  std::string out = "stale";
  EXPECT_EQ(Codec_Base64().Encode(bytes, out), 0);
  return out;
}

TEST(Base64Test, EncodePadsShortGroupsAndBreaksLinesEvery76Characters) {
  EXPECT_EQ(Encoded(""), "");
  EXPECT_EQ(Encoded("abc"), "YWJj");
  EXPECT_EQ(Encoded("ab"), "YWI=");
  EXPECT_EQ(Encoded("a"), "YQ==");
  EXPECT_EQ(Encoded(std::string("\xff\x00\x80", 3)), "/wCA");
  EXPECT_EQ(Encoded(std::string(57, 'x')).size(), 76u);
  const std::string wrapped = Encoded(std::string(58, 'x'));
  EXPECT_EQ(wrapped.substr(76), "\r\neA==");
  // Exactly two full lines: one break, none at the end.
  EXPECT_EQ(Encoded(std::string(114, 'x')).size(), 76u * 2 + 2);
}

TEST(Base64Test, DecodeInvertsEncodeAndRejectsBadInputWithEmptyOutput) {
  std::string all;
  for (int i = 0; i < 256 * 3 + 2; ++i) all += static_cast<char>(i * 7);
  std::string unwrapped = Encoded(all);
  std::erase(unwrapped, '\r');
  std::erase(unwrapped, '\n');
  for (const std::string& text : {Encoded(all), unwrapped}) {
    std::string decoded;
    EXPECT_EQ(Codec_Base64().Decode(text, decoded), 0);
    EXPECT_EQ(decoded, all);
  }

  struct {
    const char* text;
    int32_t result;
  } bad[] = {
      {"YW*j", 1},     {"YWJjY", 1},         // a last group cut short
      {"YWJ", 0},                            // too short to hold a group
      {"\r\n\r\n", 0}, {"YWJj\r\nYW J", 1},  // an error in a later group discards the earlier
  };
  for (const auto& c : bad) {
    std::string out = "stale";
    EXPECT_EQ(Codec_Base64().Decode(c.text, out), c.result) << c.text;
    EXPECT_EQ(out, "") << c.text;
  }
}

}  // namespace
}  // namespace ravelon
