// Arbitrary bytes as a named port's connection, fed to the framing whole and
// in pieces of pseudo-random sizes, with the messages taken as they become
// whole: both give the same messages and the same broken state. The messages,
// framed again, are exactly the start of the stream; what follows them is a
// message not yet whole, or, when broken, a length out of range.
//
// Input: one byte choosing the largest message (1 << (byte % 21) bytes), one
// seeding the piece sizes, then the stream.
#include "harness.h"
#include "platform/ipc_framing.h"

using ravelon::IpcFraming;

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
  while (framing.Next(message)) result.messages.push_back(message);
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
  int64_t length = -1;  // of the message under way; -1 while its prefix is not whole
  if (rest.size() >= IpcFraming::kLengthBytes) {
    length = static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint8_t>(rest[0])) |
                                  static_cast<uint32_t>(static_cast<uint8_t>(rest[1])) << 8 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(rest[2])) << 16 |
                                  static_cast<uint32_t>(static_cast<uint8_t>(rest[3])) << 24);
  }
  const bool out_of_range = rest.size() >= IpcFraming::kLengthBytes && (length < 0 || length > max);
  const bool under_way =
      rest.size() < IpcFraming::kLengthBytes ||
      (!out_of_range && rest.size() - IpcFraming::kLengthBytes < static_cast<uint64_t>(length));
  Require(whole.broken == out_of_range && (whole.broken || under_way),
          "what follows is a message under way, or a length out of range");
}
