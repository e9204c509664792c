// The engine's input buffer: the bytes of the stream that are not yet parsed.
#include "parsing/input_buffer.h"

#include "ravelon/korvid.h"

namespace ravelon {

// Forgets the buffered data and the part positions; the capacity and its
// bytes stay as they are, ready for the next arrival.
void Korvid::ClearInputBuffer() {
  m_inputLength = 0;
  m_bufferIdleParts = 0;
  m_boundaryPos = 0;
  m_partEndSearchPos = 0;
}

}  // namespace ravelon
