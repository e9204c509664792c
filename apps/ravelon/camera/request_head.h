// The request a client sends the test camera, read up to its blank line.
// The engine may send a bare "GET <path>" line, maybe an "Authorization"
// line, and a blank line: no HTTP version, no Host. Browsers and tools send
// HTTP/1.0 or 1.1 requests. Both are read (the request gate may then refuse
// a bare one); lines may end in CRLF or LF.
// Pure functions; any thread.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace ravelon::cli {

enum class HeadStatus {
  kIncomplete,  // no blank line yet: read more
  kComplete,    // `head_size` bytes, up to and including the blank line
  kTooLarge,    // no blank line within the limit
};

// Looks for the end of the head in what has arrived so far; a head of more
// than `limit` bytes is kTooLarge as soon as that is certain.
HeadStatus FindHeadEnd(std::string_view received, size_t limit, size_t& head_size);

struct RequestHead {
  std::string method;
  std::string path;
  std::string version;        // "" for the engine's bare request line
  std::string authorization;  // the Authorization header's value, "" if none
};

// Parses a complete head. False when the request line is not "METHOD PATH"
// or "METHOD PATH HTTP/x", or a header line has no "name:".
bool ParseRequestHead(std::string_view head, RequestHead& request);

// True when no credentials are demanded (both empty), or `authorization` is
// "Basic" (any case) with the Base64 of exactly "user:password".
bool Authorized(std::string_view authorization, std::string_view user, std::string_view password);

// Base64 with padding (RFC 4648), as Basic authorization carries it.
std::string Base64(std::string_view bytes);

}  // namespace ravelon::cli
