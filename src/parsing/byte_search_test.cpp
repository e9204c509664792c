#include "parsing/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace ravelon {
namespace {

// The vector path and the scalar tail must agree with a plain search at every
// position, for needles of one byte and longer, exact and ignoring case.
TEST(ByteSearchTest, AgreesWithAPlainSearchEverywhere) {
  std::mt19937 random(11);
  for (const std::string needle : {"-", "\r\n--MyBoundary", "--b", "ab", "Content-Type"}) {
    for (size_t length = 0; length < 80; ++length) {
      for (int trial = 0; trial < 20; ++trial) {
        std::string text(length, '\0');
        for (auto& c : text) c = "-\r\nabAB"[random() % 7];
        const size_t at = length > needle.size() ? random() % (length - needle.size() + 1) : 0;
        if (length >= needle.size() && trial % 2 == 0) text.replace(at, needle.size(), needle);
        const size_t exact = text.find(needle);
        EXPECT_EQ(FindBytes(text, needle, false),
                  exact == std::string::npos ? std::string_view::npos : exact);

        std::string lower_text = text, lower_needle = needle;
        for (auto& c : lower_text) c = AsciiLower(c);
        for (auto& c : lower_needle) c = AsciiLower(c);
        const size_t folded = lower_text.find(lower_needle);
        EXPECT_EQ(FindBytes(text, needle, true),
                  folded == std::string::npos ? std::string_view::npos : folded)
            << text << " / " << needle;
      }
    }
  }
  EXPECT_EQ(FindBytes("abc", "", true), 0u);
  EXPECT_EQ(FindBytes("ab", "abc", true), std::string_view::npos);
  // Bytes above 0x7F have no case.
  EXPECT_EQ(FindBytes("\xc4\xe4", "\xe4", true), 1u);
}

}  // namespace
}  // namespace ravelon
