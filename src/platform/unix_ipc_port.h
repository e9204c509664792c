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
// Where names live: the socket <folder>/<name>.sock. The folder is
// $XDG_RUNTIME_DIR/ravelon when that variable holds an absolute path, else
// /tmp/ravelon-<uid>; Listen creates it (not its parents) with mode 0700.
// Both sides refuse a folder that is not a real folder owned by the user or
// that group or others may enter: nobody else can then plant a socket there,
// or reach this one. The listener also checks each peer's user (SO_PEERCRED)
// and closes connections of any other user unread.
//
// Wire format (several messages may follow each other on one connection):
//   length   4 bytes, signed 32-bit little-endian, 0 to kMaxMessageBytes
//   payload  `length` bytes, the block exactly as sent
// The listener answers every whole message with one byte, kAckHandedOn or
// kAckNotConnected, before it reads the next one. A length out of range ends
// the connection without an answer.
//
// Threading: a NamedIpcPort lives on the real platform's loop; accepting,
// reading and answering are handlers of that loop, so they never overlap the
// engine's own events. SendToNamedPort is plain blocking POSIX for other
// programs: it waits for the answer, so it must never run on the thread of
// the loop that listens.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <system_error>

#include "components/in_process_ipc_port.h"
#include "ravelon/named_port.h"

namespace ravelon {

class AsioLoop;

// The listener's answer to a message: handed to the connected port...
inline constexpr uint8_t kAckHandedOn = 0;
// ... or dropped, as the port was not connected to another one.
inline constexpr uint8_t kAckNotConnected = 1;
// Connections one listener holds at once; more are closed unread.
inline constexpr int kMaxNamedPortConnections = 64;

// What a listening port has seen, for the host's reports.
struct NamedIpcPortCounts {
  uint64_t accepted = 0;       // connections of the owning user
  uint64_t refused_peers = 0;  // connections of another user, closed unread
  uint64_t refused_busy = 0;   // connections over kMaxNamedPortConnections
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

  void StopListening();
  void Accept();
  void OnAccept(const std::error_code& error, std::shared_ptr<Connection> connection);
  template <typename Buffer>
  void ReadThen(const std::shared_ptr<Connection>& connection, Buffer buffer,
                void (NamedIpcPort::*next)(const std::shared_ptr<Connection>&));
  void ReadHeader(const std::shared_ptr<Connection>& connection);
  void OnHeader(const std::shared_ptr<Connection>& connection);
  void OnBody(const std::shared_ptr<Connection>& connection);
  // False once the connection is dropped or the port stopped listening: a
  // handler that completes after that does nothing.
  bool Holds(const std::shared_ptr<Connection>& connection) const;
  void Drop(const std::shared_ptr<Connection>& connection);

  AsioLoop& asio_loop_;
  std::unique_ptr<Listener> listener_;  // while listening
  NamedIpcPortCounts counts_;
};

}  // namespace ravelon
