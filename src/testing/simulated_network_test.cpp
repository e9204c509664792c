// Scripts of the simulated network; the socket contract it shares with the
// real socket is tested in platform_test.cpp.
#include "ravelon/testing/simulated_network.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "ravelon/testing/simulated_platform.h"

namespace ravelon {
namespace {

using std::chrono::milliseconds;
using Events = std::vector<std::string>;

// A socket and the events it delivered, each as "<event>@<virtual ms>".
struct Client final : TcpSocketObserver {
  explicit Client(SimulatedPlatform& p) : platform(p), socket(p.NewTcpSocket()) {
    socket->SetObserver(this);
  }
  void OnConnect() override { Add("connect"); }
  void OnDataArrival(int32_t total) override { Add("data " + std::to_string(total)); }
  void OnClose() override { Add("close"); }
  void OnError(int16_t number, const std::string& text) override {
    Add("error " + std::to_string(number) + " " + text);
  }
  void Add(const std::string& what) {
    const auto now = std::chrono::duration_cast<milliseconds>(platform.loop().Now() - MonoTime());
    events.push_back(what + "@" + std::to_string(now.count()));
  }
  SimulatedPlatform& platform;
  std::unique_ptr<TcpSocket> socket;
  Events events;
};

TEST(SimulatedNetworkTest, ScriptedAnswersAndTheirTiming) {
  SimulatedPlatform platform;
  SimulatedNetwork& net = platform.network();
  net.Listen("cam", 81).Answer(ConnectAnswer::kRefuse, milliseconds(500));
  net.Listen("cam", 82).OnAccept(
      [](ScriptedConnection& c) { c.Fail(kSocketErrorConnectionReset, "reset", milliseconds(5)); });
  net.Listen("cam", 80).Answer(ConnectAnswer::kAccept, milliseconds(2000));
  net.Listen("cam", 80).OnAccept([](ScriptedConnection& c) {
    c.Send(std::string("a\0b", 3), milliseconds(10));
    c.Send("cde", milliseconds(20));
    c.Send("", milliseconds(25));
    c.Close(milliseconds(30));
    c.Send("late", milliseconds(40));  // after its own close: never arrives
  });
  Client cam(platform), refused(platform), broken(platform), unknown(platform);
  cam.socket->Connect("cam", 80);
  refused.socket->Connect("cam", 81);
  broken.socket->Connect("cam", 82);
  unknown.socket->Connect("nowhere", 80);
  platform.AdvanceBy(std::chrono::hours(1));

  EXPECT_EQ(cam.events, (Events{"connect@2000", "data 3@2010", "data 6@2020", "close@2030"}));
  std::string data;
  cam.socket->GetData(data);
  EXPECT_EQ(data, std::string("a\0bcde", 6));
  EXPECT_EQ(refused.events, (Events{"error 10061 Connection refused@500"}));
  EXPECT_EQ(broken.events, (Events{"connect@0", "error 10054 reset@5"}));
  EXPECT_EQ(broken.socket->State(), TcpSocket::kError);
  EXPECT_EQ(unknown.events, (Events{"error 11001 Host not found@0"}));
}

}  // namespace
}  // namespace ravelon
