// Reading what an MJPEG server sent, for wire-level tests: the content of a
// chunked body, and the parts of a multipart body. Small and strict on
// purpose: a framing error shows as a failed test, not as a repaired stream.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace ravelon::cli::testing {

// The content of a chunked body as far as it has come; `ended` once the last
// chunk and its trailer have come too. `ok` is false when the framing breaks.
struct Dechunked {
  std::string content;
  bool ended = false;
  bool ok = true;
};

inline Dechunked Dechunk(std::string_view raw) {
  Dechunked out;
  for (;;) {
    const size_t line_end = raw.find("\r\n");
    if (line_end == std::string_view::npos) return out;  // cut short
    size_t size = 0;  // the hex digits; an extension after them is skipped
    if (std::sscanf(std::string(raw.substr(0, line_end)).c_str(), "%zx", &size) != 1) {
      out.ok = false;
      return out;
    }
    raw.remove_prefix(line_end + 2);
    if (size == 0) {  // trailer lines up to a blank line
      out.ended = raw.starts_with("\r\n") || raw.find("\r\n\r\n") != std::string_view::npos;
      return out;
    }
    if (raw.size() < size + 2) return out;  // cut short
    if (raw.substr(size, 2) != "\r\n") {
      out.ok = false;
      return out;
    }
    out.content.append(raw.substr(0, size));
    raw.remove_prefix(size + 2);
  }
}

struct Part {
  std::string head;  // the header lines, without the blank line
  std::string body;  // without the CRLF before the next boundary
};

// The whole parts of `body` (those a next boundary line closes); anything
// before the first "--boundary" line is skipped. A part without a blank line
// after its head comes back with the head only.
inline std::vector<Part> SplitParts(std::string_view body, std::string_view boundary) {
  const std::string line = "--" + std::string(boundary) + "\r\n";
  std::vector<Part> parts;
  size_t at = body.find(line);
  if (at == std::string_view::npos) return parts;
  for (at += line.size();;) {
    const size_t next = body.find("\r\n" + line, at);
    if (next == std::string_view::npos) return parts;
    const std::string_view part = body.substr(at, next - at);
    const size_t blank = part.find("\r\n\r\n");
    if (blank == std::string_view::npos) {
      parts.push_back({std::string(part), ""});
    } else {
      parts.push_back({std::string(part.substr(0, blank)), std::string(part.substr(blank + 4))});
    }
    at = next + 2 + line.size();
  }
}

inline bool IsJpeg(std::string_view bytes) {
  return bytes.starts_with("\xFF\xD8") && bytes.ends_with("\xFF\xD9");
}

}  // namespace ravelon::cli::testing
