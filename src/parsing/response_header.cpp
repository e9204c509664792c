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

bool StreamReader::TakeResponseHeader() {
  int32_t ct = 0, eol = 0;
  std::string_view line_end;
  if (!FindContentTypeLine(ct, eol, line_end)) return false;
  std::string value = BoundaryOf(std::string_view(InputData() + ct - 1, eol - ct));
  if (static_cast<int32_t>(value.size()) < kMinBoundaryLength) return false;
  m_boundary = value.rfind("--", 0) == 0 ? std::move(value) : "--" + value;
  DiscardHead(eol - 1 + static_cast<int32_t>(line_end.size()));
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};  // they belonged to another boundary
  return true;
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
