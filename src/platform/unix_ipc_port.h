// Named inter-process ports on Unix stream sockets: how event text from other
// programs of the same user (a till's receipt printer feed, a script) reaches
// an engine.
//
// A NamedIpcPort is an InProcessIpcPort, so connect, observers and send keep
// their in-process meaning; it can also Listen under a name. Each message
// another process sends to that name is then handed on exactly as if this
// port had sent it: it reaches the observers of the port this one is connected
// to, as one block, on that port's loop. A host makes a listening port with
// Platform::NewNamedIpcPort and links its engine to it with
// engine.ipcConnect(port). An engine's own port (Platform::NewIpcPort) is a
// NamedIpcPort that never listens.
//
// connect returns the codes of components/ipc_port.h: kIpcConnected once the
// two ports are linked (messages from other processes flow from then on),
// kIpcPortClosed when either is closed, kIpcIncompatiblePort for nullptr,
// the port itself or a port of another kind, kIpcPortBusy when either is
// already linked to a third port. Connecting contacts no other process:
// processes find a port by its name alone.
//
// Where names live: the socket <folder>/<name>.sock, in the folder that
// platform/named_port_folder.h describes unless the host names one. Listen
// creates the folder (not its parents) with mode 0700. Both sides refuse a
// folder that is not a real folder owned by the user or that group or others
// may enter: nobody else can then plant a socket there, or reach this one.
// The listener also checks each peer's user (SO_PEERCRED) and closes
// connections of any other user unread.
//
// Wire format: the messages of platform/ipc_framing.h, several of them one
// after another on one connection. The listener answers every whole message
// with one byte, kAckHandedOn or kAckNotConnected, before it reads the next
// one. When it ends a connection itself it first writes one byte that says
// why (kBye...), so that the sender can tell its user what happened.
//
// Hostile or broken peers: a message's memory grows with the bytes that
// arrive, never with the length it declares; a connection silent for
// kNamedPortIdleTimeoutMs is closed; when all kMaxNamedPortConnections slots
// are taken, a new connection still gets in and the connection silent the
// longest is closed to make room. Idle peers therefore cannot keep a sender
// out, nor take memory they have not filled.
//
// Threading: a NamedIpcPort lives on the real platform's loop; accepting,
// reading and answering are handlers of that loop, so they never overlap the
// engine's own events. SendToNamedPort is plain blocking POSIX for other
// programs: it waits for the answer, so it must never run on the thread of
// the loop that listens.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "components/in_process_ipc_port.h"
#include "platform/periodic_timer.h"
#include "ravelon/named_port.h"

namespace ravelon {

class AsioLoop;

// The listener's answer to a message: handed to the connected port...
inline constexpr uint8_t kAckHandedOn = 0;
// ... or dropped, as the port was not connected to another one.
inline constexpr uint8_t kAckNotConnected = 1;
// Why the listener ends a connection, its last byte on it.
inline constexpr uint8_t kByeOtherUser = 2;   // the peer is another user
inline constexpr uint8_t kByeIdle = 3;        // silent for kNamedPortIdleTimeoutMs
inline constexpr uint8_t kByeMadeRoom = 4;    // closed to make room: all slots were taken
inline constexpr uint8_t kByeBadLength = 5;   // a length out of range
inline constexpr uint8_t kByePortClosed = 6;  // the port stopped listening

// What a listening port has seen, for the host's reports.
struct NamedIpcPortCounts {
  uint64_t accepted = 0;       // connections of the owning user
  uint64_t refused_peers = 0;  // connections of another user, closed unread
  uint64_t made_room = 0;      // connections closed for a new one, all slots taken
  uint64_t idle = 0;           // connections closed for their silence
  uint64_t messages = 0;       // whole messages received
  uint64_t dropped = 0;        // of those, received while not connected
  uint64_t bad_lengths = 0;    // connections ended for a length out of range
};

class NamedIpcPort final : public InProcessIpcPort {
 public:
  // `loop` is the real platform's loop; it must outlive the port. Made with
  // std::make_shared, as a listening port hands its handlers a weak
  // reference.
  explicit NamedIpcPort(AsioLoop& loop);
  // The same, with silence measured on `idle_clock` and the idle check woken
  // by `make_alarm`'s alarms: tests pass a simulated loop's, so that no test
  // waits for the idle limit.
  NamedIpcPort(AsioLoop& loop, const Clock& idle_clock,
               const PeriodicTimer::AlarmFactory& make_alarm);
  ~NamedIpcPort() override;

  // Starts listening as `name` in `folder` ("" for the default folder; tests
  // pass a folder of their own). Returns 0 once listening; -1 when refused
  // by its own checks: the port is closed or already listening, the name is
  // empty, holds '/' or a zero byte or makes a path too long for a socket,
  // the folder is not the user's private folder (see above), a live port
  // already listens under that name, or a file that is not a socket is in
  // the way; any other value is the errno of the failing system call. `error`
  // says why whenever the result is not 0. A socket file left by a process
  // that died is replaced.
  int32_t Listen(const std::string& name, const std::string& folder, std::string& error);

  // Stops listening (the socket file is removed unless another port has
  // replaced it meanwhile), drops every connection with what it had half
  // read, then closes the port as InProcessIpcPort does.
  void close() override;

  bool IsListening() const { return listener_ != nullptr; }
  // The socket file while listening, else "".
  std::string SocketPath() const;
  const NamedIpcPortCounts& Counts() const { return counts_; }

 private:
  struct Listener;
  struct Connection;
  using ConnectionPtr = std::shared_ptr<Connection>;

  void StopListening();
  void Accept();
  void OnAccept(const std::error_code& error, const ConnectionPtr& connection);
  std::function<void(std::error_code)> OnConnectionDone(
      const ConnectionPtr& connection, void (NamedIpcPort::*next)(const ConnectionPtr&));
  void WaitForBytes(const ConnectionPtr& connection);
  void OnReadable(const ConnectionPtr& connection);
  // Hands on the next whole message the connection has sent and answers it;
  // waits for more bytes when there is none.
  void Serve(const ConnectionPtr& connection);
  // Closes the connections silent for the idle limit, then wakes again when
  // the next one would reach it.
  void CloseIdle();
  void ArmIdleAlarm();
  // False once the connection is dropped or the port stopped listening: a
  // handler that completes after that does nothing.
  bool Holds(const ConnectionPtr& connection) const;
  // Writes `why` as the connection's last byte, if it fits at once, and drops it.
  void SayByeAndDrop(const ConnectionPtr& connection, uint8_t why);
  void Drop(const ConnectionPtr& connection);

  AsioLoop& asio_loop_;
  const Clock& idle_clock_;
  std::unique_ptr<Alarm> idle_alarm_;
  std::unique_ptr<Listener> listener_;  // while listening
  NamedIpcPortCounts counts_;
};

}  // namespace ravelon
