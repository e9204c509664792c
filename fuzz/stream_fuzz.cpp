// Arbitrary bytes, cut into arrivals, into a StreamReader taken as the
// connection takes it: optionally through the HttpResponseGate first (which
// reads the status line and de-chunks a chunked body, and must never let
// through more than it was given); after each arrival the response header
// (with boundary discovery, optionally) until accepted,
// then every complete part; or, for a single response, the whole once all is
// in. After every step the buffer must be sound; a frame's body must be the
// bytes fed just before those the reader keeps (for a single response, all
// but the last two); no more parts may come out than boundaries went in. A
// part kind other than keep-alive or frame (a broken stream) ends the reading.
//
// Input: a flags byte (1 single response, 2 a valid response header first,
// 4 LF line ends, 8 huge arrivals, 16 through the gate, and then a chunked
// header with flag 2, 32 boundary discovery), then arrivals, a length byte each:
//   0x00-0xEF  that many bytes (fewer if the input ends first)
//   0xF0-0xFF  up to 256 bytes, repeated to (n - 0xEF) KiB; with flag 8,
//              0xFE to 6 MiB (two pass the input limit), 0xFF to 12 MiB
#include <memory>

#include "common/engine_limits.h"
#include "harness.h"
#include "parsing/byte_search.h"
#include "parsing/http_response_gate.h"
#include "parsing/stream_reader.h"
#include "ravelon/media_frame.h"

void ravelon::fuzz::FuzzOne(FuzzInput& input) {
  const uint8_t flags = input.Byte();
  StreamReader reader;
  HttpResponseGate gate;
  std::string fed;
  size_t given = 0;  // bytes given to the gate
  size_t boundaries = 0, parts = 0, counted_to = 0;
  // Reading ends at a refusal or a broken stream; after a broken chunk, with that arrival.
  bool streaming = false, gate_closed = false, broken = false;
  const auto check = [&](bool sound) {
    Require(sound && reader.Length() >= 0 && reader.Length() <= reader.Capacity() &&
                reader.Capacity() <= kInputBufferLimit &&
                reader.Capacity() >= kInitialInputCapacity,
            "the buffer is sound");
  };
  const auto fed_before = [&](const std::shared_ptr<MediaFrame>& frame, size_t kept) {
    if (!frame) return true;
    const std::string_view body = frame->getDataBlock().View();
    return fed.size() >= kept + body.size() &&
           fed.compare(fed.size() - kept - body.size(), body.size(), body) == 0;
  };
  const auto arrive = [&](const std::string& raw) {
    if (broken || gate_closed) return;
    std::string arrival = raw;
    if (flags & 16) {
      arrival.clear();
      given += raw.size();
      const auto outcome = gate.Feed(raw, arrival);
      check(fed.size() + arrival.size() <= given);
      gate_closed = outcome != HttpResponseGate::kPassing;
      if (outcome == HttpResponseGate::kRefused) {
        check(!gate.StatusLine().empty() && arrival.empty());
        return;
      }
    }
    fed += arrival;
    reader.Append(arrival);
    if (!(flags & 1) && !streaming) streaming = reader.TakeResponseHeader(flags & 32);
    check(true);
    if (!streaming) return;
    // Boundaries that have wholly arrived, matched as the reader matches them.
    const std::string& boundary = reader.Boundary();
    for (size_t pos; (pos = FindBytes(std::string_view(fed).substr(counted_to), boundary, true)) !=
                     std::string_view::npos;) {
      ++boundaries;
      counted_to += pos + 1;
    }
    counted_to = std::max(counted_to, fed.size() + 1 - std::min(fed.size() + 1, boundary.size()));
    std::shared_ptr<MediaFrame> frame;
    for (StreamReader::PartKind kind; (kind = reader.TakePart(frame)) != StreamReader::kNoPart;) {
      broken = kind == StreamReader::kBroken;
      if (broken) return;  // the owner drops a broken stream
      check(++parts <= boundaries && (kind == StreamReader::kFramePart || !frame) &&
            fed_before(frame, reader.Length()));
    }
  };

  if (flags & 2) {
    const std::string eol = flags & 4 ? "\n" : "\r\n";
    arrive("HTTP/1.1 200 OK" + eol + (flags & 16 ? "Transfer-Encoding: chunked" + eol : "") +
           "Content-Type: " +
           (flags & 1 ? "image/jpeg" : "multipart/x-mixed-replace; boundary=myboundary") + eol +
           eol);
  }
  while (!input.empty()) {
    const uint8_t code = input.Byte();
    std::string arrival(input.Bytes(code < 0xF0 ? code : 256));
    if (code >= 0xF0 && !arrival.empty()) {
      const size_t total =
          code >= 0xFE && (flags & 8) ? size_t{6} << (20 + code - 0xFE) : (code - 0xEFu) << 10;
      while (arrival.size() < total) arrival.append(arrival, 0, total - arrival.size());
    }
    if (!arrival.empty()) arrive(arrival);
  }
  if (flags & 1) {
    std::shared_ptr<MediaFrame> frame;
    const bool taken = reader.TakeSingleResponse(frame);
    check((!taken || reader.Length() == 0) && (taken || !frame) && fed_before(frame, 2));
  }
}
