// The platform contract, run on virtual time with a scripted peer and on the
// real platform with a server on 127.0.0.1 on the same io_context. Timer cases
// compare orders of events, not wall-clock readings, so they hold under load.
#include <gtest/gtest.h>

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/asio_loop.h"
#include "ravelon/testing/simulated_platform.h"

namespace ravelon {
namespace {

using asio::ip::tcp;
using std::chrono::milliseconds;
using Log = std::vector<std::string>;

struct SimulatedHarness {
  SimulatedHarness() { platform.network().Listen("cam", 80); }
  void Connect(TcpSocket& socket) { socket.Connect("cam", 80); }
  void ConnectRefused(TcpSocket& socket) { socket.Connect("cam", 81); }
  ScriptedConnection* Peer() { return platform.network().Listen("cam", 80).LastConnection().get(); }
  bool Accepted() { return Peer() != nullptr; }
  const std::string& Received() { return Peer()->Received(); }
  bool ClientClosed() { return Peer()->ClosedByClient(); }
  void Send(std::string bytes) { Peer()->Send(std::move(bytes)); }
  void Close() { Peer()->Close(); }
  SimulatedPlatform platform;
  SimulatedLoop& loop = platform.loop();
};

struct AsioHarness {
  AsioHarness() {
    acceptor.async_accept(peer, [this](std::error_code ec) {
      accepted = !ec;
      if (accepted) Read();
    });
  }
  void Connect(TcpSocket& socket) { socket.Connect("localhost", acceptor.local_endpoint().port()); }
  void ConnectRefused(TcpSocket& socket) {
    tcp::acceptor gone(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    const int32_t port = gone.local_endpoint().port();
    gone.close();
    socket.Connect("127.0.0.1", port);
  }
  bool Accepted() { return accepted; }
  const std::string& Received() { return received; }
  bool ClientClosed() { return client_closed; }
  // One write at a time; a close waits for it.
  void Send(std::string bytes) {
    auto data = std::make_shared<std::string>(std::move(bytes));
    writing = true;
    asio::async_write(peer, asio::buffer(*data), [this, data](std::error_code, size_t) {
      writing = false;
      if (closing) Close();
    });
  }
  void Close() {
    std::error_code ignored;
    closing = true;
    if (!writing) peer.shutdown(tcp::socket::shutdown_send, ignored);
  }
  // Reads until the client's side is closed.
  void Read() {
    peer.async_read_some(asio::buffer(buffer), [this](std::error_code ec, size_t n) {
      received.append(buffer.data(), n);
      client_closed = static_cast<bool>(ec);
      if (!ec) Read();
    });
  }

  std::shared_ptr<Platform> owner = NewRealPlatform();
  Platform& platform = *owner;
  AsioLoop& loop = dynamic_cast<AsioLoop&>(platform.Loop());
  asio::io_context& io = loop.Context();
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  tcp::socket peer{io};  // the server's end of the accepted connection
  std::array<char, 65536> buffer;
  std::string received;
  bool accepted = false, client_closed = false, writing = false, closing = false;
};

// Records socket events; runs of data arrivals count once.
struct Recorder final : TcpSocketObserver {
  void OnConnect() override { Add("connect"); }
  void OnDataArrival(int32_t bytes_total) override {
    last_total = bytes_total;
    Add("data");
  }
  void OnClose() override { Add("close"); }
  void OnError(int16_t n, const std::string&) override { Add("error " + std::to_string(n)); }
  void Add(const std::string& event) {
    if (event != "data" || events.empty() || events.back() != "data") events.push_back(event);
    if (on_event) on_event(event);
  }
  Log events;
  int32_t last_total = 0;
  std::function<void(const std::string&)> on_event;
};

template <typename H>
class PlatformTest : public testing::Test {
 protected:
  PlatformTest() { socket_->SetObserver(&client_); }
  MonoTime Now() const { return h_.platform.GetClock().Monotonic(); }
  // Runs the loop until Stop or `limit`; a bare alarm, so a broken timer cannot hang.
  void RunFor(milliseconds limit) {
    auto deadline = h_.loop.NewAlarm([this] { h_.loop.Stop(); });
    deadline->ArmAt(Now() + limit);
    h_.loop.Run();
  }
  // Runs the loop until `done()` holds or `limit` has passed; returns done().
  bool RunUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10'000)) {
    auto poll = loop_.NewTimer([&] {
      if (done()) loop_.Stop();
    });
    poll->SetInterval(1);
    poll->SetEnabled(true);
    RunFor(limit);
    return done();
  }
  bool Connected() {
    return RunUntil([&] { return h_.Accepted() && !client_.events.empty(); });
  }

  H h_;
  EventLoop& loop_ = h_.loop;
  Recorder client_;
  std::unique_ptr<TcpSocket> socket_ = h_.platform.NewTcpSocket();
};

using Harnesses = testing::Types<SimulatedHarness, AsioHarness>;
TYPED_TEST_SUITE(PlatformTest, Harnesses);

TYPED_TEST(PlatformTest, PumpRunsReadyWorkNestedInsideAndOutsideRun) {
  EventLoop& loop = this->loop_;
  Log log;
  // A handler that posts work and then pumps the loop from inside itself.
  auto outer = [&] {
    log.push_back("outer");
    loop.Post([&] {
      log.push_back("b");
      loop.Post([&] { log.push_back("b2"); });
    });
    for (int i = 0; i < 4; ++i) loop.Post([&] { log.push_back("c"); });
    loop.ProcessPendingEventsOnce();
    log.push_back("outer-done");
  };
  auto far = loop.NewTimer([&] { log.push_back("far"); });
  far->SetInterval(200);  // not due: the pump must not wait for it
  far->SetEnabled(true);
  const MonoTime start = this->Now();
  loop.Post(outer);
  loop.Post([&] { log.push_back("queued"); });
  loop.ProcessPendingEventsOnce();
  loop.ProcessPendingEventsOnce();  // nothing left: returns at once
  EXPECT_EQ(log, (Log{"outer", "queued", "b", "c", "c", "c", "c", "b2", "outer-done"}));
  EXPECT_LT(this->Now() - start, milliseconds(200));

  // Inside Run the nested pump must neither lose events nor end Run, and Run
  // runs until Stop, not until the deadline.
  log.clear();
  far.reset();
  std::unique_ptr<Timer> later = loop.NewTimer([&] {
    later->SetEnabled(false);
    log.push_back("later");
    loop.Stop();
  });
  later->SetInterval(10);
  loop.Post([&] {
    outer();
    later->SetEnabled(true);
  });
  this->RunFor(milliseconds(5000));
  EXPECT_EQ(log, (Log{"outer", "b", "c", "c", "c", "c", "b2", "outer-done", "later"}));
  EXPECT_LT(this->Now() - start, milliseconds(1000));

  loop.Post([&] { log.push_back("after"); });
  loop.ProcessPendingEventsOnce();
  EXPECT_EQ(log.back(), "after");
}

// Timers change themselves from their own handler, or are changed by another
// handler due at the same instant while their ticks may already be on their
// way: no tick of a stopped, destroyed or re-armed countdown may run.
TYPED_TEST(PlatformTest, TimerHandlersRearmDisableOrDestroyTimers) {
  EventLoop& loop = this->loop_;
  int wrong_ticks = 0, destroyer_ticks = 0;
  std::vector<MonoTime> self_ticks, restarted_ticks;
  MonoTime killed_at{};
  auto wrong = [&] { ++wrong_ticks; };
  std::unique_ptr<Timer> doomed = loop.NewTimer(wrong), paused = loop.NewTimer(wrong),
                         cancelled = loop.NewTimer(wrong), zero = loop.NewTimer(wrong),
                         idle = loop.NewTimer(wrong), killer, self, destroyer;
  std::unique_ptr<Timer> restarted = loop.NewTimer([&] { restarted_ticks.push_back(this->Now()); });
  killer = loop.NewTimer([&] {
    killed_at = this->Now();
    doomed.reset();
    paused->SetEnabled(false);
    restarted->SetInterval(30);
    killer->SetEnabled(false);
  });
  // Re-arms itself on its first tick and disables itself on its second.
  self = loop.NewTimer([&] {
    self_ticks.push_back(this->Now());
    if (self_ticks.size() == 1) {
      self->SetInterval(25);
    } else {
      self->SetEnabled(false);
      loop.Stop();
    }
  });
  destroyer = loop.NewTimer([&] {
    destroyer.reset();
    ++destroyer_ticks;  // the handler outlives its timer
  });
  const MonoTime start = this->Now();
  for (Timer* t : {killer.get(), doomed.get(), paused.get(), cancelled.get(), restarted.get(),
                   self.get(), destroyer.get()}) {
    t->SetInterval(10);
    t->SetEnabled(true);
  }
  cancelled.reset();     // destroyed while armed
  zero->SetInterval(0);  // below 1 ms: never ticks
  zero->SetEnabled(true);
  idle->SetInterval(5);  // never enabled
  this->RunFor(milliseconds(3000));
  this->RunFor(milliseconds(30));  // room for ticks that must not come

  EXPECT_EQ(wrong_ticks, 0);
  EXPECT_EQ(destroyer_ticks, 1);
  EXPECT_EQ(destroyer, nullptr);
  ASSERT_EQ(self_ticks.size(), 2u);
  EXPECT_GE(self_ticks[0] - start, milliseconds(10));  // never early
  EXPECT_GE(self_ticks[1] - self_ticks[0], milliseconds(25));
  EXPECT_FALSE(self->Enabled());
  for (MonoTime t : restarted_ticks) EXPECT_GE(t - killed_at, milliseconds(30));
}

TYPED_TEST(PlatformTest, SocketRefusedThenExchangeAndPeerCloseWithData) {
  TypeParam& h = this->h_;
  TcpSocket& socket = *this->socket_;
  Log& events = this->client_.events;
  EXPECT_EQ(socket.State(), TcpSocket::kClosed);
  h.ConnectRefused(socket);
  ASSERT_TRUE(this->RunUntil([&] { return !events.empty(); }));
  EXPECT_EQ(events, (Log{"error 10061"}));
  EXPECT_EQ(socket.State(), TcpSocket::kError);
  socket.Close();
  EXPECT_EQ(socket.State(), TcpSocket::kClosed);

  // Closed while connecting, then connected again: only the second attempt reports.
  events.clear();
  h.Connect(socket);
  socket.Close();
  EXPECT_EQ(socket.State(), TcpSocket::kClosed);
  h.Connect(socket);
  EXPECT_NE(socket.State(), TcpSocket::kConnected);
  ASSERT_TRUE(this->Connected());
  EXPECT_EQ(events, (Log{"connect"}));
  EXPECT_EQ(socket.State(), TcpSocket::kConnected);

  const std::string request("GET /\r\n\0x", 9), reply("abc\0def", 7);
  socket.SendData(request.substr(0, 3));
  socket.SendData("");
  socket.SendData(request.substr(3));
  // The server's data and its close travel together; the data stays
  // available after the close event.
  h.Send(reply);
  h.Close();
  ASSERT_TRUE(this->RunUntil([&] { return events.back() == "close"; }));
  EXPECT_EQ(events, (Log{"connect", "data", "close"}));
  EXPECT_EQ(this->client_.last_total, 7);
  EXPECT_EQ(socket.State(), TcpSocket::kClosing);
  std::string data = "old";
  socket.GetData(data);
  EXPECT_EQ(data, reply);
  socket.GetData(data);
  EXPECT_EQ(data, "");
  socket.Close();
  EXPECT_EQ(socket.State(), TcpSocket::kClosed);
  EXPECT_TRUE(this->RunUntil([&] { return h.ClientClosed(); }));
  EXPECT_EQ(h.Received(), request);
}

// Bytes whose value depends on their position, so that a lost, repeated or
// reordered chunk shows.
std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7 + seed) % 256);
  return bytes;
}

TYPED_TEST(PlatformTest, SocketMegabytesBothWaysThenNoEventAfterClose) {
  TypeParam& h = this->h_;
  TcpSocket& socket = *this->socket_;
  Log& events = this->client_.events;
  const std::string down = Pattern(6 * 1024 * 1024 + 17, 1), up = Pattern(3 * 1024 * 1024 + 5, 2);
  std::string at_client;
  this->client_.on_event = [&](const std::string& event) {
    if (event != "data") return;
    std::string chunk;
    socket.GetData(chunk);
    EXPECT_EQ(chunk.size(), static_cast<size_t>(this->client_.last_total));
    at_client += chunk;
  };
  h.Connect(socket);
  ASSERT_TRUE(this->Connected());
  h.Send(down);
  for (size_t at = 0, step = 1; at < up.size(); at += step, step = step * 3 % 65'537 + 1) {
    socket.SendData(up.substr(at, step));
  }
  ASSERT_TRUE(this->RunUntil(
      [&] { return h.Received().size() >= up.size() && at_client.size() >= down.size(); },
      milliseconds(30'000)));
  EXPECT_TRUE(at_client == down) << "sizes " << at_client.size() << " " << down.size();
  EXPECT_TRUE(h.Received() == up);
  EXPECT_EQ(events, (Log{"connect", "data"}));

  // Data and the server's close are on their way when the client closes in
  // its data handler: neither the rest of the data nor the close is reported.
  this->client_.on_event = [&](const std::string& event) {
    if (event != "data") return;
    socket.Close();
    events.push_back("closed");
  };
  h.Send(std::string(100'000, 'x'));
  h.Close();
  ASSERT_TRUE(this->RunUntil([&] { return h.ClientClosed(); }));
  this->RunFor(milliseconds(20));  // room for a stray event
  EXPECT_EQ(events, (Log{"connect", "data", "closed"}));
  EXPECT_EQ(socket.State(), TcpSocket::kClosed);
  std::string data = "old";
  socket.GetData(data);
  EXPECT_EQ(data, "");
}

}  // namespace
}  // namespace ravelon
