// The real socket's way from a host to a connection: address literals, names
// with several addresses (some refusing, some never answering), names that do
// not resolve, and lookups that hang. Servers listen on loopback addresses on
// the platform's own loop; a fake resolver says what a name stands for.
#include "platform/asio_tcp_socket.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <chrono>
#include <filesystem>
#include <future>
#include <list>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "platform/asio_loop.h"
#include "platform/connect_race.h"
#include "platform/name_lookup.h"
#include "ravelon/platform.h"
#include "support/real_loop.h"

namespace ravelon {
namespace {

using asio::ip::make_address;
using asio::ip::tcp;
using Addresses = std::vector<std::string>;

Addresses Strings(const std::vector<asio::ip::address>& addresses) {
  Addresses out;
  for (const auto& a : addresses) out.push_back(a.to_string());
  return out;
}

Addresses Split(const std::string& words) {
  Addresses out;
  std::istringstream in(words);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

int OpenFiles() {
  return static_cast<int>(
      std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd")));
}

bool HasIpv6Loopback() {
  asio::io_context io;
  std::error_code error;
  tcp::acceptor probe(io);
  probe.open(tcp::v6(), error);
  if (!error) probe.bind(tcp::endpoint(make_address("::1"), 0), error);
  return !error;
}

TEST(AddressTest, LiteralsResolveAndFamiliesTakeTurns) {
  // Literals go through the system's resolver without a name server; a zone stays.
  const std::pair<std::string, std::string> literals[] = {
      {"[::1]", "::1"}, {"::1", "::1"}, {"[fe80::1%lo]", "fe80::1%lo"}, {"127.0.0.1", "127.0.0.1"}};
  for (const auto& [host, address] : literals) {
    EXPECT_EQ(Strings(SystemResolve(HostToLookUp(host)).addresses), Addresses{address}) << host;
  }
  EXPECT_FALSE(SystemResolve(HostToLookUp("[::1")).failure.empty());

  // The first family leads, the families take turns, repeats go.
  const std::pair<Addresses, Addresses> orders[] = {
      {{"1.1.1.1", "::1", "::2", "::3", "2.2.2.2"}, {"1.1.1.1", "::1", "2.2.2.2", "::2", "::3"}},
      {{"::1", "::2", "1.1.1.1", "::1", "2.2.2.2"}, {"::1", "1.1.1.1", "::2", "2.2.2.2"}},
      {{"1.1.1.1", "2.2.2.2"}, {"1.1.1.1", "2.2.2.2"}},
  };
  for (const auto& [given, tried] : orders) {
    std::vector<asio::ip::address> addresses;
    for (const auto& a : given) addresses.push_back(make_address(a));
    EXPECT_EQ(Strings(AlternateFamilies(addresses)), tried);
  }
}

// Servers at one port on several loopback addresses; each accepts or, with
// its backlog full, never answers.
struct Servers {
  explicit Servers(asio::io_context& context) : io(context) {
    tcp::acceptor any(io, tcp::endpoint(make_address("127.0.0.1"), 0));
    port = any.local_endpoint().port();  // nothing listens here once `any` is gone
  }
  void Listen(const std::string& address, bool answers) {
    auto& acceptor = acceptors.emplace_back(io);
    const tcp::endpoint endpoint(make_address(address), port);
    acceptor.open(endpoint.protocol());
    if (endpoint.address().is_v6()) acceptor.set_option(asio::ip::v6_only(true));
    acceptor.bind(endpoint);
    acceptor.listen(answers ? 16 : 0);
    if (!answers) {
      fillers.emplace_back(io).connect(endpoint);  // takes the one place in the backlog
      return;
    }
    acceptor.async_accept([this, address](std::error_code ec, tcp::socket peer) {
      if (!ec) accepted_at += " " + address;
      peers.push_back(std::move(peer));
    });
  }

  asio::io_context& io;
  uint16_t port = 0;
  std::list<tcp::acceptor> acceptors;
  std::list<tcp::socket> fillers, peers;
  std::string accepted_at;  // each address that accepted a connection, after a space
};

struct Recorder final : TcpSocketObserver {
  void OnConnect() override { events.push_back("connect"); }
  void OnDataArrival(int32_t) override { events.push_back("data"); }
  void OnClose() override { events.push_back("close"); }
  void OnError(int16_t number, const std::string& text) override {
    events.push_back("error " + std::to_string(number));
    description = text;
  }
  std::vector<std::string> events;
  std::string description;
};

TEST(AsioTcpSocketTest, EachAddressOfANameGetsItsTurnWithinTheConnectTimeout) {
  const bool ipv6 = HasIpv6Loopback();
  // The host, what it resolves to ("system": the system's resolver decides),
  // the servers ("!": never answers), and the outcome: the client's events, the
  // servers that accepted, the error's description.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"[::1]", "system", "::1", "connect at ::1"},
      // An address that answers in time is the only one tried.
      {"two", "127.0.0.1 127.0.0.2", "127.0.0.1 127.0.0.2", "connect at 127.0.0.1"},
      // The first address refuses: the next is tried at once.
      {"two", "::1 127.0.0.1", "127.0.0.1", "connect at 127.0.0.1"},
      {"two", "127.0.0.1 ::1", "::1", "connect at ::1"},
      // The first never answers: the next is tried after its head start.
      {"two", "127.0.0.1 127.0.0.2", "127.0.0.1! 127.0.0.2", "connect at 127.0.0.2"},
      // Closed while the first waits out its head start: nothing more is tried.
      {"closed", "127.0.0.1 127.0.0.2", "127.0.0.1! 127.0.0.2", ""},
      // Every address fails: one error, and a refusal outranks a routing error.
      {"two", "127.0.0.1 224.0.0.1", "", "error 10061: Connection refused"},
      {"one", "224.0.0.1", "", "error 10051: Network is unreachable"},
      {"nothing", "", "", "error 11001: The name nothing did not resolve: no answer"},
  };
  for (const auto& [host, resolves_to, listening, expected] : cases) {
    SCOPED_TRACE(host + " -> " + expected);
    if (listening.find(':') != std::string::npos && !ipv6) continue;  // no IPv6 loopback here
    auto platform = NewRealPlatform();
    auto& loop = dynamic_cast<AsioLoop&>(platform->Loop());
    Servers servers(loop.Context());
    for (const std::string& server : Split(listening)) {
      servers.Listen(server.substr(0, server.find('!')), !server.ends_with('!'));
    }
    Resolver resolver = SystemResolve;
    if (resolves_to != "system") {
      resolver = [addresses = Split(resolves_to)](const std::string&) {
        LookupResult result{{}, addresses.empty() ? "no answer" : ""};
        for (const auto& a : addresses) result.addresses.push_back(make_address(a));
        return result;
      };
    }
    const int files_before = OpenFiles();
    auto socket = NewAsioTcpSocket(loop.Context(), resolver);
    Recorder client;
    socket->SetObserver(&client);
    const MonoTime start = platform->GetClock().Monotonic();
    socket->Connect(host, servers.port);
    EXPECT_EQ(socket->State(), TcpSocket::kResolving);
    if (host == "closed") {
      ASSERT_TRUE(testing::RunUntil(*platform,
                                    [&] { return socket->State() == TcpSocket::kConnectPending; }));
      socket->Close();
      testing::RunUntil(
          *platform, [] { return false; }, 2 * kAttemptHeadStart);
    } else {
      // Within the engine's connect timeout; then room for stray events and accepts.
      ASSERT_TRUE(testing::RunUntil(*platform, [&] { return !client.events.empty(); }));
      if (listening.find('!') != std::string::npos) {
        EXPECT_GE(platform->GetClock().Monotonic() - start, kAttemptHeadStart);
      }
    }
    testing::RunUntil(
        *platform, [] { return false; }, std::chrono::milliseconds(50));
    std::string outcome;
    for (const auto& event : client.events) outcome += (outcome.empty() ? "" : ", ") + event;
    if (!servers.accepted_at.empty()) outcome += " at" + servers.accepted_at;
    if (!client.description.empty()) outcome += ": " + client.description;
    EXPECT_EQ(outcome, expected);

    // No attempt is left open, also one that has not answered yet.
    socket.reset();
    servers.peers.clear();
    EXPECT_TRUE(testing::RunUntil(
        *platform, [&] { return OpenFiles() == files_before; }, std::chrono::milliseconds(1'000)));
  }
}

// A lookup that hangs holds up neither Close nor the destruction of the socket
// or of the loop; when it ends at last, after the socket's close, destruction,
// or the loop's, nothing is reported and nothing freed is touched.
TEST(AsioTcpSocketTest, AHangingLookupHoldsUpNothing) {
  using std::chrono::seconds;
  for (const std::string ends_after : {"close", "socket", "loop"}) {
    SCOPED_TRACE(ends_after);
    std::promise<void> answer;
    auto thread_ended = std::make_shared<std::promise<void>>();
    std::future<void> thread_done = thread_ended->get_future();
    // Were Close or a destructor to wait for the lookup, they would take 10 s.
    Resolver hangs = [answer = answer.get_future().share(), thread_ended](const std::string&) {
      answer.wait_for(seconds(10));
      thread_ended->set_value_at_thread_exit();  // after the result was handed on, or not
      return LookupResult{{make_address("127.0.0.1")}, ""};
    };
    auto platform = NewRealPlatform();
    auto& loop = dynamic_cast<AsioLoop&>(platform->Loop());
    auto socket = NewAsioTcpSocket(loop.Context(), hangs);
    Recorder client;
    socket->SetObserver(&client);
    socket->Connect("hangs", 80);
    EXPECT_EQ(socket->State(), TcpSocket::kResolving);

    const auto start = std::chrono::steady_clock::now();
    if (ends_after == "close") {
      socket->Close();
    } else {
      socket.reset();  // without a Close first
    }
    if (ends_after == "loop") platform.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(1));

    answer.set_value();
    ASSERT_EQ(thread_done.wait_for(seconds(5)), std::future_status::ready);
    if (platform) loop.ProcessPendingEventsOnce();
    EXPECT_TRUE(client.events.empty());
    EXPECT_TRUE(!socket || socket->State() == TcpSocket::kClosed);
  }
}

}  // namespace
}  // namespace ravelon
