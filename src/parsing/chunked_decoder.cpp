#include "parsing/chunked_decoder.h"

#include <algorithm>
#include <utility>

#include "common/engine_limits.h"
#include "common/hex_encoding.h"

namespace ravelon {
namespace {

// The characters of a field name (an HTTP token).
bool IsTokenChar(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         std::string_view("!#$%&'*+-.^_`|~").find(c) != std::string_view::npos;
}

}  // namespace

ChunkedDecoder::Status ChunkedDecoder::Decode(std::string_view arrival, std::string& out) {
  std::string_view in = arrival;
  while (!in.empty() && m_state != State::kDone && m_state != State::kBroken) {
    if (m_state == State::kData) {
      const size_t n = static_cast<size_t>(std::min<int64_t>(m_chunkLeft, in.size()));
      out.append(in.data(), n);
      in.remove_prefix(n);
      m_chunkLeft -= static_cast<int64_t>(n);
      if (m_chunkLeft == 0) m_state = State::kDataLineEnd;
      continue;
    }
    // The line after chunk data must be empty: a limit of 0 breaks on its
    // first byte that is not part of a line end.
    const size_t limit = m_state == State::kSizeLine      ? kChunkSizeLineLimit
                         : m_state == State::kTrailerLine ? kChunkTrailerLineLimit
                                                          : 0;
    std::string_view line;
    const LineResult result = TakeLine(in, limit, line);
    if (result == LineResult::kTooLong) {
      Break(m_state == State::kSizeLine
                ? "A chunk-size line runs past " + std::to_string(kChunkSizeLineLimit) + " bytes."
            : m_state == State::kTrailerLine
                ? "A trailer line runs past " + std::to_string(kChunkTrailerLineLimit) + " bytes."
                : std::string("Chunk data is not followed by a line end."));
    } else if (result == LineResult::kComplete) {
      if (m_state == State::kSizeLine) {
        OnSizeLine(line);
      } else if (m_state == State::kTrailerLine) {
        OnTrailerLine(line);
      } else {
        m_state = State::kSizeLine;
      }
      m_pendingLine.clear();
    }
  }
  m_consumed = arrival.size() - in.size();
  return m_state == State::kDone     ? Status::kDone
         : m_state == State::kBroken ? Status::kBroken
                                     : Status::kMore;
}

void ChunkedDecoder::Reset() {
  m_state = State::kSizeLine;
  m_chunkLeft = 0;
  m_pendingLine.clear();
  m_consumed = 0;
  m_error.clear();
}

ChunkedDecoder::LineResult ChunkedDecoder::TakeLine(std::string_view& in, size_t limit,
                                                    std::string_view& line) {
  const size_t lf = in.find('\n');
  if (lf == std::string_view::npos) {
    // Too long already, unless the one byte past the limit is a CR that the
    // next arrival's LF makes a line end.
    const size_t held = m_pendingLine.size() + in.size();
    if (held > limit + 1 || (held == limit + 1 && in.back() != '\r')) {
      return LineResult::kTooLong;
    }
    m_pendingLine.append(in);
    in = {};
    return LineResult::kPending;
  }
  const char last = lf > 0 ? in[lf - 1] : m_pendingLine.empty() ? '\0' : m_pendingLine.back();
  const size_t length = m_pendingLine.size() + lf - (last == '\r' ? 1 : 0);
  if (length > limit) return LineResult::kTooLong;
  if (m_pendingLine.empty()) {
    line = in.substr(0, length);
  } else {
    m_pendingLine.append(in.data(), lf);
    line = std::string_view(m_pendingLine).substr(0, length);
  }
  in.remove_prefix(lf + 1);
  return LineResult::kComplete;
}

void ChunkedDecoder::OnSizeLine(std::string_view line) {
  if (line.empty()) return Break("A chunk-size line is empty.");
  size_t digits = 0;
  int64_t size = 0;
  for (int value; digits < line.size() && (value = HexDigitValue(line[digits])) >= 0; ++digits) {
    size = size * 16 + value;
    if (size > kChunkSizeLimit) {
      return Break("A chunk size is over " + std::to_string(kChunkSizeLimit) + " bytes.");
    }
  }
  if (digits == 0) return Break("A chunk-size line does not start with a hexadecimal size.");
  const size_t rest = line.find_first_not_of(" \t", digits);
  if (rest != std::string_view::npos && line[rest] != ';') {
    return Break("A chunk size is followed by something other than an extension.");
  }
  m_chunkLeft = size;
  m_state = size > 0 ? State::kData : State::kTrailerLine;
}

void ChunkedDecoder::OnTrailerLine(std::string_view line) {
  if (line.empty()) {
    m_state = State::kDone;
    return;
  }
  const size_t colon = line.find(':');
  if (colon == 0 || colon == std::string_view::npos ||
      !std::all_of(line.begin(), line.begin() + colon, IsTokenChar)) {
    Break("A trailer line is not a field name, a colon and a value.");
  }
}

void ChunkedDecoder::Break(std::string error) {
  m_state = State::kBroken;
  m_error = std::move(error);
}

}  // namespace ravelon
