// The response-header stage: finds the response's content type and its
// boundary (streaming), or takes the single body (single-response mode).
#include "ravelon/korvid.h"

namespace ravelon {

void Korvid::ProcessResponseHeader() {
  // Parsing of the response arrives with the stream parser.
}

}  // namespace ravelon
