// Part framing: finds the next complete part of the multipart stream, reads
// its header lines and makes its frame.
#include <algorithm>
#include <climits>

#include "common/string_helpers.h"
#include "parsing/byte_search.h"
#include "parsing/stream_reader.h"

namespace ravelon {

StreamReader::PartKind StreamReader::TakePart(std::shared_ptr<MediaFrame>& frame) {
  frame = nullptr;
  if (m_boundaryPos > m_inputLength) m_boundaryPos = 0;
  if (m_boundaryPos < 1) m_boundaryPos = Find(1, m_boundary, kTextCompare);
  const int32_t boundary_length = static_cast<int32_t>(m_boundary.size());
  if (m_boundaryPos == 0) {
    // A boundary may be cut between two arrivals: keep only what could be its start.
    if (m_inputLength > boundary_length) KeepTail(boundary_length);
    m_partEndSearchPos = 0;
    return kNoPart;
  }
  const int32_t opening = m_boundaryPos;
  if (m_partEndSearchPos > m_inputLength) m_partEndSearchPos = 0;
  m_partEndSearchPos = std::max(m_partEndSearchPos, opening + boundary_length);

  int32_t line_end_length = 0;
  const int32_t end = FindPartEnd(m_partEndSearchPos, line_end_length);
  if (end == 0) {
    // Resume where an end could have begun to arrive: its line end and boundary.
    m_partEndSearchPos = m_inputLength - (boundary_length + 2);
    return HeadOutgrowsLimit(opening) ? Broken("part header", kMaxPartHeaderBytes, "bytes")
                                      : kNoPart;
  }
  m_boundaryPos = 0;
  m_partEndSearchPos = 0;
  const std::string_view line_end = line_end_length == 2 ? "\r\n" : "\n";
  // The blank line is looked for only up to the part's end and the head limit.
  const int32_t header_end = Find(opening, line_end_length == 2 ? "\r\n\r\n" : "\n\n",
                                  kBinaryCompare, std::min(end, opening + kMaxPartHeaderBytes));
  if (header_end == 0) {
    if (end - opening > kMaxPartHeaderBytes)
      return Broken("part header", kMaxPartHeaderBytes, "bytes");
    // A small header without its blank line before the end: the part stays,
    // and parsing stays here until the part timeout or the input limit.
    return kNoPart;
  }
  const std::string_view head(InputData() + opening - 1, header_end - opening);
  if (std::count(head.begin(), head.end(), '\n') >= kMaxPartHeaderLines) {
    return Broken("part header", kMaxPartHeaderLines, "lines");
  }
  if (LongestLine(head) > kMaxHeaderLineBytes) {
    return Broken("part header line", kMaxHeaderLineBytes, "bytes");
  }

  m_bufferIdleParts = std::min(m_bufferIdleParts + 1, kIdlePartsBeforeReduction);
  std::string content_type = ParsePartHeaders(head, line_end);
  std::transform(content_type.begin(), content_type.end(), content_type.begin(), AsciiLower);
  const int32_t body_start = header_end + 2 * line_end_length;
  const PartKind kind = MakePartFrame(content_type, body_start, end - body_start, frame);
  DiscardHead(end - 1);  // the part is consumed whatever happens next
  m_headFitsFor = 0;
  return kind;
}

// True when the part that opens at `opening` has, before its end has come,
// already more than kMaxPartHeaderBytes of head with no blank line (of either
// line-end style) in them. Decided only once that many bytes and a whole
// boundary after them are held, so that the same stream cut into other
// arrivals breaks at the same part; looked at once per part.
bool StreamReader::HeadOutgrowsLimit(int32_t opening) {
  const int32_t boundary_length = static_cast<int32_t>(m_boundary.size());
  if (m_headFitsFor == opening ||
      m_inputLength - opening < kMaxPartHeaderBytes + boundary_length + 4) {
    return false;
  }
  const int32_t last_start = opening + kMaxPartHeaderBytes;
  if (Find(opening, "\n\n", kBinaryCompare, last_start) == 0 &&
      Find(opening, "\n\r\n", kBinaryCompare, last_start) == 0) {
    return true;
  }
  m_headFitsFor = opening;
  return false;
}

StreamReader::PartKind StreamReader::Broken(const std::string& what, int32_t limit,
                                            const char* unit) {
  m_brokenReason = what + " over " + std::to_string(limit) + " " + unit;
  return kBroken;
}

// Position of the current part's end at or after `from`, or 0; sets the
// length of the line end that precedes the boundary there (2 for CR LF, and
// for a boundary with no line end before it).
//
// One pass over the boundary's occurrences finds all three kinds of end. A
// stream whose boundaries never follow a CR LF would make every part search
// the whole rest of the buffer for one; the memos remember stretches already
// known to hold no such end, so hostile input cannot make parsing quadratic.
int32_t StreamReader::FindPartEnd(int32_t from, int32_t& lineEndLength) {
  const char* data = InputData();
  const auto skip = [](const SearchMemo& memo, int32_t pos) {
    return pos >= memo.from && pos < memo.to ? memo.to : pos;
  };
  int32_t first_lf_end = 0;
  int32_t first_bare_end = 0;
  for (int32_t next = from;;) {
    if (first_bare_end != 0) {
      next = std::min(skip(m_crlfEndMemo, next),
                      first_lf_end != 0 ? INT32_MAX : skip(m_lfEndMemo, next));
    }
    const int32_t q = Find(next, m_boundary, kTextCompare);
    if (q == 0) break;
    if (first_bare_end == 0) first_bare_end = q;
    if (q - 2 >= from && data[q - 3] == '\r' && data[q - 2] == '\n') {
      lineEndLength = 2;
      return q - 2;
    }
    if (first_lf_end == 0 && q - 1 >= from && data[q - 2] == '\n') first_lf_end = q - 1;
    next = q + 1;
  }
  // Every boundary that has wholly arrived after `from` was examined.
  const SearchMemo examined{from, m_inputLength - static_cast<int32_t>(m_boundary.size()) + 2};
  const auto remember = [&examined](SearchMemo& memo) {
    const bool touching =
        memo.to > memo.from && examined.from <= memo.to && memo.from <= examined.to;
    memo = touching ? SearchMemo{std::min(memo.from, examined.from), std::max(memo.to, examined.to)}
                    : examined;
  };
  remember(m_crlfEndMemo);
  if (first_lf_end != 0) {
    lineEndLength = 1;
    return first_lf_end;
  }
  remember(m_lfEndMemo);
  lineEndLength = 2;
  return first_bare_end;
}

size_t StreamReader::LongestLine(std::string_view text) {
  size_t longest = 0;
  for (size_t start = 0; start <= text.size();) {
    const size_t lf = std::min(text.find('\n', start), text.size());
    longest = std::max(longest, lf - start);
    start = lf + 1;
  }
  return longest;
}

std::string StreamReader::ParsePartHeaders(std::string_view headerBlock, std::string_view lineEnd) {
  m_partHeaders.Clear();
  const std::vector<std::string> lines = SplitString(headerBlock, lineEnd);
  for (size_t i = 1; i < lines.size(); ++i) m_partHeaders.AddParameterFromString(lines[i], ":");
  std::string content_type;
  m_partHeaders.getParameterByName("content-type", content_type);
  return content_type;
}

}  // namespace ravelon
