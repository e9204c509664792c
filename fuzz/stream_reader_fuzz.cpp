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
#include <tuple>

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
  size_t header_at = 0;  // the bytes that had arrived when the header was taken (not compared)
  bool operator==(const Reading& other) const {
    return std::tie(boundary, frames, keep_alives, streaming, broken) ==
           std::tie(other.boundary, other.frames, other.keep_alives, other.streaming, other.broken);
  }
};

std::string Describe(const std::shared_ptr<ravelon::MediaFrame>& frame) {
  if (!frame) return "-";
  return std::to_string(frame->getDataType()) + ":" + frame->getDataBlock().GetText();
}

// Takes every complete part; false once the stream broke.
bool TakeParts(StreamReader& reader, Reading& reading) {
  std::shared_ptr<ravelon::MediaFrame> frame;
  for (;;) {
    const StreamReader::PartKind kind = reader.TakePart(frame);
    if (kind == StreamReader::kNoPart) return true;
    if (kind == StreamReader::kKeepAlive) {
      ++reading.keep_alives;
    } else if (kind == StreamReader::kFramePart) {
      reading.frames.push_back(Describe(frame));
    } else {
      reading.broken = true;
      return false;
    }
  }
}

// Reads `stream` arriving in pieces that end at `cuts` (ascending).
Reading Read(std::string_view stream, std::vector<size_t> cuts, Mode mode) {
  cuts.push_back(stream.size());
  StreamReader reader;
  Reading reading;
  size_t from = 0;
  for (const size_t cut : cuts) {
    if (cut == from) continue;  // no arrival is empty
    Require(reader.Append(stream.substr(from, cut - from)) != StreamReader::kCleared,
            "the input stays below the buffer's limit");
    from = cut;
    if (mode == kSingleResponse) continue;
    if (!reading.streaming) {
      reading.streaming = reader.TakeResponseHeader(mode == kDiscoveredHeader);
      reading.header_at = cut;
      // A refused header (its boundary or line too long) breaks the stream.
      if (!reading.streaming && !reader.BrokenReason().empty()) {
        reading.broken = true;
        break;
      }
    }
    if (reading.streaming && !TakeParts(reader, reading)) break;
  }
  std::shared_ptr<ravelon::MediaFrame> frame;
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
bool CutsMatterByDesign(std::string_view stream, Mode mode, const Reading& split,
                        const Reading& whole) {
  const auto decides = [](const Reading& reading) { return reading.streaming || reading.broken; };
  if (mode == kDiscoveredHeader && decides(split) && decides(Read(stream, {}, kHeader)) &&
      !decides(Read(stream.substr(0, split.header_at), {}, kHeader))) {
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

// What a finding shows: each reading, frame by frame.
void Print(const char* how, const Reading& reading) {
  std::fprintf(stderr, "%s: streaming %d, broken %d, %d keep-alives, %zu frames\n", how,
               reading.streaming, reading.broken, reading.keep_alives, reading.frames.size());
  for (const std::string& frame : reading.frames) {
    std::fprintf(stderr, "  %zu bytes: %.60s\n", frame.size(), frame.c_str());
  }
}

}  // namespace

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const auto mode = static_cast<Mode>(input.Byte() % 3);
  std::vector<size_t> cuts;
  const std::string_view stream = input.CutStream(cuts);
  const Reading split = Read(stream, cuts, mode), whole = Read(stream, {}, mode);
  if (split != whole && !CutsMatterByDesign(stream, mode, split, whole)) {
    Print("in arrivals", split);
    Print("in one arrival", whole);
    Require(false, "cuts change nothing");
  }
}
