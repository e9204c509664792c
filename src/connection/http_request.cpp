#include "connection/http_request.h"

namespace ravelon {
namespace {

constexpr char kLineEnd[] = "\r\n";
constexpr int32_t kHttpPort = 80;

}  // namespace

std::string HostValue(const std::string& address, int32_t port) {
  // A bare IPv6 address would read as a host and a port at its last colon.
  const bool needs_brackets = address.find(':') != std::string::npos && address.front() != '[';
  std::string host = needs_brackets ? "[" + address + "]" : address;
  if (port != kHttpPort) host += ":" + std::to_string(port);
  return host;
}

std::string BuildRequest(const RequestTarget& target) {
  if (target.style == RequestStyle::kBare) {
    return "GET " + target.path + kLineEnd + target.authorizationLine + kLineEnd;
  }
  const char* version = target.style == RequestStyle::kHttp10 ? " HTTP/1.0" : " HTTP/1.1";
  std::string request = "GET " + target.path + version + kLineEnd;
  request += "Host: " + HostValue(target.address, target.port) + kLineEnd;
  request += "User-Agent: Ravelon/" RAVELON_VERSION + std::string(kLineEnd);
  if (target.singleResponse) request += "Connection: close" + std::string(kLineEnd);
  request += target.authorizationLine;
  return request + kLineEnd;
}

}  // namespace ravelon
