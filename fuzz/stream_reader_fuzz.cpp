// A source's bytes into a StreamReader in arrivals cut where the input says,
// and the same bytes in one arrival: where the network cuts a stream must not
// change what is read, so both give the same frames (type and bytes) in the
// same order, the same keep-alive count, and both break or neither. Reading
// stops at the first part kind other than none, keep-alive or frame (a broken
// stream: the owner drops it). The input stays far below the input buffer's
// limit, so no arrival clears the buffer.
//
// Input: a mode byte (0 the response header as found, 1 with boundary
// discovery, 2 a single response), then the cuts and the stream, as
// FuzzInput::CutStream takes them.
#include <memory>

#include "harness.h"
#include "parsing/byte_search.h"
#include "parsing/stream_reader.h"
#include "ravelon/media_frame.h"

using ravelon::StreamReader;
using ravelon::fuzz::Require;

namespace {

enum Mode { kHeader, kDiscoveredHeader, kSingleResponse };

struct Reading {
  std::string boundary;
  std::vector<std::string> frames;  // type, then bytes; "-" for a part that carries no frame
  int keep_alives = 0;
  bool streaming = false;
  bool broken = false;
  bool operator==(const Reading&) const = default;
};

std::string Describe(const std::shared_ptr<ravelon::MediaFrame>& frame) {
  return frame ? std::to_string(frame->getDataType()) + ":" + frame->getDataBlock().GetText() : "-";
}

// Reads `stream` arriving in pieces that end at `cuts` (ascending); `header_at` is set to the
// bytes that had arrived when the header was taken.
Reading Read(std::string_view stream, std::vector<size_t> cuts, Mode mode,
             size_t* header_at = nullptr) {
  cuts.push_back(stream.size());
  StreamReader reader;
  Reading reading;
  std::shared_ptr<ravelon::MediaFrame> frame;
  size_t from = 0;
  for (const size_t cut : cuts) {
    if (cut == from) continue;  // no arrival is empty
    Require(reader.Append(stream.substr(from, cut - from)) != StreamReader::kCleared,
            "the input stays below the buffer's limit");
    from = cut;
    if (mode == kSingleResponse) continue;
    if (!reading.streaming) {
      reading.streaming = reader.TakeResponseHeader(mode == kDiscoveredHeader);
      if (header_at != nullptr) *header_at = cut;
    }
    auto kind = StreamReader::kNoPart;
    while (reading.streaming && (kind = reader.TakePart(frame)) != StreamReader::kNoPart &&
           kind != StreamReader::kBroken) {
      if (kind == StreamReader::kKeepAlive) ++reading.keep_alives;
      if (kind == StreamReader::kFramePart) reading.frames.push_back(Describe(frame));
    }
    // A refused header (its boundary or line too long) breaks the stream too.
    reading.broken = !reader.BrokenReason().empty();
    if (reading.broken) break;
  }
  if (mode == kSingleResponse && reader.TakeSingleResponse(frame)) {
    reading.frames.push_back(Describe(frame));
  }
  reading.boundary = reader.Boundary();
  return reading;
}

// Streams whose reading depends on where they are cut, as the reader is made:
// - a part ends at the first CR LF + boundary among the bytes buffered, else at
//   the first LF + boundary, else at the first boundary alone; a stream whose
//   boundaries follow more than one of these ends its parts where cuts allow;
// - with discovery, a "Content-Type" line that names a boundary (anywhere in
//   the bytes buffered), or one too long to be taken, wins over a discovered
//   line (taken, or too long) only when it has arrived by the time the
//   discovered line is complete.
bool CutsMatterByDesign(std::string_view stream, Mode mode, const Reading& split, size_t header_at,
                        const Reading& whole) {
  const auto decides = [](const Reading& reading) { return reading.streaming || reading.broken; };
  if (mode == kDiscoveredHeader && decides(split) && decides(Read(stream, {}, kHeader)) &&
      !decides(Read(stream.substr(0, header_at), {}, kHeader))) {
    return true;
  }
  if (split.boundary != whole.boundary) return false;
  int kinds = 0;  // a bit per kind of line end seen before a boundary
  for (size_t at = 0, q;
       !whole.boundary.empty() &&
       (q = ravelon::FindBytes(stream.substr(at), whole.boundary, true)) != std::string_view::npos;
       at += q + 1) {
    const std::string_view before = stream.substr(0, at + q);
    kinds |= before.ends_with("\r\n") ? 1 : before.ends_with("\n") ? 2 : 4;
  }
  return kinds != 0 && (kinds & (kinds - 1)) != 0;
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const auto mode = static_cast<Mode>(input.Byte() % 3);
  std::vector<size_t> cuts;
  const std::string_view stream = input.CutStream(cuts);
  size_t header_at = 0;
  const Reading split = Read(stream, cuts, mode, &header_at), whole = Read(stream, {}, mode);
  Require(split == whole || CutsMatterByDesign(stream, mode, split, header_at, whole),
          "cuts change nothing");
}
