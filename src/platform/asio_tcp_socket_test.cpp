// The socket of the real platform against a TCP server on 127.0.0.1 that the
// test runs on the same io_context. Every wait is bounded by a deadline.
#include <gtest/gtest.h>

#include <asio/connect.hpp>
#include <asio/executor_work_guard.hpp>
#include <asio/ip/tcp.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/asio_loop.h"
#include "platform/platform.h"

namespace ravelon {
namespace {

using asio::ip::tcp;
using std::chrono::milliseconds;
using Events = std::vector<std::string>;

class Recorder final : public TcpSocketObserver {
 public:
  void OnConnect() override {
    events.push_back("connect");
    if (on_connect) on_connect();
  }
  void OnDataArrival(int32_t bytes_total) override {
    if (events.empty() || events.back() != "data") events.push_back("data");
    last_total = bytes_total;
    if (on_data) on_data();
  }
  void OnClose() override {
    events.push_back("close");
    if (on_close) on_close();
  }
  void OnError(int16_t number, const std::string&) override {
    events.push_back("error " + std::to_string(number));
  }

  Events events;  // runs of data arrivals count once
  int32_t last_total = 0;
  std::function<void()> on_connect, on_data, on_close;
};

// Bytes whose value depends on their position, so that a lost, repeated or
// reordered chunk shows.
std::string Pattern(size_t size, int seed) {
  std::string bytes(size, '\0');
  for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 131 + i / 7 + seed) % 256);
  return bytes;
}

class AsioTcpSocketTest : public testing::Test {
 protected:
  AsioTcpSocketTest() {
    socket_->SetObserver(&client_);
    Accept();
  }

  void Accept() {
    acceptor_.async_accept(peer_, [this](std::error_code ec) {
      accepted_ = !ec;
      if (accepted_ && on_accept_) on_accept_();
    });
  }

  int32_t Port() const { return acceptor_.local_endpoint().port(); }

  // Runs handlers until `done()` holds or `limit` has passed; returns done().
  bool RunUntil(const std::function<bool()>& done, milliseconds limit = milliseconds(10'000)) {
    auto work = asio::make_work_guard(io_);
    const MonoTime deadline = clock_.Monotonic() + limit;
    while (!done() && clock_.Monotonic() < deadline) {
      if (io_.stopped()) io_.restart();
      io_.run_one_until(deadline);
    }
    return done();
  }

  // The server reads until the client's side is closed.
  void ServerReadToEnd() {
    asio::async_read(peer_, asio::dynamic_buffer(server_got_), [this](std::error_code ec, size_t) {
      server_saw_end_ = ec == asio::error::eof || ec == asio::error::connection_reset;
    });
  }

  std::shared_ptr<Platform> platform_ = NewRealPlatform();
  const Clock& clock_ = platform_->GetClock();
  AsioLoop& loop_ = dynamic_cast<AsioLoop&>(platform_->Loop());
  asio::io_context& io_ = loop_.Context();
  tcp::acceptor acceptor_{io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0)};
  tcp::socket peer_{io_};  // the server's end of the accepted connection
  bool accepted_ = false;
  std::function<void()> on_accept_;
  std::string server_got_;
  bool server_saw_end_ = false;
  std::unique_ptr<TcpSocket> socket_ = platform_->NewTcpSocket();
  Recorder client_;
};

TEST_F(AsioTcpSocketTest, ConnectExchangeAndPeerClose) {
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
  socket_->Connect("localhost", Port());
  EXPECT_NE(socket_->State(), TcpSocket::kConnected);
  ASSERT_TRUE(RunUntil([&] { return accepted_ && !client_.events.empty(); }));
  EXPECT_EQ(client_.events, (Events{"connect"}));
  EXPECT_EQ(socket_->State(), TcpSocket::kConnected);

  const std::string to_server("GET /\r\n\0x", 9);
  socket_->SendData(to_server.substr(0, 3));
  socket_->SendData("");
  socket_->SendData(to_server.substr(3));
  std::string at_server(to_server.size(), '?');
  bool read_done = false;
  asio::async_read(peer_, asio::buffer(at_server),
                   [&](std::error_code ec, size_t) { read_done = !ec; });

  // The server's data and its close travel together; the data stays
  // available after the close event.
  const std::string to_client("abc\0def", 7);
  asio::write(peer_, asio::buffer(to_client));
  peer_.shutdown(tcp::socket::shutdown_send);
  ASSERT_TRUE(RunUntil([&] { return read_done && client_.events.back() == "close"; }));
  EXPECT_EQ(at_server, to_server);
  EXPECT_EQ(client_.events, (Events{"connect", "data", "close"}));
  EXPECT_EQ(client_.last_total, 7);
  EXPECT_EQ(socket_->State(), TcpSocket::kClosing);
  std::string data = "old";
  socket_->GetData(data);
  EXPECT_EQ(data, to_client);
  socket_->GetData(data);
  EXPECT_EQ(data, "");
  socket_->Close();
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
  ServerReadToEnd();
  EXPECT_TRUE(RunUntil([&] { return server_saw_end_; }));
  EXPECT_EQ(server_got_, "");
}

TEST_F(AsioTcpSocketTest, MegabytesBothWaysKeepEveryByteInOrder) {
  const std::string down = Pattern(6 * 1024 * 1024 + 17, 1);
  const std::string up = Pattern(3 * 1024 * 1024 + 5, 2);
  std::string at_client;
  client_.on_data = [&] {
    std::string chunk;
    socket_->GetData(chunk);
    EXPECT_EQ(chunk.size(), static_cast<size_t>(client_.last_total));
    at_client += chunk;
  };
  socket_->Connect("127.0.0.1", Port());
  ASSERT_TRUE(RunUntil([&] { return accepted_ && !client_.events.empty(); }));

  bool sent_down = false;
  asio::async_write(peer_, asio::buffer(down),
                    [&](std::error_code ec, size_t) { sent_down = !ec; });
  for (size_t at = 0, step = 1; at < up.size(); at += step, step = step * 3 % 65'537 + 1) {
    socket_->SendData(up.substr(at, step));
  }
  std::string at_server(up.size(), '\0');
  bool got_up = false;
  asio::async_read(peer_, asio::buffer(at_server),
                   [&](std::error_code ec, size_t) { got_up = !ec; });

  ASSERT_TRUE(RunUntil([&] { return sent_down && got_up && at_client.size() >= down.size(); },
                       milliseconds(30'000)));
  EXPECT_TRUE(at_client == down) << "sizes " << at_client.size() << " " << down.size();
  EXPECT_TRUE(at_server == up);
  EXPECT_EQ(client_.events, (Events{"connect", "data"}));
}

TEST_F(AsioTcpSocketTest, RefusedConnectReports10061) {
  int32_t closed_port;
  {
    tcp::acceptor gone(io_, tcp::endpoint(asio::ip::make_address("127.0.0.1"), 0));
    closed_port = gone.local_endpoint().port();
  }
  socket_->Connect("127.0.0.1", closed_port);
  ASSERT_TRUE(RunUntil([&] { return !client_.events.empty(); }));
  EXPECT_EQ(client_.events, (Events{"error 10061"}));
  EXPECT_EQ(socket_->State(), TcpSocket::kError);
  socket_->Close();
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
}

TEST_F(AsioTcpSocketTest, NoEventAfterClose) {
  // Closed while connecting, then connected again: only the second attempt reports.
  socket_->Connect("127.0.0.1", Port());
  socket_->Close();
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
  socket_->Connect("127.0.0.1", Port());
  ASSERT_TRUE(RunUntil([&] { return accepted_ && !client_.events.empty(); }));
  EXPECT_EQ(client_.events, (Events{"connect"}));

  // Data and the server's close are on their way when the client closes in
  // its data handler: neither the rest of the data nor the close is reported.
  client_.on_data = [&] {
    socket_->Close();
    client_.events.push_back("closed");
  };
  asio::write(peer_, asio::buffer(std::string(100'000, 'x')));
  peer_.shutdown(tcp::socket::shutdown_send);
  ServerReadToEnd();
  ASSERT_TRUE(RunUntil([&] { return server_saw_end_; }));
  EXPECT_EQ(client_.events, (Events{"connect", "data", "closed"}));
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
  std::string data = "old";
  socket_->GetData(data);
  EXPECT_EQ(data, "");

  // Closed by the client, then at once by the server: no close event.
  peer_.close();
  accepted_ = false;
  Accept();
  client_.on_data = nullptr;
  client_.events.clear();
  socket_->Connect("127.0.0.1", Port());
  ASSERT_TRUE(RunUntil([&] { return accepted_ && !client_.events.empty(); }));
  socket_->SendData("bye");
  socket_->Close();
  server_saw_end_ = false;
  server_got_.clear();
  ServerReadToEnd();
  ASSERT_TRUE(RunUntil([&] { return server_saw_end_; }));
  peer_.close();
  // Both ends are gone; give a stray event every chance to show up.
  asio::steady_timer settle(io_, milliseconds(20));
  bool settled = false;
  settle.async_wait([&](std::error_code) { settled = true; });
  RunUntil([&] { return settled; });
  EXPECT_EQ(client_.events, (Events{"connect"}));
  EXPECT_EQ(socket_->State(), TcpSocket::kClosed);
}

// The engine pumps the loop from inside a socket handler while it waits; the
// socket's events must arrive in that nested pump, and Run must go on after.
TEST_F(AsioTcpSocketTest, NestedPumpInsideRunDeliversSocketEvents) {
  Events log;
  client_.on_connect = [&] {
    socket_->SendData("ping");
    const MonoTime deadline = clock_.Monotonic() + milliseconds(10'000);
    while (client_.last_total < 4 && clock_.Monotonic() < deadline) {
      loop_.ProcessPendingEventsOnce();
    }
    log.push_back("pumped " + std::to_string(client_.last_total));
    socket_->SendData("bye");
  };
  client_.on_close = [&] { loop_.Stop(); };
  // The server answers "ping" with "pong", and closes once it reads "bye".
  std::string request(4, '\0'), bye(3, '\0');
  on_accept_ = [&] {
    asio::async_read(peer_, asio::buffer(request), [&](std::error_code, size_t) {
      asio::write(peer_, asio::buffer(std::string("pong")));
      asio::async_read(peer_, asio::buffer(bye), [&](std::error_code, size_t) {
        log.push_back("server " + request + " " + bye);
        peer_.shutdown(tcp::socket::shutdown_send);
      });
    });
  };

  socket_->Connect("127.0.0.1", Port());
  asio::steady_timer guard(io_, milliseconds(10'000));
  guard.async_wait([&](std::error_code ec) {
    if (!ec) loop_.Stop();
  });
  loop_.Run();
  EXPECT_EQ(log, (Events{"pumped 4", "server ping bye"}));
  EXPECT_EQ(client_.events, (Events{"connect", "data", "close"}));
  std::string data;
  socket_->GetData(data);
  EXPECT_EQ(data, "pong");
}

}  // namespace
}  // namespace ravelon
