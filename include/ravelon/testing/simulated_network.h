// Scripted network peers for the simulated platform. A test says how a host
// and port answer a connect (accept, refuse or never answer, after a delay),
// and then plays the server's side of each accepted connection: send chunks
// at chosen times, close, or fail with a socket error. It can read every byte
// the engine sent. Everything happens on the SimulatedLoop's virtual time.
//
//   SimulatedNetwork net(loop);
//   ScriptedServer& camera = net.Listen("cam", 80);
//   camera.OnAccept([](ScriptedConnection& c) { c.Send("HTTP/1.0 200 OK\r\n", 1ms); });
//
// Single-threaded; owned by the SimulatedPlatform.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "ravelon/tcp_socket.h"
#include "ravelon/testing/simulated_loop.h"

namespace ravelon {

class SimulatedTcpSocket;
struct SimulatedSocketCore;

// kLookupHangs: the name's lookup never finishes, so the socket stays kResolving (it
// still counts as a connect attempt).
enum class ConnectAnswer { kAccept, kRefuse, kNeverAnswer, kLookupHangs };

// The server's side of one accepted connection.
class ScriptedConnection {
 public:
  ScriptedConnection(SimulatedLoop& loop, std::weak_ptr<SimulatedSocketCore> client,
                     uint64_t generation);

  // Every byte the client has sent on this connection.
  const std::string& Received() const { return received_; }
  // True once the client closed its socket.
  bool ClosedByClient() const { return closed_by_client_; }

  // Each call is one data arrival at the client, `after` from now.
  void Send(std::string bytes, Duration after = Duration::zero());
  // The server closes the connection: the client gets its close event.
  void Close(Duration after = Duration::zero());
  // The connection breaks: the client gets an error event.
  void Fail(int16_t number, std::string description, Duration after = Duration::zero());

 private:
  friend class SimulatedTcpSocket;
  // Runs `action` on the client's socket if this connection is still its own.
  void AtClient(Duration after, std::function<void(SimulatedSocketCore&)> action);

  SimulatedLoop& loop_;
  std::weak_ptr<SimulatedSocketCore> client_;
  uint64_t generation_;
  std::string received_;
  bool closed_by_client_ = false;
};

// What answers connects to one host and port.
class ScriptedServer {
 public:
  void Answer(ConnectAnswer answer, Duration after = Duration::zero()) {
    answer_ = answer;
    answer_delay_ = after;
  }
  // Runs for each accepted connection, right after the client's connect event.
  void OnAccept(std::function<void(ScriptedConnection&)> script) { script_ = std::move(script); }

  int ConnectAttempts() const { return attempts_; }
  const std::vector<std::shared_ptr<ScriptedConnection>>& Connections() const {
    return connections_;
  }
  // The most recent accepted connection; nullptr before the first.
  std::shared_ptr<ScriptedConnection> LastConnection() const {
    return connections_.empty() ? nullptr : connections_.back();
  }

 private:
  friend class SimulatedTcpSocket;
  ConnectAnswer answer_ = ConnectAnswer::kAccept;
  Duration answer_delay_ = Duration::zero();
  std::function<void(ScriptedConnection&)> script_;
  int attempts_ = 0;
  std::vector<std::shared_ptr<ScriptedConnection>> connections_;
};

class SimulatedNetwork {
 public:
  explicit SimulatedNetwork(SimulatedLoop& loop) : loop_(loop) {}

  // The server for `host`:`port`, made on first use (it accepts by default).
  // Connects to a host that has no server at all fail as "host not found";
  // to a known host at another port as "connection refused".
  ScriptedServer& Listen(const std::string& host, int32_t port);

  std::unique_ptr<TcpSocket> NewSocket();

 private:
  friend class SimulatedTcpSocket;
  ScriptedServer* Find(const std::string& host, int32_t port);
  bool KnowsHost(const std::string& host) const;

  SimulatedLoop& loop_;
  std::map<std::pair<std::string, int32_t>, ScriptedServer> servers_;
};

}  // namespace ravelon
