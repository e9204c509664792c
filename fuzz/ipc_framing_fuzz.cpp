// Arbitrary bytes as a named port's connection, fed to the framing whole and
// in pieces of pseudo-random sizes, with the messages taken as they become
// whole: both give the same messages and the same broken state. The messages,
// framed again, are exactly the start of the stream; what follows them is a
// message not yet whole, or, when broken, a length out of range.
//
// Input: one byte choosing the largest message (1 << (byte % 21) bytes), one
// seeding the piece sizes, then the stream.
#include "common/number_encoding.h"
#include "harness.h"
#include "platform/ipc_framing.h"

using ravelon::BytesToLong, ravelon::IpcFraming;

namespace {

struct Result {
  std::vector<std::string> messages;
  bool broken = false;
  bool operator==(const Result&) const = default;
};

// Seed 0 feeds the stream whole.
Result Feed(int32_t max, std::string_view stream, uint32_t seed) {
  IpcFraming framing(max);
  Result result;
  std::string message;
  while (!stream.empty()) {
    const size_t piece = seed == 0 ? stream.size() : 1 + (seed >> 16) % 64;
    seed = seed * 1103515245u + 12345u;
    framing.Feed(stream.substr(0, piece));
    stream.remove_prefix(std::min(piece, stream.size()));
    while (framing.Next(message)) result.messages.push_back(message);
  }
  result.broken = framing.Broken();
  return result;
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const auto max = static_cast<int32_t>(int64_t{1} << (input.Byte() % 21));
  const uint32_t seed = input.Byte() + 1u;
  const std::string_view stream = input.Rest();
  const Result whole = Feed(max, stream, 0);
  Require(Feed(max, stream, seed) == whole, "pieces change nothing");

  std::string framed;
  for (const std::string& message : whole.messages) {
    const auto prefix = IpcFraming::LengthPrefix(static_cast<uint32_t>(message.size()));
    framed.append(prefix.data(), prefix.size()).append(message);
  }
  Require(stream.starts_with(framed), "the messages are the start of the stream");
  const std::string_view rest = stream.substr(framed.size());
  // The length of the message under way, once its prefix is whole.
  const bool prefixed = rest.size() >= IpcFraming::kLengthBytes;
  const int64_t length = prefixed ? BytesToLong(rest.substr(0, IpcFraming::kLengthBytes)) : 0;
  const bool out_of_range = prefixed && (length < 0 || length > max);
  const bool under_way = !prefixed || (!out_of_range && rest.size() - IpcFraming::kLengthBytes <
                                                            static_cast<uint64_t>(length));
  Require(whole.broken == out_of_range && (whole.broken || under_way),
          "what follows is a message under way, or a length out of range");
}
