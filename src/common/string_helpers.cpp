#include "common/string_helpers.h"

#include <algorithm>

namespace ravelon {

std::vector<std::string> SplitString(std::string_view text, std::string_view delimiter) {
  std::vector<std::string> pieces(1);
  size_t start = 0;
  if (!delimiter.empty()) {
    for (size_t found = text.find(delimiter); found != std::string_view::npos;
         found = text.find(delimiter, start)) {
      pieces.emplace_back(text.substr(start, found - start));
      start = found + delimiter.size();
    }
  }
  if (start < text.size()) pieces.emplace_back(text.substr(start));
  return pieces;
}

bool EqualsIgnoringCase(std::string_view a, std::string_view b) {
  const auto fold = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
  return std::equal(a.begin(), a.end(), b.begin(), b.end(),
                    [&](char x, char y) { return fold(x) == fold(y); });
}

}  // namespace ravelon
