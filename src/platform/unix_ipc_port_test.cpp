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

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "ravelon/ipc_port.h"
#include "ravelon/platform.h"
#include "support/real_loop.h"

namespace ravelon {
namespace {

// `payload` after its length prefix: its own length unless `length` is given.
std::string Frame(const std::string& payload, int64_t length = -1) {
  const auto value = static_cast<uint32_t>(length < 0 ? payload.size() : length);
  return std::string{static_cast<char>(value), static_cast<char>(value >> 8),
                     static_cast<char>(value >> 16), static_cast<char>(value >> 24)} +
         payload;
}

sockaddr_un Address(const std::string& path) {
  sockaddr_un address{.sun_family = AF_UNIX, .sun_path = {}};
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

// A client that writes the wire format by hand: several messages in one
// write, lengths no sender would give, messages cut short.
struct RawClient {
  explicit RawClient(const std::string& path) {
    const sockaddr_un address = Address(path);
    const timeval timeout{5, 0};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address);
  }
  ~RawClient() { ::close(fd); }
  bool Write(const std::string& bytes) {
    return ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL) ==
           static_cast<ssize_t>(bytes.size());
  }
  // Takes in the answers that have arrived, without waiting. True once the
  // connection has ended (a close, or a reset as the listener left bytes unread).
  bool Poll() {
    char buffer[64];
    ssize_t got;
    while ((got = ::recv(fd, buffer, sizeof buffer, MSG_DONTWAIT)) > 0) answers.append(buffer, got);
    return ended = ended || got == 0 || (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR);
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  bool ended = false;
  std::string answers;
};

bool Ready(const std::future<std::vector<int32_t>>& sender) {
  return sender.wait_for(std::chrono::seconds(0)) == std::future_status::ready;
}

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
  std::shared_ptr<NamedIpcPort> Listen(const std::string& name) {
    std::string error;
    std::shared_ptr<IpcPort> port = platform_->NewNamedIpcPort(name, folder_, error);
    EXPECT_TRUE(port != nullptr && receiver_->connect(port) == kIpcConnected) << error;
    return std::dynamic_pointer_cast<NamedIpcPort>(port);
  }
  bool RunUntil(const std::function<bool()>& done) {
    return testing::RunUntil(*platform_, done, std::chrono::seconds(20));
  }
  std::string SocketPath(const std::string& name) const { return folder_ + "/" + name + ".sock"; }
  // Sends `messages` to "till" in order on a thread of its own; their results,
  // up to the first failure (a stalled loop costs one send timeout, not one
  // per message).
  std::future<std::vector<int32_t>> SendAll(std::vector<std::string> messages) {
    return std::async(std::launch::async, [this, messages] {
      std::vector<int32_t> results;
      std::string error;
      for (size_t i = 0; i < messages.size() && (i == 0 || results.back() == 0); ++i)
        results.push_back(SendToNamedPort("till", messages[i], error, folder_));
      return results;
    });
  }

  std::string folder_;
  std::shared_ptr<Platform> platform_;
  std::shared_ptr<IpcPort> receiver_;
  std::vector<std::string> blocks_;
};

TEST_F(NamedIpcPortTest, KeepsMessageBoundaries) {
  auto port = Listen("till");
  ASSERT_NE(port, nullptr);
  // Over 1 MiB, with no zero byte in its length prefix.
  std::string mebibyte((1 << 20) + 0x10203, '\0');
  for (size_t i = 0; i < mebibyte.size(); ++i) mebibyte[i] = static_cast<char>(i * 7 % 251);
  const std::vector<std::string> sent = {
      "", "a", mebibyte, std::string("\x1b@TOTAL 12.50\n\x1dV\0", 18), "", "tail"};
  auto sender = SendAll(sent);
  ASSERT_TRUE(RunUntil([&] { return Ready(sender) && blocks_.size() == sent.size(); }));
  EXPECT_EQ(sender.get(), std::vector<int32_t>(sent.size(), 0));
  EXPECT_TRUE(blocks_ == sent);  // not EXPECT_EQ: a failure would print a MiB

  // Several messages in one write, split only by their length prefixes; then
  // lengths no sender gives (negative, over the limit) end their connections.
  blocks_.clear();
  RawClient client(SocketPath("till")), too_long(SocketPath("till"));
  ASSERT_TRUE(client.Write(Frame("one") + Frame("") + Frame(std::string(3, '\0')) + Frame("4") +
                           Frame("xyz", 0xffffffffu)));
  ASSERT_TRUE(too_long.Write(Frame("xyz", kMaxMessageBytes + 1)));
  ASSERT_TRUE(RunUntil([&] { return blocks_.size() == 4 && client.Poll() && too_long.Poll(); }));
  EXPECT_EQ(blocks_, (std::vector<std::string>{"one", "", std::string(3, '\0'), "4"}));
  EXPECT_EQ(client.answers + too_long.answers, std::string(4, static_cast<char>(kAckHandedOn)));
  EXPECT_EQ(port->Counts().messages, sent.size() + 4);
  EXPECT_EQ(port->Counts().bad_lengths, 2u);
}

TEST_F(NamedIpcPortTest, RefusesUnsafeNamesFoldersAndFiles) {
  std::string error;
  auto port = std::dynamic_pointer_cast<NamedIpcPort>(platform_->NewIpcPort());
  // The last name makes a socket path of 108 bytes, one more than an address holds.
  for (const std::string& name : {std::string(""), std::string("a/b"), std::string("a\0b", 3),
                                  std::string(108 - SocketPath("").size(), 'n')})
    EXPECT_EQ(port->Listen(name, folder_, error), -1) << name;
  ASSERT_EQ(::chmod(folder_.c_str(), 0755), 0);
  EXPECT_EQ(port->Listen("till", folder_, error), -1);
  EXPECT_NE(error.find("0755"), std::string::npos) << error;
  EXPECT_EQ(SendToNamedPort("till", "x", error, folder_), -1);
  ASSERT_EQ(::chmod(folder_.c_str(), 0700), 0);
  // A symbolic link to a private folder is no private folder: whoever owns
  // the link's folder could swap it.
  ASSERT_EQ(::symlink(folder_.c_str(), (folder_ + "/link").c_str()), 0);
  EXPECT_EQ(port->Listen("till", folder_ + "/link", error), -1);

  // A stale socket file (bound, its process gone) is replaced, owner-only; a
  // live socket or a regular file is not.
  const std::string path = SocketPath("till");
  const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un address = Address(path);
  ASSERT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
  ::close(fd);
  const auto live = Listen("till");
  ASSERT_NE(live, nullptr);
  EXPECT_EQ(std::filesystem::status(path).permissions(),
            std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
  EXPECT_EQ(port->Listen("till", folder_, error), -1);
  EXPECT_NE(error.find("already listens"), std::string::npos) << error;
  std::ofstream(SocketPath("notes")) << "keep me";
  EXPECT_EQ(port->Listen("notes", folder_, error), -1);
  EXPECT_TRUE(std::filesystem::is_regular_file(SocketPath("notes")));
  // A folder not there yet is made, owner-only; an errno left over from an
  // earlier call is no failure of the making.
  errno = EPERM;
  EXPECT_EQ(port->Listen("notes", folder_ + "/new", error), 0) << error;
  EXPECT_EQ(std::filesystem::status(folder_ + "/new").permissions(),
            std::filesystem::perms::owner_all);
  port.reset();  // must not take the live port's file with it
  auto sender = SendAll({"still here"});
  ASSERT_TRUE(RunUntil([&] { return Ready(sender) && !blocks_.empty(); }));
  EXPECT_EQ(blocks_, std::vector<std::string>{"still here"});
}

TEST_F(NamedIpcPortTest, RefusesPeersOfAnotherUser) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to send as another user";
  auto port = Listen("till");
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
    client.Write(Frame("intruder"));
    char byte = 0;
    ::_exit(::recv(client.fd, &byte, 1, 0) == 1 ? 1 : 0);  // 0: closed unanswered
  }
  // The child's wait for an answer ends within its 5 s receive timeout.
  EXPECT_TRUE(RunUntil([&] { return port->Counts().refused_peers == 1; }));
  int status = -1;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_EQ(port->Counts().accepted, 0u);
  EXPECT_TRUE(blocks_.empty());
}

}  // namespace
}  // namespace ravelon
