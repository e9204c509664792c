// JpegLedger: which JPEGs a test camera has made, by a hash of their bytes,
// so that a test can tell that an image an engine received is one the camera
// sent, byte for byte. Bounded: past kJpegLedgerSize images the oldest are
// forgotten. Written on the camera's thread, read from any thread.
#pragma once

#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string_view>
#include <unordered_set>

#include "camera/camera_limits.h"

namespace ravelon::cli {

class JpegLedger {
 public:
  void Remember(std::string_view jpeg) {
    const size_t hash = std::hash<std::string_view>()(jpeg);
    const std::lock_guard lock(m_mutex);
    if (!m_hashes.insert(hash).second) return;
    m_order.push_back(hash);
    if (m_order.size() > kJpegLedgerSize) {
      m_hashes.erase(m_order.front());
      m_order.pop_front();
    }
  }

  bool Contains(std::string_view jpeg) const {
    const size_t hash = std::hash<std::string_view>()(jpeg);
    const std::lock_guard lock(m_mutex);
    return m_hashes.contains(hash);
  }

 private:
  mutable std::mutex m_mutex;
  std::unordered_set<size_t> m_hashes;
  std::deque<size_t> m_order;
};

}  // namespace ravelon::cli
