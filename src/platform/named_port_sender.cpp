// The sending side of named ports (include/ravelon/named_port.h): plain
// blocking POSIX, for any program of the user.
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include "common/engine_limits.h"
#include "platform/ipc_framing.h"
#include "platform/named_port_folder.h"
#include "platform/unix_ipc_port.h"
#include "ravelon/named_port.h"

namespace ravelon {
namespace {

std::string ErrnoText(int error) {
  return std::error_code(error, std::generic_category()).message();
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

// The default folders a port may listen in: the runtime folder first.
std::vector<std::string> DefaultFolders() {
  std::vector<std::string> folders = PrivatePortFolders(kSharedPortBase);
  if (const std::string runtime = RuntimePortFolder(); !runtime.empty())
    folders.insert(folders.begin(), runtime);
  return folders;
}

// The socket to send to: in `folder`, else in the first default folder that
// holds one under `name`. Only a private folder guarantees that the socket in
// it is this user's. Returns 0, -1 or an errno, with `error`.
int32_t SendingPath(const std::string& name, const std::string& folder, std::string& path,
                    std::string& error) {
  if (!folder.empty()) {
    if (const int32_t result = CheckPrivateFolder(folder, error); result != 0) {
      if (result == ENOENT)
        error = "no port listens as \"" + name + "\" (no folder " + folder + ")";
      return result;
    }
    return SocketPathOf(name, folder, path, error);
  }
  if (const int32_t result = CheckPortName(name, error); result != 0) return result;
  for (const std::string& dir : DefaultFolders()) {
    struct stat info {};
    std::string ignored;
    if (CheckPrivateFolder(dir, ignored) == 0 && SocketPathOf(name, dir, path, ignored) == 0 &&
        ::lstat(path.c_str(), &info) == 0 && S_ISSOCK(info.st_mode)) {
      return 0;
    }
  }
  const std::string runtime = RuntimePortFolder();
  error = "no port listens as \"" + name + "\" (no " + name + kSocketSuffix + " in " +
          (runtime.empty() ? "" : runtime + " nor in ") + "a folder " + kSharedPortBase +
          "/ravelon-" + std::to_string(::geteuid()) + "-* of this user)";
  return ENOENT;
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

// Reads the listener's one-byte answer; 0 or an errno (ECONNRESET when the
// connection ended without one).
int ReceiveAnswer(int fd, uint8_t& answer) {
  ssize_t got = 0;
  do {
    got = ::recv(fd, &answer, 1, 0);
  } while (got < 0 && errno == EINTR);
  if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK ? ETIMEDOUT : errno;
  return got == 0 ? ECONNRESET : 0;
}

// What the listener's answer means for the message; "" when handed on.
std::string AnswerProblem(uint8_t answer, const std::string& path) {
  const std::string port = "the port at " + path;
  switch (answer) {
    case kAckHandedOn:
      return "";
    case kAckNotConnected:
      return port + " is not connected to an engine; the message was dropped";
    case kByeOtherUser:
      return port + " takes messages of its own user only";
    case kByeIdle:
      return port + " closed the connection, silent for " +
             std::to_string(kNamedPortIdleTimeoutMs / 1000) + " s, before the message was whole";
    case kByeMadeRoom:
      return port + " closed the connection to make room for a new one: all " +
             std::to_string(kMaxNamedPortConnections) +
             " of its connections were taken, and this one had been silent the longest";
    case kByeBadLength:
      return port + " refused the message's length";
    case kByePortClosed:
      return port + " stopped listening before it took the message";
    default:
      return port + " gave an unknown answer " + std::to_string(answer);
  }
}

}  // namespace

std::string DefaultNamedPortFolder() {
  const std::vector<std::string> folders = DefaultFolders();
  return folders.empty() ? "" : folders.front();
}

int32_t SendToNamedPort(const std::string& name, std::string_view bytes, std::string& error,
                        const std::string& folder) {
  error.clear();
  std::string path;
  if (const int32_t result = SendingPath(name, folder, path, error); result != 0) return result;
  if (bytes.size() > static_cast<size_t>(kMaxMessageBytes)) {
    error = "the message has " + std::to_string(bytes.size()) + " bytes, more than a port takes (" +
            std::to_string(kMaxMessageBytes) + ")";
    return -1;
  }

  const UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
  if (fd.get() < 0) {
    const int e = errno;
    error = "cannot make a socket: " + ErrnoText(e);
    return e;
  }
  const timeval timeout{kNamedPortSendTimeoutMs / 1000, kNamedPortSendTimeoutMs % 1000 * 1000};
  ::setsockopt(fd.get(), SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout);
  ::setsockopt(fd.get(), SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
  if (int e = ConnectToSocket(fd.get(), path); e != 0) {
    if (e == EAGAIN) e = ETIMEDOUT;
    error = e == ENOENT || e == ECONNREFUSED ? "no port listens as \"" + name + "\" (" + path + ")"
                                             : "cannot connect to " + path + ": " + ErrnoText(e);
    return e;
  }

  const auto prefix = IpcFraming::LengthPrefix(static_cast<uint32_t>(bytes.size()));
  int e = SendAll(fd.get(), std::string_view(prefix.data(), prefix.size()));
  if (e == 0) e = SendAll(fd.get(), bytes);
  // A listener that ends the connection, even while the message is still
  // going out, first says why in its last byte.
  if (e == 0 || e == EPIPE || e == ECONNRESET) {
    uint8_t answer = 0;
    const int received = ReceiveAnswer(fd.get(), answer);
    if (received == 0) {
      error = AnswerProblem(answer, path);
      if (error.empty()) return 0;
      const bool ended = answer > kAckNotConnected && answer <= kByePortClosed;
      return !ended ? -1 : e != 0 ? e : ECONNRESET;
    }
    if (e == 0) e = received;
  }
  if (e == EPIPE || e == ECONNRESET) {
    error = "the port at " + path +
            " closed the connection without taking the message, and without saying why";
    return e;
  }
  error = "cannot send to " + path + ": " + ErrnoText(e);
  return e;
}

}  // namespace ravelon
