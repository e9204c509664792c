// Configuration of a source from its registry key.
#include "ravelon/korvid.h"

namespace ravelon {

void Korvid::ReadSourceConfiguration() {
  // The registry store and the reading of the source's values arrive with the
  // configuration; until then the setters configure the engine.
}

}  // namespace ravelon
