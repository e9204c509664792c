// The real socket's way from a host to a connection: address literals, names
// with several addresses (some refusing, some never answering), names that do
// not resolve, and lookups that hang. Servers listen on loopback addresses on
// the platform's own loop; a fake resolver says what a name stands for.
#include "platform/asio_tcp_socket.h"

#include <gtest/gtest.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <algorithm>
#include <asio/ip/tcp.hpp>
#include <asio/ip/v6_only.hpp>
#include <asio/write.hpp>
#include <chrono>
#include <filesystem>
#include <future>
#include <list>
#include <sstream>
#include <tuple>

#include "common/engine_limits.h"
#include "platform/asio_loop.h"
#include "platform/connect_race.h"
#include "platform/name_lookup.h"
#include "support/real_loop.h"

namespace ravelon {
namespace {

using asio::ip::make_address;
using asio::ip::tcp;
using Addresses = std::vector<asio::ip::address>;

std::vector<std::string> Split(const std::string& words) {
  std::vector<std::string> out;
  std::istringstream in(words);
  for (std::string word; in >> word;) out.push_back(word);
  return out;
}

Addresses Parse(const std::string& words) {
  Addresses out;
  for (const auto& word : Split(words)) out.push_back(make_address(word));
  return out;
}

int OpenFiles() {
  return static_cast<int>(
      std::ranges::distance(std::filesystem::directory_iterator("/proc/self/fd")));
}

// Leaves about `spare` descriptors free below the limit, for as long as it lives.
class FewSpareFiles {
 public:
  explicit FewSpareFiles(int spare) {
    ::getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = std::min(saved_.rlim_cur, static_cast<rlim_t>(OpenFiles() + spare));
    ::setrlimit(RLIMIT_NOFILE, &low);
  }
  ~FewSpareFiles() { ::setrlimit(RLIMIT_NOFILE, &saved_); }

 private:
  rlimit saved_{};
};

bool HasIpv6Loopback() try {
  asio::io_context io;
  return tcp::acceptor(io, tcp::endpoint(make_address("::1"), 0)).is_open();
} catch (const std::system_error&) {
  return false;
}

TEST(AddressTest, LiteralsResolveAndFamiliesTakeTurns) {
  // Literals go through the system's resolver without a name server; a zone stays.
  const std::pair<std::string, std::string> literals[] = {
      {"[::1]", "::1"}, {"::1", "::1"}, {"[fe80::1%lo]", "fe80::1%lo"}, {"127.0.0.1", "127.0.0.1"}};
  for (const auto& [host, address] : literals)
    EXPECT_EQ(SystemResolve(HostToLookUp(host)).addresses, Parse(address)) << host;
  EXPECT_FALSE(SystemResolve(HostToLookUp("[::1")).failure.empty());

  // The first family leads, the families take turns, repeats go.
  const std::pair<std::string, std::string> orders[] = {
      {"1.1.1.1 ::1 ::2 ::3 2.2.2.2", "1.1.1.1 ::1 2.2.2.2 ::2 ::3"},
      {"::1 ::2 1.1.1.1 ::1 2.2.2.2", "::1 1.1.1.1 ::2 2.2.2.2"},
      {"1.1.1.1 2.2.2.2", "1.1.1.1 2.2.2.2"}};
  for (const auto& [given, tried] : orders)
    EXPECT_EQ(AlternateFamilies(Parse(given)), Parse(tried));
}

// Servers at one port on several loopback addresses; each accepts or, marked
// "!", with its backlog full, never answers.
struct Servers {
  Servers(asio::io_context& context, const std::string& addresses) : io(context) {
    for (const std::string& a : Split(addresses))
      Listen(a.substr(0, a.find('!')), !a.ends_with('!'));
  }
  void Listen(const std::string& address, bool answers) {
    auto& acceptor = acceptors.emplace_back(io);
    const tcp::endpoint endpoint(make_address(address), port);
    acceptor.open(endpoint.protocol());
    if (endpoint.address().is_v6()) acceptor.set_option(asio::ip::v6_only(true));
    acceptor.bind(endpoint);
    acceptor.listen(answers ? 16 : 0);
    // A filler takes the one place in the backlog.
    if (!answers) return fillers.emplace_back(io).connect(endpoint);
    acceptor.async_accept([this, address](std::error_code ec, tcp::socket peer) {
      if (!ec) accepted_at += (accepted_at.empty() ? " at " : " ") + address;
      peers.push_back(std::move(peer));
    });
  }

  asio::io_context& io;
  // Nothing listens here once the acceptor that found it is gone.
  const uint16_t port =
      tcp::acceptor(io, tcp::endpoint(make_address("127.0.0.1"), 0)).local_endpoint().port();
  std::list<tcp::acceptor> acceptors;
  std::list<tcp::socket> fillers, peers;
  std::string accepted_at;  // " at " and each address that accepted a connection
};

// The socket's events, with an error's description, and the most bytes it
// held; with `take_from`, it takes each arrival as announced, as the engine does.
struct Recorder final : TcpSocketObserver {
  explicit Recorder(TcpSocket& socket) { socket.SetObserver(this); }
  void OnConnect() override { Add("connect"); }
  void OnDataArrival(int32_t total) override {
    Add("data");
    most = std::max(most, total);
    if (!take_from) return;
    const size_t filled = taken.size();
    taken.resize(filled + static_cast<size_t>(total));
    taken.resize(filled + static_cast<size_t>(take_from->Receive(taken.data() + filled, total)));
  }
  void OnClose() override { Add("close"); }
  void OnError(int16_t n, const std::string& text) override {
    Add("error " + std::to_string(n) + ": " + text);
  }
  void Add(const std::string& event) { events += (events.empty() ? "" : ", ") + event; }
  std::string events;
  int32_t most = 0;
  TcpSocket* take_from = nullptr;
  std::string taken;
};

TEST(AsioTcpSocketTest, EachAddressOfANameGetsItsTurnWithinTheConnectTimeout) {
  const bool ipv6 = HasIpv6Loopback();
  // A name may stand for hundreds of addresses; an attempt that failed gives
  // its descriptor back at once, so they do not run the process out of them.
  const FewSpareFiles limit(64);
  std::string refusing;
  for (int i = 1; i <= 200; ++i) refusing += "127.0.1." + std::to_string(i) + " ";
  // The host, what it resolves to ("system": the system's resolver decides),
  // the servers ("!": never answers), and the outcome: the client's events (an
  // error with its description), the servers that accepted.
  const std::tuple<std::string, std::string, std::string, std::string> cases[] = {
      {"[::1]", "system", "::1", "connect at ::1"},
      // An address that answers in time is the only one tried.
      {"two", "127.0.0.1 127.0.0.2", "127.0.0.1 127.0.0.2", "connect at 127.0.0.1"},
      // The first address refuses: the next is tried at once.
      {"two", "::1 127.0.0.1", "127.0.0.1", "connect at 127.0.0.1"},
      {"two", "127.0.0.1 ::1", "::1", "connect at ::1"},
      {"many", refusing + "127.0.0.1", "127.0.0.1", "connect at 127.0.0.1"},
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
    Servers servers(loop.Context(), listening);
    Resolver resolver = SystemResolve;
    if (resolves_to != "system") {
      resolver = [addresses = Parse(resolves_to)](const std::string&) {
        return LookupResult{addresses, addresses.empty() ? "no answer" : ""};
      };
    }
    const int files_before = OpenFiles();
    auto socket = NewAsioTcpSocket(loop.Context(), resolver);
    Recorder client(*socket);
    const MonoTime start = platform->GetClock().Monotonic();
    socket->Connect(host, servers.port);
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
      // The server's accept may come well after the client's connect on a
      // loaded machine.
      if (expected.find(" at ") != std::string::npos) {
        EXPECT_TRUE(testing::RunUntil(*platform, [&] { return !servers.accepted_at.empty(); }));
      }
    }
    testing::RunUntil(
        *platform, [] { return false; }, std::chrono::milliseconds(50));
    EXPECT_EQ(client.events + servers.accepted_at, expected);

    // No attempt is left open, also one that has not answered yet.
    socket.reset();
    servers.peers.clear();
    EXPECT_TRUE(testing::RunUntil(
        *platform, [&] { return OpenFiles() == files_before; }, std::chrono::milliseconds(1'000)));
  }
}

// Bytes a socket's system queue holds: received and unread (SIOCINQ), or
// sent and not yet acknowledged by the peer (SIOCOUTQ).
int64_t Queued(int fd, unsigned long request) {
  int bytes = 0;
  return ::ioctl(fd, request, &bytes) == 0 ? bytes : -1;
}

// This process's TCP socket whose own address is `local`, or -1.
int SocketAt(const tcp::endpoint& local) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    const int fd = std::stoi(entry.path().filename());
    tcp::endpoint found;
    socklen_t size = static_cast<socklen_t>(found.capacity());
    if (::getsockname(fd, found.data(), &size) != 0) continue;
    const int family = found.data()->sa_family;
    if ((family == AF_INET || family == AF_INET6) && (found.resize(size), found == local))
      return fd;
  }
  return -1;
}

// A host that stops taking data holds at most the backlog, below the input
// limit: reading pauses when one more read would not fit, and goes on as soon
// as the bytes are taken. The server writes what the system takes at every
// poll; what the socket holds is what was written less what the system holds
// (counted low while an acknowledgement is delayed, never high). An owner that
// then takes each arrival as announced, as the engine does, gets what waits in
// the system's full buffers and the rest after it in pieces of at most
// kMaxArrivalBytes, all of it and in order.
TEST(AsioTcpSocketTest, ReadingPausesWhileTheBacklogIsFullAndArrivalsStayBounded) {
  const std::shared_ptr<Platform> platform = NewRealPlatform();
  Servers servers(dynamic_cast<AsioLoop&>(platform->Loop()).Context(), "127.0.0.1");
  const std::unique_ptr<TcpSocket> socket = NewAsioTcpSocket(servers.io, SystemResolve);
  Recorder recorder(*socket);
  socket->Connect("127.0.0.1", servers.port);
  ASSERT_TRUE(testing::RunUntil(*platform, [&] {
    return !servers.peers.empty() && socket->State() == TcpSocket::kConnected;
  }));
  tcp::socket& peer = servers.peers.front();
  peer.non_blocking(true);
  const int client = SocketAt(peer.remote_endpoint());
  ASSERT_GE(client, 0);
  std::string sent(8 * kMaxSocketBacklogBytes, '\0');
  for (size_t i = 0; i < sent.size(); ++i) sent[i] = static_cast<char>(i * 7 / 3);
  int64_t written = 0;
  const auto write_more = [&] {
    std::error_code full;
    written += static_cast<int64_t>(
        peer.write_some(asio::buffer(sent.data() + written, sent.size() - written), full));
  };
  const auto held = [&] {
    return written - Queued(client, SIOCINQ) - Queued(peer.native_handle(), SIOCOUTQ);
  };
  ASSERT_TRUE(testing::RunUntil(
      *platform, [&] { return held() == kMaxSocketBacklogBytes; }, std::chrono::seconds(5),
      write_more));
  const size_t events = recorder.events.size();
  testing::RunUntil(
      *platform, [] { return false; }, std::chrono::milliseconds(50), write_more);
  EXPECT_EQ(recorder.events.size(), events);  // not woken while it cannot read
  EXPECT_TRUE(testing::RunUntil(
      *platform, [&] { return held() == kMaxSocketBacklogBytes; }, std::chrono::seconds(1),
      write_more));
  EXPECT_GT(written, kMaxSocketBacklogBytes);  // the rest waits in the system
  EXPECT_LE(recorder.most, kMaxSocketBacklogBytes);

  // The owner takes the backlog alone, then each arrival as announced: the
  // first readiness finds the system's full buffers waiting.
  std::string taken(kMaxSocketBacklogBytes, '\0');
  ASSERT_EQ(socket->Receive(taken.data(), kMaxSocketBacklogBytes), kMaxSocketBacklogBytes);
  ASSERT_GT(written - kMaxSocketBacklogBytes, 2 * kMaxArrivalBytes);
  recorder.most = 0;
  recorder.take_from = socket.get();
  EXPECT_TRUE(testing::RunUntil(
      *platform, [&] { return taken.size() + recorder.taken.size() == sent.size(); },
      std::chrono::seconds(5), write_more));
  EXPECT_TRUE(taken + recorder.taken == sent);
  EXPECT_LE(recorder.most, kMaxArrivalBytes);
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
    const Resolver hangs = [answer = answer.get_future().share(),
                            thread_ended](const std::string&) {
      answer.wait_for(seconds(10));
      thread_ended->set_value_at_thread_exit();  // after the result was handed on, or not
      return LookupResult{{make_address("127.0.0.1")}, ""};
    };
    auto platform = NewRealPlatform();
    auto& loop = dynamic_cast<AsioLoop&>(platform->Loop());
    auto socket = NewAsioTcpSocket(loop.Context(), hangs);
    Recorder client(*socket);
    socket->Connect("hangs", 80);
    EXPECT_EQ(socket->State(), TcpSocket::kResolving);

    const auto start = std::chrono::steady_clock::now();
    ends_after == "close" ? socket->Close() : socket.reset();  // the others without a Close
    if (ends_after == "loop") platform.reset();
    EXPECT_LT(std::chrono::steady_clock::now() - start, seconds(5));

    answer.set_value();
    ASSERT_EQ(thread_done.wait_for(seconds(5)), std::future_status::ready);
    if (platform) loop.ProcessPendingEventsOnce();
    EXPECT_TRUE(client.events.empty() && (!socket || socket->State() == TcpSocket::kClosed));
  }
}

}  // namespace
}  // namespace ravelon
