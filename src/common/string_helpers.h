// String helpers shared by the stream parser and the engine's settings: the
// part stage splits a part's header block into lines; names compare without
// regard to letter case.
//
// Free functions without state; called on the engine's thread.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace ravelon {

// Splits `text` at every occurrence of `delimiter` (compared byte for byte).
// Element 0 of the result is always present and empty; the pieces follow at
// 1 ... n in order, so callers index them from 1. Each delimiter ends a piece,
// so adjacent delimiters give an empty piece; what follows the last delimiter
// is one more piece only when it is not empty. An empty text gives no pieces.
// An empty delimiter never matches: a non-empty text is then one piece.
std::vector<std::string> SplitString(std::string_view text, std::string_view delimiter);

// True when `a` and `b` differ at most in the case of ASCII letters (header
// names, registry value names).
bool EqualsIgnoringCase(std::string_view a, std::string_view b);

}  // namespace ravelon
