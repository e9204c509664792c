// Named ports on the real loop, with senders on threads of their own (a
// send blocks until the listener's loop, run by the test, answers) or raw
// sockets that write the wire format by hand. Every folder is a fresh mkdtemp
// folder; every wait is bounded by RunUntil or the sender's own timeout.
#include "platform/unix_ipc_port.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "components/ipc_port.h"
#include "platform/platform.h"
#include "support/real_loop.h"

namespace ravelon {
namespace {

std::string LittleEndian32(uint32_t value) {
  return {static_cast<char>(value), static_cast<char>(value >> 8), static_cast<char>(value >> 16),
          static_cast<char>(value >> 24)};
}

std::string Frame(const std::string& payload) {
  return LittleEndian32(static_cast<uint32_t>(payload.size())) + payload;
}

// A client that writes the wire format by hand: several messages in one
// write, lengths no sender would give, messages cut short.
class RawClient {
 public:
  explicit RawClient(const std::string& path) : fd_(::socket(AF_UNIX, SOCK_STREAM, 0)) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const timeval timeout{5, 0};
    ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    connected_ = ::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  }
  ~RawClient() { ::close(fd_); }
  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

  bool connected() const { return connected_; }
  bool Write(const std::string& bytes) {
    return ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Takes in what has arrived, without waiting: answer bytes, or the end of
  // the connection (a close, or a reset as the listener left bytes unread).
  // True once the connection has ended.
  bool Poll() {
    char buffer[64];
    for (;;) {
      const ssize_t got = ::recv(fd_, buffer, sizeof buffer, MSG_DONTWAIT);
      if (got > 0) {
        answers_.append(buffer, static_cast<size_t>(got));
        continue;
      }
      if (got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) ended_ = true;
      return ended_;
    }
  }
  const std::string& answers() const { return answers_; }
  // Waits (5 s at most) for one byte; for a child process, whose listener
  // runs elsewhere. False at the end of the connection or the timeout.
  bool WaitForAnswer() {
    char byte = 0;
    return ::recv(fd_, &byte, 1, 0) == 1;
  }

 private:
  int fd_;
  bool connected_ = false;
  bool ended_ = false;
  std::string answers_;
};

// Sends `messages` one SendToNamedPort each, in order, on a thread of its own.
class SendThread {
 public:
  SendThread(std::string name, std::string folder, std::vector<std::string> messages)
      : name_(std::move(name)), folder_(std::move(folder)), messages_(std::move(messages)) {
    thread_ = std::thread([this] {
      // Stops at the first failure, so a test that fails with a stalled
      // loop waits out one send timeout, not one per message.
      for (const std::string& message : messages_) {
        std::string error;
        results_.push_back(SendToNamedPort(name_, message, error, folder_));
        last_error_ = error;
        if (results_.back() != 0) break;
      }
      done_ = true;
    });
  }
  ~SendThread() { thread_.join(); }
  bool done() const { return done_; }
  // Read once done() is true.
  const std::vector<int32_t>& results() const { return results_; }
  const std::string& last_error() const { return last_error_; }

 private:
  const std::string name_, folder_;
  const std::vector<std::string> messages_;
  std::vector<int32_t> results_;
  std::string last_error_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

class NamedIpcPortTest : public ::testing::Test {
 protected:
  NamedIpcPortTest() {
    char pattern[] = "/tmp/ravelon-ipc-XXXXXX";
    if (::mkdtemp(pattern) != nullptr) folder_ = pattern;
    platform_ = NewRealPlatform(folder_ + "/registry.db");
    receiver_ = platform_->NewIpcPort();
    auto observer = std::make_shared<IpcPortObserver>();
    observer->SetOnData([this](MemoryChunk& block) { blocks_.push_back(block.Bytes()); });
    receiver_->addObserver(observer);
  }
  ~NamedIpcPortTest() override { std::filesystem::remove_all(folder_); }

  // A port listening as `name` in the test's folder, linked to receiver_.
  std::shared_ptr<NamedIpcPort> ListenLinked(const std::string& name) {
    std::string error;
    auto port =
        std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewNamedIpcPort(name, folder_, error));
    EXPECT_NE(port, nullptr) << error;
    if (port == nullptr) return nullptr;
    std::shared_ptr<IpcPort> other = port;
    EXPECT_EQ(receiver_->connect(other), kIpcConnected);
    return port;
  }

  std::shared_ptr<NamedIpcPort> NewPort() {
    return std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewIpcPort());
  }

  bool RunUntil(const std::function<bool()>& done) {
    return testing::RunUntil(*platform_, done, std::chrono::seconds(20));
  }

  std::string SocketPath(const std::string& name) const { return folder_ + "/" + name + ".sock"; }

  std::string folder_;
  std::shared_ptr<Platform> platform_;
  std::shared_ptr<IpcPort> receiver_;
  std::vector<std::string> blocks_;
};

TEST_F(NamedIpcPortTest, KeepsMessageBoundaries) {
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  // Over 1 MiB, with no zero byte in its length prefix.
  std::string mebibyte((1 << 20) + 0x10203, '\0');
  for (size_t i = 0; i < mebibyte.size(); ++i) mebibyte[i] = static_cast<char>(i * 7 % 251);
  const std::vector<std::string> sent = {
      "", "a", mebibyte, std::string("\x1b@TOTAL 12.50\n\x1dV\0", 18), "", "tail"};
  SendThread sender("till", folder_, sent);
  ASSERT_TRUE(RunUntil([&] { return sender.done() && blocks_.size() == sent.size(); }));
  EXPECT_EQ(sender.results(), std::vector<int32_t>(sent.size(), 0)) << sender.last_error();
  EXPECT_TRUE(blocks_ == sent);  // not EXPECT_EQ: a failure would print a MiB

  // Several messages in one write, split only by their length prefixes.
  blocks_.clear();
  RawClient client(SocketPath("till"));
  ASSERT_TRUE(client.connected());
  ASSERT_TRUE(client.Write(Frame("one") + Frame("") + Frame(std::string(3, '\0')) + Frame("4")));
  ASSERT_TRUE(RunUntil(
      [&] { return blocks_.size() == 4 && !client.Poll() && client.answers().size() == 4; }));
  EXPECT_EQ(blocks_, (std::vector<std::string>{"one", "", std::string(3, '\0'), "4"}));
  EXPECT_EQ(client.answers(), std::string(4, static_cast<char>(kAckHandedOn)));
  EXPECT_EQ(port->Counts().messages, sent.size() + 4);
  EXPECT_EQ(port->Counts().accepted, sent.size() + 1);
}

TEST_F(NamedIpcPortTest, TwoSendersAtOnce) {
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  std::vector<std::string> from_a, from_b;
  for (int i = 0; i < 40; ++i) {
    from_a.push_back("a" + std::to_string(i));
    from_b.push_back("b" + std::to_string(i) + std::string(static_cast<size_t>(i) * 997, 'x'));
  }
  SendThread a("till", folder_, from_a);
  SendThread b("till", folder_, from_b);
  ASSERT_TRUE(RunUntil([&] { return a.done() && b.done(); }));
  ASSERT_TRUE(RunUntil([&] { return blocks_.size() == 80; }));
  EXPECT_EQ(a.results(), std::vector<int32_t>(40, 0)) << a.last_error();
  EXPECT_EQ(b.results(), std::vector<int32_t>(40, 0)) << b.last_error();
  // Interleaved as they came, but each sender's messages whole and in order.
  std::vector<std::string> got_a, got_b;
  for (const std::string& block : blocks_) (block[0] == 'a' ? got_a : got_b).push_back(block);
  EXPECT_EQ(got_a, from_a);
  EXPECT_TRUE(got_b == from_b);
}

TEST_F(NamedIpcPortTest, EndsBadConnectionsAndAnswersWhenNotConnected) {
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  RawClient negative(SocketPath("till"));
  RawClient too_long(SocketPath("till"));
  ASSERT_TRUE(negative.Write(LittleEndian32(0xffffffffu) + "xyz"));
  ASSERT_TRUE(too_long.Write(LittleEndian32(kMaxMessageBytes + 1u) + "xyz"));
  {
    RawClient cut_short(SocketPath("till"));
    ASSERT_TRUE(cut_short.Write(LittleEndian32(10) + "12345"));
  }
  ASSERT_TRUE(RunUntil([&] { return negative.Poll() && too_long.Poll(); }));
  EXPECT_EQ(negative.answers() + too_long.answers(), "");  // closed unanswered
  ASSERT_TRUE(RunUntil([&] { return port->Counts().accepted == 3; }));
  EXPECT_EQ(port->Counts().bad_lengths, 2u);
  // The cut message never arrives, and the port goes on serving others.
  SendThread sender("till", folder_, {"after"});
  ASSERT_TRUE(RunUntil([&] { return sender.done(); }));
  EXPECT_EQ(sender.results(), std::vector<int32_t>{0});
  ASSERT_TRUE(RunUntil([&] { return !blocks_.empty(); }));
  EXPECT_EQ(blocks_, std::vector<std::string>{"after"});

  // A listener that is linked to no port drops the message and says so.
  std::string error;
  auto lonely =
      std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewNamedIpcPort("lonely", folder_, error));
  ASSERT_NE(lonely, nullptr) << error;
  SendThread unheard("lonely", folder_, {"lost"});
  ASSERT_TRUE(RunUntil([&] { return unheard.done(); }));
  EXPECT_EQ(unheard.results(), std::vector<int32_t>{-1});
  EXPECT_NE(unheard.last_error().find("not connected"), std::string::npos);
  EXPECT_EQ(lonely->Counts().dropped, 1u);

  // Connections over the limit are closed at once.
  auto busy =
      std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewNamedIpcPort("busy", folder_, error));
  ASSERT_NE(busy, nullptr) << error;
  std::vector<std::unique_ptr<RawClient>> crowd;
  for (int i = 0; i <= kMaxNamedPortConnections; ++i) {
    crowd.push_back(std::make_unique<RawClient>(SocketPath("busy")));
  }
  ASSERT_TRUE(RunUntil([&] { return busy->Counts().accepted == kMaxNamedPortConnections; }));
  ASSERT_TRUE(RunUntil([&] { return crowd.back()->Poll(); }));
  EXPECT_EQ(busy->Counts().refused_busy, 1u);
}

TEST_F(NamedIpcPortTest, CloseRemovesTheSocketAndLaterSendsFail) {
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  const std::string path = SocketPath("till");
  EXPECT_EQ(port->SocketPath(), path);
  struct stat info {};
  ASSERT_EQ(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(S_ISSOCK(info.st_mode));
  EXPECT_EQ(info.st_mode & 0777, 0600u);
  RawClient idle(path);  // a connection the close must drop
  ASSERT_TRUE(RunUntil([&] { return port->Counts().accepted == 1; }));

  port->close();
  EXPECT_FALSE(port->IsListening());
  EXPECT_NE(::lstat(path.c_str(), &info), 0);
  EXPECT_TRUE(idle.Poll());
  std::string error;
  EXPECT_EQ(SendToNamedPort("till", "late", error, folder_), ENOENT);
  EXPECT_NE(error.find("no port listens"), std::string::npos) << error;
  EXPECT_EQ(port->Listen("till", folder_, error), -1);

  // Destroying a listening port removes its socket file too.
  auto other = NewPort();
  ASSERT_EQ(other->Listen("other", folder_, error), 0) << error;
  other.reset();
  EXPECT_NE(::lstat(SocketPath("other").c_str(), &info), 0);
}

TEST_F(NamedIpcPortTest, RefusesUnsafeNamesAndFolders) {
  std::string error;
  auto port = NewPort();
  for (const std::string& name :
       {std::string(""), std::string("a/b"), std::string("a\0b", 3), std::string(120, 'n')}) {
    EXPECT_EQ(port->Listen(name, folder_, error), -1) << name;
    EXPECT_EQ(SendToNamedPort(name, "x", error, folder_), -1) << name;
  }
  EXPECT_EQ(SendToNamedPort("till", std::string(kMaxMessageBytes + 1, 'x'), error, folder_), -1);

  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  EXPECT_EQ(port->Listen("till", folder_, error), -1);
  EXPECT_NE(error.find("0755"), std::string::npos) << error;
  EXPECT_EQ(SendToNamedPort("till", "x", error, folder_), -1);
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);

  // A symbolic link to a private folder is no private folder: whoever owns
  // the link's folder could swap it.
  const std::string link = folder_ + "/link";
  ASSERT_EQ(::symlink(folder_.c_str(), link.c_str()), 0);
  EXPECT_EQ(port->Listen("till", link, error), -1);
  if (::geteuid() == 0) {
    const std::string foreign = folder_ + "/foreign";
    ASSERT_EQ(::mkdir(foreign.c_str(), 0700), 0);
    ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
    EXPECT_EQ(port->Listen("till", foreign, error), -1);
    EXPECT_NE(error.find("belongs to user 65534"), std::string::npos) << error;
  }

  // A missing folder is made, private.
  const std::string made = folder_ + "/made";
  ASSERT_EQ(port->Listen("till", made, error), 0) << error;
  struct stat info {};
  ASSERT_EQ(::lstat(made.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_EQ(port->Listen("again", made, error), -1);  // already listening
  port->close();

  // The default folder follows an absolute $XDG_RUNTIME_DIR only.
  const char* saved = std::getenv("XDG_RUNTIME_DIR");
  const std::string restore = saved != nullptr ? saved : "";
  ::setenv("XDG_RUNTIME_DIR", "/run/user/7", 1);
  EXPECT_EQ(DefaultNamedPortFolder(), "/run/user/7/ravelon");
  ::setenv("XDG_RUNTIME_DIR", "relative", 1);
  EXPECT_EQ(DefaultNamedPortFolder(), "/tmp/ravelon-" + std::to_string(::geteuid()));
  saved != nullptr ? ::setenv("XDG_RUNTIME_DIR", restore.c_str(), 1)
                   : ::unsetenv("XDG_RUNTIME_DIR");
}

TEST_F(NamedIpcPortTest, ReplacesAStaleSocketButNotALiveOneOrAFile) {
  const std::string path = SocketPath("till");
  {  // A socket file whose process is gone: bound, never unlinked.
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
  }
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  std::string error;
  auto rival = NewPort();
  EXPECT_EQ(rival->Listen("till", folder_, error), -1);
  EXPECT_NE(error.find("already listens"), std::string::npos) << error;
  rival.reset();  // must not take the live port's file with it

  SendThread sender("till", folder_, {"still here"});
  ASSERT_TRUE(RunUntil([&] { return sender.done() && !blocks_.empty(); }));
  EXPECT_EQ(blocks_, std::vector<std::string>{"still here"});

  std::ofstream(SocketPath("notes")) << "keep me";
  EXPECT_EQ(NewPort()->Listen("notes", folder_, error), -1);
  EXPECT_TRUE(std::filesystem::is_regular_file(SocketPath("notes")));
}

TEST_F(NamedIpcPortTest, RefusesPeersOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  auto port = ListenLinked("till");
  ASSERT_NE(port, nullptr);
  // Open the way on purpose, as a careless chmod would: the peer check must
  // still keep the other user out.
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  ASSERT_EQ(::chmod(SocketPath("till").c_str(), 0777), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    if (::setgid(65534) != 0 || ::setuid(65534) != 0) ::_exit(3);
    RawClient client(SocketPath("till"));
    if (!client.connected()) ::_exit(2);
    client.Write(Frame("intruder"));
    ::_exit(client.WaitForAnswer() ? 1 : 0);  // 0: closed unanswered
  }
  int status = -1;
  bool reaped = false;
  const bool ended = RunUntil([&] {
    reaped = reaped || ::waitpid(child, &status, WNOHANG) == child;
    return reaped && port->Counts().refused_peers == 1;
  });
  if (!reaped) {
    ::kill(child, SIGKILL);
    ::waitpid(child, &status, 0);
  }
  ASSERT_TRUE(ended);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(port->Counts().accepted, 0u);
  EXPECT_TRUE(blocks_.empty());
}

}  // namespace
}  // namespace ravelon
