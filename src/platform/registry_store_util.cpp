#include "platform/registry_store_util.h"

#include <algorithm>
#include <cstring>

#include "ravelon/registry_store.h"

namespace ravelon {

bool SplitKeyPath(std::string_view path, std::vector<std::string>& names) {
  names.clear();
  while (!path.empty()) {
    const size_t end = std::min(path.find('\\'), path.size());
    if (end > kMaxKeyNameLength) return false;
    if (end > 0) names.emplace_back(path.substr(0, end));
    path.remove_prefix(std::min(end + 1, path.size()));
  }
  return true;
}

std::string FoldName(std::string_view name) {
  std::string folded(name);
  for (char& c : folded) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return folded;
}

int32_t CopyValueData(std::string_view bytes, char* data, uint32_t& size) {
  const uint32_t capacity = size;
  size = static_cast<uint32_t>(bytes.size());
  if (data == nullptr) return kRegSuccess;
  if (capacity < bytes.size()) return kRegMoreData;
  if (!bytes.empty()) std::memcpy(data, bytes.data(), bytes.size());
  return kRegSuccess;
}

}  // namespace ravelon
