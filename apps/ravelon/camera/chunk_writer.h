// ChunkWriter: frames one response's body in the chunks of
// "Transfer-Encoding: chunked", as a real server might: the sizes are fixed
// or vary so that chunk edges fall anywhere in the parts, some sizes are in
// upper-case hex, and some chunks carry extensions (";name=value",
// ';name="quoted"', ";name"), which a reader must skip.
//
// Owned by one client session; its thread only. Deterministic: the same
// bodies give the same bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon::cli {

class ChunkWriter {
 public:
  // `size` bytes per chunk; 0: sizes that cycle through 1, 2, ... kMaxCycledChunk.
  explicit ChunkWriter(int size) : m_size(size) {}

  // Appends `body` to `out` as chunks, the last one no longer than what is
  // left. Nothing for an empty body: an empty chunk would end the body.
  void Append(std::string& out, std::string_view body);

  // Appends the last chunk ("0") and a trailer line: the end of the body.
  static void AppendLast(std::string& out);

  // The largest of the cycled sizes; odd, so that the cycle's edges drift
  // against any part length.
  static constexpr int kMaxCycledChunk = 509;

 private:
  int m_size;
  uint64_t m_chunks = 0;  // chunks written: picks the next size and decoration
};

}  // namespace ravelon::cli
