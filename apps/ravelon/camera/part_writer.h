// The parts of the test camera's streams, as the engine's parser reads them
// (multipart parts with their content types), and the bodies of the optional
// text and event parts. The response heads are in response_head.h. Pure
// functions of their arguments; any thread.
//
// A stream is the head, then parts, each
//   "--" boundary CRLF "Content-Type: " type CRLF "Content-Length: " N CRLF
//   CRLF body CRLF
// (with `odd_case`, the header lines spelled as AppendHeader spells them).
// The engine does not trust Content-Length: a part ends where the next
// boundary begins, the CRLF before it not being part of the body.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "camera/local_stamp.h"

namespace ravelon::cli {

// The content types the engine's parser knows, written exactly so.
inline constexpr std::string_view kJpegType = "image/jpeg";
inline constexpr std::string_view kTextType = "text/plain";
inline constexpr std::string_view kEventType = "text/x-vesper-event";
inline constexpr std::string_view kEventListType = "text/x-vesper-event-list";
inline constexpr std::string_view kKeepAliveType = "text/keepalive";

// Appends one whole part to `out`.
void AppendPart(std::string& out, std::string_view boundary, std::string_view content_type,
                std::string_view body, bool odd_case);

// Appends a part's head only, for a body of `body_length` bytes that the
// caller sends itself, followed by CRLF.
void AppendPartHead(std::string& out, std::string_view boundary, std::string_view content_type,
                    uint64_t body_length, bool odd_case);

// The label drawn into a frame and sent in its text part: the frame number
// on one line, the local date and time on the next.
std::string FrameLabel(uint64_t number, const LocalStamp& stamp);

// A receipt printer's output for an event part: a few lines and the
// printer's cut command (ESC 'i'), which completes the engine's event list.
std::string ReceiptText(uint64_t number, const LocalStamp& stamp);

// An event-list body of two events, "DOOR OPEN" a second before `stamp` and
// "DOOR CLOSED" at it: records of a 32-bit little-endian length and the
// event (date and time as little-endian IEEE doubles, then the text).
std::string EventListBody(uint64_t number, const LocalStamp& stamp);

}  // namespace ravelon::cli
