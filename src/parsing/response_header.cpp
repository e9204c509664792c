// The response header. Of the whole header only one line matters: the first
// "Content-Type" line. In streaming mode it must name a multipart type and
// its boundary; in single-response mode the body after the header is the image.
#include <memory>

#include "parsing/byte_search.h"
#include "parsing/stream_reader.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

// The boundary value of a content-type line, or "" when it has none usable:
// everything after "=" (which follows "boundary", which follows "multipart"),
// blanks trimmed, one pair of enclosing quotes removed.
std::string BoundaryOf(std::string_view line) {
  const size_t multipart = FindBytes(line, "multipart", /*ignore_case=*/true);
  if (multipart == std::string_view::npos) return "";
  const size_t boundary = FindBytes(line.substr(multipart), "boundary", /*ignore_case=*/true);
  if (boundary == std::string_view::npos) return "";
  const size_t equals = line.find('=', multipart + boundary);
  if (equals == std::string_view::npos) return "";
  std::string_view value = line.substr(equals + 1);
  while (!value.empty() && value.front() == ' ') value.remove_prefix(1);
  while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
  if (value.size() >= 2 && value.front() == '"' && value.back() == '"') {
    value = value.substr(1, value.size() - 2);
  }
  return std::string(value);
}

}  // namespace

// The first line end after the name sets the style of the whole header.
bool StreamReader::FindContentTypeLine(int32_t& start, int32_t& end,
                                       std::string_view& lineEnd) const {
  start = Find(1, "Content-Type", kTextCompare);
  if (start == 0) return false;
  end = Find(start, "\r\n", kBinaryCompare);
  lineEnd = "\r\n";
  const int32_t lf = Find(start, "\n", kBinaryCompare);
  if (end == 0 || (lf != 0 && lf < end)) {
    end = lf;
    lineEnd = "\n";
  }
  return end != 0;  // false while the line is not complete
}

bool StreamReader::TakeResponseHeader(bool discoverBoundary) {
  int32_t ct = 0, eol = 0;
  std::string_view line_end;
  if (FindContentTypeLine(ct, eol, line_end)) {
    std::string value = BoundaryOf(std::string_view(InputData() + ct - 1, eol - ct));
    if (static_cast<int32_t>(value.size()) >= kMinBoundaryLength) {
      SetBoundary(value.rfind("--", 0) == 0 ? std::move(value) : "--" + value,
                  eol - 1 + static_cast<int32_t>(line_end.size()));
      return true;
    }
  }
  return discoverBoundary && DiscoverBoundary();
}

bool StreamReader::DiscoverBoundary() {
  const std::string_view data = Data();
  size_t body = data.find_first_not_of("\r\n");
  if (body == std::string_view::npos) return false;
  if (data.compare(body, 2, "--") != 0) {
    // After the header's blank line: a line end, an optional CR, a line end.
    for (size_t lf = data.find('\n');; lf = data.find('\n', lf + 1)) {
      if (lf == std::string_view::npos) return false;
      body = lf + 1 + (lf + 1 < data.size() && data[lf + 1] == '\r' ? 1 : 0);
      if (body < data.size() && data[body] == '\n') break;
    }
  }
  // The first line from there that begins with "--" (a preamble may come first).
  for (size_t line = body; line < data.size();) {
    const size_t lf = data.find('\n', line);
    if (lf == std::string_view::npos) return false;  // wait for the line's end
    std::string_view text = data.substr(line, lf - line);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    }
    if (text.size() >= 2 + static_cast<size_t>(kMinBoundaryLength) && text.substr(0, 2) == "--") {
      SetBoundary(std::string(text), static_cast<int32_t>(line));
      return true;
    }
    line = lf + 1;
  }
  return false;
}

// The boundary found, and `consumed` bytes of header dropped before the parts.
void StreamReader::SetBoundary(std::string boundary, int32_t consumed) {
  m_boundary = std::move(boundary);
  DiscardHead(consumed);
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};  // they belonged to another boundary
}

bool StreamReader::TakeSingleResponse(std::shared_ptr<MediaFrame>& frame) {
  frame = nullptr;
  int32_t ct = 0, eol = 0;
  std::string_view line_end;
  if (!FindContentTypeLine(ct, eol, line_end)) return false;
  const std::string blank_line = std::string(line_end) + std::string(line_end);
  const int32_t header_end = Find(ct, blank_line, kBinaryCompare);
  if (header_end == 0) return false;
  const int32_t body_start = header_end + static_cast<int32_t>(blank_line.size());
  const int32_t body_length = m_inputLength - (body_start - 1) - 2;
  if (body_length > 0) {
    frame = std::make_shared<MediaFrame>();
    frame->SetData(kJpeg, std::string(InputData() + body_start - 1, body_length));
  }
  Clear();
  return true;
}

}  // namespace ravelon
