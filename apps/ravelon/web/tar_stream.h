// TarStream: files written one after another as a POSIX ustar archive, the
// form every system unpacks, so that a range of a store downloads as the
// folder `store export --out` would write, in one file. Bytes go out as they
// come; nothing but one header is held. The caller's thread.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "store/frame_export.h"

namespace ravelon::cli {

class TarStream {
 public:
  // Names longer than a ustar name field holds are refused.
  static constexpr size_t kMaxNameBytes = 99;

  explicit TarStream(ByteSink out) : out_(std::move(out)) {}

  // One whole file.
  void Add(const std::string& name, std::string_view bytes);
  // A file of `size` bytes that arrive through the calls of `write` to the
  // sink it is given; they must add up to `size`.
  void Add(const std::string& name, int64_t size,
           const std::function<void(const ByteSink&)>& write);
  // The two empty blocks that end an archive.
  void Finish();

 private:
  void Header(const std::string& name, int64_t size);
  void Pad(int64_t size);

  ByteSink out_;
};

}  // namespace ravelon::cli
