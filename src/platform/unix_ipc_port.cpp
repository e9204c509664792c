#include "platform/unix_ipc_port.h"

#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <asio/local/stream_protocol.hpp>
#include <asio/read.hpp>
#include <asio/steady_timer.hpp>
#include <asio/write.hpp>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform/asio_loop.h"

namespace ravelon {
namespace {

using asio::local::stream_protocol;

constexpr char kSocketSuffix[] = ".sock";
constexpr size_t kHeaderBytes = 4;
// A failed accept (out of file descriptors, say) is tried again after this
// pause: trying at once would spin the engine's loop.
constexpr std::chrono::milliseconds kAcceptRetryDelay(100);
// Bounds each blocking step of SendToNamedPort: connect, send, answer.
constexpr time_t kSendTimeoutSeconds = 10;

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

// Checks `name` and makes the socket path <folder>/<name>.sock of it.
// Returns 0, or -1 with `error`.
int32_t SocketPathOf(const std::string& name, const std::string& folder, std::string& path,
                     std::string& error) {
  if (name.empty() || name.find('/') != std::string::npos || name.find('\0') != std::string::npos) {
    error = "the port name \"" + name + "\" is empty or holds '/' or a zero byte";
    return -1;
  }
  path = folder + "/" + name + kSocketSuffix;
  if (path.find('\0') != std::string::npos || path.size() >= sizeof(sockaddr_un::sun_path)) {
    error = "the socket path " + path + " is longer than a socket address takes (" +
            std::to_string(sizeof(sockaddr_un::sun_path) - 1) + " bytes) or holds a zero byte";
    return -1;
  }
  return 0;
}

// 0 when `folder` is a real folder (not a symbolic link) owned by this user
// that group and others cannot enter; -1 or an errno with `error` otherwise.
int32_t CheckPrivateFolder(const std::string& folder, std::string& error) {
  struct stat info {};
  if (::lstat(folder.c_str(), &info) != 0) {
    const int e = errno;
    error = "cannot inspect the port folder " + folder + ": " + ErrnoText(e);
    return e;
  }
  if (!S_ISDIR(info.st_mode)) {
    error = "the port folder " + folder + " is not a folder";
    return -1;
  }
  if (info.st_uid != ::geteuid()) {
    error = "the port folder " + folder + " belongs to user " + std::to_string(info.st_uid) +
            ", not to this user (" + std::to_string(::geteuid()) + ")";
    return -1;
  }
  if ((info.st_mode & 077) != 0) {
    char mode[8];
    std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(info.st_mode & 07777));
    error = "the port folder " + folder + " is open to group or others (mode " + mode +
            "); it must be 0700";
    return -1;
  }
  return 0;
}

sockaddr_un AddressOf(const std::string& path) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  path.copy(address.sun_path, sizeof address.sun_path - 1);
  return address;
}

class UniqueFd {
 public:
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() {
    if (fd_ >= 0) ::close(fd_);
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  int get() const { return fd_; }

 private:
  int fd_;
};

int ConnectTo(int fd, const std::string& path) {
  const sockaddr_un address = AddressOf(path);
  return ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0 ? 0
                                                                                         : errno;
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
  const UniqueFd probe(::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (probe.get() < 0) {
    const int e = errno;
    error = "cannot make a socket: " + ErrnoText(e);
    return e;
  }
  const int e = ConnectTo(probe.get(), path);
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

// Sends all of `bytes`; 0 or an errno (ETIMEDOUT when the timeout passed).
int SendAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
    }
    bytes.remove_prefix(static_cast<size_t>(sent));
  }
  return 0;
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
  std::vector<std::shared_ptr<Connection>> connections;
};

// One peer's connection: the message being read and the answer being
// written. Handlers hold it, so its buffers outlive their operations.
struct NamedIpcPort::Connection {
  explicit Connection(stream_protocol::socket peer) : socket(std::move(peer)) {}
  stream_protocol::socket socket;
  std::array<unsigned char, kHeaderBytes> header{};
  std::string body;
  uint8_t answer = kAckHandedOn;
};

NamedIpcPort::NamedIpcPort(AsioLoop& loop) : InProcessIpcPort(loop), asio_loop_(loop) {}

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
  const std::string dir = folder.empty() ? DefaultNamedPortFolder() : folder;
  std::string path;
  if (const int32_t result = SocketPathOf(name, dir, path, error); result != 0) return result;
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    const int e = errno;
    error = "cannot create the port folder " + dir + ": " + ErrnoText(e);
    return e;
  }
  if (const int32_t result = CheckPrivateFolder(dir, error); result != 0) return result;
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
  // Handlers still queued find listener_ empty (or their connection gone)
  // and do nothing.
  const std::unique_ptr<Listener> listener = std::move(listener_);
  std::error_code ignored;
  listener->acceptor.close(ignored);
  listener->retry.cancel();
  for (const std::shared_ptr<Connection>& connection : listener->connections) {
    connection->socket.close(ignored);
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

void NamedIpcPort::OnAccept(const std::error_code& error, std::shared_ptr<Connection> connection) {
  if (listener_ == nullptr || error == asio::error::operation_aborted) return;
  if (error) {
    std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
    listener_->retry.expires_after(kAcceptRetryDelay);
    listener_->retry.async_wait([weak](std::error_code ec) {
      auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
      if (!ec && port != nullptr && port->listener_ != nullptr) port->Accept();
    });
    return;
  }
  // A connection refused here is closed when `connection` goes out of scope.
  const int fd = connection->socket.native_handle();
  if (!PeerIsThisUser(fd)) {
    ++counts_.refused_peers;
  } else if (listener_->connections.size() >= kMaxNamedPortConnections) {
    ++counts_.refused_busy;
  } else {
    ::fcntl(fd, F_SETFD, FD_CLOEXEC);
    ++counts_.accepted;
    listener_->connections.push_back(connection);
    ReadHeader(connection);
  }
  Accept();
}

// Reads exactly `buffer` from the connection, then runs `next`, while this
// port still holds the connection; any failure drops it.
template <typename Buffer>
void NamedIpcPort::ReadThen(const std::shared_ptr<Connection>& connection, Buffer buffer,
                            void (NamedIpcPort::*next)(const std::shared_ptr<Connection>&)) {
  std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
  asio::async_read(connection->socket, buffer,
                   [weak, connection, next](std::error_code error, size_t) {
                     auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
                     if (port == nullptr || !port->Holds(connection)) return;
                     if (error) {
                       port->Drop(connection);
                     } else {
                       ((*port).*next)(connection);
                     }
                   });
}

void NamedIpcPort::ReadHeader(const std::shared_ptr<Connection>& connection) {
  // End of file here is the peer's normal goodbye.
  ReadThen(connection, asio::buffer(connection->header), &NamedIpcPort::OnHeader);
}

void NamedIpcPort::OnHeader(const std::shared_ptr<Connection>& connection) {
  const std::array<unsigned char, kHeaderBytes>& h = connection->header;
  const auto length =
      static_cast<int32_t>(static_cast<uint32_t>(h[0]) | static_cast<uint32_t>(h[1]) << 8 |
                           static_cast<uint32_t>(h[2]) << 16 | static_cast<uint32_t>(h[3]) << 24);
  if (length < 0 || length > kMaxMessageBytes) {
    ++counts_.bad_lengths;
    Drop(connection);
    return;
  }
  connection->body.assign(static_cast<size_t>(length), '\0');
  if (length == 0) {
    OnBody(connection);
    return;
  }
  // A message cut short by the peer is dropped with its connection.
  ReadThen(connection, asio::buffer(connection->body), &NamedIpcPort::OnBody);
}

void NamedIpcPort::OnBody(const std::shared_ptr<Connection>& connection) {
  ++counts_.messages;
  const bool handed_on = SendOwned(MemoryChunk(std::move(connection->body)));
  connection->body = std::string();
  if (!handed_on) ++counts_.dropped;
  connection->answer = handed_on ? kAckHandedOn : kAckNotConnected;
  // The next message is read only once the answer is out: a peer that sends
  // without reading answers stalls its own connection, nothing else.
  std::weak_ptr<InProcessIpcPort> weak = weak_from_this();
  asio::async_write(connection->socket, asio::buffer(&connection->answer, 1),
                    [weak, connection](std::error_code error, size_t) {
                      auto port = std::static_pointer_cast<NamedIpcPort>(weak.lock());
                      if (port == nullptr || !port->Holds(connection)) return;
                      if (error) {
                        port->Drop(connection);
                      } else {
                        port->ReadHeader(connection);
                      }
                    });
}

bool NamedIpcPort::Holds(const std::shared_ptr<Connection>& connection) const {
  return listener_ != nullptr &&
         std::find(listener_->connections.begin(), listener_->connections.end(), connection) !=
             listener_->connections.end();
}

void NamedIpcPort::Drop(const std::shared_ptr<Connection>& connection) {
  std::error_code ignored;
  connection->socket.close(ignored);
  if (listener_ != nullptr) std::erase(listener_->connections, connection);
}

std::string DefaultNamedPortFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/ravelon";
  return "/tmp/ravelon-" + std::to_string(::geteuid());
}

int32_t SendToNamedPort(const std::string& name, std::string_view bytes, std::string& error,
                        const std::string& folder) {
  error.clear();
  const std::string dir = folder.empty() ? DefaultNamedPortFolder() : folder;
  std::string path;
  if (const int32_t result = SocketPathOf(name, dir, path, error); result != 0) return result;
  if (bytes.size() > static_cast<size_t>(kMaxMessageBytes)) {
    error = "the message has " + std::to_string(bytes.size()) + " bytes, more than a port takes (" +
            std::to_string(kMaxMessageBytes) + ")";
    return -1;
  }
  // Only a private folder guarantees that the socket in it is this user's.
  if (const int32_t result = CheckPrivateFolder(dir, error); result != 0) {
    if (result == ENOENT) error = "no port listens as \"" + name + "\" (no folder " + dir + ")";
    return result;
  }

  const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    const int e = errno;
    error = "cannot make a socket: " + ErrnoText(e);
    return e;
  }
  const timeval timeout{kSendTimeoutSeconds, 0};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (int e = ConnectTo(fd.get(), path); e != 0) {
    if (e == EAGAIN) e = ETIMEDOUT;
    error = e == ENOENT || e == ECONNREFUSED ? "no port listens as \"" + name + "\" (" + path + ")"
                                             : "cannot connect to " + path + ": " + ErrnoText(e);
    return e;
  }

  const auto length = static_cast<uint32_t>(bytes.size());
  const char header[kHeaderBytes] = {
      static_cast<char>(length & 0xff), static_cast<char>(length >> 8 & 0xff),
      static_cast<char>(length >> 16 & 0xff), static_cast<char>(length >> 24 & 0xff)};
  int e = SendAll(fd.get(), std::string_view(header, kHeaderBytes));
  if (e == 0) e = SendAll(fd.get(), bytes);
  uint8_t answer = 0;
  ssize_t got = 0;
  if (e == 0) {
    do {
      got = ::recv(fd.get(), &answer, 1, 0);
    } while (got < 0 && errno == EINTR);
    if (got < 0) e = errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
    if (got == 0) e = ECONNRESET;
  }
  if (e == EPIPE || e == ECONNRESET) {
    error = "the port at " + path +
            " closed the connection without taking the message (it takes messages of its own "
            "user only)";
    return e;
  }
  if (e != 0) {
    error = "cannot send to " + path + ": " + ErrnoText(e);
    return e;
  }
  if (answer == kAckNotConnected) {
    error = "the port at " + path + " is not connected to an engine; the message was dropped";
    return -1;
  }
  if (answer != kAckHandedOn) {
    error = "the port at " + path + " gave an unknown answer " + std::to_string(answer);
    return -1;
  }
  return 0;
}

}  // namespace ravelon
