// The built `ravelon` binary (RAVELON_COMMAND), or a peer tool such as
// ffmpeg, run from end-to-end tests: to its end within a deadline, or in the
// background to be signalled. Its output goes to files of a folder of its
// own, so a chatty command never blocks. Owned by one test; one thread.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <functional>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "support/temp_folder.h"

extern char** environ;

namespace ravelon::cli::testing {

struct CommandResult {
  int status = -1;  // the exit status; -1 when killed at the deadline or by a signal
  std::string out;
  std::string err;
};

class CommandProcess {
 public:
  // Starts `program` (the built `ravelon` unless given; others are looked up
  // on PATH) with `args`, in `folder` unless it is empty, reading the file
  // `input`. When it cannot start, Started() is false and Wait() gives
  // status -1 with the reason in `err`.
  explicit CommandProcess(std::vector<std::string> args, const std::string& folder = "",
                          const char* program = RAVELON_COMMAND,
                          const std::string& input = "/dev/null") {
    args.insert(args.begin(), program);
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const std::string out = output_.Path("out"), err = output_.Path("err");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDIN_FILENO, input.c_str(), O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, out.c_str(), O_WRONLY | O_CREAT,
                                     0600);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, err.c_str(), O_WRONLY | O_CREAT,
                                     0600);
    if (!folder.empty()) posix_spawn_file_actions_addchdir_np(&actions, folder.c_str());
    if (const int error = posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ)) {
      pid_ = -1;
      failure_ = "cannot start " + args[0] + ": " + std::strerror(error);
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  ~CommandProcess() { Kill(); }

  bool Started() const { return failure_.empty(); }
  void Signal(int number) {
    if (pid_ > 0) ::kill(pid_, number);
  }
  std::string Out() const { return output_.Read("out"); }

  // Waits until standard output holds `text` or `limit` passes.
  bool WaitForOutput(const std::string& text, std::chrono::milliseconds limit) {
    return Until([&] { return Out().find(text) != std::string::npos; }, limit);
  }

  // Waits for the end within `limit`, then kills the process.
  CommandResult Wait(std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended =
        pid_ > 0 && Until([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
    if (!ended) Kill();
    pid_ = -1;
    return {ended && WIFEXITED(status) ? WEXITSTATUS(status) : -1, Out(),
            failure_ + output_.Read("err")};
  }

 private:
  void Kill() {
    if (pid_ <= 0) return;
    Signal(SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }

  // Checks `done` every 10 ms until it holds (true) or `limit` passes.
  static bool Until(const std::function<bool()>& done, std::chrono::milliseconds limit) {
    const auto end = std::chrono::steady_clock::now() + limit;
    while (!done()) {
      if (std::chrono::steady_clock::now() >= end) return false;
      ::poll(nullptr, 0, 10);
    }
    return true;
  }

  ravelon::testing::TempFolder output_;
  pid_t pid_ = -1;
  std::string failure_;
};

// The words of `line`, split at blanks: arguments for tables whose
// arguments hold no blanks themselves.
inline std::vector<std::string> Words(const std::string& line) {
  std::istringstream words(line);
  return {std::istream_iterator<std::string>(words), {}};
}

inline CommandResult RunCommand(std::vector<std::string> args,
                                std::chrono::milliseconds limit = std::chrono::seconds(60),
                                const std::string& folder = "",
                                const std::string& input = "/dev/null") {
  return CommandProcess(std::move(args), folder, RAVELON_COMMAND, input).Wait(limit);
}

}  // namespace ravelon::cli::testing
