// Connection: the engine's link to its source. It owns the TCP socket and
// the one-shot watchdog timer, sends the request, feeds every arrival to the
// stream reader and runs the stage of the connection state on it, hands the
// frames it yields to its owner, and restarts a connection that breaks or
// stalls, for as long as the engine runs:
//
//   Idle --connect--> Connecting --socket up--> AwaitingResponse --data--> ReadingHeader
//     ^                 |  ^                          |                        | boundary
//     |   error/timeout v  | reconnect                | single response        v
//   (release,       ReconnectWait                  PollWait <--------    ReadingParts
//    schedule)          (5 s / 50 s)               (poll interval)    (also virtual mode)
//
// There is no retry counter and no growing back-off: a broken connection is
// retried after 5 s, a connect that failed or timed out after 50 s, a stalled
// response at once.
//
// Owned by the engine; socket events, the watchdog and every call run on the
// engine's loop. The loop is let run at two points: the wait for the socket
// to close before a connect, and the connect event before the request goes
// out; handlers that run there may call back into the engine.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "connection/connection_state.h"
#include "connection/digest_auth.h"
#include "parsing/http_response_gate.h"
#include "parsing/stream_reader.h"
#include "ravelon/event_loop.h"
#include "ravelon/media_frame.h"
#include "ravelon/request_style.h"
#include "ravelon/tcp_socket.h"

namespace ravelon {

class RateStatistics;

struct ConnectionSettings {
  std::string address;  // "" runs the engine in virtual mode: no socket at all
  int32_t port = 0;
  std::string url;         // the path requested; a missing leading "/" is added
  bool streaming = false;  // false: one image per connection, polled
  std::string userName;    // with the password, a Basic authorization line
  std::string password;    // (a Digest one once the source has asked for it)
  RequestStyle requestStyle = RequestStyle::kBare;
  bool boundaryDiscovery = false;
};

class ConnectionOwner {
 public:
  virtual ~ConnectionOwner() = default;
  // A full connect begins: whatever belonged to the previous connection
  // (current frame, save queue, filter state) is dropped.
  virtual void OnConnectionStarting() = 0;
  // A new session begins (the socket is up, or virtual mode): counts and
  // queue start afresh.
  virtual void OnSessionStarted() = 0;
  // A frame from the stream; false when it cannot be handled, which the
  // connection takes as a broken stream.
  virtual bool OnNewFrame(std::shared_ptr<MediaFrame>& frame) = 0;
  // The connection broke or stalled: finish and save what was received.
  virtual void OnConnectionLost() = 0;
  // True while the schedule holds the source disconnected.
  virtual bool ScheduledDisconnect() const = 0;
  virtual void Debug(uint8_t level, const std::string& text) = 0;
};

class Connection final : private TcpSocketObserver {
 public:
  Connection(EventLoop& loop, std::unique_ptr<TcpSocket> socket, StreamReader& reader,
             RateStatistics& rates, ConnectionOwner& owner);
  ~Connection() override;
  Connection(const Connection&) = delete;
  Connection& operator=(const Connection&) = delete;

  ConnectionSettings& Settings() { return m_settings; }
  const ConnectionSettings& Settings() const { return m_settings; }
  // The pause between single responses.
  void SetPollInterval(int32_t milliseconds) { m_pollInterval = milliseconds; }

  // The full connect: drops everything of the previous connection, then
  // connects (or stays idle while the schedule disconnects the source).
  void ConnectToSource();
  // Stops the watchdog, closes the socket and goes idle.
  void Stop();

  int16_t State() const { return m_connectionState; }
  // The watchdog's present arming, for checks.
  const Timer& Watchdog() const { return *m_timeoutTimer; }

 private:
  // Socket events.
  void OnConnect() override;
  void OnDataArrival(int32_t bytes_total) override;
  void OnClose() override;
  void OnError(int16_t number, const std::string& description) override;

  // Opens the socket again for another request of the same session.
  void ReconnectForNextRequest();
  void ScheduleReconnect(int32_t delay);
  void ConnectSocketWhenClosed();
  void CloseSocket();
  std::string BuildAuthorizationHeader();
  DigestSession& Digest();
  // A response the gate stopped: a status other than 2xx, or a broken
  // chunked body. Reports why and retries, at once for a Digest challenge
  // that can be answered, else after the normal reconnect delay.
  void OnRefused();
  void OnBrokenBody();
  void OnBrokenStream();
  void ArmTimeoutTimer(int32_t milliseconds);
  void TimeoutTimer_Timer();

  bool ReceiveIntoReader(int32_t bytesTotal, StreamReader::AppendOutcome& appended);

  // The stages of a response.
  void RunStage();
  void ProcessResponseHeader();
  void ProcessParts();
  void TakeSingleResponse();

  EventLoop& m_loop;
  std::unique_ptr<TcpSocket> m_socket;
  StreamReader& m_reader;
  RateStatistics& m_rates;
  ConnectionOwner& m_owner;
  std::unique_ptr<Timer> m_timeoutTimer;
  ConnectionSettings m_settings;
  int16_t m_connectionState = kIdle;
  int32_t m_pollInterval = 0;
  // Counts socket closes, so the connect event can tell that a handler run
  // by its loop run ended the attempt it belongs to.
  uint64_t m_attempt = 0;
  // Set for a request of the same session (the next single response, a
  // Digest answer): its connect event keeps the queue, counts and rates.
  bool m_continuing = false;
  uint8_t m_inDataArrival = 0;
  std::string m_arrival;    // the socket's bytes, reused between arrivals
  std::string m_unwrapped;  // what the gate let through of them
  HttpResponseGate m_gate;
  bool m_bodyBroken = false;  // the gate found the chunked body broken
  // Made on the first 401 with credentials set, again when they change.
  std::unique_ptr<DigestSession> m_digest;
  std::string m_digestCredentials;
};

}  // namespace ravelon
