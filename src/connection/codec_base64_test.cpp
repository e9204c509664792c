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
  ASSERT_EQ(wrapped.size(), 76u + 2 + 4);
  EXPECT_EQ(wrapped.substr(76, 2), "\r\n");
  EXPECT_EQ(wrapped.substr(78), "eA==");
  // Exactly two full lines: one break, none at the end.
  EXPECT_EQ(Encoded(std::string(114, 'x')).size(), 76u * 2 + 2);
}

TEST(Base64Test, DecodeInvertsEncodeAcrossLineBreaksForEveryByteValue) {
  std::string all;
  for (int i = 0; i < 256 * 3 + 2; ++i) all += static_cast<char>(i * 7);
  std::string decoded;
  EXPECT_EQ(Codec_Base64().Decode(Encoded(all), decoded), 0);
  EXPECT_EQ(decoded, all);

  std::string unwrapped = Encoded(all);
  std::erase(unwrapped, '\r');
  std::erase(unwrapped, '\n');
  EXPECT_EQ(Codec_Base64().Decode(unwrapped, decoded), 0);
  EXPECT_EQ(decoded, all);
  EXPECT_EQ(Codec_Base64().Decode("YQ==", decoded), 0);
  EXPECT_EQ(decoded, "a");
}

TEST(Base64Test, DecodeRejectsBadInputWithEmptyOutput) {
  std::string out = "stale";
  EXPECT_EQ(Codec_Base64().Decode("YW*j", out), 1);
  EXPECT_EQ(out, "");
  out = "stale";
  EXPECT_EQ(Codec_Base64().Decode("YWJjY", out), 1);  // a last group cut short
  EXPECT_EQ(out, "");
  out = "stale";
  EXPECT_EQ(Codec_Base64().Decode("YWJ", out), 0);  // too short to hold a group
  EXPECT_EQ(out, "");
  EXPECT_EQ(Codec_Base64().Decode("\r\n\r\n", out), 0);
  EXPECT_EQ(out, "");
  // An error in a later group discards what earlier groups gave.
  EXPECT_EQ(Codec_Base64().Decode("YWJj\r\nYW J", out), 1);
  EXPECT_EQ(out, "");
}

}  // namespace
}  // namespace ravelon
