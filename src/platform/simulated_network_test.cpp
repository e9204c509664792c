#include "platform/simulated_network.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/simulated_platform.h"

namespace ravelon {
namespace {

using std::chrono::hours;
using std::chrono::milliseconds;
using std::chrono::seconds;
using Events = std::vector<std::string>;

// A socket and the events it delivered, each as "<event>@<virtual ms>".
struct Client final : TcpSocketObserver {
  explicit Client(SimulatedPlatform& p) : platform(p), socket(p.NewTcpSocket()) {
    socket->SetObserver(this);
  }
  void OnConnect() override {
    Add("connect");
    if (on_connect) on_connect();
  }
  void OnDataArrival(int32_t bytes_total) override {
    Add("data " + std::to_string(bytes_total));
    if (on_data) on_data();
  }
  void OnClose() override { Add("close"); }
  void OnError(int16_t number, const std::string& description) override {
    Add("error " + std::to_string(number) + " " + description);
  }

  void Add(const std::string& what) {
    const auto ms =
        std::chrono::duration_cast<milliseconds>(platform.loop().Now().time_since_epoch());
    events.push_back(what + "@" + std::to_string(ms.count()));
  }
  SimulatedPlatform& platform;
  std::unique_ptr<TcpSocket> socket;
  Events events;
  std::function<void()> on_connect, on_data;
};

class SimulatedSocketTest : public testing::Test {
 protected:
  std::unique_ptr<Client> NewClient() { return std::make_unique<Client>(platform_); }

  SimulatedPlatform platform_;
  SimulatedNetwork& net_ = platform_.network();
};

TEST_F(SimulatedSocketTest, ConnectAnswers) {
  net_.Listen("cam", 80).Answer(ConnectAnswer::kAccept, seconds(2));
  net_.Listen("cam", 81).Answer(ConnectAnswer::kRefuse, milliseconds(500));
  net_.Listen("cam", 82).Answer(ConnectAnswer::kNeverAnswer);
  auto accepted = NewClient(), refused = NewClient(), silent = NewClient(),
       unknown_host = NewClient(), wrong_port = NewClient();
  accepted->socket->Connect("cam", 80);
  refused->socket->Connect("cam", 81);
  silent->socket->Connect("cam", 82);
  unknown_host->socket->Connect("nowhere", 80);
  wrong_port->socket->Connect("cam", 99);
  EXPECT_NE(accepted->socket->State(), TcpSocket::kClosed);
  EXPECT_NE(accepted->socket->State(), TcpSocket::kConnected);

  platform_.AdvanceBy(milliseconds(1999));
  EXPECT_TRUE(accepted->events.empty());
  EXPECT_EQ(refused->events, (Events{"error 10061 Connection refused@500"}));
  EXPECT_EQ(unknown_host->events, (Events{"error 11001 Host not found@0"}));
  EXPECT_EQ(wrong_port->events, (Events{"error 10061 Connection refused@0"}));

  platform_.AdvanceBy(milliseconds(1));
  EXPECT_EQ(accepted->events, (Events{"connect@2000"}));
  EXPECT_EQ(accepted->socket->State(), TcpSocket::kConnected);

  platform_.AdvanceBy(hours(1));
  EXPECT_TRUE(silent->events.empty());
  EXPECT_NE(silent->socket->State(), TcpSocket::kConnected);
  silent->socket->Close();
  EXPECT_EQ(silent->socket->State(), TcpSocket::kClosed);
  EXPECT_EQ(net_.Listen("cam", 82).ConnectAttempts(), 1);
}

TEST_F(SimulatedSocketTest, ScriptedChunksCloseAndBytesBothWays) {
  std::string seen_at_accept;
  net_.Listen("cam", 80).OnAccept([&](ScriptedConnection& c) {
    seen_at_accept = c.Received();
    c.Send(std::string("a\0b", 3), milliseconds(10));
    c.Send("cde", milliseconds(20));
    c.Send("", milliseconds(25));
    c.Close(milliseconds(30));
    c.Send("late", milliseconds(40));  // after its own close: never arrives
  });
  auto client = NewClient();
  client->on_connect = [&] { client->socket->SendData("GET /\r\n"); };
  client->socket->Connect("cam", 80);
  platform_.AdvanceBy(milliseconds(20));
  EXPECT_EQ(seen_at_accept, "GET /\r\n");  // the script runs after the connect event
  client->socket->SendData("");
  client->socket->SendData(std::string("\0x", 2));
  EXPECT_EQ(net_.Listen("cam", 80).LastConnection()->Received(), std::string("GET /\r\n\0x", 9));

  std::string data = "stale";
  client->socket->GetData(data);
  EXPECT_EQ(data, std::string("a\0bcde", 6));
  client->socket->GetData(data);
  EXPECT_EQ(data, "");

  platform_.AdvanceBy(seconds(1));
  EXPECT_EQ(client->events, (Events{"connect@0", "data 3@10", "data 6@20", "close@30"}));
  EXPECT_EQ(client->socket->State(), TcpSocket::kClosing);
  client->socket->Close();
  EXPECT_EQ(client->socket->State(), TcpSocket::kClosed);

  // A second connect gets a fresh connection; this one breaks.
  net_.Listen("cam", 80).OnAccept(
      [](ScriptedConnection& c) { c.Fail(kSocketErrorConnectionReset, "reset", milliseconds(5)); });
  client->events.clear();
  client->socket->Connect("cam", 80);
  platform_.AdvanceBy(seconds(1));
  EXPECT_EQ(client->events, (Events{"connect@1020", "error 10054 reset@1025"}));
  EXPECT_EQ(client->socket->State(), TcpSocket::kError);
  EXPECT_EQ(net_.Listen("cam", 80).Connections().size(), 2u);
}

TEST_F(SimulatedSocketTest, NothingArrivesAfterClientCloseOrDestroy) {
  ScriptedServer& cam = net_.Listen("cam", 80);
  cam.OnAccept([](ScriptedConnection& c) {
    c.Send("x", milliseconds(10));
    c.Close(milliseconds(10));  // already on its way when the client closes
  });
  auto client = NewClient();
  client->on_data = [&] { client->socket->Close(); };
  client->socket->Connect("cam", 80);
  platform_.AdvanceBy(seconds(1));
  EXPECT_EQ(client->events, (Events{"connect@0", "data 1@10"}));
  EXPECT_EQ(client->socket->State(), TcpSocket::kClosed);
  auto first = cam.LastConnection();
  EXPECT_TRUE(first->ClosedByClient());

  // Reconnect: the old connection can no longer reach the client.
  client->on_data = nullptr;
  client->events.clear();
  client->socket->Connect("cam", 80);
  platform_.AdvanceBy(milliseconds(5));
  auto second = cam.LastConnection();
  ASSERT_NE(second, first);
  EXPECT_FALSE(second->ClosedByClient());
  first->Send("stale");
  first->Close();
  client->socket->SendData("new");
  platform_.AdvanceBy(milliseconds(4));
  EXPECT_EQ(client->events, (Events{"connect@1000"}));
  EXPECT_EQ(first->Received(), "");
  EXPECT_EQ(second->Received(), "new");

  // Destroyed with data and a close on their way: no event, no crash.
  client->socket.reset();
  platform_.AdvanceBy(seconds(1));
  EXPECT_EQ(client->events, (Events{"connect@1000"}));
  EXPECT_TRUE(second->ClosedByClient());

  // Destroyed while the accept is on its way: no connection is made.
  cam.Answer(ConnectAnswer::kAccept, milliseconds(50));
  auto doomed = NewClient();
  doomed->socket->Connect("cam", 80);
  doomed->socket.reset();
  platform_.AdvanceBy(seconds(1));
  EXPECT_TRUE(doomed->events.empty());
  EXPECT_EQ(cam.Connections().size(), 2u);
}

}  // namespace
}  // namespace ravelon
