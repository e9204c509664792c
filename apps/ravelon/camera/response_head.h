// The response heads of the test camera: the status line and header lines of
// a stream, of a single image and of a refusal, spelled as the camera's
// options ask (HTTP/1.1 and "Transfer-Encoding: chunked" for chunked bodies,
// another content type or no head at all, header names in odd letter case
// with padded values). Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "camera/camera_options.h"

namespace ravelon::cli {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Appends "Name: value" CRLF; with `odd_case`, "content-TYPE:   value  "
// (the first word of the name in lower case, the rest in upper case; a name
// of one word all in upper case) and every "; " in the value as " ;   ".
void AppendHeader(std::string& out, std::string_view name, std::string_view value, bool odd_case);

// The head of a stream that separates its parts with `boundary`, up to and
// including its blank line; "" when the options ask for no head.
std::string StreamResponseHead(const CameraOptions& options, std::string_view boundary);

// The head of polling mode's response: one JPEG of `jpeg_length` bytes. The
// body that follows is the JPEG and a CRLF, which the engine expects after
// the image and drops; Content-Length counts the JPEG only.
std::string SingleImageHead(const CameraOptions& options, uint64_t jpeg_length);

// A whole response without a body that ends the connection ("401
// Unauthorized" and the like), with `extra` header lines.
std::string StatusResponse(int code, std::string_view reason, const HeaderList& extra,
                           bool odd_case);

}  // namespace ravelon::cli
