// The built `ravelon` binary (RAVELON_COMMAND), or a peer tool such as
// ffmpeg, run from end-to-end tests: to its end within a deadline, or in the
// background to be signalled. Output is collected from both pipes as it
// comes, so a chatty command never blocks. Owned by one test; one thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

extern char** environ;

namespace ravelon::cli::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when killed at the deadline or by a signal
  std::string out;
  std::string err;
};

class CommandProcess {
 public:
  // Starts the built `ravelon` with `args`, in `folder` unless it is empty.
  explicit CommandProcess(std::vector<std::string> args, const std::string& folder = "")
      : CommandProcess(RAVELON_COMMAND, std::move(args), folder) {}

  // Starts `program` (looked up on PATH) with `args`, in `folder` unless it
  // is empty; with `own_group`, in a process group of its own, which signals
  // and kills then reach whole. When it cannot start, Started() is false and
  // Wait() gives status -1 with the reason in `err`.
  CommandProcess(const char* program, std::vector<std::string> args, const std::string& folder,
                 bool own_group = false)
      : group_(own_group) {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    int out[2], err[2];
    if (::pipe2(out, O_CLOEXEC) != 0 || ::pipe2(err, O_CLOEXEC) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, "/dev/null", O_RDONLY, 0);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    posix_spawnattr_t attributes;
    posix_spawnattr_init(&attributes);
    if (own_group) {
      posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETPGROUP);
      posix_spawnattr_setpgroup(&attributes, 0);
    }
    if (const int error =
            posix_spawnp(&pid_, argv[0], &actions, &attributes, argv.data(), environ)) {
      pid_ = -1;
      result_.err = "cannot start " + args[0] + ": " + std::strerror(error);
    }
    started_ = pid_ > 0;
    posix_spawnattr_destroy(&attributes);
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    ::close(err[1]);
    fds_[0] = out[0];
    fds_[1] = err[0];
  }
  ~CommandProcess() {
    if (pid_ > 0) {
      Signal(SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    for (int fd : fds_)
      if (fd >= 0) ::close(fd);
  }

  bool Started() const { return started_; }
  void Signal(int number) {
    if (pid_ > 0) ::kill(group_ ? -pid_ : pid_, number);
  }
  const std::string& Out() const { return result_.out; }

  // Reads output until standard output holds `text` or `limit` passes.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (result_.out.find(text) == std::string::npos) {
      if (std::chrono::steady_clock::now() >= end || !ReadSome(100)) break;
    }
    return result_.out.find(text) != std::string::npos;
  }

  // Waits for the end within `limit`, then kills the process.
  CommandResult Wait(std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < end && ReadSome(100)) {
    }
    // The pipes close a moment before the process has ended.
    int status = 0;
    bool ended = false;
    while (pid_ > 0 && !(ended = ::waitpid(pid_, &status, WNOHANG) == pid_) &&
           std::chrono::steady_clock::now() < end) {
      ::poll(nullptr, 0, 10);
    }
    if (pid_ > 0 && !ended) {
      Signal(SIGKILL);
      ::waitpid(pid_, &status, 0);
    }
    if (pid_ > 0) result_.status = ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    pid_ = -1;
    return result_;
  }

 private:
  // Reads what is ready within `ms`; false once both pipes have closed.
  bool ReadSome(int ms) {
    pollfd ready[2] = {{fds_[0], POLLIN, 0}, {fds_[1], POLLIN, 0}};
    if (fds_[0] < 0 && fds_[1] < 0) return false;
    if (::poll(ready, 2, ms) <= 0) return true;
    std::string* into[2] = {&result_.out, &result_.err};
    for (int i = 0; i < 2; ++i) {
      if (ready[i].revents == 0) continue;
      char buffer[65536];
      const ssize_t n = ::read(fds_[i], buffer, sizeof buffer);
      if (n > 0) {
        into[i]->append(buffer, static_cast<size_t>(n));
      } else {
        ::close(fds_[i]);
        fds_[i] = -1;
      }
    }
    return true;
  }

  pid_t pid_ = -1;
  bool group_ = false;
  bool started_ = false;
  int fds_[2] = {-1, -1};
  CommandResult result_;
};

// The words of `line`, split at blanks: arguments for tables whose
// arguments hold no blanks themselves.
inline std::vector<std::string> Words(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), {}};
}

inline CommandResult RunCommand(std::vector<std::string> args,
                                std::chrono::milliseconds limit = std::chrono::seconds(60),
                                const std::string& folder = "") {
  return CommandProcess(std::move(args), folder).Wait(limit);
}

}  // namespace ravelon::cli::testing
