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
#include <regex>
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

// Checks `done` every `step` until it holds (true) or `limit` passes.
inline bool PollUntil(const std::function<bool()>& done, std::chrono::milliseconds limit,
                      std::chrono::milliseconds step = std::chrono::milliseconds(10)) {
  const auto end = std::chrono::steady_clock::now() + limit;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    ::poll(nullptr, 0, static_cast<int>(step.count()));
  }
  return true;
}

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
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    for (const auto& [fd, path, flags] : {std::tuple{STDIN_FILENO, input, O_RDONLY},
                                          {STDOUT_FILENO, output_.Path("out"), O_WRONLY | O_CREAT},
                                          {STDERR_FILENO, output_.Path("err"), O_WRONLY | O_CREAT}})
      posix_spawn_file_actions_addopen(&actions, fd, path.c_str(), flags, 0600);
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
    return PollUntil([&] { return Out().find(text) != std::string::npos; }, limit);
  }

  // Waits for the end within `limit`, then kills the process.
  CommandResult Wait(std::chrono::milliseconds limit) {
    int status = 0;
    const bool ended =
        pid_ > 0 && PollUntil([&] { return ::waitpid(pid_, &status, WNOHANG) == pid_; }, limit);
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

// Adds source `name`, at 127.0.0.1:`port` asking for `url` and saving every frame into `store`,
// to `registry` with `ravelon config add-source` and the options `more`; "" once it is added,
// else what the command said.
inline std::string AddSource(const std::string& registry, const std::string& name, int port,
                             const std::string& url, const std::string& store,
                             const std::vector<std::string>& more = {}) {
  std::vector<std::string> args = {"config",     "add-source", name,
                                   "--registry", registry,     "--address",
                                   "127.0.0.1",  "--port",     std::to_string(port),
                                   "--url",      url,          "--store",
                                   store,        "--save",     "--save-interval",
                                   "10"};
  args.insert(args.end(), more.begin(), more.end());
  const CommandResult added = RunCommand(std::move(args));
  return added.status == 0 ? "" : "status " + std::to_string(added.status) + ": " + added.err;
}

// The port of the web view `recorder` says it serves, once it says so within 20 s; 0 if not.
inline int WebViewPort(const CommandProcess& recorder) {
  const std::regex line(R"(Web view on http://127\.0\.0\.1:([0-9]+)/)");
  std::smatch port;
  std::string out;
  const auto said = [&] { return std::regex_search(out = recorder.Out(), port, line); };
  return PollUntil(said, std::chrono::seconds(20)) ? std::stoi(port[1]) : 0;
}

// Waits up to 20 s until a status line of `recorder` counts at least `frames`
// frames of `source` received.
inline bool WaitForReceived(const CommandProcess& recorder, const std::string& source, int frames) {
  const std::regex count("\\[" + source + "\\][^\n]* ([0-9]+) received");
  const auto enough = [&] {
    const std::string out = recorder.Out();
    for (std::sregex_iterator m(out.begin(), out.end(), count), end; m != end; ++m)
      if (std::stoi((*m)[1]) >= frames) return true;
    return false;
  };
  return PollUntil(enough, std::chrono::seconds(20));
}

}  // namespace ravelon::cli::testing
