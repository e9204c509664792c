// The response header. Of the whole header only one line matters: the first
// "Content-Type" line. In streaming mode it must name a multipart type and
// its boundary; in single-response mode the body after the header is the image.
#include <algorithm>
#include <memory>
#include <string>

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

// The first line end after the name sets the style of the whole header. The
// header arrives in pieces: each search goes on from where the last stopped.
bool StreamReader::FindContentTypeLine(int32_t& start, int32_t& end, std::string_view& lineEnd) {
  constexpr std::string_view kName = "Content-Type";
  HeaderSearch& search = m_headerSearch;
  if (search.contentType == 0) {
    search.contentType = Find(std::max(search.scanFrom, 1), kName, kTextCompare);
    if (search.contentType == 0) {
      // A name cut between two arrivals begins in the last bytes held.
      search.scanFrom = m_inputLength - static_cast<int32_t>(kName.size()) + 2;
      return false;
    }
    search.scanFrom = search.contentType;
  }
  start = search.contentType;
  // The first LF ends the line; a CR just before it makes the style CR LF.
  // A line too long is refused whether or not its end has come, so that every
  // arrival does not read it again, and however the stream is cut.
  const int32_t lf = Find(std::max(search.scanFrom, start), "\n", kBinaryCompare);
  if ((lf == 0 ? m_inputLength + 1 : lf) - start > kMaxHeaderLineBytes) {
    m_brokenReason = "response header line over " + std::to_string(kMaxHeaderLineBytes) + " bytes";
    return false;
  }
  if (lf == 0) {
    search.scanFrom = m_inputLength + 1;
    return false;
  }
  search.scanFrom = lf;
  const bool crlf = lf > start && InputData()[lf - 2] == '\r';
  end = crlf ? lf - 1 : lf;
  lineEnd = crlf ? "\r\n" : "\n";
  return true;
}

bool StreamReader::TakeResponseHeader(bool discoverBoundary) {
  int32_t ct = 0, eol = 0;
  std::string_view line_end;
  if (FindContentTypeLine(ct, eol, line_end)) {
    std::string value = BoundaryOf(std::string_view(InputData() + ct - 1, eol - ct));
    const bool dashed = value.rfind("--", 0) == 0;
    if (!AcceptableBoundary(value.size() - (dashed ? 2 : 0))) return false;
    if (static_cast<int32_t>(value.size()) >= kMinBoundaryLength) {
      SetBoundary(dashed ? std::move(value) : "--" + value,
                  eol - 1 + static_cast<int32_t>(line_end.size()));
      return true;
    }
  }
  return m_brokenReason.empty() && discoverBoundary && DiscoverBoundary();
}

// False, with the reason, for a boundary too long to be one (`length` does
// not count its leading "--").
bool StreamReader::AcceptableBoundary(size_t length) {
  if (length <= static_cast<size_t>(kMaxBoundaryLength)) return true;
  m_brokenReason = "boundary over " + std::to_string(kMaxBoundaryLength) + " characters";
  return false;
}

// Goes through the response line by line, from where the last arrival left
// off: leading line ends, then (unless the body starts at once with "--") the
// header up to its blank line, then the body's lines up to one that begins
// with "--".
bool StreamReader::DiscoverBoundary() {
  const std::string_view data = Data();
  HeaderSearch& search = m_headerSearch;
  size_t& at = search.discoverAt;
  if (search.discoverStage == HeaderSearch::kLeadingLineEnds) {
    at = std::min(data.find_first_not_of("\r\n", at), data.size());
    if (at + 2 > data.size()) return false;
    search.discoverStage =
        data.compare(at, 2, "--") == 0 ? HeaderSearch::kBodyLines : HeaderSearch::kHeaderLines;
  }
  if (search.discoverStage == HeaderSearch::kHeaderLines) {
    // The header ends in a blank line: a line end, an optional CR, a line end.
    for (;;) {
      const size_t lf = data.find('\n', at);
      if (lf == std::string_view::npos) {
        at = data.size();
        return false;
      }
      const size_t next = lf + 1 + (lf + 1 < data.size() && data[lf + 1] == '\r' ? 1 : 0);
      if (next >= data.size()) {
        at = lf;  // look at this line end again when more has come
        return false;
      }
      at = lf + 1;
      if (data[next] == '\n') {
        at = next + 1;
        break;
      }
    }
    search.discoverStage = HeaderSearch::kBodyLines;
  }
  // The first line from there that begins with "--" (a preamble may come first).
  for (;;) {
    const size_t lf = data.find('\n', std::max(at, search.discoverScan));
    if (lf == std::string_view::npos) {
      search.discoverScan = data.size();  // wait for the line's end
      return false;
    }
    std::string_view text = data.substr(at, lf - at);
    while (!text.empty() && (text.back() == '\r' || text.back() == ' ' || text.back() == '\t')) {
      text.remove_suffix(1);
    }
    if (text.size() >= 2 + static_cast<size_t>(kMinBoundaryLength) && text.substr(0, 2) == "--") {
      if (!AcceptableBoundary(text.size() - 2)) return false;
      SetBoundary(std::string(text), static_cast<int32_t>(at));
      return true;
    }
    at = lf + 1;
  }
}

// The boundary found, and `consumed` bytes of header dropped before the parts.
void StreamReader::SetBoundary(std::string boundary, int32_t consumed) {
  m_boundary = std::move(boundary);
  DiscardHead(consumed);
  m_crlfEndMemo = m_lfEndMemo = SearchMemo{};  // they belonged to another boundary
  m_headerSearch = HeaderSearch{};
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
