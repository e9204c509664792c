// Named ports on the real loop, with senders on threads of their own (a send
// blocks until the listener's loop, run by the test, answers) or raw sockets
// that write the wire format by hand. Every wait is bounded.
#include "platform/unix_ipc_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <future>
#include <tuple>

#include "common/engine_limits.h"
#include "platform/asio_loop.h"
#include "platform/ipc_framing.h"
#include "platform/named_port_folder.h"
#include "ravelon/testing/simulated_loop.h"
#include "support/real_loop.h"
#include "support/temp_folder.h"

namespace ravelon {
namespace {

namespace fs = std::filesystem;
using std::chrono::milliseconds, std::chrono::seconds;

// `payload` after its length prefix: its own length unless `length` is given.
std::string Frame(const std::string& payload, int64_t length = -1) {
  const auto prefix =
      IpcFraming::LengthPrefix(static_cast<uint32_t>(length < 0 ? payload.size() : length));
  return std::string(prefix.data(), prefix.size()) + payload;
}

// A client that writes the wire format by hand, or listens on a socket file.
struct RawClient {
  explicit RawClient(const std::string& path, bool listen = false) {
    sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    (listen ? ::bind : ::connect)(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
    if (listen) ::listen(fd, 1);
  }
  ~RawClient() { ::close(fd); }
  bool Write(const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) == ssize_t(bytes.size());
  }
  // The answers until the listener ends the connection (or 5 s pass); with
  // `wait` false, only those already there.
  std::string Answers(bool wait = true) {
    std::string all;
    char buffer[64];
    for (ssize_t got; (got = ::recv(fd, buffer, sizeof buffer, wait ? 0 : MSG_DONTWAIT)) > 0;)
      all.append(buffer, got);
    return all;
  }
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
};

class NamedIpcPortTest : public ::testing::Test {
 protected:
  NamedIpcPortTest() {
    auto observer = std::make_shared<IpcPortObserver>();
    observer->SetOnData([this](MemoryChunk& block) { blocks_.push_back(block.Bytes()); });
    receiver_->addObserver(observer);
  }
  // A port listening as `name` in the test's folder, linked to receiver_.
  std::shared_ptr<NamedIpcPort> Listen(const std::string& name) {
    std::string error;
    std::shared_ptr<IpcPort> port = platform_->NewNamedIpcPort(name, folder_, error);
    EXPECT_TRUE(port != nullptr && receiver_->connect(port) == kIpcConnected) << error;
    return std::dynamic_pointer_cast<NamedIpcPort>(port);
  }
  // Sends `messages` to "till" in order on a thread of its own while the loop
  // runs; their results, up to the first failure (a stalled listener costs
  // one send timeout, not one per message).
  std::vector<int32_t> SendAll(const std::vector<std::string>& messages) {
    std::vector<int32_t> results;
    auto sender = std::async(std::launch::async, [&] {
      std::string error;
      for (size_t i = 0; i < messages.size() && (i == 0 || results.back() == 0); ++i)
        results.push_back(SendToNamedPort("till", messages[i], error, send_folder_));
    });
    EXPECT_TRUE(testing::RunUntil(*platform_, [&] {
      return sender.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
    }));
    // The port queues a message's delivery before it answers, but the poll
    // that saw the sender finish may have stopped the loop ahead of it.
    platform_->Loop().ProcessPendingEventsOnce();
    return results;
  }
  std::string SocketPath(const std::string& name) const { return folder_ + "/" + name + ".sock"; }

  testing::TempFolder temp_;
  const std::string folder_ = temp_.Path();
  std::shared_ptr<Platform> platform_ = NewRealPlatform(folder_ + "/registry.db");
  std::shared_ptr<IpcPort> receiver_ = platform_->NewIpcPort();
  std::vector<std::string> blocks_;
  std::string send_folder_ = folder_;  // where SendAll sends
};

TEST_F(NamedIpcPortTest, KeepsMessageBoundaries) {
  auto port = Listen("till");
  ASSERT_NE(port, nullptr);
  // Over 1 MiB, with no zero byte in its length prefix.
  std::string mebibyte((1 << 20) + 0x10203, '\0');
  for (size_t i = 0; i < mebibyte.size(); ++i) mebibyte[i] = static_cast<char>(i * 7 % 251);
  const std::vector<std::string> sent = {
      "", "a", mebibyte, std::string("\x1b@TOTAL 12.50\n\x1dV\0", 18), "", "tail"};
  EXPECT_EQ(SendAll(sent), std::vector<int32_t>(sent.size(), 0));
  EXPECT_TRUE(blocks_ == sent);  // not EXPECT_EQ: a failure would print a MiB

  // Several messages in one write, each answered; then lengths no sender
  // gives (negative, over the limit) end their connections, with that reason.
  blocks_.clear();
  RawClient client(SocketPath("till")), too_long(SocketPath("till"));
  ASSERT_TRUE(client.Write(Frame("one") + Frame("") + Frame(std::string(3, '\0')) + Frame("4") +
                           Frame("xyz", 0xffffffffu)));
  ASSERT_TRUE(too_long.Write(Frame("xyz", kMaxMessageBytes + 1)));
  ASSERT_TRUE(testing::RunUntil(*platform_, [&] { return port->Counts().bad_lengths == 2; }));
  EXPECT_EQ(blocks_, (std::vector<std::string>{"one", "", std::string(3, '\0'), "4"}));
  EXPECT_EQ(client.Answers() + too_long.Answers(),
            std::string(4, char(kAckHandedOn)) + char(kByeBadLength) + char(kByeBadLength));
  EXPECT_EQ(port->Counts().messages, sent.size() + 4);
}

// A listener that ends the connection, once it has read the message or while
// the sender still writes: the sender gives the reason the listener's last
// byte names, and blames no other.
TEST_F(NamedIpcPortTest, SenderSaysWhyThePortEndedTheConnection) {
  const RawClient listener(SocketPath("till"), /*listen=*/true);
  const struct {
    int bye;  // the listener's last byte; -1 for none
    int bytes;
    bool read;
    int32_t result;
    const char* says;
  } rows[] = {
      {-1, 1, true, ECONNRESET, "without taking the message, and without saying why"},
      {-1, 4 << 20, false, EPIPE, "without taking the message, and without saying why"},
      {kByeOtherUser, 1, true, ECONNRESET, "takes messages of its own user only"},
      {kByeMadeRoom, 4 << 20, false, EPIPE, "to make room for a new one: all 64"},
  };
  for (const auto& row : rows) {
    auto ender = std::async(std::launch::async, [&] {
      const int fd = ::accept(listener.fd, nullptr, nullptr);
      char message[5];
      if (row.read) ::recv(fd, message, sizeof message, MSG_WAITALL);
      const auto bye = static_cast<uint8_t>(row.bye);
      if (row.bye >= 0) ::send(fd, &bye, 1, MSG_NOSIGNAL);
      ::shutdown(fd, SHUT_RDWR);  // closed only once the send is over, so no reset races it
      return fd;
    });
    std::string error;
    EXPECT_EQ(SendToNamedPort("till", std::string(row.bytes, 'x'), error, folder_), row.result);
    EXPECT_NE(error.find(row.says), std::string::npos) << error;
    EXPECT_TRUE(row.bye == kByeOtherUser || error.find("own user") == std::string::npos) << error;
    ::close(ender.get());
  }
}

// 64 peers declare the largest message and send a few bytes of it, then
// nothing: a sender still gets in, the peer silent the longest making room.
// (What a message under way holds is the framing's test.)
TEST_F(NamedIpcPortTest, SilentPeersNeitherTakeMemoryNorKeepASenderOut) {
  auto port = Listen("till");
  ASSERT_NE(port, nullptr);
  EXPECT_EQ(SendAll({"warm-up"}), std::vector<int32_t>{0});
  testing::RunUntil(*platform_, [] { return true; });  // the warm-up's goodbye
  std::vector<std::unique_ptr<RawClient>> peers;
  for (int i = 0; i < kMaxNamedPortConnections; ++i) {
    peers.push_back(std::make_unique<RawClient>(SocketPath("till")));
    ASSERT_TRUE(peers.back()->Write(Frame("abc", kMaxMessageBytes)));
  }
  ASSERT_TRUE(testing::RunUntil(
      *platform_, [&] { return port->Counts().accepted == kMaxNamedPortConnections + 1u; }));
  EXPECT_EQ(SendAll({"receipt"}), std::vector<int32_t>{0});
  EXPECT_EQ(blocks_, (std::vector<std::string>{"warm-up", "receipt"}));
  EXPECT_EQ(port->Counts().made_room, 1u);
  std::string byes;
  for (const auto& peer : peers) byes += peer->Answers(/*wait=*/false);
  EXPECT_EQ(byes, std::string(1, char(kByeMadeRoom)));
}

// On virtual time: a connection is closed once it has been silent for the
// idle limit, counted from the last bytes it sent.
TEST_F(NamedIpcPortTest, ClosesConnectionsSilentForTheIdleLimit) {
  SimulatedLoop idle_time;
  auto port = std::make_shared<NamedIpcPort>(
      dynamic_cast<AsioLoop&>(platform_->Loop()), idle_time.GetClock(),
      [&](std::function<void()> on_fire) { return idle_time.NewAlarm(std::move(on_fire)); });
  std::string error;
  ASSERT_EQ(port->Listen("till", folder_, error), 0) << error;
  std::shared_ptr<IpcPort> linked = port;
  ASSERT_EQ(receiver_->connect(linked), kIpcConnected);
  RawClient silent(SocketPath("till")), talker(SocketPath("till"));
  ASSERT_TRUE(testing::RunUntil(*platform_, [&] { return port->Counts().accepted == 2; }));
  idle_time.AdvanceBy(seconds(20));
  ASSERT_TRUE(talker.Write(Frame("x")));
  ASSERT_TRUE(testing::RunUntil(*platform_, [&] { return blocks_.size() == 1; }));

  const std::string idle(1, char(kByeIdle));
  idle_time.AdvanceBy(seconds(10) - milliseconds(1));
  EXPECT_EQ(silent.Answers(false), "");
  idle_time.AdvanceBy(milliseconds(1));
  EXPECT_EQ(silent.Answers(), idle);
  EXPECT_EQ(talker.Answers(false), std::string(1, char(kAckHandedOn)));
  idle_time.AdvanceBy(seconds(20) - milliseconds(1));
  EXPECT_EQ(talker.Answers(false), "");
  idle_time.AdvanceBy(milliseconds(1));
  EXPECT_EQ(talker.Answers(), idle);
  EXPECT_EQ(port->Counts().idle, 2u);
}

TEST_F(NamedIpcPortTest, RefusesUnsafeNamesFoldersFilesAndPeers) {
  std::string error;
  auto port = std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewIpcPort());
  // The last name makes a socket path of 108 bytes, one more than an address holds.
  for (const std::string& name : {std::string(""), std::string("a/b"), std::string("a\0b", 3),
                                  std::string(108 - SocketPath("").size(), 'n')})
    EXPECT_EQ(port->Listen(name, folder_, error), -1) << name;
  // A folder others may enter, or a symbolic link to a private folder (whoever
  // owns the link's folder could swap it), is refused on both sides.
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  EXPECT_EQ(port->Listen("till", folder_, error), -1);
  EXPECT_EQ(SendToNamedPort("till", "x", error, folder_), -1);
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
  fs::create_directory_symlink(folder_, folder_ + "/link");
  EXPECT_EQ(port->Listen("till", folder_ + "/link", error), -1);

  // A stale socket file (bound, its process gone) is replaced, owner-only; a
  // live socket or a regular file is not.
  RawClient(SocketPath("till"), /*listen=*/true);
  const auto live = Listen("till");
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(fs::status(SocketPath("till")).permissions(),
            fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(port->Listen("till", folder_, error), -1);
  std::ofstream(SocketPath("notes")) << "keep me";
  EXPECT_EQ(port->Listen("notes", folder_, error), -1);
  EXPECT_TRUE(fs::is_regular_file(SocketPath("notes")));
  // A folder not there yet is made, owner-only; an errno left over from an
  // earlier call is no failure of the making.
  errno = EPERM;
  EXPECT_EQ(port->Listen("notes", folder_ + "/new", error), 0) << error;
  EXPECT_EQ(fs::status(folder_ + "/new").permissions(), fs::perms::owner_all);
  port.reset();  // must not take the live port's file with it
  EXPECT_EQ(SendAll({"still here"}), std::vector<int32_t>{0});
  EXPECT_EQ(blocks_, std::vector<std::string>{"still here"});

  // With the way opened on purpose, as a careless chmod would, the peer check
  // still keeps another user out (only root can send as another user).
  if (::geteuid() != 0) return;
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(SocketPath("till").c_str(), 0777), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    RawClient client(SocketPath("till"));
    client.Write(Frame("intruder"));
    ::_exit(client.Answers() == std::string(1, char(kByeOtherUser)) ? 0 : 1);
  }
  EXPECT_TRUE(testing::RunUntil(*platform_, [&] { return live->Counts().refused_peers == 1; }));
  int status = -1;  // 0: exited with 0
  EXPECT_TRUE(::waitpid(child, &status, 0) == child && status == 0) << status;
  EXPECT_EQ(blocks_.size(), 1u);
}

// Without a runtime folder, a port makes a folder ravelon-<uid>-XXXXXX that
// nobody could name first; look-alikes are ignored: another user's, one open
// to others, one named for another user, a link, a file. With a runtime
// folder, both sides use it.
TEST_F(NamedIpcPortTest, DefaultFolderCannotBeTakenFirst) {
  const std::string uid = std::to_string(::geteuid());
  const std::string prefix = folder_ + "/ravelon-" + uid + "-";
  for (const std::string& folder :
       {prefix + "open", prefix + "planted", folder_ + "/ravelon-1" + uid + "-x"})
    ASSERT_EQ(::mkdir(folder.c_str(), 0700), 0) << folder;
  ASSERT_EQ(::chmod((prefix + "open").c_str(), 0755), 0);
  // Only root can plant a folder as another user; else this one goes.
  if (::chown((prefix + "planted").c_str(), ::geteuid() + 1, ::getegid()) != 0)
    fs::remove(prefix + "planted");
  std::ofstream(prefix + "file") << "x";
  std::string made, again, error;
  ASSERT_EQ(MakePortFolder(folder_, made, error), 0) << error;
  EXPECT_TRUE(made.starts_with(prefix) && made.size() == prefix.size() + 6) << made;
  EXPECT_EQ(fs::status(made).permissions(), fs::perms::owner_all);
  fs::create_directory_symlink(made, prefix + "link");
  const std::vector<std::string> found = PrivatePortFolders(folder_);
  EXPECT_EQ(found, std::vector<std::string>{made});
  ASSERT_EQ(MakePortFolder(folder_, again, error), 0) << error;
  EXPECT_EQ(again, made);

  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  const std::string saved = runtime != nullptr ? runtime : "";
  ::setenv("XDG_RUNTIME_DIR", folder_.c_str(), 1);
  std::shared_ptr<IpcPort> port = platform_->NewNamedIpcPort("till", "", error);
  ASSERT_TRUE(port != nullptr && receiver_->connect(port) == kIpcConnected) << error;
  send_folder_ = "";
  EXPECT_EQ(SendAll({"found"}), std::vector<int32_t>{0});
  EXPECT_TRUE(fs::is_socket(folder_ + "/ravelon/till.sock"));
  // Without that variable a port listens in a private folder under the shared base.
  ::unsetenv("XDG_RUNTIME_DIR");
  const std::string name = "test-" + std::to_string(::getpid());
  std::shared_ptr<IpcPort> shared = platform_->NewNamedIpcPort(name, "", error);
  runtime != nullptr ? ::setenv("XDG_RUNTIME_DIR", saved.c_str(), 1)
                     : ::unsetenv("XDG_RUNTIME_DIR");
  ASSERT_TRUE(shared != nullptr) << error;
  int sockets = 0;
  for (const std::string& folder : PrivatePortFolders(kSharedPortBase))
    sockets += fs::is_socket(folder + "/" + name + ".sock");
  EXPECT_EQ(sockets, 1);
}

}  // namespace
}  // namespace ravelon
