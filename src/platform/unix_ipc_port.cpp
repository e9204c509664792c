#include "platform/unix_ipc_port.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <asio/local/stream_protocol.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <utility>
#include <vector>

#include "common/engine_limits.h"
#include "platform/asio_loop.h"
#include "platform/ipc_framing.h"
#include "platform/named_port_folder.h"

namespace ravelon {
namespace {

using asio::local::stream_protocol;

constexpr std::chrono::milliseconds kIdleTimeout(kNamedPortIdleTimeoutMs);

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// The folder a port listens in: `folder`, else the default one, made when
// missing. Returns 0, -1 or an errno, with `error`.
int32_t ListeningFolder(const std::string& folder, std::string& dir, std::string& error) {
  dir = folder.empty() ? RuntimePortFolder() : folder;
  if (dir.empty()) return MakePortFolder(kSharedPortBase, dir, error);
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    const int e = errno;
    error = "cannot create the port folder " + dir + ": " + ErrnoText(e);
    return e;
  }
  return CheckPrivateFolder(dir, error);
}

// Clears the way for binding `path`: nothing there, or a socket file whose
// process has died (a connect to it is refused), which is removed. A live
// socket or any other file stays: -1. Returns 0, -1 or an errno, with
// `error`.
int32_t RemoveStaleSocket(const std::string& path, std::string& error) {
  struct stat info {};
  if (::lstat(path.c_str(), &info) != 0) {
    const int e = errno;
    if (e == ENOENT) return 0;
    error = "cannot inspect " + path + ": " + ErrnoText(e);
    return e;
  }
  if (!S_ISSOCK(info.st_mode)) {
    error = path + " is in the way and is not a socket";
    return -1;
  }
  // Non-blocking, so a live port with a full backlog answers EAGAIN at once.
  const int probe = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (probe < 0) {
    const int e = errno;
    error = "cannot make a socket: " + ErrnoText(e);
    return e;
  }
  const int e = ConnectToSocket(probe, path);
  ::close(probe);
  if (e == 0 || e == EAGAIN || e == EINPROGRESS) {
    error = "another port already listens at " + path;
    return -1;
  }
  if (e != ECONNREFUSED) {
    error = "cannot probe " + path + ": " + ErrnoText(e);
    return e;
  }
  if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
    const int u = errno;
    error = "cannot remove the stale socket " + path + ": " + ErrnoText(u);
    return u;
  }
  return 0;
}

bool PeerIsThisUser(int fd) {
  ucred peer{};
  socklen_t size = sizeof peer;
  return ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &peer, &size) == 0 && size == sizeof peer &&
         peer.uid == ::geteuid();
}

}  // namespace

struct NamedIpcPort::Listener {
  explicit Listener(asio::io_context& context) : acceptor(context), retry(context) {}
  stream_protocol::acceptor acceptor;
  asio::steady_timer retry;
  std::string path;
  // Identify the socket file this port bound, so that closing never removes
  // a file another port has put in its place.
  dev_t device = 0;
  ino_t inode = 0;
  std::vector<ConnectionPtr> connections;
  // Every read goes here first: a connection keeps only what its framing
  // holds, so a silent one costs next to nothing.
  std::vector<char> read_buffer = std::vector<char>(kNamedPortReadBytes);
};

// One peer's connection. Handlers hold it, so the answer being written
// outlives its operation.
struct NamedIpcPort::Connection {
  explicit Connection(stream_protocol::socket peer) : socket(std::move(peer)) {}
  stream_protocol::socket socket;
  IpcFraming framing{kMaxMessageBytes};
  MonoTime last_heard{};  // on the port's idle clock
  uint8_t answer = kAckHandedOn;
};

NamedIpcPort::NamedIpcPort(AsioLoop& loop)
    : NamedIpcPort(loop, loop.GetClock(), [&loop](std::function<void()> on_fire) {
        return loop.NewAlarm(std::move(on_fire));
      }) {}

NamedIpcPort::NamedIpcPort(AsioLoop& loop, const Clock& idle_clock,
                           const PeriodicTimer::AlarmFactory& make_alarm)
    : InProcessIpcPort(loop),
      asio_loop_(loop),
      idle_clock_(idle_clock),
      idle_alarm_(make_alarm([this] { CloseIdle(); })) {}

NamedIpcPort::~NamedIpcPort() { StopListening(); }

std::string NamedIpcPort::SocketPath() const { return listener_ ? listener_->path : ""; }

void NamedIpcPort::close() {
  StopListening();
  InProcessIpcPort::close();
}

int32_t NamedIpcPort::Listen(const std::string& name, const std::string& folder,
                             std::string& error) {
  error.clear();
  if (IsClosed()) {
    error = "the port is closed";
    return -1;
  }
  if (listener_ != nullptr) {
    error = "the port already listens at " + listener_->path;
    return -1;
  }
  if (weak_from_this().expired()) {
    error = "the port was not made with std::make_shared";
    return -1;
  }
  if (const int32_t result = CheckPortName(name, error); result != 0) return result;
  std::string dir;
  std::string path;
  if (const int32_t result = ListeningFolder(folder, dir, error); result != 0) return result;
  if (const int32_t result = SocketPathOf(name, dir, path, error); result != 0) return result;
  if (const int32_t result = RemoveStaleSocket(path, error); result != 0) return result;

  // Asio opens sockets without close-on-exec; a program the host starts must
  // not inherit the listening socket.
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    const int e = errno;
    error = "cannot make a socket: " + ErrnoText(e);
    return e;
  }
  auto listener = std::make_unique<Listener>(asio_loop_.Context());
  std::error_code ec;
  listener->acceptor.assign(stream_protocol(), fd, ec);
  if (ec) {
    ::close(fd);
    error = "cannot make a socket: " + ec.message();
    return ec.value();
  }
  listener->acceptor.bind(stream_protocol::endpoint(path), ec);
  if (ec) {
    error = "cannot bind " + path + ": " + ec.message();
    return ec.value();
  }
  struct stat info {};
  listener->acceptor.listen(asio::socket_base::max_listen_connections, ec);
  if (!ec && ::lstat(path.c_str(), &info) != 0) ec = std::error_code(errno, std::system_category());
  if (ec) {
    ::unlink(path.c_str());
    error = "cannot listen at " + path + ": " + ec.message();
    return ec.value();
  }
  // The folder already keeps others out; the file's own mode says the same.
  ::chmod(path.c_str(), 0600);
  listener->path = path;
  listener->device = info.st_dev;
  listener->inode = info.st_ino;
  listener_ = std::move(listener);
  Accept();
  return 0;
}

void NamedIpcPort::StopListening() {
  if (listener_ == nullptr) return;
  idle_alarm_->Disarm();
  // Handlers still queued find listener_ empty (or their connection gone)
  // and do nothing.
  const std::unique_ptr<Listener> listener = std::move(listener_);
  std::error_code ignored;
  listener->acceptor.close(ignored);
  listener->retry.cancel();
  for (const ConnectionPtr& connection : listener->connections) {
    SayByeAndDrop(connection, kByePortClosed);
  }
  struct stat info {};
  if (::lstat(listener->path.c_str(), &info) == 0 && info.st_dev == listener->device &&
      info.st_ino == listener->inode) {
    ::unlink(listener->path.c_str());
  }
}

void NamedIpcPort::Accept() {
  std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
  listener_->acceptor.async_accept([weak](std::error_code error, stream_protocol::socket peer) {
    auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
    if (port != nullptr) port->OnAccept(error, std::make_shared<Connection>(std::move(peer)));
  });
}

void NamedIpcPort::OnAccept(const std::error_code& error, const ConnectionPtr& connection) {
  if (listener_ == nullptr || error == asio::error::operation_aborted) return;
  if (error) {
    std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
    listener_->retry.expires_after(std::chrono::milliseconds(kNamedPortAcceptRetryMs));
    listener_->retry.async_wait([weak](std::error_code ec) {
      auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
      if (!ec && port != nullptr && port->listener_ != nullptr) port->Accept();
    });
    return;
  }
  const int fd = connection->socket.native_handle();
  if (!PeerIsThisUser(fd)) {
    ++counts_.refused_peers;
    SayByeAndDrop(connection, kByeOtherUser);
    Accept();
    return;
  }
  std::vector<ConnectionPtr>& connections = listener_->connections;
  if (connections.size() >= static_cast<size_t>(kMaxNamedPortConnections)) {
    // Whoever has been silent the longest makes room: peers that say nothing
    // cannot keep a sender out.
    const auto silent = std::min_element(connections.begin(), connections.end(),
                                         [](const ConnectionPtr& a, const ConnectionPtr& b) {
                                           return a->last_heard < b->last_heard;
                                         });
    const ConnectionPtr made_room = *silent;  // a copy: dropping it erases the element
    ++counts_.made_room;
    SayByeAndDrop(made_room, kByeMadeRoom);
  }
  ::fcntl(fd, F_SETFD, FD_CLOEXEC);
  std::error_code ignored;
  connection->socket.non_blocking(true, ignored);  // for the reads in OnReadable
  connection->last_heard = idle_clock_.Monotonic();
  ++counts_.accepted;
  connections.push_back(connection);
  ArmIdleAlarm();
  WaitForBytes(connection);
  Accept();
}

// A completion handler for `connection`: unless the port or the connection
// has gone meanwhile, an error drops the connection, else `next` goes on.
std::function<void(std::error_code)> NamedIpcPort::OnConnectionDone(
    const ConnectionPtr& connection, void (NamedIpcPort::*next)(const ConnectionPtr&)) {
  std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
  return [weak, connection, next](std::error_code error) {
    auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
    if (port == nullptr || !port->Holds(connection)) return;
    if (error) {
      port->Drop(connection);
    } else {
      ((*port).*next)(connection);
    }
  };
}

void NamedIpcPort::WaitForBytes(const ConnectionPtr& connection) {
  connection->socket.async_wait(stream_protocol::socket::wait_read,
                                OnConnectionDone(connection, &NamedIpcPort::OnReadable));
}

void NamedIpcPort::OnReadable(const ConnectionPtr& connection) {
  std::vector<char>& buffer = listener_->read_buffer;
  std::error_code error;
  const size_t got = connection->socket.read_some(asio::buffer(buffer), error);
  if (error == asio::error::would_block || error == asio::error::try_again) {
    WaitForBytes(connection);
    return;
  }
  if (error) {
    // End of file is the peer's goodbye; a message cut short goes with it.
    Drop(connection);
    return;
  }
  connection->last_heard = idle_clock_.Monotonic();
  connection->framing.Feed(std::string_view(buffer.data(), got));
  Serve(connection);
}

void NamedIpcPort::Serve(const ConnectionPtr& connection) {
  std::string message;
  if (!connection->framing.Next(message)) {
    if (connection->framing.Broken()) {
      ++counts_.bad_lengths;
      SayByeAndDrop(connection, kByeBadLength);
    } else {
      WaitForBytes(connection);
    }
    return;
  }
  ++counts_.messages;
  const bool handed_on = SendOwned(MemoryChunk(std::move(message)));
  if (!handed_on) ++counts_.dropped;
  connection->answer = handed_on ? kAckHandedOn : kAckNotConnected;
  // Nothing more is read until the answer is out: a peer that sends without
  // reading answers stalls its own connection, nothing else.
  asio::async_write(connection->socket, asio::buffer(&connection->answer, 1),
                    [done = OnConnectionDone(connection, &NamedIpcPort::Serve)](
                        std::error_code error, size_t) { done(error); });
}

void NamedIpcPort::CloseIdle() {
  if (listener_ == nullptr) return;
  const MonoTime now = idle_clock_.Monotonic();
  std::vector<ConnectionPtr> silent;
  for (const ConnectionPtr& connection : listener_->connections) {
    if (now - connection->last_heard >= kIdleTimeout) silent.push_back(connection);
  }
  for (const ConnectionPtr& connection : silent) {
    ++counts_.idle;
    SayByeAndDrop(connection, kByeIdle);
  }
  ArmIdleAlarm();
}

void NamedIpcPort::ArmIdleAlarm() {
  const std::vector<ConnectionPtr>& connections = listener_->connections;
  if (connections.empty()) {
    idle_alarm_->Disarm();
    return;
  }
  MonoTime oldest = connections.front()->last_heard;
  for (const ConnectionPtr& connection : connections) {
    oldest = std::min(oldest, connection->last_heard);
  }
  idle_alarm_->ArmAt(oldest + kIdleTimeout);
}

bool NamedIpcPort::Holds(const ConnectionPtr& connection) const {
  return listener_ != nullptr &&
         std::find(listener_->connections.begin(), listener_->connections.end(), connection) !=
             listener_->connections.end();
}

void NamedIpcPort::SayByeAndDrop(const ConnectionPtr& connection, uint8_t why) {
  // One byte always fits, unless the peer left its answers unread: it then
  // learns nothing more.
  ::send(connection->socket.native_handle(), &why, 1, MSG_DONTWAIT | MSG_NOSIGNAL);
  Drop(connection);
}

void NamedIpcPort::Drop(const ConnectionPtr& connection) {
  std::error_code ignored;
  connection->socket.close(ignored);
  if (listener_ != nullptr) std::erase(listener_->connections, connection);
}

}  // namespace ravelon
