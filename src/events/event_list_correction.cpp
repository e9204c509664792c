// Re-timing of event lists onto the engine's clock.
#include "components/media_frame.h"
#include "ravelon/korvid.h"

namespace ravelon {

bool Korvid::correctEventList(std::shared_ptr<MediaFrame>& /*newFrame*/) {
  // Event lists are parsed and re-timed once the event record and list exist;
  // until then no list can be corrected.
  return false;
}

}  // namespace ravelon
