// The `ravelon camera` binary: bad values end it at once with a message and
// a non-zero status; a good one prints its port first and stops cleanly on
// SIGTERM.
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <string>

#include "camera/test_camera.h"

extern char** environ;

namespace ravelon::cli {
namespace {

// Reads from `fd` until the peer closes or `limit` passes.
std::string ReadToEnd(int fd, std::chrono::seconds limit) {
  const auto give_up = std::chrono::steady_clock::now() + limit;
  std::string got;
  char buffer[4096];
  while (std::chrono::steady_clock::now() < give_up) {
    pollfd ready{fd, POLLIN, 0};
    if (poll(&ready, 1, 100) <= 0) continue;
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    got.append(buffer, static_cast<size_t>(n));
  }
  return got;
}

TEST(CameraCommandTest, RefusesBadValues) {
  CameraOptions taken;
  taken.port = 0;
  const TestCamera occupant(taken);  // holds a port, so that listening on it fails
  const std::tuple<std::string, int, const char*> cases[] = {
      {"--size 0x0", 1, "out of bounds"},
      {"--size 4097x480", 1, "out of bounds"},
      {"--size 640", 2, "WxH"},
      {"--fps 0", 2, "--fps"},
      {"--fps nan", 1, "frame rate"},
      {"--fault melt", 2, "--fault"},
      {"--port 70000", 2, "--port"},
      {"--address camera.local", 1, "not an IP address"},
      {"--single --fault stall", 1, "fault modes act on streams"},
      {"--port " + std::to_string(occupant.Port()), 1, "in use"},
  };
  for (const auto& [arguments, status, message] : cases) {
    // --duration ends a command that wrongly accepted its values.
    const std::string line = std::string(RAVELON_COMMAND) + " camera --duration 0.1 " + arguments;
    FILE* pipe = popen((line + " 2>&1").c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    const std::string output = ReadToEnd(fileno(pipe), std::chrono::seconds(10));
    const int exit_status = pclose(pipe);
    EXPECT_EQ(WIFEXITED(exit_status) ? WEXITSTATUS(exit_status) : -1, status) << arguments;
    EXPECT_NE(output.find(message), std::string::npos) << arguments << ": " << output;
  }
}

TEST(CameraCommandTest, PrintsItsPortFirstAndStopsOnSignal) {
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  char* argv[] = {const_cast<char*>(RAVELON_COMMAND), const_cast<char*>("camera"),
                  const_cast<char*>("--port"), const_cast<char*>("0"), nullptr};
  pid_t pid = 0;
  ASSERT_EQ(posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);

  std::string first;
  for (char c = 0; first.find('\n') == std::string::npos && read(out[0], &c, 1) == 1;) first += c;
  int port = 0;
  EXPECT_EQ(std::sscanf(first.c_str(), "listening on 127.0.0.1:%d\n", &port), 1) << first;
  EXPECT_GT(port, 0);
  kill(pid, SIGTERM);
  EXPECT_EQ(ReadToEnd(out[0], std::chrono::seconds(10)), "served 0 frames; connections: 0\n");
  close(out[0]);
  int status = -1;
  const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(10);
  while (waitpid(pid, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() >= give_up) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      break;
    }
    usleep(10'000);  // polls for the exit, bounded above
  }
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

}  // namespace
}  // namespace ravelon::cli
