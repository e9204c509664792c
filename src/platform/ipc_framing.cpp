#include "platform/ipc_framing.h"

#include <algorithm>
#include <utility>

namespace ravelon {

std::array<char, IpcFraming::kLengthBytes> IpcFraming::LengthPrefix(uint32_t size) {
  return {static_cast<char>(size & 0xff), static_cast<char>(size >> 8 & 0xff),
          static_cast<char>(size >> 16 & 0xff), static_cast<char>(size >> 24 & 0xff)};
}

void IpcFraming::Feed(std::string_view bytes) {
  if (broken_) return;
  if (whole_) {
    unread_.append(bytes);
    return;
  }
  const size_t used = Parse(bytes);
  if (!broken_) unread_.append(bytes.substr(used));
}

bool IpcFraming::Next(std::string& message) {
  if (!whole_) return false;
  message = std::move(body_);
  body_ = std::string();
  length_read_ = 0;
  whole_ = false;
  // The next message may already be among the unread bytes.
  unread_start_ += Parse(std::string_view(unread_).substr(unread_start_));
  if (unread_start_ == unread_.size()) {
    unread_ = std::string();  // gives the memory back
    unread_start_ = 0;
  }
  return true;
}

size_t IpcFraming::Parse(std::string_view bytes) {
  size_t used = 0;
  while (!whole_ && !broken_) {
    if (length_read_ < kLengthBytes) {
      if (used == bytes.size()) break;
      length_bytes_[length_read_++] = static_cast<unsigned char>(bytes[used++]);
      if (length_read_ < kLengthBytes) continue;
      const auto length = static_cast<int32_t>(static_cast<uint32_t>(length_bytes_[0]) |
                                               static_cast<uint32_t>(length_bytes_[1]) << 8 |
                                               static_cast<uint32_t>(length_bytes_[2]) << 16 |
                                               static_cast<uint32_t>(length_bytes_[3]) << 24);
      broken_ = length < 0 || length > max_message_bytes_;
      length_ = static_cast<size_t>(length);
    } else {
      const size_t take = std::min(bytes.size() - used, length_ - body_.size());
      AppendToBody(bytes.substr(used, take));
      used += take;
    }
    whole_ = !broken_ && length_read_ == kLengthBytes && body_.size() == length_;
    if (used == bytes.size() && !whole_) break;
  }
  return used;
}

void IpcFraming::AppendToBody(std::string_view bytes) {
  const size_t needed = body_.size() + bytes.size();
  if (needed > body_.capacity()) {
    // A fresh string, as reserve on this one may round up to twice its
    // capacity, past the declared length.
    std::string grown;
    grown.reserve(std::min(length_, std::max(needed, 2 * body_.capacity())));
    grown.append(body_);
    body_ = std::move(grown);
  }
  body_.append(bytes);
}

}  // namespace ravelon
