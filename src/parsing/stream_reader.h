// StreamReader: the bytes of a source's response in, its parts out. It holds
// the input buffer (the bytes not yet parsed), finds the response header's
// boundary, frames the multipart stream into parts, reads each part's header
// lines and maps its content type to a frame.
//
// It knows nothing of sockets, timers or clocks: its owner (the engine's
// connection) feeds it the bytes of each arrival and asks for what is
// complete, so a test, a fuzz target or a benchmark can drive it from a plain
// byte string. Single-threaded; the owner's thread.
//
// A part is complete only when the boundary after it has arrived; no length
// field is trusted. Its end is, tried in this order and the first kind found
// at all winning: CR LF + boundary, LF + boundary, the boundary alone.
// Positions inside are 1-based over the buffered data (0 = not found).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "common/engine_limits.h"
#include "parsing/parameter_list.h"

namespace ravelon {

class MediaFrame;

class StreamReader {
 public:
  // What an append did to the buffer, for the owner's log.
  enum AppendOutcome : int16_t {
    kAppended = 0,
    kCleared = 1,  // the limit was passed: everything buffered was dropped
    kGrown = 2,
    kReduced = 3,
  };

  // What TakePart found.
  enum PartKind {
    kNoPart,     // no complete part (yet): wait for more bytes
    kKeepAlive,  // a keep-alive part, consumed
    kFramePart,  // a data part, consumed; `frame` is nullptr for a type that carries no frame
    kBroken,     // the part's head passed a limit: BrokenReason() says which
  };

  StreamReader();

  // Appends an arrival's bytes. An arrival that would pass kInputBufferLimit
  // first clears the buffer (one larger than the limit is dropped too).
  AppendOutcome Append(std::string_view bytes);

  // Append in two halves, for an owner that has the bytes written straight
  // into the buffer: PrepareAppend makes room for an arrival of `n` bytes as
  // Append does and sets `destination` to where they go (nullptr when an
  // arrival that large is dropped whole); CommitAppend then adds the `count`
  // bytes (at most n) written there and gives the outcome of the whole append.
  AppendOutcome PrepareAppend(int32_t n, char*& destination);
  AppendOutcome CommitAppend(int32_t count, AppendOutcome prepared);

  // Forgets the buffered data, the part positions and the spare block; the
  // capacity stays.
  void Clear();

  // Streaming: true once the first "Content-Type" line of the response is
  // complete and names a multipart boundary of at least kMinBoundaryLength;
  // the header up to that line is then consumed and parts follow.
  // With `discoverBoundary`, a response without such a line is taken too once
  // its first body line that begins with "--" is complete: that line is the
  // boundary. The body starts at once when the response begins with "--"
  // (after blank lines: the source sent no header), else after the header's
  // blank line; everything before the boundary line is consumed.
  // A boundary longer than kMaxBoundaryLength, or a content-type line longer
  // than kMaxHeaderLineBytes, is refused for good: false, with BrokenReason().
  bool TakeResponseHeader(bool discoverBoundary = false);

  // Streaming: the next complete part, consumed from the buffer. A part whose
  // head is larger than kMaxPartHeaderBytes, has more than kMaxPartHeaderLines
  // lines or a line longer than kMaxHeaderLineBytes is kBroken: the stream is
  // out of step or hostile, and the owner connects again.
  PartKind TakePart(std::shared_ptr<MediaFrame>& frame);

  // Single response, once the source has closed: false while no header ends
  // in a blank line after the "Content-Type" line. Otherwise the buffer is
  // emptied and `frame` is the image (the body less the two bytes of line end
  // that sources put after it), or nullptr for a body of fewer than 3 bytes.
  bool TakeSingleResponse(std::shared_ptr<MediaFrame>& frame);

  int32_t Length() const { return m_inputLength; }
  int32_t Capacity() const { return m_capacity; }
  const std::string& Boundary() const { return m_boundary; }
  // The buffered data, for checks.
  std::string_view Data() const { return {InputData(), static_cast<size_t>(m_inputLength)}; }
  // Parts parsed at low use since the capacity last changed.
  int32_t IdleParts() const { return m_bufferIdleParts; }
  // What was too large, once the stream broke a limit; "" before. Clear
  // forgets it.
  const std::string& BrokenReason() const { return m_brokenReason; }

 private:
  enum CompareMode { kBinaryCompare, kTextCompare };
  // A stretch of the buffer known to hold no part end of one kind, so that a
  // search does not examine the same bytes twice.
  struct SearchMemo {
    int32_t from = 0;  // positions of boundary occurrences, [from, to)
    int32_t to = 0;
  };

  // Where the response-header stage stopped looking, so that each arrival
  // only costs its own bytes. Positions are 1-based, offsets 0-based.
  struct HeaderSearch {
    int32_t contentType = 0;  // the "Content-Type" name, once found
    int32_t scanFrom = 0;     // where the search for it, then for its line end, goes on
    enum Stage { kLeadingLineEnds, kHeaderLines, kBodyLines };
    Stage discoverStage = kLeadingLineEnds;
    size_t discoverAt = 0;    // the offset the discovery stage goes on from
    size_t discoverScan = 0;  // the offset the search for a body line's end goes on from
  };

  const char* InputData() const { return m_block.get() + m_inputHead; }
  // The first `text` that begins at or after `start`, no later than
  // `lastStart`, and lies wholly in the data.
  int32_t Find(int32_t start, std::string_view text, CompareMode mode,
               int32_t lastStart = INT32_MAX) const;
  void KeepTail(int32_t n);
  void DiscardHead(int32_t n);
  void Reduce();
  void Relocate(int32_t capacity);
  std::shared_ptr<char[]> TakeSpareBlock(int32_t capacity);
  bool Shared() const;
  // The owner a frame keeps to share the buffered bytes [start, start +
  // length), 1-based; nullptr when the frame is too small to hold the whole
  // block and should copy them.
  std::shared_ptr<const void> ShareBytes(int32_t start, int32_t length);
  // The "Content-Type" line of the response: its position and line end, or false.
  bool FindContentTypeLine(int32_t& start, int32_t& end, std::string_view& lineEnd);
  bool AcceptableBoundary(size_t length);
  bool DiscoverBoundary();
  PartKind Broken(const std::string& what, int32_t limit, const char* unit);
  bool HeadOutgrowsLimit(int32_t opening);
  static size_t LongestLine(std::string_view text);
  void SetBoundary(std::string boundary, int32_t consumed);
  int32_t FindPartEnd(int32_t from, int32_t& lineEndLength);
  std::string ParsePartHeaders(std::string_view headerBlock, std::string_view lineEnd);
  PartKind MakePartFrame(const std::string& contentType, int32_t bodyStart, int32_t bodyLength,
                         std::shared_ptr<MediaFrame>& frame);

  // The data lives at m_block[m_inputHead, m_inputHead + m_inputLength):
  // consumed bytes are dropped by moving the head, and the rest moves to the
  // front only when an arrival needs the room, once per arrival. Frames may
  // hold the block's bytes before m_sharedEnd.
  std::shared_ptr<char[]> m_block;
  std::shared_ptr<char[]> m_spare;  // the block before, while frames held it
  int32_t m_capacity = 0;
  int32_t m_sharedEnd = 0;
  int32_t m_inputHead = 0;
  int32_t m_inputLength = 0;
  int32_t m_bufferIdleParts = 0;
  int32_t m_boundaryPos = 0;
  int32_t m_partEndSearchPos = 0;
  int32_t m_headFitsFor = 0;  // the opening of a part whose head was seen to fit
  SearchMemo m_crlfEndMemo;   // no CR LF + boundary part end here
  SearchMemo m_lfEndMemo;     // no LF + boundary part end here
  HeaderSearch m_headerSearch;
  std::string m_boundary;
  std::string m_brokenReason;
  ParameterList m_partHeaders;
};

}  // namespace ravelon
