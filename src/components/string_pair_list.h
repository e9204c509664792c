// A list of name/text pairs: what RegUtils::RegEnumerateStringValues fills
// with the text values of a key. Pairs stay in the order they were added.
//
// Made by its filler and handed to the caller; used on one thread.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace ravelon {

struct StringPair {
  std::string name;
  std::string value;
};

class StringPairList {
 public:
  void Clear() { items_.clear(); }

  // Appends the pair and reports success. The list has no limit of its own,
  // so this is always true; fillers still check it, as with any list that
  // might refuse.
  bool Add(StringPair pair) {
    items_.push_back(std::move(pair));
    return true;
  }

  int32_t Count() const { return static_cast<int32_t>(items_.size()); }

  // The pair at 0 ... Count() - 1; an empty pair for any other index.
  StringPair Item(int32_t i) const {
    if (i < 0 || i >= Count()) return {};
    return items_[static_cast<size_t>(i)];
  }

 private:
  std::vector<StringPair> items_;
};

}  // namespace ravelon
