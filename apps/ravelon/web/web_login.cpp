#include "web/web_login.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>
#include <openssl/rand.h>

#include <array>
#include <charconv>
#include <climits>
#include <optional>
#include <stdexcept>
#include <vector>

#include "cli/text.h"

namespace ravelon::cli {
namespace {

constexpr std::string_view kScheme = "pbkdf2-sha256";

// Iterations of a new hash: about 18 ms of one server core. A guess against
// a copied registry file costs as much, while the check that each request
// of the web view makes stays affordable on a small recorder.
constexpr uint32_t kIterations = 100'000;

// The most iterations a stored text may ask for. A damaged or forged count
// beyond it is refused rather than spending seconds of the server's CPU on
// every request.
constexpr uint32_t kMaxIterations = 10 * kIterations;
static_assert(kMaxIterations <= INT_MAX, "PKCS5_PBKDF2_HMAC takes an int");

constexpr size_t kSaltBytes = 16;
constexpr size_t kHashBytes = 32;  // SHA-256's own size

// The longest Authorization header decoded; a longer one is no login of
// ours and costs no hashing.
constexpr size_t kMaxAuthorizationBytes = 1024;
constexpr std::string_view kBasic = "Basic";
static_assert(kBasic.size() + 1 + 4 * ((2 * kMaxWebLoginBytes + 1 + 2) / 3) <=
                  kMaxAuthorizationBytes,
              "the longest user and password must fit in the header read");

using Salt = std::array<unsigned char, kSaltBytes>;
using Hash = std::array<unsigned char, kHashBytes>;

struct StoredHash {
  uint32_t iterations = 0;
  Salt salt{};
  Hash hash{};
};

std::optional<Hash> Derive(std::string_view password, const Salt& salt, uint32_t iterations) {
  Hash hash;
  if (password.size() > INT_MAX) return std::nullopt;
  if (PKCS5_PBKDF2_HMAC(password.data(), static_cast<int>(password.size()), salt.data(),
                        static_cast<int>(salt.size()), static_cast<int>(iterations), EVP_sha256(),
                        static_cast<int>(hash.size()), hash.data()) != 1) {
    return std::nullopt;
  }
  return hash;
}

template <size_t N>
std::string Hex(const std::array<unsigned char, N>& bytes) {
  static constexpr char kDigits[] = "0123456789abcdef";
  std::string hex;
  for (const unsigned char byte : bytes) {
    hex += kDigits[byte >> 4];
    hex += kDigits[byte & 0x0F];
  }
  return hex;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

template <size_t N>
bool ParseHex(std::string_view hex, std::array<unsigned char, N>& bytes) {
  if (hex.size() != 2 * N) return false;
  for (size_t i = 0; i < N; ++i) {
    const int high = HexDigit(hex[2 * i]), low = HexDigit(hex[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<unsigned char>(high << 4 | low);
  }
  return true;
}

std::vector<std::string_view> Split(std::string_view text, char separator) {
  std::vector<std::string_view> fields;
  for (size_t end; (end = text.find(separator)) != std::string_view::npos;) {
    fields.push_back(text.substr(0, end));
    text.remove_prefix(end + 1);
  }
  fields.push_back(text);
  return fields;
}

std::optional<StoredHash> ParseStoredHash(std::string_view text) {
  const std::vector<std::string_view> fields = Split(text, '$');
  StoredHash stored;
  if (fields.size() != 4 || fields[0] != kScheme) return std::nullopt;
  const std::string_view count = fields[1];
  const auto [end, error] =
      std::from_chars(count.data(), count.data() + count.size(), stored.iterations);
  if (error != std::errc() || end != count.data() + count.size() || stored.iterations == 0 ||
      stored.iterations > kMaxIterations) {
    return std::nullopt;
  }
  if (!ParseHex(fields[2], stored.salt) || !ParseHex(fields[3], stored.hash)) return std::nullopt;
  return stored;
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view TrimBlanks(std::string_view text) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  return text;
}

}  // namespace

std::optional<std::string> DecodeBase64(std::string_view text) {
  static constexpr std::string_view kAlphabet =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  for (int padding = 0; padding < 2 && text.ends_with('='); ++padding) text.remove_suffix(1);
  std::string bytes;
  uint32_t bits = 0;
  int count = 0;  // bits held in `bits`
  for (const char c : text) {
    const size_t value = kAlphabet.find(c);
    if (value == std::string_view::npos) return std::nullopt;
    bits = bits << 6 | static_cast<uint32_t>(value);
    count += 6;
    if (count >= 8) {
      count -= 8;
      bytes += static_cast<char>(bits >> count);
      bits &= (1u << count) - 1;
    }
  }
  return bytes;
}

std::string HashPassword(std::string_view password) {
  Salt salt;
  if (RAND_bytes(salt.data(), static_cast<int>(salt.size())) != 1)
    throw std::runtime_error("the system gave no random bytes for the password's salt");
  const std::optional<Hash> hash = Derive(password, salt, kIterations);
  if (!hash) throw std::runtime_error("the password cannot be hashed");
  return std::string(kScheme) + "$" + std::to_string(kIterations) + "$" + Hex(salt) + "$" +
         Hex(*hash);
}

bool PasswordMatches(std::string_view password, std::string_view stored_hash) {
  const std::optional<StoredHash> stored = ParseStoredHash(stored_hash);
  if (!stored) return false;
  const std::optional<Hash> hash = Derive(password, stored->salt, stored->iterations);
  return hash && CRYPTO_memcmp(hash->data(), stored->hash.data(), kHashBytes) == 0;
}

bool AuthorizationAllows(const WebLogin& login, std::string_view authorization_header) {
  if (login.user.empty() || authorization_header.size() > kMaxAuthorizationBytes) return false;
  const std::string_view header = TrimBlanks(authorization_header);
  if (header.size() <= kBasic.size() || !StartsWithNoCase(header, kBasic) ||
      !IsBlank(header[kBasic.size()])) {
    return false;
  }
  const std::optional<std::string> decoded = DecodeBase64(TrimBlanks(header.substr(kBasic.size())));
  if (!decoded) return false;
  const size_t colon = decoded->find(':');  // the password may hold more
  if (colon == std::string::npos) return false;
  // The user first: a request naming another costs no hashing.
  return std::string_view(*decoded).substr(0, colon) == login.user &&
         PasswordMatches(std::string_view(*decoded).substr(colon + 1), login.password_hash);
}

std::string AuthenticateChallenge() { return R"(Basic realm="ravelon", charset="UTF-8")"; }

}  // namespace ravelon::cli
