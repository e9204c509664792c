#include "common/bounded_number.h"

#include <cmath>
#include <cstdlib>
#include <string>

namespace ravelon {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// True when `text` is [sign] digits [. digits] or [sign] . digits.
bool IsPlainDecimal(std::string_view text) {
  size_t i = 0;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits = 0;
  while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  if (i < text.size() && text[i] == '.') {
    ++i;
    while (i < text.size() && IsDigit(text[i])) ++i, ++digits;
  }
  return digits > 0 && i == text.size();
}

}  // namespace

int32_t ParseBoundedLong(std::string_view text, int32_t min, int32_t max, int32_t fallback) {
  while (!text.empty() && IsBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && IsBlank(text.back())) text.remove_suffix(1);
  if (!IsPlainDecimal(text)) return fallback;
  // nearbyint rounds halves to even in the default rounding mode.
  const double value = std::nearbyint(std::strtod(std::string(text).c_str(), nullptr));
  if (!(value >= min && value <= max)) return fallback;
  return static_cast<int32_t>(value);
}

}  // namespace ravelon
