#include "platform/ipc_framing.h"

#include <gtest/gtest.h>

#include <vector>

namespace ravelon {
namespace {

using Messages = std::vector<std::string>;

std::string Prefix(uint32_t length) {
  const auto prefix = IpcFraming::LengthPrefix(length);
  return std::string(prefix.data(), prefix.size());
}
std::string Frame(const std::string& payload) { return Prefix(payload.size()) + payload; }

// Feeds `pieces` in order, taking the messages as they become whole.
Messages Split(int32_t max, const std::vector<std::string_view>& pieces, bool& broken) {
  IpcFraming framing(max);
  Messages messages;
  std::string message;
  for (const std::string_view piece : pieces) {
    framing.Feed(piece);
    while (framing.Next(message)) messages.push_back(message);
  }
  broken = framing.Broken();
  return messages;
}

// Each stream gives the same messages however it is cut into pieces.
TEST(IpcFramingTest, GivesTheSameMessagesHoweverTheBytesArrive) {
  const struct {
    const char* what;
    int32_t max;
    std::string stream;
    Messages messages;
    bool broken;
  } rows[] = {
      {"several, empty and zero bytes included",
       16,
       Frame("one") + Frame("") + Frame(std::string(3, '\0')) + Frame("4"),
       {"one", "", std::string(3, '\0'), "4"},
       false},
      {"a message not yet whole waits", 16, Frame("abc") + Prefix(10) + "xyz", {"abc"}, false},
      {"a length prefix not yet whole waits", 16, Frame("abc") + "\x01\x00", {"abc"}, false},
      {"the largest length", 16, Frame(std::string(16, 'x')), {std::string(16, 'x')}, false},
      {"one over the largest breaks the stream",
       16,
       Frame("a") + Frame(std::string(17, 'x')),
       {"a"},
       true},
      {"a negative length breaks it, what follows is ignored",
       16,
       Frame("a") + Prefix(0xffffffffu) + Frame("b"),
       {"a"},
       true},
  };
  for (const auto& row : rows) {
    const std::string_view stream = row.stream;
    bool broken = false;
    std::vector<std::string_view> bytes;
    for (size_t i = 0; i < stream.size(); ++i) bytes.push_back(stream.substr(i, 1));
    EXPECT_EQ(Split(row.max, bytes, broken), row.messages) << row.what;
    EXPECT_EQ(broken, row.broken) << row.what;
    for (size_t cut = 0; cut <= stream.size(); ++cut) {
      EXPECT_EQ(Split(row.max, {stream.substr(0, cut), stream.substr(cut)}, broken), row.messages)
          << row.what << ", cut at " << cut;
      EXPECT_EQ(broken, row.broken) << row.what << ", cut at " << cut;
    }
  }
}

// A long message declared, then its bytes as reads bring them: the buffer
// follows what arrived, up to the declared length and no further.
TEST(IpcFramingTest, HoldsNoMoreThanWhatArrived) {
  const size_t length = 12 << 20, piece = 1 << 16;
  IpcFraming framing(length);
  framing.Feed(Prefix(length));
  EXPECT_LT(framing.BytesHeld(), 64u);
  for (size_t arrived = piece; arrived <= length; arrived += piece) {
    framing.Feed(std::string(piece, 'x'));
    ASSERT_LE(framing.BytesHeld(), std::min(2 * arrived, length) + 64) << arrived;
  }
}

}  // namespace
}  // namespace ravelon
