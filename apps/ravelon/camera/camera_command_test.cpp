// The `ravelon camera` binary: bad values end it at once with a message and
// a non-zero status; a good one prints its port first and stops cleanly on
// SIGTERM.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "camera/test_camera.h"
#include "tests/command_process.h"

namespace ravelon::cli {
namespace {

using namespace std::chrono_literals;

TEST(CameraCommandTest, RefusesBadValues) {
  const TestCamera occupant({.port = 0});  // holds a port, so that listening on it fails
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
      {"--single --header none", 1, "act on streams"},
      {"--chunked --header none", 1, "needs a response head"},
      {"--flood --fault stall", 1, "--flood sends plain JPEG parts"},
      {"--flood --keep-alive 5", 1, "--flood sends plain JPEG parts"},
      {"--header html", 2, "--header"},
      {"--auth ntlm", 2, "--auth"},
      {"--reply 500", 2, "--reply"},
      {"--chunk-size -1", 2, "--chunk-size"},
      {"--port " + std::to_string(occupant.Port()), 1, "in use"},
  };
  for (const auto& [arguments, status, message] : cases) {
    // --duration ends a command that wrongly accepted its values.
    const auto run = testing::RunCommand(testing::Words("camera --duration 0.1 " + arguments), 10s);
    EXPECT_EQ(run.status, status) << arguments;
    EXPECT_NE(run.err.find(message), std::string::npos) << arguments << ": " << run.err;
  }
}

TEST(CameraCommandTest, PrintsItsPortFirstAndStopsOnSignal) {
  testing::CommandProcess camera({"camera", "--port", "0"});
  ASSERT_TRUE(camera.WaitForOutput("\n", 10s)) << camera.Out();
  int port = 0;
  EXPECT_TRUE(std::sscanf(camera.Out().c_str(), "listening on 127.0.0.1:%d\n", &port) == 1 &&
              port > 0)
      << camera.Out();
  camera.Signal(SIGTERM);
  const auto ended = camera.Wait(10s);
  EXPECT_EQ(ended.status, 0) << ended.err;
  EXPECT_EQ(ended.out.substr(ended.out.find('\n') + 1), "served 0 frames; connections: 0\n");
}

}  // namespace
}  // namespace ravelon::cli
