// The wire format of named ports, apart from any socket. A connection carries
// messages one after another, each as
//   length   4 bytes, signed 32-bit little-endian, 0 to the largest allowed
//   payload  `length` bytes
// IpcFraming is fed a connection's bytes as they arrive, in pieces of any
// size, and gives back the messages in order.
//
// A message's bytes are kept as they arrive and its buffer grows with them: a
// declared length alone costs nothing, so a peer that announces 16 MiB and
// sends nothing holds no memory. Bytes that arrive after a whole message wait,
// unread, until that message is taken.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon {

class IpcFraming {
 public:
  static constexpr size_t kLengthBytes = 4;

  // The length prefix of a message of `size` bytes.
  static std::array<char, kLengthBytes> LengthPrefix(uint32_t size);

  explicit IpcFraming(int32_t max_message_bytes) : max_message_bytes_(max_message_bytes) {}

  // Takes the next bytes of the stream. Ignored once Broken.
  void Feed(std::string_view bytes);

  // Moves the oldest whole message into `message`; false while none is whole.
  bool Next(std::string& message);

  // A length below 0 or above the largest allowed arrived: nothing after it
  // can be trusted to start a message, so no more are given.
  bool Broken() const { return broken_; }

  // The bytes allocated for the message under way and those waiting.
  size_t BytesHeld() const { return body_.capacity() + unread_.capacity(); }

 private:
  // Reads from `bytes` until a message is whole (or the stream breaks);
  // returns how many bytes it used.
  size_t Parse(std::string_view bytes);
  // Appends bytes of the message under way, growing its buffer to at most
  // twice the bytes received and never past the declared length.
  void AppendToBody(std::string_view bytes);

  const int32_t max_message_bytes_;
  std::array<unsigned char, kLengthBytes> length_bytes_{};
  size_t length_read_ = 0;  // of length_bytes_
  size_t length_ = 0;       // once length_read_ == kLengthBytes
  std::string body_;
  bool whole_ = false;  // body_ is a whole message, not yet taken
  bool broken_ = false;
  // Bytes fed after a whole message, from unread_start_ on.
  std::string unread_;
  size_t unread_start_ = 0;
};

}  // namespace ravelon
