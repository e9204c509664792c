// The socket's data-arrival event: arrived bytes go into the input buffer and
// the parsing stage of the connection state runs.
#include "ravelon/korvid.h"

namespace ravelon {

void Korvid::OnDataArrival(int32_t /*bytes_total*/) {
  // The input buffer and the parsing stages arrive with the stream parser.
}

}  // namespace ravelon
