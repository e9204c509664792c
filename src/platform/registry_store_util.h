// Pieces both registry stores share: key paths split into names, names folded
// for case-insensitive comparison, and a value's bytes handed to a caller's
// buffer by the rules of RegistryStore::QueryValue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace ravelon {

// Splits "A\B\\C\" into {"A", "B", "C"}: empty names are skipped. Returns
// false when a name is longer than kMaxKeyNameLength.
bool SplitKeyPath(std::string_view path, std::vector<std::string>& names);

// The name with the ASCII letters A-Z turned to a-z; other bytes stay.
std::string FoldName(std::string_view name);

// Sets `size` to the length of `bytes`. With `data` nullptr returns
// kRegSuccess; with a buffer of `size` bytes (on entry) that is too short,
// kRegMoreData and nothing copied; otherwise copies and returns kRegSuccess.
int32_t CopyValueData(std::string_view bytes, char* data, uint32_t& size);

}  // namespace ravelon
