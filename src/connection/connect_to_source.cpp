// Starting and ending connections to the source: the reconnect policy.
#include "common/engine_limits.h"
#include "connection/connection.h"
#include "parsing/stream_reader.h"
#include "ravelon/debug_levels.h"
#include "schedule/rate_statistics.h"

namespace ravelon {

Connection::Connection(EventLoop& loop, std::unique_ptr<TcpSocket> socket, StreamReader& reader,
                       RateStatistics& rates, ConnectionOwner& owner)
    : m_loop(loop),
      m_socket(std::move(socket)),
      m_reader(reader),
      m_rates(rates),
      m_owner(owner),
      m_timeoutTimer(loop.NewTimer([this] { TimeoutTimer_Timer(); })) {
  m_socket->SetObserver(this);
}

Connection::~Connection() {
  m_socket->Close();
  // No event of the socket may reach a half-destroyed engine.
  m_socket->SetObserver(nullptr);
}

// The full connect: everything of the previous connection is dropped (frames
// still queued are not saved here; callers that want them saved flush first).
void Connection::ConnectToSource() {
  m_continuing = false;
  m_owner.OnConnectionStarting();
  m_timeoutTimer->SetEnabled(false);
  m_reader.Clear();
  CloseSocket();
  if (m_owner.ScheduledDisconnect()) {
    m_connectionState = kIdle;  // the schedule has already said why
    return;
  }
  m_owner.Debug(kDebugConnection, "Connecting to the source.");
  m_connectionState = kConnecting;
  if (m_settings.address.empty()) {
    // Virtual mode: no socket and no watchdog; frames come only from the
    // inter-process port.
    m_owner.Debug(kDebugConfiguration, "Address not supplied. Source will work in virtual mode.");
    m_timeoutTimer->SetEnabled(false);
    m_connectionState = kReadingParts;
    m_owner.OnSessionStarted();
    return;
  }
  ConnectSocketWhenClosed();
}

void Connection::Stop() {
  m_timeoutTimer->SetEnabled(false);
  m_connectionState = kIdle;
  CloseSocket();
}

void Connection::CloseSocket() {
  ++m_attempt;
  m_socket->Close();
}

// Frames, counters, rates and the queue stay as they are.
void Connection::ReconnectForNextRequest() {
  m_continuing = true;
  m_reader.Clear();
  m_connectionState = kConnecting;
  CloseSocket();
  ConnectSocketWhenClosed();
}

// Lets queued events run once, then connects if the socket is closed. The
// socket's Close takes effect at once, so the socket is open here only if a
// handler that ran meanwhile connected it again; then no second connect is
// made and the connect timeout leads to a fresh attempt. Nothing spins.
void Connection::ConnectSocketWhenClosed() {
  m_loop.ProcessPendingEventsOnce();
  if (m_socket->State() == TcpSocket::kClosed)
    m_socket->Connect(m_settings.address, m_settings.port);
  ArmTimeoutTimer(kConnectTimeoutMs);
}

void Connection::ScheduleReconnect(int32_t delay) {
  CloseSocket();
  m_rates.StopPeriod();
  m_connectionState = kReconnectWait;
  ArmTimeoutTimer(delay < 1 ? kReconnectAfterBreakMs : delay);
}

}  // namespace ravelon
