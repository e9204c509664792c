// The periodic tick of the Viewer timer: the weekly schedule, the rate
// report and the DataReady announcement.
#include "ravelon/korvid.h"

namespace ravelon {

void Korvid::Viewer_Timer() {
  // The schedule, the rate report and DataReady arrive with the schedule tick.
}

}  // namespace ravelon
