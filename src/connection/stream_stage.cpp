// Data arrival: the arrived bytes go into the stream reader and the stage of
// the connection state runs on them. The watchdog follows the stages: the
// header has 10 s, each part 15 s, restarted by every part.
//
// The host may let its message loop run while it handles an event raised
// during parsing, so a second arrival can come in before the first returns.
// That one only appends its bytes and flags the running parse, which loops
// once more: parsing is never entered twice.
#include <algorithm>
#include <utility>

#include "common/engine_limits.h"
#include "connection/connection.h"
#include "parsing/stream_reader.h"
#include "ravelon/debug_levels.h"

namespace ravelon {
namespace {

constexpr uint8_t kParsing = 1;
constexpr uint8_t kParseAgain = 2;

// The bytes one arrival takes from the socket: taking all that waits would
// let a source that sends as fast as it is read make one arrival as large as
// it likes, and one larger than the input limit is dropped whole.
int32_t ArrivalToTake(int32_t bytes_total) {
  return std::clamp(bytes_total, 1, kMaxSocketBacklogBytes);
}

}  // namespace

void Connection::OnDataArrival(int32_t bytes_total) {
  if (m_socket->State() != TcpSocket::kConnected) return;  // the bytes stay with the socket
  StreamReader::AppendOutcome appended = StreamReader::kAppended;
  if (m_gate.PassingThrough()) {
    if (!ReceiveIntoReader(bytes_total, appended)) return;
  } else {
    // The gate holds an HTTP head until it is complete and de-chunks a
    // chunked body.
    m_arrival.resize(static_cast<size_t>(ArrivalToTake(bytes_total)));
    const int32_t received =
        m_socket->Receive(m_arrival.data(), static_cast<int32_t>(m_arrival.size()));
    m_arrival.resize(static_cast<size_t>(std::max(received, 0)));
    if (m_arrival.empty()) return;
    m_unwrapped.clear();
    const HttpResponseGate::Outcome gate = m_gate.Feed(m_arrival, m_unwrapped);
    if (gate == HttpResponseGate::kRefused) return OnRefused();
    // The parts completed before a broken chunk are still taken first.
    m_bodyBroken = m_bodyBroken || gate == HttpResponseGate::kBroken;
    appended = m_reader.Append(m_unwrapped);
  }
  switch (appended) {
    case StreamReader::kCleared:
      m_owner.Debug(kDebugError, "Input buffer exceeds limit. Buffer cleared.");
      break;
    case StreamReader::kGrown:
      m_owner.Debug(kDebugHousekeeping, "Preallocating input buffer: " +
                                            std::to_string(m_reader.Capacity()) + " bytes.");
      break;
    case StreamReader::kReduced:
      m_owner.Debug(kDebugHousekeeping,
                    "Reducing input buffer: " + std::to_string(m_reader.Capacity()) + " bytes.");
      break;
    default:
      break;
  }
  if (m_inDataArrival != 0) {
    m_inDataArrival = kParsing | kParseAgain;
    return;
  }
  const uint64_t attempt = m_attempt;
  do {
    m_inDataArrival = kParsing;
    RunStage();
  } while (m_inDataArrival & kParseAgain);
  m_inDataArrival = 0;
  // Unless handling a frame already ended the attempt.
  if (std::exchange(m_bodyBroken, false) && attempt == m_attempt) OnBrokenBody();
}

// The socket writes the arrival straight into the reader's buffer: the path
// of every byte of an unchunked body. False when nothing arrived.
bool Connection::ReceiveIntoReader(int32_t bytesTotal, StreamReader::AppendOutcome& appended) {
  const int32_t wanted = ArrivalToTake(bytesTotal);
  char* destination = nullptr;
  const StreamReader::AppendOutcome prepared = m_reader.PrepareAppend(wanted, destination);
  const int32_t received = destination != nullptr ? m_socket->Receive(destination, wanted) : 0;
  appended = m_reader.CommitAppend(received, prepared);
  return received > 0 || appended != StreamReader::kAppended;
}

void Connection::RunStage() {
  switch (m_connectionState) {
    case kAwaitingResponse:
      // A single response is taken whole when the source closes.
      if (m_settings.streaming) {
        ArmTimeoutTimer(kHeaderTimeoutMs);
        m_connectionState = kReadingHeader;
        ProcessResponseHeader();
      }
      break;
    case kReadingHeader:
      ProcessResponseHeader();
      break;
    case kReadingParts:
      ProcessParts();
      break;
    default:
      break;
  }
}

void Connection::ProcessResponseHeader() {
  // Without a usable boundary the header timeout ends this attempt.
  if (!m_reader.TakeResponseHeader(m_settings.boundaryDiscovery)) {
    if (!m_reader.BrokenReason().empty()) OnBrokenStream();
    return;
  }
  m_timeoutTimer->SetEnabled(false);
  m_connectionState = kReadingParts;
  m_timeoutTimer->SetInterval(kPartTimeoutMs);
  m_timeoutTimer->SetEnabled(true);
  ProcessParts();
}

// Works through every complete part in the buffer; an arrival that came in
// meanwhile makes the arrival loop run the stage again itself.
void Connection::ProcessParts() {
  for (;;) {
    std::shared_ptr<MediaFrame> frame;
    const StreamReader::PartKind kind = m_reader.TakePart(frame);
    if (kind == StreamReader::kNoPart) return;
    if (kind == StreamReader::kBroken) return OnBrokenStream();
    // Stopping and starting the timer restarts the part timeout; it does
    // not run while the frame is handled.
    m_timeoutTimer->SetEnabled(false);
    if (kind == StreamReader::kFramePart && !m_owner.OnNewFrame(frame)) {
      m_owner.Debug(kDebugError, "Handling of a new frame failed... Reconnecting");
      ConnectToSource();
      return;
    }
    m_timeoutTimer->SetEnabled(true);
    if (m_inDataArrival >= kParseAgain) return;
  }
}

// The stream passed one of the reader's limits: it is out of step or hostile.
// Its connection is dropped and made again after the delay of a break, so a
// source that does it every time cannot keep the loop busy reconnecting.
void Connection::OnBrokenStream() {
  m_owner.Debug(kDebugError, "Stream broken: " + m_reader.BrokenReason() + ". Reconnecting");
  m_reader.Clear();
  m_owner.OnConnectionLost();
  ScheduleReconnect(kReconnectAfterBreakMs);
}

// Single-response mode, called when the source has closed.
void Connection::TakeSingleResponse() {
  std::shared_ptr<MediaFrame> frame;
  // Without a complete header the response timeout follows.
  if (!m_reader.TakeSingleResponse(frame)) return;
  m_timeoutTimer->SetEnabled(false);
  // A response with no image makes no frame; polling goes on.
  if (frame) m_owner.OnNewFrame(frame);
  m_connectionState = kPollWait;
  m_timeoutTimer->SetInterval(m_pollInterval);
  m_timeoutTimer->SetEnabled(true);
}

}  // namespace ravelon
