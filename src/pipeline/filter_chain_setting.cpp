#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"

namespace ravelon {

// Replaces any earlier chain; the engine releases the chain it holds when it
// is destroyed.
void Korvid::setFilterChain(const std::shared_ptr<FrameFilterChain>& filterChain) {
  m_filterChain = filterChain;
}

}  // namespace ravelon
