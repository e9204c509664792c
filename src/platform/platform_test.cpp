// The timer rules on a fake alarm; then the platform contract,
// run on virtual time with a scripted peer and on the real platform with a
// server on 127.0.0.1 on the same io_context. Timer cases there compare
// orders of events, not wall-clock readings, so they hold under load. Bulk
// transfers on the real socket are the end-to-end stream tests' part.
#include <gtest/gtest.h>

#include <array>
#include <asio/ip/tcp.hpp>
#include <asio/write.hpp>
#include <optional>
#include <tuple>

#include "platform/asio_loop.h"
#include "platform/periodic_timer.h"
#include "ravelon/testing/simulated_platform.h"
#include "support/real_loop.h"

namespace ravelon {
namespace {

using asio::ip::tcp;
using std::chrono::milliseconds;
using Log = std::vector<std::string>;
using namespace std::string_literals;

struct FakeAlarm final : Alarm {
  FakeAlarm(std::function<void()> on_fire, FakeAlarm*& self) : fire(std::move(on_fire)) {
    self = this;
  }
  void ArmAt(MonoTime deadline) override { armed = deadline; }
  void Disarm() override { armed.reset(); }
  std::optional<MonoTime> armed;
  std::function<void()> fire;
};

TEST(PeriodicTimerTest, EachCallArmsTheRightDeadline) {
  SimulatedLoop loop;  // for its clock only: the alarm is fake
  FakeAlarm* alarm = nullptr;
  int ticks = 0;
  PeriodicTimer timer(
      loop.GetClock(),
      [&](std::function<void()> fire) {
        return std::make_unique<FakeAlarm>(std::move(fire), alarm);
      },
      [&] {
        if (++ticks == 4) timer.SetInterval(25);  // re-armed by its own handler
      });
  // At `at` ms: 'i' sets the interval to 10 ms ('z' to 0), 'e' and 'd' enable
  // and disable, 'f' fires the alarm; then the wake-up armed (-1: none) and
  // the ticks so far. A tick a little late keeps the cadence; one later than
  // an interval does not cause a burst of ticks. A restarted countdown (a set
  // interval, also from the timer's own handler, or a disable and enable)
  // leaves an earlier wake-up where it is, and that wake-up only moves on to
  // the deadline; a later deadline is never missed. A wake-up that comes while
  // the timer is disabled or has no interval does not tick.
  const std::tuple<int, char, int, int> steps[] = {
      {0, 'i', -1, 0},    {0, 'e', 10, 0},    {12, 'f', 20, 1},   {30, 'f', 40, 2},
      {75, 'f', 85, 3},   {80, 'i', 85, 3},   {82, 'e', 85, 3},   {84, 'd', 85, 3},
      {85, 'f', -1, 3},   {86, 'e', 96, 3},   {90, 'd', 96, 3},   {91, 'e', 96, 3},
      {96, 'f', 101, 3},  {101, 'f', 111, 4}, {111, 'f', 126, 4}, {126, 'f', 151, 5},
      {130, 'i', 140, 5}, {140, 'f', 150, 6}, {141, 'z', 150, 6}, {150, 'f', -1, 6}};
  for (const auto& [at, call, armed, ticks_so_far] : steps) {
    loop.AdvanceBy(MonoTime(milliseconds(at)) - loop.Now());
    if (call == 'i' || call == 'z') timer.SetInterval(call == 'i' ? 10 : 0);
    if (call == 'e' || call == 'd') timer.SetEnabled(call == 'e');
    if (call == 'f') {
      alarm->armed.reset();  // a wake-up is spent
      alarm->fire();
    }
    const int64_t armed_ms = alarm->armed ? (*alarm->armed - MonoTime()) / milliseconds(1) : -1;
    EXPECT_EQ(std::pair(armed_ms, ticks), std::pair(int64_t{armed}, ticks_so_far)) << at << call;
  }
}

struct SimulatedHarness {
  SimulatedHarness() { platform.network().Listen("cam", 80); }
  void Connect(TcpSocket& socket, bool refused = false) { socket.Connect("cam", 80 + refused); }
  ScriptedConnection* Peer() { return platform.network().Listen("cam", 80).LastConnection().get(); }
  void SendAndClose(std::string bytes) {
    Peer()->Send(std::move(bytes));
    Peer()->Close();
  }
  SimulatedPlatform platform;
  SimulatedLoop& loop = platform.loop();
};

// The server's end of the one connection it accepts.
struct AsioHarness {
  AsioHarness() {
    acceptor.async_accept(peer, [this](std::error_code ec) {
      if ((accepted = !ec)) Read();
    });
  }
  // A refused connect goes to a port closed again at once.
  void Connect(TcpSocket& socket, bool refused = false) {
    tcp::acceptor gone(io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    if (refused) return socket.Connect("127.0.0.1", gone.local_endpoint().port());
    socket.Connect("localhost", acceptor.local_endpoint().port());
  }
  AsioHarness* Peer() { return accepted ? this : nullptr; }
  const std::string& Received() { return received; }
  bool ClosedByClient() { return client_closed; }
  void SendAndClose(std::string bytes) {
    auto data = std::make_shared<std::string>(std::move(bytes));
    asio::async_write(peer, asio::buffer(*data), [this, data](std::error_code, size_t) {
      peer.shutdown(tcp::socket::shutdown_send, ignored);
    });
  }
  void Read() {  // until the client's side is closed
    peer.async_read_some(asio::buffer(buffer), [this](std::error_code ec, size_t n) {
      received.append(buffer.data(), n);
      if (!(client_closed = static_cast<bool>(ec))) Read();
    });
  }

  std::shared_ptr<Platform> owner = NewRealPlatform();
  Platform& platform = *owner;
  AsioLoop& loop = dynamic_cast<AsioLoop&>(platform.Loop());
  asio::io_context& io = loop.Context();
  tcp::acceptor acceptor{io, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  tcp::socket peer{io};
  std::array<char, 65536> buffer;
  std::string received;
  std::error_code ignored;
  bool accepted = false, client_closed = false;
};

struct Recorder final : TcpSocketObserver {
  void OnConnect() override { Add("connect"); }
  void OnDataArrival(int32_t) override { Add("data"), on_data(); }
  void OnClose() override { Add("close"); }
  void OnError(int16_t n, const std::string&) override { Add("error " + std::to_string(n)); }
  void Add(const std::string& event) { events.push_back(event); }
  Log events;
  std::function<void()> on_data = [] {};
};

template <typename H>
class PlatformTest : public ::testing::Test {
 protected:
  PlatformTest() { socket_->SetObserver(&client_); }
  MonoTime Now() const { return h_.platform.GetClock().Monotonic(); }
  // Runs the loop until `done()` holds, Stop or `limit` (also a bare alarm, so
  // a broken timer cannot hang the test); returns done().
  bool RunUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10'000)) {
    auto deadline = h_.loop.NewAlarm([this] { h_.loop.Stop(); });
    deadline->ArmAt(Now() + limit);
    return testing::RunUntil(h_.platform, done, limit);
  }

  H h_;
  EventLoop& loop_ = h_.loop;
  Recorder client_;
  std::unique_ptr<TcpSocket> socket_ = h_.platform.NewTcpSocket();
};

using Harnesses = ::testing::Types<SimulatedHarness, AsioHarness>;
TYPED_TEST_SUITE(PlatformTest, Harnesses);

// A handler pumps the loop from inside Run: the pump runs what is ready and
// what that posts, and neither loses events nor ends Run, which runs until
// Stop; a pump after the Stop does not undo it, so Run ends at once rather
// than at the test's deadline; after Run the pump works again.
TYPED_TEST(PlatformTest, PumpRunsReadyWorkNestedInsideRunAndAfterIt) {
  EventLoop& loop = this->loop_;
  Log log;
  const auto note = [&log](const char* entry) { return [&log, entry] { log.push_back(entry); }; };
  loop.Post([&] {
    log.push_back("outer");
    loop.Post([&] { note("b")(), loop.Post(note("b2")); });
    for (int i = 0; i < 4; ++i) loop.Post(note("c"));
    loop.ProcessPendingEventsOnce();
    log.push_back("outer-done");
    loop.Post([&] { note("stop")(), loop.Stop(), loop.ProcessPendingEventsOnce(); });
  });
  const MonoTime started = this->Now();
  this->RunUntil([] { return false; });
  EXPECT_LT(this->Now() - started, milliseconds(5'000));
  loop.Post(note("after"));
  loop.ProcessPendingEventsOnce();
  EXPECT_EQ(log, (Log{"outer", "b", "c", "c", "c", "c", "b2", "outer-done", "stop", "after"}));
}

// Timers changed by another handler due at the same instant, while their
// ticks may already be on their way, or destroyed by their own handler: no
// tick of a stopped, destroyed or re-armed countdown may run.
TYPED_TEST(PlatformTest, TimerHandlersRearmDisableOrDestroyTimers) {
  EventLoop& loop = this->loop_;
  int wrong_ticks = 0, destroyer_ticks = 0;
  std::vector<MonoTime> restarted_ticks;
  MonoTime killed_at{};
  auto wrong = [&] { ++wrong_ticks; };
  std::unique_ptr<Timer> doomed = loop.NewTimer(wrong), paused = loop.NewTimer(wrong),
                         cancelled = loop.NewTimer(wrong), killer, destroyer;
  std::unique_ptr<Timer> restarted = loop.NewTimer([&] { restarted_ticks.push_back(this->Now()); });
  killer = loop.NewTimer([&] {
    killed_at = this->Now();
    doomed.reset();
    paused->SetEnabled(false);
    restarted->SetInterval(30);
    killer->SetEnabled(false);
  });
  destroyer = loop.NewTimer([&] {
    destroyer.reset();
    ++destroyer_ticks;  // the handler outlives its timer
  });
  for (auto* t : {&killer, &doomed, &paused, &cancelled, &restarted, &destroyer})
    (*t)->SetInterval(10), (*t)->SetEnabled(true);
  cancelled.reset();  // destroyed while armed
  EXPECT_TRUE(this->RunUntil([&] { return !restarted_ticks.empty(); }));
  this->RunUntil([] { return false; }, milliseconds(30));  // room for ticks that must not come
  EXPECT_EQ(std::pair(wrong_ticks, destroyer_ticks), std::pair(0, 1));
  for (MonoTime t : restarted_ticks) EXPECT_GE(t - killed_at, milliseconds(30));
}

TYPED_TEST(PlatformTest, SocketRefusedReconnectedThenExchangesAndSeesThePeerClose) {
  TypeParam& h = this->h_;
  TcpSocket& socket = *this->socket_;
  Log& events = this->client_.events;
  h.Connect(socket, /*refused=*/true);
  ASSERT_TRUE(this->RunUntil([&] { return !events.empty(); }));
  EXPECT_EQ(socket.State(), TcpSocket::kError);
  socket.Close();

  // Closed while connecting, then connected again: only the second attempt reports.
  h.Connect(socket);
  socket.Close();
  h.Connect(socket);
  ASSERT_TRUE(this->RunUntil([&] { return h.Peer() && events.size() > 1; }));
  EXPECT_EQ(socket.State(), TcpSocket::kConnected);

  // Writes queue up in order; the server's data and its close travel
  // together, and the data stays available after the close event.
  const std::string request("GET /\r\n\0x", 9), reply("abc\0def", 7);
  for (const auto& piece : {request.substr(0, 3), ""s, request.substr(3, 2), request.substr(5)})
    socket.SendData(piece);
  h.SendAndClose(reply);
  ASSERT_TRUE(this->RunUntil([&] { return events.back() == "close"; }));
  EXPECT_EQ(events, (Log{"error 10061", "connect", "data", "close"}));
  EXPECT_EQ(socket.State(), TcpSocket::kClosing);
  std::string data = "old", rest = "old";
  socket.GetData(data), socket.GetData(rest);
  EXPECT_EQ(std::pair(data, rest), std::pair(reply, ""s));
  socket.Close();
  EXPECT_TRUE(this->RunUntil([&] { return h.Peer()->ClosedByClient(); }));
  EXPECT_EQ(h.Peer()->Received(), request);
}

// Data and the server's close are on their way when the client closes in its
// data handler: neither the rest of the data nor the close is reported.
TYPED_TEST(PlatformTest, SocketClosedInItsDataHandlerReportsNothingMore) {
  TcpSocket& socket = *this->socket_;
  this->h_.Connect(socket);
  ASSERT_TRUE(this->RunUntil([&] { return this->h_.Peer() && !this->client_.events.empty(); }));
  this->client_.on_data = [&] { socket.Close(); };
  this->h_.SendAndClose(std::string(300'000, 'x'));
  ASSERT_TRUE(this->RunUntil([&] { return this->h_.Peer()->ClosedByClient(); }));
  this->RunUntil([] { return false; }, milliseconds(20));  // room for a stray event
  EXPECT_EQ(this->client_.events, (Log{"connect", "data"}));
  std::string data = "old";
  socket.GetData(data);
  EXPECT_EQ(data, "");
}

// An observer that takes a little of each arrival straight into its own
// memory is told again of what it left: every byte comes, in order, and the
// peer's close only after the last of them.
TYPED_TEST(PlatformTest, BytesLeftByReceiveAreReportedAgain) {
  TcpSocket& socket = *this->socket_;
  this->h_.Connect(socket);
  ASSERT_TRUE(this->RunUntil([&] { return this->h_.Peer() && !this->client_.events.empty(); }));
  std::string sent(300'000, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 / 5);
  std::string taken;
  this->client_.on_data = [&] {
    char piece[4'096];
    taken.append(piece, static_cast<size_t>(socket.Receive(piece, sizeof piece)));
  };
  this->h_.SendAndClose(sent);
  ASSERT_TRUE(this->RunUntil([&] { return this->client_.events.back() == "close"; }));
  EXPECT_EQ(taken.size(), sent.size());
  EXPECT_TRUE(taken == sent);
  std::string rest = "old";
  socket.GetData(rest);
  EXPECT_EQ(rest, "");
}

}  // namespace
}  // namespace ravelon
