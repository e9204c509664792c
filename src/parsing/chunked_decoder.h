// ChunkedDecoder: the body of an HTTP/1.1 response sent with
// "Transfer-Encoding: chunked" in, the body's own bytes out, so that the
// StreamReader behind it sees the multipart stream as a source without
// chunking sends it.
//
// Its owner (the engine's connection) feeds every arrival of the body in
// order; a chunk-size line, its extensions, the data, the line end after the
// data, the last chunk and the trailer fields may be cut anywhere between
// arrivals. Chunk data is appended to the caller's buffer as ranges and never
// held here, so a chunk may be larger than any buffer of the engine; only an
// unfinished size or trailer line is held, bounded by kChunkSizeLineLimit and
// kChunkTrailerLineLimit. Single-threaded; the owner's thread.
//
//   size line --(size > 0)--> data --> line end --> size line
//       |                                   (anything else: broken)
//       +--(size 0)--> trailer lines --(empty line)--> done
//
// Lines end in LF, with or without a CR before it. A single LF is a line end
// that HTTP lets a recipient accept, sources that end their multipart lines so
// are met elsewhere too, and the engine is the body's last reader: no proxy
// behind it could take the body to end elsewhere.
//
// A size line is hex digits, optional spaces or tabs, then nothing or an
// extension after ';' (skipped unread). A trailer line is a field name, a
// colon and a value (dropped). Anything else breaks the decoder.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace ravelon {

class ChunkedDecoder {
 public:
  enum class Status {
    kMore,    // all of the arrival was read; the body goes on
    kDone,    // the last chunk and its trailer section have ended
    kBroken,  // the body is malformed; Error() says how
  };

  // Reads `arrival` on from where the previous one stopped and appends the
  // chunk data in it to `out`, which this never clears or reads. Once done or
  // broken, it reads nothing more and returns the same status until Reset().
  // On kBroken, `out` holds the data of the chunks before the fault.
  Status Decode(std::string_view arrival, std::string& out);

  // Bytes of the last arrival that belonged to the body: all of it on kMore;
  // on kDone, where what follows the body (another response) starts.
  size_t Consumed() const { return m_consumed; }

  // Empty unless broken: one sentence saying what was wrong.
  const std::string& Error() const { return m_error; }

  // Starts a new body.
  void Reset();

 private:
  enum class State { kSizeLine, kData, kDataLineEnd, kTrailerLine, kDone, kBroken };
  enum class LineResult { kComplete, kPending, kTooLong };

  // Takes one line from the front of `in`, without its line end, into
  // `line` (a view into `in` or into m_pendingLine, valid until the next call).
  LineResult TakeLine(std::string_view& in, size_t limit, std::string_view& line);
  void OnSizeLine(std::string_view line);
  void OnTrailerLine(std::string_view line);
  void Break(std::string error);

  State m_state = State::kSizeLine;
  int64_t m_chunkLeft = 0;
  // An unfinished line's bytes from earlier arrivals.
  std::string m_pendingLine;
  size_t m_consumed = 0;
  std::string m_error;
};

}  // namespace ravelon
