// The socket's data-arrival event: the arrived bytes go into the input buffer
// and the parsing stage of the connection state runs.
//
// The host may let its message loop run while it handles an event raised
// during parsing, so a second arrival can come in before the first returns.
// That one only appends its bytes and flags the running parse, which loops
// once more: parsing is never entered twice.
#include "ravelon/korvid.h"

namespace ravelon {
namespace {

constexpr uint8_t kParsing = 1;
constexpr uint8_t kParseAgain = 2;
constexpr int32_t kHeaderTimeoutMs = 10'000;

}  // namespace

void Korvid::OnDataArrival(int32_t /*bytes_total*/) {
  if (Winsock1->State() != TcpSocket::kConnected) return;  // the bytes stay with the socket
  Winsock1->GetData(m_arrival);
  if (m_arrival.empty()) return;

  switch (AppendToInputBuffer(m_arrival)) {
    case kInputCleared:
      RaiseDebugEvent(kDebugError, "Input buffer exceeds limit. Buffer cleared.");
      break;
    case kInputGrown:
      RaiseDebugEvent(kDebugHousekeeping, "Preallocating input buffer: " +
                                              std::to_string(m_inputBuffer.size()) + " bytes.");
      break;
    case kInputReduced:
      RaiseDebugEvent(kDebugHousekeeping,
                      "Reducing input buffer: " + std::to_string(m_inputBuffer.size()) + " bytes.");
      break;
    default:
      break;
  }
  if (m_inDataArrival != 0) {
    m_inDataArrival = kParsing | kParseAgain;
    return;
  }
  do {
    m_inDataArrival = kParsing;
    switch (m_connectionState) {
      case kAwaitingResponse:
        // A single response is taken whole when the source closes.
        if (m_streaming) {
          ArmTimeoutTimer(kHeaderTimeoutMs);
          m_connectionState = kReadingHeader;
          ProcessResponseHeader();
        }
        break;
      case kReadingHeader:
        ProcessResponseHeader();
        break;
      case kReadingParts:
        ProcessPart();
        break;
      default:
        break;
    }
  } while (m_inDataArrival & kParseAgain);
  m_inDataArrival = 0;
}

}  // namespace ravelon
