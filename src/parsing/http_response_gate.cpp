#include "parsing/http_response_gate.h"

#include <algorithm>

#include "common/engine_limits.h"
#include "common/string_helpers.h"

namespace ravelon {
namespace {

constexpr std::string_view kHttpPrefix = "HTTP/";

// Offset just past the first blank line (LF, optional CR, LF) that ends at or
// after `from`, or npos.
size_t FindHeadEnd(std::string_view held, size_t from) {
  for (size_t lf = held.find('\n', from); lf != std::string_view::npos;
       lf = held.find('\n', lf + 1)) {
    size_t next = lf + 1;
    if (next < held.size() && held[next] == '\r') ++next;
    if (next < held.size() && held[next] == '\n') return next + 1;
  }
  return std::string_view::npos;
}

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t' || text.back() == '\r')) {
    text.remove_suffix(1);
  }
  return text;
}

// True when the last transfer coding of a "Transfer-Encoding" value is
// "chunked", the only order in which a sender may apply it.
bool EndsInChunked(std::string_view value) {
  const size_t comma = value.rfind(',');
  std::string_view last = comma == std::string_view::npos ? value : value.substr(comma + 1);
  const size_t parameters = last.find(';');
  if (parameters != std::string_view::npos) last = last.substr(0, parameters);
  return EqualsIgnoringCase(TrimBlanks(last), "chunked");
}

}  // namespace

void HttpResponseGate::Reset() {
  m_state = State::kStart;
  m_head.clear();
  m_statusCode = 0;
  m_statusLine.clear();
  m_challenges.clear();
  m_decoder.Reset();
}

HttpResponseGate::Outcome HttpResponseGate::Feed(std::string_view arrival, std::string& out) {
  switch (m_state) {
    case State::kPassThrough:
    case State::kBody:
      out.append(arrival);
      return kPassing;
    case State::kChunkedBody:
      switch (m_decoder.Decode(arrival, out)) {
        case ChunkedDecoder::Status::kMore:
          return kPassing;
        case ChunkedDecoder::Status::kDone:
          m_state = State::kEnded;  // anything after the last chunk is no part of the stream
          return kPassing;
        case ChunkedDecoder::Status::kBroken:
          m_state = State::kEnded;
          return kBroken;
      }
      return kPassing;
    case State::kEnded:
      return kPassing;
    case State::kRefused:
      return kRefused;
    case State::kStart:
    case State::kHead:
      break;
  }
  const size_t scanned = m_head.size();
  m_head.append(arrival);
  if (m_state == State::kStart) {
    const size_t compared = std::min(m_head.size(), kHttpPrefix.size());
    if (m_head.compare(0, compared, kHttpPrefix.substr(0, compared)) != 0) {
      PassHeld(out);
      return kPassing;
    }
    if (compared < kHttpPrefix.size()) return kPassing;
    m_state = State::kHead;
  }
  const size_t head_end = FindHeadEnd(m_head, scanned < 2 ? 0 : scanned - 2);
  if (head_end != std::string::npos && head_end <= static_cast<size_t>(kResponseHeadLimit)) {
    return OnHead(head_end, out);
  }
  if (m_head.size() > static_cast<size_t>(kResponseHeadLimit)) PassHeld(out);
  return kPassing;
}

// The head is m_head[0, size); what follows it is the body's first bytes.
HttpResponseGate::Outcome HttpResponseGate::OnHead(size_t size, std::string& out) {
  const std::string_view head(m_head.data(), size);
  const size_t status_end = head.find('\n');
  const std::string_view status_line = TrimBlanks(head.substr(0, status_end));
  // "HTTP/x.y 404 Not Found": the code is the three digits after the first space.
  const size_t space = status_line.find(' ');
  const std::string_view rest =
      space == std::string_view::npos ? std::string_view() : TrimBlanks(status_line.substr(space));
  const auto digit = [](char c) { return c >= '0' && c <= '9'; };
  if (rest.size() < 3 || !std::all_of(rest.begin(), rest.begin() + 3, digit) ||
      (rest.size() > 3 && rest[3] != ' ')) {
    PassHeld(out);  // no status code: leave the response to the reader as it is
    return kPassing;
  }
  m_statusCode = (rest[0] - '0') * 100 + (rest[1] - '0') * 10 + (rest[2] - '0');
  m_statusLine = std::string(rest);

  bool chunked = false;
  for (size_t at = status_end + 1; at < size;) {
    const size_t end = head.find('\n', at);
    const std::string_view line = head.substr(at, end - at);
    at = end + 1;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string_view name = TrimBlanks(line.substr(0, colon));
    const std::string_view value = TrimBlanks(line.substr(colon + 1));
    if (EqualsIgnoringCase(name, "Transfer-Encoding")) chunked = EndsInChunked(value);
    if (EqualsIgnoringCase(name, "WWW-Authenticate")) m_challenges.emplace_back(value);
  }
  if (m_statusCode < 200 || m_statusCode > 299) {
    m_state = State::kRefused;
    m_head.clear();
    return kRefused;
  }
  out.append(head);
  const std::string_view body = std::string_view(m_head).substr(size);
  m_state = chunked ? State::kChunkedBody : State::kBody;
  Outcome outcome = body.empty() ? kPassing : Feed(body, out);
  m_head.clear();
  m_head.shrink_to_fit();
  return outcome;
}

void HttpResponseGate::PassHeld(std::string& out) {
  m_state = State::kPassThrough;
  out.append(m_head);
  m_head.clear();
  m_head.shrink_to_fit();
}

}  // namespace ravelon
