// What a long message under way holds. How a stream splits into messages,
// however its bytes arrive, is the ipc_framing fuzz target's oracle, run on its
// corpus with the tests, and the named port's tests check it end to end.
#include "platform/ipc_framing.h"

#include <gtest/gtest.h>

namespace ravelon {
namespace {

// A long message declared, then its bytes as reads bring them: the buffer
// follows what arrived, up to the declared length and no further.
TEST(IpcFramingTest, HoldsNoMoreThanWhatArrived) {
  const size_t length = 12 << 20, piece = 1 << 16;
  IpcFraming framing(length);
  const auto prefix = IpcFraming::LengthPrefix(length);
  framing.Feed(std::string_view(prefix.data(), prefix.size()));
  EXPECT_LT(framing.BytesHeld(), 64u);
  for (size_t arrived = piece; arrived <= length; arrived += piece) {
    framing.Feed(std::string(piece, 'x'));
    ASSERT_LE(framing.BytesHeld(), std::min(2 * arrived, length) + 64) << arrived;
  }
}

}  // namespace
}  // namespace ravelon
