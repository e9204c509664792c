#include "camera/response_head.h"

#include <cctype>

namespace ravelon::cli {
namespace {

std::string OddCase(std::string_view name) {
  const size_t dash = name.find('-');
  std::string odd(name);
  for (size_t i = 0; i < odd.size(); ++i) {
    const auto byte = static_cast<unsigned char>(odd[i]);
    const bool upper = dash == std::string_view::npos || i > dash;
    odd[i] = static_cast<char>(upper ? std::toupper(byte) : std::tolower(byte));
  }
  return odd;
}

std::string Padded(std::string_view value) {
  std::string padded = "   ";
  for (size_t start = 0;;) {
    const size_t separator = value.find("; ", start);
    padded.append(value.substr(start, separator - start));
    if (separator == std::string_view::npos) break;
    padded.append(" ;   ");
    start = separator + 2;
  }
  return padded + "  ";
}

// HTTP/1.1 for chunked bodies, which HTTP/1.0 does not know; the camera
// closes after every response, which an HTTP/1.1 server must announce.
void AppendStatusLine(std::string& out, const CameraOptions& options) {
  out.append(options.chunked ? "HTTP/1.1 200 OK\r\n" : "HTTP/1.0 200 OK\r\n");
  if (options.chunked) AppendHeader(out, "Connection", "close", options.odd_header_case);
}

void AppendBodyFraming(std::string& out, const CameraOptions& options, uint64_t length) {
  if (options.chunked) {
    AppendHeader(out, "Transfer-Encoding", "chunked", options.odd_header_case);
  } else {
    AppendHeader(out, "Content-Length", std::to_string(length), options.odd_header_case);
  }
}

}  // namespace

void AppendHeader(std::string& out, std::string_view name, std::string_view value, bool odd_case) {
  out.append(odd_case ? OddCase(name) : std::string(name));
  out.append(":");
  out.append(odd_case ? Padded(value) : " " + std::string(value));
  out.append("\r\n");
}

std::string StreamResponseHead(const CameraOptions& options, std::string_view boundary) {
  if (options.header == HeaderStyle::kNone) return std::string();
  std::string head;
  AppendStatusLine(head, options);
  const std::string type = options.header == HeaderStyle::kOctetStream
                               ? "application/octet-stream"
                               : "multipart/x-mixed-replace; boundary=" + std::string(boundary);
  AppendHeader(head, "Content-Type", type, options.odd_header_case);
  if (options.chunked) AppendHeader(head, "Transfer-Encoding", "chunked", options.odd_header_case);
  head.append("\r\n");
  return head;
}

std::string SingleImageHead(const CameraOptions& options, uint64_t jpeg_length) {
  std::string head;
  AppendStatusLine(head, options);
  AppendHeader(head, "Content-Type", "image/jpeg", options.odd_header_case);
  AppendBodyFraming(head, options, jpeg_length);
  head.append("\r\n");
  return head;
}

std::string StatusResponse(int code, std::string_view reason, const HeaderList& extra,
                           bool odd_case) {
  std::string response = "HTTP/1.0 " + std::to_string(code) + " ";
  response.append(reason);
  response.append("\r\n");
  for (const auto& [name, value] : extra) AppendHeader(response, name, value, odd_case);
  AppendHeader(response, "Content-Length", "0", odd_case);
  response.append("\r\n");
  return response;
}

}  // namespace ravelon::cli
