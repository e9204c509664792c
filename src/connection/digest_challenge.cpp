#include "connection/digest_challenge.h"

#include <algorithm>
#include <array>
#include <utility>

#include "common/engine_limits.h"

namespace ravelon {
namespace {

// One challenge as written: its scheme and its parameters, both names folded
// to lower case. A scheme alone or with a token68 has no parameters.
struct AuthChallenge {
  std::string scheme;
  std::vector<std::pair<std::string, std::string>> params;
};

constexpr std::array<bool, 256> MakeCharTable(std::string_view extra) {
  std::array<bool, 256> table{};
  for (int c = '0'; c <= '9'; ++c) table[c] = true;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] = table[c + 'a' - 'A'] = true;
  for (const char c : extra) table[static_cast<uint8_t>(c)] = true;
  return table;
}

constexpr std::array<bool, 256> kTokenChars = MakeCharTable("!#$%&'*+-.^_`|~");
constexpr std::array<bool, 256> kToken68Chars = MakeCharTable("-._~+/");

bool IsTokenChar(char c) { return kTokenChars[static_cast<uint8_t>(c)]; }
bool IsToken68Char(char c) { return kToken68Chars[static_cast<uint8_t>(c)]; }
bool IsWhiteSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

// A control character in a value would end or split the request line that
// carries the value back to the source.
bool IsControl(char c) {
  const auto byte = static_cast<uint8_t>(c);
  return (byte < 0x20 && c != '\t') || byte == 0x7F;
}

std::string Folded(std::string_view text) {
  std::string folded(text);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

size_t SkipWhiteSpace(std::string_view text, size_t pos) {
  while (pos < text.size() && IsWhiteSpace(text[pos])) ++pos;
  return pos;
}

size_t TokenEnd(std::string_view text, size_t pos) {
  while (pos < text.size() && IsTokenChar(text[pos])) ++pos;
  return pos;
}

// Reads the challenges of one value in turn.
class ChallengeReader {
 public:
  explicit ChallengeReader(std::string_view text) : m_text(text) {}

  // True with the next challenge; false at the end of the text (`error`
  // untouched) or at a syntax error (`error` set, and no challenge follows).
  bool Next(AuthChallenge& challenge, std::string& error);

 private:
  bool AtEnd() const { return m_pos >= m_text.size(); }
  char Peek() const { return m_text[m_pos]; }
  // Empty list elements are allowed: ", ," separates like ",".
  void SkipSeparators() {
    while (!AtEnd() && (IsWhiteSpace(Peek()) || Peek() == ',')) ++m_pos;
  }
  std::string_view Token();
  // A parameter starts here (a token, "=", then something other than a
  // comma, another "=" or the end), as opposed to a token68 ("abc==") or the
  // scheme name of the next challenge ("Basic realm=...").
  bool AtParameter() const;
  bool ReadParameter(AuthChallenge& challenge, std::string& error);
  bool ReadQuotedString(std::string& value, std::string& error);
  bool SkipToken68(std::string& error);
  bool Fail(std::string& error, std::string_view what);

  std::string_view m_text;
  size_t m_pos = 0;
};

bool ChallengeReader::Next(AuthChallenge& challenge, std::string& error) {
  SkipSeparators();
  if (AtEnd()) return false;
  const std::string_view scheme = Token();
  if (scheme.empty()) return Fail(error, "expected a scheme name");
  challenge.scheme = Folded(scheme);
  challenge.params.clear();
  const size_t schemeEnd = m_pos;
  m_pos = SkipWhiteSpace(m_text, m_pos);
  if (AtEnd() || Peek() == ',') return true;
  if (m_pos == schemeEnd) return Fail(error, "expected a space after the scheme name");
  if (!AtParameter()) return SkipToken68(error);
  do {
    if (!ReadParameter(challenge, error)) return false;
    m_pos = SkipWhiteSpace(m_text, m_pos);
    if (AtEnd()) return true;
    if (Peek() != ',') return Fail(error, "expected a comma after a parameter");
    SkipSeparators();
  } while (!AtEnd() && AtParameter());
  return true;
}

std::string_view ChallengeReader::Token() {
  const size_t start = m_pos;
  m_pos = TokenEnd(m_text, m_pos);
  return m_text.substr(start, m_pos - start);
}

bool ChallengeReader::AtParameter() const {
  const size_t nameEnd = TokenEnd(m_text, m_pos);
  if (nameEnd == m_pos) return false;
  size_t pos = SkipWhiteSpace(m_text, nameEnd);
  if (pos >= m_text.size() || m_text[pos] != '=') return false;
  pos = SkipWhiteSpace(m_text, pos + 1);
  return pos < m_text.size() && m_text[pos] != ',' && m_text[pos] != '=';
}

bool ChallengeReader::ReadParameter(AuthChallenge& challenge, std::string& error) {
  std::string name = Folded(Token());
  m_pos = SkipWhiteSpace(m_text, SkipWhiteSpace(m_text, m_pos) + 1);  // past the "="
  std::string value;
  if (Peek() == '"') {
    if (!ReadQuotedString(value, error)) return false;
  } else {
    value = Token();
    if (value.empty()) return Fail(error, "expected a token or a quoted string");
  }
  challenge.params.emplace_back(std::move(name), std::move(value));
  return true;
}

bool ChallengeReader::ReadQuotedString(std::string& value, std::string& error) {
  ++m_pos;  // the opening quote
  for (;;) {
    const size_t special = m_text.find_first_of("\"\\", m_pos);
    if (special == std::string_view::npos ||
        (m_text[special] == '\\' && special + 1 == m_text.size()))
      return Fail(error, "unterminated quoted string");
    value.append(m_text, m_pos, special - m_pos);
    if (m_text[special] == '"') {
      m_pos = special + 1;
      break;
    }
    value += m_text[special + 1];
    m_pos = special + 2;
  }
  if (std::any_of(value.begin(), value.end(), IsControl))
    return Fail(error, "a control character in a quoted string");
  return true;
}

bool ChallengeReader::SkipToken68(std::string& error) {
  const size_t start = m_pos;
  while (!AtEnd() && IsToken68Char(Peek())) ++m_pos;
  if (m_pos == start) return Fail(error, "expected parameters or a token68");
  while (!AtEnd() && Peek() == '=') ++m_pos;
  m_pos = SkipWhiteSpace(m_text, m_pos);
  if (!AtEnd() && Peek() != ',') return Fail(error, "expected a comma after a token68");
  return true;
}

bool ChallengeReader::Fail(std::string& error, std::string_view what) {
  error = std::string(what) + " at offset " + std::to_string(m_pos);
  m_pos = m_text.size();
  return false;
}

bool ReadAlgorithm(std::string_view name, DigestAlgorithm& algorithm) {
  static constexpr std::pair<std::string_view, DigestAlgorithm> kNames[] = {
      {"md5", DigestAlgorithm::kMd5},
      {"md5-sess", DigestAlgorithm::kMd5Sess},
      {"sha-256", DigestAlgorithm::kSha256},
      {"sha-256-sess", DigestAlgorithm::kSha256Sess}};
  const std::string folded = Folded(name);
  for (const auto& [text, value] : kNames) {
    if (folded == text) {
      algorithm = value;
      return true;
    }
  }
  return false;
}

bool IsSessionAlgorithm(DigestAlgorithm algorithm) {
  return algorithm == DigestAlgorithm::kMd5Sess || algorithm == DigestAlgorithm::kSha256Sess;
}

// True when the comma-separated qop list names "auth".
bool OffersAuth(std::string_view options) {
  size_t start = 0;
  while (start <= options.size()) {
    const size_t comma = std::min(options.find(',', start), options.size());
    std::string_view option = options.substr(start, comma - start);
    while (!option.empty() && IsWhiteSpace(option.front())) option.remove_prefix(1);
    while (!option.empty() && IsWhiteSpace(option.back())) option.remove_suffix(1);
    if (Folded(option) == "auth") return true;
    start = comma + 1;
  }
  return false;
}

// Fills `challenge` from the parameters of a Digest challenge; false with the
// reason when the engine cannot answer it.
bool ReadDigest(const AuthChallenge& source, DigestChallenge& challenge, std::string& error) {
  enum Known { kRealm, kNonce, kOpaque, kAlgorithm, kQop, kStale, kUserhash, kKnownCount };
  static constexpr std::string_view kKnownNames[kKnownCount] = {
      "realm", "nonce", "opaque", "algorithm", "qop", "stale", "userhash"};
  // Only the names the engine reads are checked for repeats: a list of
  // unknown ones stays linear.
  const std::string* values[kKnownCount] = {};
  for (const auto& [name, value] : source.params) {
    const auto* known = std::find(std::begin(kKnownNames), std::end(kKnownNames), name);
    if (known == std::end(kKnownNames)) continue;
    const std::string*& slot = values[known - std::begin(kKnownNames)];
    if (slot != nullptr) {
      error = "the Digest challenge names \"" + name + "\" twice";
      return false;
    }
    slot = &value;
  }

  DigestChallenge result;
  if (values[kRealm] == nullptr) {
    error = "the Digest challenge has no realm";
    return false;
  }
  if (values[kNonce] == nullptr || values[kNonce]->empty()) {
    error = "the Digest challenge has no nonce";
    return false;
  }
  result.realm = *values[kRealm];
  result.nonce = *values[kNonce];
  if (values[kOpaque] != nullptr) {
    result.opaque = *values[kOpaque];
    result.hasOpaque = true;
  }
  if (values[kAlgorithm] != nullptr) {
    if (!ReadAlgorithm(*values[kAlgorithm], result.algorithm)) {
      error = "the Digest challenge asks for the algorithm \"" + *values[kAlgorithm] +
              "\", which the engine does not answer";
      return false;
    }
    result.algorithmNamed = true;
  }
  if (values[kQop] != nullptr) {
    result.qopAuth = OffersAuth(*values[kQop]);
    if (!result.qopAuth) {
      error = "the Digest challenge offers qop \"" + *values[kQop] + "\" but not \"auth\"";
      return false;
    }
  }
  // The session forms hash the client nonce into the key, and a client nonce
  // is only sent with a qop.
  if (IsSessionAlgorithm(result.algorithm) && !result.qopAuth) {
    error = "the Digest challenge asks for \"" + *values[kAlgorithm] + "\" without a qop";
    return false;
  }
  result.stale = values[kStale] != nullptr && Folded(*values[kStale]) == "true";
  result.userhash = values[kUserhash] != nullptr && Folded(*values[kUserhash]) == "true";
  challenge = std::move(result);
  return true;
}

// True when `value` holds a Digest challenge the engine can answer. A failure
// sets `error` unless it already holds an earlier one.
bool FindDigest(std::string_view value, DigestChallenge& challenge, std::string& error) {
  std::string reason;
  if (value.size() > static_cast<size_t>(kMaxChallengeValueLength)) {
    reason = "the challenge is " + std::to_string(value.size()) + " bytes long, more than " +
             std::to_string(kMaxChallengeValueLength);
  } else {
    ChallengeReader reader(value);
    AuthChallenge next;
    std::string syntax;
    while (reader.Next(next, syntax)) {
      if (next.scheme != "digest") continue;
      std::string unusable;
      if (ReadDigest(next, challenge, unusable)) return true;
      if (reason.empty()) reason = std::move(unusable);
    }
    if (reason.empty()) reason = std::move(syntax);
  }
  if (error.empty()) error = std::move(reason);
  return false;
}

}  // namespace

bool ParseDigestChallenge(std::string_view value, DigestChallenge& challenge, std::string& error) {
  error.clear();
  if (FindDigest(value, challenge, error)) return true;
  if (error.empty()) error = "no Digest challenge";
  return false;
}

bool ParseDigestChallengeLines(const std::vector<std::string>& values, DigestChallenge& challenge,
                               std::string& error) {
  error.clear();
  for (const std::string& value : values) {
    if (FindDigest(value, challenge, error)) return true;
  }
  if (error.empty()) error = "no Digest challenge";
  return false;
}

}  // namespace ravelon
