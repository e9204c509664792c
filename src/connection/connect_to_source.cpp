// Starting and ending connections to the source: the reconnect policy.
//
// There is no retry counter and no growing back-off: a broken connection is
// retried after 5 s, a connect that failed or timed out after 50 s, a stalled
// response at once, for as long as the engine runs.
#include "components/object_list.h"
#include "connection/timeout_checker.h"
#include "parsing/frequency_calculator.h"
#include "ravelon/frame_filter_chain.h"
#include "ravelon/korvid.h"
#include "ravelon/media_frame.h"

namespace ravelon {
namespace {

constexpr int32_t kConnectTimeoutMs = 5'000;
constexpr int32_t kDefaultReconnectDelayMs = 5'000;
constexpr int32_t kPlaceholderFrameId = -2;

}  // namespace

// The full connect: everything of the previous connection is dropped (frames
// still queued are not saved here; callers that want them saved flush first).
void Korvid::ConnectToSource() {
  // An empty placeholder, already "queued" so it is never saved. The counters
  // differ, so the next tick announces it and the next real frame is number 1.
  auto placeholder = std::make_shared<MediaFrame>();
  placeholder->SetData(kPlaceholder, std::string());
  placeholder->setFrameId(kPlaceholderFrameId);
  placeholder->addFlags(kQueued);
  m_currentFrame = placeholder;
  m_frameCounter = kPlaceholderFrameId;
  m_reportedFrame = -1;

  ResetFilterChain();
  TimeoutTimer->SetEnabled(false);
  ClearInputBuffer();
  m_framesLost = 0;
  ClearSaveQueue();
  Winsock1->Close();
  if (m_scheduledDisconnect) {
    m_connectionState = kIdle;  // the schedule has already said why
    return;
  }
  RaiseDebugEvent(kDebugConnection, "Connecting to the source.");
  m_connectionState = kConnecting;
  if (m_address.empty()) {
    // Virtual mode: no socket and no watchdog; frames come only from the
    // inter-process port.
    RaiseDebugEvent(kDebugConfiguration, "Address not supplied. Source will work in virtual mode.");
    TimeoutTimer->SetEnabled(false);
    m_connectionState = kReadingParts;
    m_framesLost = 0;
    ClearSaveQueue();
    ResetRates();
    return;
  }
  ConnectSocketWhenClosed();
}

// Opens the socket again for the next single request; frames, counters and
// the queue stay as they are.
void Korvid::ReconnectForNextRequest() {
  TimeoutTimer->SetEnabled(false);
  ClearInputBuffer();
  m_connectionState = kConnecting;
  Winsock1->Close();
  ConnectSocketWhenClosed();
}

// Lets queued events run once, then connects if the socket is closed. The
// socket's Close takes effect at once, so the socket is open here only if a
// handler that ran meanwhile connected it again; then no second connect is
// made and the connect timeout leads to a fresh attempt. Nothing spins.
void Korvid::ConnectSocketWhenClosed() {
  m_platform->Loop().ProcessPendingEventsOnce();
  if (Winsock1->State() == TcpSocket::kClosed) Winsock1->Connect(m_address, m_port);
  ArmTimeoutTimer(kConnectTimeoutMs);
}

void Korvid::ScheduleReconnect(const int32_t& delay) {
  Winsock1->Close();
  StatsPeriod().StopTimeout();
  m_connectionState = kReconnectWait;
  ArmTimeoutTimer(delay < 1 ? kDefaultReconnectDelayMs : delay);
}

// Finishes the current frame and saves the queue: run before a restart that
// follows a broken connection, and on release.
void Korvid::FlushToStore() {
  FinishCurrentFrame();
  ForcedSave();
}

void Korvid::ClearSaveQueue() { m_saveQueue->Clear(); }

// A new connection or a new store file begins a new recording segment, and
// the host's filters start afresh (motion detection compares with earlier
// frames, which belong to the old stream).
void Korvid::ResetFilterChain() {
  m_segmentPending = true;
  if (m_filterChain) m_filterChain->reset();
}

void Korvid::ResetRates() {
  SaveRate().Reset();
  PacketRate().Reset();
}

TimeoutChecker& Korvid::StatsPeriod() {
  if (!m_statsPeriod) m_statsPeriod = std::make_shared<TimeoutChecker>(m_platform->GetClock());
  return *m_statsPeriod;
}

}  // namespace ravelon
