// The bytes the test camera sends, as the engine's parser reads them: the
// response heads, multipart parts with their content types, the one-image
// response of polling mode, and the bodies of the optional text and event
// parts. Pure functions of their arguments; any thread.
//
// A stream is the head, then parts, each
//   "--" boundary CRLF "Content-Type: " type CRLF "Content-Length: " N CRLF
//   CRLF body CRLF
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

// "HTTP/1.0 200 OK" and the multipart content type with `boundary`.
std::string StreamResponseHead(std::string_view boundary);

// Appends one whole part to `out`.
void AppendPart(std::string& out, std::string_view boundary, std::string_view content_type,
                std::string_view body);

// Appends a part's head only, for a body of `body_length` bytes that the
// caller sends itself, followed by CRLF.
void AppendPartHead(std::string& out, std::string_view boundary, std::string_view content_type,
                    uint64_t body_length);

// The whole response of polling mode: one JPEG with its length, then CRLF,
// which the engine expects after the image and drops; the camera closes after.
std::string SingleImageResponse(std::string_view jpeg);

// A response without a body that ends the connection ("401 Unauthorized"
// and the like). `extra_headers` is "" or complete lines, each ending CRLF.
std::string StatusResponse(int code, std::string_view reason, std::string_view extra_headers);

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
