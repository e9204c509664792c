// The bytes of the request an engine sends for its source's path, in each
// RequestStyle. Pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>

#include "ravelon/request_style.h"

namespace ravelon {

struct RequestTarget {
  RequestStyle style = RequestStyle::kBare;
  std::string path;     // begins with "/"
  std::string address;  // as configured: a name, an IPv4 or an IPv6 address
  int32_t port = 80;
  bool singleResponse = false;  // each request gets one image
  // "" or a complete "Authorization: ..." line, CR LF included.
  std::string authorizationLine;
};

// The request with its blank line. The bare style is "GET " path CR LF, the
// authorization line, CR LF, byte for byte as the engine has always sent it.
std::string BuildRequest(const RequestTarget& target);

// The Host line's value: the address (an IPv6 address in brackets), with
// ":port" unless the port is HTTP's own 80.
std::string HostValue(const std::string& address, int32_t port);

}  // namespace ravelon
