#include "camera/request_head.h"

#include <algorithm>
#include <cstdint>
#include <vector>

#include "cli/text.h"

namespace ravelon::cli {
namespace {

std::string_view Trim(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The lines of a head without their line ends, up to the blank line.
std::vector<std::string_view> Lines(std::string_view head) {
  std::vector<std::string_view> lines;
  for (size_t start = 0; start < head.size();) {
    const size_t lf = head.find('\n', start);
    std::string_view line = head.substr(start, lf == std::string_view::npos ? lf : lf - start);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.empty()) break;
    lines.push_back(line);
    if (lf == std::string_view::npos) break;
    start = lf + 1;
  }
  return lines;
}

}  // namespace

HeadStatus FindHeadEnd(std::string_view received, size_t limit, size_t& head_size) {
  // A blank line is a line feed that follows a line feed, maybe with a CR between.
  for (size_t lf = received.find('\n'); lf != std::string_view::npos;
       lf = received.find('\n', lf + 1)) {
    if (lf + 1 > limit) break;
    const bool blank = (lf >= 1 && received[lf - 1] == '\n') ||
                       (lf >= 2 && received[lf - 1] == '\r' && received[lf - 2] == '\n') ||
                       lf == 0 || (lf == 1 && received[0] == '\r');
    if (blank) {
      head_size = lf + 1;
      return HeadStatus::kComplete;
    }
  }
  return received.size() >= limit ? HeadStatus::kTooLarge : HeadStatus::kIncomplete;
}

bool ParseRequestHead(std::string_view head, RequestHead& request) {
  const std::vector<std::string_view> lines = Lines(head);
  if (lines.empty()) return false;
  std::vector<std::string_view> words;
  for (std::string_view rest = lines[0]; !rest.empty();) {
    const size_t space = rest.find(' ');
    if (space != 0) words.push_back(rest.substr(0, space));
    if (space == std::string_view::npos) break;
    rest.remove_prefix(space + 1);
  }
  if (words.size() < 2 || words.size() > 3) return false;
  if (words.size() == 3 && words[2].substr(0, 5) != "HTTP/") return false;
  RequestHead parsed;
  parsed.method = words[0];
  parsed.path = words[1];
  if (words.size() == 3) parsed.version = words[2];
  for (size_t i = 1; i < lines.size(); ++i) {
    const size_t colon = lines[i].find(':');
    if (colon == std::string_view::npos || Trim(lines[i].substr(0, colon)).empty()) return false;
    if (EqualsNoCase(Trim(lines[i].substr(0, colon)), "authorization")) {
      parsed.authorization = Trim(lines[i].substr(colon + 1));
    }
  }
  request = std::move(parsed);
  return true;
}

bool Authorized(std::string_view authorization, std::string_view user, std::string_view password) {
  if (user.empty() && password.empty()) return true;
  constexpr std::string_view kScheme = "basic";
  if (authorization.size() <= kScheme.size() || !StartsWithNoCase(authorization, kScheme) ||
      authorization[kScheme.size()] != ' ') {
    return false;
  }
  std::string credentials(user);
  credentials += ':';
  credentials.append(password);
  return Trim(authorization.substr(kScheme.size())) == Base64(credentials);
}

std::string Base64(std::string_view bytes) {
  static constexpr char kDigits[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t n = std::min<size_t>(3, bytes.size() - i);
    uint32_t group = 0;
    for (size_t j = 0; j < 3; ++j) {
      group = group << 8 | (j < n ? static_cast<uint8_t>(bytes[i + j]) : 0u);
    }
    for (size_t j = 0; j < 4; ++j) {
      out.push_back(j <= n ? kDigits[group >> (18 - 6 * j) & 0x3F] : '=');
    }
  }
  return out;
}

}  // namespace ravelon::cli
