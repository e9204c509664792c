#include "platform/asio_tcp_socket.h"

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
#include <cstring>
#include <deque>
#include <string>
#include <utility>
#include <vector>

#include "common/engine_limits.h"
#include "platform/connect_race.h"
#include "platform/name_lookup.h"
#include "platform/socket_errors.h"

namespace ravelon {
namespace {

using asio::ip::tcp;

// The socket's state, shared with Asio's completion handlers and the name
// lookup. Every handler carries the generation it was started in; Close and a
// new Connect move the generation on, so completions of an earlier connection
// do nothing.
struct Core : std::enable_shared_from_this<Core> {
  Core(asio::io_context& io, Resolver resolver)
      : context(io), resolve(std::move(resolver)), socket(io) {}

  asio::io_context& context;
  const Resolver resolve;
  std::shared_ptr<LookupTicket> lookup;  // while resolving
  std::shared_ptr<ConnectRace> race;     // while the addresses are tried
  tcp::socket socket;
  TcpSocketObserver* observer = nullptr;
  int state = TcpSocket::kClosed;
  uint64_t generation = 0;
  std::string pending;      // bytes read but not yet taken
  bool waiting = false;     // for the socket to become readable
  bool taken = false;       // the owner took bytes during the arrival event
  std::error_code failure;  // met by Receive, reported by the next event
  std::deque<std::string> write_queue;

  bool Current(uint64_t g) const { return g == generation; }

  void Fail(int16_t number, const std::string& description) {
    state = TcpSocket::kError;
    if (observer) observer->OnError(number, description);
  }

  void Close() {
    ++generation;
    state = TcpSocket::kClosed;
    // A lookup still running is abandoned, not waited for.
    if (lookup) std::exchange(lookup, nullptr)->Cancel();
    if (race) std::exchange(race, nullptr)->Cancel();
    std::error_code ignored;
    socket.shutdown(tcp::socket::shutdown_both, ignored);
    socket.close(ignored);
    pending.clear();
    write_queue.clear();
    waiting = false;
    failure.clear();
  }

  void PostError(int16_t number, std::string description) {
    asio::post(socket.get_executor(), [self = shared_from_this(), g = generation, number,
                                       description = std::move(description)] {
      if (self->Current(g)) self->Fail(number, description);
    });
  }

  void Resolve(const std::string& host, uint16_t port) {
    lookup = StartLookup(
        context.get_executor(), resolve, HostToLookUp(host),
        [weak = weak_from_this(), g = generation, host, port](LookupResult result) {
          auto self = weak.lock();
          if (!self || !self->Current(g)) return;
          self->lookup.reset();
          if (result.addresses.empty()) {
            return self->Fail(kSocketErrorHostNotFound,
                              "The name " + host + " did not resolve: " + result.failure);
          }
          self->state = TcpSocket::kConnectPending;
          self->ConnectTo(result.addresses, port);
        });
  }

  void ConnectTo(const std::vector<asio::ip::address>& addresses, uint16_t port) {
    race = ConnectRace::Start(
        context, addresses, port,
        [weak = weak_from_this(), g = generation](std::error_code ec, tcp::socket connected) {
          auto self = weak.lock();
          if (!self || !self->Current(g)) return;
          self->race.reset();
          if (ec) return self->Fail(SocketErrorNumber(ec), ec.message());
          self->socket = std::move(connected);
          std::error_code ignored;
          self->socket.set_option(tcp::no_delay(true), ignored);
          self->socket.non_blocking(true, ignored);
          self->state = TcpSocket::kConnected;
          self->StartWait();
          if (self->observer) self->observer->OnConnect();
        });
  }

  // Waits for the socket to become readable rather than reading into a
  // buffer of its own: the owner then takes the bytes with Receive straight
  // into its memory. Bytes the owner leaves during the event are read into
  // `pending`, so the peer's close is still seen, up to the backlog bound.
  void StartWait() {
    if (waiting || state != TcpSocket::kConnected || BacklogFull()) return;
    waiting = true;
    socket.async_wait(tcp::socket::wait_read,
                      [self = shared_from_this(), g = generation](std::error_code ec) {
                        if (!self->Current(g)) return;
                        self->waiting = false;
                        self->OnReadable(ec);
                      });
  }

  bool BacklogFull() const { return pending.size() >= static_cast<size_t>(kMaxSocketBacklogBytes); }

  void OnReadable(std::error_code ec) {
    if (ec) return Fail(SocketErrorNumber(ec), ec.message());
    const size_t in_system = socket.available(ec);
    if (ec) return Fail(SocketErrorNumber(ec), ec.message());
    // Nothing to read while readable: the peer closed, or an error waits.
    if (in_system == 0 || failure) return ReadIntoBacklog(pending.size());
    const uint64_t g = generation;
    const size_t before = pending.size() + in_system;
    taken = false;
    if (observer) {
      observer->OnDataArrival(
          static_cast<int32_t>(std::min(before, static_cast<size_t>(kMaxArrivalBytes))));
    }
    if (!Current(g) || state != TcpSocket::kConnected) return;
    taken ? StartWait() : ReadIntoBacklog(before);
  }

  // Reads what the system holds into `pending`, up to the backlog bound, and
  // reports the peer's close or an error found on the way. The bytes beyond
  // the `announced` ones are reported as an arrival.
  void ReadIntoBacklog(size_t announced) {
    const uint64_t g = generation;
    while (!BacklogFull()) {
      constexpr size_t kReadStep = 64 * 1024;
      const size_t filled = pending.size();
      pending.resize(std::min(filled + kReadStep, static_cast<size_t>(kMaxSocketBacklogBytes)));
      std::error_code ec = std::exchange(failure, {});
      const size_t n =
          ec ? 0
             : socket.read_some(asio::buffer(pending.data() + filled, pending.size() - filled), ec);
      pending.resize(filled + n);
      if (ec == asio::error::would_block) break;
      if (ec == asio::error::eof) {
        state = TcpSocket::kClosing;
        AnnounceBeyond(announced);
        if (Current(g) && observer) observer->OnClose();
        return;
      }
      if (ec) return Fail(SocketErrorNumber(ec), ec.message());
    }
    AnnounceBeyond(announced);
    if (Current(g)) StartWait();
  }

  void AnnounceBeyond(size_t announced) {
    if (pending.size() > announced && observer) {
      observer->OnDataArrival(static_cast<int32_t>(pending.size()));
    }
  }

  int32_t Receive(char* destination, int32_t capacity) {
    taken = true;
    const size_t from_backlog = std::min(pending.size(), static_cast<size_t>(capacity));
    std::memcpy(destination, pending.data(), from_backlog);
    pending.erase(0, from_backlog);
    size_t received = from_backlog;
    if (received < static_cast<size_t>(capacity) && state == TcpSocket::kConnected) {
      std::error_code ec;
      received += socket.read_some(
          asio::buffer(destination + received, static_cast<size_t>(capacity) - received), ec);
      // A close or an error is reported by the next readiness event, never
      // from inside the owner's call; the system tells an error only once.
      if (ec && ec != asio::error::would_block && ec != asio::error::eof) failure = ec;
    }
    if (pending.empty()) std::string().swap(pending);  // a backlog's memory goes back at once
    StartWait();                                       // resumes a wait paused by a full backlog
    return static_cast<int32_t>(received);
  }
  void StartWrite() {
    asio::async_write(socket, asio::buffer(write_queue.front()),
                      [self = shared_from_this(), g = generation](std::error_code ec, size_t) {
                        if (!self->Current(g)) return;
                        if (ec) {
                          if (self->state == TcpSocket::kConnected) {
                            self->Fail(SocketErrorNumber(ec), ec.message());
                          }
                          return;
                        }
                        self->write_queue.pop_front();
                        if (!self->write_queue.empty()) self->StartWrite();
                      });
  }
};

class AsioTcpSocket final : public TcpSocket {
 public:
  AsioTcpSocket(asio::io_context& context, Resolver resolver)
      : core_(std::make_shared<Core>(context, std::move(resolver))) {}
  ~AsioTcpSocket() override {
    core_->observer = nullptr;
    core_->Close();
  }

  void SetObserver(TcpSocketObserver* observer) override { core_->observer = observer; }

  void Connect(const std::string& host, int32_t port) override {
    if (core_->state != kClosed) {
      core_->PostError(kSocketErrorAlreadyConnected, "Socket is already connected");
      return;
    }
    ++core_->generation;
    core_->state = kResolving;
    if (port < 0 || port > 65535) {
      core_->PostError(kSocketErrorAddressNotAvailable, "Invalid port");
      return;
    }
    core_->Resolve(host, static_cast<uint16_t>(port));
  }

  void Close() override { core_->Close(); }

  int State() const override { return core_->state; }

  void SendData(const std::string& data) override {
    if (core_->state != kConnected) {
      core_->PostError(kSocketErrorNotConnected, "Socket is not connected");
      return;
    }
    if (data.empty()) return;
    core_->write_queue.push_back(data);
    if (core_->write_queue.size() == 1) core_->StartWrite();
  }

  int32_t Receive(char* destination, int32_t capacity) override {
    return capacity > 0 ? core_->Receive(destination, capacity) : 0;
  }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<TcpSocket> NewAsioTcpSocket(asio::io_context& context, Resolver resolver) {
  return std::make_unique<AsioTcpSocket>(context, std::move(resolver));
}

}  // namespace ravelon
