// RequestStyle: how an engine writes the request for its source's path. A
// plain value, set per source by the host or read from the source's key.
#pragma once

#include <cstdint>

namespace ravelon {

enum class RequestStyle : uint8_t {
  // "GET <path>", the Basic authorization line if any, and a blank line: no
  // protocol version, no Host line. What the engine has always sent.
  kBare = 0,
  // "GET <path> HTTP/1.0" (or 1.1) with Host and User-Agent lines, and
  // "Connection: close" when each request gets one image. Servers built on
  // common HTTP stacks refuse or misread the bare request.
  kHttp10 = 1,
  kHttp11 = 2,
};

}  // namespace ravelon
