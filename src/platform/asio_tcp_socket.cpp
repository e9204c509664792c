#include "platform/asio_tcp_socket.h"

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/post.hpp>
#include <asio/write.hpp>
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
  std::string pending;
  std::array<char, 64 * 1024> read_buffer;
  bool reading = false;
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
    reading = false;
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
          self->state = TcpSocket::kConnected;
          self->StartRead();
          if (self->observer) self->observer->OnConnect();
        });
  }

  void StartRead() {
    // Reading pauses while the bytes waiting to be taken could not take one
    // more read: a host that stops taking data holds at most the backlog.
    if (reading || state != TcpSocket::kConnected ||
        pending.size() + read_buffer.size() > static_cast<size_t>(kMaxSocketBacklogBytes)) {
      return;
    }
    reading = true;
    socket.async_read_some(asio::buffer(read_buffer), [self = shared_from_this(), g = generation](
                                                          std::error_code ec, size_t n) {
      if (!self->Current(g)) return;
      self->reading = false;
      self->OnRead(ec, n);
    });
  }

  void OnRead(const std::error_code& ec, size_t n) {
    if (n > 0) pending.append(read_buffer.data(), n);
    if (ec == asio::error::eof) {
      state = TcpSocket::kClosing;
      if (n > 0 && observer) observer->OnDataArrival(static_cast<int32_t>(pending.size()));
      if (observer) observer->OnClose();
      return;
    }
    if (ec) {
      if (state == TcpSocket::kConnected) Fail(SocketErrorNumber(ec), ec.message());
      return;
    }
    // Read on before telling the observer: its handler may close the socket.
    StartRead();
    if (observer) observer->OnDataArrival(static_cast<int32_t>(pending.size()));
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

  void GetData(std::string& data) override {
    data.swap(core_->pending);
    core_->pending.clear();
    core_->StartRead();  // resumes a read paused by a full backlog
  }

 private:
  std::shared_ptr<Core> core_;
};

}  // namespace

std::unique_ptr<TcpSocket> NewAsioTcpSocket(asio::io_context& context, Resolver resolver) {
  return std::make_unique<AsioTcpSocket>(context, std::move(resolver));
}

}  // namespace ravelon
