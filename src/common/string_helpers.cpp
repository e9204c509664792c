#include "common/string_helpers.h"

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

}  // namespace ravelon
