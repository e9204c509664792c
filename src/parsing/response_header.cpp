// The response-header stage. Of the whole response header only one line
// matters: the first "Content-Type" line. In streaming mode it must name a
// multipart type and its boundary; in single-response mode the body after the
// header is the image.
#include "parsing/byte_search.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr int32_t kPartTimeoutMs = 15'000;
constexpr size_t kMinBoundaryLength = 2;

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

void Korvid::ProcessResponseHeader() {
  const int32_t ct = FindInInputBuffer(1, "Content-Type", kTextCompare);
  if (ct == 0) return;
  // The first line end after the name sets the style of the whole header.
  int32_t eol = FindInInputBuffer(ct, "\r\n", kBinaryCompare);
  std::string_view line_end = "\r\n";
  const int32_t lf = FindInInputBuffer(ct, "\n", kBinaryCompare);
  if (eol == 0 || (lf != 0 && lf < eol)) {
    eol = lf;
    line_end = "\n";
  }
  if (eol == 0) return;  // the line is not complete yet

  if (!m_streaming) {
    TakeSingleResponse(ct, line_end);
    return;
  }
  const std::string_view line(InputData() + ct - 1, eol - ct);
  std::string value = BoundaryOf(line);
  if (value.size() < kMinBoundaryLength) return;  // the header timeout will end this attempt
  m_boundary = value.rfind("--", 0) == 0 ? std::move(value) : "--" + value;

  TimeoutTimer->SetEnabled(false);
  DiscardInputBufferHead(eol - 1 + static_cast<int32_t>(line_end.size()));
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};  // they belonged to another boundary
  m_connectionState = kReadingParts;
  TimeoutTimer->SetInterval(kPartTimeoutMs);
  TimeoutTimer->SetEnabled(true);
  ProcessPart();
}

// Single-response mode, called when the source has closed: the body runs
// from after the header's blank line to the end, less the two bytes of the
// line end that sources put after the image.
void Korvid::TakeSingleResponse(int32_t contentTypePos, std::string_view lineEnd) {
  const std::string blank_line = std::string(lineEnd) + std::string(lineEnd);
  const int32_t header_end = FindInInputBuffer(contentTypePos, blank_line, kBinaryCompare);
  if (header_end == 0) return;  // the response timeout follows
  const int32_t body_start = header_end + static_cast<int32_t>(blank_line.size());
  const int32_t body_length = m_inputLength - (body_start - 1) - 2;
  // A response with fewer than two bytes after its header carries no image:
  // no frame is made, and polling goes on with the next request.
  std::string body;
  if (body_length > 0) body.assign(InputData() + body_start - 1, body_length);
  ClearInputBuffer();
  TimeoutTimer->SetEnabled(false);
  if (body_length > 0) {
    auto frame = std::make_shared<MediaFrame>();
    frame->SetData(kJpeg, std::move(body));
    HandleNewFrame(frame);
  }
  m_connectionState = kPollWait;
  TimeoutTimer->SetInterval(m_pollInterval);
  TimeoutTimer->SetEnabled(true);
}

}  // namespace ravelon
