#include "ravelon/testing/simulated_network.h"

#include <algorithm>
#include <cstring>

namespace ravelon {

// The client socket's state, shared with the tasks that deliver its events so
// that a task outliving the socket, or its connection, does nothing.
struct SimulatedSocketCore {
  TcpSocketObserver* observer = nullptr;
  int state = TcpSocket::kClosed;
  uint64_t generation = 0;
  std::string pending;
  bool reporting_rest = false;  // an event for bytes left by the observer is on its way
  std::shared_ptr<ScriptedConnection> connection;
};

class SimulatedTcpSocket final : public TcpSocket {
 public:
  explicit SimulatedTcpSocket(SimulatedNetwork& network)
      : network_(network), core_(std::make_shared<SimulatedSocketCore>()) {}
  ~SimulatedTcpSocket() override {
    Close();
    core_->observer = nullptr;
  }

  void SetObserver(TcpSocketObserver* observer) override { core_->observer = observer; }

  void Connect(const std::string& host, int32_t port) override {
    if (core_->state != kClosed) {
      PostError(core_->generation, kSocketErrorAlreadyConnected, "Socket is already connected");
      return;
    }
    const uint64_t generation = ++core_->generation;
    core_->state = kResolving;
    if (port < 0 || port > 65535) {
      PostError(generation, kSocketErrorAddressNotAvailable, "Invalid port");
      return;
    }
    if (!network_.KnowsHost(host)) {
      PostError(generation, kSocketErrorHostNotFound, "Host not found");
      return;
    }
    ScriptedServer* server = network_.Find(host, port);
    if (server == nullptr) {
      core_->state = kConnectPending;
      PostError(generation, kSocketErrorConnectionRefused, "Connection refused");
      return;
    }
    ++server->attempts_;
    if (server->answer_ != ConnectAnswer::kLookupHangs) core_->state = kConnectPending;
    switch (server->answer_) {
      case ConnectAnswer::kLookupHangs:
      case ConnectAnswer::kNeverAnswer:
        return;
      case ConnectAnswer::kRefuse:
        PostError(generation, kSocketErrorConnectionRefused, "Connection refused",
                  server->answer_delay_);
        return;
      case ConnectAnswer::kAccept:
        network_.loop_.PostAfter(server->answer_delay_, [this, core = Weak(), generation, server] {
          auto live = Live(core, generation);
          if (!live) return;
          auto connection = std::make_shared<ScriptedConnection>(network_.loop_, core, generation);
          server->connections_.push_back(connection);
          live->connection = connection;
          live->state = kConnected;
          if (live->observer) live->observer->OnConnect();
          // After the connect event, as documented: the script sees what the
          // client sent from its connect handler.
          if (server->script_) server->script_(*connection);
        });
        return;
    }
  }

  void Close() override {
    ++core_->generation;
    core_->state = kClosed;
    core_->pending.clear();
    if (core_->connection) core_->connection->closed_by_client_ = true;
    core_->connection.reset();
  }

  int State() const override { return core_->state; }

  void SendData(const std::string& data) override {
    if (core_->state != kConnected) {
      PostError(core_->generation, kSocketErrorNotConnected, "Socket is not connected");
      return;
    }
    core_->connection->received_ += data;
  }

  int32_t Receive(char* destination, int32_t capacity) override {
    const size_t n = std::min(core_->pending.size(), static_cast<size_t>(std::max(capacity, 0)));
    std::memcpy(destination, core_->pending.data(), n);
    core_->pending.erase(0, n);
    return static_cast<int32_t>(n);
  }

 private:
  std::weak_ptr<SimulatedSocketCore> Weak() const { return core_; }

  static std::shared_ptr<SimulatedSocketCore> Live(const std::weak_ptr<SimulatedSocketCore>& weak,
                                                   uint64_t generation) {
    auto core = weak.lock();
    if (!core || core->generation != generation) return nullptr;
    return core;
  }

  void PostError(uint64_t generation, int16_t number, std::string description,
                 Duration after = Duration::zero()) {
    network_.loop_.PostAfter(
        after, [core = Weak(), generation, number, description = std::move(description)] {
          auto live = Live(core, generation);
          if (!live) return;
          live->state = kError;
          if (live->observer) live->observer->OnError(number, description);
        });
  }

  SimulatedNetwork& network_;
  std::shared_ptr<SimulatedSocketCore> core_;
};

ScriptedConnection::ScriptedConnection(SimulatedLoop& loop,
                                       std::weak_ptr<SimulatedSocketCore> client,
                                       uint64_t generation)
    : loop_(loop), client_(std::move(client)), generation_(generation) {}

void ScriptedConnection::AtClient(Duration after,
                                  std::function<void(SimulatedSocketCore&)> action) {
  loop_.PostAfter(after, [client = client_, generation = generation_, action = std::move(action)] {
    auto core = client.lock();
    if (!core || core->generation != generation || core->state != TcpSocket::kConnected) return;
    action(*core);
  });
}

namespace {

// Reports the waiting bytes; when the observer takes some but not all, as a
// real socket does, the rest is reported again by an event of its own.
void AnnounceWaiting(SimulatedLoop& loop, const std::weak_ptr<SimulatedSocketCore>& client,
                     uint64_t generation) {
  auto core = client.lock();
  if (!core || core->generation != generation) return;
  core->reporting_rest = false;
  if (core->state != TcpSocket::kConnected || core->observer == nullptr) return;
  const size_t waiting = core->pending.size();
  core->observer->OnDataArrival(static_cast<int32_t>(waiting));
  if (!core->pending.empty() && core->pending.size() < waiting) {
    core->reporting_rest = true;
    loop.PostAfter(Duration::zero(),
                   [&loop, client, generation] { AnnounceWaiting(loop, client, generation); });
  }
}

}  // namespace

void ScriptedConnection::Send(std::string bytes, Duration after) {
  loop_.PostAfter(
      after, [&loop = loop_, client = client_, generation = generation_, bytes = std::move(bytes)] {
        auto core = client.lock();
        if (bytes.empty() || !core || core->generation != generation ||
            core->state != TcpSocket::kConnected) {
          return;
        }
        core->pending += bytes;
        AnnounceWaiting(loop, client, generation);
      });
}

void ScriptedConnection::Close(Duration after) {
  AtClient(after, [this](SimulatedSocketCore& core) {
    // The close follows the bytes sent before it, as on a real connection.
    if (core.reporting_rest) return Close();
    core.state = TcpSocket::kClosing;
    if (core.observer) core.observer->OnClose();
  });
}

void ScriptedConnection::Fail(int16_t number, std::string description, Duration after) {
  AtClient(after, [number, description = std::move(description)](SimulatedSocketCore& core) {
    core.state = TcpSocket::kError;
    if (core.observer) core.observer->OnError(number, description);
  });
}

ScriptedServer& SimulatedNetwork::Listen(const std::string& host, int32_t port) {
  return servers_[{host, port}];
}

ScriptedServer* SimulatedNetwork::Find(const std::string& host, int32_t port) {
  auto it = servers_.find({host, port});
  return it == servers_.end() ? nullptr : &it->second;
}

bool SimulatedNetwork::KnowsHost(const std::string& host) const {
  auto it = servers_.lower_bound({host, INT32_MIN});
  return it != servers_.end() && it->first.first == host;
}

std::unique_ptr<TcpSocket> SimulatedNetwork::NewSocket() {
  return std::make_unique<SimulatedTcpSocket>(*this);
}

}  // namespace ravelon
